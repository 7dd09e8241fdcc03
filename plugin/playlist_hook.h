#pragma once
#include <windows.h>

LRESULT CALLBACK PlaylistHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void installPlaylistHook(HWND host, HWND playlist);
// As removeHostHook, for the playlist window.
bool removePlaylistHook();
