// "Stop on call": pauses the player while a Skype call rings or runs.
#pragma once
#include <windows.h>

#include "skype/notification.h"

// Handles a WM_COPYDATA that reached the host window. Returns whether it was
// taken as a Skype notification (the hook then answers 1).
bool handleSkypeNotification(HWND host, WPARAM sender, const COPYDATASTRUCT* record,
                             bool stopOnCall);

void applyCallStatus(HWND host, CallStatus status, bool stopOnCall);
void pauseForCall(HWND host);
void resumeAfterCall(HWND host);
bool pausedByPlugin();
// Forgets every pause of ours, as when the library loaded.
void resetCallWatcher();
