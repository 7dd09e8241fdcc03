#include "ui/tray.h"

#include "host/host_api.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/popup_menu.h"
#include "ui/tray_tip_sender.h"
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
constexpr UINT kRetryPeriodMs = 2000;
constexpr int kRetryTicks = 30; // a minute

// Mouse messages the shell reports in a tray callback's lParam.
constexpr LPARAM kMouseLeftDown = WM_LBUTTONDOWN;
constexpr LPARAM kMouseLeftDouble = WM_LBUTTONDBLCLK;
constexpr LPARAM kMouseRightUp = WM_RBUTTONUP;

// Hidden: not wanted. Pending: wanted, but the shell has not taken it yet.
// Added: the shell holds it; only then does it count as shown.
enum class IconState { Hidden, Pending, Added };

struct MainTrayIcon {
    NOTIFYICONDATAA data;
    int iconResource;
    IconState state;
};

struct TrayButton {
    NOTIFYICONDATAA data;
    const char* caption;
    unsigned hostCommand;
    int iconResource;
    bool added;
};

MainTrayIcon gMainIcon{};
UINT gTaskbarCreated = 0;
std::array<TrayButton, kTrayButtonCount> gButtons = {{
    {{}, "Previous Track", host::kCommandPrevious, 0, false},
    {{}, "Play", host::kCommandPlay, 0, false},
    {{}, "Pause", host::kCommandPause, 0, false},
    {{}, "Stop", host::kCommandStop, 0, false},
    {{}, "Next Track", host::kCommandNext, 0, false},
}};
int gRetryTicksLeft = 0;
bool gRetryTimerRunning = false;

void copyTip(NOTIFYICONDATAA& data, const char* text) {
    lstrcpynA(data.szTip, text, kTrayTipMaxChars + 1);
}

DWORD notifyIconDataSize() {
    return isXpOrLater() ? kNotifyIconDataSize : kNotifyIconDataSizeWindows2000;
}

