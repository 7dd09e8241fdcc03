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
// Every wait on another program is bounded by this.
constexpr UINT kSkypeSendTimeoutMs = 3000;

// One discovery step. `client` is the window Skype knows us by. Returns true
// when the broadcast was delivered and the caller should poll the play state.
bool discoverSkype(HWND client);

// Whether `message` is Skype's attach reply (never true before registration).
bool isAttachMessage(UINT message);

// Records the reply. Returns true when it was a Success and the caller should
// poll the play state. The caller answers the sender with 1 in every case.
bool handleAttachReply(WPARAM wParam, LPARAM lParam);

// Sends one command to Skype; a failed or timed-out send forgets the window.
void sendSkypeCommand(HWND client, const COPYDATASTRUCT& record);

HWND skypeWindow();
bool discoveryDelivered();
AttachStatus attachStatus();
