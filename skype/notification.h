// Reading Skype's notifications: pure text work, no windows.h.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

enum class CallStatus : std::int32_t {
    None = -1, // no status word seen
    Unplaced = 0,
    Routing,
    EarlyMedia,
    Failed,
    Ringing,
    InProgress,
    OnHold,
    Finished,
    Missed,
    Refused,
    Busy,
    Cancelled,
    // Endings of later protocols: a call handed on, or one that went to
    // voicemail.
    Transferred,
    VoicemailSent,
    VoicemailCancelled,
    VoicemailFailed,
};
constexpr auto kLastCallStatus = CallStatus::VoicemailFailed;

// Pause: the call rings or runs. Resume: it ended in a way that gives the
// music back. End: it ended otherwise. None: it goes on.
enum class CallAction { None, Pause, Resume, End };

struct CallNotification {
    // The last status word of a "CALL <id> STATUS ..." notification; None for
    // any other notification, a call's other properties included.
    CallStatus status = CallStatus::None;
    // The word after "CALL", whatever it is. Points into the data read.
    std::string_view callId;
};

// Reads a notification that begins with "CALL". Reads at most `size` bytes
// and stops at the first zero byte.
CallNotification readCallNotification(const char* data, std::size_t size);

// What "Stop on call" does for a status: every status that neither pauses
// nor ends a call counts as the call going on.
CallAction callActionFor(CallStatus status);

// Skype's answer to "SEARCH ACTIVECALLS", or an error in its place.
enum class CallsAnswerKind { None, Listed, Error };
struct CallsAnswer {
    CallsAnswerKind kind = CallsAnswerKind::None;
    // Listed: what follows "CALLS", the ids separated by ", " (empty when no
    // call is active). Points into the data read.
    std::string_view list;
};
// Reads at most `size` bytes and stops at the first zero byte.
CallsAnswer readCallsAnswer(const char* data, std::size_t size);
// Whether `list`, as a CallsAnswer gives it, names the call `id`.
bool listsCall(std::string_view list, std::string_view id);

// The word Skype uses for a status, or an empty view for None.
std::string_view callStatusWord(CallStatus status);
