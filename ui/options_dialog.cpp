#include "ui/options_dialog.h"

#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/guarded.h"
#include "ui/popup_menu.h"
#include "ui/tray.h"
#include "ui/ui_host.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr char kDialogCaption[] = "Tralmo";
constexpr char kDialogDefaultTemplate[] = "[%title%] [%state%]";
// As many characters as a read of the edit or the ini file gives back.
constexpr WPARAM kEditLimit = kIniTextMaxChars;

struct SwitchBox {
    int controlId;
    int Settings::*field;
};
// The boxes OK takes over after the tray box, in this order.
constexpr SwitchBox kLaterSwitches[] = {
    {IDC_ALLOW_HTML, &Settings::allowHtml},
    {IDC_STOP_ON_CALL, &Settings::stopOnCall},
    {IDC_SET_MOOD_ON_EXIT, &Settings::setMoodOnExit},
};
constexpr SwitchBox kAllSwitches[] = {
    {IDC_SHOW_TRAY_ICON, &Settings::showTrayIcon},
    {IDC_ALLOW_HTML, &Settings::allowHtml},
    {IDC_STOP_ON_CALL, &Settings::stopOnCall},
    {IDC_SET_MOOD_ON_EXIT, &Settings::setMoodOnExit},
};

std::string controlText(HWND control) {
    std::vector<char> buffer(kIniTextBufferSize, '\0');
    GetWindowTextA(control, buffer.data(), static_cast<int>(buffer.size()));
    buffer.back() = '\0';
    return buffer.data();
}

void fillEdit(HWND edit, const std::string& text) {
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(edit, EM_LIMITTEXT, kEditLimit, 0);
}

int boxChecked(HWND window, int controlId) {
    return SendDlgItemMessageA(window, controlId, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void enableExitMoodEdit(HWND window) {
    if (const HWND edit = GetDlgItem(window, IDC_EXIT_MOOD))
        EnableWindow(edit, settings().setMoodOnExit != 0);
}

void initialise(HWND window) {
    setNoModalDialogOpen(0);
    centreOnHostMonitor(window);
    SetWindowTextA(window, kDialogCaption);
    const IniFile iniFile = hostIniFile(uiHostWindow());
    if (const HWND edit = GetDlgItem(window, IDC_USER_STRING))
        fillEdit(edit, readIniText(iniFile, kKeyUserString, kDialogDefaultTemplate));
    for (const SwitchBox& box : kAllSwitches) {
        const HWND control = GetDlgItem(window, box.controlId);
        if (control != nullptr && settings().*box.field != 0)
            SendMessageA(control, BM_SETCHECK, BST_CHECKED, 0);
    }
    if (const HWND edit = GetDlgItem(window, IDC_EXIT_MOOD)) {
        fillEdit(edit, readIniText(iniFile, kKeyExitMood, ""));
        enableExitMoodEdit(window);
    }
}

void takeSetMoodOnExitBox(HWND window) {
    if (GetDlgItem(window, IDC_SET_MOOD_ON_EXIT) == nullptr || uiShutDown())
        return;
    settings().setMoodOnExit = boxChecked(window, IDC_SET_MOOD_ON_EXIT);
    enableExitMoodEdit(window);
}

void close(HWND window) {
    setNoModalDialogOpen(1);
    EndDialog(window, 0);
}

void acceptChanges(HWND window) {
    // Quit has saved the user's settings and cleared the switches: a dialog
    // still open then must leave no trace.
    if (uiShutDown()) {
        close(window);
        return;
    }
    if (const HWND edit = GetDlgItem(window, IDC_USER_STRING)) {
        const std::string text = controlText(edit);
        if (!text.empty())
            writeIniText(hostIniFile(uiHostWindow()), kKeyUserString, text);
    }
    if (GetDlgItem(window, IDC_SHOW_TRAY_ICON) != nullptr) {
        settings().showTrayIcon = boxChecked(window, IDC_SHOW_TRAY_ICON);
        if (settings().showTrayIcon != 0)
            addMainTrayIcon();
        else
            removeMainTrayIcon();
    }
    for (const SwitchBox& box : kLaterSwitches) {
        if (GetDlgItem(window, box.controlId) != nullptr)
            settings().*box.field = boxChecked(window, box.controlId);
    }
    if (const HWND edit = GetDlgItem(window, IDC_EXIT_MOOD)) {
        settings().exitMood = controlText(edit);
        writeIniText(hostIniFile(uiHostWindow()), kKeyExitMood, settings().exitMood);
    }
    saveSettings();
    close(window);
}

void handle(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        initialise(window);
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SET_MOOD_ON_EXIT:
            takeSetMoodOnExitBox(window);
            break;
        case IDOK:
            acceptChanges(window);
            break;
        case IDCANCEL:
            close(window);
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

} // namespace

void showOptionsDialog() {
    runModalDialog(IDD_OPTIONS, uiHostWindow(), handle);
    // Also when the dialog ended some other way (quit, or its owner destroyed).
    setNoModalDialogOpen(1);
}
