#include "skype/call_watcher.h"

#include "host/host_api.h"
#include "skype/call_book.h"
#include "skype/notification.h"
#include "skype/skype_link.h"

#include <string_view>

namespace {

LRESULT hostPlayState(HWND host) {
    return SendMessageA(host, host::kWmUser, 0, host::kQueryPlayState);
}

void sendHostCommand(HWND host, unsigned command) {
    SendMessageA(host, WM_COMMAND, command, 0);
}

// A call that rings or runs while the music plays pauses it. One that rings
// while our pause holds keeps the music paused as much as the first: it is
// remembered too, so that the first one's end does not start the music
// under its ringing.
void pauseForCall(HWND host, CallBook& calls, std::string_view id) {
    if (hostPlayState(host) == host::kStatePlaying) {
        sendHostCommand(host, host::kCommandPause);
        rememberCall(calls, id);
    } else if (!calls.ids.empty()) {
        rememberCall(calls, id);
    }
}

// The music comes back when the last call that held it paused ends
// unanswered, and only if it is still paused.
void endCall(HWND host, CallBook& calls, std::string_view id, bool mayResume) {
    if (!forgetCall(calls, id) || !mayResume || !calls.ids.empty())
        return;
    if (hostPlayState(host) == host::kStatePaused)
        sendHostCommand(host, host::kCommandPlay);
}

// With "Stop on call" off nothing pauses or resumes, but calls still end, so
// that none is left behind to hold a later pause.
void applyCallStatus(HWND host, std::string_view id, CallStatus status, bool stopOnCall) {
    CallBook& calls = sessionCalls();
    switch (callActionFor(status)) {
    case CallAction::Pause:
        if (stopOnCall)
            pauseForCall(host, calls, id);
        break;
    case CallAction::Resume:
        endCall(host, calls, id, stopOnCall);
        break;
    case CallAction::End:
        endCall(host, calls, id, false);
        break;
    case CallAction::None:
        break;
    }
}

} // namespace

bool handleSkypeNotification(HWND host, WPARAM sender, const COPYDATASTRUCT* record,
                             bool stopOnCall) {
    // Only the attached Skype may speak: with none, a null sender would
    // otherwise let any program's WM_COPYDATA pause or resume us.
    const HWND skype = skypeWindow();
    if (skype == nullptr || reinterpret_cast<HWND>(sender) != skype)
        return false;
    if (record == nullptr || record->lpData == nullptr)
        return false;
    const auto* text = static_cast<const char*>(record->lpData);
    const CallNotification call = readCallNotification(text, record->cbData);
    const CallsAnswer callsAnswer = readCallsAnswer(text, record->cbData);
    // The ids are copied before the data goes with the early answer.
    const std::string id(call.callId.substr(0, kMaxCallIdBytes));
    const std::string listed(callsAnswer.list);
    answerSkypeNow();
    settleCallCheck(CallsAnswer{callsAnswer.kind, listed});
    if (call.status != CallStatus::None)
        applyCallStatus(host, id, call.status, stopOnCall);
    return true;
}
