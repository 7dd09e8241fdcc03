// The tray icon's popup menu, the about box, and dialog placement.
#pragma once
#include <windows.h>

void loadPopupMenu();
void destroyPopupMenu();
void showPopupMenu();
void setMenuCheck(UINT command, int on);

int showAboutBox();
void centreOnDesktop(HWND window);
