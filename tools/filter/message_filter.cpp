#include "message_filter.h"

#include "win32_mutex.h"

#include <cstdio>

namespace message_filter {
namespace {

// MSGFLT_ADD / MSGFLT_ALLOW, MSGFLT_REMOVE / MSGFLT_DISALLOW, MSGFLT_RESET.
constexpr DWORD kAllow = 1;
constexpr DWORD kDisallow = 2;
constexpr DWORD kReset = 0;

HWND g_marker = nullptr;
win32::Mutex g_lock;
std::vector<FilterCall> g_calls;

void record(const char* function, HWND window, UINT message, DWORD action) {
    win32::Lock lock(g_lock);
    g_calls.push_back({function, window, message, action});
}

std::string allowanceName(UINT message) {
    char name[48];
    std::snprintf(name, sizeof name, "TralmoFilterAllows#%04X", message);
    return name;
}

// Messages the filter keeps from a lower process unless allowed.
bool filtered(UINT message) {
    return message == WM_COPYDATA || message >= WM_USER;
}

void setAllowance(HWND window, UINT message, DWORD action) {
    if (window == nullptr)
        return;
    if (action == kAllow)
        SetPropA(window, allowanceName(message).c_str(), reinterpret_cast<HANDLE>(1));
    else if (action == kDisallow || action == kReset)
        RemovePropA(window, allowanceName(message).c_str());
}

struct MarkerSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK findMarker(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<MarkerSearch*>(parameter);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, kMarkerClass) != 0)
        return TRUE;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (search->process != 0 && process != search->process)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND markerOf(DWORD process) {
    MarkerSearch search{process, nullptr};
    EnumWindows(findMarker, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

void markProcessElevated(bool elevated) {
    if (elevated == (g_marker != nullptr))
        return;
    if (!elevated) {
        DestroyWindow(g_marker);
        g_marker = nullptr;
        return;
    }
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kMarkerClass;
    RegisterClassA(&windowClass);
    g_marker = CreateWindowExA(WS_EX_TOOLWINDOW, kMarkerClass, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                               nullptr, windowClass.hInstance, nullptr);
}

BOOL WINAPI changeWindowMessageFilter(UINT message, DWORD flag) {
    record("ChangeWindowMessageFilter", nullptr, message, flag);
    setAllowance(g_marker, message, flag);
    return TRUE;
}

BOOL WINAPI changeWindowMessageFilterEx(HWND window, UINT message, DWORD action, void*) {
    record("ChangeWindowMessageFilterEx", window, message, action);
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    setAllowance(window, message, action);
    return TRUE;
}

std::vector<FilterCall> filterCalls() {
    win32::Lock lock(g_lock);
    return g_calls;
}

void clearFilterCalls() {
    win32::Lock lock(g_lock);
    g_calls.clear();
}

bool deliverable(HWND target, UINT message) {
    if (!filtered(message) || target == nullptr)
        return true;
    DWORD process = 0;
    GetWindowThreadProcessId(target, &process);
    const HWND marker = markerOf(process);
    if (marker == nullptr)
        return true;
    const std::string name = allowanceName(message);
    return GetPropA(target, name.c_str()) != nullptr || GetPropA(marker, name.c_str()) != nullptr;
}

bool anyProcessElevated() {
    return markerOf(0) != nullptr;
}

} // namespace message_filter
