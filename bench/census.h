// What the process holds, for telling a leak from a steady state. Under Wine
// GetGuiResources answers 0, so USER and GDI objects are counted by probing
// handle values instead.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace bench {

struct Census {
    long long heapLiveBytes = 0;    // busy blocks of every process heap
    long long committedPrivate = 0; // committed private pages
    long long workingSet = 0;       // informative only: pages come and go
    int windows = 0;                // of the given threads, children included
    int menus = 0;
    int gdiObjects = 0;
};

// `threads`: the threads whose windows count (the host's and the stand-in Skype's).
Census takeCensus(const std::vector<DWORD>& threads);

} // namespace bench
