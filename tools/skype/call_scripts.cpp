#include "call_scripts.h"

#include <algorithm>
#include <cstdlib>

#include "api_commands.h"

namespace standin_skype {
namespace {

constexpr char kStatus[] = "STATUS";
constexpr char kDuration[] = "DURATION";

struct NamedScript {
    CallScript script;
    const char* name;
};
constexpr NamedScript kScriptNames[] = {
    {CallScript::Incoming, "incoming"},   {CallScript::Refused, "refused"},
    {CallScript::Missed, "missed"},       {CallScript::Cancelled, "cancelled"},
    {CallScript::Outgoing, "outgoing"},   {CallScript::HoldAndResume, "hold"},
    {CallScript::TwoCalls, "two"},        {CallScript::Transferred, "transferred"},
    {CallScript::Voicemail, "voicemail"},
};
// What a caller who reaches voicemail goes through, a step a second.
constexpr const char* kVoicemailSteps[] = {"VM_BUFFERING_GREETING", "VM_PLAYING_GREETING",
                                           "VM_RECORDING", "VM_UPLOADING", "VM_SENT"};

class Script {
  public:
    void add(unsigned at, unsigned id, const char* property, const std::string& value) {
        steps_.push_back({at, id, property, value});
    }
    void status(unsigned at, unsigned id, const char* word) { add(at, id, kStatus, word); }

    // The call is answered at `at`; DURATION counts whole seconds from then,
    // `ticks` of them starting with second `first`. Returns the last tick's time.
    unsigned talk(unsigned answeredAt, unsigned id, unsigned first, unsigned ticks, unsigned from) {
        unsigned at = from;
        for (unsigned second = first; second < first + ticks; ++second) {
            at = answeredAt + second * kCallTickMs;
            add(at, id, kDuration, std::to_string(second));
        }
        return at;
    }
    unsigned answer(unsigned at, unsigned id) {
        status(at, id, "INPROGRESS");
        add(at, id, "VAA_INPUT_STATUS", "FALSE");
        return at;
    }

    std::vector<ScriptStep> steps() {
        std::stable_sort(steps_.begin(), steps_.end(),
                         [](const ScriptStep& a, const ScriptStep& b) { return a.atMs < b.atMs; });
        return steps_;
    }

