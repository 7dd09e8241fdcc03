// What the plug-in weighs: its file, the DLLs it pulls in, the time the
// player spends loading, starting, stopping and unloading it against the
// lean reference (which adds and removes one tray icon as the plug-in does,
// and is built without the C++ runtime), and what a load-to-unload cycle
// leaves behind and why.
#include "census.h"
#include "lean_plugin.h"
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "api_recorder.h"
#include "import_table.h"

#include <tlhelp32.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <map>
#include <memory>

namespace bench {
namespace {

constexpr UINT kPlayerIconId = 1;
constexpr UINT kSecondIconId = 2;
constexpr int kLeftoverCycles = 20;
// A thread of the plug-in's asks for a small stack: it must commit less
// than one that takes the host's default. (Wine commits a thread's whole
// stack, at least 1 MiB of it, and 1 MiB more of its own: a 64 KiB stack
// saves a third there. Windows commits only the pages a thread touches.)
constexpr double kMostCommittedPerThreadVsDefault = 0.8;
constexpr DWORD kSettleAfterInitMs = 300;

long long fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

struct Imports {
    std::vector<std::string> dlls{"?"};
    std::size_t functions = 0;
};

Imports imports(const std::string& path) {
    const HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        return {};
    Imports found{importedDllNames(module), importedFunctionCount(module)};
    FreeLibrary(module);
    return found;
}

std::string describeFile(const std::string& path) {
    const Imports found = imports(path);
    std::string text =
        format("%.1f KiB, %u functions from", static_cast<double>(fileSize(path)) / 1024,
               static_cast<unsigned>(found.functions));
    for (const std::string& name : found.dlls)
        text += " " + name;
    return text;
}

// A user has no mingw runtime (libstdc++, libgcc, libwinpthread) to load.
bool importsOnlySystemDlls(const std::string& path) {
    const std::vector<std::string> names = imports(path).dlls;
    return std::none_of(names.begin(), names.end(), [](std::string name) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return name == "?" || name.rfind("lib", 0) == 0;
    });
}

// One plug-in's cycles, each split as the player sees it: LoadLibrary and
// FreeLibrary, init and quit. Rounds keep their median cycle, as alternate does.
struct Cycles {
    int perRound = 1;
    std::vector<double> loadUnload; // this round's cycles
    std::vector<double> initQuit;
    std::vector<double> roundLoadUnload; // per round: median cycle
    std::vector<double> roundInitQuit;

