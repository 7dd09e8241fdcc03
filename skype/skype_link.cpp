#include "skype/skype_link.h"

#include "common/own_thread.h"

#include <deque>
#include <utility>

namespace {

// SMTO_ABORTIFHUNG alone still lets sent messages from other threads through
// while we wait, as a plain SendMessage would.
constexpr UINT kSendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;
constexpr UINT kNoticeDiscovered = WM_APP + 1;
constexpr UINT kNoticeSkypeLost = WM_APP + 2;

struct Command {
    HWND target;
    std::string bytes;
    bool mood;
};

// What the player's thread and the link's thread share. It lives on the heap
// so that a thread that outlives quit (Skype hanging in the last send) still
// has it; whichever side lets go last frees it.
struct Shared {
    CRITICAL_SECTION lock;
    LONG holders = 1;      // the player's thread, and the link's while it runs
    HANDLE wake = nullptr; // auto-reset: there is work, or the link ends
    HWND window = nullptr; // fixed for the session
    UINT discoverMessage = 0;
    // Under the lock:
    std::deque<Command> queue;
    HWND skypeWindow = nullptr;
    bool discoveryDelivered = false;
    bool discoveryWanted = false;
    bool ending = false;
    // The thread found nothing to do and waits for the event: only then is
    // it woken, which spares a burst of song changes a system call each.
    bool sleeping = true;
};

// The player's thread's own view of the session.
struct Session {
    Shared* shared = nullptr;
    HANDLE thread = nullptr;
    HINSTANCE module = nullptr;
    bool classRegistered = false;
    UINT attachMessage = 0;
    UINT discoverMessage = 0;
    AttachStatus attachStatus = AttachStatus::NotAvailable;
    unsigned searchTicks = 0;
};

Session gSession;

void letGo(Shared* shared) {
    if (InterlockedDecrement(&shared->holders) != 0)
        return;
    if (shared->wake != nullptr)
        CloseHandle(shared->wake);
    DeleteCriticalSection(&shared->lock);
    delete shared;
}

// ---- The link's thread -------------------------------------------------------

enum class WorkKind { None, Send, Discover, End };

struct Work {
    WorkKind kind = WorkKind::None;
    Command command{};
};

Work takeWork(Shared& shared) {
    Locked locked(shared.lock);
    Work work;
    if (!shared.queue.empty()) {
        work.kind = WorkKind::Send;
        work.command = std::move(shared.queue.front());
        shared.queue.pop_front();
    } else if (shared.ending) {
        work.kind = WorkKind::End;
    } else if (shared.discoveryWanted) {
        shared.discoveryWanted = false;
        shared.discoveryDelivered = false;
        work.kind = WorkKind::Discover;
    } else {
        shared.sleeping = true;
    }
    return work;
}

// A window that failed one command fails the rest: drop what waits for it.
void forgetFailedWindow(Shared& shared, HWND target) {
    {
        Locked locked(shared.lock);
        if (shared.skypeWindow == target && target != nullptr) {
            shared.skypeWindow = nullptr;
            shared.discoveryDelivered = false;
        }
        for (auto it = shared.queue.begin(); it != shared.queue.end();)
            it = it->target == target ? shared.queue.erase(it) : it + 1;
    }
    PostMessageA(shared.window, kNoticeSkypeLost, 0, 0);
}

void sendCommand(Shared& shared, const Command& command) {
    COPYDATASTRUCT record{};
    record.dwData = 0;
    record.cbData = static_cast<DWORD>(command.bytes.size());
    record.lpData = const_cast<char*>(command.bytes.data());
    DWORD_PTR result = 0;
    const LRESULT sent = SendMessageTimeoutA(
        command.target, WM_COPYDATA, reinterpret_cast<WPARAM>(shared.window),
        reinterpret_cast<LPARAM>(&record), kSendFlags, kSkypeSendTimeoutMs, &result);
    if (sent == 0 || result == 0)
        forgetFailedWindow(shared, command.target);
}

void broadcastDiscover(Shared& shared) {
    DWORD_PTR ignored = 0;
    const LRESULT delivered = SendMessageTimeoutA(HWND_BROADCAST, shared.discoverMessage,
                                                  reinterpret_cast<WPARAM>(shared.window), 0,
                                                  kSendFlags, kSkypeSendTimeoutMs, &ignored);
    if (delivered == 0)
        return;
    {
        Locked locked(shared.lock);
        shared.discoveryDelivered = true;
    }
    PostMessageA(shared.window, kNoticeDiscovered, 0, 0);
}

void serve(Shared& shared) {
    for (;;) {
        WaitForSingleObject(shared.wake, INFINITE);
        for (Work work = takeWork(shared); work.kind != WorkKind::None; work = takeWork(shared)) {
            switch (work.kind) {
            case WorkKind::Send:
                sendCommand(shared, work.command);
                break;
            case WorkKind::Discover:
                broadcastDiscover(shared);
                break;
            case WorkKind::End:
                return;
            case WorkKind::None:
                break;
            }
        }
    }
}

void runLink(void* parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    try {
        serve(*shared);
    } catch (...) {
        // Out of memory: the link ends, and quit finds its thread gone.
    }
    letGo(shared);
}

// ---- The player's thread -----------------------------------------------------

void wakeLink() {
    Shared& shared = *gSession.shared;
    {
        Locked locked(shared.lock);
        if (!shared.sleeping)
            return;
        shared.sleeping = false;
    }
    SetEvent(shared.wake);
}

void registerMissingMessages() {
    if (gSession.attachMessage == 0)
        gSession.attachMessage = RegisterWindowMessageA(kSkypeAttachMessageName);
    if (gSession.discoverMessage == 0)
        gSession.discoverMessage = RegisterWindowMessageA(kSkypeDiscoverMessageName);
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

void setSkypeWindow(HWND window) {
    Locked locked(gSession.shared->lock);
    gSession.shared->skypeWindow = window;
}

void forgetSkypeWindowIf(HWND window) {
    Locked locked(gSession.shared->lock);
    if (window == nullptr || gSession.shared->skypeWindow == window)
        gSession.shared->skypeWindow = nullptr;
}

void handOver(std::string bytes, bool mood) {
    // A block of nothing but its terminator carries no command.
    if (gSession.shared == nullptr || bytes.size() <= 1)
        return;
    {
        Locked locked(gSession.shared->lock);
        Shared& shared = *gSession.shared;
        if (shared.skypeWindow == nullptr || shared.ending)
            return;
        if (mood) {
            for (auto it = shared.queue.begin(); it != shared.queue.end();)
                it = it->mood ? shared.queue.erase(it) : it + 1;
        }
        shared.queue.push_back(Command{shared.skypeWindow, std::move(bytes), mood});
    }
    wakeLink();
}

bool createLinkWindow(HINSTANCE module, WNDPROC procedure) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kSkypeLinkWindowClass;
    gSession.classRegistered = RegisterClassA(&windowClass) != 0;
    if (!gSession.classRegistered)
        return false;
    gSession.shared->window =
        CreateWindowExA(WS_EX_TOOLWINDOW, kSkypeLinkWindowClass, "Tralmo", WS_POPUP, 0, 0, 0, 0,
                        nullptr, nullptr, module, nullptr);
    return gSession.shared->window != nullptr;
}

void releaseSession() {
    Shared* shared = gSession.shared;
    if (shared->window != nullptr)
        DestroyWindow(shared->window);
    if (gSession.classRegistered)
        UnregisterClassA(kSkypeLinkWindowClass, gSession.module);
    if (gSession.thread != nullptr)
        CloseHandle(gSession.thread);
    letGo(shared);
    gSession = Session{};
}

} // namespace

