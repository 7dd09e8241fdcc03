// The stand-in Skype's call scripts as they run: each step sent to the
// attached client by the clock or one at a time, and the calls as the
// notifications sent so far describe them.
#include "skype_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace standin_skype {
namespace detail {
namespace {

// The calls a program's window can show; older ones are forgotten.
constexpr size_t kMaxCalls = 64;

DWORD clockNow(ScriptClock clock) {
    Lock lock(g_mutex);
    return clock == ScriptClock::Stepped ? g_steppedClock : GetTickCount();
}

// The script whose next step is due first, or none; under g_mutex.
RunningScript* firstDue(DWORD* due) {
    RunningScript* first = nullptr;
    for (RunningScript& script : g_scripts) {
        const DWORD at = script.start + script.steps[script.next].atMs;
        if (!first || static_cast<LONG>(at - *due) < 0) {
            first = &script;
            *due = at;
        }
    }
    return first;
}

// Takes the next step of the scripts (the one due first), or returns false.
bool takeNextStep(ScriptStep* step, DWORD* due) {
    Lock lock(g_mutex);
    RunningScript* script = firstDue(due);
    if (!script)
        return false;
    *step = script->steps[script->next++];
    g_scripts.erase(std::remove_if(g_scripts.begin(), g_scripts.end(),
                                   [](const RunningScript& s) { return s.next >= s.steps.size(); }),
                    g_scripts.end());
    return true;
}

Outcome sendStep(const ScriptStep& step) {
    HWND target;
    int protocol;
    {
        Lock lock(g_mutex);
        target = g_attached;
        protocol = g_api.protocol;
    }
    const std::string text = stepText(step, protocol);
    if (!target) {
        addLine("call step not sent, no client attached: " + quotedText(text));
        noteCallNotification(text);
        return finished(false, ERROR_NOT_CONNECTED);
    }
    return sendTextToClient(target, text, SentKind::Call);
}

} // namespace

void noteCallNotification(const std::string& text) {
    unsigned id = 0;
    std::string property;
    std::string value;
    if (!parseCallNotification(text, &id, &property, &value))
        return;
    Lock lock(g_mutex);
    auto call = std::find_if(g_calls.begin(), g_calls.end(),
                             [id](const CallState& state) { return state.id == id; });
    if (call == g_calls.end()) {
        if (g_calls.size() >= kMaxCalls)
            g_calls.erase(g_calls.begin());
        g_calls.push_back({id, "", 0});
        call = g_calls.end() - 1;
    }
    if (property == "STATUS")
        call->status = value;
    else if (property == "DURATION")
        call->duration = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
}

Outcome runNextStep() {
    ScriptStep step;
    DWORD due = 0;
    if (!takeNextStep(&step, &due))
        return finished(false, ERROR_NO_MORE_ITEMS);
    {
        Lock lock(g_mutex);
        if (g_config.scriptClock == ScriptClock::Stepped &&
            static_cast<LONG>(due - g_steppedClock) > 0)
            g_steppedClock = due;
    }
    return sendStep(step);
}

DWORD untilNextStep() {
    Lock lock(g_mutex);
    if (g_config.scriptClock != ScriptClock::RealTime)
        return INFINITE;
    DWORD due = 0;
    if (!firstDue(&due))
        return INFINITE;
    const LONG left = static_cast<LONG>(due - GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

void runDueSteps() {
    while (untilNextStep() == 0)
        runNextStep();
}

void startScript(const CallPlan& plan) {
    RunningScript script;
    script.steps = buildScript(plan);
    script.start = clockNow(currentConfig().scriptClock);
    char line[96];
    std::snprintf(line, sizeof line, "call script=%s id=%u", scriptName(plan.script), plan.id);
    std::string text = line;
    if (plan.script == CallScript::TwoCalls)
        text += " other=" + std::to_string(plan.otherId);
    if (!script.steps.empty()) {
        Lock lock(g_mutex);
        g_scripts.push_back(std::move(script));
    }
    addLine(text);
}

void assignCallIds(CallPlan& plan) {
    if (!plan.id)
        plan.id = g_nextCallId++;
    if (plan.script == CallScript::TwoCalls && !plan.otherId)
        plan.otherId = g_nextCallId++;
}

} // namespace detail

CallPlan planCall(CallScript script) {
    CallPlan plan;
    plan.script = script;
    detail::Lock lock(detail::g_mutex);
    detail::assignCallIds(plan);
    return plan;
}

} // namespace standin_skype
