// The Skype link's two threads, which do all the waiting on other programs:
// the sender carries every command to Skype in the order handed over, and the
// searcher broadcasts Discover, so that no command waits behind a broadcast
// that a busy program holds up. What they learn they keep for the link window,
// and post it a notice.
// For the link itself (skype_link.cpp); the player's thread only hands over.
#pragma once
#include <windows.h>

#include <string>

#include "common/own_thread.h"

// Every wait on Skype is bounded by this: the Desktop API itself drops a
// client that takes longer over a message, and a healthy send takes well
// under a millisecond.
constexpr UINT kSkypeSendTimeoutMs = 1000;

// Posted to the link window whenever a broadcast returned or a send failed.
// It carries nothing: what happened waits in what the threads share, so that
// the same message posted by anyone else finds nothing.
constexpr UINT kLinkNotice = WM_APP + 1;

enum class CommandKind {
    Plain,
    Mood,     // replaces a mood still waiting: Skype shows only the latest
    ExitMood, // a mood; its delivery is what quit waits for
};

// Both threads, each holding its own reference to the library; false when
// they cannot be made (nothing is left running then).
bool startLinkThreads(const wchar_t* libraryPath, HWND window);
// Tells both to end once what was handed over has left, and waits for them
// until the deadline; whatever they share goes with the last of them.
void endLinkThreads(const Deadline& deadline);

// `session` is the caller's serial of the Skype session the command belongs to.
void queueCommand(unsigned session, HWND target, std::string bytes, CommandKind kind);
// The commands of earlier sessions are not sent.
void dropCommandsBefore(unsigned session);
// Asks for one broadcast of Skype's Discover message; one asked for while
// another is on its way follows it.
void requestBroadcast(UINT discoverMessage);
// A broadcast asked for and not yet begun is not made.
void cancelBroadcast();
bool broadcastOnItsWay();
struct LinkNews {
    bool broadcastReturned = false; // since the news was last taken
    bool broadcastDelivered = false;
    unsigned failedSession = 0; // the last session whose command failed; 0: none
};
// What happened when `message` is the threads' notice; nothing otherwise.
LinkNews takeLinkNews(UINT message);
bool exitMoodSent();
// Signalled whenever a command or a broadcast has returned.
HANDLE linkProgressEvent();
