// Skype hangs while the player plays on: how long the player's thread is held
// in the hang (the first song change, whose mood meets the hung Skype, the
// discovery ticks while Skype is gone, and the link window's handling of what
// the plug-in's thread tells it meanwhile), where the waiting went instead (the plug-in's own
// thread), and how soon the playing song reaches Skype once it answers again.
// The stand-in Skype runs on a thread of its own; a hang is that thread not
// pumping.
#include "lean_plugin.h"
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "standin_skype.h"

namespace bench {
namespace {

// The player's thread in one hang, whatever Skype does.
constexpr double kHangTargetSeconds = 0.010;
// Wine counts a thread hung once it has not looked at its queue this long;
// the second tick comes after it, with a margin.
constexpr DWORD kCountedHungAfterMs = 5000 + 500;
// Long enough for the first song and both ticks.
constexpr DWORD kHangMs = 8 * kSkypeWaitBoundMs;

BOOL CALLBACK countWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

// The top-level windows of the thread that owns `window`: every one of them a
// broadcast waits for while the thread hangs but does not count as hung yet.
int windowsOfThreadOf(HWND window) {
    int count = 0;
    EnumThreadWindows(GetWindowThreadProcessId(window, nullptr), countWindow,
                      reinterpret_cast<LPARAM>(&count));
    return count;
}

// The plug-in attached through Skype's own answer to its first Discover, at
// init, and a song change reaches Skype.
bool attached(const Scene& scene, const Player& plugin) {
    if (standin_skype::snapshot().attachedClient != plugin.skypeClient())
        return false;
    const LinkSends song = linkSends();
    plugin.songChange(1);
    return plugin.awaitSends(song, 1) && skypeHolds(scene.expectedBytes(1));
}

// One tick, timed, and the broadcast it hands over given time to return.
double tickAndWait(const Player& plugin) {
    const LinkSends before = linkSends();
    const double seconds = timed([&] { plugin.tick(); });
    plugin.awaitSends(before, 1);
    return seconds;
}

} // namespace

void measureHungSkype(const Options&, Report& report) {
    Scene scene;
    standin_skype::Config config;
    config.clientProcess = GetCurrentProcessId();
    standin_skype::Running skype(config);
    Player plugin(PluginKind::Tralmo);
    if (!scene.ok() || !plugin.ok() || !skype.started() || !attached(scene, plugin)) {
        report.problem("hung Skype: the plug-in did not attach to the stand-in Skype");
        return;
    }
    plugin.stopDiscoveryTimer(); // ticks come when the bench says, until Skype is back
    const int skypeWindows = windowsOfThreadOf(standin_skype::skypeWindow());
    standin_skype::waitFor(standin_skype::requestHang(kHangMs));
    const double hangStart = now();
    const double hangEnd = hangStart + kHangMs / 1000.0;
    const LinkSends atHang = linkSends();
    const double handledAtHang = linkWindowSeconds();

    // The first song meets the hung Skype: the plug-in's thread waits for it.
    const std::size_t song = 2;
    const double first = timed([&] { plugin.songChange(song); });

    // Once the first song's send gave up, the plug-in searches: a tick while
    // Skype's thread hangs but is not counted hung (the broadcast waits for
    // each of its windows), and one after.
    plugin.awaitSends(atHang, 1);
    const double sendWaited = linkSends().seconds - atHang.seconds;
    const double tickWhileHanging = tickAndWait(plugin);
    const double broadcastWaited = linkSends().seconds - atHang.seconds - sendWaited;
    const double hungAt = hangStart + kCountedHungAfterMs / 1000.0;
    if (now() < hungAt)
        pumpForLink(static_cast<DWORD>((hungAt - now()) * 1000) + 1);
    const double tickWhenHung = tickAndWait(plugin);
    plugin.settle();
    const double notices = linkWindowSeconds() - handledAtHang;
    if (now() > hangEnd)
        report.problem("hung Skype: the hang was over before the last tick; 6a-6b mislead");
    const double blocked = first + tickWhileHanging + tickWhenHung + notices;
    const double waited = linkSends().seconds - atHang.seconds;
    report.add({"6a", "Skype hangs: player's thread held, first song change and ticks together",
                formatDuration(blocked), "the plug-in's thread waited " + formatDuration(waited),
                "", format("<= %.0f ms", kHangTargetSeconds * 1000),
                atMost(blocked, kHangTargetSeconds)});
    report.add({"6b", "  of 6a: first song / tick while hanging / tick once hung / link window",
                formatDuration(first) + " / " + formatDuration(tickWhileHanging) + " / " +
                    formatDuration(tickWhenHung) + " / " + formatDuration(notices),
                format("waits: send %s, broadcast %s (Skype's thread: %d windows)",
                       formatDuration(sendWaited).c_str(), formatDuration(broadcastWaited).c_str(),
                       skypeWindows),
                "", "", Verdict::Info});

    // The player's loop runs as usual, its timer included, until Skype holds
    // the song that plays.
    const std::string& playing = scene.expectedBytes(song);
    const std::size_t seen = standin_skype::recordCount();
    if (now() < hangEnd)
        pumpForLink(static_cast<DWORD>((hangEnd - now()) * 1000) + 1);
    plugin.restartDiscoveryTimer();
    const double back = now();
    const DWORD limitMs = kDiscoveryPeriodMs + kSkypeWaitBoundMs;
    const bool arrived =
        pumpUntilLink([&] { return skypeHolds(playing, seen); }, 2 * limitMs, kLinkQuietMs);
    const double delay = now() - back;
    const double limit = limitMs / 1000.0;
    report.add({"6c", "  Skype answers again: until it holds the playing song",
                arrived ? formatDuration(delay) : std::string("never"),
                format("timer %.0f s", kDiscoveryPeriodMs / 1000.0), "", format("<= %.1f s", limit),
                arrived ? atMost(delay, limit) : Verdict::Failed});
}

} // namespace bench
