// The tray icon's popup menu, the about box, and dialog placement.
#pragma once
#include <windows.h>

void loadPopupMenu();
void destroyPopupMenu();
void showPopupMenu();
void setMenuCheck(UINT command, int on);

int showAboutBox();

// The work area (the monitor without its taskbars) of the monitor under
// `point`, or of the one nearest to it.
RECT workAreaAt(POINT point);
// Moves `window` so that its frame lies in `area`, as near to `left`, `top`
// as that allows, and to `zOrder`; a window larger than the area keeps its
// top-left corner in it, so that its caption stays within reach.
void placeInside(HWND window, HWND zOrder, int left, int top, const RECT& area);
// Centres a dialog in the work area of the host window's monitor.
void centreOnHostMonitor(HWND window);
