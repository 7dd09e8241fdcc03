#include "ui/tray_tip_sender.h"

#include "common/own_thread.h"

#include <new>

namespace {

// Shared by the player's thread and the sender; on the heap so that a sender
// that outlives quit (a hung shell) still has it. The last holder frees it.
struct Shared {
    CRITICAL_SECTION lock;
    HANDLE wake = nullptr; // auto-reset: an update waits, or the sender ends
    LONG holders = 1;
    // Under the lock:
    NOTIFYICONDATAA record{};
    bool waiting = false;
    bool ending = false;
    bool sleeping = false; // waits for the event: only then is it set
};

Shared* gShared = nullptr;
HANDLE gThread = nullptr;

void letGo(Shared* shared) {
    if (InterlockedDecrement(&shared->holders) != 0)
        return;
    if (shared->wake != nullptr)
        CloseHandle(shared->wake);
    DeleteCriticalSection(&shared->lock);
    delete shared;
}

// The next update to send; false once the sender is to end.
bool takeUpdate(Shared& shared, NOTIFYICONDATAA& record) {
    for (;;) {
        {
            Locked locked(shared.lock);
            if (shared.waiting) {
                record = shared.record;
                shared.waiting = false;
                return true;
            }
            if (shared.ending)
                return false;
            shared.sleeping = true;
        }
        WaitForSingleObject(shared.wake, INFINITE);
    }
}

void sendUpdates(void* parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    NOTIFYICONDATAA record{};
    while (takeUpdate(*shared, record))
        Shell_NotifyIconA(NIM_MODIFY, &record);
    letGo(shared);
}

// Under the lock: whether the sender must be woken.
bool claimWake(Shared& shared) {
    const bool sleeping = shared.sleeping;
    shared.sleeping = false;
    return sleeping;
}

} // namespace

bool startTrayTipSender(const wchar_t* libraryPath) {
    endTrayTipSender(Deadline(0));
    auto* shared = new (std::nothrow) Shared;
    if (shared == nullptr)
        return false;
    InitializeCriticalSection(&shared->lock);
    shared->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    shared->holders = 2;
    const HANDLE thread =
        shared->wake != nullptr ? startOwnThread(libraryPath, sendUpdates, shared) : nullptr;
    if (thread == nullptr) {
        shared->holders = 1;
        letGo(shared);
        return false;
    }
    gShared = shared;
    gThread = thread;
    return true;
}

bool handOverTrayTip(const NOTIFYICONDATAA& record) {
    if (gShared == nullptr)
        return false;
    bool wake = false;
    {
        Locked locked(gShared->lock);
        gShared->record = record;
        gShared->waiting = true;
        wake = claimWake(*gShared);
    }
    if (wake)
        SetEvent(gShared->wake);
    return true;
}

void dropWaitingTrayTip() {
    if (gShared == nullptr)
        return;
    Locked locked(gShared->lock);
    gShared->waiting = false;
}

void endTrayTipSender(const Deadline& deadline) {
    if (gShared == nullptr)
        return;
    bool wake = false;
    {
        Locked locked(gShared->lock);
        gShared->ending = true;
        wake = claimWake(*gShared);
    }
    if (wake)
        SetEvent(gShared->wake);
    waitForOwnThread(gThread, deadline);
    CloseHandle(gThread);
    letGo(gShared);
    gShared = nullptr;
    gThread = nullptr;
}
