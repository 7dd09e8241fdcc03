// Notification-area icons: the main icon and five transport buttons.
#pragma once
#include <windows.h>

constexpr UINT kMainTrayCallback = 10101;
constexpr UINT kFirstButtonCallback = 10102; // button i uses this + i
constexpr DWORD kNotifyIconDataSize = 504;   // the form that ends with the item GUID
constexpr int kTrayTipMaxChars = 127;

bool isXpOrLater();
void addMainTrayIcon();
void removeMainTrayIcon();
void setMainTrayTip(const char* text);
void initTrayButtons();
void removeTrayButtons();
void refreshTrayButtons();
void toggleTrayButton(unsigned index);
void toggleTrayButtonByCheckBox(int controlId);

// Whether `message` is one of the tray icons' callback messages.
bool isTrayCallback(UINT message);
// Carries out a click on a tray icon (the callback's lParam is the mouse message).
void onTrayCallback(UINT message, LPARAM mouseMessage);
