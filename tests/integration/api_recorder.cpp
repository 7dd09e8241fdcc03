#include "api_recorder.h"

#include "import_table.h"
#include "win32_mutex.h"

#include <mmsystem.h>

#include <cstdlib>
#include <deque>
#include <type_traits>
#include <utility>

namespace {

// The plug-in calls from its own threads too: every access is locked, and a
// deque keeps each record where it is while others are added.
std::deque<ApiCall> gCalls;
win32::Mutex gCallsLock;
bool gRecording = false;
LONG gSendsInFlight = 0;
LONG gTrayCallsInFlight = 0;
// Bumped by every clear: a call of the plug-in's thread that returns after
// the test cleared the records must not write into what is gone.
unsigned gGeneration = 0;

bool gAllocationsFail = false;
int gIconAddsToFail = 0;

// A program that stops answering until let go; a safety bound lets go of it
// in the end, so that a broken test cannot hang the run.
class Hang {
  public:
    void set(bool hang) { hang ? ResetEvent(answers_) : SetEvent(answers_); }
    void wait() const { WaitForSingleObject(answers_, kLongestHangMs); }

  private:
    static constexpr DWORD kLongestHangMs = 5000;
    HANDLE answers_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
};
Hang gShell;
Hang gBroadcasts;

std::string utf8(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 1 ? static_cast<std::size_t>(bytes) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.pop_back();
    return out;
}

// What a call's argument is as a number, and as text where it is one to
// read (an output buffer is not; a resource or ordinal number neither).
template <typename T> DWORD_PTR number(T value) {
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<DWORD_PTR>(value);
    else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>)
        return static_cast<DWORD_PTR>(value);
    else
        return 0;
}

template <typename T> std::string textOf(T value) {
    if constexpr (std::is_same_v<T, const char*>)
        return value != nullptr && !IS_INTRESOURCE(value) ? value : "";
    else if constexpr (std::is_same_v<T, const wchar_t*>)
        return value != nullptr && !IS_INTRESOURCE(value) ? utf8(value) : "";
    else
        return "";
}

// The record of one call, kept for its result: none while not recording, or
// once the test cleared the records.
class Record {
  public:
    Record(const char* function, std::vector<DWORD_PTR> args, std::vector<std::string> strings,
           std::string (*text)(const std::vector<std::string>&)) {
        win32::Lock locked(gCallsLock);
        if (!gRecording)
            return;
        ApiCall call;
        call.function = function;
        call.args = std::move(args);
        call.text = text(strings);
        call.strings = std::move(strings);
        gCalls.push_back(std::move(call));
        call_ = &gCalls.back();
        generation_ = gGeneration;
    }

    // Changes the record, if it is still kept.
    void note(const std::function<void(ApiCall&)>& change) const {
        win32::Lock locked(gCallsLock);
        if (call_ != nullptr && generation_ == gGeneration)
            change(*call_);
    }
    template <typename Value> void result(Value value) const {
        note([value](ApiCall& call) { call.result = number(value); });
    }

  private:
    ApiCall* call_ = nullptr;
    unsigned generation_ = 0;
};

std::string firstText(const std::vector<std::string>& strings) {
    for (const std::string& text : strings)
        if (!text.empty())
            return text;
    return "";
}
std::string iniKey(const std::vector<std::string>& strings) {
    return strings[0] + "/" + strings[1];
}
std::string iniEntry(const std::vector<std::string>& strings) {
    return iniKey(strings) + "=" + strings[2];
}

using TextRule = std::string (*)(const std::vector<std::string>&);

// What replaces the system's functions, by the system function's address.
win32::Mutex gReplacementsLock;
std::vector<std::pair<const void*, std::shared_ptr<void>>> gReplacements;

std::shared_ptr<void> replacementOf(const void* function) {
    win32::Lock locked(gReplacementsLock);
    for (const auto& [key, replacement] : gReplacements)
        if (key == function)
            return replacement;
    return nullptr;
}

// One import of the plug-in's: the system's function behind it, what a test
// put in its place, and the wrappers that record the call or only pass it on.
// Keyed by the function's type; `Twin` keeps apart two of the same type.
template <typename Fn, int Twin = 0> struct Import;