    void add(double loadAndUnload, double initAndQuit) {
        loadUnload.push_back(loadAndUnload);
        initQuit.push_back(initAndQuit);
        if (loadUnload.size() < static_cast<std::size_t>(perRound))
            return;
        roundLoadUnload.push_back(summarize(loadUnload).median);
        roundInitQuit.push_back(summarize(initQuit).median);
        loadUnload.clear();
        initQuit.clear();
    }
};

// One load, init, quit and unload, as the player runs them.
double lifecycle(const std::string& path, HWND host, Cycles& cycles, bool& ok) {
    Plugin plugin;
    const double t0 = now();
    ok = plugin.load(path) && ok;
    const double t1 = now();
    ok = plugin.start(host) && ok;
    plugin.quit();
    const double t2 = now();
    plugin.unload();
    const double t3 = now();
    cycles.add((t1 - t0) + (t3 - t2), t2 - t1);
    return t3 - t0;
}

struct Comparison {
    Samples whole; // [0] the plug-in, [1] the lean reference, per cycle
    Cycles plugin;
    Cycles lean;
};

Comparison compareLifecycles(const std::string& pluginPath, const std::string& leanPath, HWND host,
                             int rounds, int perRound, bool& ok) {
    Comparison result;
    const std::vector<std::function<double()>> sides = {
        [&] { return lifecycle(pluginPath, host, result.plugin, ok); },
        [&] { return lifecycle(leanPath, host, result.lean, ok); },
    };
    alternate(1, 2, sides); // warm-up: the file cache, Wine's loader
    result.plugin = Cycles();
    result.lean = Cycles();
    result.plugin.perRound = result.lean.perRound = perRound;
    result.whole = alternate(rounds, perRound, sides);
    for (auto& side : result.whole)
        for (double& seconds : side)
            seconds /= perRound;
    return result;
}

// The kinds of call that cost time under a player: each crosses to another
// process or to the file system.
const char* kindOf(const std::string& function) {
    if (function == "Shell_NotifyIconA")
        return "tray";
    if (function.rfind("GetPrivateProfile", 0) == 0)
        return "ini reads";
    if (function.rfind("WritePrivateProfileString", 0) == 0)
        return "ini writes";
    if (function.rfind("SendMessage", 0) == 0)
        return "sends";
    return "other";
}

// What one init and quit ask of the system, by kind, most first.
std::string callsOfInitAndQuit(const std::string& path, HWND host) {
    Plugin plugin;
    if (!plugin.load(path))
        return "?";
    startRecordingApi(plugin.module());
    plugin.start(host);
    plugin.quit();
    std::map<std::string, int> counts;
    for (const ApiCall& call : recordedCalls())
        ++counts[kindOf(call.function)];
    std::vector<std::pair<int, std::string>> byCount;
    for (const auto& [kind, count] : counts)
        byCount.emplace_back(count, kind);
    std::sort(byCount.rbegin(), byCount.rend());
    std::string text;
    for (const auto& [count, kind] : byCount)
        text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + kind;
    return text.empty() ? "none" : text;
}

Row timeRow(const char* id, const char* measure, const std::vector<double>& plugin,
            const std::vector<double>& lean) {
    return {id,
            measure,
            formatDuration(summarize(plugin).median),
            formatDuration(summarize(lean).median),
            formatRatio(summarize(ratios(plugin, lean))),
            "",
            Verdict::Info};
}

// A player has these loaded for its own use; loading the plug-in then costs
// only the plug-in. Kept loaded while it is measured.
class PlayerLibraries {
  public:
    PlayerLibraries() {
        for (const char* name : {"comctl32.dll", "winmm.dll", "shell32.dll"})
            modules_.push_back(LoadLibraryA(name));
    }
    ~PlayerLibraries() {
        for (HMODULE module : modules_)
            if (module != nullptr)
                FreeLibrary(module);
    }
    PlayerLibraries(const PlayerLibraries&) = delete;
    PlayerLibraries& operator=(const PlayerLibraries&) = delete;

  private:
    std::vector<HMODULE> modules_;
};

// Under Wine the removal of a process's last tray icon can wait for the
// system tray (2 s where windows are managed): the environment's cost, not
// the plug-in's, so the cycles above run beside an icon of the player's own.
Row lastIconRow(HWND window) {
    const auto removal = [&](bool last) {
        std::unique_ptr<TrayIcon> other;
        if (!last)
            other = std::make_unique<TrayIcon>(window, kSecondIconId);
        auto icon = std::make_unique<TrayIcon>(window, kPlayerIconId);
        return timed([&] { icon.reset(); });
    };
    const double last = removal(true);
    const double notLast = removal(false);
    return {"5h",
            "  removing the process's last tray icon vs one of two",
            formatDuration(last),
            formatDuration(notLast),
            format("%.1f", notLast > 0 ? last / notLast : 0.0),
            "",
            Verdict::Info};
}

// What cycles leave behind once warm: objects, then heap bytes.
struct Leftovers {
    std::array<int, kObjectKindCount> objects{};
    long long heap = 0;
    bool ok = true;

