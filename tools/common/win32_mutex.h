// The one mutex of the stand-ins and the tests. The win32 thread model of the
// toolchain, which keeps winpthreads out of every program, has no std::mutex:
// this is a critical section, and GoogleTest's std::mutex is built on it too.
#pragma once
#include <windows.h>

namespace win32 {

// Lockable as the standard library expects (lock, try_lock, unlock), so that
// std::unique_lock takes it. Recursive, as every critical section is.
class Mutex {
  public:
    Mutex() { InitializeCriticalSection(&section_); }
    ~Mutex() { DeleteCriticalSection(&section_); }
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock() { EnterCriticalSection(&section_); }
    bool try_lock() { return TryEnterCriticalSection(&section_) != 0; }
    void unlock() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

// Holds the mutex for its scope.
class Lock {
  public:
    explicit Lock(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~Lock() { mutex_.unlock(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    Mutex& mutex_;
};

} // namespace win32