template <typename R, typename... A, int Twin> struct Import<R(WINAPI*)(A...), Twin> {
    using Fn = R(WINAPI*)(A...);
    static inline Fn system = nullptr;
    static inline const void* key = nullptr;
    static inline const char* name = nullptr;
    static inline TextRule text = firstText;

    static R invoke(A... args) {
        if (const std::shared_ptr<void> replacement = replacementOf(key))
            return (*static_cast<std::function<R(Fn, A...)>*>(replacement.get()))(system, args...);
        return system(args...);
    }
    static Record record(A... args) {
        return Record(name, {number(args)...}, {textOf(args)...}, text);
    }
    static R WINAPI recorded(A... args) {
        const Record call = record(args...);
        const R result = invoke(args...);
        call.result(result);
        return result;
    }
    static R WINAPI passed(A... args) { return invoke(args...); }
};

// How the recorder patches one import into a module.
struct Hook {
    const char* dll;
    const char* name;
    const void* function; // the system's, as this program imports it
    void* wrapper;
    void (*keepSystem)(void* previous);
};

// `wrapper`: one of the recorder's own with more to record; by default the
// call is recorded as it is.
template <int Twin = 0, typename Fn>
Hook hook(const char* dll, const char* name, Fn function, TextRule text = firstText,
          Fn wrapper = nullptr) {
    using I = Import<Fn, Twin>;
    if (I::system == nullptr)
        I::system = function;
    I::key = reinterpret_cast<const void*>(function);
    I::name = name;
    I::text = text;
    return {dll, name, I::key, reinterpret_cast<void*>(wrapper != nullptr ? wrapper : &I::recorded),
            [](void* previous) { I::system = reinterpret_cast<Fn>(previous); }};
}

// Passed on, never recorded: what the plug-in asks of the screen.
template <typename Fn> Hook unrecorded(const char* name, Fn function) {
    return hook("USER32.dll", name, function, firstText, &Import<Fn>::passed);
}

constexpr char kKernel[] = "KERNEL32.dll";
constexpr char kUser[] = "USER32.dll";

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
    using I = Import<decltype(&Shell_NotifyIconA)>;
    InterlockedIncrement(&gTrayCallsInFlight);
    const Record call = I::record(action, data);
    if (data != nullptr) {
        const SIZE size = iconSize(data->hIcon);
        const std::uint64_t picture = iconPicture(data->hIcon);
        call.note([&](ApiCall& record) {
            record.icon = *data;
            record.text = data->szTip;
            record.iconSize = size;
            record.iconPicture = picture;
        });
    }
    if (action == NIM_MODIFY)
        gShell.wait();
    WINBOOL result = FALSE;
    if (action == NIM_ADD && gIconAddsToFail > 0) // adds come from the player's thread only
        --gIconAddsToFail;
    else
        result = I::invoke(action, data);
    call.result(result);
    InterlockedDecrement(&gTrayCallsInFlight);
    return result;
}

LRESULT WINAPI recSendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT flags, UINT timeout, PDWORD_PTR answer) {
    using I = Import<decltype(&SendMessageTimeoutA)>;
    const bool alive = IsWindow(reinterpret_cast<HWND>(wParam)) != FALSE;
    InterlockedIncrement(&gSendsInFlight);
    const Record call = I::record(window, message, wParam, lParam, flags, timeout, answer);
    call.note([alive](ApiCall& record) { record.wParamWindowAlive = alive; });
    if (window == HWND_BROADCAST)
        gBroadcasts.wait();
    const LRESULT result = I::invoke(window, message, wParam, lParam, flags, timeout, answer);
    call.result(result);
    InterlockedDecrement(&gSendsInFlight);
    return result;
}

WINBOOL WINAPI recSetForegroundWindow(HWND window) {
    using I = Import<decltype(&SetForegroundWindow)>;
    const bool visible = IsWindowVisible(window) != FALSE;
    const Record call = I::record(window);
    call.note([visible](ApiCall& record) { record.windowVisible = visible; });
    const WINBOOL result = I::invoke(window);
    call.result(result);
    return result;
}

