// The lean reference: a song change with exactly the calls it must make (the
// host's four queries, one ini read through the UTF-16 path the host gives, one tooltip update, the
// conversions and one WM_COPYDATA), an init that subclasses the host and adds one tray icon, and a
// quit that removes it. Skype's window comes from its Attach reply.
#include "bench/lean_plugin.h"
#include "host/host_api.h"
#include "mood/mood_text.h"
#include "plugin/plugin_descriptor.h"
#include "settings/settings.h"
#include "skype/skype_link.h"
#include "ui/tray.h"

#include <shellapi.h>

#include <string>

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

std::string utf8FromWide(const wchar_t* wide, int units) {
    std::string utf8(static_cast<std::size_t>(units) * kUtf8BytesPerUnit, '\0');
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8.data(),
                                          static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    return utf8;
}

std::string utf8FromAnsi(const char* ansi) {
    const int length = lstrlenA(ansi);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi, length, wide.data(), length);
    return utf8FromWide(wide.data(), units);
}

// Every occurrence, searching on after what was put in.
void replaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

void setTip(const char* title) {
    gIcon.uFlags = NIF_TIP;
    lstrcpynA(gIcon.szTip, title, kTrayTipMaxChars + 1);
    Shell_NotifyIconA(NIM_MODIFY, &gIcon);
}

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
    if (ansi != 0)
        setTip(reinterpret_cast<const char*>(ansi));

    const std::string title = host::isPointerAnswer(static_cast<unsigned long>(wide))
                                  ? utf8FromWide(reinterpret_cast<const wchar_t*>(wide),
                                                 lstrlenW(reinterpret_cast<const wchar_t*>(wide)))
                                  : utf8FromAnsi(reinterpret_cast<const char*>(ansi));
    std::string command(kRichMoodPrefix);
    command += utf8FromWide(templateText, lstrlenW(templateText));
    replaceAll(command, kTitlePlaceholder, title);
    replaceAll(command, kStatePlaceholder, kPlayingWord);
    command.append(2, '\0'); // the terminator and one more, as Skype is sent them

    COPYDATASTRUCT record{};
    record.cbData = static_cast<DWORD>(command.size());
    record.lpData = command.data();
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(gSkype, WM_COPYDATA, reinterpret_cast<WPARAM>(gHost),
                            reinterpret_cast<LPARAM>(&record), kSendFlags, bench::kSkypeWaitBoundMs,
                            &result) == 0 ||
        result == 0)
        gSkype = nullptr;
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
    return 0;
}

void config() {}

void quit() {
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
