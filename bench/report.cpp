#include "report.h"

#include <algorithm>
#include <cstdio>

namespace bench {
namespace {

const char* verdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Info:
        return "";
    case Verdict::Met:
        return "met";
    case Verdict::Missed:
        return "MISSED";
    case Verdict::Failed:
        return "FAILED";
    }
    return "";
}

bool missed(const Row& row) {
    return row.verdict == Verdict::Missed || row.verdict == Verdict::Failed;
}

// "MISSED 2a song change ...: 384.4 us vs 312.3 us, 1.207 [...], target <= 1.05"
std::string missLine(const Row& row) {
    const std::size_t indent = row.measure.find_first_not_of(' ');
    std::string text = std::string(verdictText(row.verdict)) + " " + row.id + " " +
                       row.measure.substr(indent == std::string::npos ? 0 : indent) + ": " +
                       row.plugin;
    if (!row.floor.empty())
        text += " vs " + row.floor;
    if (!row.ratio.empty())
        text += ", " + row.ratio;
    return text + ", target " + row.target;
}

std::vector<std::string> cells(const Row& row) {
    return {row.id,
            row.measure,
            row.plugin,
            row.floor,
            row.ratio,
            row.target,
            verdictText(row.verdict)};
}

} // namespace

Verdict atMost(double value, double limit) {
    return value <= limit ? Verdict::Met : Verdict::Missed;
}

Verdict holds(bool condition) {
    return condition ? Verdict::Met : Verdict::Failed;
}

void Report::print(const std::string& heading) const {
    const std::vector<std::string> titles = {"#",     "measure", "plug-in", "floor",
                                             "ratio", "target",  "verdict"};
    std::vector<std::size_t> widths;
    for (const std::string& title : titles)
        widths.push_back(title.size());
    for (const Row& row : rows_) {
        const auto texts = cells(row);
        for (std::size_t i = 0; i < texts.size(); ++i)
            widths[i] = std::max(widths[i], texts[i].size());
    }
    const auto line = [&](const std::vector<std::string>& texts) {
        std::string out;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            out += (i == 0 ? "" : " | ") + texts[i];
            if (i + 1 < texts.size())
                out.append(widths[i] - texts[i].size(), ' ');
        }
        std::printf("%s\n", out.c_str());
    };
    std::printf("%s\n", heading.c_str());
    line(titles);
    std::string rule;
    for (std::size_t i = 0; i < widths.size(); ++i)
        rule += (i == 0 ? "" : "-+-") + std::string(widths[i], '-');
    std::printf("%s\n", rule.c_str());
    for (const Row& row : rows_)
        line(cells(row));
    for (const Row& row : rows_) {
        if (missed(row))
            std::printf("%s\n", missLine(row).c_str());
    }
    for (const std::string& text : problems_)
        std::printf("PROBLEM: %s\n", text.c_str());
    std::fflush(stdout);
}

bool Report::targetMissed() const {
    return std::any_of(rows_.begin(), rows_.end(), missed);
}

} // namespace bench
