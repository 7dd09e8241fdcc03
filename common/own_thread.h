// Threads of the plug-in's own, for whatever waits on another process: the
// host's thread hands work over and never waits on another program.
#pragma once
#include <windows.h>

// Holds a critical section for one scope.
class Locked {
  public:
    explicit Locked(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
    ~Locked() { LeaveCriticalSection(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    CRITICAL_SECTION& lock_;
};

// Runs `body(context)` on a new thread that holds its own reference to the
// library at `libraryPath`, so that the host's FreeLibrary cannot unmap the
// code while the thread still waits; the thread then ends with
// FreeLibraryAndExitThread. Null when the thread cannot be made.
HANDLE startOwnThread(const wchar_t* libraryPath, void (*body)(void*), void* context);

// Waits at most `boundMs` for `thread` to end, handling the messages other
// threads send to this one meanwhile (a broadcast of ours visits the host's
// windows). True when the thread ended.
bool waitForOwnThread(HANDLE thread, DWORD boundMs);
