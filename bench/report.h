// The one table the bench prints: a row per figure, with its target.
#pragma once
#include <string>
#include <vector>

namespace bench {

enum class Verdict {
    Info,   // a figure without a target
    Met,    // within its target
    Missed, // a time outside its target: reported, not a failure
    Failed, // a count or a check that must hold: the run fails
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
    void print(const std::string& heading) const;
    bool failed() const;

  private:
    std::vector<Row> rows_;
    std::vector<std::string> problems_;
};

Verdict atMost(double value, double limit);

} // namespace bench
