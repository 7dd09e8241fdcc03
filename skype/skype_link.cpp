#include "skype/skype_link.h"

#include "skype/link_threads.h"

#include <utility>

namespace {

enum class CallCheck {
    None,
    Due,   // calls outlived the session before: ask Skype at the next Success
    Asked, // asked; the session must hear the answer before it ends
};

// One Skype session, from the Success that begins it to its end, and before
// it the search for it. Nothing of one session is read in the next but the
// calls an end leaves to be checked.
struct Session {
    unsigned serial = 1;      // names its commands: a failed send reports it
    HWND window = nullptr;    // Skype's API window; null while searching
    DiscoverySearch search;   // the back-off while searching
    CallBook calls;           // the calls that hold the music paused
    HWND callsFrom = nullptr; // the Skype window they are of
    CallCheck callCheck = CallCheck::None;
};

// What lives as long as the link does.
struct Link {
    bool running = false;
    HINSTANCE module = nullptr;
    bool classRegistered = false;
    HWND window = nullptr;
    UINT attachMessage = 0;
    UINT discoverMessage = 0;
    std::string exitMood; // empty until quit composes it
    bool moodsEnded = false;
};

Session gSession;
Link gLink;

bool attached() {
    return gSession.window != nullptr;
}

// Its calls go on to be checked, unless the check was asked and not heard.
void endSession() {
    Session next;
    next.serial = gSession.serial + 1;
    if (gSession.callCheck != CallCheck::Asked && !gSession.calls.ids.empty()) {
        next.calls = std::move(gSession.calls);
        next.callsFrom = gSession.window;
        next.callCheck = CallCheck::Due;
    }
    gSession = std::move(next);
    dropCommandsBefore(gSession.serial);
}

// The calls are of the Skype window they came from: one that restarted (a
// Success comes from another window) or logged out, attached or not, has
// ended them.
void forgetCalls() {
    gSession.calls = CallBook{};
    gSession.callCheck = CallCheck::None;
}

void handOver(std::string bytes, CommandKind kind) {
    // A block of nothing but its terminator carries no command.
    if (!gLink.running || !attached() || bytes.size() <= 1)
        return;
    queueCommand(gSession.serial, gSession.window, std::move(bytes), kind);
}

void beginSession(HWND window) {
    if (attached())
        endSession();
    if (gSession.callsFrom != window)
        forgetCalls();
    gSession.window = window;
    gSession.callsFrom = window;
    cancelBroadcast();
    sendPlainCommand(kProtocolCommand);
    if (gSession.callCheck == CallCheck::Due) {
        sendPlainCommand(kActiveCallsCommand);
        gSession.callCheck = CallCheck::Asked;
    }
    if (!gLink.exitMood.empty())
        handOver(gLink.exitMood, CommandKind::ExitMood);
}

void registerMissingMessages() {
    if (gLink.attachMessage == 0)
        gLink.attachMessage = RegisterWindowMessageA(kSkypeAttachMessageName);
    if (gLink.discoverMessage == 0)
        gLink.discoverMessage = RegisterWindowMessageA(kSkypeDiscoverMessageName);
}

// A message that cannot be registered leaves the search without a broadcast;
// the next tick tries again.
void requestDiscovery() {
    registerMissingMessages();
    if (gLink.attachMessage == 0 || gLink.discoverMessage == 0)
        return;
    noteBroadcast(gSession.search);
    requestBroadcast(gLink.discoverMessage);
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

bool createLinkWindow(HINSTANCE module, WNDPROC procedure) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kSkypeLinkWindowClass;
    gLink.classRegistered = RegisterClassA(&windowClass) != 0;
    if (!gLink.classRegistered)
        return false;
    gLink.window = CreateWindowExA(WS_EX_TOOLWINDOW, kSkypeLinkWindowClass, "Tralmo", WS_POPUP, 0,
                                   0, 0, 0, nullptr, nullptr, module, nullptr);
    return gLink.window != nullptr;
}

void removeLinkWindow() {
    if (gLink.window != nullptr)
        DestroyWindow(gLink.window);
    if (gLink.classRegistered)
        UnregisterClassA(kSkypeLinkWindowClass, gLink.module);
    gLink = Link{};
}

bool exitMoodSettled(void*) {
    if (gLink.exitMood.empty() || exitMoodSent())
        return true;
    return !attached() && !broadcastOnItsWay();
}

} // namespace

