#include "common/own_thread.h"

#include <new>

namespace {

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
    const HANDLE thread = CreateThread(nullptr, 0, runOwnThread, start, 0, &id);
    if (thread == nullptr) {
        FreeLibrary(reference);
        delete start;
    }
    return thread;
}

bool waitForOwnThread(HANDLE thread, DWORD boundMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= boundMs)
            return false;
        const DWORD woke =
            MsgWaitForMultipleObjects(1, &thread, FALSE, boundMs - spent, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0)
            return true;
        if (woke != WAIT_OBJECT_0 + 1)
            return false;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
