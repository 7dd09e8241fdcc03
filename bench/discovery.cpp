// What the plug-in's discovery costs the player. The plug-in's own thread
// makes the Discover broadcast; the player's thread only asks for it at a
// tick, and polls the play state once a broadcast was delivered. Counted: what
// ticks send while Skype is attached, absent (the back-off) and asking its
// user. Timed: the player's thread at a tick, with every program answering
// and beside a program busy for less than 5 s at a time, against the same
// broadcast made on the player's thread, as a plug-in that waits for it would.
#include "lean_plugin.h"
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "api_recorder.h"
#include "busy_program.h"
#include "host/host_api.h"
#include "skype/skype_link.h"
#include "standin_skype.h"

#include <algorithm>
#include <functional>

namespace bench {
namespace {

// A tick may cost the player's thread no more, whatever other programs do.
constexpr double kTickTargetSeconds = 0.010;
constexpr UINT kSendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;
// A broadcast that waited less than this did not meet the busy program.
constexpr double kBusyFloorAtLeast = 0.5;

unsigned broadcastsDue(unsigned ticks) {
    unsigned due = 0;
    for (unsigned tick = 1; tick <= ticks; ++tick)
        due += discoveryDueAt(tick) ? 1 : 0;
    return due;
}

struct Traffic {
    std::size_t calls = 0;            // every recorded system call of the plug-in
    std::size_t broadcasts = 0;       // sends to HWND_BROADCAST (the link's thread)
    std::size_t playStateQueries = 0; // the poll after a delivered broadcast
    std::size_t notices = 0;          // the link's thread telling the player's thread
    std::string others;               // what else, by name
};

Traffic recordedTraffic(HWND link) {
    Traffic traffic;
    for (const ApiCall& call : recordedCalls()) {
        ++traffic.calls;
        const bool send = call.function == "SendMessageA" || call.function == "SendMessageTimeoutA";
        if (send && reinterpret_cast<HWND>(call.args[0]) == HWND_BROADCAST)
            ++traffic.broadcasts;
        else if (send && call.args[1] == host::kWmUser &&
                 static_cast<long>(call.args[3]) == host::kQueryPlayState)
            ++traffic.playStateQueries;
        else if (call.function == "PostMessageA" && reinterpret_cast<HWND>(call.args[0]) == link)
            ++traffic.notices;
        else if (traffic.others.find(call.function) == std::string::npos)
            traffic.others += " " + call.function;
    }
    return traffic;
}

std::size_t othersOf(const Traffic& traffic) {
    return traffic.calls - traffic.broadcasts - traffic.playStateQueries - traffic.notices;
}

// When the plug-in is to broadcast: never (Skype attached), as the back-off
// says (searching), at every tick (Skype asks its user).
enum class Due { Never, BackOff, EveryTick };

// Ticks one at a time, each given the time its broadcast (if one is due)
// needs to return, then what was recorded.
Traffic recordTicks(Player& player, int count, Due due) {
    player.stopDiscoveryTimer();
    startRecordingApi(player.plugin().module());
    clearRecordedCalls();
    for (int i = 1; i <= count; ++i) {
        const LinkSends before = linkSends();
        player.tick();
        if (due == Due::EveryTick ||
            (due == Due::BackOff && discoveryDueAt(static_cast<unsigned>(i))))
            player.awaitSends(before, 1);
    }
    player.settle();
    return recordedTraffic(player.skypeClient());
}

std::string describe(const Traffic& traffic, int ticks) {
    return format("%d ticks: %zu broadcasts, %zu play-state polls, %zu others%s", ticks,
                  traffic.broadcasts, traffic.playStateQueries, othersOf(traffic),
                  traffic.others.c_str());
}

// So many broadcasts, at most one poll after each, nothing else.
bool broadcastsOnly(const Traffic& traffic, std::size_t broadcasts) {
    return traffic.broadcasts == broadcasts && traffic.playStateQueries <= broadcasts &&
           othersOf(traffic) == 0;
}

// Skype attached, gone, and waiting for the user's permission: what ticks
// send. The plug-in's calls are recorded, so nothing here is timed.
void countTicks(const Options& options, Report& report) {
    const int n = options.ticks;
    {
        ReceiverStage stage(PluginKind::Tralmo);
        if (!stage.attached) {
            report.problem("discovery: the plug-in did not attach to the receiver");
            return;
        }
        const long before = stage.receiver.received();
        const Traffic attached = recordTicks(stage.player, n, Due::Never);
        const long got = stage.receiver.received() - before;
        report.add({"3a", "idle, Skype attached: what timer ticks send",
                    format("%zu calls in %d ticks", attached.calls, n),
                    format("Skype got %ld", got), "", "nothing",
                    holds(attached.calls == 0 && got == 0)});
    }
    {
        Scene scene;
        Player player(PluginKind::Tralmo);
        const Traffic searching = recordTicks(player, n, Due::BackOff);
        const unsigned due = broadcastsDue(static_cast<unsigned>(n));
        report.add({"3b", "idle, no Skype: what timer ticks have the plug-in's thread send",
                    describe(searching, n), "", "",
                    format("%u broadcasts (%u ticks, then 1 in %u) + polls", due,
                           kEagerDiscoveryTicks, kPatientDiscoveryTicks),
                    holds(player.ok() && broadcastsOnly(searching, due))});
    }
    Scene scene;
    standin_skype::Config config;
    config.clientProcess = GetCurrentProcessId();
    config.attachStatus = standin_skype::kAttachPendingAuthorization;
    standin_skype::Running skype(config);
    Player player(PluginKind::Tralmo);
    const unsigned seenBefore = standin_skype::snapshot().discovers;
    const Traffic pending = recordTicks(player, n, Due::EveryTick);
    const unsigned seen = standin_skype::snapshot().discovers - seenBefore;
    report.add({"3c", "idle, Skype awaiting the user's permission", describe(pending, n),
                format("Skype saw %u Discover", seen), "", "1 broadcast (+ poll) a tick",
                holds(skype.started() && player.ok() &&
                      broadcastsOnly(pending, static_cast<std::size_t>(n)) &&
                      seen == static_cast<unsigned>(n))});
}

double bareBroadcast(HWND from) {
    static const UINT discover = RegisterWindowMessageA(kSkypeDiscoverMessageName);
    DWORD_PTR result = 0;
    return timed([&] {
        SendMessageTimeoutA(HWND_BROADCAST, discover, reinterpret_cast<WPARAM>(from), 0, kSendFlags,
                            kSkypeWaitBoundMs, &result);
    });
}

// The plug-in searching with no Skype, ticked by hand. Every tick it is given
// broadcasts: Skype's announcement starts the eager minute again before the
// back-off would skip one.
struct Searcher {
    Scene scene;
    Player player{PluginKind::Tralmo};
    unsigned ticksSinceStart = 0;
    bool allReturned = true;
    std::vector<double> broadcastSeconds; // on the plug-in's thread

