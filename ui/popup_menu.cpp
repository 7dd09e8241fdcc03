#include "ui/popup_menu.h"

#include "resources/resource.h"
#include "ui/guarded.h"
#include "ui/ui_host.h"

namespace {

HMENU gMenuResource = nullptr; // kept only so that destroying it frees the popup too
HMENU gPopupMenu = nullptr;
constexpr char kDialogCaption[] = "Tralmo";

void handleAboutBox(HWND window, UINT message, WPARAM wParam) {
    switch (message) {
    case WM_INITDIALOG:
        dialogOpened(window);
        setNoModalDialogOpen(0);
        centreOnDesktop(window);
        SetWindowTextA(window, kDialogCaption);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            setNoModalDialogOpen(1);
            EndDialog(window, 0);
        }
        break;
    case WM_DESTROY:
        dialogClosed(window);
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK aboutBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    guarded([&] { handleAboutBox(window, message, wParam); });
    return 0;
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
    {
        const ModalLoop box;
        DialogBoxParamA(uiModule(), MAKEINTRESOURCEA(IDD_ABOUT), uiHostWindow(), aboutBoxProc, 0);
    }
    // Also when the box ended some other way (quit, or its owner destroyed).
    setNoModalDialogOpen(1);
    return 0;
}

void centreOnDesktop(HWND window) {
    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    RECT dialog{};
    GetWindowRect(window, &dialog);
    OffsetRect(&dialog, -dialog.left, -dialog.top);
    RECT room{};
    CopyRect(&room, &desktop);
    OffsetRect(&room, -room.left, -room.top);
    OffsetRect(&room, -dialog.right, -dialog.bottom);
    // Signed halves truncate toward zero: an oversized dialog overhangs both sides.
    SetWindowPos(window, HWND_TOP, desktop.left + room.right / 2, desktop.top + room.bottom / 2, 0,
                 0, SWP_NOSIZE);
}
