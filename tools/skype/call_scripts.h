// Calls as Skype reports them: the notifications of a whole call, in order and
// with their times, and the status words a client hears by its protocol.
// Text only; no windows here.
#pragma once
#include <string>
#include <vector>

namespace standin_skype {

// While a call is in progress Skype reports its DURATION this often.
inline constexpr unsigned kCallTickMs = 1000;
inline constexpr unsigned kDefaultRingMs = 3000;
inline constexpr unsigned kDefaultTalkSeconds = 3;
// A call on hold stays there this long before it is resumed.
inline constexpr unsigned kHoldMs = 2000;
// Between an outgoing call's UNPLACED, ROUTING and RINGING.
inline constexpr unsigned kDialStepMs = 300;
// The second call of TwoCalls rings this long after the first was answered.
inline constexpr unsigned kSecondCallDelayMs = 1500;

enum class CallScript {
    Incoming,      // RINGING, INPROGRESS, DURATION every second, FINISHED
    Refused,       // RINGING, REFUSED
    Missed,        // RINGING, MISSED
    Cancelled,     // RINGING, CANCELLED (FINISHED below protocol 2)
    Outgoing,      // UNPLACED, ROUTING, RINGING, INPROGRESS, DURATION..., FINISHED
    HoldAndResume, // an incoming call put on hold (LOCALHOLD, or ONHOLD) and resumed
    TwoCalls,      // an answered call, and a second one that rings and is missed meanwhile
    Transferred,   // answered, then handed on: TRANSFERRING, TRANSFERRED
    Voicemail,     // unanswered, the caller leaves a message: VM_... up to VM_SENT
};

struct CallPlan {
    CallScript script = CallScript::Incoming;
    unsigned id = 0;      // 0: the stand-in picks a fresh one
    unsigned otherId = 0; // TwoCalls' second call; 0: the stand-in picks
    unsigned ringMs = kDefaultRingMs;
    unsigned talkSeconds = kDefaultTalkSeconds; // DURATION notifications while in progress
    std::string partner = "echo123";
};

// One notification of a script: "CALL <callId> <property> <value>".
struct ScriptStep {
    unsigned atMs = 0; // from the start of the script
    unsigned callId = 0;
    std::string property;
    std::string value; // status words as protocol 2 and later name them
};

// Every step of the plan, ordered by time (ties keep the order of the call).
std::vector<ScriptStep> buildScript(const CallPlan& plan);

// The status word a client of `protocol` hears for `word` (a word of
// protocol 2 and later).
std::string statusWordFor(const std::string& word, int protocol);

// The notification's text for a client of `protocol`.
std::string stepText(const ScriptStep& step, int protocol);

const char* scriptName(CallScript script);
// Takes the names scriptName gives: "incoming", "refused", ...
bool parseScript(const std::string& name, CallScript* script);

// The parts of "CALL <id> STATUS <word>" or "CALL <id> DURATION <n>" (or any
// other property); false for any other text.
bool parseCallNotification(const std::string& text, unsigned* id, std::string* property,
                           std::string* value);

} // namespace standin_skype
