// The main icon's tooltip follows every song, and the shell that shows it is
// another process: the update leaves from a thread of ours, so that a busy
// shell never holds the player.
#pragma once
#include <windows.h>

#include <shellapi.h>

#include "common/own_thread.h"

// False when the thread cannot be made; tooltips then go out at once.
bool startTrayTipSender(const wchar_t* libraryPath);
// Hands an update (NIM_MODIFY) over; one still waiting is replaced, as only
// the latest shows. False when no sender runs.
bool handOverTrayTip(const NOTIFYICONDATAA& record);
// The icon went: an update still waiting must not reach its successor.
void dropWaitingTrayTip();
// Lets a waiting update leave, then ends the thread; waits no longer than the
// deadline (a hung shell keeps its update, and the thread, past it).
void endTrayTipSender(const Deadline& deadline);
