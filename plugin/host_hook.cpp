#include "plugin/host_hook.h"

#include "mood/mood_composer.h"
#include "host/host_api.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "skype/call_watcher.h"
#include "skype/skype_link.h"
#include "ui/options_dialog.h"
#include "ui/popup_menu.h"
#include "ui/tray.h"

namespace {

constexpr UINT_PTR kDiscoveryTimerId = 10102;
constexpr UINT kDiscoveryPeriodMs = 5000;
constexpr UINT kFirstTrayButtonToggle = 10102; // toggle of button i is this + i
constexpr UINT kLastTrayButtonToggle = kFirstTrayButtonToggle + kTrayButtonCount - 1;

WNDPROC gPreviousMainProc = nullptr;
UINT_PTR gDiscoveryTimerId = 0;

int flipped(int value) {
    return value == 0 ? 1 : 0;
}

void toggleActive() {
    settings().active = flipped(settings().active);
    setMenuCheck(IDM_ACTIVE, settings().active);
}

void toggleStopOnCall() {
    settings().stopOnCall = flipped(settings().stopOnCall);
    setMenuCheck(IDM_STOP_ON_CALL, settings().stopOnCall);
}

void toggleSetMoodOnExit() {
    settings().setMoodOnExit = flipped(settings().setMoodOnExit);
}

void onCommand(UINT command) {
    switch (command) {
    case IDM_ABOUT:
        showAboutBox();
        break;
    case IDM_OPTIONS:
        showOptionsDialog();
        break;
    case IDM_ACTIVE:
        toggleActive();
        break;
    case IDM_STOP_ON_CALL:
        toggleStopOnCall();
        break;
    case IDM_SET_MOOD_ON_EXIT:
        toggleSetMoodOnExit();
        break;
    default:
        if (command >= kFirstTrayButtonToggle && command <= kLastTrayButtonToggle)
            toggleTrayButton(command - kFirstTrayButtonToggle);
        break;
    }
}

void onHostCallback(HWND host, LPARAM callback) {
    if (callback == host::kCallbackSongStarted)
        MoodComposer(host, PlayState::Playing);
    else if (callback == host::kCallbackStatusChanged)
        pollPlayState(host);
}

void runDiscovery(HWND host) {
    if (discoverSkype(host))
        pollPlayState(host);
}

} // namespace

LRESULT CALLBACK HostHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        killDiscoveryTimer(window);
        destroyPopupMenu();
        break;
    case WM_COPYDATA:
        if (handleSkypeNotification(window, wParam, reinterpret_cast<COPYDATASTRUCT*>(lParam),
                                    settings().stopOnCall != 0))
            return 1;
        break;
    case WM_COMMAND:
        onCommand(LOWORD(wParam));
        break;
    case WM_TIMER:
        if (wParam == kDiscoveryTimerId)
            runDiscovery(window);
        break;
    case WM_USER:
        onHostCallback(window, lParam);
        break;
    default:
        if (isTrayCallback(message)) {
            onTrayCallback(message, lParam);
        } else if (isAttachMessage(message)) {
            if (handleAttachReply(wParam, lParam))
                pollPlayState(window);
            return 1;
        }
        break;
    }
    return CallWindowProcA(gPreviousMainProc, window, message, wParam, lParam);
}

void installHostHook(HWND host) {
    gPreviousMainProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HostHook)));
}

void startDiscoveryTimer(HWND host) {
    gDiscoveryTimerId = SetTimer(host, kDiscoveryTimerId, kDiscoveryPeriodMs, nullptr);
}

bool removeHostHook(HWND host) {
    if (!IsWindow(host))
        return true;
    const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(host, GWLP_WNDPROC));
    if (current != &HostHook)
        return false;
    SetWindowLongPtrA(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gPreviousMainProc));
    return true;
}

void killDiscoveryTimer(HWND host) {
    KillTimer(host, gDiscoveryTimerId);
}
