#include "stats.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace bench {

double now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / frequency;
}

namespace {

double quantile(const std::vector<double>& sorted, double q) {
    const double position = q * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(position);
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    const double weight = position - static_cast<double>(below);
    return sorted[below] * (1 - weight) + sorted[above] * weight;
}

} // namespace

Summary summarize(std::vector<double> values) {
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    return {quantile(values, 0.5), quantile(values, 0.25), quantile(values, 0.75)};
}

Samples alternate(int rounds, int slices, const std::vector<std::function<double()>>& sides) {
    const std::size_t count = sides.size();
    Samples samples(count);
    std::vector<std::vector<double>> sliceTimes(count);
    for (int round = 0; round < rounds; ++round) {
        for (auto& times : sliceTimes)
            times.clear();
        for (int slice = 0; slice < slices; ++slice) {
            for (std::size_t k = 0; k < count; ++k) {
                const std::size_t side = (static_cast<std::size_t>(round + slice) + k) % count;
                sliceTimes[side].push_back(sides[side]());
            }
        }
        // A slice the scheduler interrupted lands on one side only; the
        // median slice leaves it out.
        for (std::size_t side = 0; side < count; ++side)
            samples[side].push_back(summarize(sliceTimes[side]).median * slices);
    }
    return samples;
}

std::vector<double> ratios(const std::vector<double>& numerator,
                           const std::vector<double>& denominator) {
    std::vector<double> result;
    for (std::size_t i = 0; i < numerator.size() && i < denominator.size(); ++i)
        result.push_back(denominator[i] > 0 ? numerator[i] / denominator[i] : 0);
    return result;
}

std::vector<double> perOperation(const std::vector<double>& batchSeconds, double operations) {
    std::vector<double> result;
    for (double seconds : batchSeconds)
        result.push_back(seconds / operations);
    return result;
}

std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string formatDuration(double seconds) {
    if (seconds < 1e-6)
        return format("%.0f ns", seconds * 1e9);
    if (seconds < 1e-3)
        return format("%.1f us", seconds * 1e6);
    if (seconds < 1)
        return format("%.2f ms", seconds * 1e3);
    return format("%.2f s", seconds);
}

std::string formatRatio(const Summary& ratio) {
    return format("%.3f [%.3f-%.3f]", ratio.median, ratio.low, ratio.high);
}

std::string formatBytes(long long bytes) {
    const char* sign = bytes < 0 ? "-" : "+";
    const long long size = std::llabs(bytes);
    if (size < 1024)
        return format("%s%lld B", sign, size);
    if (size < 1024 * 1024)
        return format("%s%.1f KiB", sign, static_cast<double>(size) / 1024);
    return format("%s%.2f MiB", sign, static_cast<double>(size) / (1024 * 1024));
}

} // namespace bench
