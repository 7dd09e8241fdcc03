#include "ui/popup_menu.h"

#include "resources/resource.h"
#include "ui/guarded.h"
#include "ui/ui_host.h"

#include <algorithm>

namespace {

HMENU gMenuResource = nullptr; // kept only so that destroying it frees the popup too
HMENU gPopupMenu = nullptr;
constexpr char kDialogCaption[] = "Tralmo";

void handleAboutBox(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        setNoModalDialogOpen(0);
        centreOnHostMonitor(window);
        SetWindowTextA(window, kDialogCaption);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            setNoModalDialogOpen(1);
            EndDialog(window, 0);
        }
        break;
    default:
        break;
    }
}

} // namespace

void loadPopupMenu() {
    destroyPopupMenu();
    gMenuResource = LoadMenuA(uiModule(), POPMENU_NAME);
    gPopupMenu = GetSubMenu(gMenuResource, 0);
}

void destroyPopupMenu() {
    if (gMenuResource != nullptr)
        DestroyMenu(gMenuResource);
    gMenuResource = nullptr;
    gPopupMenu = nullptr;
}

void showPopupMenu() {
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(uiHostWindow());
    {
        const ModalLoop menu;
        TrackPopupMenu(gPopupMenu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, uiHostWindow(), nullptr);
    }
    // Without a message after it, a menu tracked for a tray icon does not
    // close when the user clicks elsewhere.
    PostMessageA(uiHostWindow(), WM_NULL, 0, 0);
}

void setMenuCheck(UINT command, int on) {
    CheckMenuItem(gPopupMenu, command, MF_BYCOMMAND | (on != 0 ? MF_CHECKED : MF_UNCHECKED));
}

int showAboutBox() {
    runModalDialog(IDD_ABOUT, uiHostWindow(), handleAboutBox);
    // Also when the box ended some other way (quit, or its owner destroyed).
    setNoModalDialogOpen(1);
    return 0;
}

namespace {

RECT workAreaOf(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor == nullptr || GetMonitorInfoA(monitor, &info) == 0)
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &info.rcWork, 0);
    return info.rcWork;
}

SIZE frameSize(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

// Within [low, high - length], the low end winning when it does not fit.
LONG keptWithin(LONG start, LONG length, LONG low, LONG high) {
    return std::max(low, std::min(start, high - length));
}

} // namespace

RECT workAreaAt(POINT point) {
    return workAreaOf(MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST));
}

void placeInside(HWND window, HWND zOrder, int left, int top, const RECT& area) {
    const SIZE size = frameSize(window);
    SetWindowPos(window, zOrder, keptWithin(left, size.cx, area.left, area.right),
                 keptWithin(top, size.cy, area.top, area.bottom), 0, 0, SWP_NOSIZE);
}

void centreOnHostMonitor(HWND window) {
    const RECT area = workAreaOf(MonitorFromWindow(uiHostWindow(), MONITOR_DEFAULTTONEAREST));
    const SIZE size = frameSize(window);
    placeInside(window, HWND_TOP, area.left + (area.right - area.left - size.cx) / 2,
                area.top + (area.bottom - area.top - size.cy) / 2, area);
}
