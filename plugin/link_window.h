// The procedure of the Skype link's window: Skype's attach replies and
// notifications, and the link thread's notices, all on the player's thread.
#pragma once
#include <windows.h>

LRESULT CALLBACK SkypeLinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
