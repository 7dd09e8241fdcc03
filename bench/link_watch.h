// What the plug-in's own thread sends to Skype, seen from the bench: every
// SendMessageTimeoutA the plug-in makes (the link's thread makes them all)
// and every notice that thread posts back pass through counters, so that the
// bench can wait, pumping the player's thread as a player would, until what
// was handed over has left and what that set off is done, and can tell how
// long the link's thread waited on other programs. One plug-in at a time.
#pragma once
#include <windows.h>

#include <functional>

namespace bench {

// Points the loaded plug-in's imports of SendMessageTimeoutA and PostMessageA
// at the counters, before init, so that its broadcast counts. The counts are
// of every plug-in watched so far: compare them before and after.
bool watchLink(HMODULE plugin);

struct LinkSends {
    long finished = 0;       // sends that returned
    long inFlight = 0;       // sends that have not returned yet
    long broadcasts = 0;     // of the finished: to HWND_BROADCAST
    long failed = 0;         // of the finished: timed out, or answered 0
    double seconds = 0;      // the finished sends' time, together
    double lastReturned = 0; // when the last send returned, as now() tells
    // The link's thread tells the player's thread of each delivered broadcast
    // and each failed send; the notices it posted so far.
    long noticesDue = 0;
    long noticesPosted = 0;
};
LinkSends linkSends();

// Pumps this thread's messages (the link window and the host windows live on
// it) until `done` holds, looking again whenever a message comes, a send
// returns or `lookEveryMs` passed; false when `boundMs` passed first.
bool pumpUntilLink(const std::function<bool()>& done, DWORD boundMs, DWORD lookEveryMs = INFINITE);
// Pumps as a player's loop does, for `ms`.
void pumpForLink(DWORD ms);
// Until `count` more sends than `before` returned, none is in flight, and the
// notices they set off were handled.
bool waitForLinkSends(const LinkSends& before, long count, DWORD boundMs);
// Until no send is in flight and none began for `quietMs`: for counting what
// was sent when the bench cannot know how much will be.
bool settleLink(DWORD quietMs, DWORD boundMs);
// Times the plug-in's link window procedure, which handles the link thread's
// notices and Skype's messages on the player's thread.
bool timeLinkWindow(HWND link);
// Its time so far: the plug-in's work on the player's thread outside the
// host's callbacks. (Fetching the messages is the player's loop's own cost.)
double linkWindowSeconds();

} // namespace bench