    void restartEagerMinute() {
        const LinkSends before = linkSends();
        player.attachReply(nullptr, static_cast<LONG>(AttachStatus::ApiAvailable));
        allReturned = player.awaitSends(before, 1) && player.settle() && allReturned;
        ticksSinceStart = 0;
    }
    // The player's thread's share of one tick: the tick itself, and the poll
    // its delivered broadcast sets off. Waiting for the broadcast is not its.
    double tick() {
        if (ticksSinceStart == kEagerDiscoveryTicks)
            restartEagerMinute();
        ++ticksSinceStart;
        const LinkSends before = linkSends();
        const double handledBefore = linkWindowSeconds();
        const double seconds = timed([&] { player.tick(); });
        allReturned = player.awaitSends(before, 1) && player.settle() && allReturned;
        const LinkSends after = linkSends();
        broadcastSeconds.push_back(after.seconds - before.seconds);
        return seconds + (linkWindowSeconds() - handledBefore);
    }
};

struct TickSides {
    std::vector<double> ticks; // each, the player's thread's share
    std::vector<double> bare;  // each, the player's thread waiting for the same broadcast
};

TickSides tickAgainstBroadcast(Searcher& searcher, HWND floorWindow, int rounds, int slices) {
    TickSides sides;
    const std::vector<std::function<double()>> run = {
        [&] {
            sides.ticks.push_back(searcher.tick());
            return sides.ticks.back();
        },
        [&] {
            sides.bare.push_back(bareBroadcast(floorWindow));
            return sides.bare.back();
        },
    };
    alternate(rounds, slices, run);
    return sides;
}

std::string medianAndWorst(const std::vector<double>& seconds) {
    const double worst = seconds.empty() ? 0 : *std::max_element(seconds.begin(), seconds.end());
    return formatDuration(summarize(seconds).median) + " (worst " + formatDuration(worst) + ")";
}

void timeTicks(const Options& options, Report& report) {
    Searcher searcher;
    const HWND floorWindow = createHostWindow("Bench broadcaster");
    if (!searcher.scene.ok() || !searcher.player.ok() || floorWindow == nullptr) {
        report.problem("discovery: cannot set up the player");
        DestroyWindow(floorWindow);
        return;
    }
    searcher.player.stopDiscoveryTimer();
    searcher.restartEagerMinute();
    const TickSides calm =
        tickAgainstBroadcast(searcher, floorWindow, options.rounds, std::max(1, options.ticks / 5));
    const Summary calmTick = summarize(calm.ticks);
    const Summary calmBare = summarize(calm.bare);
    report.add(
        {"3d",
         "tick, no Skype, every program answering: player's thread vs the broadcast waited for",
         formatDuration(calmTick.median), formatDuration(calmBare.median),
         format("%.3f", calmBare.median > 0 ? calmTick.median / calmBare.median : 0), "",
         Verdict::Info});

    // Another program is busy for 4 s at a time and never counts as hung:
    // each broadcast waits for it; the player's thread must not.
    standin::BusyProgram busy;
    if (!busy.ok()) {
        report.problem("discovery: cannot start the busy program");
        DestroyWindow(floorWindow);
        return;
    }
    searcher.broadcastSeconds.clear();
    const TickSides busySides = tickAgainstBroadcast(searcher, floorWindow, options.busyTicks, 1);
    const Summary busyTick = summarize(busySides.ticks);
    const Summary busyBare = summarize(busySides.bare);
    report.add({"3e", "tick beside a program busy 4 s at a time: player's thread per tick",
                medianAndWorst(busySides.ticks),
                "the broadcast, waited for: " + medianAndWorst(busySides.bare), "",
                format("<= %.0f ms", kTickTargetSeconds * 1000),
                atMost(busyTick.median, kTickTargetSeconds)});
    report.add({"3f", "  the same ticks' broadcasts on the plug-in's thread",
                medianAndWorst(searcher.broadcastSeconds),
                format("%ld busy spells", static_cast<long>(busy.busySpells())), "", "",
                Verdict::Info});
    if (!searcher.allReturned)
        report.problem("discovery: a broadcast of the plug-in's did not return in time");
    if (busyBare.median < kBusyFloorAtLeast)
        report.problem("discovery: the busy program held broadcasts too briefly; 3e-3f mislead");
    DestroyWindow(floorWindow);
}

} // namespace

void measureDiscovery(const Options& options, Report& report) {
    countTicks(options, report);
    timeTicks(options, report);
}

} // namespace bench
