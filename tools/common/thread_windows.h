// A window of this thread found by its class: the plug-in's link window, a
// dialog box, the popup menu's window.
#pragma once
#include <windows.h>

namespace win32 {

enum class Shown { Any, VisibleOnly };

namespace detail {

struct ClassSearch {
    const char* className;
    Shown shown;
    HWND found;
};

inline BOOL CALLBACK matchClass(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<ClassSearch*>(parameter);
    if (search->shown == Shown::VisibleOnly && !IsWindowVisible(window))
        return TRUE;
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, search->className) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace detail

// The first top-level window of the calling thread with this class, or null.
inline HWND threadWindowOfClass(const char* className, Shown shown = Shown::Any) {
    detail::ClassSearch search{className, shown, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), detail::matchClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace win32
