// Skype's side of the text commands: what a command does and the answer it
// gets, by the protocol the client talks. Text only; no windows here.
#pragma once
#include <string>
#include <vector>

namespace standin_skype {

// Our Skype's own highest protocol, unless configured otherwise.
inline constexpr int kDefaultHighestProtocol = 8;
// A client that never sent PROTOCOL talks this one.
inline constexpr int kInitialProtocol = 1;
// From protocol 2 on a held call is LOCALHOLD or REMOTEHOLD (before: ONHOLD)
// and a call the caller gave up is CANCELLED (before: FINISHED).
inline constexpr int kFirstProtocolWithHoldSides = 2;
// Rich mood text came with protocol 7.
inline constexpr int kFirstProtocolWithRichMood = 7;

struct ApiError {
    int code;
    const char* text;
};
inline constexpr ApiError kErrorUnknownCommand{2, "Unknown command"};
inline constexpr ApiError kErrorInvalidProtocol{3, "PROTOCOL: invalid protocol number"};
inline constexpr ApiError kErrorUnknownProperty{7, "PROFILE: unknown property"};
inline constexpr ApiError kErrorMalformedRichMood{8, "PROFILE: RICH_MOOD_TEXT is not well-formed"};

struct Mood {
    std::string text; // UTF-8, as the command carried it
    bool rich = false;
};

// What the commands read and change: the client's protocol (reset at every
// attach) and the user's profile (kept for the life of the stand-in).
struct ApiState {
    int highestProtocol = kDefaultHighestProtocol;
    int protocol = kInitialProtocol;
    // A rich mood must be a well-formed XML fragment (else ERROR, and the
    // mood stays), as Skype parses it.
    bool checkRichMarkup = false;
    std::string userHandle;
    Mood mood;
    bool moodSet = false;
    unsigned chatsCreated = 0;
    // The calls that ring, run or are on hold, for SEARCH ACTIVECALLS.
    std::vector<unsigned> activeCalls;
};

struct CommandResult {
    std::string answer;
    bool error = false; // the answer is an ERROR
    bool moodChanged = false;
};

// Carries out one command (its text up to the terminating zero) and gives
// Skype's answer. A leading "#id " is echoed in front of the answer.
CommandResult runCommand(const std::string& command, ApiState& state);

// "ERROR <code> <text>".
std::string errorText(const ApiError& error);

// Whether a call with this status word (as any protocol names it) is still
// active: it rings, runs or is on hold.
bool isActiveCallStatus(const std::string& word);

// The mood text without mark-up, as a client that asks for the plain mood
// sees a rich one.
std::string withoutTags(const std::string& text);

} // namespace standin_skype