// The plug-in's C++ runtime allocates through msvcrt's malloc.
using MallocFn = void*(__cdecl*)(size_t);
MallocFn gSystemMalloc = &malloc;

void* __cdecl recMalloc(size_t size) {
    return gAllocationsFail ? nullptr : gSystemMalloc(size);
}

const std::vector<Hook>& hooks() {
    static const std::vector<Hook> all = {
        hook(kKernel, "GetPrivateProfileIntA", &GetPrivateProfileIntA, iniKey),
        hook(kKernel, "GetPrivateProfileStringA", &GetPrivateProfileStringA, iniKey),
        hook(kKernel, "WritePrivateProfileStringA", &WritePrivateProfileStringA, iniEntry),
        hook(kKernel, "GetPrivateProfileIntW", &GetPrivateProfileIntW, iniKey),
        hook(kKernel, "GetPrivateProfileStringW", &GetPrivateProfileStringW, iniKey),
        hook(kKernel, "WritePrivateProfileStringW", &WritePrivateProfileStringW, iniEntry),
        hook(kKernel, "GetVersionExA", &GetVersionExA),
        hook(kKernel, "GetProcAddress", &GetProcAddress),
        hook(kUser, "SetWindowLongA", &SetWindowLongA),
        hook<1>(kUser, "SetWindowLongW", &SetWindowLongW),
        hook(kUser, "SetTimer", &SetTimer),
        hook(kUser, "KillTimer", &KillTimer),
        hook(kUser, "LoadMenuA", &LoadMenuA),
        hook(kUser, "GetSubMenu", &GetSubMenu),
        hook(kUser, "CheckMenuItem", &CheckMenuItem),
        hook(kUser, "DestroyMenu", &DestroyMenu),
        hook(kUser, "RegisterWindowMessageA", &RegisterWindowMessageA),
        hook(kUser, "SendMessageA", &SendMessageA),
        hook(kUser, "PostMessageA", &PostMessageA),
        hook(kUser, "GetCursorPos", &GetCursorPos),
        hook(kUser, "TrackPopupMenu", &TrackPopupMenu),
        hook(kUser, "MessageBoxA", &MessageBoxA),
        hook("WINMM.DLL", "waveOutGetVolume", &waveOutGetVolume),
        hook(kUser, "SendMessageTimeoutA", &SendMessageTimeoutA, firstText,
             &recSendMessageTimeoutA),
        hook(kUser, "SetForegroundWindow", &SetForegroundWindow, firstText,
             &recSetForegroundWindow),
        hook("SHELL32.dll", "Shell_NotifyIconA", &Shell_NotifyIconA, firstText,
             &recShell_NotifyIconA),
        unrecorded("GetSystemMetrics", &GetSystemMetrics),
        unrecorded("MonitorFromPoint", &MonitorFromPoint),
        unrecorded("MonitorFromWindow", &MonitorFromWindow),
        unrecorded("GetMonitorInfoA", &GetMonitorInfoA),
    };
    return all;
}

// Patching a module twice must not take the recorder for the system.
bool patch(HMODULE plugin, const Hook& hook) {
    void* previous = patchImport(plugin, hook.dll, hook.name, hook.wrapper);
    if (previous != nullptr && previous != hook.wrapper)
        hook.keepSystem(previous);
    return previous != nullptr;
}

} // namespace

void startRecordingApi(HMODULE plugin) {
    for (const Hook& hook : hooks())
        patch(plugin, hook);
    void* previous =
        patchImport(plugin, "msvcrt.dll", "malloc", reinterpret_cast<void*>(&recMalloc));
    if (previous != nullptr && previous != reinterpret_cast<void*>(&recMalloc))
        gSystemMalloc = reinterpret_cast<MallocFn>(previous);
    win32::Lock locked(gCallsLock);
    gCalls.clear();
    ++gGeneration;
    gRecording = true;
}

