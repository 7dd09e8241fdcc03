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

// Our threads only wait on others and call the system: a small stack does,
// where the host's default would commit megabytes each under Wine.
constexpr SIZE_T kOwnThreadStackBytes = 64 * 1024;

// One point in time that several waits share, so that together they keep
// one bound.
class Deadline {
  public:
    explicit Deadline(DWORD boundMs) : start_(GetTickCount()), bound_(boundMs) {}
    // What is left of the bound, 0 once it has passed.
    DWORD leftMs() const {
        const DWORD spent = GetTickCount() - start_;
        return spent >= bound_ ? 0 : bound_ - spent;
    }

  private:
    DWORD start_;
    DWORD bound_;
};

// Runs `body(context)` on a new thread that holds its own reference to the
// library at `libraryPath`, so that the host's FreeLibrary cannot unmap the
// code while the thread still waits; the thread then ends with
// FreeLibraryAndExitThread. Null when the thread cannot be made.
HANDLE startOwnThread(const wchar_t* libraryPath, void (*body)(void*), void* context);

// Waits until `thread` has ended or the deadline passed, handling the
// messages other threads send to this one meanwhile (a broadcast of ours
// visits the host's windows). True when the thread ended.
bool waitForOwnThread(HANDLE thread, const Deadline& deadline);

// Waits until `done(context)` holds or the deadline passed, handling the
// messages other threads send to this one and the messages posted to
// `window` (a window of ours) meanwhile; `progress` is signalled whenever
// `done` may have changed. Whether `done` held.
bool waitOnOwnWindow(const Deadline& deadline, HWND window, HANDLE progress,
                     bool (*done)(void* context), void* context);
