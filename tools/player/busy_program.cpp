#include "busy_program.h"

namespace standin {
namespace {

void pumpFor(DWORD milliseconds, HANDLE stop) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        const DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds)
            return;
        if (MsgWaitForMultipleObjects(1, &stop, FALSE, milliseconds - spent, QS_ALLINPUT) ==
            WAIT_OBJECT_0)
            return;
    }
}

} // namespace

BusyProgram::BusyProgram()
    : ready_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (ready_ == nullptr || stop_ == nullptr)
        return;
    thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
    if (thread_ != nullptr)
        WaitForSingleObject(ready_, INFINITE);
}

BusyProgram::~BusyProgram() {
    if (thread_ != nullptr) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (stop_ != nullptr)
        CloseHandle(stop_);
    if (ready_ != nullptr)
        CloseHandle(ready_);
}

DWORD WINAPI BusyProgram::run(void* self) {
    static_cast<BusyProgram*>(self)->work();
    return 0;
}

void BusyProgram::work() {
    const HWND window = CreateWindowExA(0, "STATIC", "Busy program", WS_OVERLAPPED, 0, 0, 10, 10,
                                        nullptr, nullptr, nullptr, nullptr);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue
    window_ = window;
    InterlockedIncrement(&spells_);
    SetEvent(ready_);
    if (window == nullptr)
        return;
    // Busy: waiting on nothing but the end, not looking at the queue.
    while (WaitForSingleObject(stop_, kBusySpellMs) == WAIT_TIMEOUT) {
        pumpFor(kPumpSpellMs, stop_);
        InterlockedIncrement(&spells_);
    }
    DestroyWindow(window);
}

} // namespace standin