bool startSkypeLink(HINSTANCE module, const wchar_t* modulePath, WNDPROC linkProcedure) {
    endSkypeLink();
    gSession = Session{};
    gSession.module = module;
    registerMissingMessages();
    gSession.shared = new Shared;
    InitializeCriticalSection(&gSession.shared->lock);
    gSession.shared->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (gSession.shared->wake == nullptr || !createLinkWindow(module, linkProcedure)) {
        releaseSession();
        return false;
    }
    // The thread's own reference keeps its code mapped if the host frees
    // the library while a last send still waits on Skype.
    gSession.shared->holders = 2;
    gSession.thread = startOwnThread(modulePath, runLink, gSession.shared);
    if (gSession.thread == nullptr) {
        gSession.shared->holders = 1;
        releaseSession();
        return false;
    }
    return true;
}

void endSkypeLink() {
    if (gSession.shared == nullptr)
        return;
    if (gSession.thread != nullptr) {
        {
            Locked locked(gSession.shared->lock);
            gSession.shared->ending = true;
        }
        wakeLink();
        waitForOwnThread(gSession.thread, kSkypeLinkEndBoundMs);
    }
    releaseSession();
}

HWND skypeLinkWindow() {
    return gSession.shared != nullptr ? gSession.shared->window : nullptr;
}

