#include "api_recorder.h"

#include "import_table.h"
#include "win32_mutex.h"

#include <mmsystem.h>

#include <cstdlib>
#include <deque>

#include <utility>

namespace {

// The plug-in calls from its own threads too: every access is locked, and a
// deque keeps each record where it is while others are added.
std::deque<ApiCall> gCalls;
win32::Mutex gCallsLock;
LONG gSendsInFlight = 0;
LONG gTrayCallsInFlight = 0;
// Set while tooltip updates may go to the shell: reset, a hung shell holds them.
HANDLE gShellAnswers = CreateEventA(nullptr, TRUE, TRUE, nullptr);
constexpr DWORD kLongestShellHangMs = 5000;
// Bumped by every clear: a call of the plug-in's thread that returns after
// the test cleared the records must not write into what is gone.
unsigned gGeneration = 0;

std::optional<std::pair<DWORD, DWORD>> gVersion;
std::optional<POINT> gCursor;
std::function<void(HMENU, int, int, HWND)> gTrackHandler;
std::function<void(HWND, const char*, const char*)> gMessageBoxHandler;
bool gWaveFaked = false;
bool gAllocationsFail = false;
std::optional<DWORD> gWaveLevel;
std::optional<int> gDpi;
std::vector<FakeMonitor> gMonitors;
int gIconAddsToFail = 0;

// The system's own function behind each patched import, keyed by its type:
// no two patched functions share a signature.
template <typename Fn> struct Original { static inline Fn fn = nullptr; };
template <typename Fn> Fn original(Fn) {
    return Original<Fn>::fn;
}

ApiCall& record(const char* function, std::vector<DWORD_PTR> args, const char* text = nullptr) {
    ApiCall call;
    call.function = function;
    call.args = std::move(args);
    if (text != nullptr && !IS_INTRESOURCE(text))
        call.text = text;
    win32::Lock locked(gCallsLock);
    gCalls.push_back(std::move(call));
    return gCalls.back();
}

unsigned generation() {
    win32::Lock locked(gCallsLock);
    return gGeneration;
}

template <typename Value> void setResult(ApiCall& call, Value result) {
    win32::Lock locked(gCallsLock);
    call.result = static_cast<DWORD_PTR>(result);
}

// For calls the plug-in's own threads make: the record may have been cleared
// meanwhile.
template <typename Value> void setResultIfKept(ApiCall& call, unsigned since, Value result) {
    win32::Lock locked(gCallsLock);
    if (since == gGeneration)
        call.result = static_cast<DWORD_PTR>(result);
}

DWORD_PTR arg(const void* p) {
    return reinterpret_cast<DWORD_PTR>(p);
}

UINT WINAPI recGetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
    const UINT result = original(&GetPrivateProfileIntA)(section, key, fallback, file);
    ApiCall& call = record("GetPrivateProfileIntA",
                           {arg(section), static_cast<DWORD_PTR>(fallback), arg(file)});
    win32::Lock locked(gCallsLock);
    call.result = result;
    call.text = std::string(section) + "/" + key;
    return result;
}

DWORD WINAPI recGetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR out,
                                         DWORD size, LPCSTR file) {
    const DWORD result =
        original(&GetPrivateProfileStringA)(section, key, fallback, out, size, file);
    ApiCall& call =
        record("GetPrivateProfileStringA", {arg(section), arg(fallback), size, arg(file)});
    win32::Lock locked(gCallsLock);
    call.text = std::string(section) + "/" + key;
    call.result = result;
    return result;
}

WINBOOL WINAPI recWritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                             LPCSTR file) {
    ApiCall& call = record("WritePrivateProfileStringA", {arg(section), arg(value), arg(file)});
    {
        win32::Lock locked(gCallsLock);
        call.text = std::string(section) + "/" + key + "=" + (value ? value : "");
    }
    return original(&WritePrivateProfileStringA)(section, key, value, file);
}

std::string ansi(LPCWSTR text) {
    if (text == nullptr)
        return "";
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return "";
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.pop_back();
    return out;
}