    std::string text() const { return objectCounts(objects, true) + ", heap " + formatBytes(heap); }
    std::string perUnload() const {
        return format("handles %+g, heap ",
                      static_cast<double>(objects[kKernelHandleKind]) / kLeftoverCycles) +
               formatBytes(heap / kLeftoverCycles);
    }
};

bool throwOnce(HMODULE module) {
    const auto entry = reinterpret_cast<ThrowOnceFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, kThrowOnceExport)));
    if (entry != nullptr)
        entry();
    return entry != nullptr;
}

// `throwFirst`: after each load, before init, the library throws one exception.
Leftovers leftovers(const std::string& path, HWND host, bool throwFirst = false) {
    Cycles ignored;
    Leftovers result;
    const auto cycle = [&] {
        if (!throwFirst) {
            lifecycle(path, host, ignored, result.ok);
            return;
        }
        Plugin plugin;
        result.ok =
            plugin.load(path) && throwOnce(plugin.module()) && plugin.start(host) && result.ok;
    };
    for (int i = 0; i < 2; ++i)
        cycle();
    const Census before = takeCensus(benchThreads());
    for (int i = 0; i < kLeftoverCycles; ++i)
        cycle();
    const Census after = takeCensus(benchThreads());
    result.objects = objectGrowth(before, after);
    result.heap = after.heapLiveBytes - before.heapLiveBytes;
    return result;
}

// A cycle must leave no window, menu, GDI object, icon or cursor behind.
// Kernel handles and heap are shown beside the reference's, which has no C++
// runtime; the lean reference's twin then tells what of them the runtime
// leaves: its exception support linked in, then the one exception the
// plug-in throws while it loads.
std::vector<Row> leftoversRows(const std::string& pluginPath, const std::string& leanPath,
                               HWND host, Report& report) {
    const Leftovers plugin = leftovers(pluginPath, host);
    const Leftovers lean = leftovers(leanPath, host);
    bool none = plugin.ok && lean.ok;
    for (std::size_t i = 0; i < kObjectKindCount; ++i)
        none = none && (i == kKernelHandleKind || plugin.objects[i] <= 0);
    const std::string twinPath = besideProgram(kLeanCxxPluginFile);
    const Leftovers linked = leftovers(twinPath, host);
    const Leftovers thrown = leftovers(twinPath, host, true);
    if (!linked.ok || !thrown.ok)
        report.problem("footprint: the lean reference's twin did not load, throw or start");
    return {
        {"5i", format("  %d more cycles leave %s", kLeftoverCycles, kObjectKindsHeading),
         plugin.text(), lean.text(), "", "no USER or GDI object", holds(none)},
        {"5j", "    what one unload leaves in the host", plugin.perUnload(), lean.perUnload(), "",
         "", Verdict::Info},
        {"5k", "      C++ runtime's exceptions linked: their emergency pool and its mutex",
         linked.perUnload(),
         format("%s, %.1f KiB", kLeanCxxPluginFile, static_cast<double>(fileSize(twinPath)) / 1024),
         "", "", Verdict::Info},
        {"5l", "      one exception thrown, as the plug-in's load does: the unwinder's mutex",
         thrown.perUnload(), kLeanCxxPluginFile, "", "", Verdict::Info},
    };
}

int threadsOfThisProcess() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snapshot);
    return count;
}

// What a plug-in adds between its load and a settled run: committed memory
// (init's windows, menus and images, and its threads with their stacks), and
// threads.
struct Running {
    long long committed = -1;
    int threads = 0;
};

Running running(const std::string& path, HWND host) {
    const Census before = takeCensus(benchThreads());
    const int threadsBefore = threadsOfThisProcess();
    Plugin plugin;
    if (!plugin.load(path) || !plugin.start(host))
        return {};
    pumpForLink(kSettleAfterInitMs);
    return {takeCensus(benchThreads()).committedPrivate - before.committedPrivate,
            threadsOfThisProcess() - threadsBefore};
}

