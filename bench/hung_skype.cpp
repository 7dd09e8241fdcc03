// Skype hangs while the player plays on: what the first song change, the
// later ones and the next discovery tick cost the player, and how soon the
// playing song reaches Skype once it answers again. The stand-in Skype runs
// on a thread of its own; a hang is that thread not pumping.
#include "lean_plugin.h"
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "standin_player.h"
#include "standin_skype.h"

#include <functional>

namespace bench {
namespace {

constexpr double kTargetAgainstLean = 1.05;
constexpr int kLaterSongsPerRound = 5;
constexpr DWORD kAttachWaitMs = 5000;

double boundSeconds() {
    return kSkypeWaitBoundMs / 1000.0;
}

// The plug-in attached through Skype's own answer to its Discover, the lean
// reference through an Attach naming the same window.
bool attachBoth(const Scene& scene, const Player& plugin, const Player& lean) {
    standin_skype::clearHistory();
    plugin.tick();
    const HWND skype = standin_skype::skypeWindow();
    lean.attachReply(skype);
    standin::pumpFor(0);
    plugin.songChange(1);
    lean.songChange(2);
    return standin::pumpUntil(
        [&] { return skypeHolds(scene.expectedBytes(1)) && skypeHolds(scene.expectedBytes(2)); },
        kAttachWaitMs);
}

} // namespace

void measureHungSkype(const Options& options, Report& report) {
    Scene scene;
    Player plugin(PluginKind::Tralmo);
    Player lean(PluginKind::Lean);
    standin_skype::Config config;
    config.client = plugin.host();
    standin_skype::Running skype(config);
    if (!scene.ok() || !plugin.ok() || !lean.ok() || !skype.started() ||
        !attachBoth(scene, plugin, lean)) {
        report.problem("hung Skype: the players did not attach to the stand-in Skype");
        return;
    }
    const double bound = boundSeconds();
    // Long enough for both first songs, the later ones and the tick to meet it hung.
    const DWORD hangMs = 8 * kSkypeWaitBoundMs;
    standin_skype::waitFor(standin_skype::requestHang(hangMs));
    const double hangEnd = now() + hangMs / 1000.0;

    std::size_t song = 3;
    const double first = timed([&] { plugin.songChange(song); });
    const double leanFirst = timed([&] { lean.songChange(song); });
    report.add({"6a", "Skype hangs: the first song change", formatDuration(first),
                formatDuration(leanFirst), "", format("<= %.1f s", bound * kBoundSlack),
                atMost(first, bound * kBoundSlack)});

    const std::vector<std::function<double()>> sides = {
        [&] { return timed([&] { plugin.songChange(++song); }); },
        [&] { return timed([&] { lean.songChange(song); }); },
    };
    const Samples later = alternate(options.rounds, kLaterSongsPerRound, sides);
    const Summary ratio = summarize(ratios(later[0], later[1]));
    report.add({"6b", "  later song changes vs lean reference",
                formatDuration(summarize(perOperation(later[0], kLaterSongsPerRound)).median),
                formatDuration(summarize(perOperation(later[1], kLaterSongsPerRound)).median),
                formatRatio(ratio), format("<= %.2f", kTargetAgainstLean),
                atMost(ratio.median, kTargetAgainstLean)});

    const double tick = timed([&] { plugin.tick(); });
    const double tickBound = kWindowsOfAHungThread * bound * kBoundSlack;
    report.add({"6c", "  the next discovery tick", formatDuration(tick), "", "",
                format("<= %.1f s", tickBound), atMost(tick, tickBound)});
    if (now() > hangEnd) {
        report.problem("hung Skype: the hang was over before the tick; figures 6c-6d mislead");
        return;
    }

    // The player's loop runs as usual, its timer included, until Skype holds
    // the song that plays.
    const std::string& playing = scene.expectedBytes(song);
    const std::size_t seen = standin_skype::recordCount();
    standin::pumpFor(static_cast<DWORD>((hangEnd - now()) * 1000) + 1);
    const double back = now();
    const DWORD limitMs = kDiscoveryPeriodMs + kSkypeWaitBoundMs;
    const bool arrived = standin::pumpUntil([&] { return skypeHolds(playing, seen); }, 2 * limitMs);
    const double delay = now() - back;
    const double limit = limitMs / 1000.0;
    report.add({"6d", "  Skype answers again: until it holds the playing song",
                arrived ? formatDuration(delay) : std::string("never"),
                format("timer %.0f s", kDiscoveryPeriodMs / 1000.0), "", format("<= %.1f s", limit),
                arrived ? atMost(delay, limit) : Verdict::Failed});
}

} // namespace bench
