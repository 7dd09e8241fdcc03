#include "player_state.h"

#include "ini_file.h"
#include "message_filter.h"
#include "open_file_dialog.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace standin {
namespace detail {

std::unique_ptr<Player> player;
std::string lastError;

} // namespace detail

using namespace detail;

namespace {

constexpr char kMusicFolder[] = "C:\\Music\\";
// A safety bound for the shut-down's message loop, never a measurement.
constexpr DWORD kCloseTimeoutMs = 10000;

void refresh() {
    if (player->main)
        InvalidateRect(player->main, nullptr, TRUE);
    if (player->playlist)
        InvalidateRect(player->playlist, nullptr, TRUE);
}

// ---- Titles ------------------------------------------------------------------

// At most kAnsiTitleMaxBytes, never half of a double-byte character.
std::string cutAnsiTitle(std::string title) {
    if (title.size() <= kAnsiTitleMaxBytes)
        return title;
    std::size_t end = 0;
    while (end < title.size()) {
        const bool pair =
            IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(title[end])) != 0 && end + 1 < title.size();
        const std::size_t next = end + (pair ? 2 : 1);
        if (next > kAnsiTitleMaxBytes)
            break;
        end = next;
    }
    title.resize(end);
    return title;
}

std::string titleAnswer(const std::wstring& title) {
    return cutAnsiTitle(ansiFromWide(title));
}

std::string numberedFileName(std::size_t index) {
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%sTrack %02u.mp3", kMusicFolder,
                  static_cast<unsigned>(index + 1));
    return name;
}

// Fills in what the player derives from the titles.
void replaceTitles(std::vector<std::wstring> titles) {
    player->titles = std::move(titles);
    player->titleAnswers.clear();
    player->fileNames.clear();
    for (std::size_t i = 0; i < player->titles.size(); ++i) {
        player->titleAnswers.push_back(titleAnswer(player->titles[i]));
        player->fileNames.push_back(numberedFileName(i));
    }
    refresh();
}

std::vector<std::wstring> wideTitlesOf(const std::vector<std::string>& titles) {
    std::vector<std::wstring> wide;
    wide.reserve(titles.size());
    for (const std::string& title : titles)
        wide.push_back(wideFromAnsi(title));
    return wide;
}

void showCurrentCaption() {
    if (player->main)
        SetWindowTextW(player->main, currentCaption().c_str());
}

// ---- Callbacks ---------------------------------------------------------------

void sendCallback(WPARAM wParam, long callback) {
    if (player->main)
        SendMessageW(player->main, host::kWmUser, wParam, callback);
}

void statusChanged() {
    if (!player || !player->main)
        return;
    if (player->statusCallbacks == StatusCallbacks::Posted)
        PostMessageW(player->main, host::kWmUser, 0, host::kCallbackStatusChanged);
    else
        SendMessageW(player->main, host::kWmUser, 0, host::kCallbackStatusChanged);
}

// The caption first, then 3003 naming the file, then 603.
void songStarted() {
    if (!inPlaylist(player->position))
        return;
    showCurrentCaption();
    const char* file = player->fileNames[player->position].c_str();
    sendCallback(reinterpret_cast<WPARAM>(file), host::kCallbackSongStarted);
    statusChanged();
}

// ---- Playback ----------------------------------------------------------------

void changeState(PlayState state) {
    player->state = state;
    refresh();
    statusChanged();
}

void startCurrentSong() {
    if (!inPlaylist(player->position))
        return;
    player->state = PlayState::Playing;
    refresh();
    songStarted();
}

void step(int delta) {
    const int count = static_cast<int>(player->titles.size());
    if (count == 0)
        return;
    player->position = ((player->position + delta) % count + count) % count;
    if (player->state == PlayState::Stopped)
        refresh();
    else
        startCurrentSong();
}

// The user picks a file for the empty playlist; it becomes the only entry.
void openAndPlay() {
    const std::optional<std::wstring> file = askForFile(player->main);
    if (!file || !player)
        return;
    player->titles.push_back(titleOfFile(*file));
    player->titleAnswers.push_back(titleAnswer(player->titles.back()));
    player->fileNames.push_back(ansiFromWide(*file));
    player->position = static_cast<int>(player->titles.size()) - 1;
    startCurrentSong();
}

void play() {
    if (player->state == PlayState::Paused)
        changeState(PlayState::Playing);
    else if (player->titles.empty())
        openAndPlay();
    else
        startCurrentSong();
}

void togglePause() {
    if (player->state == PlayState::Playing)
        changeState(PlayState::Paused);
    else if (player->state == PlayState::Paused)
        changeState(PlayState::Playing);
}

// A WM_QUIT of a shut-down that nobody finished must not end a later loop.
void dropPendingQuit() {
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

} // namespace

// ---- Shared with the player's other parts ------------------------------------

namespace detail {

bool fail(const std::string& message) {
    lastError = message;
    return false;
}

bool inPlaylist(int index) {
    return index >= 0 && static_cast<std::size_t>(index) < player->titles.size();
}

std::wstring currentCaption() {
    if (!inPlaylist(player->position))
        return kIdleCaption;
    return std::to_wstring(player->position + 1) + L". " + player->titles[player->position] +
           kCaptionSuffix;
}

void changeVolume(int volume) {
    player->volume = std::clamp(volume, 0, kMaxVolume);
    refresh();
    if (player->statusCallbacks == StatusCallbacks::Posted)
        statusChanged();
}

void stop() {
    if (player->state != PlayState::Stopped)
        changeState(PlayState::Stopped);
}

bool carryOutCommand(unsigned id) {
    switch (id) {
    case host::kCommandPrevious:
        step(-1);
        return true;
    case host::kCommandNext:
        step(1);
        return true;
    case host::kCommandPlay:
        play();
        return true;
    case host::kCommandPause:
        togglePause();
        return true;
    case host::kCommandStop:
        stop();
        return true;
    default:
        return false;
    }
}

} // namespace detail

