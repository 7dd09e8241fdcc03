// Another program on the desktop that is busy for less than five seconds at a
// time: a hidden top-level window on a thread of its own that works without
// looking at its messages for kBusySpellMs, looks at them for kPumpSpellMs,
// and again. Windows and Wine count a program hung only after about five
// seconds without a look, so every broadcast waits for this one while it is
// busy, and none passes it by as hung.
#pragma once
#include <windows.h>

namespace standin {

inline constexpr DWORD kBusySpellMs = 4000;
inline constexpr DWORD kPumpSpellMs = 50;

class BusyProgram {
  public:
    // Returns with the program in its first busy spell.
    BusyProgram();
    // Ends at once, whatever spell the program is in.
    ~BusyProgram();
    BusyProgram(const BusyProgram&) = delete;
    BusyProgram& operator=(const BusyProgram&) = delete;

    bool ok() const { return window_ != nullptr; }
    HWND window() const { return window_; }
    // Busy spells begun so far.
    LONG busySpells() const { return spells_; }

  private:
    static DWORD WINAPI run(void* self);
    void work();

    HANDLE ready_ = nullptr;
    HANDLE stop_ = nullptr;
    HWND window_ = nullptr;
    volatile LONG spells_ = 0;
    HANDLE thread_ = nullptr;
};

} // namespace standin
