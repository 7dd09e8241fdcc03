// The Skype Desktop API session: discovery, attach replies, command channel.
#pragma once
#include <windows.h>

enum class AttachStatus : LONG {
    Success = 0,
    PendingAuthorization = 1,
    Refused = 2,
    NotAvailable = 3,
    ApiAvailable = 0x8001,
};

inline constexpr char kSkypeDiscoverMessageName[] = "SkypeControlAPIDiscover";
inline constexpr char kSkypeAttachMessageName[] = "SkypeControlAPIAttach";
// Every wait on Skype is bounded by this: the Desktop API itself drops a
// client that takes longer over a message, and a healthy send takes well
// under a millisecond.
constexpr UINT kSkypeSendTimeoutMs = 1000;
// Sent after every successful attach: rich mood text and the CANCELLED call
// status need it, and without it Skype talks protocol 1.
inline constexpr char kProtocolCommand[] = "PROTOCOL 7";

// One discovery step. `client` is the window Skype knows us by. Returns true
// when the broadcast was delivered and the caller should poll the play state.
bool discoverSkype(HWND client);

// Whether `message` is Skype's attach reply (never true before registration).
bool isAttachMessage(UINT message);

// What the caller must do after an attach reply.
enum class AttachOutcome {
    None,
    Attached,   // a new session: publish what plays
    Rediscover, // Skype's API has just become available: discover at once
};

// Records the reply. On Success the new window gets the protocol command
// before anything else. The caller answers the sender with 1 in every case.
AttachOutcome handleAttachReply(HWND client, WPARAM wParam, LPARAM lParam);

// Sends a command as its own bytes and one terminating zero (the mood
// commands, framed in UTF-8 with two zeros, go through sendSkypeCommand).
void sendPlainCommand(HWND client, const char* text);

// Lets Skype go on at once with our answer (1) to the message it is sending
// us, while we go on handling it: Skype drops a client that keeps it waiting
// more than a second, and what its message sets off (pausing the host, a poll,
// a mood) may talk back to Skype, which a Skype sending with SMTO_BLOCK would
// not hear until it is answered. Whatever the message carries must have been
// read before: its data may go with the answer.
void answerSkypeNow();

// Sends one command to Skype; a failed or timed-out send forgets the window.
void sendSkypeCommand(HWND client, const COPYDATASTRUCT& record);

HWND skypeWindow();
bool discoveryDelivered();
AttachStatus attachStatus();