UINT WINAPI recGetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT fallback, LPCWSTR file) {
    const UINT result = original(&GetPrivateProfileIntW)(section, key, fallback, file);
    ApiCall& call = record("GetPrivateProfileIntW",
                           {arg(section), static_cast<DWORD_PTR>(fallback), arg(file)});
    win32::Lock locked(gCallsLock);
    call.result = result;
    call.text = ansi(section) + "/" + ansi(key);
    return result;
}

DWORD WINAPI recGetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR out,
                                         DWORD size, LPCWSTR file) {
    const DWORD result =
        original(&GetPrivateProfileStringW)(section, key, fallback, out, size, file);
    ApiCall& call =
        record("GetPrivateProfileStringW", {arg(section), arg(fallback), size, arg(file)});
    win32::Lock locked(gCallsLock);
    call.text = ansi(section) + "/" + ansi(key);
    call.result = result;
    return result;
}

WINBOOL WINAPI recWritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value,
                                             LPCWSTR file) {
    ApiCall& call = record("WritePrivateProfileStringW", {arg(section), arg(value), arg(file)});
    {
        win32::Lock locked(gCallsLock);
        call.text = ansi(section) + "/" + ansi(key) + "=" + ansi(value);
    }
    return original(&WritePrivateProfileStringW)(section, key, value, file);
}

LONG WINAPI recSetWindowLongA(HWND window, int index, LONG value) {
    const LONG result = original(&SetWindowLongA)(window, index, value);
    record("SetWindowLongA",
           {arg(window), static_cast<DWORD_PTR>(index), static_cast<DWORD_PTR>(value)})
        .result = static_cast<DWORD_PTR>(result);
    return result;
}

// SetWindowLongA's twin: a distinct type keys its original apart.
using SetWindowLongWFn = LONG(WINAPI*)(HWND, int, LONG);
struct SetWindowLongWTag {
    static inline SetWindowLongWFn fn = nullptr;
};

LONG WINAPI recSetWindowLongW(HWND window, int index, LONG value) {
    const LONG result = SetWindowLongWTag::fn(window, index, value);
    record("SetWindowLongW",
           {arg(window), static_cast<DWORD_PTR>(index), static_cast<DWORD_PTR>(value)})
        .result = static_cast<DWORD_PTR>(result);
    return result;
}

UINT_PTR WINAPI recSetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC proc) {
    const UINT_PTR result = original(&SetTimer)(window, id, period, proc);
    record("SetTimer", {arg(window), id, period, arg(reinterpret_cast<void*>(proc))}).result =
        result;
    return result;
}

WINBOOL WINAPI recKillTimer(HWND window, UINT_PTR id) {
    const WINBOOL result = original(&KillTimer)(window, id);
    record("KillTimer", {arg(window), id}).result = static_cast<DWORD_PTR>(result);
    return result;
}

SIZE iconSize(HICON icon) {
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info))
        return SIZE{};
    BITMAP picture{};
    GetObjectA(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof picture, &picture);
    SIZE size{picture.bmWidth, picture.bmHeight};
    if (info.hbmColor == nullptr)
        size.cy /= 2; // a monochrome icon's mask holds both halves
    if (info.hbmColor != nullptr)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return size;
}

// The plug-in updates tooltips from a thread of its own: a test may clear the
// record meanwhile.
WINBOOL WINAPI recShell_NotifyIconA(DWORD action, PNOTIFYICONDATAA data) {
    InterlockedIncrement(&gTrayCallsInFlight);
    const unsigned since = generation();
    ApiCall& call = record("Shell_NotifyIconA", {action, arg(data)});
    if (data != nullptr) {
        const SIZE size = iconSize(data->hIcon);
        const std::uint64_t picture = iconPicture(data->hIcon);
        win32::Lock locked(gCallsLock);
        if (since == gGeneration) {
            call.icon = *data;
            call.text = data->szTip;
            call.iconSize = size;
            call.iconPicture = picture;
        }
    }
    if (action == NIM_MODIFY)
        WaitForSingleObject(gShellAnswers, kLongestShellHangMs);
    WINBOOL result = FALSE;
    if (action == NIM_ADD && gIconAddsToFail > 0) // adds come from the player's thread only
        --gIconAddsToFail;
    else
        result = original(&Shell_NotifyIconA)(action, data);
    setResultIfKept(call, since, result);
    InterlockedDecrement(&gTrayCallsInFlight);
    return result;
}

