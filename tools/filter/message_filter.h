// Windows' message filter (User Interface Privilege Isolation) as Wine lacks
// it. On Vista and later a process running as administrator does not receive
// WM_COPYDATA, registered or WM_USER-range messages that a process of lower
// integrity sends or posts to it, unless it let them through its filter:
// per window (ChangeWindowMessageFilterEx, Windows 7) or for the whole
// process (ChangeWindowMessageFilter, Vista). The sender's send fails and
// nothing tells the receiver.
//
// The elevated side marks its process and answers the two filter functions;
// the sender asks deliverable() before every message. The state lives in
// window properties, so that another process sees it.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace message_filter {

// Hidden top-level window that marks its process as elevated.
inline constexpr char kMarkerClass[] = "TralmoElevatedProcessMarker";

// The process runs as administrator from now on (true) or no more (false).
void markProcessElevated(bool elevated);

// The two functions as Windows has them; every call is recorded.
BOOL WINAPI changeWindowMessageFilter(UINT message, DWORD flag);
BOOL WINAPI changeWindowMessageFilterEx(HWND window, UINT message, DWORD action, void* info);

struct FilterCall {
    std::string function;  // "ChangeWindowMessageFilter" or "...Ex"
    HWND window = nullptr; // null for the process-wide function
    UINT message = 0;
    DWORD action = 0;
};
std::vector<FilterCall> filterCalls();
void clearFilterCalls();

// Whether Windows would hand `message` to `target` when a process of lower
// integrity sends or posts it.
bool deliverable(HWND target, UINT message);
// Whether any process on the desktop is marked elevated (a broadcast must then
// be delivered window by window).
bool anyProcessElevated();

} // namespace message_filter
