#include "skype/skype_link.h"

namespace {

struct SkypeLink {
    UINT attachMessage = 0;
    UINT discoverMessage = 0;
    HWND skypeWindow = nullptr;
    AttachStatus attachStatus = AttachStatus::NotAvailable;
    bool discoveryDelivered = false;
};

SkypeLink gLink;

// SMTO_ABORTIFHUNG alone still lets sent messages from other threads through
// while we wait, as a plain SendMessage would: the attach reply relies on it.
constexpr UINT kSendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;

void registerMissingMessages() {
    if (gLink.attachMessage == 0)
        gLink.attachMessage = RegisterWindowMessageA(kSkypeAttachMessageName);
    if (gLink.discoverMessage == 0)
        gLink.discoverMessage = RegisterWindowMessageA(kSkypeDiscoverMessageName);
}

void forgetSkypeWindow() {
    gLink.skypeWindow = nullptr;
}

bool isKnownStatus(LPARAM status) {
    switch (static_cast<AttachStatus>(status)) {
    case AttachStatus::Success:
    case AttachStatus::PendingAuthorization:
    case AttachStatus::Refused:
    case AttachStatus::NotAvailable:
    case AttachStatus::ApiAvailable:
        return true;
    }
    return false;
}

} // namespace

bool discoverSkype(HWND client) {
    if (gLink.skypeWindow != nullptr && gLink.discoveryDelivered)
        return false;
    registerMissingMessages();
    gLink.discoveryDelivered = false;
    if (gLink.attachMessage == 0 || gLink.discoverMessage == 0)
        return false;
    DWORD_PTR ignored = 0;
    const LRESULT delivered =
        SendMessageTimeoutA(HWND_BROADCAST, gLink.discoverMessage, reinterpret_cast<WPARAM>(client),
                            0, kSendFlags, kSkypeSendTimeoutMs, &ignored);
    if (delivered == 0)
        return false;
    gLink.discoveryDelivered = true;
    return true;
}

bool isAttachMessage(UINT message) {
    return gLink.attachMessage != 0 && message == gLink.attachMessage;
}

AttachOutcome handleAttachReply(HWND client, WPARAM wParam, LPARAM lParam) {
    if (!isKnownStatus(lParam))
        return AttachOutcome::None;
    gLink.attachStatus = static_cast<AttachStatus>(lParam);
    const auto sender = reinterpret_cast<HWND>(wParam);
    switch (gLink.attachStatus) {
    case AttachStatus::Success:
        gLink.skypeWindow = sender;
        sendPlainCommand(client, kProtocolCommand);
        return AttachOutcome::Attached;
    case AttachStatus::Refused:
    case AttachStatus::NotAvailable:
        // The user refused access or logged out: that window will not listen.
        if (sender == gLink.skypeWindow)
            forgetSkypeWindow();
        return AttachOutcome::None;
    case AttachStatus::ApiAvailable:
        // A Skype that starts or logs in tells every window; whatever we knew
        // belongs to the session before.
        forgetSkypeWindow();
        return AttachOutcome::Rediscover;
    case AttachStatus::PendingAuthorization:
        break;
    }
    return AttachOutcome::None;
}

void sendSkypeCommand(HWND client, const COPYDATASTRUCT& record) {
    if (record.cbData == 1)
        return;
    DWORD_PTR result = 0;
    const LRESULT sent = SendMessageTimeoutA(
        gLink.skypeWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(client),
        reinterpret_cast<LPARAM>(&record), kSendFlags, kSkypeSendTimeoutMs, &result);
    if (sent == 0 || result == 0)
        forgetSkypeWindow();
}

void sendPlainCommand(HWND client, const char* text) {
    COPYDATASTRUCT record{};
    record.dwData = 0;
    record.cbData = static_cast<DWORD>(lstrlenA(text)) + 1;
    record.lpData = const_cast<char*>(text);
    sendSkypeCommand(client, record);
}

void answerSkypeNow() {
    // Sent from another thread only; our own sends need no early answer.
    if (InSendMessage())
        ReplyMessage(1);
}

HWND skypeWindow() {
    return gLink.skypeWindow;
}
bool discoveryDelivered() {
    return gLink.discoveryDelivered;
}
AttachStatus attachStatus() {
    return gLink.attachStatus;
}
