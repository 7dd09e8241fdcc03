#include "skype/call_watcher.h"

#include "host/host_api.h"
#include "skype/skype_link.h"

namespace {

bool gPausedByPlugin = false;

LRESULT hostPlayState(HWND host) {
    return SendMessageA(host, host::kWmUser, 0, host::kQueryPlayState);
}

void sendHostCommand(HWND host, unsigned command) {
    SendMessageA(host, WM_COMMAND, command, 0);
}

} // namespace

bool handleSkypeNotification(HWND host, WPARAM sender, const COPYDATASTRUCT* record,
                             bool stopOnCall) {
    // Only a known Skype window may speak: with none known, a null sender
    // would otherwise let any program's WM_COPYDATA pause or resume us.
    const HWND skype = skypeWindow();
    if (skype == nullptr || reinterpret_cast<HWND>(sender) != skype)
        return false;
    if (record == nullptr || record->lpData == nullptr)
        return false;
    const CallStatus status =
        readCallNotification(static_cast<const char*>(record->lpData), record->cbData);
    answerSkypeNow();
    if (status != CallStatus::None)
        applyCallStatus(host, status, stopOnCall);
    return true;
}

void applyCallStatus(HWND host, CallStatus status, bool stopOnCall) {
    if (!stopOnCall)
        return;
    switch (callActionFor(status)) {
    case CallAction::Pause:
        pauseForCall(host);
        break;
    case CallAction::Resume:
        resumeAfterCall(host);
        break;
    case CallAction::None:
        break;
    }
}

void pauseForCall(HWND host) {
    if (hostPlayState(host) != host::kStatePlaying)
        return;
    sendHostCommand(host, host::kCommandPause);
    gPausedByPlugin = true;
}

void resumeAfterCall(HWND host) {
    if (hostPlayState(host) != host::kStatePaused || !gPausedByPlugin)
        return;
    sendHostCommand(host, host::kCommandPlay);
    gPausedByPlugin = false;
}

bool pausedByPlugin() {
    return gPausedByPlugin;
}

void resetCallWatcher() {
    gPausedByPlugin = false;
}
