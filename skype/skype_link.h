// The Skype Desktop API session: a window of our own that Skype knows us by,
// discovery, attach replies, the command channel, and the one Skype session
// with everything that belongs to it. Everything that waits on another
// process (the Discover broadcast, every command) runs on the link's own
// threads; the player's thread only hands work over.
//
// A session begins at a Success from a Skype window and ends at Refused or
// NotAvailable from that window, at ApiAvailable, at a Success from another
// window, at a failed send, and when the link ends. Its window, its search
// back-off and the calls that hold the music paused end with it, but for the
// calls of a Skype that may still have them (a failed send, ApiAvailable,
// Refused): those are checked with Skype at its next Success, and forgotten
// at a Success from another window or NotAvailable from that one.
#pragma once
#include <windows.h>

#include <string>

#include "common/own_thread.h"
#include "skype/call_book.h"
#include "skype/discovery_search.h"
#include "skype/notification.h"

enum class AttachStatus : LONG {
    Success = 0,
    PendingAuthorization = 1,
    Refused = 2,
    NotAvailable = 3,
    ApiAvailable = 0x8001,
};

inline constexpr char kSkypeDiscoverMessageName[] = "SkypeControlAPIDiscover";
inline constexpr char kSkypeAttachMessageName[] = "SkypeControlAPIAttach";
// The window class of the link: hidden, top-level (Skype's ApiAvailable
// announcement is a broadcast, which message-only windows never hear).
inline constexpr char kSkypeLinkWindowClass[] = "TralmoSkypeLink";
// Sent after every successful attach: rich mood text and the CANCELLED call
// status need it, and without it Skype talks protocol 1.
inline constexpr char kProtocolCommand[] = "PROTOCOL 7";
// Sent next when calls of ours outlived the session before: Skype answers
// "CALLS 12, 34" with the calls still active.
inline constexpr char kActiveCallsCommand[] = "SEARCH ACTIVECALLS";

// Starts the link: its window (its procedure is the caller's) and its
// threads, which hold their own references to `modulePath`. False when the
// link cannot be made; the plug-in then runs without Skype.
bool startSkypeLink(HINSTANCE module, const wchar_t* modulePath, WNDPROC linkProcedure);
// Ends the session, lets what was handed over leave until the deadline (the
// player's sent messages are handled meanwhile), then removes the window and
// its class. Safe to call when the link never started.
void endSkypeLink(const Deadline& deadline);
HWND skypeLinkWindow();

// Discovery. Now: at init and when Skype announces its API. A tick: when the
// back-off says so. Neither while a Skype is attached.
void discoverSkypeNow();
void onDiscoveryTick();

// A notice of the link's threads to the link window, or any other message.
// Returns what the caller must do: poll the play state after a delivered
// Discover broadcast.
enum class LinkNotice { None, Discovered };
LinkNotice handleLinkNotice(UINT message);

// Whether `message` is Skype's attach reply (never true before registration).
bool isAttachMessage(UINT message);
UINT skypeAttachMessage();

// Records the reply; a new session opens with the protocol command before
// anything else. Attached: the caller publishes what plays. The caller
// answers the sender with 1 in every case.
enum class AttachOutcome { None, Attached };
AttachOutcome handleAttachReply(WPARAM wParam, LPARAM lParam);

// Hands a command to the link, for the attached Skype; with none it is
// dropped. Plain commands go as their bytes and one zero.
void sendPlainCommand(const char* text);
// A mood, framed as it goes on the wire. A mood not yet sent when a newer one
// comes is dropped: Skype shows only the latest.
void sendMoodCommand(std::string framedBytes);
// From now on ordinary moods are refused: Skype keeps what it shows.
void endMoods();
// The mood on exit: to the Skype attached now, or to one whose Success comes
// before the link ends. Ends the moods: nothing replaces it.
void sendExitMood(std::string framedBytes);
// Waits until the exit mood has left, or nothing can take it (no Skype
// attached and no Discover on its way), or the deadline has passed.
void awaitExitMood(const Deadline& deadline);

// Lets Skype go on at once with our answer (1) to the message it is sending
// us, while we go on handling it: Skype drops a client that keeps it waiting
// more than a second, and what its message sets off (pausing the host, a poll,
// a mood) may talk back to Skype. Whatever the message carries must have been
// read before: its data may go with the answer.
void answerSkypeNow();

// The attached Skype's window; null while searching.
HWND skypeWindow();
// The calls of the session that hold the music paused.
CallBook& sessionCalls();
// Skype's answer to our question which calls are still active: the calls it
// does not list ended while we could not hear them; an error leaves none.
// Answers we did not wait for change nothing.
void settleCallCheck(const CallsAnswer& answer);
