#include "plugin/message_filter.h"

#include "ui/tray.h"

namespace {

constexpr DWORD kVistaMajor = 6;
constexpr DWORD kWindows7Minor = 1;

using FilterForWindow = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
using FilterForProcess = BOOL(WINAPI*)(UINT, DWORD);

// A function user32 may lack, as the type it has where it exists.
template <typename Function> Function user32Function(const char* name) {
    const HMODULE user32 = GetModuleHandleA(kUser32Name);
    const FARPROC found = user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
    // Through void(*)(), the one pointer type any function pointer converts to.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

bool filterEachWindow(HWND link, UINT attachMessage, HWND host, UINT taskbarCreated) {
    const auto allow = user32Function<FilterForWindow>(kFilterForWindowName);
    if (allow == nullptr)
        return false;
    if (attachMessage != 0)
        allow(link, attachMessage, kFilterAllowOnWindow, nullptr);
    allow(link, WM_COPYDATA, kFilterAllowOnWindow, nullptr);
    if (taskbarCreated != 0)
        allow(host, taskbarCreated, kFilterAllowOnWindow, nullptr);
    return true;
}

void filterWholeProcess(UINT attachMessage, UINT taskbarCreated) {
    const auto add = user32Function<FilterForProcess>(kFilterForProcessName);
    if (add == nullptr)
        return;
    if (attachMessage != 0)
        add(attachMessage, kFilterAddForProcess);
    if (taskbarCreated != 0)
        add(taskbarCreated, kFilterAddForProcess);
}

} // namespace

void letSkypeThroughFilter(HWND link, UINT attachMessage, HWND host, UINT taskbarCreated) {
    if (!isWindowsAtLeast(kVistaMajor, 0))
        return;
    if (isWindowsAtLeast(kVistaMajor, kWindows7Minor) &&
        filterEachWindow(link, attachMessage, host, taskbarCreated))
        return;
    filterWholeProcess(attachMessage, taskbarCreated);
}
