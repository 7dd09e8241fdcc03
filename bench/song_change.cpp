// A song change: from the host's "song started" callback until Skype holds
// the mood command, for the plug-in and for the lean reference, both sending
// to the lean receiver in its own process, against a bare WM_COPYDATA of the
// same bytes to it. The unavoidable pieces are timed in the same rounds.
#include "lean_plugin.h"
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "host/host_api.h"
#include "settings/settings.h"

#include <functional>
#include <vector>

namespace bench {
namespace {

constexpr double kTargetAgainstLean = 1.05;
constexpr UINT kSendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;
constexpr UINT kPieceIconId = 77;

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
    HWND plain = createHostWindow("Bench plain host"); // no plug-in: the pieces
    TrayIcon icon{plain, kPieceIconId};

    ~Stage() { DestroyWindow(plain); }

    // Everything up and both attached to the receiver; else what is not.
    std::string prepare() const {
        for (const std::string* error :
             {&scene.error(), &receiver.error(), &plugin.error(), &lean.error()})
            if (!error->empty())
                return *error;
        if (!attachToReceiver(plugin, receiver, scene))
            return "the plug-in did not attach to the receiver";
        if (!attachToReceiver(lean, receiver, scene))
            return "the lean reference did not attach to the receiver";
        return {};
    }
};

// Side k of the comparison, one operation a slice.
struct Sides {
    Stage& stage;
    bool allDelivered = true;
    std::size_t next[2] = {1, 1};
    std::size_t nextPiece = 1;

    double songChange(const Player& player, std::size_t& index) {
        const std::size_t song = index++;
        const long before = stage.receiver.received();
        const double seconds = timed([&] { player.songChange(song); });
        allDelivered =
            allDelivered && stage.receiver.gotOnly(before, stage.scene.expectedBytes(song));
        return seconds;
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

enum Side { PluginSide, LeanSide, BareSide, IniSide, TipSide, QuerySide };

Row pieceRow(const char* id, const char* name, const Samples& samples, Side side, int k) {
    return {id,
            name,
            formatDuration(summarize(perOperation(samples[side], k)).median),
            "of the lean reference",
            formatRatio(summarize(ratios(samples[side], samples[LeanSide]))),
            "",
            Verdict::Info};
}

} // namespace

void measureSongChange(const Options& options, Report& report) {
    Stage stage;
    const std::string error = stage.prepare();
    if (!error.empty()) {
        report.problem("song change: " + error);
        return;
    }
    Sides run{stage};
    const std::vector<std::function<double()>> sides = {
        [&] { return run.songChange(stage.plugin, run.next[0]); },
        [&] { return run.songChange(stage.lean, run.next[1]); },
        [&] { return run.bareSend(); },
        [&] { return run.iniRead(); },
        [&] { return run.tipUpdate(); },
        [&] { return run.hostQueries(); },
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
    report.add({"2a", "song change: callback 3003 to bytes at Skype vs lean reference",
                formatDuration(plugin.median), formatDuration(lean.median), formatRatio(overLean),
                format("<= %.2f", kTargetAgainstLean),
                atMost(overLean.median, kTargetAgainstLean)});
    report.add({"2b", "song change vs bare WM_COPYDATA to the lean receiver",
                formatDuration(plugin.median), formatDuration(bare.median),
                formatRatio(summarize(ratios(samples[PluginSide], samples[BareSide]))), "",
                Verdict::Info});
    report.add({"2c", "  lean reference vs bare WM_COPYDATA", formatDuration(lean.median),
                formatDuration(bare.median),
                formatRatio(summarize(ratios(samples[LeanSide], samples[BareSide]))), "",
                Verdict::Info});
    report.add({"2d", "  song changes per second", format("%.0f /s", 1 / plugin.median),
                format("%.0f /s", 1 / lean.median), "", "", Verdict::Info});
    report.add(pieceRow("2e", "  piece: WM_COPYDATA to another process", samples, BareSide, k));
    report.add(pieceRow("2f", "  piece: template read from the ini file", samples, IniSide, k));
    report.add(pieceRow("2g", "  piece: tray tooltip update", samples, TipSide, k));
    report.add(pieceRow("2h", "  piece: host queries 125, 213, 212, 1334", samples, QuerySide, k));
    std::vector<double> pieces(samples[BareSide].size(), 0.0);
    for (Side side : {BareSide, IniSide, TipSide, QuerySide})
        for (std::size_t round = 0; round < pieces.size(); ++round)
            pieces[round] += samples[side][round];
    report.add({"2i", "  the pieces together, against the lean reference",
                formatDuration(summarize(perOperation(pieces, k)).median),
                formatDuration(lean.median),
                formatRatio(summarize(ratios(pieces, samples[LeanSide]))), "", Verdict::Info});
}

} // namespace bench
