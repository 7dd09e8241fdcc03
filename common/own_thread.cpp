#include "common/own_thread.h"

#include <new>

namespace {

// Windows XP and later take the stack size as a reservation; Windows 2000
// knows no such flag and commits the size asked for, which is small too.
constexpr DWORD kStackIsReservation = 0x00010000; // STACK_SIZE_PARAM_IS_A_RESERVATION
// A wait that also looks at posted messages wakes at least this often: a
// post does not end a wait for sent messages.
constexpr DWORD kPostedMessageLookMs = 10;

struct Start {
    void (*body)(void*);
    void* context;
    HMODULE reference;
};

DWORD WINAPI runOwnThread(void* parameter) {
    const Start start = *static_cast<Start*>(parameter);
    delete static_cast<Start*>(parameter);
    try {
        start.body(start.context);
    } catch (...) {
        // Out of memory: the thread ends; its owner sees it gone.
    }
    FreeLibraryAndExitThread(start.reference, 0);
    return 0;
}

bool takesStackReservation() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return false;
    return version.dwMajorVersion > 5 ||
           (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1);
}

void handleSentMessages() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

} // namespace

HANDLE startOwnThread(const wchar_t* libraryPath, void (*body)(void*), void* context) {
    auto* start = new (std::nothrow) Start{body, context, nullptr};
    if (start == nullptr)
        return nullptr;
    start->reference = LoadLibraryW(libraryPath);
    if (start->reference == nullptr) {
        delete start;
        return nullptr;
    }
    DWORD id = 0;
    const HMODULE reference = start->reference;
    const HANDLE thread = CreateThread(nullptr, kOwnThreadStackBytes, runOwnThread, start,
                                       takesStackReservation() ? kStackIsReservation : 0, &id);
    if (thread == nullptr) {
        FreeLibrary(reference);
        delete start;
    }
    return thread;
}

bool waitForOwnThread(HANDLE thread, const Deadline& deadline) {
    // A wait wakes only for messages sent after it began.
    handleSentMessages();
    for (;;) {
        const DWORD left = deadline.leftMs();
        if (left == 0)
            return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0)
            return true;
        if (woke != WAIT_OBJECT_0 + 1)
            return false;
        handleSentMessages();
    }
}

bool waitOnOwnWindow(const Deadline& deadline, HWND window, HANDLE progress,
                     bool (*done)(void* context), void* context) {
    for (;;) {
        MSG message;
        while (window != nullptr && PeekMessageA(&message, window, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (done(context))
            return true;
        const DWORD left = deadline.leftMs();
        if (left == 0)
            return false;
        const DWORD wait = left < kPostedMessageLookMs ? left : kPostedMessageLookMs;
        if (MsgWaitForMultipleObjects(1, &progress, FALSE, wait, QS_SENDMESSAGE) ==
            WAIT_OBJECT_0 + 1)
            handleSentMessages();
    }
}
