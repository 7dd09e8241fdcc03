// Notification-area icons: the main icon and five transport buttons.
#pragma once
#include <windows.h>

constexpr UINT kMainTrayCallback = 10101;
constexpr UINT kFirstButtonCallback = 10102; // button i uses this + i
// The notify-icon record's size: the form that ends with the item GUID, which
// the shell knows from Windows XP on; Windows 2000's shell knows the form
// before it and would read a larger record as the first, 64-character one.
constexpr DWORD kNotifyIconDataSize = 504;
constexpr DWORD kNotifyIconDataSizeWindows2000 = 488;
constexpr int kTrayTipMaxChars = 127;

bool isXpOrLater();
// Whether Windows reports at least this version.
bool isWindowsAtLeast(DWORD major, DWORD minor);
void addMainTrayIcon();
void removeMainTrayIcon();
void setMainTrayTip(const char* text);
void initTrayButtons();
void removeTrayButtons();
void refreshTrayButtons();
void toggleTrayButton(unsigned index);
void toggleTrayButtonByCheckBox(int controlId);

// The shell announces a restarted notification area with this registered
// message (registered at init); the icons that were shown go in again.
void registerTaskbarCreated();
bool isTaskbarCreated(UINT message);
UINT taskbarCreatedMessage();
void readdTrayIcons();

// Whether `message` is one of the tray icons' callback messages.
bool isTrayCallback(UINT message);
// Carries out a click on a tray icon (the callback's lParam is the mouse message).
void onTrayCallback(UINT message, LPARAM mouseMessage);
