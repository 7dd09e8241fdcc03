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
// The timer on the host window that tries failed adds again.
constexpr UINT_PTR kTrayRetryTimerId = 10110;

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
// message (registered at init), and sends it again after a DPI change; the
// icons that were shown, or were to be, go in again at the current size.
void registerTaskbarCreated();
bool isTaskbarCreated(UINT message);
UINT taskbarCreatedMessage();
void readdTrayIcons();

// At log-on the shell may not take icons yet: an icon whose add failed is
// tried again on each tick of the retry timer, every 2 s for a minute.
void retryTrayIcons();
void stopTrayRetry();
// Quit, after the icons were removed: the retry ends and the images go.
void releaseTrayResources();

// Whether `message` is one of the tray icons' callback messages.
bool isTrayCallback(UINT message);
// Carries out a click on a tray icon (the callback's lParam is the mouse message).
void onTrayCallback(UINT message, LPARAM mouseMessage);
