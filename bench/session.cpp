#include "session.h"

#include "mood/mood_text.h"
#include "host/host_api.h"
#include "settings/settings.h"
#include "standin_skype.h"

namespace bench {
namespace {

// A playlist of ordinary length and ordinary titles: each song change
// composes a different text, as it does for a listener.
std::vector<std::string> benchTitles() {
    static const char* const artists[] = {"Nadia Orlov", "The Quiet Engines", "Marek Halvorsen",
                                          "Lumen Drift"};
    static const char* const songs[] = {"Harbour Lights", "Paper Satellites (Live)", "Slow Morning",
                                        "Northbound, Part II"};
    std::vector<std::string> titles;
    for (const char* artist : artists)
        for (const char* song : songs)
            titles.push_back(std::string(artist) + " - " + song);
    return titles;
}

std::string iniContent() {
    return std::string("[Tralmo]\r\n") + kKeyUserString + "=" + kBenchTemplate + "\r\n";
}

std::string utf8FromAnsi(const std::string& ansi) {
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide.data(), units);
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}

} // namespace

Session::Session(const SessionOptions& options) : ini_(iniContent()) {
    if (!ini_.ok()) {
        error_ = "cannot create an ini file";
        return;
    }
    HostState& state = hostState();
    state.titles = benchTitles();
    state.position = 0;
    state.playState = host::kStatePlaying;
    state.iniPath = ini_.path();
    for (const std::string& title : state.titles)
        expected_.push_back(frameMoodBytes(
            utf8FromAnsi(composeMoodCommand(true, kBenchTemplate, title, PlayState::Playing))));

    host_ = createHostWindow("Bench player");
    playlist_ = createHostWindow("Bench playlist");
    state.playlist = playlist_;
    if (host_ == nullptr || playlist_ == nullptr) {
        error_ = "cannot create the host windows (is there a display?)";
        return;
    }
    if (options.skype) {
        standin_skype::Config config;
        config.client = host_;
        skype_ = standin_skype::start(config);
        if (!skype_) {
            error_ = "cannot start the stand-in Skype";
            return;
        }
    }
    if (!options.startPlugin)
        return;
    if (!plugin_.load(besideProgram("gen_tralmo.dll")) || !plugin_.start(host_)) {
        error_ = plugin_.error();
        return;
    }
    if (skype_) {
        // The session is attached when a song change reaches Skype.
        standin_skype::clearHistory();
        songChange(0);
        if (!skypeReceived(1, expectedBytes(0)))
            error_ = "the plug-in did not attach to the stand-in Skype";
        standin_skype::clearHistory();
    }
}

Session::~Session() {
    plugin_.unload();
    if (skype_)
        standin_skype::stop();
    if (playlist_ != nullptr)
        DestroyWindow(playlist_);
    if (host_ != nullptr)
        DestroyWindow(host_);
    hostState().playlist = nullptr;
}

std::vector<DWORD> Session::threads() const {
    std::vector<DWORD> ids = {GetCurrentThreadId()};
    if (const HWND skype = standin_skype::skypeWindow())
        ids.push_back(GetWindowThreadProcessId(skype, nullptr));
    return ids;
}

void Session::songChange(std::size_t index) const {
    hostState().position = static_cast<int>(index % titleCount());
    SendMessageA(host_, host::kWmUser, 0, host::kCallbackSongStarted);
}

std::size_t Session::titleCount() const {
    return expected_.size();
}

const std::string& Session::expectedBytes(std::size_t index) const {
    return expected_[index % expected_.size()];
}

bool skypeReceived(std::size_t count, const std::string& bytes) {
    if (standin_skype::recordCount() != count)
        return false;
    const auto last = standin_skype::records(count - 1);
    return !last.empty() &&
           std::string(last.back().bytes.begin(), last.back().bytes.end()) == bytes;
}

} // namespace bench