WINBOOL WINAPI recSetForegroundWindow(HWND window) {
    const bool visible = IsWindowVisible(window) != FALSE;
    ApiCall& call = record("SetForegroundWindow", {arg(window)});
    {
        win32::Lock locked(gCallsLock);
        call.windowVisible = visible;
    }
    const WINBOOL result = original(&SetForegroundWindow)(window);
    setResult(call, result);
    return result;
}

int WINAPI recGetSystemMetrics(int index) {
    if (!gDpi)
        return original(&GetSystemMetrics)(index);
    switch (index) {
    case SM_CXSMICON:
    case SM_CYSMICON:
        return MulDiv(16, *gDpi, 96);
    case SM_CXICON:
    case SM_CYICON:
        return MulDiv(32, *gDpi, 96);
    default:
        return original(&GetSystemMetrics)(index);
    }
}

// Fake monitor handles: index + this, never a real handle's value.
constexpr ULONG_PTR kFakeMonitorBase = 0x7E570000;

LONG distanceTo(const RECT& area, POINT point) {
    const LONG dx = point.x < area.left     ? area.left - point.x
                    : point.x >= area.right ? point.x - area.right + 1
                                            : 0;
    const LONG dy = point.y < area.top       ? area.top - point.y
                    : point.y >= area.bottom ? point.y - area.bottom + 1
                                             : 0;
    return dx * dx + dy * dy;
}

HMONITOR fakeMonitorNearest(POINT point) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < gMonitors.size(); ++i)
        if (distanceTo(gMonitors[i].area, point) < distanceTo(gMonitors[best].area, point))
            best = i;
    return reinterpret_cast<HMONITOR>(kFakeMonitorBase + best);
}

HMONITOR WINAPI recMonitorFromPoint(POINT point, DWORD flags) {
    if (gMonitors.empty())
        return original(&MonitorFromPoint)(point, flags);
    return fakeMonitorNearest(point);
}

HMONITOR WINAPI recMonitorFromWindow(HWND window, DWORD flags) {
    if (gMonitors.empty())
        return original(&MonitorFromWindow)(window, flags);
    RECT frame{};
    GetWindowRect(window, &frame);
    return fakeMonitorNearest(
        POINT{(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2});
}

WINBOOL WINAPI recGetMonitorInfoA(HMONITOR monitor, LPMONITORINFO info) {
    const ULONG_PTR index = reinterpret_cast<ULONG_PTR>(monitor) - kFakeMonitorBase;
    if (gMonitors.empty() || index >= gMonitors.size())
        return original(&GetMonitorInfoA)(monitor, info);
    info->rcMonitor = gMonitors[index].area;
    info->rcWork = gMonitors[index].work;
    info->dwFlags = index == 0 ? MONITORINFOF_PRIMARY : 0;
    return TRUE;
}

HMENU WINAPI recLoadMenuA(HINSTANCE module, LPCSTR name) {
    const HMENU result = original(&LoadMenuA)(module, name);
    record("LoadMenuA", {arg(module), arg(name)}, name).result = arg(result);
    return result;
}

HMENU WINAPI recGetSubMenu(HMENU menu, int position) {
    const HMENU result = original(&GetSubMenu)(menu, position);
    record("GetSubMenu", {arg(menu), static_cast<DWORD_PTR>(position)}).result = arg(result);
    return result;
}

DWORD WINAPI recCheckMenuItem(HMENU menu, UINT item, UINT flags) {
    const DWORD result = original(&CheckMenuItem)(menu, item, flags);
    record("CheckMenuItem", {arg(menu), item, flags}).result = result;
    return result;
}

WINBOOL WINAPI recDestroyMenu(HMENU menu) {
    record("DestroyMenu", {arg(menu)});
    return original(&DestroyMenu)(menu);
}

UINT WINAPI recRegisterWindowMessageA(LPCSTR name) {
    const UINT result = original(&RegisterWindowMessageA)(name);
    record("RegisterWindowMessageA", {arg(name)}, name).result = result;
    return result;
}

LRESULT WINAPI recSendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT flags, UINT timeout, PDWORD_PTR answer) {
    const bool alive = IsWindow(reinterpret_cast<HWND>(wParam)) != FALSE;
    InterlockedIncrement(&gSendsInFlight);
    const unsigned since = generation();
    ApiCall& call = record("SendMessageTimeoutA", {arg(window), message, wParam,
                                                   static_cast<DWORD_PTR>(lParam), flags, timeout});
    {
        win32::Lock locked(gCallsLock);
        if (since == gGeneration)
            call.wParamWindowAlive = alive;
    }
    const LRESULT result =
        original(&SendMessageTimeoutA)(window, message, wParam, lParam, flags, timeout, answer);
    setResultIfKept(call, since, result);
    InterlockedDecrement(&gSendsInFlight);
    return result;
}

