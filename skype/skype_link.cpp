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

bool handleAttachReply(WPARAM wParam, LPARAM lParam) {
    if (!isKnownStatus(lParam))
        return false;
    gLink.attachStatus = static_cast<AttachStatus>(lParam);
    if (gLink.attachStatus != AttachStatus::Success)
        return false;
    gLink.skypeWindow = reinterpret_cast<HWND>(wParam);
    return true;
}

void sendSkypeCommand(HWND client, const COPYDATASTRUCT& record) {
    if (record.cbData == 1)
        return;
    DWORD_PTR result = 0;
    const LRESULT sent = SendMessageTimeoutA(
        gLink.skypeWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(client),
        reinterpret_cast<LPARAM>(&record), kSendFlags, kSkypeSendTimeoutMs, &result);
    if (sent == 0 || result == 0)
        gLink.skypeWindow = nullptr;
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
