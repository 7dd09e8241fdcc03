// Many song changes on every road a song can take: Skype attached (the lean
// receiver), Skype absent, Skype answering 0, Skype hanging and coming back.
// After a warm-up the process may hold at most one more heap byte per song
// change, and not one more kernel handle, window, menu, GDI object, icon or
// cursor. First the census shows that it sees such leaks: one of each made on
// purpose, and the lean reference leaking one object per song change.
#include "census.h"
#include "lean_plugin.h"
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "standin_skype.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>

namespace bench {
namespace {

// Skype's side is checked and cleared after every batch, so that what it
// keeps weighs the same at each census.
constexpr int kBatch = 500;
constexpr int kWarmUpBatches = 3;
constexpr long long kAllowedBytesPerSong = 1;
constexpr int kCalibrationSongs = 500;
constexpr int kTickEvery = 10; // songs between discovery ticks while Skype is away
constexpr int kHangCycles = 3;
constexpr int kSongsPerHangAtLeast = 100;
constexpr DWORD kHangMs = 3 * kSkypeWaitBoundMs + 500;
constexpr DWORD kSkypeWaitMs = 10000;

constexpr char kHeap[] = "heap";

// What grew between two censuses beyond what `songs` song changes may add.
std::vector<std::string> grown(const Census& before, const Census& after, int songs) {
    const long long budget = kAllowedBytesPerSong * songs;
    std::vector<std::string> kinds = objectsGrown(before, after);
    if (after.heapLiveBytes - before.heapLiveBytes > budget)
        kinds.push_back(kHeap);
    if (after.committedPrivate - before.committedPrivate > budget)
        kinds.push_back("committed memory");
    return kinds;
}

void addRows(Report& report, const std::string& memoryId, const std::string& countsId,
             const std::string& road, int songs, const Census& before, const Census& after,
             double seconds) {
    const long long heap = after.heapLiveBytes - before.heapLiveBytes;
    const long long committed = after.committedPrivate - before.committedPrivate;
    const std::string label = format("soak, %s, %d song changes", road.c_str(), songs);
    report.add(
        {memoryId, label + ": heap / committed memory",
         formatBytes(heap) + " / " + formatBytes(committed),
         format("of %.2f / %.2f MiB", static_cast<double>(before.heapLiveBytes) / (1 << 20),
                static_cast<double>(before.committedPrivate) / (1 << 20)),
         format("%.3f B a song", static_cast<double>(std::max(heap, committed)) / songs),
         "<= 1 B a song",
         holds(heap <= kAllowedBytesPerSong * songs && committed <= kAllowedBytesPerSong * songs)});
    report.add({countsId, "  " + road + ": " + kObjectKindsHeading, objectCounts(after.objects()),
                objectCounts(before.objects()),
                format("%s a song", formatDuration(seconds / songs).c_str()), "no growth",
                holds(objectsGrown(before, after).empty())});
}

// One road: set up, warm up, count, drive it, count again.
struct Road {
    std::string memoryId; // the row of the memory, then the row of the counts
    std::string countsId;
    std::string name;
    int songs = 0;
    // Plays that many song changes on this road; false when the road broke.
    std::function<bool(int songs)> play;
    int warmUpSongs = kWarmUpBatches * kBatch;
};

bool soakRoad(const Road& road, Report& report) {
    if (!road.play(std::min(road.warmUpSongs, road.songs))) {
        report.problem("soak, " + road.name + ": the warm-up did not go as the road goes");
        return false;
    }
    // What the plug-in's thread still had on its way would count as grown.
    settleLink(kLinkQuietMs, kLinkWaitBoundMs);
    const Census before = takeCensus(benchThreads());
    const double start = now();
    const bool ok = road.play(road.songs);
    const double seconds = now() - start;
    settleLink(kLinkQuietMs, kLinkWaitBoundMs);
    const Census after = takeCensus(benchThreads());
    if (!ok)
        report.problem("soak, " + road.name + ": a song did not take the road's way");
    addRows(report, road.memoryId, road.countsId, road.name, road.songs, before, after, seconds);
    return ok;
}

// Attached to the lean receiver: every song arrives. Each song change waits
// for the plug-in's thread to send it, as a listener's next song would.
bool playAttached(const ReceiverStage& stage, std::size_t& next, int songs) {
    const Receiver& receiver = stage.receiver;
    bool ok = true;
    for (int done = 0; done < songs;) {
        const int batch = std::min(kBatch, songs - done);
        const long before = receiver.received();
        for (int i = 0; i < batch; ++i) {
            const LinkSends sends = linkSends();
            stage.player.songChange(next++);
            ok = stage.player.awaitSends(sends, 1) && ok;
        }
        ok = ok && receiver.received() == before + batch &&
             receiver.lastBlock() == stage.scene.expectedBytes(next - 1);
        done += batch;
    }
    return ok;
}

bool soakAttached(int songs, Report& report) {
    ReceiverStage stage(PluginKind::Tralmo);
    if (!stage.attached) {
        report.problem("soak: the plug-in did not attach to the receiver");
        return false;
    }
    std::size_t next = 1;
    return soakRoad(
        {"4b", "4c", "Skype attached", songs, [&](int n) { return playAttached(stage, next, n); }},
        report);
}

bool soakAbsent(int songs, Report& report) {
    Scene scene;
    Player player(PluginKind::Tralmo);
    if (!scene.ok() || !player.ok()) {
        report.problem("soak: cannot set up the player");
        return false;
    }
    player.stopDiscoveryTimer(); // the road ticks by hand, and counts its ticks
    std::size_t next = 1;
    unsigned ticks = 0; // of the search, which never ends here
    const auto play = [&](int n) {
        const LinkSends before = linkSends();
        bool ok = true;
        for (int i = 0; i < n; ++i) {
            player.songChange(next++);
            if (i % kTickEvery != 0)
                continue;
            const LinkSends sends = linkSends();
            player.tick();
            if (discoveryDueAt(++ticks))
                ok = player.awaitSends(sends, 1) && ok;
        }
        const LinkSends after = linkSends();
        return ok && after.finished - before.finished == after.broadcasts - before.broadcasts;
    };
    return soakRoad({"4d", "4e", "no Skype", songs, play}, report);
}

// The plug-in in a player beside the stand-in Skype, which answers the
// player's Discover with Success and every command with `answer`.
struct BesideSkype {
    // The roads tick by hand.
    explicit BesideSkype(LRESULT answer) : skype(configFor(answer)) { player.stopDiscoveryTimer(); }

