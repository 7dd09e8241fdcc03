// The bench's parts; each adds its rows to the report.
#pragma once
#include "report.h"

namespace bench {

struct Options {
    int rounds = 15;
    int hookMessages = 200000; // per side and round, in slices of hookSlice
    int hookSlice = 1000;
    int songChanges = 200; // per side and round, one at a time
    int idleTicks = 1000;
    int soakChanges = 100000;
    int lifecycles = 8; // load, init, quit, unload cycles per side and round
};

void measureHookOverhead(const Options& options, Report& report);
void measureSongChange(const Options& options, Report& report);
void countIdleTraffic(const Options& options, Report& report);
void runSoak(int songChanges, Report& report);
void measureFootprint(const Options& options, Report& report);

} // namespace bench
