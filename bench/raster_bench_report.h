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

/// benchmark::Initialize with a warm-up before each benchmark is timed (0.2 s unless the command
/// line sets one): a single cold iteration reads the file cache, page faults and lazy set-up of
/// the libraries as if they were the work.
inline void initialiseWithWarmUp(int& argc, char** argv) {
    static std::vector<char*> args;
    static char warmUp[] = "--benchmark_min_warmup_time=0.2";
    args.assign(argv, argv + argc);
    bool given = false;
    for (int i = 1; i < argc; ++i) given = given || std::string(argv[i]).rfind("--benchmark_min_warmup_time", 0) == 0;
    if (!given) args.insert(args.begin() + 1, warmUp);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    argc = count;
    for (int i = 0; i <= count; ++i) argv[i] = i < count ? args[static_cast<size_t>(i)] : nullptr;
}

inline int runAndSummarise(int argc, char** argv, const std::vector<Comparison>& comparisons) {
    initialiseWithWarmUp(argc, argv);
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
