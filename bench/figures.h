// The figures the benchmarks exist for: each measurement held against its bound, measured in the
// same run, as a ratio with a goal.  The reporter adds the ratio to the measurement's line as a
// counter once its bound has been measured, and prints every figure in a table at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace tarvex::bench {

// A benchmark's CPU time per iteration times `weight`, or (with no benchmark) a fixed time.
struct Term {
    std::string benchmark = {};
    double weight = 1.0;
    double fixedNs = 0.0;
};

struct Figure {
    std::string title = {};
    std::string measured = {};         // the benchmark measured
    std::vector<Term> bound = {};      // what it is held against (the terms add up)
    std::vector<Term> allowance = {};  // costs the goal allows on top, taken off the measurement
    double goal = 0.0;            // largest ratio (measured - allowance) / bound; 0: for the record
    double per = 1.0;             // times are shown divided by this (the packets of a capture)
    std::string perText = {};          // "per packet"
    std::string boundText = {};        // the bound in words
};

void addFigure(Figure figure);

// The console reporter plus the ratios and the closing table.  The lines are held back and shown
// together at the end, in the order the benchmarks were registered.
class FigureReporter : public benchmark::ConsoleReporter {
public:
    // In colour on a terminal only (a reporter of one's own does not follow --benchmark_color).
    FigureReporter();

    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

    // Benchmarks that reported an error.
    int failures() const { return failures_; }
    // Figures whose ratio is above their goal (figures not measured do not count).
    int missedGoals() const { return missed_; }

private:
    bool timeOf(const std::string& benchmark, double& ns) const;
    bool sum(const std::vector<Term>& terms, double& ns) const;
    void printTable(std::ostream& out);

    std::map<std::string, std::vector<double>> iterations_;  // CPU ns per iteration, per run
    std::map<std::string, double> medians_;                  // from the median aggregates
    std::vector<Run> shown_;                                 // the lines to show at the end
    int failures_ = 0;
    int missed_ = 0;
};

}  // namespace tarvex::bench
