// The main icon's tooltip follows every song, and the shell that shows it is
// another process: the update leaves from a thread of ours, so that a busy
// shell never holds the player.
#pragma once
#include <windows.h>

#include <shellapi.h>

// Quit waits no longer than this for the last tooltip to reach the shell.
constexpr DWORD kTrayTipSenderEndBoundMs = 500;

// False when the thread cannot be made; tooltips then go out at once.
bool startTrayTipSender(const wchar_t* libraryPath);
// Hands an update (NIM_MODIFY) over; one still waiting is replaced, as only
// the latest shows. False when no sender runs.
bool handOverTrayTip(const NOTIFYICONDATAA& record);
// The icon went: an update still waiting must not reach its successor.
void dropWaitingTrayTip();
// Lets a waiting update leave, then ends the thread (see the bound above).
void endTrayTipSender();
