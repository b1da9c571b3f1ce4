// Shared by the raster benchmarks: collects each benchmark's time and prints ratios at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace rasterbench {

/// The console reporter that also remembers the real time of every benchmark, in ns: the median
/// when repetitions are run (the machine may be shared), else the mean of the one run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration || median)
                times[baseName(run.run_name.function_name)] = run.GetAdjustedRealTime() * multiplier(run.time_unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;

private:
    // "BM_X/real_time" and the like are filed under "BM_X".
    static std::string baseName(const std::string& name) { return name.substr(0, name.find('/')); }

    static double multiplier(benchmark::TimeUnit unit) {
        switch (unit) {
        case benchmark::kSecond: return 1e9;
        case benchmark::kMillisecond: return 1e6;
        case benchmark::kMicrosecond: return 1e3;
        default: return 1;
        }
    }
};

/// One summary line: ours beside its peers, as ratios (ours / peer) with the goal noted.
struct Comparison {
    std::string title, ours;
    std::vector<std::pair<std::string, std::string>> peers; // label, benchmark name
    std::string goal;
};

inline int runAndSummarise(int argc, char** argv, const std::vector<Comparison>& comparisons) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nSummary, real time (ratio = our time / peer time; below 1 means we are faster)\n");
    for (const Comparison& c : comparisons) {
        auto ours = reporter.times.find(c.ours);
        if (ours == reporter.times.end()) continue;
        std::printf("%-22s ours %9.2f ms", c.title.c_str(), ours->second / 1e6);
        for (const auto& [label, name] : c.peers) {
            auto peer = reporter.times.find(name);
            if (peer != reporter.times.end())
                std::printf(" | %s %8.2f ms x%.2f", label.c_str(), peer->second / 1e6, ours->second / peer->second);
        }
        std::printf("   goal: %s\n", c.goal.c_str());
    }
    benchmark::Shutdown();
    return 0;
}

} // namespace rasterbench
