// The lean reference: a song change with exactly the calls it must make (the
// host's four queries, one ini read through the UTF-16 path the host gives, one
// tooltip update, the conversions and one WM_COPYDATA), an init that
// subclasses the host and adds one tray icon, and a quit that removes it.
// Skype's window comes from its Attach reply. It needs no C++ runtime (its
// text lives on the process heap), so it is also the floor of what a plug-in
// weighs and leaves in the host. Built with BENCH_LEAN_HANDS_OVER, the
// tooltip and the WM_COPYDATA leave from a thread of its own instead, the
// latest replacing one not yet gone: the floor of the plug-in's own design.
#include "bench/lean_plugin.h"
#include "host/host_api.h"
#include "mood/mood_text.h"
#include "plugin/plugin_descriptor.h"
#include "settings/settings.h"
#include "skype/skype_link.h"
#include "ui/tray.h"

#include <shellapi.h>

#include <string_view>

namespace {

constexpr UINT kSendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;
constexpr std::string_view kPlayingWord = "playing";
// A UTF-16 unit never needs more than three UTF-8 bytes.
constexpr int kUtf8BytesPerUnit = 3;

int init();
void config();
void quit();

PluginDescriptor gDescriptor = {
    host::kDescriptorVersion, "Lean reference", init, config, quit, nullptr, nullptr,
};
HWND gHost = nullptr;
WNDPROC gPrevious = nullptr;
UINT gAttachMessage = 0;
HWND gSkype = nullptr;
NOTIFYICONDATAA gIcon{};

// The template's section, key and default, and the fallback file, in UTF-16:
// made once at init, as the host gives its ini path in UTF-16.
struct ProfileNames {
    wchar_t section[32];
    wchar_t key[32];
    wchar_t fallback[32];
    wchar_t file[32];
};
ProfileNames gProfileNames{};

template <std::size_t N> void widen(const char* text, wchar_t (&out)[N]) {
    MultiByteToWideChar(CP_ACP, 0, text, -1, out, static_cast<int>(N));
}
bench::Leak gLeak = bench::Leak::None;

LRESULT askHost(WPARAM wParam, long query) {
    return SendMessageA(gHost, host::kWmUser, wParam, query);
}

// Units on the process heap, as many as are put in.
template <typename Unit> class HeapText {
  public:
    HeapText() = default;
    ~HeapText() {
        if (data_ != nullptr)
            HeapFree(GetProcessHeap(), 0, data_);
    }
    HeapText(const HeapText&) = delete;
    HeapText& operator=(const HeapText&) = delete;

    // Room for `more` units after the text; false if the heap has none.
    bool reserve(std::size_t more) {
        if (size_ + more <= capacity_)
            return true;
        const std::size_t capacity = (size_ + more) * 2;
        void* grown = data_ == nullptr
                          ? HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(Unit))
                          : HeapReAlloc(GetProcessHeap(), 0, data_, capacity * sizeof(Unit));
        if (grown == nullptr)
            return false;
        data_ = static_cast<Unit*>(grown);
        capacity_ = capacity;
        return true;
    }
    bool append(std::basic_string_view<Unit> more) {
        if (!reserve(more.size()))
            return false;
        CopyMemory(end(), more.data(), more.size() * sizeof(Unit));
        size_ += more.size();
        return true;
    }
    // After `count` units were written at end().
    void grow(std::size_t count) { size_ += count; }
    Unit* data() { return data_; }
    Unit* end() { return data_ + size_; }
    std::basic_string_view<Unit> view() const { return {data_, size_}; }

  private:
    Unit* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

bool appendUtf8FromWide(HeapText<char>& utf8, const wchar_t* wide, int units) {
    const int room = units * kUtf8BytesPerUnit;
    if (!utf8.reserve(static_cast<std::size_t>(room)))
        return false;
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8.end(), room, nullptr, nullptr);
    utf8.grow(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    return true;
}

bool appendUtf8FromAnsi(HeapText<char>& utf8, const char* ansi) {
    const int length = lstrlenA(ansi);
    HeapText<wchar_t> wide;
    if (!wide.reserve(static_cast<std::size_t>(length)))
        return false;
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi, length, wide.end(), length);
    wide.grow(units > 0 ? static_cast<std::size_t>(units) : 0);
    return appendUtf8FromWide(utf8, wide.data(), static_cast<int>(wide.view().size()));
}

// Every occurrence, searching on after what was put in.
bool appendReplaced(HeapText<char>& out, std::string_view text, std::string_view placeholder,
                    std::string_view value) {
    std::size_t from = 0;
    for (std::size_t at = text.find(placeholder); at != std::string_view::npos;
         at = text.find(placeholder, from)) {
        if (!out.append({text.data() + from, at - from}) || !out.append(value))
            return false;
        from = at + placeholder.size();
    }
    return out.append({text.data() + from, text.size() - from});
}

