// Records the system calls the loaded plug-in makes, by patching its import
// table, and lets a test put its own function in the place of any of them:
// one that needs a person (the popup menu's tracking, the message box), a
// particular system (version, cursor, wave-out volume, screen DPI, monitors,
// a shell not yet ready), or a program that hangs or fails.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct ApiCall {
    std::string function;
    std::vector<DWORD_PTR> args;
    // Each text argument as it read at the call (wide ones in UTF-8), "" for
    // the others.
    std::vector<std::string> strings;
    // The call's text: "section/key" of a profile read, "section/key=value"
    // of a write, the tooltip of a tray call, else its first text argument.
    std::string text;
    DWORD_PTR result = 0;
    NOTIFYICONDATAA icon{};         // Shell_NotifyIconA's record, copied at the call
    SIZE iconSize{};                // and the size of its icon's image then
    std::uint64_t iconPicture = 0;  // and its pixels (iconPicture below)
    bool wParamWindowAlive = false; // SendMessageTimeoutA: wParam named a live window
    bool windowVisible = false;     // SetForegroundWindow: its window was visible
};

// A digest of an icon's pixels and mask, to tell which image a handle holds;
// 0 for no icon.
std::uint64_t iconPicture(HICON icon);

struct FakeMonitor {
    RECT area; // the monitor in virtual-screen coordinates
    RECT work; // without its taskbars
};

// Points the plug-in's imports at the recorder (a library loaded anew needs
// it again), forgets what was recorded and records from now on.
void startRecordingApi(HMODULE plugin);
// Points one import at the recorder, which stops recording: for a replacement
// alone, or a fake. False when the plug-in does not import it.
bool hookImport(HMODULE plugin, const void* function);
void clearRecordedCalls();
std::vector<ApiCall> recordedCalls();
// Only the calls to these functions, in order.
std::vector<ApiCall> recordedCalls(const std::vector<std::string>& functions);
std::vector<std::string> recordedFunctionNames();
// SendMessageTimeoutA calls of the plug-in's that have not returned yet.
long sendsInFlight();
// Shell_NotifyIconA calls of the plug-in's that have not returned yet.
long trayCallsInFlight();

// ---- Replacements -------------------------------------------------------------
// Each holds until resetApiFakes.

template <typename T> struct NotDeduced { using type = T; };
void replaceApi(const void* function, std::shared_ptr<void> replacement);

// The plug-in's calls of the system's `function` go to `replacement`, which
// gets the system's own function first, to call or not. They are recorded
// all the same.
template <typename R, typename... A>
void overrideApi(R(WINAPI* function)(A...),
                 typename NotDeduced<std::function<R(R(WINAPI*)(A...), A...)>>::type replacement) {
    replaceApi(reinterpret_cast<const void*>(function),
               std::make_shared<std::function<R(R(WINAPI*)(A...), A...)>>(std::move(replacement)));
}
void resetApiFakes();

void fakeWindowsVersion(DWORD major, DWORD minor);
void fakeCursorPosition(POINT point);
// Called instead of tracking the menu; the menu handle and position are recorded
// either way. Without a handler the real menu is tracked.
void onTrackPopupMenu(std::function<void(HMENU menu, int x, int y, HWND owner)> handler);
// Called instead of showing the message box; without one the real box shows.
void onMessageBox(std::function<void(HWND owner, const char* text, const char* caption)> handler);
void fakeWaveOutVolume(std::optional<DWORD> level); // nullopt: the call fails
// The system metrics of a screen at this DPI (small icons 16 at 96, 24 at 144).
void fakeScreenDpi(int dpi);
// The monitors MonitorFromPoint, MonitorFromWindow and GetMonitorInfoA report.
void fakeMonitors(std::vector<FakeMonitor> monitors);
// A shell that is not ready yet: the next `count` NIM_ADDs fail without
// reaching it. (An add for an icon the shell holds, and a modify or delete
// of one it lacks, fail under Wine as on Windows.)
void failIconAdds(int count);
// A hung shell: icon updates (NIM_MODIFY) wait until it answers again, or 5 s.
void hangShellUpdates(bool hang);
// A program slow to take the Discover broadcast: each waits before it leaves
// until let go, or 5 s.
void holdBroadcasts(bool hold);
// While set, every allocation the plug-in asks of the C runtime fails, as in a
// host that has run out of memory.
void failAllocations(bool fail);
