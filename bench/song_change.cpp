// A song change as the player's thread pays for it: from the host's "song
// started" callback until it returns, for the plug-in (whose own thread then
// sends to Skype) and for the lean reference (which sends before it returns),
// both to the lean receiver in its own process. Beside them: how soon the
// plug-in's send returns, a bare WM_COPYDATA of the same bytes, and the
// pieces a song change cannot do without, in the same rounds. Then a burst of
// song changes into a slow Skype, against the same burst with no Skype known.
#include "lean_plugin.h"
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "host/host_api.h"
#include "settings/settings.h"
#include "skype/skype_link.h"

#include <functional>
#include <vector>

namespace bench {
namespace {

// Handing the mood over must save the player most of the round trip, and
// cost it no more than the leanest plug-in that hands over too.
constexpr double kTargetAgainstLean = 0.2;
constexpr double kTargetAgainstLeanHandOver = 1.0;
constexpr UINT kSendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;
constexpr UINT kPieceIconId = 77;
// The burst: song changes as fast as the player's thread makes them, into a
// Skype that takes this long over each command.
constexpr int kBurstSongs = 1000;
constexpr DWORD kSlowSkypeMs = 5;
constexpr double kTargetBurstAgainstAlone = 1.2;

void sendBytes(HWND from, HWND to, const std::string& bytes) {
    COPYDATASTRUCT record{};
    record.cbData = static_cast<DWORD>(bytes.size());
    record.lpData = const_cast<char*>(bytes.data());
    DWORD_PTR result = 0;
    SendMessageTimeoutA(to, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                        reinterpret_cast<LPARAM>(&record), kSendFlags, kSkypeWaitBoundMs, &result);
}

// The players and windows of the comparison.
struct Stage {
    Scene scene;
    Receiver receiver;
    Player plugin{PluginKind::Tralmo};
    Player lean{PluginKind::Lean};
    Player leanHandOver{PluginKind::LeanHandOver};
    HWND plain = createHostWindow("Bench plain host"); // no plug-in: the pieces
    TrayIcon icon{plain, kPieceIconId};

    ~Stage() { DestroyWindow(plain); }

    // Everything up and both attached to the receiver; else what is not.
    std::string prepare() const {
        for (const std::string* error : {&scene.error(), &receiver.error(), &plugin.error(),
                                         &lean.error(), &leanHandOver.error()})
            if (!error->empty())
                return *error;
        if (!attachToReceiver(plugin, receiver, scene))
            return "the plug-in did not attach to the receiver";
        if (!attachToReceiver(lean, receiver, scene) ||
            !attachToReceiver(leanHandOver, receiver, scene))
            return "a lean reference did not attach to the receiver";
        return {};
    }
};

// Side k of the comparison, one operation a slice.
struct Sides {
    Stage& stage;
    bool allDelivered = true;
    std::size_t next[3] = {1, 1, 1};
    std::size_t nextPiece = 1;