    static standin_skype::Config configFor(LRESULT answer) {
        standin_skype::Config config;
        config.clientProcess = GetCurrentProcessId();
        config.copyDataResult = answer;
        return config;
    }
    bool ok() const { return scene.ok() && player.ok() && skype.started(); }

    Scene scene;
    Player player{PluginKind::Tralmo};
    standin_skype::Running skype;
};

// Skype answers every command 0: each send forgets it, each tick finds it
// again. A tick's broadcast brings the attach, whose PROTOCOL 7 fails; the
// song change then finds no Skype.
bool soakAnsweringZero(int songs, Report& report) {
    BesideSkype beside(0);
    if (!beside.ok()) {
        report.problem("soak: cannot set up the player and the stand-in Skype");
        return false;
    }
    const Player& player = beside.player;
    std::size_t next = 1;
    const auto play = [&](int n) {
        bool ok = true;
        for (int done = 0; done < n;) {
            const int batch = std::min(kBatch, n - done);
            standin_skype::clearHistory();
            for (int i = 0; i < batch; ++i) {
                const LinkSends sends = linkSends();
                player.tick();
                ok = player.awaitSends(sends, 2) && ok;
                player.songChange(next++);
            }
            ok = ok && standin_skype::recordCount() >= static_cast<std::size_t>(batch);
            done += batch;
        }
        standin_skype::clearHistory();
        return ok;
    };
    return soakRoad({"4f", "4g", "Skype answering 0", songs, play}, report);
}

// Skype hangs: the first song waits for it, the later ones and a tick find it
// gone; it comes back, a tick finds it, and the playing song reaches it.
bool soakHanging(int songsPerHang, Report& report) {
    BesideSkype beside(1);
    if (!beside.ok()) {
        report.problem("soak: cannot set up the player and the stand-in Skype");
        return false;
    }
    const Player& player = beside.player;
    const Scene& scene = beside.scene;
    std::size_t next = 1;
    const auto cycle = [&] {
        standin_skype::clearHistory();
        player.tick(); // attaches when the last cycle left Skype unknown
        bool ok = player.settle();
        standin_skype::waitFor(standin_skype::requestHang(kHangMs));
        const double end = now() + kHangMs / 1000.0;
        const std::size_t seen = standin_skype::recordCount();
        LinkSends sends = linkSends();
        for (int i = 0; i < songsPerHang; ++i)
            player.songChange(next++);
        // The first song's send gives up; a tick searches while Skype hangs.
        ok = player.awaitSends(sends, 1) && ok;
        sends = linkSends();
        player.tick();
        ok = player.awaitSends(sends, 1) && ok;
        pumpForLink(static_cast<DWORD>(std::max(0.0, end - now()) * 1000) + 1);
        player.tick();
        const std::string& playing = scene.expectedBytes(next - 1);
        const bool back =
            pumpUntilLink([&] { return skypeHolds(playing, seen); }, kSkypeWaitMs, kLinkQuietMs);
        ok = player.settle() && ok;
        standin_skype::clearHistory();
        return back && ok;
    };
    const auto play = [&](int n) {
        bool ok = true;
        for (int done = 0; done < n; done += songsPerHang)
            ok = cycle() && ok;
        return ok;
    };
    return soakRoad({"4h", "4i", format("Skype hanging %lu ms, %d times", kHangMs, kHangCycles),
                     songsPerHang * kHangCycles, play, songsPerHang},
                    report);
}

// A census that cannot see a leak of the size it guards against proves
// nothing. The calibration leaks on purpose, in a process of its own, and
// answers with a bit for each leak it did not see.
constexpr const char* kSightings[] = {
    // one of each, made by the bench itself
    "heap blocks", "committed pages", "a window", "a menu", "a GDI object", "a kernel handle",
    "an icon", "a cursor",
    // one a song change, made by the lean reference
    "a kernel handle a song", "heap bytes a song", "an icon a song", "a cursor a song",
    "a menu a song", "a GDI object a song", "a window a song"};
constexpr int kFirstSongLeakBit = 8;
constexpr DWORD kCalibrationBroke = 1u << 20;
constexpr char kCalibrationSwitch[] = "--calibrate-census";

DWORD bitIf(bool unseen, int bit) {
    return unseen ? 1u << bit : 0;
}

// One of each kind, made and destroyed first: the first system icon and
// cursor are loaded for good.
void madeOnceBefore() {
    DestroyWindow(CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr));
    DestroyIcon(CopyIcon(LoadIconA(nullptr, IDI_APPLICATION)));
    DestroyCursor(CopyCursor(LoadCursorA(nullptr, IDC_ARROW)));
    DestroyMenu(CreatePopupMenu());
    DeleteObject(CreateSolidBrush(RGB(1, 2, 3)));
}

DWORD blindSpots() {
    constexpr int kBlocks = 128;
    constexpr std::size_t kBlockSize = 1024;
    constexpr SIZE_T kPages = 128 * 1024;
    madeOnceBefore();
    const std::vector<DWORD> threads = benchThreads();
    const Census before = takeCensus(threads);
    std::vector<void*> blocks;
    for (int i = 0; i < kBlocks; ++i)
        blocks.push_back(std::malloc(kBlockSize));
    VirtualAlloc(nullptr, kPages, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    CreatePopupMenu();
    CreateSolidBrush(RGB(1, 2, 3));
    CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                    GetModuleHandleA(nullptr), nullptr);
    CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CopyIcon(LoadIconA(nullptr, IDI_APPLICATION));
    CopyCursor(LoadCursorA(nullptr, IDC_ARROW));
    const Census after = takeCensus(threads);
    const long long heapBytes = kBlocks * static_cast<long long>(kBlockSize);
    // An icon holds bitmaps of its own: GDI objects grow by more than the brush.
    return bitIf(after.heapLiveBytes - before.heapLiveBytes < heapBytes, 0) |
           bitIf(after.committedPrivate - before.committedPrivate < static_cast<long long>(kPages),
                 1) |
           bitIf(after.windows != before.windows + 1, 2) |
           bitIf(after.menus != before.menus + 1, 3) |
           bitIf(after.gdiObjects <= before.gdiObjects, 4) |
           bitIf(after.kernelHandles != before.kernelHandles + 1, 5) |
           bitIf(after.icons != before.icons + 1, 6) |
           bitIf(after.cursors != before.cursors + 1, 7);
}

// The lean reference leaks one object a song change, one kind after the
// other: the soak's own judgement must name that kind.
DWORD unseenSongLeaks() {
    const std::pair<Leak, const char*> kLeaks[] = {
        {Leak::KernelHandle, "kernel handles"},
        {Leak::HeapBytes, kHeap},
        {Leak::Icon, "icons"},
        {Leak::Cursor, "cursors"},
        {Leak::Menu, "menus"},
        {Leak::GdiObject, "GDI objects"},
        {Leak::Window, "windows"},
    };
    ReceiverStage lean(PluginKind::Lean);
    const auto leakSwitch = reinterpret_cast<LeakSwitchFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(lean.player.plugin().module(), kLeakSwitchExport)));
    if (!lean.attached || leakSwitch == nullptr)
        return kCalibrationBroke;
    DWORD unseen = 0;
    std::size_t next = 1;
    int bit = kFirstSongLeakBit;
    playAttached(lean, next, kWarmUpBatches * kBatch);
    for (const auto& [leak, name] : kLeaks) {
        playAttached(lean, next, kBatch);
        const Census before = takeCensus(benchThreads());
        leakSwitch(static_cast<int>(leak));
        playAttached(lean, next, kCalibrationSongs);
        leakSwitch(static_cast<int>(Leak::None));
        const Census after = takeCensus(benchThreads());
        const std::vector<std::string> kinds = grown(before, after, kCalibrationSongs);
        unseen |= bitIf(std::find(kinds.begin(), kinds.end(), name) == kinds.end(), bit++);
    }
    return unseen;
}

