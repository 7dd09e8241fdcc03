#include "standin_player.h"

#include "ini_file.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace standin {
namespace {

constexpr char kMainClass[] = "StandinPlayerMain";
constexpr char kPlaylistClass[] = "StandinPlayerPlaylist";
constexpr int kMaxVolume = host::kHostVolumeMax;

struct Player {
    HWND main = nullptr;
    HWND playlist = nullptr;
    std::vector<std::string> titles;
    int position = 0;
    PlayState state = PlayState::Stopped;
    int volume = kMaxVolume;
    bool answerIniPath = true;
    bool answerPlaylistWindow = true;
    std::string iniPath; // its c_str() is handed out, so it never changes
    bool ownsIniFile = false;

    std::vector<LoggedMessage> log;
    std::size_t logBase = 0; // entries cleared so far, to find an entry again
    int depth = 0;

    HMODULE module = nullptr;
    GetGeneralPurposePluginFn entry = nullptr;
    PluginDescriptor* descriptor = nullptr;
    bool running = false; // init called, quit not yet
};

std::unique_ptr<Player> player;
std::string lastError;

bool fail(const std::string& message) {
    lastError = message;
    return false;
}

bool inPlaylist(int index) {
    return index >= 0 && static_cast<std::size_t>(index) < player->titles.size();
}

void refresh() {
    if (player->main)
        InvalidateRect(player->main, nullptr, TRUE);
    if (player->playlist)
        InvalidateRect(player->playlist, nullptr, TRUE);
}

// ---- Playback ----------------------------------------------------------------

void notify(long callback) {
    if (player->main)
        SendMessageA(player->main, host::kWmUser, 0, callback);
}

void changeState(PlayState state) {
    player->state = state;
    refresh();
    notify(host::kCallbackStatusChanged);
}

void startCurrentSong() {
    if (!inPlaylist(player->position))
        return;
    player->state = PlayState::Playing;
    refresh();
    notify(host::kCallbackSongStarted);
    notify(host::kCallbackStatusChanged);
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

void play() {
    if (player->state == PlayState::Paused)
        changeState(PlayState::Playing);
    else
        startCurrentSong();
}

void togglePause() {
    if (player->state == PlayState::Playing)
        changeState(PlayState::Paused);
    else if (player->state == PlayState::Paused)
        changeState(PlayState::Playing);
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

// ---- Painting ----------------------------------------------------------------

RECT listArea() {
    RECT area{};
    if (player && player->playlist && GetClientRect(player->playlist, &area)) {
        area.left += host::kListInsetLeft;
        area.top += host::kListInsetTop;
        area.right -= host::kListInsetRight;
        area.bottom -= host::kListInsetBottom;
    }
    return area;
}

// The state large, the song below it, then the volume as text and as a bar.
void paintMain(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SetBkMode(dc, TRANSPARENT);
    RECT line;
    GetClientRect(window, &line);
    InflateRect(&line, -10, -8);
    const HFONT large =
        CreateFontA(-17, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Tahoma");
    const HGDIOBJ previous = SelectObject(dc, large);
    line.bottom = line.top + 22;
    DrawTextA(dc, stateName(player->state), -1, &line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    const char* title =
        inPlaylist(player->position) ? player->titles[player->position].c_str() : "(none)";
    char text[600];
    std::snprintf(text, sizeof text, "%d. %.500s", player->position + 1, title);
    OffsetRect(&line, 0, 24);
    DrawTextA(dc, text, -1, &line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    std::snprintf(text, sizeof text, "Volume %d / %d", player->volume, kMaxVolume);
    OffsetRect(&line, 0, 24);
    DrawTextA(dc, text, -1, &line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    RECT bar{line.left + 110, line.top + 3, line.right, line.top + 13};
    FrameRect(dc, &bar, GetSysColorBrush(COLOR_BTNSHADOW));
    InflateRect(&bar, -2, -2);
    bar.right = bar.left + (bar.right - bar.left) * player->volume / kMaxVolume;
    FillRect(dc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
    SelectObject(dc, previous);
    DeleteObject(large);
    EndPaint(window, &paint);
}

void paintPlaylist(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    const RECT area = listArea();
    FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
    FrameRect(dc, &area, GetSysColorBrush(COLOR_WINDOWFRAME));
    SaveDC(dc);
    IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
    for (std::size_t i = 0; i < player->titles.size(); ++i) {
        const int top = area.top + static_cast<int>(i) * kPlaylistRowHeight;
        if (top >= area.bottom)
            break;
        RECT row{area.left, top, area.right, top + kPlaylistRowHeight};
        const bool current = static_cast<int>(i) == player->position;
        if (current)
            FillRect(dc, &row, GetSysColorBrush(COLOR_HIGHLIGHT));
        SetTextColor(dc, GetSysColor(current ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        char text[600];
        std::snprintf(text, sizeof text, "%u. %.500s", static_cast<unsigned>(i + 1),
                      player->titles[i].c_str());
        row.left += 2;
        DrawTextA(dc, text, -1, &row, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    RestoreDC(dc, -1);
    char footer[64];
    std::snprintf(footer, sizeof footer, "%u entries",
                  static_cast<unsigned>(player->titles.size()));
    RECT below{area.left, area.bottom + 8, area.right, area.bottom + 30};
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawTextA(dc, footer, -1, &below, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    EndPaint(window, &paint);
}

// ---- Window procedures -------------------------------------------------------

LRESULT answerMainQuery(WPARAM wParam, LPARAM code) {
    switch (code) {
    case host::kQueryPlayState:
        return static_cast<LRESULT>(player->state);
    case host::kQueryPlaylistPosition:
        return player->position;
    case host::kQueryEntryTitle: {
        const int index = static_cast<int>(wParam);
        return inPlaylist(index) ? reinterpret_cast<LRESULT>(player->titles[index].c_str()) : 0;
    }
    case host::kQueryEntryTitleWide:
        return 1;
    case host::kQueryIniPath:
        return player->answerIniPath ? reinterpret_cast<LRESULT>(player->iniPath.c_str()) : 0;
    case host::kQueryWindow:
        return wParam == host::kWindowPlaylist && player->answerPlaylistWindow
                   ? reinterpret_cast<LRESULT>(player->playlist)
                   : 0;
    case host::kSetVolume:
        player->volume = std::clamp(static_cast<int>(wParam), 0, kMaxVolume);
        refresh();
        return 0;
    case host::kCallbackSongStarted:
    case host::kCallbackStatusChanged:
        return 0;
    default:
        return kUnknownQueryTag | (code & 0xFFFF);
    }
}

LRESULT answerPlaylistQuery(WPARAM code, LPARAM lParam) {
    switch (code) {
    case host::kPlaylistQueryCount:
        return static_cast<LRESULT>(player->titles.size());
    case host::kPlaylistQueryIndexAt:
        return lParam ? playlistIndexAt(*reinterpret_cast<const POINT*>(lParam)) : -1;
    default:
        return kUnknownQueryTag | (code & 0xFFFF);
    }
}

LRESULT handleMain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case host::kWmUser:
        return answerMainQuery(wParam, lParam);
    case WM_COMMAND:
        if (carryOutCommand(LOWORD(wParam)))
            return 0;
        break;
    case kEchoMessage:
        return static_cast<LRESULT>(wParam) ^ lParam ^ kEchoTag;
    case WM_PAINT:
        paintMain(window);
        return 0;
    case WM_NCDESTROY:
        player->main = nullptr;
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT handlePlaylist(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case host::kWmUser:
        return answerPlaylistQuery(wParam, lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) == host::kPlaylistCommandChat)
            return 0; // only the log needs it
        break;
    case kEchoMessage:
        return static_cast<LRESULT>(wParam) ^ lParam ^ kEchoTag;
    case WM_PAINT:
        paintPlaylist(window);
        return 0;
    case WM_SIZE:
        InvalidateRect(window, nullptr, TRUE);
        break;
    case WM_CLOSE: // like the real playlist: closing only hides it
        ShowWindow(window, SW_HIDE);
        return 0;
    case WM_NCDESTROY:
        player->playlist = nullptr;
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

using Handler = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// The log entry goes in on arrival, so nested messages follow the one that
// caused them; its result is filled in on the way out.
LRESULT logged(Window which, Handler handler, HWND window, UINT message, WPARAM wParam,
               LPARAM lParam) {
    if (!player)
        return DefWindowProcA(window, message, wParam, lParam);
    LoggedMessage entry{which, message, wParam, lParam, 0, player->depth, false, POINT{}};
    if (which == Window::Playlist && message == host::kWmUser &&
        wParam == host::kPlaylistQueryIndexAt && lParam)
        entry.point = *reinterpret_cast<const POINT*>(lParam);
    const std::size_t serial = player->logBase + player->log.size();
    player->log.push_back(entry);
    ++player->depth;
    const LRESULT result = handler(window, message, wParam, lParam);
    --player->depth;
    if (serial >= player->logBase && serial - player->logBase < player->log.size()) {
        LoggedMessage& done = player->log[serial - player->logBase];
        done.result = result;
        done.finished = true;
    }
    return result;
}

LRESULT CALLBACK mainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return logged(Window::Main, handleMain, window, message, wParam, lParam);
}

LRESULT CALLBACK playlistProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return logged(Window::Playlist, handlePlaylist, window, message, wParam, lParam);
}

WNDPROC ownProc(Window window) {
    return window == Window::Main ? mainProc : playlistProc;
}
HWND handleOf(Window window) {
    if (!player)
        return nullptr;
    return window == Window::Main ? player->main : player->playlist;
}

bool registerClass(const char* name, WNDPROC procedure) {
    WNDCLASSA existing;
    if (GetClassInfoA(GetModuleHandleA(nullptr), name, &existing))
        return true;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = name;
    return RegisterClassA(&windowClass) != 0;
}

// ---- Ini file ----------------------------------------------------------------

// ---- Subclasses and exports -------------------------------------------------

void restoreOwnProc(Window which) {
    HWND window = handleOf(which);
    if (window && !ownsWindowProc(which))
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ownProc(which)));
}

template <typename Fn> Fn exportedFunction(HMODULE module, const char* name) {
    // Through a plain function type: casting FARPROC directly warns.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace

// ---- Life cycle --------------------------------------------------------------

bool createPlayer(const PlayerOptions& options) {
    if (player)
        return fail("a player already exists");
    if (!registerClass(kMainClass, mainProc) || !registerClass(kPlaylistClass, playlistProc))
        return fail("cannot register the window classes");
    player = std::make_unique<Player>();
    player->titles = options.titles;
    player->position = options.position;
    player->volume = std::clamp(options.volume, 0, kMaxVolume);
    player->answerIniPath = options.answerIniPath;
    player->answerPlaylistWindow = options.answerPlaylistWindow;
    player->ownsIniFile = options.iniPath.empty();
    player->iniPath = player->ownsIniFile ? createTempIniFile("standin_player") : options.iniPath;
    if (player->iniPath.empty()) {
        player.reset();
        return fail("cannot create a temporary ini file");
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    player->main = CreateWindowExA(0, kMainClass, "Stand-in player", WS_OVERLAPPEDWINDOW, 40, 40,
                                   320, 130, nullptr, nullptr, instance, nullptr);
    if (player->main)
        player->playlist =
            CreateWindowExA(WS_EX_TOOLWINDOW, kPlaylistClass, "Playlist",
                            WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, 40, 180, 320,
                            300, player->main, nullptr, instance, nullptr);
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
    if (player->module)
        unloadPlugin();
    if (player->ownsIniFile) {
        releaseProfileCache(player->iniPath);
        DeleteFileA(player->iniPath.c_str());
    }
    player.reset();
}

bool playerExists() {
    return player != nullptr;
}
HWND mainWindow() {
    return handleOf(Window::Main);
}
HWND playlistWindow() {
    return handleOf(Window::Playlist);
}

bool ownsWindowProc(Window which) {
    HWND window = handleOf(which);
    return window &&
           GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(ownProc(which));
}

// ---- Playback ----------------------------------------------------------------

LRESULT sendCommand(unsigned id) {
    return player && player->main ? SendMessageA(player->main, WM_COMMAND, id, 0) : 0;
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
    return player ? player->titles : none;
}

void setPlayState(PlayState state, Notify notifyHow) {
    if (!player)
        return;
    player->state = state;
    refresh();
    if (notifyHow == Notify::SongStarted)
        notify(host::kCallbackSongStarted);
    if (notifyHow != Notify::None)
        notify(host::kCallbackStatusChanged);
}

void setTitles(std::vector<std::string> titles) {
    if (!player)
        return;
    player->titles = std::move(titles);
    refresh();
}

void setPosition(int position) {
    if (!player)
        return;
    player->position = position;
    refresh();
}

void setVolume(int volume) {
    if (!player)
        return;
    player->volume = std::clamp(volume, 0, kMaxVolume);
    refresh();
}

void setAnswerIniPath(bool answer) {
    if (player)
        player->answerIniPath = answer;
}

void setAnswerPlaylistWindow(bool answer) {
    if (player)
        player->answerPlaylistWindow = answer;
}

void sendSongStarted() {
    if (player)
        notify(host::kCallbackSongStarted);
}

void sendStatusChanged() {
    if (player)
        notify(host::kCallbackStatusChanged);
}

POINT playlistRowPoint(int row) {
    const RECT area = listArea();
    return POINT{(area.left + area.right) / 2,
                 area.top + row * kPlaylistRowHeight + kPlaylistRowHeight / 2};
}

int playlistIndexAt(POINT client) {
    const RECT area = listArea();
    if (!player || !PtInRect(&area, client))
        return -1;
    const int row = (client.y - area.top) / kPlaylistRowHeight;
    return inPlaylist(row) ? row : -1;
}

// ---- Message log -------------------------------------------------------------

const std::vector<LoggedMessage>& messageLog() {
    static const std::vector<LoggedMessage> none;
    return player ? player->log : none;
}

void clearLog() {
    if (!player)
        return;
    player->logBase += player->log.size();
    player->log.clear();
}

std::size_t countMessages(const std::function<bool(const LoggedMessage&)>& matches) {
    const auto& log = messageLog();
    return static_cast<std::size_t>(std::count_if(log.begin(), log.end(), matches));
}

std::size_t countMessages(Window window, UINT message) {
    return countMessages([&](const LoggedMessage& entry) {
        return entry.window == window && entry.message == message;
    });
}

std::size_t countCommands(Window window, unsigned id) {
    return countMessages([&](const LoggedMessage& entry) {
        return entry.window == window && entry.message == WM_COMMAND && LOWORD(entry.wParam) == id;
    });
}

std::size_t countQueries(long code) {
    return countMessages([&](const LoggedMessage& entry) {
        return entry.window == Window::Main && entry.message == host::kWmUser &&
               entry.lParam == code;
    });
}

std::size_t countPlaylistQueries(unsigned code) {
    return countMessages([&](const LoggedMessage& entry) {
        return entry.window == Window::Playlist && entry.message == host::kWmUser &&
               entry.wParam == code;
    });
}

std::optional<LoggedMessage> lastMessage(Window window, UINT message) {
    const auto& log = messageLog();
    const auto found = std::find_if(log.rbegin(), log.rend(), [&](const LoggedMessage& entry) {
        return entry.window == window && entry.message == message;
    });
    if (found == log.rend())
        return std::nullopt;
    return *found;
}

std::vector<LoggedMessage> lastMessages(std::size_t n,
                                        const std::function<bool(const LoggedMessage&)>& matches) {
    std::vector<LoggedMessage> found;
    const auto& log = messageLog();
    for (auto entry = log.rbegin(); entry != log.rend() && found.size() < n; ++entry)
        if (!matches || matches(*entry))
            found.push_back(*entry);
    std::reverse(found.begin(), found.end());
    return found;
}

// ---- Plug-in -----------------------------------------------------------------

bool loadPlugin(const std::string& dllPath) {
    if (!player)
        return fail("no player");
    if (player->module)
        return fail("a plug-in is already loaded");
    HMODULE module = LoadLibraryA(dllPath.c_str());
    if (!module)
        return fail("LoadLibrary(" + dllPath + ") failed, error " + std::to_string(GetLastError()));
    auto entry = exportedFunction<GetGeneralPurposePluginFn>(module, host::kExportName);
    if (!entry) {
        FreeLibrary(module);
        return fail(dllPath + " does not export " + host::kExportName);
    }
    player->module = module;
    player->entry = entry;
    return true;
}

PluginDescriptor* describePlugin() {
    if (!player || !player->entry) {
        fail("no plug-in loaded");
        return nullptr;
    }
    PluginDescriptor* descriptor = player->entry();
    if (!descriptor) {
        fail("the plug-in returned no descriptor");
        return nullptr;
    }
    descriptor->hostWindow = player->main;
    descriptor->moduleInstance = reinterpret_cast<HINSTANCE>(player->module);
    player->descriptor = descriptor;
    return descriptor;
}

bool initPlugin(int* result) {
    if (!player || !player->descriptor || !player->descriptor->init)
        return fail("no described plug-in with an init entry");
    if (player->running)
        return fail("the plug-in is already initialised");
    player->running = true;
    const int answer = player->descriptor->init();
    if (result)
        *result = answer;
    return true;
}

bool configPlugin() {
    if (!player || !player->running || !player->descriptor->config)
        return fail("no running plug-in with a config entry");
    player->descriptor->config();
    return true;
}

bool quitPlugin() {
    if (!player || !player->running)
        return fail("no running plug-in");
    player->running = false;
    if (player->descriptor->quit)
        player->descriptor->quit();
    return true;
}

bool unloadPlugin() {
    if (!player || !player->module)
        return fail("no plug-in loaded");
    FreeLibrary(player->module);
    player->module = nullptr;
    player->entry = nullptr;
    player->descriptor = nullptr;
    player->running = false;
    return true;
}

bool startPlugin(const std::string& dllPath) {
    return loadPlugin(dllPath) && describePlugin() && initPlugin();
}

PluginDescriptor* pluginDescriptor() {
    return player ? player->descriptor : nullptr;
}
HMODULE pluginModule() {
    return player ? player->module : nullptr;
}
const std::string& pluginError() {
    return lastError;
}

// ---- Ini file ----------------------------------------------------------------

const std::string& iniPath() {
    static const std::string none;
    return player ? player->iniPath : none;
}

bool writeIniContent(const std::string& content) {
    return player && replaceIniFile(player->iniPath, content);
}

void setIniVolume(int volume) {
    if (!player)
        return;
    const std::string text = std::to_string(volume);
    WritePrivateProfileStringA(host::kHostIniSection, host::kHostVolumeKey, text.c_str(),
                               player->iniPath.c_str());
}

std::string readIniString(const char* section, const char* key, const char* fallback) {
    if (!player)
        return fallback;
    // A full buffer means the value may have been cut: try a larger one.
    for (DWORD size = 1024; size <= (1u << 20); size *= 4) {
        std::string buffer(size, '\0');
        const DWORD length = GetPrivateProfileStringA(section, key, fallback, &buffer[0], size,
                                                      player->iniPath.c_str());
        if (length < size - 1) {
            buffer.resize(length);
            return buffer;
        }
    }
    return fallback;
}

std::vector<std::string> readIniSection(const char* section) {
    std::vector<std::string> lines;
    if (!player)
        return lines;
    for (DWORD size = 4096; size <= (1u << 20); size *= 4) {
        std::string buffer(size, '\0');
        const DWORD length =
            GetPrivateProfileSectionA(section, &buffer[0], size, player->iniPath.c_str());
        if (length >= size - 2)
            continue;
        for (std::size_t start = 0; start < length;) {
            const std::size_t end = buffer.find('\0', start);
            lines.push_back(buffer.substr(start, end - start));
            start = end + 1;
        }
        break;
    }
    return lines;
}

} // namespace standin
