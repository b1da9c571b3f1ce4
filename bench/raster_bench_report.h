// Shared by the raster benchmarks: collects each benchmark's time and prints ratios at the end.
#pragma once

#include <benchmark/benchmark.h>

#include "raster/Threads.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
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
            const bool fastest = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
            const std::string name = baseName(run.run_name.function_name);
            // The fastest run, where kept, stands for the time of a machine no one else loads.
            if (fastest) fastestNames.push_back(name);
            const bool taken =
                std::find(fastestNames.begin(), fastestNames.end(), name) != fastestNames.end();
            if (run.run_type == Run::RT_Iteration || median || fastest)
                if (fastest || !taken) times[name] = run.GetAdjustedRealTime() * multiplier(run.time_unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;

private:
    std::vector<std::string> fastestNames;

    // "BM_X/real_time" and the like are filed under "BM_X".
    static std::string baseName(const std::string& name) { return name.substr(0, name.find('/')); }

    static double multiplier(benchmark::TimeUnit unit) {
        switch (unit) {
        case benchmark::kSecond:
            return 1e9;
        case benchmark::kMillisecond:
            return 1e6;
        case benchmark::kMicrosecond:
            return 1e3;
        default:
            return 1;
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
    for (int i = 1; i < argc; ++i)
        given = given || std::string(argv[i]).rfind("--benchmark_min_warmup_time", 0) == 0;
    if (!given) args.insert(args.begin() + 1, warmUp);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    argc = count;
    for (int i = 0; i <= count; ++i)
        argv[i] = i < count ? args[static_cast<size_t>(i)] : nullptr;
}

struct ThreadRow;
inline void printThreadTable(const std::function<double(const std::string&)>& ms,
                             const std::vector<ThreadRow>& rows);

/// Runs the benchmarks and prints the comparisons, then the table of threads when rows are given.
inline int runAndSummarise(int argc, char** argv, const std::vector<Comparison>& comparisons,
                           const std::vector<ThreadRow>& threadRows = {}) {
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
                std::printf(" | %s %8.2f ms x%.2f", label.c_str(), peer->second / 1e6,
                            ours->second / peer->second);
        }
        std::printf("   goal: %s\n", c.goal.c_str());
    }
    if (!threadRows.empty())
        printThreadTable(
            [&](const std::string& name) {
                const auto it = reporter.times.find(name);
                return it == reporter.times.end() ? NAN : it->second / 1e6;
            },
            threadRows);
    benchmark::Shutdown();
    return 0;
}

/// memcpy split into equal parts on `threads` threads (0: one per core): what memory-bound work
/// can gain from more cores on this machine.
inline void memcpyOnThreads(void* dst, const void* src, size_t bytes, unsigned threads) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; ++t)
        workers.emplace_back([=] {
            const size_t from = bytes * t / threads, to = bytes * (t + 1) / threads;
            std::memcpy(static_cast<char*>(dst) + from, static_cast<const char*>(src) + from, to - from);
        });
    std::memcpy(dst, src, bytes / threads);
    for (std::thread& w : workers)
        w.join();
}

/// The fastest of the repetitions: on a machine shared with other work, the run least disturbed.
inline double fastestOf(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

/// Five repetitions with their fastest kept beside the usual figures (see fastestOf).
inline void repeatKeepingFastest(benchmark::internal::Benchmark* b) {
    b->Repetitions(5)
        ->ComputeStatistics("min", fastestOf)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
}

/// Sets the library's thread count for one benchmark (0: every core) and restores it after.
struct LibraryThreads {
    int saved = kestro::threadCount();
    explicit LibraryThreads(int count) { kestro::setThreadCount(count); }
    ~LibraryThreads() { kestro::setThreadCount(saved); }
};

/// One line of the table of threads: the names of the benchmarks (empty where there is none);
/// `literalScale` multiplies the literal time (run on a smaller picture).
struct ThreadRow {
    std::string title, oursOne, oursAll, peerOne, peerAll, literal;
    double literalScale = 1;
    std::string memcpyOne, memcpyAll;
};

/// Prints ours at 1 thread and at all cores, the peer (OpenCV) at 1 thread and at its default,
/// memcpy at 1 thread and all cores and the literal loops, in ms, with the gains: ours all / 1
/// ("gain"), ours all against the peer at its default, and our gain as a fraction of memcpy's,
/// the limit of memory-bound work.
inline void printThreadTable(const std::function<double(const std::string&)>& ms,
                             const std::vector<ThreadRow>& rows) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf(
        "\nEvery core: real ms per run, %u cores (ours 1 / all = the library at 1 and %u threads;\n"
        "OpenCV 1 / default = cv::setNumThreads(1) and its default; gain = 1-thread time / all-cores time)\n",
        cores, cores);
    std::printf("%-22s %8s %8s %6s %8s %8s %9s %8s %8s %6s %9s %9s\n", "", "ours 1", "ours all", "gain",
                "cv 1", "cv dflt", "all/cv", "memcpy 1", "mcpy all", "gain", "of mcpy", "literal");
    auto get = [&](const std::string& name) { return name.empty() ? NAN : ms(name); };
    for (const ThreadRow& r : rows) {
        const double o1 = get(r.oursOne), oa = get(r.oursAll), c1 = get(r.peerOne), ca = get(r.peerAll);
        const double m1 = get(r.memcpyOne), ma = get(r.memcpyAll), lit = get(r.literal) * r.literalScale;
        const double gain = o1 / oa, memGain = m1 / ma;
        std::printf("%-22s %8.2f %8.2f %5.2fx %8.2f %8.2f %8.2fx %8.2f %8.2f %5.2fx %8.0f%% %9.0f\n",
                    r.title.c_str(), o1, oa, gain, c1, ca, oa / ca, m1, ma, memGain, 100 * gain / memGain,
                    lit);
    }
}

} // namespace rasterbench
