#include "ui/tray.h"

#include "host/host_api.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/popup_menu.h"
#include "ui/ui_host.h"
#include "ui/volume_popup.h"

#include <shellapi.h>

#include <array>
#include <cstddef>

namespace {

static_assert(sizeof(NOTIFYICONDATAA) >= kNotifyIconDataSize,
              "the record must hold the form the shell is told about");
static_assert(offsetof(NOTIFYICONDATAA, guidItem) == kNotifyIconDataSizeWindows2000,
              "Windows 2000's form ends where the item GUID begins");

constexpr char kTaskbarCreatedName[] = "TaskbarCreated";

constexpr UINT kTrayFlagsAll = NIF_MESSAGE | NIF_ICON | NIF_TIP;
constexpr char kMainTip[] = "Tralmo";
constexpr UINT kMainIconId = 0;

// Mouse messages the shell reports in a tray callback's lParam.
constexpr LPARAM kMouseLeftDown = WM_LBUTTONDOWN;
constexpr LPARAM kMouseLeftDouble = WM_LBUTTONDBLCLK;
constexpr LPARAM kMouseRightUp = WM_RBUTTONUP;

struct MainTrayIcon {
    NOTIFYICONDATAA data;
    int shown;
};

struct TrayButton {
    NOTIFYICONDATAA data;
    const char* caption;
    unsigned hostCommand;
};

MainTrayIcon gMainIcon{};
UINT gTaskbarCreated = 0;
std::array<TrayButton, kTrayButtonCount> gButtons = {{
    {{}, "Previous Track", host::kCommandPrevious},
    {{}, "Play", host::kCommandPlay},
    {{}, "Pause", host::kCommandPause},
    {{}, "Stop", host::kCommandStop},
    {{}, "Next Track", host::kCommandNext},
}};

void copyTip(NOTIFYICONDATAA& data, const char* text) {
    lstrcpynA(data.szTip, text, kTrayTipMaxChars + 1);
}

DWORD notifyIconDataSize() {
    return isXpOrLater() ? kNotifyIconDataSize : kNotifyIconDataSizeWindows2000;
}

void fillIconData(NOTIFYICONDATAA& data, UINT id, UINT callback, int iconResource,
                  const char* tip) {
    data.cbSize = notifyIconDataSize();
    data.hWnd = uiHostWindow();
    data.uID = id;
    data.uFlags = kTrayFlagsAll;
    data.uCallbackMessage = callback;
    data.hIcon = LoadIconA(uiModule(), MAKEINTRESOURCEA(iconResource));
    copyTip(data, tip);
}

unsigned char& buttonShown(std::size_t index) {
    return settings().buttonShown[index];
}

void addButtonIfShown(std::size_t index) {
    if (buttonShown(index) != 0)
        Shell_NotifyIconA(NIM_ADD, &gButtons[index].data);
}

// XP and later lay the icons out right to left, so add them last first.
void addShownButtons() {
    if (isXpOrLater()) {
        for (std::size_t i = gButtons.size(); i-- > 0;)
            addButtonIfShown(i);
    } else {
        for (std::size_t i = 0; i < gButtons.size(); ++i)
            addButtonIfShown(i);
    }
}

void toggleDoubleClickPause() {
    const HWND host = uiHostWindow();
    const LRESULT state = SendMessageA(host, host::kWmUser, 0, host::kQueryPlayState);
    const unsigned command = state != 0 ? host::kCommandPause : host::kCommandPlay;
    SendMessageA(host, WM_COMMAND, command, 0);
}

void onMainIconClick(LPARAM mouseMessage) {
    switch (mouseMessage) {
    case kMouseLeftDouble:
        if (noModalDialogOpen() != 0)
            toggleDoubleClickPause();
        break;
    case kMouseRightUp:
        if (noModalDialogOpen() != 0)
            showPopupMenu();
        break;
    case kMouseLeftDown:
        showVolumePopup();
        break;
    default:
        break;
    }
}

void onButtonClick(std::size_t index, LPARAM mouseMessage) {
    if (mouseMessage == kMouseLeftDown)
        SendMessageA(uiHostWindow(), WM_COMMAND, gButtons[index].hostCommand, 0);
}

} // namespace

