// Moving minimum and moving average of ImageProcessing against their literal loops, OpenCV's
// erode and blur on the same picture, and a memcpy of the raster. Prints ratios at the end.
//
// The literal loops run on a 1024 x 1024 corner of the picture (their cost grows with the
// window at every pixel, so a full 4096 x 4096 run would take minutes) and are scaled per pixel.
// OpenCV runs single-threaded, as the library does, except in the benchmarks of every core.
#include "analysis/ImageProcessing.h"

#include "raster_bench_report.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 4096;
constexpr int kLiteralSide = 1024;
constexpr double kLiteralScale = double(kSide) * kSide / (double(kLiteralSide) * kLiteralSide);

// A gel-like 16-bit picture: an uneven background, lanes of Gaussian bands and noise.
const std::vector<int>& picture() {
    static const std::vector<int> pixels = [] {
        std::vector<int> p(static_cast<size_t>(kSide) * kSide);
        std::mt19937 gen(42);
        std::normal_distribution<double> noise(0, 150);
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                double v = 2000 + 1500 * std::sin(x * 0.0015) + 1000 * y / double(kSide);
                const int lane = x / 256;
                const double lx = x - (lane * 256 + 128);
                const double band = std::fmod(y + 37.0 * lane, 300.0) - 150;
                v += 40000 * std::exp(-lx * lx / (2 * 60.0 * 60.0) - band * band / (2 * 12.0 * 12.0));
                v += noise(gen);
                p[static_cast<size_t>(y) * kSide + x] = std::clamp(static_cast<int>(v), 0, 65535);
            }
        return p;
    }();
    return pixels;
}

std::unique_ptr<RasterImageGS16> rasterOf(int side) {
    std::unique_ptr<RasterImageGS16> r(new RasterImageGS16(side, side));
    const std::vector<int>& p = picture();
    for (int y = 0; y < side; ++y)
        std::memcpy(r->pixels + static_cast<size_t>(y) * side, p.data() + static_cast<size_t>(y) * kSide,
                    side * sizeof(int));
    return r;
}

cv::Mat matrixOf() {
    cv::Mat m(kSide, kSide, CV_16UC1);
    const std::vector<int>& p = picture();
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            m.at<unsigned short>(y, x) = static_cast<unsigned short>(p[size_t(y) * kSide + x]);
    return m;
}

void literalMinimum(const RasterImageGS16& src, RasterImageGS16& bg, int hw, int hh) {
    const int w = src.width, h = src.height;
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            int m = bg.maxPixelValue;
            for (int xx = std::max(0, x - hw); xx < std::min(x + hw, w - 1); ++xx)
                for (int yy = std::max(0, y - hh); yy < std::min(y + hh, h - 1); ++yy)
                    if (src.pixels[yy * w + xx] < m) m = src.pixels[yy * w + xx];
            bg.pixels[y * bg.width + x] = m;
        }
}

void literalAverage(RasterImageGS16& r, int radius) {
    const int w = r.width, h = r.height;
    RasterImageGS16 copy(&r);
    for (int x = radius; x < w - radius; ++x)
        for (int y = radius; y < h - radius; ++y) {
            double sum = 0;
            int n = 0;
            for (int yy = y - radius; yy < y + radius; ++yy) {
                const int* row = r.pixels + yy * w;
                for (int xx = x - radius; xx < x + radius; ++xx)
                    sum += row[xx], ++n;
            }
            copy.pixels[y * w + x] = static_cast<int>(sum / n);
        }
    for (int x = radius; x < w - radius; ++x)
        for (int y = radius; y < h - radius; ++y)
            r.pixels[y * w + x] = copy.pixels[y * w + x];
}

void BM_LiteralMinimum(benchmark::State& state) {
    const int half = static_cast<int>(state.range(0));
    auto src = rasterOf(kLiteralSide);
    RasterImageGS16 bg(kLiteralSide, kLiteralSide);
    for (auto _ : state) {
        literalMinimum(*src, bg, half, half);
        benchmark::DoNotOptimize(bg.pixels);
    }
}

void BM_Minimum(benchmark::State& state) {
    const int half = static_cast<int>(state.range(0));
    auto src = rasterOf(kSide);
    RasterImageGS16 bg(kSide, kSide);
    ImageProcessing ip;
    for (auto _ : state) {
        ip.generateBGViaMinFilter(src.get(), &bg, half, half);
        benchmark::DoNotOptimize(bg.pixels);
    }
}

void BM_CvErode(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    cv::Mat src = matrixOf(), dst;
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(size, size));
    for (auto _ : state) {
        cv::erode(src, dst, kernel);
        benchmark::DoNotOptimize(dst.data);
    }
}

void BM_LiteralAverage(benchmark::State& state) {
    const int radius = static_cast<int>(state.range(0));
    auto r = rasterOf(kLiteralSide);
    for (auto _ : state) {
        literalAverage(*r, radius);
        benchmark::DoNotOptimize(r->pixels);
    }
}

