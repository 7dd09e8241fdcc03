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

enum class CallAction { None, Pause, Resume };

// The status word of a notification that begins with "CALL"; the last status
// word wins. None when the notification is not about a call or names no
// status. Reads at most `size` bytes and stops at the first zero byte.
CallStatus readCallNotification(const char* data, std::size_t size);

// What "Stop on call" does for a status.
CallAction callActionFor(CallStatus status);

// The word Skype uses for a status, or an empty view for None.
std::string_view callStatusWord(CallStatus status);