// Each side's committed memory over the lean reference's (no thread), per
// thread it started.
Row committedRow(HWND host) {
    const Running plugin = running(besideProgram(kPluginFile), host);
    const Running handOver = running(besideProgram(kLeanHandOverPluginFile), host);
    const Running lean = running(besideProgram(kLeanPluginFile), host);
    const auto perThread = [&lean](const Running& side) {
        return static_cast<double>(side.committed - lean.committed) / std::max(1, side.threads);
    };
    const bool measured = plugin.committed >= 0 && handOver.committed >= 0 && lean.committed >= 0 &&
                          plugin.threads > 0 && handOver.threads > 0;
    const double ratio = measured ? perThread(plugin) / perThread(handOver) : 0;
    return {"5m",
            "  committed memory while running, per thread: the plug-in's (64 KiB stacks) vs "
            "one with the host's default stack",
            format("%s, %d threads", formatBytes(plugin.committed).c_str(), plugin.threads),
            format("%s, %d thread (lean hand-over reference)",
                   formatBytes(handOver.committed).c_str(), handOver.threads),
            format("%.2f", ratio),
            format("<= %.1f", kMostCommittedPerThreadVsDefault),
            measured ? atMost(ratio, kMostCommittedPerThreadVsDefault) : Verdict::Failed};
}

} // namespace

void measureFootprint(const Options& options, Report& report) {
    const std::string pluginPath = besideProgram(kPluginFile);
    const std::string leanPath = besideProgram(kLeanPluginFile);
    report.add({"5a", "footprint: file size and imports (the reference: no C++ runtime)",
                describeFile(pluginPath), describeFile(leanPath), "", "", Verdict::Info});
    report.add({"5b", "  imports: system DLLs only, no mingw runtime",
                importsOnlySystemDlls(pluginPath) ? "yes" : "no", "", "", "yes",
                holds(importsOnlySystemDlls(pluginPath))});

    Scene scene;
    const HWND host = createHostWindow("Bench player");
    if (!scene.ok() || host == nullptr) {
        report.problem("footprint: cannot create the host windows");
        return;
    }
    const Row lastIcon = lastIconRow(host);
    bool ok = true;
    Comparison cold;
    Comparison warm;
    std::vector<Row> leftoversFound;
    std::string pluginCalls;
    std::string leanCalls;
    {
        TrayIcon playerIcon(host, kPlayerIconId);
        // First as a player that has not loaded the common controls, then as
        // one that has them (and the other system DLLs) loaded already.
        cold = compareLifecycles(pluginPath, leanPath, host, options.rounds,
                                 options.lifecycles / 2 + 1, ok);
        const auto libraries = std::make_unique<PlayerLibraries>();
        warm =
            compareLifecycles(pluginPath, leanPath, host, options.rounds, options.lifecycles, ok);
        pluginCalls = callsOfInitAndQuit(pluginPath, host);
        leanCalls = callsOfInitAndQuit(leanPath, host);
        leftoversFound = leftoversRows(pluginPath, leanPath, host, report);
        leftoversFound.push_back(committedRow(host));
    }
    if (!ok)
        report.problem("footprint: a plug-in did not load or start");

    report.add(timeRow("5c", "  load + init + quit + unload vs lean reference", warm.whole[0],
                       warm.whole[1]));
    report.add(timeRow("5d", "    of which load + unload", warm.plugin.roundLoadUnload,
                       warm.lean.roundLoadUnload));
    report.add(timeRow("5e", "    of which init + quit", warm.plugin.roundInitQuit,
                       warm.lean.roundInitQuit));
    report.add({"5f", "    init + quit: system calls made", pluginCalls, leanCalls, "", "",
                Verdict::Info});
    report.add(timeRow("5g", "  load + unload, COMCTL32 not loaded by the player",
                       cold.plugin.roundLoadUnload, cold.lean.roundLoadUnload));
    report.add(lastIcon);
    for (Row& row : leftoversFound)
        report.add(std::move(row));
    DestroyWindow(host);
}

} // namespace bench