void setTip(NOTIFYICONDATAA& icon, const char* title) {
    icon.uFlags = NIF_TIP;
    lstrcpynA(icon.szTip, title, kTrayTipMaxChars + 1);
    Shell_NotifyIconA(NIM_MODIFY, &icon);
}

// Returns whether Skype took it.
bool send(HWND skype, char* bytes, std::size_t size) {
    COPYDATASTRUCT record{};
    record.cbData = static_cast<DWORD>(size);
    record.lpData = bytes;
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(skype, WM_COPYDATA, reinterpret_cast<WPARAM>(gHost),
                               reinterpret_cast<LPARAM>(&record), kSendFlags,
                               bench::kSkypeWaitBoundMs, &result) != 0 &&
           result != 0;
}

#ifdef BENCH_LEAN_HANDS_OVER
// What the player's thread hands over: the latest song's tooltip and command.
struct HandOver {
    CRITICAL_SECTION lock;
    HANDLE wake = nullptr;
    HANDLE thread = nullptr;
    // Under the lock:
    char tip[kTrayTipMaxChars + 1] = {};
    char* bytes = nullptr; // on the process heap; the thread frees it
    std::size_t size = 0;
    HWND skype = nullptr;
    LONG pending = 0; // handed over and not yet gone
    bool ending = false;
};
HandOver gHandOver;

DWORD WINAPI handOverThread(void*) {
    NOTIFYICONDATAA icon = gIcon;
    for (;;) {
        WaitForSingleObject(gHandOver.wake, INFINITE);
        EnterCriticalSection(&gHandOver.lock);
        char* bytes = gHandOver.bytes;
        const std::size_t size = gHandOver.size;
        const HWND skype = gHandOver.skype;
        const bool ending = gHandOver.ending;
        char tip[kTrayTipMaxChars + 1];
        lstrcpynA(tip, gHandOver.tip, kTrayTipMaxChars + 1);
        gHandOver.bytes = nullptr;
        LeaveCriticalSection(&gHandOver.lock);
        if (bytes != nullptr) {
            setTip(icon, tip);
            send(skype, bytes, size);
            HeapFree(GetProcessHeap(), 0, bytes);
            // Gone only if nothing newer came meanwhile.
            EnterCriticalSection(&gHandOver.lock);
            if (gHandOver.bytes == nullptr)
                InterlockedExchange(&gHandOver.pending, 0);
            LeaveCriticalSection(&gHandOver.lock);
        }
        if (ending)
            return 0;
    }
}

void handOver(const char* tip, HeapText<char>& command) {
    char* bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, command.view().size()));
    if (bytes == nullptr)
        return;
    CopyMemory(bytes, command.data(), command.view().size());
    EnterCriticalSection(&gHandOver.lock);
    if (gHandOver.bytes != nullptr)
        HeapFree(GetProcessHeap(), 0, gHandOver.bytes);
    lstrcpynA(gHandOver.tip, tip, kTrayTipMaxChars + 1);
    gHandOver.bytes = bytes;
    gHandOver.size = command.view().size();
    gHandOver.skype = gSkype;
    InterlockedExchange(&gHandOver.pending, 1);
    LeaveCriticalSection(&gHandOver.lock);
    SetEvent(gHandOver.wake);
}

void startHandOver() {
    InitializeCriticalSection(&gHandOver.lock);
    gHandOver.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    gHandOver.thread = CreateThread(nullptr, 0, handOverThread, nullptr, 0, nullptr);
}

void endHandOver() {
    EnterCriticalSection(&gHandOver.lock);
    gHandOver.ending = true;
    LeaveCriticalSection(&gHandOver.lock);
    SetEvent(gHandOver.wake);
    WaitForSingleObject(gHandOver.thread, INFINITE);
    CloseHandle(gHandOver.thread);
    CloseHandle(gHandOver.wake);
    DeleteCriticalSection(&gHandOver.lock);
    gHandOver.thread = nullptr;
}
#endif

void leakOne() {
    switch (gLeak) {
    case bench::Leak::None:
        break;
    case bench::Leak::KernelHandle:
        CreateEventA(nullptr, FALSE, FALSE, nullptr);
        break;
    case bench::Leak::HeapBytes:
        HeapAlloc(GetProcessHeap(), 0, bench::kLeakedHeapBytesPerSong);
        break;
    case bench::Leak::Icon:
        CopyIcon(LoadIconA(nullptr, IDI_APPLICATION));
        break;
    case bench::Leak::Cursor:
        CopyCursor(LoadCursorA(nullptr, IDC_ARROW));
        break;
    case bench::Leak::Menu:
        CreatePopupMenu();
        break;
    case bench::Leak::GdiObject:
        CreateSolidBrush(RGB(1, 2, 3));
        break;
    case bench::Leak::Window:
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                        gDescriptor.moduleInstance, nullptr);
        break;
    }
}