    // The player's thread: from the callback until it returns. The plug-in's
    // send then leaves on its own thread; the next song change waits for it,
    // untimed, as a listener's next song does.
    double songChange(const Player& player, std::size_t& index) {
        const std::size_t song = index++;
        const long before = stage.receiver.received();
        const LinkSends sends = linkSends();
        const double seconds = timed([&] { player.songChange(song); });
        allDelivered = allDelivered && player.awaitSends(sends, 1) &&
                       stage.receiver.gotOnly(before, stage.scene.expectedBytes(song));
        return seconds;
    }
    // The plug-in: from the callback until its thread's send to Skype
    // returned (the receiver holds the bytes by then).
    double untilSent() {
        const std::size_t song = next[0]++;
        const long before = stage.receiver.received();
        const LinkSends sends = linkSends();
        const double start = now();
        stage.plugin.songChange(song);
        const bool sent = stage.plugin.awaitSends(sends, 1);
        allDelivered =
            allDelivered && sent && stage.receiver.gotOnly(before, stage.scene.expectedBytes(song));
        return linkSends().lastReturned - start;
    }
    double bareSend() {
        const std::string& bytes = stage.scene.expectedBytes(nextPiece++);
        const long before = stage.receiver.received();
        const double seconds =
            timed([&] { sendBytes(stage.plain, stage.receiver.window(), bytes); });
        allDelivered = allDelivered && stage.receiver.gotOnly(before, bytes);
        return seconds;
    }
    double iniRead() const {
        wchar_t section[32] = {};
        wchar_t key[32] = {};
        MultiByteToWideChar(CP_ACP, 0, kIniSection, -1, section, 32);
        MultiByteToWideChar(CP_ACP, 0, kKeyUserString, -1, key, 32);
        wchar_t buffer[kIniTextBufferSize];
        const wchar_t* path = hostState().wideIniPath.c_str();
        return timed(
            [&] { GetPrivateProfileStringW(section, key, L"", buffer, kIniTextBufferSize, path); });
    }
    // What the plug-in asks instead of reading an unchanged file.
    double iniStamp() const {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        FILETIME now{};
        const wchar_t* path = hostState().wideIniPath.c_str();
        return timed([&] {
            GetFileAttributesExW(path, GetFileExInfoStandard, &data);
            GetSystemTimeAsFileTime(&now);
        });
    }
    double tipUpdate() {
        const auto& titles = hostState().titles;
        const char* title = titles[nextPiece % titles.size()].c_str();
        return timed([&] { stage.icon.setTip(title); });
    }
    double hostQueries() const {
        const HWND host = stage.plain;
        volatile LRESULT sink = 0;
        return timed([&] {
            const auto position = static_cast<WPARAM>(
                SendMessageA(host, host::kWmUser, 0, host::kQueryPlaylistPosition));
            sink = sink + SendMessageA(host, host::kWmUser, position, host::kQueryEntryTitleWide);
            sink = sink + SendMessageA(host, host::kWmUser, position, host::kQueryEntryTitle);
            sink = sink + SendMessageA(host, host::kWmUser, 0, host::kQueryIniPathWide);
        });
    }
};

enum Side {
    PluginSide,
    LeanSide,
    SentSide,
    BareSide,
    IniSide,
    TipSide,
    QuerySide,
    StampSide,
    HandOverSide
};

Row pieceRow(const char* id, const char* name, const Samples& samples, Side side, int k) {
    return {id,
            name,
            formatDuration(summarize(perOperation(samples[side], k)).median),
            "of the lean reference",
            formatRatio(summarize(ratios(samples[side], samples[LeanSide]))),
            "",
            Verdict::Info};
}

// Each round's sum of the given sides.
std::vector<double> together(const Samples& samples, std::initializer_list<Side> sides) {
    std::vector<double> sum(samples[PluginSide].size(), 0.0);
    for (Side side : sides)
        for (std::size_t round = 0; round < sum.size(); ++round)
            sum[round] += samples[side][round];
    return sum;
}

// The burst: the plug-in attached to a slow Skype, against its twin (a second
// copy, state of its own) that knows no Skype, so that each of its moods is
// dropped at hand-over: composing alone. Their song changes interleave one by
// one, so that both meet the same machine, the plug-in's busy thread included.
struct Burst {
    Scene scene;
    Receiver receiver{kSlowSkypeMs};
    Player player{PluginKind::Tralmo};
    Player alone{PluginKind::Twin};
    std::size_t next = 1;
    std::vector<double> ratios; // per burst: the plug-in's total over its twin's
    std::vector<double> totals; // per burst: the plug-in's total
    std::vector<double> aloneTotals;
    std::vector<double> arrivals; // seconds from the burst's end until the last mood arrived
    std::vector<double> received; // moods Skype got from a burst
    bool allArrived = true;