// Runs the calibration in a fresh process; what it did not see, or why it
// could not look.
std::string calibrationOutcome() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = "\"" + std::string(self) + "\" " + kCalibrationSwitch;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return "cannot start the calibration";
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD unseen = kCalibrationBroke;
    GetExitCodeProcess(process.hProcess, &unseen);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if ((unseen & kCalibrationBroke) != 0 || unseen >= (1u << std::size(kSightings)))
        return format("the calibration broke (exit code %lu)", unseen);
    std::string text;
    for (std::size_t bit = 0; bit < std::size(kSightings); ++bit)
        if ((unseen & (1u << bit)) != 0)
            text += std::string(text.empty() ? "" : ", ") + kSightings[bit];
    return text.empty() ? text : "missed " + text;
}

} // namespace

bool isCensusCalibration(int argc, char** argv) {
    return argc == 2 && std::string(argv[1]) == kCalibrationSwitch;
}

int calibrateCensus() {
    // The thread keeps a window throughout, as a player's does: a thread's
    // first window brings an IME window along.
    const HWND anchor = createHostWindow("Bench calibration");
    const DWORD unseen = blindSpots() | unseenSongLeaks();
    DestroyWindow(anchor);
    return static_cast<int>(unseen);
}

void runSoak(int songChanges, Report& report) {
    const std::string unseen = calibrationOutcome();
    report.add({"4a", "soak: the census sees the leaks it guards against",
                unseen.empty() ? "all seen" : unseen,
                format("one of each; one a song for %d songs", kCalibrationSongs), "", "every kind",
                holds(unseen.empty())});
    soakAttached(songChanges, report);
    soakAbsent(std::max(kBatch, songChanges / 5), report);
    soakAnsweringZero(std::max(kBatch, songChanges / 10), report);
    soakHanging(std::max(kSongsPerHangAtLeast, songChanges / 50), report);
}

} // namespace bench