void BM_Average(benchmark::State& state) {
    const int radius = static_cast<int>(state.range(0));
    auto r = rasterOf(kSide);
    ImageProcessing ip;
    for (auto _ : state) {
        ip.smoothenViaAverageFilter(r.get(), radius);
        benchmark::DoNotOptimize(r->pixels);
    }
}

void BM_CvBlur(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    cv::Mat src = matrixOf(), dst;
    for (auto _ : state) {
        cv::blur(src, dst, cv::Size(size, size));
        benchmark::DoNotOptimize(dst.data);
    }
}

void BM_Memcpy(benchmark::State& state) {
    auto src = rasterOf(kSide);
    RasterImageGS16 dst(kSide, kSide);
    for (auto _ : state) {
        std::memcpy(dst.pixels, src->pixels, sizeof(int) * kSide * kSide);
        benchmark::DoNotOptimize(dst.pixels);
    }
}

// ---- Every core: the library and OpenCV at one thread and at all cores, in real time (the
// other threads' processor time does not show on the calling one). Threads 0 means all cores.

template <int Threads> void BM_MinimumThreads(benchmark::State& state) {
    const int half = static_cast<int>(state.range(0));
    auto src = rasterOf(kSide);
    RasterImageGS16 bg(kSide, kSide);
    ImageProcessing ip;
    rasterbench::LibraryThreads threads(Threads);
    for (auto _ : state) {
        ip.generateBGViaMinFilter(src.get(), &bg, half, half);
        benchmark::DoNotOptimize(bg.pixels);
    }
}

template <int Threads> void BM_AverageThreads(benchmark::State& state) {
    const int radius = static_cast<int>(state.range(0));
    auto r = rasterOf(kSide);
    ImageProcessing ip;
    rasterbench::LibraryThreads threads(Threads);
    for (auto _ : state) {
        ip.smoothenViaAverageFilter(r.get(), radius);
        benchmark::DoNotOptimize(r->pixels);
    }
}

// The background subtraction with its statistics: two rasters read, one written.
template <int Threads> void BM_SubtractThreads(benchmark::State& state) {
    auto r = rasterOf(kSide);
    RasterImageGS16 bg(kSide, kSide);
    ImageProcessing().generateBGViaMinFilter(r.get(), &bg, 25, 25);
    rasterbench::LibraryThreads threads(Threads);
    // Each round's raster is released while the next is made, outside the timing: freeing 64 MB
    // unmaps its pages, work of its own on one thread.
    std::unique_ptr<RasterImageGS16> work;
    for (auto _ : state) {
        state.PauseTiming();
        work = rasterOf(kSide);
        state.ResumeTiming();
        work->subtractImage(&bg);
        benchmark::DoNotOptimize(work->pixels);
    }
}

void BM_LiteralSubtract(benchmark::State& state) {
    auto r = rasterOf(kSide);
    RasterImageGS16 bg(kSide, kSide);
    ImageProcessing().generateBGViaMinFilter(r.get(), &bg, 25, 25);
    std::unique_ptr<RasterImageGS16> work;
    for (auto _ : state) {
        state.PauseTiming();
        work = rasterOf(kSide);
        state.ResumeTiming();
        double sum = 0;
        int lo = INT_MAX, hi = INT_MIN;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                int& p = work->pixels[static_cast<size_t>(y) * kSide + x];
                p = std::max(0, p - bg.pixels[static_cast<size_t>(y) * kSide + x]);
                sum += p;
                lo = std::min(lo, p);
                hi = std::max(hi, p);
            }
        benchmark::DoNotOptimize(sum + lo + hi);
    }
}

template <int Threads> void BM_CvErodeThreads(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    cv::Mat src = matrixOf(), dst;
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(size, size));
    cv::setNumThreads(Threads == 1 ? 1 : -1);
    for (auto _ : state) {
        cv::erode(src, dst, kernel);
        benchmark::DoNotOptimize(dst.data);
    }
    cv::setNumThreads(1);
}

template <int Threads> void BM_CvBlurThreads(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    cv::Mat src = matrixOf(), dst;
    cv::setNumThreads(Threads == 1 ? 1 : -1);
    for (auto _ : state) {
        cv::blur(src, dst, cv::Size(size, size));
        benchmark::DoNotOptimize(dst.data);
    }
    cv::setNumThreads(1);
}

template <int Threads> void BM_MemcpyThreads(benchmark::State& state) {
    auto src = rasterOf(kSide);
    RasterImageGS16 dst(kSide, kSide);
    for (auto _ : state) {
        rasterbench::memcpyOnThreads(dst.pixels, src->pixels, sizeof(int) * kSide * kSide, Threads);
        benchmark::DoNotOptimize(dst.pixels);
    }
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiteralMinimum)->Arg(25)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Minimum)->Arg(5)->Arg(25)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CvErode)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiteralAverage)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Average)->Arg(5)->Arg(10)->Arg(25)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CvBlur)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_MemcpyThreads, 1)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_MemcpyThreads, 0)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_MinimumThreads, 1)->Arg(25)->Arg(100)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_MinimumThreads, 0)->Arg(25)->Arg(100)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_CvErodeThreads, 1)->Arg(50)->Arg(200)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_CvErodeThreads, 0)->Arg(50)->Arg(200)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_AverageThreads, 1)->Arg(10)->Arg(100)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_AverageThreads, 0)->Arg(10)->Arg(100)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_CvBlurThreads, 1)->Arg(20)->Arg(200)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_CvBlurThreads, 0)->Arg(20)->Arg(200)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_SubtractThreads, 1)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK_TEMPLATE(BM_SubtractThreads, 0)->Apply(rasterbench::repeatKeepingFastest);
BENCHMARK(BM_LiteralSubtract)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

