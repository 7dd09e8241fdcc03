#include "plugin/window_subclass.h"

namespace {

LONG_PTR asLong(WNDPROC procedure) {
    return reinterpret_cast<LONG_PTR>(procedure);
}

WNDPROC currentProcedure(const Subclass& subclass) {
    const LONG_PTR current = subclass.unicode ? GetWindowLongPtrW(subclass.window, GWLP_WNDPROC)
                                              : GetWindowLongPtrA(subclass.window, GWLP_WNDPROC);
    return reinterpret_cast<WNDPROC>(current);
}

WNDPROC replaceProcedure(const Subclass& subclass, WNDPROC procedure) {
    const LONG_PTR previous =
        subclass.unicode ? SetWindowLongPtrW(subclass.window, GWLP_WNDPROC, asLong(procedure))
                         : SetWindowLongPtrA(subclass.window, GWLP_WNDPROC, asLong(procedure));
    return reinterpret_cast<WNDPROC>(previous);
}

} // namespace

Subclass subclassWindow(HWND window, WNDPROC procedure) {
    Subclass subclass;
    subclass.window = window;
    subclass.unicode = IsWindowUnicode(window) != FALSE;
    subclass.previous = replaceProcedure(subclass, procedure);
    return subclass;
}

LRESULT callPrevious(const Subclass& subclass, HWND window, UINT message, WPARAM wParam,
                     LPARAM lParam) {
    return subclass.unicode ? CallWindowProcW(subclass.previous, window, message, wParam, lParam)
                            : CallWindowProcA(subclass.previous, window, message, wParam, lParam);
}

bool removeSubclass(Subclass& subclass, WNDPROC procedure) {
    if (subclass.window == nullptr || !IsWindow(subclass.window))
        return true;
    if (currentProcedure(subclass) != procedure)
        return false;
    replaceProcedure(subclass, subclass.previous);
    subclass.window = nullptr;
    return true;
}