    bool prepare() {
        if (!scene.ok() || !receiver.ok() || !player.ok() || !alone.ok() ||
            !attachToReceiver(player, receiver, scene))
            return false;
        player.stopDiscoveryTimer();
        alone.stopDiscoveryTimer();
        return true;
    }
    void run(int round) {
        const long before = receiver.received();
        const LinkSends sends = linkSends();
        double withSkype = 0;
        double composing = 0;
        for (int i = 0; i < kBurstSongs; ++i) {
            const std::size_t song = next++;
            const bool pluginFirst = (i + round) % 2 == 0;
            if (!pluginFirst)
                composing += timed([&] { alone.songChange(song); });
            withSkype += timed([&] { player.songChange(song); });
            if (pluginFirst)
                composing += timed([&] { alone.songChange(song); });
        }
        const double end = now();
        const std::string& last = scene.expectedBytes(next - 1);
        const bool arrived =
            pumpUntilLink([&] { return receiver.lastBlock() == last && linkSends().inFlight == 0; },
                          kLinkWaitBoundMs);
        allArrived = allArrived && arrived && linkSends().finished > sends.finished;
        arrivals.push_back(now() - end);
        received.push_back(static_cast<double>(receiver.received() - before));
        totals.push_back(withSkype);
        aloneTotals.push_back(composing);
        ratios.push_back(withSkype / composing);
    }
};

void measureBurst(const Options& options, Report& report) {
    Burst burst;
    if (!burst.prepare()) {
        report.problem("burst: cannot set up the plug-ins and the slow receiver");
        return;
    }
    for (int round = 0; round < options.rounds; ++round)
        burst.run(round);
    const Summary ratio = summarize(burst.ratios);
    report.add({"2k",
                format("burst of %d song changes, Skype answering in %lu ms: player's thread "
                       "vs composing alone",
                       kBurstSongs, kSlowSkypeMs),
                formatDuration(summarize(burst.totals).median),
                formatDuration(summarize(burst.aloneTotals).median), formatRatio(ratio),
                format("<= %.2f", kTargetBurstAgainstAlone),
                atMost(ratio.median, kTargetBurstAgainstAlone)});
    report.add({"2l", "  burst: the last song's mood reaches Skype",
                burst.allArrived ? format("after %s; Skype got %.0f moods of %d",
                                          formatDuration(summarize(burst.arrivals).median).c_str(),
                                          summarize(burst.received).median, kBurstSongs)
                                 : std::string("not always"),
                "", "", "every burst", holds(burst.allArrived)});
}

void measureOneAtATime(const Options& options, Stage& stage, Report& report) {
    Sides run{stage};
    const std::vector<std::function<double()>> sides = {
        [&] { return run.songChange(stage.plugin, run.next[0]); },
        [&] { return run.songChange(stage.lean, run.next[1]); },
        [&] { return run.untilSent(); },
        [&] { return run.bareSend(); },
        [&] { return run.iniRead(); },
        [&] { return run.tipUpdate(); },
        [&] { return run.hostQueries(); },
        [&] { return run.iniStamp(); },
        [&] { return run.songChange(stage.leanHandOver, run.next[2]); },
    };
    const int k = options.songChanges;
    alternate(1, k / 5 + 1, sides); // warm-up: the profile cache, the paths through Wine
    const Samples samples = alternate(options.rounds, k, sides);
    if (!run.allDelivered)
        report.problem("song change: the receiver did not get exactly the expected command per "
                       "song");

    const Summary plugin = summarize(perOperation(samples[PluginSide], k));
    const Summary lean = summarize(perOperation(samples[LeanSide], k));
    const Summary bare = summarize(perOperation(samples[BareSide], k));
    const Summary overLean = summarize(ratios(samples[PluginSide], samples[LeanSide]));
    report.add({"2a",
                "song change, player's thread: callback 3003 until it returns, vs lean "
                "reference (sends synchronously)",
                formatDuration(plugin.median), formatDuration(lean.median), formatRatio(overLean),
                format("<= %.2f", kTargetAgainstLean),
                atMost(overLean.median, kTargetAgainstLean)});
    const Summary overHandOver = summarize(ratios(samples[PluginSide], samples[HandOverSide]));
    report.add({"2b",
                "song change, player's thread, vs a lean reference that hands its tooltip and "
                "command to a thread of its own",
                formatDuration(plugin.median),
                formatDuration(summarize(perOperation(samples[HandOverSide], k)).median),
                formatRatio(overHandOver), format("<= %.2f", kTargetAgainstLeanHandOver),
                atMost(overHandOver.median, kTargetAgainstLeanHandOver)});
    report.add({"2c", "  until the plug-in's thread's send to Skype returned, vs lean reference",
                formatDuration(summarize(perOperation(samples[SentSide], k)).median),
                formatDuration(lean.median),
                formatRatio(summarize(ratios(samples[SentSide], samples[LeanSide]))), "",
                Verdict::Info});
    report.add({"2d", "  lean reference vs bare WM_COPYDATA", formatDuration(lean.median),
                formatDuration(bare.median),
                formatRatio(summarize(ratios(samples[LeanSide], samples[BareSide]))), "",
                Verdict::Info});
    report.add(pieceRow("2e", "  piece: WM_COPYDATA to another process", samples, BareSide, k));
    report.add(pieceRow("2f", "  piece: template read from the ini file", samples, IniSide, k));
    report.add(pieceRow("2g", "  piece: tray tooltip update", samples, TipSide, k));
    report.add(pieceRow("2h", "  piece: host queries 125, 213, 212, 1334", samples, QuerySide, k));
    report.add(pieceRow("2i",
                        "  piece: the ini file's stamp, checked instead of reading an "
                        "unchanged file",
                        samples, StampSide, k));
    // The pieces a synchronous song change waits for, against what the
    // player's thread pays now.
    const std::vector<double> synchronous =
        together(samples, {BareSide, IniSide, TipSide, QuerySide});
    report.add({"2j", "  2a vs the pieces a synchronous song change waits for (2e-2h)",
                formatDuration(plugin.median),
                formatDuration(summarize(perOperation(synchronous, k)).median),
                formatRatio(summarize(ratios(samples[PluginSide], synchronous))), "",
                Verdict::Info});
}

} // namespace

void measureSongChange(const Options& options, Report& report) {
    {
        Stage stage;
        const std::string error = stage.prepare();
        if (!error.empty()) {
            report.problem("song change: " + error);
            return;
        }
        measureOneAtATime(options, stage, report);
    }
    measureBurst(options, report);
}

} // namespace bench
