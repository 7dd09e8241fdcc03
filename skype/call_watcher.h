// "Stop on call": pauses the player while a Skype call rings or runs, and
// resumes it only when the calls that paused it have ended unanswered.
#pragma once
#include <windows.h>

// Handles a WM_COPYDATA that reached the link window. Returns whether it was
// taken as a message of the attached Skype's (the link then answers 1).
bool handleSkypeNotification(HWND host, WPARAM sender, const COPYDATASTRUCT* record,
                             bool stopOnCall);