// ---- Life cycle --------------------------------------------------------------

bool createPlayer(const PlayerOptions& options) {
    if (player)
        return fail("a player already exists");
    if (!registerClasses(options.windows))
        return fail("cannot register the window classes");
    player = std::make_unique<Player>();
    player->charset = options.windows;
    player->statusCallbacks = options.statusCallbacks;
    player->unknownQueries = options.unknownQueries;
    replaceTitles(options.wideTitles.empty() ? wideTitlesOf(options.titles) : options.wideTitles);
    player->position = options.position;
    player->volume = std::clamp(options.volume, 0, kMaxVolume);
    player->answerIniPath = options.answerIniPath;
    player->answerWideIniPath = options.answerWideIniPath;
    player->answerPlaylistWindow = options.answerPlaylistWindow;
    player->answerWideTitles = options.answerWideTitles;
    player->ansiTitles = options.ansiTitles;
    player->answerVolume = options.answerVolume;
    player->ownsIniFile = options.iniPath.empty() && options.wideIniPath.empty();
    player->wideIniPath = !options.wideIniPath.empty() ? options.wideIniPath
                          : player->ownsIniFile ? wideFromAnsi(createTempIniFile("standin_player"))
                                                : wideFromAnsi(options.iniPath);
    player->iniPath = ansiFromWide(player->wideIniPath);
    if (player->wideIniPath.empty()) {
        player.reset();
        return fail("cannot create a temporary ini file");
    }
    player->elevated = options.elevated;
    message_filter::markProcessElevated(options.elevated);
    createWindows();
    if (!player->main || !player->playlist) {
        destroyPlayer();
        return fail("cannot create the player's windows (is there a display?)");
    }
    if (options.showWindows) {
        ShowWindow(player->main, SW_SHOWNOACTIVATE);
        ShowWindow(player->playlist, SW_SHOWNOACTIVATE);
        UpdateWindow(player->main);
        UpdateWindow(player->playlist);
    }
    return true;
}

bool closePlayer() {
    if (!player)
        return fail("no player");
    if (player->main) {
        PostMessageW(player->main, WM_CLOSE, 0, 0);
        if (!pumpUntilQuit(kCloseTimeoutMs))
            return fail("the player's message loop did not end after WM_CLOSE");
    } else {
        dropPendingQuit();
    }
    return !player->running || quitPlugin();
}

void destroyPlayer() {
    if (!player)
        return;
    if (player->running)
        quitPlugin();
    if (!player->module) {
        // Calling a subclass whose code is gone would crash the destruction.
        restoreOwnProc(Window::Playlist);
        restoreOwnProc(Window::Main);
    }
    if (player->playlist)
        DestroyWindow(player->playlist);
    if (player->main)
        DestroyWindow(player->main);
    if (player->closing)
        dropPendingQuit();
    if (player->module)
        unloadPlugin();
    if (player->ownsIniFile) {
        releaseProfileCache(player->wideIniPath);
        DeleteFileW(player->wideIniPath.c_str());
    }
    message_filter::markProcessElevated(false);
    player.reset();
}

bool playerExists() {
    return player != nullptr;
}

// ---- Playback ----------------------------------------------------------------

LRESULT sendCommand(unsigned id) {
    return player && player->main ? SendMessageW(player->main, WM_COMMAND, id, 0) : 0;
}

PlayState playState() {
    return player ? player->state : PlayState::Stopped;
}
int position() {
    return player ? player->position : 0;
}
int volume() {
    return player ? player->volume : 0;
}

const std::vector<std::string>& titles() {
    static const std::vector<std::string> none;
    return player ? player->titleAnswers : none;
}

const std::vector<std::wstring>& wideTitles() {
    static const std::vector<std::wstring> none;
    return player ? player->titles : none;
}

const std::vector<std::string>& fileNames() {
    static const std::vector<std::string> none;
    return player ? player->fileNames : none;
}

void setPlayState(PlayState state, Notify notifyHow) {
    if (!player)
        return;
    player->state = state;
    refresh();
    if (notifyHow == Notify::SongStarted)
        songStarted();
    else if (notifyHow == Notify::StatusChanged)
        statusChanged();
}

void setTitles(const std::vector<std::string>& titles) {
    if (player)
        replaceTitles(wideTitlesOf(titles));
}

void setWideTitles(std::vector<std::wstring> titles) {
    if (player)
        replaceTitles(std::move(titles));
}

void setPosition(int position) {
    if (!player)
        return;
    player->position = position;
    refresh();
}

void setVolume(int volume) {
    if (player)
        changeVolume(volume);
}

void setAnswerWideTitles(bool answer) {
    if (player)
        player->answerWideTitles = answer;
}

void updateStreamTitle(const std::wstring& title) {
    if (!player || !inPlaylist(player->position))
        return;
    player->titles[player->position] = title;
    player->titleAnswers[player->position] = titleAnswer(title);
    refresh();
    showCurrentCaption();
    statusChanged();
}

void updateStreamTitle(const std::string& title) {
    updateStreamTitle(wideFromAnsi(title));
}

void sendSongStarted() {
    if (player)
        sendCallback(0, host::kCallbackSongStarted);
}

void sendStatusChanged() {
    if (player)
        sendCallback(0, host::kCallbackStatusChanged);
}

} // namespace standin
