#include "skype/link_threads.h"

#include <vector>
#include <utility>

namespace {

// SMTO_ABORTIFHUNG alone still lets sent messages from other threads through
// while we wait, as a plain SendMessage would.
constexpr UINT kSendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;

struct Command {
    unsigned session;
    HWND target;
    std::string bytes;
    CommandKind kind;
};

// What the player's thread and the two threads share. It lives on the heap so
// that a thread that outlives quit (Skype hanging in the last send) still has
// it; whichever side lets go last frees it.
struct Shared {
    CRITICAL_SECTION lock;
    LONG holders = 1;
    HANDLE senderWake = nullptr;   // auto-reset: a command waits, or the end
    HANDLE searcherWake = nullptr; // auto-reset: a broadcast is wanted, or the end
    HANDLE progress = nullptr;     // auto-reset: something returned
    HWND window = nullptr;         // fixed for the link's life
    // Under the lock:
    UINT discoverMessage = 0;
    std::vector<Command> queue; // a few at most: moods replace each other
    // What the link window has yet to hear. The failed session's commands are
    // dropped: its Skype fails them.
    LinkNews news;
    bool broadcastWanted = false;
    bool broadcasting = false;
    bool exitMoodSent = false;
    bool ending = false;
    // The sender waits for its event: only then is it woken, which spares a
    // burst of song changes a system call each.
    bool senderSleeping = true;
};

Shared* gShared = nullptr;
HANDLE gSender = nullptr;
HANDLE gSearcher = nullptr;

void letGo(Shared* shared) {
    if (InterlockedDecrement(&shared->holders) != 0)
        return;
    for (HANDLE event : {shared->senderWake, shared->searcherWake, shared->progress})
        if (event != nullptr)
            CloseHandle(event);
    DeleteCriticalSection(&shared->lock);
    delete shared;
}

bool isMood(const Command& command) {
    return command.kind != CommandKind::Plain;
}

template <typename Predicate> void dropQueued(Shared& shared, Predicate drop) {
    for (auto it = shared.queue.begin(); it != shared.queue.end();)
        it = drop(*it) ? shared.queue.erase(it) : it + 1;
}

// ---- The sender ----------------------------------------------------------------

// The next command to send; false once the sender is to end.
bool takeCommand(Shared& shared, Command& command) {
    for (;;) {
        {
            Locked locked(shared.lock);
            dropQueued(shared,
                       [&](const Command& c) { return c.session == shared.news.failedSession; });
            if (!shared.queue.empty()) {
                command = std::move(shared.queue.front());
                shared.queue.erase(shared.queue.begin());
                return true;
            }
            if (shared.ending)
                return false;
            shared.senderSleeping = true;
        }
        WaitForSingleObject(shared.senderWake, INFINITE);
    }
}

// A Skype that failed one command fails the rest of its session.
void reportFailure(Shared& shared, unsigned session) {
    {
        Locked locked(shared.lock);
        shared.news.failedSession = session;
    }
    PostMessageA(shared.window, kLinkNotice, 0, 0);
}

void send(Shared& shared, const Command& command) {
    COPYDATASTRUCT record{};
    record.dwData = 0;
    record.cbData = static_cast<DWORD>(command.bytes.size());
    record.lpData = const_cast<char*>(command.bytes.data());
    DWORD_PTR result = 0;
    const LRESULT sent = SendMessageTimeoutA(
        command.target, WM_COPYDATA, reinterpret_cast<WPARAM>(shared.window),
        reinterpret_cast<LPARAM>(&record), kSendFlags, kSkypeSendTimeoutMs, &result);
    if (sent == 0 || result == 0) {
        reportFailure(shared, command.session);
    } else if (command.kind == CommandKind::ExitMood) {
        Locked locked(shared.lock);
        shared.exitMoodSent = true;
    }
    SetEvent(shared.progress);
}

void runSender(void* parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    Command command;
    while (takeCommand(*shared, command))
        send(*shared, command);
    letGo(shared);
}

// ---- The searcher --------------------------------------------------------------

// The message of the broadcast to make; 0 once the searcher is to end.
UINT takeBroadcast(Shared& shared) {
    for (;;) {
        {
            Locked locked(shared.lock);
            if (shared.ending)
                return 0;
            if (shared.broadcastWanted) {
                shared.broadcastWanted = false;
                shared.broadcasting = true;
                return shared.discoverMessage;
            }
        }
        WaitForSingleObject(shared.searcherWake, INFINITE);
    }
}

void broadcast(Shared& shared, UINT discoverMessage) {
    DWORD_PTR ignored = 0;
    const LRESULT delivered = SendMessageTimeoutA(HWND_BROADCAST, discoverMessage,
                                                  reinterpret_cast<WPARAM>(shared.window), 0,
                                                  kSendFlags, kSkypeSendTimeoutMs, &ignored);
    {
        Locked locked(shared.lock);
        shared.broadcasting = false;
        shared.news.broadcastReturned = true;
        shared.news.broadcastDelivered |= delivered != 0;
    }
    PostMessageA(shared.window, kLinkNotice, 0, 0);
    SetEvent(shared.progress);
}

void runSearcher(void* parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    for (UINT message = takeBroadcast(*shared); message != 0; message = takeBroadcast(*shared))
        broadcast(*shared, message);
    letGo(shared);
}

// ---- The player's thread -----------------------------------------------------------

void wakeSender(Shared& shared) {
    {
        Locked locked(shared.lock);
        if (!shared.senderSleeping)
            return;
        shared.senderSleeping = false;
    }
    SetEvent(shared.senderWake);
}

HANDLE startHolding(const wchar_t* libraryPath, void (*body)(void*)) {
    InterlockedIncrement(&gShared->holders);
    const HANDLE thread = startOwnThread(libraryPath, body, gShared);
    if (thread == nullptr)
        InterlockedDecrement(&gShared->holders);
    return thread;
}

} // namespace