void publishSong() {
    const auto position = static_cast<WPARAM>(askHost(0, host::kQueryPlaylistPosition));
    const LRESULT wide = askHost(position, host::kQueryEntryTitleWide);
    const LRESULT ansi = askHost(position, host::kQueryEntryTitle);
    const LRESULT ini = askHost(0, host::kQueryIniPathWide);
    if (!host::isPointerAnswer(static_cast<unsigned long>(wide)) && ansi == 0)
        return;
    wchar_t templateText[kIniTextBufferSize];
    GetPrivateProfileStringW(gProfileNames.section, gProfileNames.key, gProfileNames.fallback,
                             templateText, kIniTextBufferSize,
                             host::isPointerAnswer(static_cast<unsigned long>(ini))
                                 ? reinterpret_cast<const wchar_t*>(ini)
                                 : gProfileNames.file);
#ifndef BENCH_LEAN_HANDS_OVER
    if (ansi != 0)
        setTip(gIcon, reinterpret_cast<const char*>(ansi));
#endif

    HeapText<char> title;
    HeapText<char> templateUtf8;
    HeapText<char> titled;
    HeapText<char> command;
    const bool composed =
        (host::isPointerAnswer(static_cast<unsigned long>(wide))
             ? appendUtf8FromWide(title, reinterpret_cast<const wchar_t*>(wide),
                                  lstrlenW(reinterpret_cast<const wchar_t*>(wide)))
             : appendUtf8FromAnsi(title, reinterpret_cast<const char*>(ansi))) &&
        appendUtf8FromWide(templateUtf8, templateText, lstrlenW(templateText)) &&
        titled.append(kRichMoodPrefix) &&
        appendReplaced(titled, templateUtf8.view(), kTitlePlaceholder, title.view()) &&
        appendReplaced(command, titled.view(), kStatePlaceholder, kPlayingWord) &&
        command.append({"\0", 2}); // the terminator and one more, as Skype is sent them
    if (!composed)
        return;

#ifdef BENCH_LEAN_HANDS_OVER
    handOver(ansi != 0 ? reinterpret_cast<const char*>(ansi) : "", command);
#else
    if (!send(gSkype, command.data(), command.view().size()))
        gSkype = nullptr;
#endif
    leakOne();
}

LRESULT CALLBACK hook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == host::kWmUser && lParam == host::kCallbackSongStarted) {
        publishSong();
    } else if (gAttachMessage != 0 && message == gAttachMessage) {
        if (lParam == static_cast<LPARAM>(AttachStatus::Success))
            gSkype = reinterpret_cast<HWND>(wParam);
        return 1;
    }
    return CallWindowProcA(gPrevious, window, message, wParam, lParam);
}

int init() {
    gHost = gDescriptor.hostWindow;
    widen(kIniSection, gProfileNames.section);
    widen(kKeyUserString, gProfileNames.key);
    widen(kComposerDefaultTemplate, gProfileNames.fallback);
    widen(host::kFallbackIniPath, gProfileNames.file);
    gAttachMessage = RegisterWindowMessageA(kSkypeAttachMessageName);
    gPrevious = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(gHost, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&hook)));
    gIcon.cbSize = kNotifyIconDataSize;
    gIcon.hWnd = gHost;
    gIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    gIcon.uCallbackMessage = kMainTrayCallback;
    gIcon.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    lstrcpynA(gIcon.szTip, gDescriptor.description, kTrayTipMaxChars + 1);
    Shell_NotifyIconA(NIM_ADD, &gIcon);
#ifdef BENCH_LEAN_HANDS_OVER
    startHandOver();
#endif
    return 0;
}

void config() {}

void quit() {
#ifdef BENCH_LEAN_HANDS_OVER
    endHandOver();
#endif
    Shell_NotifyIconA(NIM_DELETE, &gIcon);
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(gHost, GWLP_WNDPROC)) == &hook)
        SetWindowLongPtrA(gHost, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gPrevious));
    gSkype = nullptr;
}

} // namespace

extern "C" __declspec(dllexport) PluginDescriptor* winampGetGeneralPurposePlugin() {
    return &gDescriptor;
}

extern "C" __declspec(dllexport) void benchLeakPerSong(int leak) {
    gLeak = static_cast<bench::Leak>(leak);
}

#ifdef BENCH_LEAN_HANDS_OVER
// Whether what was handed over has gone to Skype.
extern "C" __declspec(dllexport) bool benchHandedOverGone() {
    return InterlockedCompareExchange(&gHandOver.pending, 0, 0) == 0;
}
#endif
