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
};

// Pause: the call rings or runs. Resume: it ended in a way that gives the
// music back. End: it ended otherwise. None: it goes on.
enum class CallAction { None, Pause, Resume, End };

struct CallNotification {
    // The last status word; None when the notification is not about a call
    // or names no status.
    CallStatus status = CallStatus::None;
    // The word after "CALL"; empty when that word is already the status (a
    // call without an id). Points into the data read.
    std::string_view callId;
};

// Reads a notification that begins with "CALL". Reads at most `size` bytes
// and stops at the first zero byte.
CallNotification readCallNotification(const char* data, std::size_t size);

// What "Stop on call" does for a status.
CallAction callActionFor(CallStatus status);

// The word Skype uses for a status, or an empty view for None.
std::string_view callStatusWord(CallStatus status);
