#pragma once
#include <windows.h>

LRESULT CALLBACK HostHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void installHostHook(HWND host);
void startDiscoveryTimer(HWND host);
// Puts the previous procedure back if ours is still the window's. Returns
// whether it did (the hook's clean-up then falls to the caller).
bool removeHostHook(HWND host);
void killDiscoveryTimer(HWND host);
