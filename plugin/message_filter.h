// An elevated player (run as administrator, Vista and later) hears nothing
// that Skype, a process of lower integrity, sends it unless the message is let
// through its message filter. Only what Skype needs gets through, and never
// WM_COPYDATA process-wide: the player takes commands through it.
#pragma once
#include <windows.h>

// ChangeWindowMessageFilterEx (Windows 7): one window at a time.
constexpr DWORD kFilterAllowOnWindow = 1; // MSGFLT_ALLOW
// ChangeWindowMessageFilter (Vista): the whole process.
constexpr DWORD kFilterAddForProcess = 1; // MSGFLT_ADD
inline constexpr char kUser32Name[] = "user32.dll";
inline constexpr char kFilterForWindowName[] = "ChangeWindowMessageFilterEx";
inline constexpr char kFilterForProcessName[] = "ChangeWindowMessageFilter";

// Lets Skype's attach message and notifications reach the link window, and
// the shell's TaskbarCreated reach the player's main window. On Vista only the
// two registered messages, process-wide: such a player publishes moods but
// hears no calls. Nothing is looked up or called before Vista.
void letSkypeThroughFilter(HWND link, UINT attachMessage, HWND host, UINT taskbarCreated);
