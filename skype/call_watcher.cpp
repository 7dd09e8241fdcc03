#include "skype/call_watcher.h"

#include "host/host_api.h"
#include "skype/notification.h"
#include "skype/skype_link.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Skype's call ids are short numbers; a hostile Skype could send endless or
// huge ones, so both the ids and their number are bounded. Far more calls
// than anyone has at once.
constexpr std::size_t kMaxRememberedCalls = 16;
constexpr std::size_t kMaxCallIdBytes = 64;

// The calls that hold the music paused and have not ended yet, oldest first.
// Every one of them still rings, runs or is on hold: an end forgets it.
std::vector<std::string> gPausingCalls;
// Call ids belong to one run of Skype: a Skype that started again has ended
// every call of the window before.
HWND gCallsSkype = nullptr;

LRESULT hostPlayState(HWND host) {
    return SendMessageA(host, host::kWmUser, 0, host::kQueryPlayState);
}

void sendHostCommand(HWND host, unsigned command) {
    SendMessageA(host, WM_COMMAND, command, 0);
}

bool remembered(const std::string& id) {
    return std::find(gPausingCalls.begin(), gPausingCalls.end(), id) != gPausingCalls.end();
}

void remember(const std::string& id) {
    if (remembered(id))
        return;
    if (gPausingCalls.size() == kMaxRememberedCalls)
        gPausingCalls.erase(gPausingCalls.begin());
    gPausingCalls.push_back(id);
}

// Whether the call was remembered.
bool forget(const std::string& id) {
    const auto found = std::find(gPausingCalls.begin(), gPausingCalls.end(), id);
    if (found == gPausingCalls.end())
        return false;
    gPausingCalls.erase(found);
    return true;
}

// A call that rings or runs while the music plays pauses it. One that rings
// while our pause holds keeps the music paused as much as the first: it is
// remembered too, so that the first one's end does not start the music
// under its ringing.
void pauseForCall(HWND host, const std::string& id) {
    if (hostPlayState(host) == host::kStatePlaying) {
        sendHostCommand(host, host::kCommandPause);
        remember(id);
    } else if (!gPausingCalls.empty()) {
        remember(id);
    }
}

// The music comes back when the last call that held it paused ends
// unanswered, and only if it is still paused.
void endCall(HWND host, const std::string& id, bool mayResume) {
    if (!forget(id) || !mayResume || !gPausingCalls.empty())
        return;
    if (hostPlayState(host) == host::kStatePaused)
        sendHostCommand(host, host::kCommandPlay);
}

// With "Stop on call" off nothing pauses or resumes, but calls still end, so
// that none is left behind to hold a later pause.
void applyCallStatus(HWND host, const std::string& id, CallStatus status, bool stopOnCall) {
    switch (callActionFor(status)) {
    case CallAction::Pause:
        if (stopOnCall)
            pauseForCall(host, id);
        break;
    case CallAction::Resume:
        endCall(host, id, stopOnCall);
        break;
    case CallAction::End:
        endCall(host, id, false);
        break;
    case CallAction::None:
        break;
    }
}

void followSkype(HWND skype) {
    if (skype == gCallsSkype)
        return;
    gPausingCalls.clear();
    gCallsSkype = skype;
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
    const CallNotification call =
        readCallNotification(static_cast<const char*>(record->lpData), record->cbData);
    const std::string id(call.callId.substr(0, kMaxCallIdBytes));
    answerSkypeNow();
    followSkype(skype);
    if (call.status != CallStatus::None)
        applyCallStatus(host, id, call.status, stopOnCall);
    return true;
}

bool pausedByPlugin() {
    return !gPausingCalls.empty();
}

void resetCallWatcher() {
    gPausingCalls.clear();
    gCallsSkype = nullptr;
}
