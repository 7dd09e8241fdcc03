// A song change: from the host's "song started" callback until Skype holds
// the mood command, against a bare WM_COPYDATA of the same bytes to the same
// Skype window. The composition's pieces are timed on their own in the same
// rounds, to tell where the difference goes.
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "mood/mood_text.h"
#include "host/host_api.h"
#include "settings/settings.h"
#include "skype/skype_link.h"
#include "standin_skype.h"
#include "ui/tray.h"

#include <shellapi.h>

#include <functional>
#include <memory>
#include <vector>

namespace bench {
namespace {

// The plug-in's send: bounded, and let through what others send us meanwhile.
constexpr UINT kSendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;
constexpr UINT kBenchIconId = 77;
constexpr UINT kBenchIconCallback = WM_APP + 77;
constexpr std::size_t kKeptRecords = 1000;

LRESULT sendBytes(HWND from, HWND to, const std::string& bytes) {
    COPYDATASTRUCT record{};
    record.cbData = static_cast<DWORD>(bytes.size());
    record.lpData = const_cast<char*>(bytes.data());
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(to, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                               reinterpret_cast<LPARAM>(&record), kSendFlags, kSkypeSendTimeoutMs,
                               &result);
}

// The text work of one composition as the plug-in does it: copies of title
// and template, the expansion, the conversion through UTF-16, the framing.
std::string composeLikeThePlugin(const std::string& titleText, const char* templateBuffer) {
    const std::string title = titleText;
    const std::string templateText = templateBuffer;
    const std::string command = composeMoodCommand(true, templateText, title, PlayState::Playing);
    const int units = static_cast<int>(command.size()) + 1;
    std::vector<wchar_t> wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, command.c_str(), units, wide.data(), units);
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.pop_back();
    return frameMoodBytes(utf8);
}

class TrayIcon {
  public:
    explicit TrayIcon(HWND window) {
        data_.cbSize = kNotifyIconDataSize;
        data_.hWnd = window;
        data_.uID = kBenchIconId;
        data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        data_.uCallbackMessage = kBenchIconCallback;
        data_.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
        lstrcpynA(data_.szTip, "Bench", sizeof data_.szTip);
        Shell_NotifyIconA(NIM_ADD, &data_);
    }
    ~TrayIcon() { Shell_NotifyIconA(NIM_DELETE, &data_); }
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // As the plug-in sets its tooltip: the tip alone, at most 127 characters.
    void setTip(const char* text) {
        data_.uFlags = NIF_TIP;
        lstrcpynA(data_.szTip, text, kTrayTipMaxChars + 1);
        Shell_NotifyIconA(NIM_MODIFY, &data_);
    }

  private:
    NOTIFYICONDATAA data_{};
};

} // namespace

void measureSongChange(const Options& options, Report& report) {
    Session session;
    if (!session.ok()) {
        report.problem("song change: " + session.error());
        return;
    }
    const HWND host = session.host();
    const HWND skype = standin_skype::skypeWindow();
    const int k = options.songChanges;
    const std::string& ini = session.iniPath();
    const std::vector<std::string>& titles = hostState().titles;
    const HWND iconWindow = createHostWindow("Bench tray");
    auto icon = std::make_unique<TrayIcon>(iconWindow);
    bool allDelivered = true;
    std::size_t nextSong = 1;
    std::size_t nextBare = 1;
    std::size_t nextTip = 1;
    std::size_t nextText = 1;

    // One operation per slice; Skype's records are checked outside the timing.
    const auto songChange = [&] {
        if (standin_skype::recordCount() > kKeptRecords)
            standin_skype::clearHistory();
        const std::size_t before = standin_skype::recordCount();
        const std::size_t index = nextSong++;
        const double seconds = timed([&] { session.songChange(index); });
        const auto received = standin_skype::records(before);
        allDelivered = allDelivered && received.size() == 1 &&
                       std::string(received[0].bytes.begin(), received[0].bytes.end()) ==
                           session.expectedBytes(index);
        return seconds;
    };
    const auto bareSend = [&] {
        const std::string& bytes = session.expectedBytes(nextBare++);
        return timed([&] { sendBytes(host, skype, bytes); });
    };
    const auto iniRead = [&] {
        char buffer[kIniTextBufferSize];
        return timed([&] {
            GetPrivateProfileStringA(kIniSection, kKeyUserString, kComposerDefaultTemplate, buffer,
                                     kIniTextBufferSize, ini.c_str());
        });
    };
    const auto tipUpdate = [&] {
        const char* title = titles[nextTip++ % titles.size()].c_str();
        return timed([&] { icon->setTip(title); });
    };
    const auto hostQueries = [&] {
        volatile LRESULT sink = 0;
        return timed([&] {
            const LRESULT position =
                SendMessageA(host, host::kWmUser, 0, host::kQueryPlaylistPosition);
            sink = sink + SendMessageA(host, host::kWmUser, static_cast<WPARAM>(position),
                                       host::kQueryEntryTitle);
            sink = sink + SendMessageA(host, host::kWmUser, 0, host::kQueryIniPath);
        });
    };
    const auto textWork = [&] {
        const std::string& title = titles[nextText++ % titles.size()];
        std::size_t size = 0;
        const double seconds =
            timed([&] { size = composeLikeThePlugin(title, kBenchTemplate).size(); });
        return size != 0 ? seconds : 0.0;
    };

    const std::vector<std::function<double()>> sides = {songChange, bareSend,    iniRead,
                                                        tipUpdate,  hostQueries, textWork};
    alternate(1, 20, sides); // warm-up: the profile cache, the paths through Wine
    const Samples samples = alternate(options.rounds, k, sides);
    if (!allDelivered)
        report.problem("song change: Skype did not receive exactly the expected command per song");
    standin_skype::clearHistory();

    const Summary plugin = summarize(perOperation(samples[0], k));
    const Summary floor = summarize(perOperation(samples[1], k));
    const Summary ratio = summarize(ratios(samples[0], samples[1]));
    report.add({"2a", "song change: callback 3003 to bytes at Skype vs bare WM_COPYDATA",
                formatDuration(plugin.median), formatDuration(floor.median), formatRatio(ratio),
                "<= 1.5", atMost(ratio.median, 1.5)});
    report.add({"2b", "song change: compositions per second", format("%.0f /s", 1 / plugin.median),
                format("%.0f /s", 1 / floor.median), "", "", Verdict::Info});

    struct Piece {
        const char* id;
        const char* name;
        std::size_t side;
    };
    const Piece pieces[] = {
        {"2c", "  piece: template read from the ini file", 2},
        {"2d", "  piece: tray tooltip update", 3},
        {"2e", "  piece: host queries 125, 212, 334", 4},
        {"2f", "  piece: text, UTF-8 conversion, framing", 5},
    };
    std::vector<double> explained = samples[1];
    for (const Piece& piece : pieces) {
        const Summary time = summarize(perOperation(samples[piece.side], k));
        report.add({piece.id, piece.name, formatDuration(time.median), "of the floor",
                    formatRatio(summarize(ratios(samples[piece.side], samples[1]))), "",
                    Verdict::Info});
        for (std::size_t r = 0; r < explained.size(); ++r)
            explained[r] += samples[piece.side][r];
    }
    report.add({"2g", "  floor + pieces, against the whole song change",
                formatDuration(summarize(perOperation(explained, k)).median),
                formatDuration(plugin.median),
                formatRatio(summarize(ratios(explained, samples[0]))), "", Verdict::Info});
    icon.reset();
    DestroyWindow(iconWindow);
}

} // namespace bench
