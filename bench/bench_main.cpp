// What gen_tralmo.dll costs the player, measured side by side in one run.
//   tralmo_bench              every part, the soak with 100,000 song changes
//   tralmo_bench --soak N     only the soak, with N song changes (the CI test)
//   --story N                 the random listener's evening after the soak takes N
//                             steps (400; none with --soak unless given)
//   --rounds R                rounds per timed comparison (default 15)
//   --parts 1,2,...           only these parts
//   --no-fail                 exit 0 even when a target is missed (for exploring)
// The exit code is 1 when a target was missed or a check the figures rest on
// failed, 2 for a wrong command line.
#include "parts.h"
#include "report.h"
#include "stats.h"

#include "standin_player.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

constexpr int kLastPart = 7;

struct Arguments {
    bench::Options options;
    std::set<int> parts = {1, 2, 3, 4, 5, 6, 7};
    bool failOnMiss = true;
    bool valid = true;
};

Arguments parse(int argc, char** argv) {
    Arguments arguments;
    bool storyGiven = false;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--soak") == 0 && hasValue) {
            arguments.options.soakChanges = std::atoi(argv[++i]);
            arguments.parts = {4};
            if (!storyGiven)
                arguments.options.storySteps = 0;
        } else if (std::strcmp(argv[i], "--story") == 0 && hasValue) {
            arguments.options.storySteps = std::atoi(argv[++i]);
            storyGiven = true;
        } else if (std::strcmp(argv[i], "--rounds") == 0 && hasValue) {
            arguments.options.rounds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--parts") == 0 && hasValue) {
            arguments.parts.clear();
            for (const char* p = argv[++i]; *p != '\0'; ++p) {
                if (*p >= '1' && *p <= '0' + kLastPart)
                    arguments.parts.insert(*p - '0');
            }
        } else if (std::strcmp(argv[i], "--no-fail") == 0) {
            arguments.failOnMiss = false;
        } else {
            arguments.valid = false;
        }
    }
    if (arguments.options.rounds < 1 || arguments.options.soakChanges < 1 ||
        arguments.options.storySteps < 0)
        arguments.valid = false;
    return arguments;
}

std::string wineVersion() {
    using VersionFn = const char* (*)();
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto version = reinterpret_cast<VersionFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "wine_get_version")));
    return version != nullptr ? std::string("Wine ") + version() : std::string("Windows");
}

void progress(const char* text) {
    std::fprintf(stderr, "bench: %s\n", text);
    std::fflush(stderr);
}

} // namespace

int main(int argc, char** argv) {
    standin::installCrashFilter();
    if (bench::isCensusCalibration(argc, argv))
        return bench::calibrateCensus();
    const Arguments arguments = parse(argc, argv);
    if (!arguments.valid) {
        std::fprintf(stderr,
                     "usage: tralmo_bench [--soak N] [--story N] [--rounds R] [--parts 1234567] "
                     "[--no-fail]\n");
        return 2;
    }
    const bench::Options& options = arguments.options;
    bench::Report report;
    const auto wanted = [&](int part) { return arguments.parts.count(part) != 0; };
    if (wanted(1)) {
        progress("1 hook overhead");
        bench::measureHookOverhead(options, report);
    }
    if (wanted(2)) {
        progress("2 song change");
        bench::measureSongChange(options, report);
    }
    if (wanted(3)) {
        progress("3 discovery");
        bench::measureDiscovery(options, report);
    }
    if (wanted(4)) {
        progress("4 soak");
        bench::runSoak(options.soakChanges, report);
        if (options.storySteps > 0)
            bench::runSessionStory(options.storySteps, report);
    }
    if (wanted(5)) {
        progress("5 footprint");
        bench::measureFootprint(options, report);
    }
    if (wanted(6)) {
        progress("6 hung Skype");
        bench::measureHungSkype(options, report);
    }
    if (wanted(7)) {
        progress("7 quit");
        bench::measureQuit(options, report);
    }
    report.print(bench::format(
        "gen_tralmo.dll under %s. Times: median of %d rounds; a round interleaves the sides in "
        "short slices\nand keeps each side's median slice. Ratio: median of the per-round ratios "
        "[25th-75th percentile].",
        wineVersion().c_str(), options.rounds));
    if (report.hasProblems())
        return 1;
    return arguments.failOnMiss && report.targetMissed() ? 1 : 0;
}
