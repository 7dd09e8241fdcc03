// Records the system calls the loaded plug-in makes, by patching its import
// table, and lets a test stand in for the few that would need a person (the
// popup menu's tracking, the message box) or a particular system (version,
// cursor, wave-out volume).
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct ApiCall {
    std::string function;
    std::vector<DWORD_PTR> args;
    std::string text; // the call's text argument, where it has one
    DWORD_PTR result = 0;
    NOTIFYICONDATAA icon{};         // Shell_NotifyIconA's record, copied at the call
    bool wParamWindowAlive = false; // SendMessageTimeoutA: wParam named a live window
};

void startRecordingApi(HMODULE plugin);
void clearRecordedCalls();
std::vector<ApiCall> recordedCalls();
// Only the calls to these functions, in order.
std::vector<ApiCall> recordedCalls(const std::vector<std::string>& functions);
std::vector<std::string> recordedFunctionNames();
// SendMessageTimeoutA calls of the plug-in's that have not returned yet.
long sendsInFlight();

// Stand-ins; each resets with startRecordingApi.
void fakeWindowsVersion(DWORD major, DWORD minor);
void fakeCursorPosition(POINT point);
// Called instead of tracking the menu; the menu handle and position are recorded
// either way. Without a handler the real menu is tracked.
void onTrackPopupMenu(std::function<void(HMENU menu, int x, int y, HWND owner)> handler);
// Called instead of showing the message box; without one the real box shows.
void onMessageBox(std::function<void(HWND owner, const char* text, const char* caption)> handler);
void fakeWaveOutVolume(std::optional<DWORD> level); // nullopt: the call fails
// While set, every allocation the plug-in asks of the C runtime fails, as in a
// host that has run out of memory.
void failAllocations(bool fail);
