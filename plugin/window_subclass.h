// Replacing a host window's procedure in the window's own character set: a
// Unicode window subclassed through the ANSI functions turns ANSI, and the
// host's caption and taskbar entry would lose every character outside the
// code page.
#pragma once
#include <windows.h>

struct Subclass {
    HWND window = nullptr;
    WNDPROC previous = nullptr;
    bool unicode = false;
};

// Puts `procedure` in front of the window's own; returns what to call on to.
Subclass subclassWindow(HWND window, WNDPROC procedure);

// Hands a message to the procedure the subclass replaced.
LRESULT callPrevious(const Subclass& subclass, HWND window, UINT message, WPARAM wParam,
                     LPARAM lParam);

// Puts the previous procedure back if `procedure` is still the window's.
// Returns whether the window can no longer reach `procedure` (put back, never
// installed, or the window is gone); false when something subclassed it later.
bool removeSubclass(Subclass& subclass, WNDPROC procedure);
