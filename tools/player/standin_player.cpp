#include "standin_player.h"

#include "elevation.h"
#include "ini_file.h"
#include "message_filter.h"
#include "open_file_dialog.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace standin {
namespace {

// The two character sets register classes of their own: one name cannot
// stand for both in one process.
constexpr char kMainClassA[] = "StandinPlayerMain";
constexpr char kPlaylistClassA[] = "StandinPlayerPlaylist";
constexpr wchar_t kMainClassW[] = L"StandinPlayerMainW";
constexpr wchar_t kPlaylistClassW[] = L"StandinPlayerPlaylistW";
constexpr wchar_t kPlaylistCaption[] = L"Playlist";
constexpr int kMaxVolume = host::kHostVolumeMax;
constexpr char kMusicFolder[] = "C:\\Music\\";
// A safety bound for the shut-down's message loop, never a measurement.
constexpr DWORD kCloseTimeoutMs = 10000;

struct Player {
    HWND main = nullptr;
    HWND playlist = nullptr;
    std::vector<std::wstring> titles;
    std::vector<std::string> titleAnswers; // query 212's, one per entry
    std::vector<std::string> fileNames;    // callback 3003's, one per entry
    int position = 0;
    PlayState state = PlayState::Stopped;
    int volume = kMaxVolume;
    bool answerIniPath = true;
    bool answerWideIniPath = true;
    bool answerPlaylistWindow = true;
    bool answerWideTitles = true;
    bool elevated = false;
    AnsiTitles ansiTitles = AnsiTitles::Text;
    bool answerVolume = true;
    Charset charset = Charset::Unicode;
    StatusCallbacks statusCallbacks = StatusCallbacks::Posted;
    UnknownQueries unknownQueries = UnknownQueries::AnswerOne;
    // Their c_str() are handed out, so they never change.
    std::wstring wideIniPath;
    std::string iniPath; // in the ANSI code page
    bool ownsIniFile = false;
    bool closing = false; // WM_CLOSE came: the main window's end ends the loop

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

std::wstring currentCaption() {
    if (!inPlaylist(player->position))
        return kIdleCaption;
    return std::to_wstring(player->position + 1) + L". " + player->titles[player->position] +
           kCaptionSuffix;
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

void changeVolume(int volume) {
    player->volume = std::clamp(volume, 0, kMaxVolume);
    refresh();
    if (player->statusCallbacks == StatusCallbacks::Posted)
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

// "N. title", the title cut for the screen.
std::wstring numberedTitle(std::size_t index) {
    constexpr std::size_t kShownChars = 500;
    return std::to_wstring(index + 1) + L". " + player->titles[index].substr(0, kShownChars);
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
        CreateFontW(-17, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    const HGDIOBJ previous = SelectObject(dc, large);
    line.bottom = line.top + 22;
    DrawTextA(dc, stateName(player->state), -1, &line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    const std::wstring song = inPlaylist(player->position)
                                  ? numberedTitle(static_cast<std::size_t>(player->position))
                                  : std::to_wstring(player->position + 1) + L". (none)";
    OffsetRect(&line, 0, 24);
    DrawTextW(dc, song.c_str(), -1, &line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    char text[64];
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
        row.left += 2;
        DrawTextW(dc, numberedTitle(i).c_str(), -1, &row,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
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

LRESULT unknownQuery(WPARAM code) {
    return player->unknownQueries == UnknownQueries::Tagged
               ? kUnknownQueryTag | static_cast<LRESULT>(code & 0xFFFF)
               : kUnknownQueryAnswer;
}

LRESULT answerMainQuery(WPARAM wParam, LPARAM code) {
    const int index = static_cast<int>(wParam);
    switch (code) {
    case host::kQueryPlayState:
        return static_cast<LRESULT>(player->state);
    case host::kQueryPlaylistPosition:
        return player->position;
    case host::kQueryEntryTitle:
        if (player->ansiTitles == AnsiTitles::Unknown)
            return unknownQuery(static_cast<WPARAM>(code));
        return inPlaylist(index) && player->ansiTitles == AnsiTitles::Text
                   ? reinterpret_cast<LRESULT>(player->titleAnswers[index].c_str())
                   : 0;
    case host::kQueryEntryTitleWide:
        if (!player->answerWideTitles)
            return unknownQuery(static_cast<WPARAM>(code));
        return inPlaylist(index) ? reinterpret_cast<LRESULT>(player->titles[index].c_str()) : 0;
    case host::kQueryIniPath:
        return player->answerIniPath ? reinterpret_cast<LRESULT>(player->iniPath.c_str()) : 0;
    case host::kQueryIniPathWide:
        if (!player->answerWideIniPath)
            return unknownQuery(static_cast<WPARAM>(code));
        return reinterpret_cast<LRESULT>(player->wideIniPath.c_str());
    case host::kQueryWindow:
        return wParam == host::kWindowPlaylist && player->answerPlaylistWindow
                   ? reinterpret_cast<LRESULT>(player->playlist)
                   : 0;
    case host::kSetVolume:
        if (wParam == static_cast<WPARAM>(host::kGetVolumeParam))
            return player->answerVolume ? player->volume : -1;
        changeVolume(static_cast<int>(wParam));
        return 0;
    case host::kCallbackSongStarted:
    case host::kCallbackStatusChanged:
        return 0;
    default:
        return unknownQuery(static_cast<WPARAM>(code));
    }
}

LRESULT answerPlaylistQuery(WPARAM code, LPARAM lParam) {
    switch (code) {
    case host::kPlaylistQueryCount:
        return static_cast<LRESULT>(player->titles.size());
    case host::kPlaylistQueryIndexAt:
        return lParam ? playlistIndexAt(*reinterpret_cast<const POINT*>(lParam)) : -1;
    default:
        return unknownQuery(code);
    }
}

// The player's own answer, or nothing for the default procedure.
using Answer = std::optional<LRESULT>;

Answer handleMain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
    case WM_CLOSE: // the host's shut-down: playback stops, the windows go
        player->closing = true;
        stop();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (player->closing)
            PostQuitMessage(0);
        break;
    case WM_NCDESTROY:
        player->main = nullptr;
        break;
    }
    return std::nullopt;
}

Answer handlePlaylist(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
    return std::nullopt;
}

LRESULT defaultProc(Charset charset, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return charset == Charset::Unicode ? DefWindowProcW(window, message, wParam, lParam)
                                       : DefWindowProcA(window, message, wParam, lParam);
}

// The log entry goes in on arrival, so nested messages follow the one that
// caused them; its result is filled in on the way out.
template <Window which, Charset charset>
LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!player)
        return defaultProc(charset, window, message, wParam, lParam);
    LoggedMessage entry{which, message, wParam, lParam, 0, player->depth, false, POINT{}};
    if (which == Window::Playlist && message == host::kWmUser &&
        wParam == host::kPlaylistQueryIndexAt && lParam)
        entry.point = *reinterpret_cast<const POINT*>(lParam);
    const std::size_t serial = player->logBase + player->log.size();
    player->log.push_back(entry);
    ++player->depth;
    const Answer answer = which == Window::Main ? handleMain(window, message, wParam, lParam)
                                                : handlePlaylist(window, message, wParam, lParam);
    const LRESULT result = answer ? *answer : defaultProc(charset, window, message, wParam, lParam);
    if (!player)
        return result;
    --player->depth;
    if (serial >= player->logBase && serial - player->logBase < player->log.size()) {
        LoggedMessage& done = player->log[serial - player->logBase];
        done.result = result;
        done.finished = true;
    }
    return result;
}

// The Unicode classes' procedures get wide messages, the ANSI classes' ANSI
// ones; each character set has procedures of its own.
WNDPROC ownProc(Window window, Charset charset) {
    if (charset == Charset::Unicode)
        return window == Window::Main ? windowProc<Window::Main, Charset::Unicode>
                                      : windowProc<Window::Playlist, Charset::Unicode>;
    return window == Window::Main ? windowProc<Window::Main, Charset::Ansi>
                                  : windowProc<Window::Playlist, Charset::Ansi>;
}

HWND handleOf(Window window) {
    if (!player)
        return nullptr;
    return window == Window::Main ? player->main : player->playlist;
}

// The window's procedure as its own character set sees it: asked through the
// other one, Windows hands out a translating stand-in instead.
LONG_PTR currentProc(HWND window) {
    return IsWindowUnicode(window) ? GetWindowLongPtrW(window, GWLP_WNDPROC)
                                   : GetWindowLongPtrA(window, GWLP_WNDPROC);
}

// Registers a class of the player's, once, through the A or the W functions.
template <typename Class, typename Char>
bool registerClass(BOOL(WINAPI* lookUp)(HINSTANCE, const Char*, Class*),
                   ATOM(WINAPI* add)(const Class*), const Char* name, WNDPROC procedure) {
    Class windowClass{};
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (lookUp(instance, name, &windowClass))
        return true;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = name;
    return add(&windowClass) != 0;
}

bool registerClasses(Charset charset) {
    if (charset == Charset::Unicode)
        return registerClass(GetClassInfoW, RegisterClassW, kMainClassW,
                             ownProc(Window::Main, charset)) &&
               registerClass(GetClassInfoW, RegisterClassW, kPlaylistClassW,
                             ownProc(Window::Playlist, charset));
    return registerClass(GetClassInfoA, RegisterClassA, kMainClassA,
                         ownProc(Window::Main, charset)) &&
           registerClass(GetClassInfoA, RegisterClassA, kPlaylistClassA,
                         ownProc(Window::Playlist, charset));
}

constexpr DWORD kMainStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kPlaylistStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;

// Where a window opens.
struct Place {
    int x, y, width, height;
};
constexpr Place kMainPlace{40, 40, 320, 130};
constexpr Place kPlaylistPlace{40, 180, 320, 300};

// The A and W creation functions, with the same arguments after the names.
template <typename Char, typename Create>
HWND createWindow(Create create, DWORD exStyle, const Char* windowClass, const Char* caption,
                  DWORD style, const Place& place, HWND owner) {
    return create(exStyle, windowClass, caption, style, place.x, place.y, place.width, place.height,
                  owner, nullptr, GetModuleHandleW(nullptr), nullptr);
}

void createWindows() {
    const std::wstring caption = currentCaption();
    if (player->charset == Charset::Unicode) {
        player->main = createWindow<wchar_t>(CreateWindowExW, 0, kMainClassW, caption.c_str(),
                                             kMainStyle, kMainPlace, nullptr);
        if (player->main)
            player->playlist = createWindow<wchar_t>(CreateWindowExW, WS_EX_TOOLWINDOW,
                                                     kPlaylistClassW, kPlaylistCaption,
                                                     kPlaylistStyle, kPlaylistPlace, player->main);
        return;
    }
    player->main =
        createWindow<char>(CreateWindowExA, 0, kMainClassA, ansiFromWide(caption).c_str(),
                           kMainStyle, kMainPlace, nullptr);
    if (player->main)
        player->playlist = createWindow<char>(CreateWindowExA, WS_EX_TOOLWINDOW, kPlaylistClassA,
                                              ansiFromWide(kPlaylistCaption).c_str(),
                                              kPlaylistStyle, kPlaylistPlace, player->main);
}

// ---- Subclasses and exports -------------------------------------------------

void restoreOwnProc(Window which) {
    HWND window = handleOf(which);
    if (!window || ownsWindowProc(which))
        return;
    const auto own = reinterpret_cast<LONG_PTR>(ownProc(which, player->charset));
    if (player->charset == Charset::Unicode)
        SetWindowLongPtrW(window, GWLP_WNDPROC, own);
    else
        SetWindowLongPtrA(window, GWLP_WNDPROC, own);
}

// A WM_QUIT of a shut-down that nobody finished must not end a later loop.
void dropPendingQuit() {
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
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
HWND mainWindow() {
    return handleOf(Window::Main);
}
HWND playlistWindow() {
    return handleOf(Window::Playlist);
}

bool ownsWindowProc(Window which) {
    HWND window = handleOf(which);
    return window &&
           currentProc(window) == reinterpret_cast<LONG_PTR>(ownProc(which, player->charset));
}

std::wstring mainCaption() {
    const HWND window = mainWindow();
    if (!window)
        return {};
    const int length = GetWindowTextLengthW(window);
    std::wstring caption(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    const int copied = GetWindowTextW(window, &caption[0], length + 1);
    caption.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return caption;
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
    return std::min(row, static_cast<int>(player->titles.size()));
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

// ---- Plug-in -----------------------------------------------------------------

namespace {

bool takePlugin(HMODULE module, const std::string& name) {
    if (!module)
        return fail("LoadLibrary(" + name + ") failed, error " + std::to_string(GetLastError()));
    auto entry = exportedFunction<GetGeneralPurposePluginFn>(module, host::kExportName);
    if (!entry) {
        FreeLibrary(module);
        return fail(name + " does not export " + host::kExportName);
    }
    player->module = module;
    player->entry = entry;
    if (player->elevated)
        answerFilterLookUps(module);
    return true;
}

bool readyToLoad() {
    if (!player)
        return fail("no player");
    if (player->module)
        return fail("a plug-in is already loaded");
    return true;
}

} // namespace

bool loadPlugin(const std::string& dllPath) {
    return readyToLoad() && takePlugin(LoadLibraryA(dllPath.c_str()), dllPath);
}

bool loadPlugin(const std::wstring& dllPath) {
    return readyToLoad() && takePlugin(LoadLibraryW(dllPath.c_str()), utf8FromWide(dllPath));
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

PluginDescriptor* pluginDescriptor() {
    return player ? player->descriptor : nullptr;
}
HMODULE pluginModule() {
    return player ? player->module : nullptr;
}
bool pluginRunning() {
    return player && player->running;
}
const std::string& pluginError() {
    return lastError;
}

// ---- Ini file ----------------------------------------------------------------

const std::string& iniPath() {
    static const std::string none;
    return player ? player->iniPath : none;
}

const std::wstring& wideIniPath() {
    static const std::wstring none;
    return player ? player->wideIniPath : none;
}

bool writeIniContent(const std::string& content) {
    return player && replaceIniFile(player->wideIniPath, content);
}

// The file is read through the wide functions, which take any path; texts
// come back in the ANSI code page, as the plug-in's values are.
std::string readIniString(const char* section, const char* key, const char* fallback) {
    if (!player)
        return fallback;
    const std::wstring wideSection = wideFromAnsi(section);
    const std::wstring wideKey = wideFromAnsi(key);
    const std::wstring wideFallback = wideFromAnsi(fallback);
    // A full buffer means the value may have been cut: try a larger one.
    for (DWORD size = 1024; size <= (1u << 20); size *= 4) {
        std::wstring buffer(size, L'\0');
        const DWORD length =
            GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), wideFallback.c_str(),
                                     &buffer[0], size, player->wideIniPath.c_str());
        if (length < size - 1) {
            buffer.resize(length);
            return ansiFromWide(buffer);
        }
    }
    return fallback;
}

std::vector<std::string> readIniSection(const char* section) {
    std::vector<std::string> lines;
    if (!player)
        return lines;
    const std::wstring wideSection = wideFromAnsi(section);
    for (DWORD size = 4096; size <= (1u << 20); size *= 4) {
        std::wstring buffer(size, L'\0');
        const DWORD length = GetPrivateProfileSectionW(wideSection.c_str(), &buffer[0], size,
                                                       player->wideIniPath.c_str());
        if (length >= size - 2)
            continue;
        for (std::size_t start = 0; start < length;) {
            const std::size_t end = buffer.find(L'\0', start);
            lines.push_back(ansiFromWide(buffer.substr(start, end - start)));
            start = end + 1;
        }
        break;
    }
    return lines;
}

} // namespace standin