// The icon's own small image at the system's small-icon size (larger at high
// DPI): the 32x32 image that LoadIcon gives would be shrunk by the shell.
void loadIconImage(NOTIFYICONDATAA& data, int iconResource) {
    const auto image = static_cast<HICON>(
        LoadImageA(uiModule(), MAKEINTRESOURCEA(iconResource), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    if (data.hIcon != nullptr)
        DestroyIcon(data.hIcon);
    data.hIcon = image;
}

void releaseIconImage(NOTIFYICONDATAA& data) {
    if (data.hIcon != nullptr)
        DestroyIcon(data.hIcon);
    data.hIcon = nullptr;
}

void fillIconData(NOTIFYICONDATAA& data, UINT id, UINT callback, int iconResource,
                  const char* tip) {
    data.cbSize = notifyIconDataSize();
    data.hWnd = uiHostWindow();
    data.uID = id;
    data.uFlags = kTrayFlagsAll;
    data.uCallbackMessage = callback;
    loadIconImage(data, iconResource);
    copyTip(data, tip);
}

unsigned char& buttonShown(std::size_t index) {
    return settings().buttonShown[index];
}

bool buttonPending(std::size_t index) {
    return buttonShown(index) != 0 && !gButtons[index].added;
}

bool anyIconPending() {
    if (gMainIcon.state == IconState::Pending)
        return true;
    for (std::size_t i = 0; i < gButtons.size(); ++i)
        if (buttonPending(i))
            return true;
    return false;
}

void startRetry() {
    gRetryTicksLeft = kRetryTicks;
    if (!gRetryTimerRunning)
        gRetryTimerRunning =
            SetTimer(uiHostWindow(), kTrayRetryTimerId, kRetryPeriodMs, nullptr) != 0;
}

// After adds outside the retry's own ticks: a failure starts a minute of retries.
void retryIfPending() {
    if (anyIconPending())
        startRetry();
}

// An add that fails may have reached a shell that still holds the icon (a
// DPI change, or an add that timed out while the shell was busy): then the
// icon is brought up to date instead.
bool addOrUpdate(NOTIFYICONDATAA& data) {
    data.uFlags = kTrayFlagsAll;
    return Shell_NotifyIconA(NIM_ADD, &data) != FALSE ||
           Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

void addMainIconAgain() {
    if (gMainIcon.state != IconState::Hidden)
        gMainIcon.state = addOrUpdate(gMainIcon.data) ? IconState::Added : IconState::Pending;
}

void addButton(std::size_t index) {
    gButtons[index].added = Shell_NotifyIconA(NIM_ADD, &gButtons[index].data) != FALSE;
}

void addButtonAgain(std::size_t index) {
    gButtons[index].added = addOrUpdate(gButtons[index].data);
}

// XP and later lay the icons out right to left, so add them last first.
template <typename Add> void forShownButtonsInLayoutOrder(Add add) {
    if (isXpOrLater()) {
        for (std::size_t i = gButtons.size(); i-- > 0;)
            if (buttonShown(i) != 0)
                add(i);
    } else {
        for (std::size_t i = 0; i < gButtons.size(); ++i)
            if (buttonShown(i) != 0)
                add(i);
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
    if (gMainIcon.state != IconState::Hidden)
        return;
    gMainIcon.iconResource = isXpOrLater() ? IDI_MAIN_XP : IDI_MAIN_OLD;
    fillIconData(gMainIcon.data, kMainIconId, kMainTrayCallback, gMainIcon.iconResource, kMainTip);
    const bool added = Shell_NotifyIconA(NIM_ADD, &gMainIcon.data) != FALSE;
    gMainIcon.state = added ? IconState::Added : IconState::Pending;
    retryIfPending();
}

void removeMainTrayIcon() {
    const bool added = gMainIcon.state == IconState::Added;
    gMainIcon.state = IconState::Hidden;
    dropWaitingTrayTip();
    if (added)
        Shell_NotifyIconA(NIM_DELETE, &gMainIcon.data);
}

void setMainTrayTip(const char* text) {
    if (gMainIcon.state == IconState::Hidden)
        return;
    copyTip(gMainIcon.data, text);
    // An icon still waiting for the shell takes the tip with its add.
    if (gMainIcon.state != IconState::Added)
        return;
    gMainIcon.data.uFlags = NIF_TIP;
    if (!handOverTrayTip(gMainIcon.data))
        Shell_NotifyIconA(NIM_MODIFY, &gMainIcon.data);
}

void initTrayButtons() {
    const int firstIcon = isXpOrLater() ? IDI_BUTTON_XP_FIRST : IDI_BUTTON_OLD_FIRST;
    for (std::size_t i = 0; i < gButtons.size(); ++i) {
        const int offset = static_cast<int>(i);
        gButtons[i].iconResource = firstIcon + offset;
        fillIconData(gButtons[i].data, static_cast<UINT>(offset + 1), kFirstButtonCallback + offset,
                     gButtons[i].iconResource, gButtons[i].caption);
    }
    refreshTrayButtons();
}

void removeTrayButtons() {
    for (TrayButton& button : gButtons) {
        Shell_NotifyIconA(NIM_DELETE, &button.data);
        button.added = false;
    }
}

void refreshTrayButtons() {
    removeTrayButtons();
    forShownButtonsInLayoutOrder(addButton);
    retryIfPending();
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
    // The record keeps the tooltip of the last update. The image is loaded
    // again: the small-icon size may have changed with the DPI.
    if (gMainIcon.state != IconState::Hidden)
        loadIconImage(gMainIcon.data, gMainIcon.iconResource);
    for (TrayButton& button : gButtons)
        if (button.data.cbSize != 0)
            loadIconImage(button.data, button.iconResource);
    addMainIconAgain();
    forShownButtonsInLayoutOrder(addButtonAgain);
    retryIfPending();
}

void retryTrayIcons() {
    // A tick still queued when the retry ended.
    if (!gRetryTimerRunning)
        return;
    if (uiShutDown() || !anyIconPending()) {
        stopTrayRetry();
        return;
    }
    if (gMainIcon.state == IconState::Pending)
        addMainIconAgain();
    forShownButtonsInLayoutOrder([](std::size_t i) {
        if (!gButtons[i].added)
            addButtonAgain(i);
    });
    if (!anyIconPending() || --gRetryTicksLeft <= 0)
        stopTrayRetry();
}

void stopTrayRetry() {
    if (gRetryTimerRunning)
        KillTimer(uiHostWindow(), kTrayRetryTimerId);
    gRetryTimerRunning = false;
    gRetryTicksLeft = 0;
}

void releaseTrayResources() {
    stopTrayRetry();
    releaseIconImage(gMainIcon.data);
    for (TrayButton& button : gButtons)
        releaseIconImage(button.data);
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