LRESULT WINAPI recSendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ApiCall& call =
        record("SendMessageA", {arg(window), message, wParam, static_cast<DWORD_PTR>(lParam)});
    const LRESULT result = original(&SendMessageA)(window, message, wParam, lParam);
    setResult(call, result);
    return result;
}

WINBOOL WINAPI recGetVersionExA(LPOSVERSIONINFOA info) {
    record("GetVersionExA", {arg(info), info != nullptr ? info->dwOSVersionInfoSize : 0});
    if (!gVersion)
        return original(&GetVersionExA)(info);
    info->dwMajorVersion = gVersion->first;
    info->dwMinorVersion = gVersion->second;
    return TRUE;
}

WINBOOL WINAPI recGetCursorPos(LPPOINT point) {
    record("GetCursorPos", {arg(point)});
    if (!gCursor)
        return original(&GetCursorPos)(point);
    *point = *gCursor;
    return TRUE;
}

WINBOOL WINAPI recTrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                                 const RECT* rect) {
    record("TrackPopupMenu",
           {arg(menu), flags, static_cast<DWORD_PTR>(x), static_cast<DWORD_PTR>(y),
            static_cast<DWORD_PTR>(reserved), arg(owner), arg(rect)});
    if (!gTrackHandler)
        return original(&TrackPopupMenu)(menu, flags, x, y, reserved, owner, rect);
    gTrackHandler(menu, x, y, owner);
    return TRUE;
}

int WINAPI recMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    record("MessageBoxA", {arg(owner), arg(caption), type}, text);
    if (!gMessageBoxHandler)
        return original(&MessageBoxA)(owner, text, caption, type);
    gMessageBoxHandler(owner, text, caption);
    return IDOK;
}

WINBOOL WINAPI recPostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ApiCall& call =
        record("PostMessageA", {arg(window), message, wParam, static_cast<DWORD_PTR>(lParam)});
    const WINBOOL result = original(&PostMessageA)(window, message, wParam, lParam);
    setResult(call, result);
    return result;
}

FARPROC WINAPI recGetProcAddress(HMODULE module, LPCSTR name) {
    // Ordinals are left out of the text: they are not names.
    ApiCall& call = record("GetProcAddress", {arg(module), arg(name)}, name);
    const FARPROC result = original(&GetProcAddress)(module, name);
    setResult(call, reinterpret_cast<DWORD_PTR>(result));
    return result;
}

// The plug-in's C++ runtime allocates through msvcrt's malloc.
void* __cdecl recMalloc(size_t size) {
    if (gAllocationsFail)
        return nullptr;
    return original(&malloc)(size);
}

MMRESULT WINAPI recWaveOutGetVolume(HWAVEOUT device, LPDWORD level) {
    record("waveOutGetVolume", {arg(device), arg(level)});
    if (!gWaveFaked)
        return original(&waveOutGetVolume)(device, level);
    if (!gWaveLevel)
        return MMSYSERR_ERROR;
    *level = *gWaveLevel;
    return MMSYSERR_NOERROR;
}

template <typename Fn>
void patch(HMODULE plugin, const char* dll, const char* name, Fn original, Fn replacement) {
    void* previous = patchImport(plugin, dll, name, reinterpret_cast<void*>(replacement));
    Original<Fn>::fn = previous != nullptr ? reinterpret_cast<Fn>(previous) : original;
}

} // namespace

