#include "bench/figures.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace tarvex::bench {
namespace {

std::vector<Figure>& figures() {
    static std::vector<Figure> all;
    return all;
}

double nanosecondsPer(benchmark::TimeUnit unit) {
    switch (unit) {
        case benchmark::kNanosecond: return 1.0;
        case benchmark::kMicrosecond: return 1e3;
        case benchmark::kMillisecond: return 1e6;
        case benchmark::kSecond: return 1e9;
    }
    return 1.0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

std::string duration(double ns) {
    char text[32];
    if (ns < 1e3) std::snprintf(text, sizeof text, "%.1f ns", ns);
    else if (ns < 1e6) std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
    else if (ns < 1e9) std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    else std::snprintf(text, sizeof text, "%.2f s", ns / 1e9);
    return text;
}

std::string number(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

void addFigure(Figure figure) { figures().push_back(std::move(figure)); }

FigureReporter::FigureReporter()
    : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}

bool FigureReporter::timeOf(const std::string& benchmark, double& ns) const {
    if (auto m = medians_.find(benchmark); m != medians_.end()) {
        ns = m->second;
        return true;
    }
    auto it = iterations_.find(benchmark);
    if (it == iterations_.end() || it->second.empty()) return false;
    ns = median(it->second);
    return true;
}

bool FigureReporter::sum(const std::vector<Term>& terms, double& ns) const {
    ns = 0.0;
    for (const Term& term : terms) {
        double t = term.fixedNs;
        if (!term.benchmark.empty() && !timeOf(term.benchmark, t)) return false;
        ns += term.weight * t;
    }
    return true;
}

void FigureReporter::ReportRuns(const std::vector<Run>& runs) {
    // Of the aggregates of repeated runs only the median is shown, with the spread of the CPU
    // times (coefficient of variation) beside it: the figures are medians.
    double cvPercent = -1.0;
    for (const Run& run : runs)
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "cv")
            cvPercent = 100.0 * run.cpu_accumulated_time;  // a fraction, not a time

    for (const Run& original : runs) {
        Run run = original;
        const std::string name = run.run_name.str();
        if (run.error_occurred) {
            ++failures_;
        } else if (run.run_type == Run::RT_Aggregate) {
            if (run.aggregate_name != "median") continue;
            medians_[name] = run.GetAdjustedCPUTime() * nanosecondsPer(run.time_unit);
            if (cvPercent >= 0.0) run.counters["cv%"] = benchmark::Counter(cvPercent);
        } else {
            iterations_[name].push_back(run.GetAdjustedCPUTime() * nanosecondsPer(run.time_unit));
        }
        shown_.push_back(run);
    }
}

void FigureReporter::Finalize() {
    // Shown at the end, in the order of registration (repetitions may run in random order), each
    // with the ratio of its figure now that every bound is measured.
    std::stable_sort(shown_.begin(), shown_.end(), [](const Run& a, const Run& b) {
        if (a.family_index != b.family_index) return a.family_index < b.family_index;
        return a.per_family_instance_index < b.per_family_instance_index;
    });
    for (Run& run : shown_) {
        if (run.error_occurred) continue;
        const std::string name = run.run_name.str();
        const double ns = run.GetAdjustedCPUTime() * nanosecondsPer(run.time_unit);
        for (const Figure& f : figures()) {
            if (f.measured != name) continue;
            double bound = 0.0, allowance = 0.0;
            if (sum(f.bound, bound) && sum(f.allowance, allowance) && bound > 0.0)
                run.counters["ratio"] = benchmark::Counter((ns - allowance) / bound);
            break;
        }
    }
    if (!shown_.empty()) ConsoleReporter::ReportRuns(shown_);
    ConsoleReporter::Finalize();
    printTable(GetOutputStream());
}

void FigureReporter::printTable(std::ostream& out) {
    out << "\n| Figure | Measured (CPU) | Bound | Ratio | Goal | |\n"
           "|---|---|---|---|---|---|\n";
    missed_ = 0;
    for (const Figure& f : figures()) {
        double measured = 0.0, bound = 0.0, allowance = 0.0;
        const bool known = timeOf(f.measured, measured) && sum(f.bound, bound) &&
                           sum(f.allowance, allowance) && bound > 0.0;
        const std::string per = f.perText.empty() ? "" : " " + f.perText;
        if (!known) continue;  // left out of this run (a filter, or an error)
        out << "| " << f.title << " | ";
        const double ratio = (measured - allowance) / bound;
        out << duration(measured / f.per) << per << " | " << f.boundText << " "
            << duration(bound / f.per);
        if (allowance > 0.0) out << " (+ " << duration(allowance / f.per) << " allowed)";
        out << " | " << number("%.2f", ratio) << " | ";
        if (f.goal <= 0.0) {
            out << "for the record | |\n";
            continue;
        }
        const bool met = ratio <= f.goal;
        if (!met) ++missed_;
        out << "<= " << number("%.2f", f.goal) << " | " << (met ? "met" : "MISSED") << " |\n";
    }
    out << "\nRatio = (measured - allowed) / bound, CPU time per iteration, medians of the runs.\n";
    if (missed_) out << missed_ << " goal(s) missed.\n";
    out.flush();
}

}  // namespace tarvex::bench
