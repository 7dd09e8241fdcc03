// The bench's parts; each adds its rows to the report.
#pragma once
#include "report.h"

namespace bench {

struct Options {
    int rounds = 15;
    int hookMessages = 200000; // per side and round, in slices of hookSlice
    int hookSlice = 1000;
    int songChanges = 100; // per side and round, one at a time
    int ticks = 30;        // discovery ticks per side and round
    int busyTicks = 10;    // per side, beside the busy program (each may wait 2 s)
    int soakChanges = 100000;
    int storySteps = 400; // the random listener's evening that follows the soak
    int lifecycles = 8;   // load, init, quit, unload cycles per side and round
};

void measureHookOverhead(const Options& options, Report& report);
void measureSongChange(const Options& options, Report& report);
void measureDiscovery(const Options& options, Report& report);
void runSoak(int songChanges, Report& report);
void runSessionStory(int steps, Report& report);
void measureFootprint(const Options& options, Report& report);
void measureHungSkype(const Options& options, Report& report);
void measureQuit(const Options& options, Report& report);

// The soak first proves its census in a process of its own: this program,
// started with a switch that makes it run calibrateCensus() alone.
bool isCensusCalibration(int argc, char** argv);
int calibrateCensus();

} // namespace bench
