#include "session.h"

#include "host/host_api.h"
#include "lean_plugin.h"
#include "mood/mood_text.h"
#include "settings/settings.h"
#include "skype/skype_link.h"
#include "standin_skype.h"

namespace bench {
namespace {

// A playlist of ordinary length and ordinary titles, a few beyond ASCII:
// each song change composes a different text, as it does for a listener.
std::vector<std::wstring> benchTitles() {
    static const wchar_t* const artists[] = {L"Nadia Orlov", L"The Quiet Engines",
                                             L"Marek Halvorsen", L"L\u00famen Dr\u00eeft"};
    static const wchar_t* const songs[] = {L"Harbour Lights", L"Paper Satellites (Live)",
                                           L"Slow Morning", L"Northbound, Part II"};
    std::vector<std::wstring> titles;
    for (const wchar_t* artist : artists)
        for (const wchar_t* song : songs)
            titles.push_back(std::wstring(artist) + L" - " + song);
    return titles;
}

std::string fromWide(const std::wstring& wide, UINT codePage) {
    const int bytes =
        WideCharToMultiByte(codePage, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(codePage, 0, wide.c_str(), -1, text.data(), bytes, nullptr, nullptr);
    text.pop_back();
    return text;
}

std::string iniContent() {
    return std::string("[") + kIniSection + "]\r\n" + kKeyUserString + "=" + kBenchTemplate +
           "\r\n";
}

std::string pluginFile(PluginKind kind) {
    return besideProgram(kind == PluginKind::Tralmo ? kPluginFile : kLeanPluginFile);
}

} // namespace

Scene::Scene() : ini_(iniContent()) {
    if (!ini_.ok()) {
        error_ = "cannot create an ini file";
        return;
    }
    HostState& state = hostState();
    state.wideTitles = benchTitles();
    state.titles.clear();
    for (const std::wstring& title : state.wideTitles) {
        state.titles.push_back(fromWide(title, CP_ACP));
        expected_.push_back(frameMoodBytes(composeMoodCommand(
            true, kBenchTemplate, fromWide(title, CP_UTF8), PlayState::Playing)));
    }
    state.position = 0;
    state.playState = host::kStatePlaying;
    state.iniPath = ini_.path();
    playlist_ = createHostWindow("Bench playlist");
    state.playlist = playlist_;
    if (playlist_ == nullptr)
        error_ = "cannot create the host windows (is there a display?)";
}

Scene::~Scene() {
    hostState().playlist = nullptr;
    if (playlist_ != nullptr)
        DestroyWindow(playlist_);
}

const std::string& Scene::expectedBytes(std::size_t index) const {
    return expected_[index % expected_.size()];
}

Player::Player(PluginKind kind) : host_(createHostWindow("Bench player")) {
    if (host_ == nullptr) {
        error_ = "cannot create the host window (is there a display?)";
        return;
    }
    if (!plugin_.load(pluginFile(kind)) || !plugin_.start(host_))
        error_ = plugin_.error();
}

Player::~Player() {
    plugin_.unload();
    if (host_ != nullptr)
        DestroyWindow(host_);
}

void Player::songChange(std::size_t index) const {
    HostState& state = hostState();
    state.position = static_cast<int>(index % state.titles.size());
    SendMessageA(host_, host::kWmUser, 0, host::kCallbackSongStarted);
}

void Player::tick() const {
    SendMessageA(host_, WM_TIMER, kDiscoveryTimerId, 0);
}

void Player::attachReply(HWND skype, LONG status) const {
    static const UINT attach = RegisterWindowMessageA(kSkypeAttachMessageName);
    SendMessageA(host_, attach, reinterpret_cast<WPARAM>(skype), status);
}

bool attachToReceiver(const Player& player, const Receiver& receiver, const Scene& scene) {
    player.attachReply(receiver.window());
    const long before = receiver.received();
    player.songChange(0);
    return receiver.gotOnly(before, scene.expectedBytes(0));
}

ReceiverStage::ReceiverStage(PluginKind kind)
    : player(kind), attached(scene.ok() && receiver.ok() && player.ok() &&
                             attachToReceiver(player, receiver, scene)) {}

bool skypeHolds(const std::string& bytes, std::size_t first) {
    for (const auto& record : standin_skype::snapshot(first).records)
        if (std::string(record.bytes.begin(), record.bytes.end()) == bytes)
            return true;
    return false;
}

std::vector<DWORD> benchThreads() {
    std::vector<DWORD> ids = {GetCurrentThreadId()};
    if (const HWND skype = standin_skype::skypeWindow())
        ids.push_back(GetWindowThreadProcessId(skype, nullptr));
    return ids;
}

} // namespace bench
