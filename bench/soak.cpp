// Many song changes with Skype attached: after a warm-up, the process must
// hold no more memory, windows, menus or GDI objects than before.
#include "census.h"
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "standin_skype.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>

namespace bench {
namespace {

// The stand-in Skype keeps what it receives; clearing it after every batch
// of the same size keeps its share of the heap the same at each census.
constexpr int kBatch = 1000;
constexpr int kWarmUp = 3 * kBatch;
constexpr long long kAllowedGrowth = 64 * 1024;

struct Soaker {
    Session& session;
    std::size_t next = 1;
    bool allDelivered = true;

    void run(int songChanges) {
        for (int done = 0; done < songChanges;) {
            const int batch = std::min(kBatch, songChanges - done);
            standin_skype::clearHistory();
            for (int i = 0; i < batch; ++i)
                session.songChange(next++);
            allDelivered = allDelivered && skypeReceived(static_cast<std::size_t>(batch),
                                                         session.expectedBytes(next - 1));
            done += batch;
        }
        standin_skype::clearHistory();
    }
};

// A census that cannot see a leak of the size it guards against proves
// nothing: leak one of everything on purpose and look.
std::string blindSpots(const std::vector<DWORD>& threads) {
    constexpr int kBlocks = 128;
    constexpr std::size_t kBlockSize = 1024;
    constexpr SIZE_T kPages = 128 * 1024;
    const Census before = takeCensus(threads);
    std::vector<void*> blocks;
    for (int i = 0; i < kBlocks; ++i)
        blocks.push_back(std::malloc(kBlockSize));
    void* pages = VirtualAlloc(nullptr, kPages, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    const HMENU menu = CreatePopupMenu();
    const HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    const HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    const Census during = takeCensus(threads);
    DestroyWindow(window);
    DeleteObject(brush);
    DestroyMenu(menu);
    VirtualFree(pages, 0, MEM_RELEASE);
    for (void* block : blocks)
        std::free(block);

    std::string missed;
    if (during.heapLiveBytes - before.heapLiveBytes < kBlocks * static_cast<long long>(kBlockSize))
        missed += " heap blocks";
    if (during.committedPrivate - before.committedPrivate < static_cast<long long>(kPages))
        missed += " committed pages";
    if (during.windows != before.windows + 1)
        missed += " a window";
    if (during.menus != before.menus + 1)
        missed += " a menu";
    if (during.gdiObjects != before.gdiObjects + 1)
        missed += " a GDI object";
    return missed;
}

Verdict growthVerdict(long long growth) {
    return growth <= kAllowedGrowth ? Verdict::Met : Verdict::Failed;
}

std::string counts(const Census& census) {
    return format("%d / %d / %d", census.windows, census.menus, census.gdiObjects);
}

} // namespace

void runSoak(int songChanges, Report& report) {
    Session session;
    if (!session.ok()) {
        report.problem("soak: " + session.error());
        return;
    }
    Soaker soaker{session};
    soaker.run(kWarmUp);
    const Census before = takeCensus(session.threads());
    const double seconds = timed([&] { soaker.run(songChanges); });
    const Census after = takeCensus(session.threads());
    if (!soaker.allDelivered)
        report.problem("soak: Skype did not receive exactly one expected command per song");
    const std::string missed = blindSpots(session.threads());
    if (!missed.empty())
        report.problem("soak: the census did not see a deliberate leak of" + missed);

    const long long heap = after.heapLiveBytes - before.heapLiveBytes;
    const long long committed = after.committedPrivate - before.committedPrivate;
    const std::string label = format("soak, %d song changes", songChanges);
    report.add({"4a", label + ": live heap bytes", formatBytes(heap),
                format("of %.2f MiB", static_cast<double>(before.heapLiveBytes) / (1 << 20)), "",
                "<= +64 KiB", growthVerdict(heap)});
    report.add({"4b", label + ": committed private memory", formatBytes(committed),
                format("of %.2f MiB", static_cast<double>(before.committedPrivate) / (1 << 20)), "",
                "<= +64 KiB", growthVerdict(committed)});
    const bool same = after.windows == before.windows && after.menus == before.menus &&
                      after.gdiObjects == before.gdiObjects;
    report.add({"4c", label + ": windows / menus / GDI objects", counts(after), counts(before), "",
                "no growth", same ? Verdict::Met : Verdict::Failed});
    report.add({"4d", label + ": working set (informative)",
                formatBytes(after.workingSet - before.workingSet),
                format("of %.2f MiB", static_cast<double>(before.workingSet) / (1 << 20)), "", "",
                Verdict::Info});
    report.add({"4e", label + ": time per song change", formatDuration(seconds / songChanges), "",
                "", "", Verdict::Info});
}

} // namespace bench
