// Lanes, bands and volumes of a 4096 x 4096 16-bit synthetic gel, background included, beside
// the moving-minimum background alone with the window the analysis uses. Prints the ratio at the
// end. One thread, processor time.
#include "synth/SyntheticGel.h"

#include <KestroImage.h>

#include "raster_bench_report.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

namespace {

constexpr int kSide = 4096;

const RasterImageGS16& gelRaster() {
    static const std::unique_ptr<RasterImageGS16> raster = [] {
        const kestro::SyntheticGel gel =
            kestro::SyntheticGel::generate(kestro::gelOptions(kSide, kSide, 16, 12, 7));
        auto r = std::make_unique<RasterImageGS16>(kSide, kSide);
        std::copy(gel.values().begin(), gel.values().end(), r->pixels);
        return r;
    }();
    return *raster;
}

void BM_GelAnalysis(benchmark::State& state) {
    const RasterImageGS16& r = gelRaster();
    rasterbench::LibraryThreads threads(1);
    size_t bands = 0;
    for (auto _ : state) {
        const kestro::gel::Analysis a = kestro::gel::analyse(r);
        bands = a.bands().size();
        benchmark::DoNotOptimize(bands);
    }
    state.counters["bands"] = static_cast<double>(bands);
}

void BM_MovingMinimumAlone(benchmark::State& state) {
    RasterImageGS16 source(gelRaster());
    RasterImageGS16 background(kSide, kSide);
    ImageProcessing processing;
    for (auto _ : state)
        processing.generateBGViaMinFilter(&source, &background, kSide / 16, kSide / 16);
}

// The same at one thread and at every core, in real time.
template <int Threads> void BM_GelAnalysisThreads(benchmark::State& state) {
    const RasterImageGS16& r = gelRaster();
    rasterbench::LibraryThreads threads(Threads);
    for (auto _ : state)
        benchmark::DoNotOptimize(kestro::gel::analyse(r).lanes.size());
}

BENCHMARK(BM_GelAnalysis)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GelAnalysisThreads, 1)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_GelAnalysisThreads, 0)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK(BM_MovingMinimumAlone)->Unit(benchmark::kMillisecond);

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms, fastestRealMs;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            const std::string name = run.run_name.function_name;
            ms[name] = run.cpu_accumulated_time / static_cast<double>(run.iterations) * 1e3;
            const double real = run.real_accumulated_time / static_cast<double>(run.iterations) * 1e3;
            const auto it = fastestRealMs.find(name);
            if (it == fastestRealMs.end() || real < it->second) fastestRealMs[name] = real;
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    rasterbench::initialiseWithWarmUp(argc, argv);
    gelRaster();
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto get = [&](const std::string& name) {
        const auto it = reporter.ms.find(name);
        return it == reporter.ms.end() ? NAN : it->second;
    };
    const double gel = get("BM_GelAnalysis"), minimum = get("BM_MovingMinimumAlone");
    std::printf("\n4096 x 4096 16-bit gel, 16 lanes of 12 bands, one thread (processor ms per run)\n");
    std::printf("  lanes, bands and volumes, background included  %8.1f   (budget 500)\n", gel);
    std::printf("  moving minimum alone, half window 256          %8.1f   %5.2f of the analysis\n", minimum,
                minimum / gel);
    const auto real = [&](const std::string& name) {
        const auto it = reporter.fastestRealMs.find(name);
        return it == reporter.fastestRealMs.end() ? NAN : it->second;
    };
    const double one = real("BM_GelAnalysisThreads<1>"), all = real("BM_GelAnalysisThreads<0>");
    std::printf(
        "\nThe analysis in real ms, fastest of five: 1 thread %.1f, every core (%u) %.1f, gain %.2fx\n", one,
        std::thread::hardware_concurrency(), all, one / all);
    return 0;
}
