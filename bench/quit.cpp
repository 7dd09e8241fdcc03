// Quit while what it waits for hangs: the shell over the exit mood's tooltip
// and Skype over the exit mood, or another program over the Discover
// broadcast on its way. Timed from the host's call until it returns, beside a
// tray icon of the player's own, so that Wine's slow removal of a process's
// last icon does not count.
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "api_recorder.h"
#include "busy_program.h"
#include "standin_skype.h"

#include <algorithm>
#include <functional>

namespace bench {
namespace {

constexpr double kQuitTargetSeconds = 1.5;
constexpr int kQuitRounds = 3;
// Skype hangs past quit's bound, short of counting as hung.
constexpr DWORD kSkypeHangMs = 4000;
constexpr UINT kPlayerIconId = 78;

// The seconds the host's call to quit took, or a negative number when the
// stage did not come up.
using Stage = std::function<double()>;

double quitTimed(Player& player) {
    return timed([&] { player.plugin().quit(); });
}

double quitWhileSkypeAndTheShellHang() {
    Scene scene;
    standin_skype::Config config;
    config.clientProcess = GetCurrentProcessId();
    standin_skype::Running skype(config);
    Player player(PluginKind::Tralmo);
    if (!scene.ok() || !skype.started() || !player.ok() ||
        standin_skype::snapshot().attachedClient != player.skypeClient())
        return -1;
    TrayIcon own(player.host(), kPlayerIconId);
    if (!hookImport(player.plugin().module(), reinterpret_cast<const void*>(&Shell_NotifyIconA)))
        return -1;
    hangShellUpdates(true);
    const LinkSends before = linkSends();
    player.songChange(1); // its tooltip hangs in the shell
    player.awaitSends(before, 1);
    standin_skype::waitFor(standin_skype::requestHang(kSkypeHangMs));
    const double seconds = quitTimed(player);
    hangShellUpdates(false);
    standin_skype::sync();
    return seconds;
}

double quitWhileABusyProgramHoldsTheBroadcast() {
    Scene scene;
    Player player(PluginKind::Tralmo);
    if (!scene.ok() || !player.ok())
        return -1;
    TrayIcon own(player.host(), kPlayerIconId);
    player.stopDiscoveryTimer();
    standin::BusyProgram busy; // in its first busy spell
    if (!busy.ok())
        return -1;
    player.tick();
    if (!pumpUntilLink([] { return linkSends().inFlight > 0; }, kLinkWaitBoundMs))
        return -1;
    return quitTimed(player);
}

Row worstOf(const char* id, const char* label, const Stage& stage, Report& report) {
    std::vector<double> seconds;
    for (int round = 0; round < kQuitRounds; ++round)
        seconds.push_back(stage());
    const double worst = *std::max_element(seconds.begin(), seconds.end());
    if (*std::min_element(seconds.begin(), seconds.end()) < 0) {
        report.problem(std::string("quit: ") + label + ": the stage did not come up");
        return {id, label, "not measured", "", "", "", Verdict::Failed};
    }
    return {id,
            label,
            format("worst %s, median %s", formatDuration(worst).c_str(),
                   formatDuration(summarize(seconds).median).c_str()),
            format("%d quits", kQuitRounds),
            "",
            format("<= %.1f s", kQuitTargetSeconds),
            atMost(worst, kQuitTargetSeconds)};
}

} // namespace

void measureQuit(const Options&, Report& report) {
    report.add(worstOf("7a",
                       "quit, the shell and Skype both hung: the host's call until it returns",
                       quitWhileSkypeAndTheShellHang, report));
    report.add(worstOf("7b",
                       "quit, the link's Discover broadcast held by a busy program: the host's "
                       "call until it returns",
                       quitWhileABusyProgramHoldsTheBroadcast, report));
}

} // namespace bench