bool hookImport(HMODULE plugin, const void* function) {
    {
        win32::Lock locked(gCallsLock);
        gRecording = false;
    }
    for (const Hook& hook : hooks())
        if (hook.function == function)
            return patch(plugin, hook);
    return false;
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

// ---- Replacements -----------------------------------------------------------------

void replaceApi(const void* function, std::shared_ptr<void> replacement) {
    win32::Lock locked(gReplacementsLock);
    for (auto& [key, existing] : gReplacements)
        if (key == function) {
            existing = std::move(replacement);
            return;
        }
    gReplacements.emplace_back(function, std::move(replacement));
}

void resetApiFakes() {
    {
        win32::Lock locked(gReplacementsLock);
        gReplacements.clear();
    }
    gAllocationsFail = false;
    gIconAddsToFail = 0;
    gShell.set(false);
    gBroadcasts.set(false);
}

void fakeWindowsVersion(DWORD major, DWORD minor) {
    overrideApi(&GetVersionExA, [=](auto, LPOSVERSIONINFOA info) {
        info->dwMajorVersion = major;
        info->dwMinorVersion = minor;
        return TRUE;
    });
}

void fakeCursorPosition(POINT point) {
    overrideApi(&GetCursorPos, [=](auto, LPPOINT at) {
        *at = point;
        return TRUE;
    });
}

void onTrackPopupMenu(std::function<void(HMENU, int, int, HWND)> handler) {
    overrideApi(&TrackPopupMenu,
                [handler](auto, HMENU menu, UINT, int x, int y, int, HWND owner, const RECT*) {
                    handler(menu, x, y, owner);
                    return TRUE;
                });
}

void onMessageBox(std::function<void(HWND, const char*, const char*)> handler) {
    overrideApi(&MessageBoxA, [handler](auto, HWND owner, LPCSTR text, LPCSTR caption, UINT) {
        handler(owner, text, caption);
        return IDOK;
    });
}

void failAllocations(bool fail) {
    gAllocationsFail = fail;
}

void fakeWaveOutVolume(std::optional<DWORD> level) {
    overrideApi(&waveOutGetVolume, [level](auto, HWAVEOUT, LPDWORD out) -> MMRESULT {
        if (!level)
            return MMSYSERR_ERROR;
        *out = *level;
        return MMSYSERR_NOERROR;
    });
}

void fakeScreenDpi(int dpi) {
    overrideApi(&GetSystemMetrics, [dpi](auto system, int index) {
        switch (index) {
        case SM_CXSMICON:
        case SM_CYSMICON:
            return MulDiv(16, dpi, 96);
        case SM_CXICON:
        case SM_CYICON:
            return MulDiv(32, dpi, 96);
        default:
            return system(index);
        }
    });
}

namespace {

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

HMONITOR nearestMonitor(const std::vector<FakeMonitor>& monitors, POINT point) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < monitors.size(); ++i)
        if (distanceTo(monitors[i].area, point) < distanceTo(monitors[best].area, point))
            best = i;
    return reinterpret_cast<HMONITOR>(kFakeMonitorBase + best);
}

} // namespace

void fakeMonitors(std::vector<FakeMonitor> monitors) {
    overrideApi(&MonitorFromPoint,
                [monitors](auto, POINT point, DWORD) { return nearestMonitor(monitors, point); });
    overrideApi(&MonitorFromWindow, [monitors](auto, HWND window, DWORD) {
        RECT frame{};
        GetWindowRect(window, &frame);
        return nearestMonitor(
            monitors, POINT{(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2});
    });
    overrideApi(&GetMonitorInfoA, [monitors](auto system, HMONITOR monitor, LPMONITORINFO info) {
        const ULONG_PTR index = reinterpret_cast<ULONG_PTR>(monitor) - kFakeMonitorBase;
        if (index >= monitors.size())
            return system(monitor, info);
        info->rcMonitor = monitors[index].area;
        info->rcWork = monitors[index].work;
        info->dwFlags = index == 0 ? MONITORINFOF_PRIMARY : 0;
        return TRUE;
    });
}

void failIconAdds(int count) {
    gIconAddsToFail = count;
}

void hangShellUpdates(bool hang) {
    gShell.set(hang);
}

void holdBroadcasts(bool hold) {
    gBroadcasts.set(hold);
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
