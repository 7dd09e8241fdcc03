// The player's windows: their classes, procedures and painting, and what
// tests ask of them.
#include "player_state.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace standin {

using namespace detail;

namespace {

// The two character sets register classes of their own: one name cannot
// stand for both in one process.
constexpr char kMainClassA[] = "StandinPlayerMain";
constexpr char kPlaylistClassA[] = "StandinPlayerPlaylist";
constexpr wchar_t kMainClassW[] = L"StandinPlayerMainW";
constexpr wchar_t kPlaylistClassW[] = L"StandinPlayerPlaylistW";
constexpr wchar_t kPlaylistCaption[] = L"Playlist";

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

} // namespace

// ---- Classes, windows and subclasses -----------------------------------------

namespace detail {

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

} // namespace detail

// ---- What tests ask of the windows -------------------------------------------

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

} // namespace standin
