#include "census.h"

#include "stats.h"

#include <psapi.h>

namespace bench {
namespace {

long long heapLiveBytes() {
    std::vector<HANDLE> heaps(256);
    DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size()) {
        heaps.resize(count + 16);
        count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    }
    long long total = 0;
    for (DWORD i = 0; i < count && i < heaps.size(); ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0)
                total += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

long long committedPrivate() {
    long long total = 0;
    MEMORY_BASIC_INFORMATION info;
    const char* address = nullptr;
    while (VirtualQuery(address, &info, sizeof info) == sizeof info) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            total += static_cast<long long>(info.RegionSize);
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= address)
            break; // the top of the address space
        address = next;
    }
    return total;
}

long long workingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return static_cast<long long>(counters.WorkingSetSize);
}

BOOL CALLBACK countChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK countTopLevel(HWND window, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, countChild, count);
    return TRUE;
}

int windowsOf(const std::vector<DWORD>& threads) {
    int count = 0;
    for (DWORD thread : threads)
        EnumThreadWindows(thread, countTopLevel, reinterpret_cast<LPARAM>(&count));
    return count;
}

// USER and GDI handles carry a table index in their low word; a handle whose
// high word is 0 names whatever object holds that slot, so every live object
// of the process answers once. USER slots advance by two.
constexpr unsigned kFirstUserHandle = 0x0020;
constexpr unsigned kLastUserHandle = 0xFFEF;
constexpr unsigned kLastGdiHandle = 0xFFFF;

int probedMenus() {
    int count = 0;
    for (unsigned slot = kFirstUserHandle; slot <= kLastUserHandle; slot += 2) {
        if (IsMenu(reinterpret_cast<HMENU>(static_cast<ULONG_PTR>(slot))))
            ++count;
    }
    return count;
}

int probedGdiObjects() {
    int count = 0;
    for (unsigned slot = 1; slot <= kLastGdiHandle; ++slot) {
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<ULONG_PTR>(slot))) != 0)
            ++count;
    }
    return count;
}

// Kernel handles are multiples of four, handed out lowest free first, so the
// table is dense: a long run of unused values means the end of it.
constexpr ULONG_PTR kHandleStep = 4;
constexpr ULONG_PTR kLastKernelHandle = 0x400000;
constexpr int kUnusedRunAtEnd = 4096;

int probedKernelHandles() {
    int count = 0;
    int unused = 0;
    for (ULONG_PTR value = kHandleStep; value <= kLastKernelHandle && unused < kUnusedRunAtEnd;
         value += kHandleStep) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            unused = 0;
        } else {
            ++unused;
        }
    }
    return count;
}

// Windows counts them itself since XP SP1 (found at run time: the build
// targets Windows 2000).
int kernelHandles() {
    using HandleCountFn = BOOL(WINAPI*)(HANDLE, DWORD*);
    const auto handleCount = reinterpret_cast<HandleCountFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetProcessHandleCount")));
    DWORD count = 0;
    if (handleCount != nullptr && handleCount(GetCurrentProcess(), &count) && count != 0)
        return static_cast<int>(count);
    return probedKernelHandles();
}

// Icons and cursors are USER objects too; GetIconInfo tells them apart (and
// hands out copies of their bitmaps, which go straight back).
void probeIconsAndCursors(Census& census) {
    for (unsigned slot = kFirstUserHandle; slot <= kLastUserHandle; slot += 2) {
        ICONINFO info{};
        if (!GetIconInfo(reinterpret_cast<HICON>(static_cast<ULONG_PTR>(slot)), &info))
            continue;
        if (info.hbmMask != nullptr)
            DeleteObject(info.hbmMask);
        if (info.hbmColor != nullptr)
            DeleteObject(info.hbmColor);
        ++(info.fIcon ? census.icons : census.cursors);
    }
}

} // namespace

Census takeCensus(const std::vector<DWORD>& threads) {
    Census census;
    census.heapLiveBytes = heapLiveBytes();
    census.committedPrivate = committedPrivate();
    census.workingSet = workingSet();
    census.windows = windowsOf(threads);
    census.menus = probedMenus();
    const DWORD gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    census.gdiObjects = gdi != 0 ? static_cast<int>(gdi) : probedGdiObjects();
    census.kernelHandles = kernelHandles();
    probeIconsAndCursors(census);
    return census;
}

std::string objectCounts(const std::array<int, kObjectKindCount>& counts, bool withSign) {
    std::string text;
    for (int count : counts)
        text += (text.empty() ? "" : " / ") + format(withSign ? "%+d" : "%d", count);
    return text;
}

std::array<int, kObjectKindCount> objectGrowth(const Census& before, const Census& after) {
    std::array<int, kObjectKindCount> growth = after.objects();
    const std::array<int, kObjectKindCount> was = before.objects();
    for (std::size_t i = 0; i < growth.size(); ++i)
        growth[i] -= was[i];
    return growth;
}

std::vector<std::string> objectsGrown(const Census& before, const Census& after) {
    const std::array<int, kObjectKindCount> growth = objectGrowth(before, after);
    std::vector<std::string> kinds;
    for (std::size_t i = 0; i < growth.size(); ++i)
        if (growth[i] > 0)
            kinds.push_back(kObjectKinds[i]);
    return kinds;
}

} // namespace bench
