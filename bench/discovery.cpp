// What the plug-in's discovery timer costs the player: nothing while Skype is
// attached; one Discover broadcast a tick while it searches, timed against a
// bare broadcast of the same message, also past a window whose program hangs.
#include "lean_plugin.h"
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "api_recorder.h"
#include "host/host_api.h"
#include "skype/skype_link.h"
#include "standin_skype.h"

#include <functional>

namespace bench {
namespace {

constexpr double kTargetAgainstBare = 1.05;
constexpr UINT kSendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;
// Wine counts a thread as hung once it has not looked at its queue this long.
constexpr DWORD kHungAfterMs = 5000;
constexpr DWORD kHungMarginMs = 1000;

struct Traffic {
    std::size_t calls = 0;            // every recorded system call of the plug-in
    std::size_t broadcasts = 0;       // sends to HWND_BROADCAST
    std::size_t playStateQueries = 0; // the poll after a delivered broadcast
    std::string others;               // what else, by name
};

Traffic recordedTraffic() {
    Traffic traffic;
    for (const ApiCall& call : recordedCalls()) {
        ++traffic.calls;
        const bool send = call.function == "SendMessageA" || call.function == "SendMessageTimeoutA";
        if (send && reinterpret_cast<HWND>(call.args[0]) == HWND_BROADCAST)
            ++traffic.broadcasts;
        else if (send && call.args[1] == host::kWmUser &&
                 static_cast<long>(call.args[3]) == host::kQueryPlayState)
            ++traffic.playStateQueries;
        else if (traffic.others.find(call.function) == std::string::npos)
            traffic.others += " " + call.function;
    }
    return traffic;
}

Traffic recordTicks(Player& player, int count) {
    startRecordingApi(player.plugin().module());
    clearRecordedCalls();
    for (int i = 0; i < count; ++i)
        player.tick();
    return recordedTraffic();
}

std::string describe(const Traffic& traffic, int ticks) {
    return format("%d ticks: %zu broadcasts, %zu play-state queries, %zu others%s", ticks,
                  traffic.broadcasts, traffic.playStateQueries,
                  traffic.calls - traffic.broadcasts - traffic.playStateQueries,
                  traffic.others.c_str());
}

// Exactly one broadcast a tick, at most the poll after it, nothing else.
bool oneBroadcastEach(const Traffic& traffic, int ticks) {
    const auto n = static_cast<std::size_t>(ticks);
    return traffic.broadcasts == n && traffic.playStateQueries <= n &&
           traffic.calls == traffic.broadcasts + traffic.playStateQueries;
}

double bareBroadcast(HWND from) {
    static const UINT discover = RegisterWindowMessageA(kSkypeDiscoverMessageName);
    DWORD_PTR result = 0;
    return timed([&] {
        SendMessageTimeoutA(HWND_BROADCAST, discover, reinterpret_cast<WPARAM>(from), 0, kSendFlags,
                            kSkypeWaitBoundMs, &result);
    });
}

BOOL CALLBACK countWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int topLevelWindows() {
    int count = 0;
    EnumWindows(countWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// A program of another thread whose top-level window stops answering: its
// thread waits on an event and does not look at its queue meanwhile.
class HungWindow {
  public:
    HungWindow()
        : ready_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
          release_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
          thread_(CreateThread(nullptr, 0, run, this, 0, &threadId_)) {
        WaitForSingleObject(ready_, INFINITE);
    }
    ~HungWindow() {
        SetEvent(release_);
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(release_);
        CloseHandle(ready_);
    }
    HungWindow(const HungWindow&) = delete;
    HungWindow& operator=(const HungWindow&) = delete;

    // Returns once the thread has stopped pumping.
    void hang() {
        PostThreadMessageA(threadId_, kHangMessage, 0, 0);
        WaitForSingleObject(ready_, INFINITE);
    }
    void release() { SetEvent(release_); }

  private:
    static constexpr UINT kHangMessage = WM_APP;

    static DWORD WINAPI run(void* self) {
        auto* hung = static_cast<HungWindow*>(self);
        const HWND window = CreateWindowExA(0, "STATIC", "Bench hung program", WS_OVERLAPPED, 0, 0,
                                            10, 10, nullptr, nullptr, nullptr, nullptr);
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue
        SetEvent(hung->ready_);
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (message.hwnd == nullptr && message.message == kHangMessage) {
                SetEvent(hung->ready_);
                WaitForSingleObject(hung->release_, INFINITE);
            }
            DispatchMessageA(&message);
        }
        DestroyWindow(window);
        return 0;
    }

    HANDLE ready_ = nullptr;
    HANDLE release_ = nullptr;
    DWORD threadId_ = 0; // before thread_: CreateThread fills it in
    HANDLE thread_ = nullptr;
};

// Skype attached, gone, and waiting for the user's permission: what a tick
// sends. The plug-in's calls are recorded, so nothing here is timed.
void countTicks(const Options& options, Report& report) {
    const int n = options.ticks;
    {
        ReceiverStage stage(PluginKind::Tralmo);
        if (!stage.attached) {
            report.problem("discovery: the plug-in did not attach to the receiver");
            return;
        }
        const long before = stage.receiver.received();
        const Traffic attached = recordTicks(stage.player, n);
        const long got = stage.receiver.received() - before;
        report.add({"3a", "idle, Skype attached: what timer ticks send",
                    format("%zu calls in %d ticks", attached.calls, n),
                    format("Skype got %ld", got), "", "nothing",
                    holds(attached.calls == 0 && got == 0)});
    }
    {
        Scene scene;
        Player player(PluginKind::Tralmo);
        const Traffic searching = recordTicks(player, n);
        report.add({"3b", "idle, no Skype: what timer ticks send", describe(searching, n), "", "",
                    "1 broadcast (+ poll) a tick", holds(oneBroadcastEach(searching, n))});
    }
    Scene scene;
    Player player(PluginKind::Tralmo);
    standin_skype::Config config;
    config.client = player.host();
    config.attachStatus = standin_skype::kAttachPendingAuthorization;
    standin_skype::Running skype(config);
    const Traffic pending = recordTicks(player, n);
    const unsigned seen = standin_skype::snapshot().discovers;
    report.add({"3c", "idle, Skype awaiting the user's permission", describe(pending, n),
                format("Skype saw %u Discover", seen), "", "1 broadcast (+ poll) a tick",
                holds(skype.started() && oneBroadcastEach(pending, n) &&
                      seen == static_cast<unsigned>(n))});
}

// Interleaved: the plug-in's tick against a bare broadcast.
Samples tickAgainstBroadcast(const Options& options, const Player& player, HWND floorWindow) {
    const std::vector<std::function<double()>> sides = {
        [&] { return timed([&] { player.tick(); }); },
        [&] { return bareBroadcast(floorWindow); },
    };
    alternate(1, 2, sides);
    return alternate(options.rounds, options.ticks, sides);
}

void timeTicks(const Options& options, Report& report) {
    Scene scene;
    Player player(PluginKind::Tralmo);
    const HWND floorWindow = createHostWindow("Bench broadcaster");
    if (!scene.ok() || !player.ok() || floorWindow == nullptr) {
        report.problem("discovery: cannot set up the player");
        DestroyWindow(floorWindow);
        return;
    }
    const int windows = topLevelWindows();
    const Samples samples = tickAgainstBroadcast(options, player, floorWindow);
    const double n = options.ticks;
    const Summary tick = summarize(perOperation(samples[0], n));
    const Summary bare = summarize(perOperation(samples[1], n));
    const Summary ratio = summarize(ratios(samples[0], samples[1]));
    report.add({"3d", "tick, no Skype: Discover broadcast vs bare broadcast",
                formatDuration(tick.median), formatDuration(bare.median), formatRatio(ratio),
                format("<= %.2f", kTargetAgainstBare), atMost(ratio.median, kTargetAgainstBare)});
    report.add({"3e", format("  per top-level window (%d windows)", windows),
                formatDuration(tick.median / windows), formatDuration(bare.median / windows), "",
                "", Verdict::Info});

    // A program hangs: the first broadcast waits for each of its thread's
    // windows; once the system counts it as hung, broadcasts pass it by.
    HungWindow program;
    const double bound = kWindowsOfAHungThread * kSkypeWaitBoundMs / 1000.0;
    program.hang();
    const double hangStart = now();
    const double first = timed([&] { player.tick(); });
    const double firstBare = bareBroadcast(floorWindow);
    report.add({"3f", "tick, one program just hung: first broadcast", formatDuration(first),
                formatDuration(firstBare), "", format("<= %.1f s", bound * kBoundSlack),
                atMost(first, bound * kBoundSlack)});
    const double settled = hangStart + (kHungAfterMs + kHungMarginMs) / 1000.0;
    if (now() < settled)
        Sleep(static_cast<DWORD>((settled - now()) * 1000));
    const Samples hung = tickAgainstBroadcast(options, player, floorWindow);
    const Summary hungRatio = summarize(ratios(hung[0], hung[1]));
    report.add({"3g", "  once it counts as hung: tick vs bare broadcast",
                formatDuration(summarize(perOperation(hung[0], n)).median),
                formatDuration(summarize(perOperation(hung[1], n)).median), formatRatio(hungRatio),
                format("<= %.2f", kTargetAgainstBare),
                atMost(hungRatio.median, kTargetAgainstBare)});
    program.release();
    DestroyWindow(floorWindow);
}

} // namespace

void measureDiscovery(const Options& options, Report& report) {
    countTicks(options, report);
    timeTicks(options, report);
}

} // namespace bench
