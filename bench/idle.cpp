// What the plug-in sends while nothing happens: timer ticks with Skype
// attached, gone, and waiting for the user's authorisation.
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "api_recorder.h"
#include "host/host_api.h"
#include "standin_skype.h"

namespace bench {
namespace {

constexpr WPARAM kDiscoveryTimerId = 10102;

struct Traffic {
    std::size_t calls = 0;      // every system call the plug-in made
    std::size_t broadcasts = 0; // sends to HWND_BROADCAST
    std::size_t playStateQueries = 0;
    std::size_t otherCalls = 0;
};

Traffic recordedTraffic() {
    Traffic traffic;
    for (const ApiCall& call : recordedCalls()) {
        ++traffic.calls;
        const bool send = call.function == "SendMessageA" || call.function == "SendMessageTimeoutA";
        const auto target = send ? reinterpret_cast<HWND>(call.args[0]) : nullptr;
        if (send && target == HWND_BROADCAST)
            ++traffic.broadcasts;
        else if (send && call.args[1] == host::kWmUser &&
                 static_cast<long>(call.args[3]) == host::kQueryPlayState)
            ++traffic.playStateQueries;
        else
            ++traffic.otherCalls;
    }
    return traffic;
}

Traffic ticks(HWND host, int count) {
    clearRecordedCalls();
    for (int i = 0; i < count; ++i)
        SendMessageA(host, WM_TIMER, kDiscoveryTimerId, 0);
    return recordedTraffic();
}

std::string describe(const Traffic& traffic) {
    return format("%zu broadcasts, %zu play-state queries, %zu other calls", traffic.broadcasts,
                  traffic.playStateQueries, traffic.otherCalls);
}

Verdict verdictOf(bool holds) {
    return holds ? Verdict::Met : Verdict::Failed;
}

} // namespace

void countIdleTraffic(const Options& options, Report& report) {
    Session session;
    if (!session.ok()) {
        report.problem("idle: " + session.error());
        return;
    }
    const HWND host = session.host();
    const int n = options.idleTicks;
    const auto count = static_cast<std::size_t>(n);
    startRecordingApi(session.plugin().module());

    standin_skype::clearHistory();
    const Traffic attached = ticks(host, n);
    const std::size_t toSkype = standin_skype::recordCount() + standin_skype::discoversSeen();
    report.add({"3a", format("idle, Skype attached: %d timer ticks", n),
                format("%zu calls", attached.calls), format("Skype got %zu", toSkype), "",
                "nothing", verdictOf(attached.calls == 0 && toSkype == 0)});

    // Skype exits; the next song change finds it gone and discovery resumes.
    standin_skype::waitFor(standin_skype::requestLeave());
    session.songChange(1);
    const Traffic searching = ticks(host, n);
    report.add({"3b", format("idle, searching (no Skype): %d ticks", n), describe(searching), "",
                format("%.2f per tick", static_cast<double>(searching.broadcasts) / n),
                "1 broadcast/tick",
                verdictOf(searching.broadcasts == count && searching.otherCalls == 0)});

    // Skype is back but the user has not allowed the player yet.
    standin_skype::setAnswer(standin_skype::AnswerMode::Immediate,
                             standin_skype::kAttachPendingAuthorization);
    standin_skype::waitFor(standin_skype::requestReturn());
    standin_skype::clearHistory();
    const Traffic pending = ticks(host, n);
    const unsigned seen = standin_skype::discoversSeen();
    report.add(
        {"3c", format("idle, Skype awaiting authorisation: %d ticks", n), describe(pending),
         format("Skype saw %u Discover", seen),
         format("%.2f per tick", static_cast<double>(pending.broadcasts) / n), "1 broadcast/tick",
         verdictOf(pending.broadcasts == count && seen == count && pending.otherCalls == 0)});
}

} // namespace bench