void discoverSkypeNow() {
    registerMissingMessages();
    if (gSession.shared == nullptr || gSession.attachMessage == 0 || gSession.discoverMessage == 0)
        return;
    gSession.searchTicks = 0;
    {
        Locked locked(gSession.shared->lock);
        Shared& shared = *gSession.shared;
        if (shared.skypeWindow != nullptr && shared.discoveryDelivered)
            return;
        shared.discoverMessage = gSession.discoverMessage;
        shared.discoveryWanted = true;
    }
    wakeLink();
}

void onDiscoveryTick() {
    if (gSession.shared == nullptr)
        return;
    {
        Locked locked(gSession.shared->lock);
        if (gSession.shared->skypeWindow != nullptr && gSession.shared->discoveryDelivered) {
            gSession.searchTicks = 0;
            return;
        }
    }
    ++gSession.searchTicks;
    const bool due = gSession.attachStatus == AttachStatus::PendingAuthorization ||
                     gSession.searchTicks <= kEagerDiscoveryTicks ||
                     gSession.searchTicks % kPatientDiscoveryTicks == 0;
    if (!due)
        return;
    const unsigned ticks = gSession.searchTicks;
    discoverSkypeNow();
    gSession.searchTicks = ticks;
}

LinkNotice linkNoticeOf(UINT message) {
    switch (message) {
    case kNoticeDiscovered:
        return LinkNotice::Discovered;
    case kNoticeSkypeLost:
        return LinkNotice::SkypeLost;
    default:
        return LinkNotice::None;
    }
}

void onSkypeLost() {
    gSession.searchTicks = 0;
}

bool isAttachMessage(UINT message) {
    return gSession.attachMessage != 0 && message == gSession.attachMessage;
}

UINT skypeAttachMessage() {
    return gSession.attachMessage;
}

AttachOutcome handleAttachReply(WPARAM wParam, LPARAM lParam) {
    if (gSession.shared == nullptr || !isKnownStatus(lParam))
        return AttachOutcome::None;
    gSession.attachStatus = static_cast<AttachStatus>(lParam);
    const auto sender = reinterpret_cast<HWND>(wParam);
    switch (gSession.attachStatus) {
    case AttachStatus::Success:
        setSkypeWindow(sender);
        sendPlainCommand(kProtocolCommand);
        return AttachOutcome::Attached;
    case AttachStatus::Refused:
    case AttachStatus::NotAvailable:
        // The user refused access or logged out: that window will not listen.
        if (sender != nullptr)
            forgetSkypeWindowIf(sender);
        return AttachOutcome::None;
    case AttachStatus::ApiAvailable:
        // A Skype that starts or logs in tells every window; whatever we knew
        // belongs to the session before.
        forgetSkypeWindowIf(nullptr);
        return AttachOutcome::Rediscover;
    case AttachStatus::PendingAuthorization:
        break;
    }
    return AttachOutcome::None;
}

void sendPlainCommand(const char* text) {
    std::string bytes(text);
    bytes.push_back('\0');
    handOver(std::move(bytes), false);
}

void sendMoodCommand(std::string framedBytes) {
    handOver(std::move(framedBytes), true);
}

void answerSkypeNow() {
    // Sent from another thread only; our own sends need no early answer.
    if (InSendMessage())
        ReplyMessage(1);
}

HWND skypeWindow() {
    if (gSession.shared == nullptr)
        return nullptr;
    Locked locked(gSession.shared->lock);
    return gSession.shared->skypeWindow;
}

bool discoveryDelivered() {
    if (gSession.shared == nullptr)
        return false;
    Locked locked(gSession.shared->lock);
    return gSession.shared->discoveryDelivered;
}

AttachStatus attachStatus() {
    return gSession.attachStatus;
}