void startRecordingApi(HMODULE plugin) {
    clearRecordedCalls();
    gVersion.reset();
    gCursor.reset();
    gTrackHandler = nullptr;
    gMessageBoxHandler = nullptr;
    gWaveFaked = false;
    gWaveLevel.reset();
    gAllocationsFail = false;
    gDpi.reset();
    gMonitors.clear();
    gIconAddsToFail = 0;
    SetEvent(gShellAnswers);
    patch(plugin, "KERNEL32.dll", "GetPrivateProfileIntA", &GetPrivateProfileIntA,
          &recGetPrivateProfileIntA);
    patch(plugin, "KERNEL32.dll", "GetPrivateProfileStringA", &GetPrivateProfileStringA,
          &recGetPrivateProfileStringA);
    patch(plugin, "KERNEL32.dll", "WritePrivateProfileStringA", &WritePrivateProfileStringA,
          &recWritePrivateProfileStringA);
    patch(plugin, "KERNEL32.dll", "GetPrivateProfileIntW", &GetPrivateProfileIntW,
          &recGetPrivateProfileIntW);
    patch(plugin, "KERNEL32.dll", "GetPrivateProfileStringW", &GetPrivateProfileStringW,
          &recGetPrivateProfileStringW);
    patch(plugin, "KERNEL32.dll", "WritePrivateProfileStringW", &WritePrivateProfileStringW,
          &recWritePrivateProfileStringW);
    patch(plugin, "KERNEL32.dll", "GetVersionExA", &GetVersionExA, &recGetVersionExA);
    patch(plugin, "KERNEL32.dll", "GetProcAddress", &GetProcAddress, &recGetProcAddress);
    patch(plugin, "USER32.dll", "SetWindowLongA", &SetWindowLongA, &recSetWindowLongA);
    void* previous = patchImport(plugin, "USER32.dll", "SetWindowLongW",
                                 reinterpret_cast<void*>(&recSetWindowLongW));
    SetWindowLongWTag::fn =
        previous != nullptr ? reinterpret_cast<SetWindowLongWFn>(previous) : &SetWindowLongW;
    patch(plugin, "USER32.dll", "SetTimer", &SetTimer, &recSetTimer);
    patch(plugin, "USER32.dll", "KillTimer", &KillTimer, &recKillTimer);
    patch(plugin, "USER32.dll", "LoadMenuA", &LoadMenuA, &recLoadMenuA);
    patch(plugin, "USER32.dll", "GetSubMenu", &GetSubMenu, &recGetSubMenu);
    patch(plugin, "USER32.dll", "CheckMenuItem", &CheckMenuItem, &recCheckMenuItem);
    patch(plugin, "USER32.dll", "DestroyMenu", &DestroyMenu, &recDestroyMenu);
    patch(plugin, "USER32.dll", "RegisterWindowMessageA", &RegisterWindowMessageA,
          &recRegisterWindowMessageA);
    patch(plugin, "USER32.dll", "SendMessageTimeoutA", &SendMessageTimeoutA,
          &recSendMessageTimeoutA);
    patch(plugin, "USER32.dll", "SendMessageA", &SendMessageA, &recSendMessageA);
    patch(plugin, "USER32.dll", "GetCursorPos", &GetCursorPos, &recGetCursorPos);
    patch(plugin, "USER32.dll", "TrackPopupMenu", &TrackPopupMenu, &recTrackPopupMenu);
    patch(plugin, "USER32.dll", "MessageBoxA", &MessageBoxA, &recMessageBoxA);
    patch(plugin, "USER32.dll", "PostMessageA", &PostMessageA, &recPostMessageA);
    patch(plugin, "USER32.dll", "SetForegroundWindow", &SetForegroundWindow,
          &recSetForegroundWindow);
    patch(plugin, "USER32.dll", "GetSystemMetrics", &GetSystemMetrics, &recGetSystemMetrics);
    patch(plugin, "USER32.dll", "MonitorFromPoint", &MonitorFromPoint, &recMonitorFromPoint);
    patch(plugin, "USER32.dll", "MonitorFromWindow", &MonitorFromWindow, &recMonitorFromWindow);
    patch(plugin, "USER32.dll", "GetMonitorInfoA", &GetMonitorInfoA, &recGetMonitorInfoA);
    patch(plugin, "msvcrt.dll", "malloc", &malloc, &recMalloc);
    patch(plugin, "SHELL32.dll", "Shell_NotifyIconA", &Shell_NotifyIconA, &recShell_NotifyIconA);
    patch(plugin, "WINMM.DLL", "waveOutGetVolume", &waveOutGetVolume, &recWaveOutGetVolume);
}