/// Keeps every run's processor time (ms per iteration) for the summary: on a shared machine
/// it tracks the work done better than the wall clock.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Of repeated runs the fastest is kept (see rasterbench::fastestOf).
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min") {
                ms[run.run_name.str()] = run.GetAdjustedRealTime();
                continue;
            }
            if (run.run_type != Run::RT_Iteration || run.repetitions > 1) continue;
            // Benchmarks on several threads are timed by the wall clock.
            const bool wall = run.benchmark_name().find("/real_time") != std::string::npos;
            const double seconds = (wall ? run.real_accumulated_time : run.cpu_accumulated_time) /
                                   static_cast<double>(run.iterations);
            ms[run.benchmark_name()] = seconds * 1e3;
        }
    }
};

void printSummary(const std::map<std::string, double>& ms) {
    auto get = [&](const std::string& name) {
        const auto it = ms.find(name);
        return it == ms.end() ? NAN : it->second;
    };
    const double literalMin = get("BM_LiteralMinimum/25/iterations:1") * kLiteralScale;
    const double literalAvg = get("BM_LiteralAverage/10/iterations:1") * kLiteralScale;
    const double erode = get("BM_CvErode/50"), blur = get("BM_CvBlur/20"), copy = get("BM_Memcpy");
    std::printf(
        "\n4096 x 4096, 16-bit values in ints, one thread (processor ms per run; literal loops scaled\n"
        "from 1024 x 1024)\n");
    std::printf("  memcpy of the raster            %10.2f\n", copy);
    std::printf("  moving minimum, literal (25)    %10.0f\n", literalMin);
    std::printf("  cv::erode 50x50                 %10.2f\n", erode);
    for (int half : {5, 25, 100}) {
        const double t = get("BM_Minimum/" + std::to_string(half));
        std::printf("  moving minimum, half %-3d        %10.2f   %7.0fx literal(25)  %5.2fx erode time  "
                    "%5.2fx memcpy\n",
                    half, t, literalMin / t, t / erode, t / copy);
    }
    std::printf("  moving average, literal (10)    %10.0f\n", literalAvg);
    std::printf("  cv::blur 20x20                  %10.2f\n", blur);
    for (int radius : {5, 10, 25, 100}) {
        const double t = get("BM_Average/" + std::to_string(radius));
        std::printf("  moving average, radius %-3d      %10.2f   %7.0fx literal(10)  %5.2fx blur time   "
                    "%5.2fx memcpy\n",
                    radius, t, literalAvg / t, t / blur, t / copy);
    }
    using rasterbench::ThreadRow;
    const std::string one = "/repeats:5/process_time/real_time", mOne = "BM_MemcpyThreads<1>" + one,
                      mAll = "BM_MemcpyThreads<0>" + one;
    rasterbench::printThreadTable(
        get,
        {
            ThreadRow{"min 25 / erode 50", "BM_MinimumThreads<1>/25" + one, "BM_MinimumThreads<0>/25" + one,
                      "BM_CvErodeThreads<1>/50" + one, "BM_CvErodeThreads<0>/50" + one,
                      "BM_LiteralMinimum/25/iterations:1", kLiteralScale, mOne, mAll},
            ThreadRow{"min 100 / erode 200", "BM_MinimumThreads<1>/100" + one,
                      "BM_MinimumThreads<0>/100" + one, "BM_CvErodeThreads<1>/200" + one,
                      "BM_CvErodeThreads<0>/200" + one, "", 1, mOne, mAll},
            ThreadRow{"avg 10 / blur 20", "BM_AverageThreads<1>/10" + one, "BM_AverageThreads<0>/10" + one,
                      "BM_CvBlurThreads<1>/20" + one, "BM_CvBlurThreads<0>/20" + one,
                      "BM_LiteralAverage/10/iterations:1", kLiteralScale, mOne, mAll},
            ThreadRow{"avg 100 / blur 200", "BM_AverageThreads<1>/100" + one,
                      "BM_AverageThreads<0>/100" + one, "BM_CvBlurThreads<1>/200" + one,
                      "BM_CvBlurThreads<0>/200" + one, "", 1, mOne, mAll},
            ThreadRow{"subtractImage", "BM_SubtractThreads<1>" + one, "BM_SubtractThreads<0>" + one, "", "",
                      "BM_LiteralSubtract/iterations:2/real_time", 1, mOne, mAll},
        });
}

} // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    kestro::setThreadCount(1); // the benchmarks of one thread; those of every core set their own
    rasterbench::initialiseWithWarmUp(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    printSummary(reporter.ms);
    return 0;
}
