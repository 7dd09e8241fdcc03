// Timing side by side: a round interleaves short slices of every side, in
// rotating order, so that a machine busy with other work slows both sides of
// a ratio alike.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace bench {

double now(); // seconds, from QueryPerformanceCounter

template <typename Work> double timed(Work&& work) {
    const double start = now();
    work();
    return now() - start;
}

struct Summary {
    double median = 0;
    double low = 0;  // 25th percentile
    double high = 0; // 75th percentile
};

Summary summarize(std::vector<double> values);

// samples[side][round]: that side's median slice in that round, times the
// number of slices: the round's seconds without the slices that were
// interrupted by other work.
using Samples = std::vector<std::vector<double>>;

// Each side runs one slice and returns the seconds it took. A round runs
// `slices` slices of every side, interleaved, the first side rotating.
Samples alternate(int rounds, int slices, const std::vector<std::function<double()>>& sides);

// Per-round quotient of two sides.
std::vector<double> ratios(const std::vector<double>& numerator,
                           const std::vector<double>& denominator);

// Per-round batch seconds divided by the batch's operation count.
std::vector<double> perOperation(const std::vector<double>& batchSeconds, double operations);

std::string formatDuration(double seconds);    // "312 ns", "85.2 us", "3.41 ms"
std::string formatRatio(const Summary& ratio); // "1.02 [1.01-1.03]"
std::string formatBytes(long long bytes);      // "+1.5 KiB", "-512 B"
std::string format(const char* pattern, ...);

} // namespace bench