bool isWindowsAtLeast(DWORD major, DWORD minor) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return version.dwMajorVersion > major ||
           (version.dwMajorVersion == major && version.dwMinorVersion >= minor);
}

bool isXpOrLater() {
    constexpr DWORD kXpMajor = 5;
    constexpr DWORD kXpMinor = 1;
    return isWindowsAtLeast(kXpMajor, kXpMinor);
}

void addMainTrayIcon() {
    if (gMainIcon.shown == 1)
        return;
    const int icon = isXpOrLater() ? IDI_MAIN_XP : IDI_MAIN_OLD;
    fillIconData(gMainIcon.data, kMainIconId, kMainTrayCallback, icon, kMainTip);
    Shell_NotifyIconA(NIM_ADD, &gMainIcon.data);
    gMainIcon.shown = 1;
}

void removeMainTrayIcon() {
    if (gMainIcon.shown == 0)
        return;
    Shell_NotifyIconA(NIM_DELETE, &gMainIcon.data);
    gMainIcon.shown = 0;
}

void setMainTrayTip(const char* text) {
    if (gMainIcon.shown == 0)
        return;
    gMainIcon.data.uFlags = NIF_TIP;
    copyTip(gMainIcon.data, text);
    Shell_NotifyIconA(NIM_MODIFY, &gMainIcon.data);
}

void initTrayButtons() {
    const int firstIcon = isXpOrLater() ? IDI_BUTTON_XP_FIRST : IDI_BUTTON_OLD_FIRST;
    for (std::size_t i = 0; i < gButtons.size(); ++i) {
        const int offset = static_cast<int>(i);
        fillIconData(gButtons[i].data, static_cast<UINT>(offset + 1), kFirstButtonCallback + offset,
                     firstIcon + offset, gButtons[i].caption);
    }
    refreshTrayButtons();
}

void removeTrayButtons() {
    for (TrayButton& button : gButtons)
        Shell_NotifyIconA(NIM_DELETE, &button.data);
}

void refreshTrayButtons() {
    removeTrayButtons();
    addShownButtons();
}

void toggleTrayButton(unsigned index) {
    // After quit the icons are gone for good: a box still open adds none.
    if (index >= gButtons.size() || uiShutDown())
        return;
    buttonShown(index) = buttonShown(index) == 0 ? 1 : 0;
    refreshTrayButtons();
}

void toggleTrayButtonByCheckBox(int controlId) {
    for (std::size_t i = 0; i < gButtons.size(); ++i) {
        if (controlId == IDC_BUTTON_CHECK_FIRST + static_cast<int>(i)) {
            toggleTrayButton(static_cast<unsigned>(i));
            return;
        }
    }
}

void registerTaskbarCreated() {
    gTaskbarCreated = RegisterWindowMessageA(kTaskbarCreatedName);
}

UINT taskbarCreatedMessage() {
    return gTaskbarCreated;
}

bool isTaskbarCreated(UINT message) {
    return gTaskbarCreated != 0 && message == gTaskbarCreated;
}

void readdTrayIcons() {
    if (uiShutDown())
        return;
    if (gMainIcon.shown != 0) {
        // The record keeps the tooltip of the last update; the flags of that
        // update (the tip alone) would add an icon without its picture.
        gMainIcon.data.uFlags = kTrayFlagsAll;
        Shell_NotifyIconA(NIM_ADD, &gMainIcon.data);
    }
    addShownButtons();
}

bool isTrayCallback(UINT message) {
    return message >= kMainTrayCallback && message < kFirstButtonCallback + kTrayButtonCount;
}

void onTrayCallback(UINT message, LPARAM mouseMessage) {
    if (message == kMainTrayCallback)
        onMainIconClick(mouseMessage);
    else if (isTrayCallback(message))
        onButtonClick(message - kFirstButtonCallback, mouseMessage);
}
