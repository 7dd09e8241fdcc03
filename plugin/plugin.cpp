// The library's face towards the host: the descriptor, start-up and shut-down.
#include "host/host_api.h"
#include "mood/mood_composer.h"
#include "plugin/host_hook.h"
#include "plugin/link_window.h"
#include "plugin/message_filter.h"
#include "plugin/playlist_hook.h"
#include "plugin/plugin_descriptor.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "skype/skype_link.h"
#include "ui/guarded.h"
#include "ui/options_dialog.h"
#include "ui/popup_menu.h"
#include "ui/tray.h"
#include "ui/tray_tip_sender.h"
#include "ui/ui_host.h"

#include <string>
#include <vector>

namespace {

constexpr char kDescription[] = "Tralmo v" TRALMO_VERSION_TEXT;
// Quit returns within this of the host's call, whatever the shell and Skype
// do. Its waits share one deadline, which leaves room for the steps after
// them (the settings, the icons, the hooks).
constexpr DWORD kQuitBoundMs = 1500;
constexpr DWORD kQuitStepsAfterWaitsMs = 250;
constexpr DWORD kQuitWaitsMs = kQuitBoundMs - kQuitStepsAfterWaitsMs;
// The longest path the system gives a module name (\\?\ paths included).
constexpr std::size_t kLongestModulePath = 32768;

int init();
void config();
void quit();

PluginDescriptor gDescriptor = {
    host::kDescriptorVersion, kDescription, init, config, quit, nullptr, nullptr,
};

// The C++ runtime sorts its unwind tables at the first exception, and needs
// memory for that: without it the exception ends the host, whatever catches
// it. One exception while the library loads, when memory is there, makes every
// later one (the host run out of memory) safe to catch.
bool prepareUnwinding() noexcept {
    try {
        throw 0;
    } catch (int) {
    }
    return true;
}
[[maybe_unused]] const bool gUnwindingPrepared = prepareUnwinding();

HWND playlistWindow(HWND host) {
    return reinterpret_cast<HWND>(
        SendMessageA(host, host::kWmUser, host::kWindowPlaylist, host::kQueryWindow));
}

// The image this code runs in, whatever handle the host wrote into the
// descriptor.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HMODULE thisLibrary() {
    return reinterpret_cast<HMODULE>(&__ImageBase);
}

// The library's own path, zero-terminated, in UTF-16 so that a player folder
// outside the code page is named right; empty when the system cannot tell.
// (A vector: std::wstring would bring a second string class into the DLL.)
std::vector<wchar_t> libraryPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(thisLibrary(), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length + 1);
            return path;
        }
        if (path.size() >= kLongestModulePath)
            return {};
        path.resize(path.size() * 2);
    }
}

// A hook that something else has subclassed over stays reachable through its
// chain: keep the library mapped for the rest of the process with a reference
// of our own that is never released (Windows 2000 has no GetModuleHandleEx).
void pinLibrary() {
    static bool pinned = false;
    if (pinned)
        return;
    const std::vector<wchar_t> path = libraryPath();
    pinned = !path.empty() && LoadLibraryW(path.data()) != nullptr;
}

// Skype's side: the link's window and thread, the filter of an elevated
// player, and the first discovery.
void startSkype(HWND host, const std::vector<wchar_t>& path) {
    if (path.empty() || !startSkypeLink(thisLibrary(), path.data(), &SkypeLinkProc))
        return;
    letSkypeThroughFilter(skypeLinkWindow(), skypeAttachMessage(), host, taskbarCreatedMessage());
    discoverSkypeNow();
}

// Each step that may run short of memory is guarded on its own, so that the
// others still run: init must hook, and quit must unhook, whatever fails.
int init() {
    const HWND host = gDescriptor.hostWindow;
    bindUiHost(host, gDescriptor.moduleInstance);
    resetMoodState();
    guarded([host] { loadSettings(host); });
    installHostHook(host);
    startDiscoveryTimer(host);
    registerTaskbarCreated();
    if (settings().showTrayIcon != 0)
        addMainTrayIcon();
    initTrayButtons();
    loadPopupMenu();
    if (const HWND playlist = playlistWindow(host))
        installPlaylistHook(host, playlist);
    setMenuCheck(IDM_ACTIVE, settings().active);
    setMenuCheck(IDM_STOP_ON_CALL, settings().stopOnCall);
    guarded([host] {
        const std::vector<wchar_t> path = libraryPath();
        if (!path.empty())
            startTrayTipSender(path.data());
        startSkype(host, path);
    });
    return 0;
}

void config() {
    guarded([] { showOptionsDialog(); });
}

// The host may unload us before it destroys its windows: a procedure left
// pointing into an unloaded library would crash it. Unhook where we are
// still the window's procedure; the timer and the menu, which WM_DESTROY
// would have cleaned up, go now (nothing after quit needs discovery).
// Returns whether the windows can still reach our code.
bool unhookFromHostWindows(HWND host) {
    const bool mainUnhooked = removeHostHook();
    const bool playlistUnhooked = removePlaylistHook();
    killDiscoveryTimer(host);
    if (mainUnhooked)
        destroyPopupMenu();
    return !mainUnhooked || !playlistUnhooked;
}

// Quit, in this order:
//   1. the exit mood and its empty tooltip leave (waited for: the tooltip
//      reaches the shell before the icons go, the mood reaches a Skype
//      attached by then or attaching meanwhile);
//   2. the settings are saved, then Active and Stop on call cleared;
//   3. the link ends, the icons go, the hooks come off.
// Every wait shares one deadline: a hung shell or Skype keeps its thread, not
// the host.
void quit() {
    const Deadline deadline(kQuitWaitsMs);
    const HWND host = gDescriptor.hostWindow;
    // Quit may come from inside a dialog of ours (Windows ending the session
    // runs the host's loop inside ours): that dialog ends, and whatever it
    // does until it has must take no effect.
    const bool insideOurLoop = shutDownUi();
    guarded([host] { publishExitMood(host); });
    endTrayTipSender(deadline);
    awaitExitMood(deadline);
    saveSettings();
    settings().active = 0;
    settings().stopOnCall = 0;
    guarded([&deadline] { endSkypeLink(deadline); });
    removeMainTrayIcon();
    removeTrayButtons();
    releaseTrayResources();
    const bool stillReachable = unhookFromHostWindows(host);
    // Our code is still on the stack, or a later subclass still calls into
    // us: the library must outlive the host's FreeLibrary.
    if (insideOurLoop || stillReachable)
        guarded([] { pinLibrary(); });
}

} // namespace

extern "C" __declspec(dllexport) PluginDescriptor* winampGetGeneralPurposePlugin() noexcept {
    return &gDescriptor;
}
