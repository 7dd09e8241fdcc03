// What the process holds, for telling a leak from a steady state. Under Wine
// GetGuiResources and GetProcessHandleCount answer 0, so kernel, USER and GDI
// objects are counted by probing handle values instead.
#pragma once
#include <windows.h>

#include <array>
#include <string>
#include <vector>

namespace bench {

// The objects a census counts, in the order Census::objects() gives them.
inline constexpr std::size_t kObjectKindCount = 6;
inline constexpr const char* kObjectKinds[kObjectKindCount] = {
    "kernel handles", "windows", "menus", "GDI objects", "icons", "cursors"};
inline constexpr std::size_t kKernelHandleKind = 0; // the one kind not a USER or GDI object
inline constexpr char kObjectKindsHeading[] = "handles / windows / menus / GDI / icons / cursors";

struct Census {
    long long heapLiveBytes = 0;    // busy blocks of every process heap
    long long committedPrivate = 0; // committed private pages
    long long workingSet = 0;       // informative only: pages come and go
    int windows = 0;                // of the given threads, children included
    int menus = 0;
    int gdiObjects = 0;
    int kernelHandles = 0;
    int icons = 0;
    int cursors = 0;

    std::array<int, kObjectKindCount> objects() const {
        return {kernelHandles, windows, menus, gdiObjects, icons, cursors};
    }
};

// `threads`: the threads whose windows count (the host's and the stand-in Skype's).
Census takeCensus(const std::vector<DWORD>& threads);

// Counts in the order of kObjectKindsHeading: "54 / 3 / 6 / 59 / 10 / 2", or with
// `withSign` as differences, "+1 / +0 / ...".
std::string objectCounts(const std::array<int, kObjectKindCount>& counts, bool withSign = false);

// The object counts of `after` less those of `before`.
std::array<int, kObjectKindCount> objectGrowth(const Census& before, const Census& after);

// The kinds of object of which `after` holds more than `before`.
std::vector<std::string> objectsGrown(const Census& before, const Census& after);

} // namespace bench
