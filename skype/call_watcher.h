// "Stop on call": pauses the player while a Skype call rings or runs, and
// resumes it only when the calls that paused it have ended unanswered.
#pragma once
#include <windows.h>

// Handles a WM_COPYDATA that reached the host window. Returns whether it was
// taken as a Skype notification (the hook then answers 1).
bool handleSkypeNotification(HWND host, WPARAM sender, const COPYDATASTRUCT* record,
                             bool stopOnCall);

// Some call that paused the music has not ended yet.
bool pausedByPlugin();
// Forgets every pause of ours, as when the library loaded.
void resetCallWatcher();