bool startSkypeLink(HINSTANCE module, const wchar_t* modulePath, WNDPROC linkProcedure) {
    endSkypeLink(Deadline(0));
    gLink.module = module;
    registerMissingMessages();
    if (!createLinkWindow(module, linkProcedure) || !startLinkThreads(modulePath, gLink.window)) {
        removeLinkWindow();
        return false;
    }
    gLink.running = true;
    return true;
}

void endSkypeLink(const Deadline& deadline) {
    // What was handed over still leaves, and what Skype answers meanwhile is
    // still taken; nothing new begins.
    gLink.running = false;
    endLinkThreads(deadline);
    removeLinkWindow();
    gSession = Session{};
}

HWND skypeLinkWindow() {
    return gLink.window;
}

void discoverSkypeNow() {
    if (!gLink.running || attached())
        return;
    gSession.search = DiscoverySearch{};
    requestDiscovery();
}

void onDiscoveryTick() {
    if (!gLink.running || attached())
        return;
    if (tickBroadcasts(gSession.search, broadcastOnItsWay()))
        requestDiscovery();
}

LinkNotice handleLinkNotice(UINT message) {
    const LinkNews news = takeLinkNews(message);
    if (attached() && news.failedSession == gSession.serial)
        endSession();
    if (!gLink.running || !news.broadcastReturned)
        return LinkNotice::None;
    if (broadcastReturned(gSession.search) && !attached())
        requestDiscovery();
    return news.broadcastDelivered ? LinkNotice::Discovered : LinkNotice::None;
}

bool isAttachMessage(UINT message) {
    return gLink.attachMessage != 0 && message == gLink.attachMessage;
}

UINT skypeAttachMessage() {
    return gLink.attachMessage;
}

AttachOutcome handleAttachReply(WPARAM wParam, LPARAM lParam) {
    if (!gLink.running || !isKnownStatus(lParam))
        return AttachOutcome::None;
    const auto sender = reinterpret_cast<HWND>(wParam);
    const bool fromAttached = attached() && sender == gSession.window;
    switch (static_cast<AttachStatus>(lParam)) {
    case AttachStatus::Success:
        beginSession(sender);
        return AttachOutcome::Attached;
    case AttachStatus::PendingAuthorization:
        noteAnswer(gSession.search, true);
        break;
    case AttachStatus::Refused:
        if (fromAttached)
            endSession();
        noteAnswer(gSession.search, false);
        break;
    case AttachStatus::NotAvailable:
        if (fromAttached)
            endSession();
        if (sender == gSession.callsFrom)
            forgetCalls();
        noteAnswer(gSession.search, false);
        break;
    case AttachStatus::ApiAvailable:
        // A Skype that starts or logs in tells every window.
        if (attached())
            endSession();
        discoverSkypeNow();
        break;
    }
    return AttachOutcome::None;
}

void sendPlainCommand(const char* text) {
    std::string bytes(text);
    bytes.push_back('\0');
    handOver(std::move(bytes), CommandKind::Plain);
}

void sendMoodCommand(std::string framedBytes) {
    if (!gLink.moodsEnded)
        handOver(std::move(framedBytes), CommandKind::Mood);
}

void endMoods() {
    gLink.moodsEnded = true;
}

void sendExitMood(std::string framedBytes) {
    endMoods();
    if (!gLink.running || framedBytes.size() <= 1)
        return;
    gLink.exitMood = framedBytes;
    handOver(std::move(framedBytes), CommandKind::ExitMood);
}

void awaitExitMood(const Deadline& deadline) {
    if (gLink.running)
        waitOnOwnWindow(deadline, gLink.window, linkProgressEvent(), exitMoodSettled, nullptr);
}

void answerSkypeNow() {
    // Sent from another thread only; our own sends need no early answer.
    if (InSendMessage())
        ReplyMessage(1);
}

HWND skypeWindow() {
    return gSession.window;
}

CallBook& sessionCalls() {
    return gSession.calls;
}

void settleCallCheck(const CallsAnswer& answer) {
    if (gSession.callCheck != CallCheck::Asked || answer.kind == CallsAnswerKind::None)
        return;
    if (answer.kind == CallsAnswerKind::Listed) {
        keepListedCalls(gSession.calls, answer.list);
        gSession.callCheck = CallCheck::None;
    } else {
        forgetCalls();
    }
}
