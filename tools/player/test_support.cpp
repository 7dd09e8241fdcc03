// Message pumping and crash reporting for the programs that drive the player.
#include "standin_player.h"

#include <algorithm>
#include <cstdio>

namespace standin {
namespace {

constexpr DWORD kWaitSliceMs = 10;

// PeekMessage also delivers messages sent from other threads.
bool takeOne(MSG& message) {
    return PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != 0;
}

void dispatch(const MSG& message) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

bool dispatchOne() {
    MSG message;
    if (!takeOne(message))
        return false;
    dispatch(message);
    return true;
}

void waitForInput(DWORD milliseconds) {
    MsgWaitForMultipleObjectsEx(0, nullptr, std::min(milliseconds, kWaitSliceMs), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
}

} // namespace

std::size_t pumpPending() {
    std::size_t dispatched = 0;
    while (dispatchOne())
        ++dispatched;
    return dispatched;
}

void pumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        pumpPending();
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            return;
        waitForInput(milliseconds - elapsed);
    }
}

bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMilliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (dispatchOne())
            continue;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMilliseconds)
            return done();
        waitForInput(timeoutMilliseconds - elapsed);
    }
}

bool pumpUntilQuit(DWORD timeoutMilliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (takeOne(message)) {
            if (message.message == WM_QUIT)
                return true;
            dispatch(message);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMilliseconds)
            return false;
        waitForInput(timeoutMilliseconds - elapsed);
    }
}

namespace {

LONG WINAPI reportCrash(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    const auto address = reinterpret_cast<ULONG_PTR>(record->ExceptionAddress);
    char moduleName[MAX_PATH] = "unknown module";
    ULONG_PTR offset = address;
    HMODULE module = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(record->ExceptionAddress), &module)) {
        GetModuleFileNameA(module, moduleName, MAX_PATH);
        offset = address - reinterpret_cast<ULONG_PTR>(module);
    }
    std::fprintf(stderr, "unhandled exception 0x%08lX at 0x%08lX (%s+0x%lX)",
                 static_cast<unsigned long>(record->ExceptionCode),
                 static_cast<unsigned long>(address), moduleName,
                 static_cast<unsigned long>(offset));
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2)
        std::fprintf(stderr, ": %s 0x%08lX",
                     record->ExceptionInformation[0] == 0   ? "reading"
                     : record->ExceptionInformation[0] == 8 ? "executing"
                                                            : "writing",
                     static_cast<unsigned long>(record->ExceptionInformation[1]));
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
    std::fflush(stdout);
    // Not ExitProcess: detaching DLLs from a broken process can hang.
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

void installCrashFilter() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(reportCrash);
}

} // namespace standin
