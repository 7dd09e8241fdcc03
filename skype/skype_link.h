// The Skype Desktop API session: a window of our own that Skype knows us by,
// discovery, attach replies, and the command channel. Everything that waits on
// another process (the Discover broadcast, every command) runs on the link's
// own thread; the player's thread only hands work over.
#pragma once
#include <windows.h>

#include <string>

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
// Every wait on Skype is bounded by this: the Desktop API itself drops a
// client that takes longer over a message, and a healthy send takes well
// under a millisecond.
constexpr UINT kSkypeSendTimeoutMs = 1000;
// Quit waits no longer than this for the last commands to leave.
constexpr DWORD kSkypeLinkEndBoundMs = 1500;
// Sent after every successful attach: rich mood text and the CANCELLED call
// status need it, and without it Skype talks protocol 1.
inline constexpr char kProtocolCommand[] = "PROTOCOL 7";
// Discovery while nothing answers: every tick of the player's 5-second timer
// for the first minute, then every sixth tick (30 s), so that a user whose
// Skype never answers costs the desktop little. A Skype asking its user for
// permission is asked again at every tick.
constexpr unsigned kEagerDiscoveryTicks = 12;
constexpr unsigned kPatientDiscoveryTicks = 6;

// Starts the session: the link window (its procedure is the caller's), and the
// link's thread, which holds its own reference to `modulePath`. False when the
// link cannot be made; the plug-in then runs without Skype.
bool startSkypeLink(HINSTANCE module, const wchar_t* modulePath, WNDPROC linkProcedure);
// Lets what was handed over leave, waiting at most kSkypeLinkEndBoundMs (the
// player's sent messages are handled meanwhile), then removes the window, its
// class and the thread's handles. Safe to call when the link never started.
void endSkypeLink();
HWND skypeLinkWindow();

// Discovery. Now: at init and when Skype announces its API. A tick: when the
// back-off says so.
void discoverSkypeNow();
void onDiscoveryTick();

// What the link's thread tells the player's thread, posted to the link window.
enum class LinkNotice {
    None,
    Discovered, // a Discover broadcast was delivered: poll the play state
    SkypeLost,  // a send failed: the window is forgotten, searching starts over
};
LinkNotice linkNoticeOf(UINT message);
void onSkypeLost();

// Whether `message` is Skype's attach reply (never true before registration).
bool isAttachMessage(UINT message);
UINT skypeAttachMessage();

// What the caller must do after an attach reply.
enum class AttachOutcome {
    None,
    Attached,   // a new session: publish what plays
    Rediscover, // Skype's API has just become available: discover at once
};

// Records the reply. On Success the new window gets the protocol command
// before anything else. The caller answers the sender with 1 in every case.
AttachOutcome handleAttachReply(WPARAM wParam, LPARAM lParam);

// Hands a command to the link's thread, for the Skype window known now; with
// none known it is dropped. Plain commands go as their bytes and one zero.
void sendPlainCommand(const char* text);
// A mood, framed as it goes on the wire. A mood not yet sent when a newer one
// comes is dropped: Skype shows only the latest.
void sendMoodCommand(std::string framedBytes);

// Lets Skype go on at once with our answer (1) to the message it is sending
// us, while we go on handling it: Skype drops a client that keeps it waiting
// more than a second, and what its message sets off (pausing the host, a poll,
// a mood) may talk back to Skype. Whatever the message carries must have been
// read before: its data may go with the answer.
void answerSkypeNow();

HWND skypeWindow();
bool discoveryDelivered();
AttachStatus attachStatus();
