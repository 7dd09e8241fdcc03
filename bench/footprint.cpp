// What the plug-in weighs: its file, the DLLs it pulls in, and the time the
// player spends loading, starting, stopping and unloading it, against an
// empty plug-in.
#include "parts.h"
#include "session.h"
#include "stats.h"

#include "api_recorder.h"
#include "import_table.h"
#include "standin_skype.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

namespace bench {
namespace {

constexpr char kPluginFile[] = "gen_tralmo.dll";
constexpr char kEmptyFile[] = "gen_bench_empty.dll";

long long fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string imports(const std::string& path) {
    const HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        return "?";
    std::string list;
    for (const std::string& name : importedDllNames(module))
        list += (list.empty() ? "" : " ") + name;
    FreeLibrary(module);
    return list;
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
    standin_skype::clearHistory();
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
    Samples whole; // [0] the plug-in, [1] the empty one, per cycle
    Cycles plugin;
    Cycles empty;
};

Comparison compareLifecycles(const std::string& pluginPath, const std::string& emptyPath, HWND host,
                             int rounds, int perRound, bool& ok) {
    Comparison result;
    const std::vector<std::function<double()>> sides = {
        [&] { return lifecycle(pluginPath, host, result.plugin, ok); },
        [&] { return lifecycle(emptyPath, host, result.empty, ok); },
    };
    alternate(1, 2, sides); // warm-up: the file cache, Wine's loader
    result.plugin = Cycles();
    result.empty = Cycles();
    result.plugin.perRound = result.empty.perRound = perRound;
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
    if (function == "WritePrivateProfileStringA")
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
    return text;
}

Row timeRow(const char* id, const char* measure, const std::vector<double>& plugin,
            const std::vector<double>& empty) {
    return {id,
            measure,
            formatDuration(summarize(plugin).median),
            formatDuration(summarize(empty).median),
            formatRatio(summarize(ratios(plugin, empty))),
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

} // namespace

void measureFootprint(const Options& options, Report& report) {
    const std::string pluginPath = besideProgram(kPluginFile);
    const std::string emptyPath = besideProgram(kEmptyFile);
    report.add(
        {"5a", "footprint: file size and imported DLLs",
         format("%.1f KiB: ", static_cast<double>(fileSize(pluginPath)) / 1024) +
             imports(pluginPath),
         format("%.1f KiB: ", static_cast<double>(fileSize(emptyPath)) / 1024) + imports(emptyPath),
         "", "", Verdict::Info});

    SessionOptions sessionOptions;
    sessionOptions.startPlugin = false;
    Session session(sessionOptions); // Skype runs, as it would beside the player
    if (!session.ok()) {
        report.problem("footprint: " + session.error());
        return;
    }
    const HWND host = session.host();
    bool ok = true;
    // First as a player that has not loaded the common controls, then as
    // one that has them (and the other system DLLs) loaded already.
    const Comparison cold = compareLifecycles(pluginPath, emptyPath, host, options.rounds,
                                              options.lifecycles / 2 + 1, ok);
    const auto libraries = std::make_unique<PlayerLibraries>();
    const Comparison warm =
        compareLifecycles(pluginPath, emptyPath, host, options.rounds, options.lifecycles, ok);
    const std::string calls = callsOfInitAndQuit(pluginPath, host);
    if (!ok)
        report.problem("footprint: a plug-in did not load or start");
    standin_skype::clearHistory();

    report.add(timeRow("5b", "footprint: load + init + quit + unload vs empty plug-in",
                       warm.whole[0], warm.whole[1]));
    report.add(timeRow("5c", "  of which load + unload", warm.plugin.roundLoadUnload,
                       warm.empty.roundLoadUnload));
    report.add(timeRow("5d", "  of which init + quit", warm.plugin.roundInitQuit,
                       warm.empty.roundInitQuit));
    report.add({"5e", "  init + quit: system calls made", calls, "none", "", "", Verdict::Info});
    report.add(timeRow("5f", "  load + unload, COMCTL32 not loaded by the player",
                       cold.plugin.roundLoadUnload, cold.empty.roundLoadUnload));
}

} // namespace bench
