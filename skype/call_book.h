// The calls that hold the music paused, by Skype's call id. Plain logic, no
// windows.h: the Skype session keeps one, the call watcher writes it.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Skype's call ids are short numbers; a hostile Skype could send endless or
// huge ones, so both the ids and their number are bounded. Far more calls
// than anyone has at once.
constexpr std::size_t kMaxRememberedCalls = 16;
constexpr std::size_t kMaxCallIdBytes = 64;

struct CallBook {
    std::vector<std::string> ids; // oldest first; each still rings, runs or is on hold
};

// The oldest call makes room when the book is full.
void rememberCall(CallBook& book, std::string_view id);
// Whether the call was remembered.
bool forgetCall(CallBook& book, std::string_view id);
// Skype listed the calls that are still active ("12, 34"): the others ended
// while we could not hear them.
void keepListedCalls(CallBook& book, std::string_view list);
