// What every message of the player's main window pays for passing through
// HostHook, against a subclass that does nothing but hand it on.
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "host/host_api.h"

#include <algorithm>

namespace bench {
namespace {

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

constexpr LPARAM kUnknownQuery = 4242;
constexpr WPARAM kOtherTimerId = 1;

// Messages HostHook looks at and hands on: a query it does not know, another
// timer's tick, and the commonest message of all.
constexpr Message kPassedOn[] = {
    {host::kWmUser, 0, kUnknownQuery},
    {WM_TIMER, kOtherTimerId, 0},
    {WM_MOUSEMOVE, 0, MAKELPARAM(20, 10)},
};
constexpr std::size_t kKinds = sizeof kPassedOn / sizeof kPassedOn[0];

WNDPROC gFloorPrevious = nullptr;

LRESULT CALLBACK doNothingSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(gFloorPrevious, window, message, wParam, lParam);
}

double sendAll(HWND window, int count) {
    volatile LRESULT sink = 0;
    return timed([&] {
        for (int i = 0; i < count; ++i) {
            const Message& m = kPassedOn[static_cast<std::size_t>(i) % kKinds];
            sink = sink + SendMessageA(window, m.message, m.wParam, m.lParam);
        }
    });
}

// The hook must hand each message on and return the host's answer unchanged.
bool answersAlike(HWND hooked, HWND bare) {
    for (const Message& m : kPassedOn) {
        if (SendMessageA(hooked, m.message, m.wParam, m.lParam) !=
            SendMessageA(bare, m.message, m.wParam, m.lParam))
            return false;
    }
    return true;
}

} // namespace

void measureHookOverhead(const Options& options, Report& report) {
    Scene scene;
    Player player(PluginKind::Tralmo);
    if (!scene.ok() || !player.ok()) {
        report.problem("hook overhead: " + scene.error() + player.error());
        return;
    }
    const HWND hooked = player.host();
    const HWND floorWindow = createHostWindow("Bench floor");
    const HWND bare = createHostWindow("Bench bare");
    gFloorPrevious = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        floorWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&doNothingSubclass)));
    if (!answersAlike(hooked, bare) || !answersAlike(floorWindow, bare))
        report.problem("hook overhead: a passed-on message came back with another answer");

    const int slice = options.hookSlice;
    const int slices = std::max(1, options.hookMessages / slice);
    const double n = static_cast<double>(slices) * slice;
    const std::vector<std::function<double()>> sides = {
        [&] { return sendAll(hooked, slice); },
        [&] { return sendAll(floorWindow, slice); },
        [&] { return sendAll(bare, slice); },
    };
    alternate(1, slices / 10, sides); // warm-up
    const Samples samples = alternate(options.rounds, slices, sides);
    const Summary plugin = summarize(perOperation(samples[0], n));
    const Summary floor = summarize(perOperation(samples[1], n));
    const Summary none = summarize(perOperation(samples[2], n));
    const Summary overFloor = summarize(ratios(samples[0], samples[1]));
    const Summary overNone = summarize(ratios(samples[0], samples[2]));
    constexpr double kTarget = 1.05;
    report.add({"1a", "hook: passed-on message vs do-nothing subclass",
                formatDuration(plugin.median), formatDuration(floor.median), formatRatio(overFloor),
                format("<= %.2f", kTarget), atMost(overFloor.median, kTarget)});
    report.add({"1b", "hook: passed-on message vs no subclass", formatDuration(plugin.median),
                formatDuration(none.median), formatRatio(overNone), "", Verdict::Info});

    SetWindowLongPtrA(floorWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gFloorPrevious));
    DestroyWindow(floorWindow);
    DestroyWindow(bare);
}

} // namespace bench