bool startLinkThreads(const wchar_t* libraryPath, HWND window) {
    endLinkThreads(Deadline(0));
    gShared = new Shared;
    InitializeCriticalSection(&gShared->lock);
    gShared->window = window;
    gShared->senderWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    gShared->searcherWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    gShared->progress = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (gShared->senderWake != nullptr && gShared->searcherWake != nullptr &&
        gShared->progress != nullptr) {
        gSender = startHolding(libraryPath, runSender);
        if (gSender != nullptr)
            gSearcher = startHolding(libraryPath, runSearcher);
    }
    if (gSearcher != nullptr)
        return true;
    endLinkThreads(Deadline(0));
    return false;
}

void endLinkThreads(const Deadline& deadline) {
    if (gShared == nullptr)
        return;
    {
        Locked locked(gShared->lock);
        gShared->ending = true;
    }
    wakeSender(*gShared);
    SetEvent(gShared->searcherWake);
    for (HANDLE* thread : {&gSender, &gSearcher}) {
        if (*thread == nullptr)
            continue;
        waitForOwnThread(*thread, deadline);
        CloseHandle(*thread);
        *thread = nullptr;
    }
    letGo(gShared);
    gShared = nullptr;
}

void queueCommand(unsigned session, HWND target, std::string bytes, CommandKind kind) {
    if (gShared == nullptr)
        return;
    {
        Locked locked(gShared->lock);
        if (gShared->ending)
            return;
        Command command{session, target, std::move(bytes), kind};
        if (isMood(command))
            dropQueued(*gShared, isMood);
        gShared->queue.push_back(std::move(command));
    }
    wakeSender(*gShared);
}

void dropCommandsBefore(unsigned session) {
    if (gShared == nullptr)
        return;
    Locked locked(gShared->lock);
    dropQueued(*gShared, [session](const Command& c) { return c.session < session; });
}

void requestBroadcast(UINT discoverMessage) {
    if (gShared == nullptr || discoverMessage == 0)
        return;
    {
        Locked locked(gShared->lock);
        gShared->discoverMessage = discoverMessage;
        gShared->broadcastWanted = true;
    }
    SetEvent(gShared->searcherWake);
}

void cancelBroadcast() {
    if (gShared == nullptr)
        return;
    Locked locked(gShared->lock);
    gShared->broadcastWanted = false;
}

bool broadcastOnItsWay() {
    if (gShared == nullptr)
        return false;
    Locked locked(gShared->lock);
    return gShared->broadcastWanted || gShared->broadcasting;
}

LinkNews takeLinkNews(UINT message) {
    LinkNews news;
    if (gShared == nullptr || message != kLinkNotice)
        return news;
    Locked locked(gShared->lock);
    news = gShared->news;
    gShared->news.broadcastReturned = false;
    gShared->news.broadcastDelivered = false;
    return news;
}

bool exitMoodSent() {
    if (gShared == nullptr)
        return false;
    Locked locked(gShared->lock);
    return gShared->exitMoodSent;
}

HANDLE linkProgressEvent() {
    return gShared != nullptr ? gShared->progress : nullptr;
}
