// The one table the bench prints: a row per figure, with its target.
#pragma once
#include <string>
#include <vector>

namespace bench {

enum class Verdict {
    Info,   // a figure without a target
    Met,    // within its target
    Missed, // a time outside its target
    Failed, // a count or a check that did not hold
};

struct Row {
    std::string id;
    std::string measure;
    std::string plugin; // the plug-in's side
    std::string floor;  // what it is compared with
    std::string ratio;
    std::string target;
    Verdict verdict = Verdict::Info;
};

class Report {
  public:
    void add(Row row) { rows_.push_back(std::move(row)); }
    // A check the figures rest on (bytes delivered, counts); fails the run.
    void problem(const std::string& text) { problems_.push_back(text); }
    // The table, then every target missed and every problem, one a line.
    void print(const std::string& heading) const;
    // A target was missed or failed.
    bool targetMissed() const;
    // A check the figures rest on failed: the figures mean nothing.
    bool hasProblems() const { return !problems_.empty(); }

  private:
    std::vector<Row> rows_;
    std::vector<std::string> problems_;
};

Verdict atMost(double value, double limit);
// For a count or a check.
Verdict holds(bool condition);

} // namespace bench