void clearRecordedCalls() {
    win32::Lock locked(gCallsLock);
    gCalls.clear();
    ++gGeneration;
}

std::vector<ApiCall> recordedCalls() {
    win32::Lock locked(gCallsLock);
    return std::vector<ApiCall>(gCalls.begin(), gCalls.end());
}

long sendsInFlight() {
    return InterlockedCompareExchange(&gSendsInFlight, 0, 0);
}

long trayCallsInFlight() {
    return InterlockedCompareExchange(&gTrayCallsInFlight, 0, 0);
}

std::vector<ApiCall> recordedCalls(const std::vector<std::string>& functions) {
    std::vector<ApiCall> picked;
    win32::Lock locked(gCallsLock);
    for (const ApiCall& call : gCalls) {
        for (const std::string& f : functions) {
            if (call.function == f) {
                picked.push_back(call);
                break;
            }
        }
    }
    return picked;
}

std::vector<std::string> recordedFunctionNames() {
    std::vector<std::string> names;
    win32::Lock locked(gCallsLock);
    for (const ApiCall& call : gCalls)
        names.push_back(call.function);
    return names;
}

void fakeWindowsVersion(DWORD major, DWORD minor) {
    gVersion = std::make_pair(major, minor);
}
void fakeCursorPosition(POINT point) {
    gCursor = point;
}
void onTrackPopupMenu(std::function<void(HMENU, int, int, HWND)> handler) {
    gTrackHandler = std::move(handler);
}
void onMessageBox(std::function<void(HWND, const char*, const char*)> handler) {
    gMessageBoxHandler = std::move(handler);
}
void failAllocations(bool fail) {
    gAllocationsFail = fail;
}
void fakeWaveOutVolume(std::optional<DWORD> level) {
    gWaveFaked = true;
    gWaveLevel = level;
}

void fakeScreenDpi(int dpi) {
    gDpi = dpi;
}
void fakeMonitors(std::vector<FakeMonitor> monitors) {
    gMonitors = std::move(monitors);
}
void failIconAdds(int count) {
    gIconAddsToFail = count;
}
void hangShellUpdates(bool hang) {
    if (hang)
        ResetEvent(gShellAnswers);
    else
        SetEvent(gShellAnswers);
}

std::uint64_t iconPicture(HICON icon) {
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info))
        return 0;
    std::uint64_t digest = 14695981039346656037ull; // FNV-1a
    const HDC screen = GetDC(nullptr);
    for (HBITMAP part : {info.hbmColor, info.hbmMask}) {
        if (part == nullptr)
            continue;
        BITMAP shape{};
        GetObjectA(part, sizeof shape, &shape);
        BITMAPINFO format{};
        format.bmiHeader.biSize = sizeof format.bmiHeader;
        format.bmiHeader.biWidth = shape.bmWidth;
        format.bmiHeader.biHeight = shape.bmHeight;
        format.bmiHeader.biPlanes = 1;
        format.bmiHeader.biBitCount = 32;
        format.bmiHeader.biCompression = BI_RGB;
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(shape.bmWidth) *
                                          static_cast<std::size_t>(shape.bmHeight));
        GetDIBits(screen, part, 0, static_cast<UINT>(shape.bmHeight), pixels.data(), &format,
                  DIB_RGB_COLORS);
        for (std::uint32_t pixel : pixels) {
            digest ^= pixel;
            digest *= 1099511628211ull;
        }
        DeleteObject(part);
    }
    ReleaseDC(nullptr, screen);
    return digest;
}