  private:
    std::vector<ScriptStep> steps_;
};

// A call that rings (or was dialled) until `answeredAt`, then talks.
void answeredCall(Script& script, unsigned answeredAt, unsigned id, unsigned talkSeconds) {
    script.answer(answeredAt, id);
    const unsigned end = script.talk(answeredAt, id, 1, talkSeconds, answeredAt);
    script.status(end, id, "FINISHED");
}

// How a call that was never answered ends.
const char* unansweredEnd(CallScript script) {
    switch (script) {
    case CallScript::Refused:
        return "REFUSED";
    case CallScript::Cancelled:
        return "CANCELLED";
    default:
        return "MISSED";
    }
}

void holdAndResume(Script& script, const CallPlan& plan) {
    const unsigned id = plan.id;
    const unsigned answered = plan.ringMs;
    const unsigned talk = std::max(1u, plan.talkSeconds);
    script.status(0, id, "RINGING");
    script.answer(answered, id);
    const unsigned held = script.talk(answered, id, 1, 1, answered);
    script.status(held, id, "LOCALHOLD");
    const unsigned resumed = held + kHoldMs;
    script.status(resumed, id, "INPROGRESS");
    // The seconds on hold count; no DURATION is reported meanwhile.
    const unsigned firstAfter = (resumed - answered) / kCallTickMs + 1;
    const unsigned end = script.talk(answered, id, firstAfter, talk - 1, resumed);
    script.status(end, id, "FINISHED");
}

void twoCalls(Script& script, const CallPlan& plan) {
    const unsigned second = plan.ringMs + kSecondCallDelayMs;
    const unsigned secondEnds = second + plan.ringMs;
    // The first call outlasts the second one's ringing.
    const unsigned talk = std::max(plan.talkSeconds, (secondEnds - plan.ringMs) / kCallTickMs + 1);
    script.status(0, plan.id, "RINGING");
    answeredCall(script, plan.ringMs, plan.id, talk);
    script.status(second, plan.otherId, "RINGING");
    script.status(secondEnds, plan.otherId, "MISSED");
}

} // namespace

std::vector<ScriptStep> buildScript(const CallPlan& plan) {
    Script script;
    const unsigned id = plan.id;
    const unsigned ring = plan.ringMs;
    switch (plan.script) {
    case CallScript::Incoming:
        script.status(0, id, "RINGING");
        answeredCall(script, ring, id, plan.talkSeconds);
        break;
    case CallScript::Refused:
    case CallScript::Missed:
    case CallScript::Cancelled:
        script.status(0, id, "RINGING");
        script.status(ring, id, unansweredEnd(plan.script));
        break;
    case CallScript::Outgoing:
        script.status(0, id, "UNPLACED");
        script.status(kDialStepMs, id, "ROUTING");
        script.status(2 * kDialStepMs, id, "RINGING");
        answeredCall(script, 2 * kDialStepMs + ring, id, plan.talkSeconds);
        break;
    case CallScript::HoldAndResume:
        holdAndResume(script, plan);
        break;
    case CallScript::TwoCalls:
        twoCalls(script, plan);
        break;
    case CallScript::Transferred: {
        script.status(0, id, "RINGING");
        script.answer(ring, id);
        const unsigned handedOn = script.talk(ring, id, 1, plan.talkSeconds, ring);
        script.status(handedOn, id, "TRANSFERRING");
        script.status(handedOn + kCallTickMs, id, "TRANSFERRED");
        break;
    }
    case CallScript::Voicemail: {
        script.status(0, id, "RINGING");
        unsigned at = ring;
        for (const char* step : kVoicemailSteps) {
            script.status(at, id, step);
            at += kCallTickMs;
        }
        break;
    }
    }
    return script.steps();
}

std::string statusWordFor(const std::string& word, int protocol) {
    if (protocol >= kFirstProtocolWithHoldSides)
        return word;
    if (word == "LOCALHOLD" || word == "REMOTEHOLD")
        return "ONHOLD";
    if (word == "CANCELLED")
        return "FINISHED";
    return word;
}

std::string stepText(const ScriptStep& step, int protocol) {
    const std::string value =
        step.property == kStatus ? statusWordFor(step.value, protocol) : step.value;
    return "CALL " + std::to_string(step.callId) + " " + step.property + " " + value;
}

const char* scriptName(CallScript script) {
    for (const NamedScript& named : kScriptNames)
        if (named.script == script)
            return named.name;
    return "";
}

bool parseScript(const std::string& name, CallScript* script) {
    for (const NamedScript& named : kScriptNames)
        if (name == named.name) {
            *script = named.script;
            return true;
        }
    return false;
}

bool parseCallNotification(const std::string& text, unsigned* id, std::string* property,
                           std::string* value) {
    constexpr char kCall[] = "CALL ";
    if (text.compare(0, sizeof kCall - 1, kCall) != 0)
        return false;
    const std::size_t idStart = sizeof kCall - 1;
    const std::size_t idEnd = text.find(' ', idStart);
    if (idEnd == std::string::npos || idEnd == idStart ||
        text.find_first_not_of("0123456789", idStart) != idEnd)
        return false;
    const std::size_t propertyEnd = text.find(' ', idEnd + 1);
    if (propertyEnd == std::string::npos || propertyEnd == idEnd + 1)
        return false;
    *id = static_cast<unsigned>(std::strtoul(text.c_str() + idStart, nullptr, 10));
    *property = text.substr(idEnd + 1, propertyEnd - idEnd - 1);
    *value = text.substr(propertyEnd + 1);
    return true;
}

} // namespace standin_skype
