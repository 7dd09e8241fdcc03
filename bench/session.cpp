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

std::wstring toWide(const std::string& text, UINT codePage) {
    const int units = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 1), L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, wide.data(), units);
    wide.pop_back();
    return wide;
}

std::string iniContent() {
    return std::string("[") + kIniSection + "]\r\n" + kKeyUserString + "=" + kBenchTemplate +
           "\r\n";
}

constexpr char kTwinPluginFile[] = "gen_tralmo_twin.dll";

struct LinkSearch {
    HMODULE plugin;
    HWND found;
};

BOOL CALLBACK findLinkWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<LinkSearch*>(parameter);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    const auto module = reinterpret_cast<HMODULE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    if (lstrcmpA(name, kSkypeLinkWindowClass) != 0 || module != search->plugin)
        return TRUE;
    search->found = window;
    return FALSE;
}

// The plug-in's link window: on this thread, made by its module.
HWND linkWindowOf(HMODULE plugin) {
    LinkSearch search{plugin, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), findLinkWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool isLean(PluginKind kind) {
    return kind == PluginKind::Lean || kind == PluginKind::LeanHandOver;
}

std::string pluginFile(PluginKind kind) {
    switch (kind) {
    case PluginKind::Tralmo:
        break;
    case PluginKind::Twin: {
        const std::string twin = besideProgram(kTwinPluginFile);
        CopyFileA(besideProgram(kPluginFile).c_str(), twin.c_str(), FALSE);
        return twin;
    }
    case PluginKind::Lean:
        return besideProgram(kLeanPluginFile);
    case PluginKind::LeanHandOver:
        return besideProgram(kLeanHandOverPluginFile);
    }
    return besideProgram(kPluginFile);
}

// A listener's ini file was written long before the song changes (the
// player saves it when it closes): make ours as old, an hour.
bool ageFile(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    constexpr ULONGLONG kHour100ns = 3600ULL * 10 * 1000 * 1000;
    ULARGE_INTEGER time{};
    time.LowPart = now.dwLowDateTime;
    time.HighPart = now.dwHighDateTime;
    time.QuadPart -= kHour100ns;
    const FILETIME hourAgo{time.LowPart, time.HighPart};
    const bool aged = SetFileTime(file, nullptr, nullptr, &hourAgo) != FALSE;
    CloseHandle(file);
    return aged;
}

} // namespace

Scene::Scene() : ini_(iniContent()) {
    if (!ini_.ok() || !ageFile(ini_.path())) {
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
    state.wideIniPath = toWide(ini_.path(), CP_ACP);
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

Player::Player(PluginKind kind) : kind_(kind), host_(createHostWindow("Bench player")) {
    if (host_ == nullptr) {
        error_ = "cannot create the host window (is there a display?)";
        return;
    }
    if (!plugin_.load(pluginFile(kind))) {
        error_ = plugin_.error();
        return;
    }
    if (!isLean(kind) && !watchLink(plugin_.module())) {
        error_ = "cannot watch the plug-in's sends";
        return;
    }
    const LinkSends before = linkSends();
    if (!plugin_.start(host_)) {
        error_ = plugin_.error();
        return;
    }
    client_ = !isLean(kind) ? linkWindowOf(plugin_.module()) : host_;
    if (client_ == nullptr || (!isLean(kind) && !timeLinkWindow(client_)))
        error_ = "the plug-in made no link window";
    // Init's Discover broadcast visits this thread's windows: let it pass,
    // and what it sets off (a poll, an attach) settle.
    else if (!awaitSends(before, 1) || !settle())
        error_ = "the plug-in's first Discover broadcast did not return";
}

Player::~Player() {
    plugin_.unload();
    if (host_ != nullptr)
        DestroyWindow(host_);
    if (kind_ == PluginKind::Twin)
        DeleteFileA(besideProgram(kTwinPluginFile).c_str()); // fails while still mapped
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
    SendMessageA(client_, attach, reinterpret_cast<WPARAM>(skype), status);
}

void Player::stopDiscoveryTimer() const {
    KillTimer(host_, kDiscoveryTimerId);
}

void Player::restartDiscoveryTimer() const {
    SetTimer(host_, kDiscoveryTimerId, kDiscoveryPeriodMs, nullptr);
}

bool Player::awaitSends(const LinkSends& before, long count) const {
    if (kind_ == PluginKind::LeanHandOver)
        return handedOverGone();
    return kind_ == PluginKind::Lean || waitForLinkSends(before, count, kLinkWaitBoundMs);
}

bool Player::settle() const {
    if (kind_ == PluginKind::LeanHandOver)
        return handedOverGone();
    return kind_ == PluginKind::Lean || settleLink(kLinkQuietMs, kLinkWaitBoundMs);
}

bool Player::handedOverGone() const {
    const auto gone = reinterpret_cast<HandedOverGoneFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(plugin_.module(), kHandedOverGoneExport)));
    return gone != nullptr && pumpUntilLink(gone, kLinkWaitBoundMs, 1);
}

bool attachToReceiver(const Player& player, const Receiver& receiver, const Scene& scene) {
    // The plug-in answers a Success with PROTOCOL 7 and the playing song.
    LinkSends sends = linkSends();
    player.attachReply(receiver.window());
    if (!player.awaitSends(sends, 2))
        return false;
    const long before = receiver.received();
    sends = linkSends();
    player.songChange(0);
    return player.awaitSends(sends, 1) && receiver.gotOnly(before, scene.expectedBytes(0));
}

ReceiverStage::ReceiverStage(PluginKind kind, DWORD answerAfterMs)
    : receiver(answerAfterMs), player(kind), attached(scene.ok() && receiver.ok() && player.ok() &&
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
