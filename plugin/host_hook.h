#pragma once
#include <windows.h>

LRESULT CALLBACK HostHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void installHostHook(HWND host);
void startDiscoveryTimer(HWND host);
// Puts the previous procedure back if ours is still the window's. Returns
// whether the window can no longer reach the hook (put back, or the window
// is gone); false when something subclassed it after us.
bool removeHostHook();
void killDiscoveryTimer(HWND host);
