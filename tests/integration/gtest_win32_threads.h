// GoogleTest on Windows names std::mutex and std::condition_variable, which the
// win32 thread model of mingw-w64 leaves out (it keeps winpthreads out of every
// program, the plug-in's DLL above all). These few lines give GoogleTest what it
// asks for, on the mutex the stand-ins and tests share; only GoogleTest's own
// sources and headers see them.
#pragma once
#include <mutex>

#if !defined(_GLIBCXX_HAS_GTHREADS)
#include <windows.h>

#include "win32_mutex.h"

namespace std {

class mutex : public win32::Mutex {};

// Only GoogleTest's thread helpers wait on it, and our tests start none of
// them: a polling wait is all it needs.
class condition_variable {
  public:
    condition_variable() = default;
    condition_variable(const condition_variable&) = delete;
    condition_variable& operator=(const condition_variable&) = delete;
    void notify_one() {}
    void notify_all() {}
    template <typename Predicate> void wait(unique_lock<mutex>& lock, Predicate done) {
        while (!done()) {
            lock.unlock();
            Sleep(1);
            lock.lock();
        }
    }
};

} // namespace std
#endif
