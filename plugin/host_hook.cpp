#include "plugin/host_hook.h"

#include "host/host_api.h"
#include "mood/mood_composer.h"
#include "plugin/window_subclass.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "skype/call_watcher.h"
#include "skype/skype_link.h"
#include "ui/guarded.h"
#include "ui/options_dialog.h"
#include "ui/popup_menu.h"
#include "ui/tray.h"
#include "ui/ui_host.h"

#include <optional>

namespace {

constexpr UINT_PTR kDiscoveryTimerId = 10102;
static_assert(kDiscoveryTimerId != kTrayRetryTimerId, "each timer of ours has an id of its own");
constexpr UINT kDiscoveryPeriodMs = 5000;
constexpr UINT kFirstTrayButtonToggle = 10102; // toggle of button i is this + i
constexpr UINT kLastTrayButtonToggle = kFirstTrayButtonToggle + kTrayButtonCount - 1;
constexpr LRESULT kTaken = 1;

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

void runDiscovery(HWND host) {
    if (discoverSkype(host))
        pollPlayState(host);
}

void onAttachReply(HWND host, WPARAM wParam, LPARAM lParam) {
    switch (handleAttachReply(host, wParam, lParam)) {
    case AttachOutcome::Attached:
        publishAfterAttach(host);
        break;
    case AttachOutcome::Rediscover:
        runDiscovery(host);
        break;
    case AttachOutcome::None:
        break;
    }
}

// The host's main window is going: the exit mood must leave while Skype can
// still tell who sends it (the host may call quit only after its loop ended).
void onDestroy(HWND host) {
    publishExitMood(host);
    killDiscoveryTimer(host);
    stopTrayRetry();
    destroyPopupMenu();
}

// The answer for the sender when the hook consumes the message; nothing when
// it goes on to the host.
std::optional<LRESULT> handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        onDestroy(window);
        break;
    case WM_COPYDATA:
        if (handleSkypeNotification(window, wParam, reinterpret_cast<COPYDATASTRUCT*>(lParam),
                                    settings().stopOnCall != 0))
            return kTaken;
        break;
    case WM_COMMAND:
        onCommand(LOWORD(wParam));
        break;
    case WM_TIMER:
        if (wParam == kDiscoveryTimerId)
            runDiscovery(window);
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
        } else if (isAttachMessage(message)) {
            // Skype hears 1 whatever our handling of the reply ran into.
            answerSkypeNow();
            guarded([&] { onAttachReply(window, wParam, lParam); });
            return kTaken;
        }
        break;
    }
    return std::nullopt;
}

} // namespace

LRESULT CALLBACK HostHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Whatever fails in our handling, the host still gets its message.
    const std::optional<LRESULT> answer =
        guarded(std::optional<LRESULT>(), [&] { return handle(window, message, wParam, lParam); });
    if (answer)
        return *answer;
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
