#include "plugin/host_hook.h"

#include "host/host_api.h"
#include "mood/mood_composer.h"
#include "plugin/window_subclass.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "skype/skype_link.h"
#include "ui/guarded.h"
#include "ui/options_dialog.h"
#include "ui/popup_menu.h"
#include "ui/tray.h"
#include "ui/ui_host.h"

namespace {

constexpr UINT_PTR kDiscoveryTimerId = 10102;
static_assert(kDiscoveryTimerId != kTrayRetryTimerId, "each timer of ours has an id of its own");
constexpr UINT kDiscoveryPeriodMs = 5000;
constexpr UINT kFirstTrayButtonToggle = 10102; // toggle of button i is this + i
constexpr UINT kLastTrayButtonToggle = kFirstTrayButtonToggle + kTrayButtonCount - 1;

Subclass gMainSubclass;
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
    // After quit no command may turn a switch back on or open a dialog.
    if (uiShutDown())
        return;
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
        onStatusChanged(host);
}

// The host's main window is going: the exit mood must leave while Skype can
// still tell who sends it (the host may call quit only after its loop ended).
void onDestroy(HWND host) {
    publishExitMood(host);
    killDiscoveryTimer(host);
    stopTrayRetry();
    destroyPopupMenu();
}

// Every message goes on to the host afterwards: nothing of Skype's comes here.
void handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        onDestroy(window);
        break;
    case WM_COMMAND:
        onCommand(LOWORD(wParam));
        break;
    case WM_TIMER:
        if (wParam == kDiscoveryTimerId)
            onDiscoveryTick();
        else if (wParam == kTrayRetryTimerId)
            retryTrayIcons();
        break;
    case WM_USER:
        onHostCallback(window, lParam);
        break;
    default:
        if (isTrayCallback(message)) {
            onTrayCallback(message, lParam);
        } else if (isTaskbarCreated(message)) {
            readdTrayIcons();
        }
        break;
    }
}

} // namespace

LRESULT CALLBACK HostHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Whatever fails in our handling, the host still gets its message.
    guarded([&] { handle(window, message, wParam, lParam); });
    return callPrevious(gMainSubclass, window, message, wParam, lParam);
}

void installHostHook(HWND host) {
    gMainSubclass = subclassWindow(host, &HostHook);
}

void startDiscoveryTimer(HWND host) {
    gDiscoveryTimerId = SetTimer(host, kDiscoveryTimerId, kDiscoveryPeriodMs, nullptr);
}

bool removeHostHook() {
    return removeSubclass(gMainSubclass, &HostHook);
}

void killDiscoveryTimer(HWND host) {
    KillTimer(host, gDiscoveryTimerId);
}
