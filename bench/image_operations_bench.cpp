// Image operations on a 4096 x 4096 FIT_UINT16 gel, one thread: the 16-bit tone tables beside a
// memcpy of the pixels, the median filter (bridge copies included) beside cv::medianBlur alone,
// flip and crop beside a memcpy of the same bytes. Each has its literal form beside it.
#include "image/DalvoImage.h"

#include "raster_bench_report.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kSize = 4096;
constexpr size_t kBytes = size_t(kSize) * kSize * 2;

/// A synthetic gel: a sloping background with noise and 20 lanes of bands.
const DalvoImage& gel() {
    static DalvoImage* image = [] {
        auto* img = new DalvoImage(FIT_UINT16, kSize, kSize, 16);
        std::uint64_t state = 12345;
        for (int line = 0; line < kSize; ++line) {
            auto* row = reinterpret_cast<std::uint16_t*>(img->getScanLine(line));
            for (int x = 0; x < kSize; ++x) {
                state = state * 6364136223846793005ULL + 1442695040888963407ULL;
                double v = 1500 + 0.2 * line + double(state >> 54);
                const int inLane = x % (kSize / 20);
                if (inLane > 20 && inLane < kSize / 20 - 20) {
                    const double band = std::fmod(line * (1.0 + (x / (kSize / 20)) * 0.05), 300.0) - 150;
                    v += 40000 * std::exp(-band * band / 200);
                }
                row[x] = static_cast<std::uint16_t>(std::min(v, 65535.0));
            }
        }
        return img;
    }();
    return *image;
}

/// A working copy of the gel whose history stays empty, so that repeated commands measure the
/// pixel work and not a growing string.
struct Work {
    DalvoImage image{gel()};
    void quiet() { image.SetHistoryRecording(0); }
};

// Benchmarks with arguments are templates: the summary files times by function name.
template <int Part> void BM_Memcpy(benchmark::State& state) {
    std::vector<std::uint16_t> from(kBytes / 2, 1), to(kBytes / 2, 2);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kBytes / Part);
        benchmark::ClobberMemory();
    }
}
BENCHMARK_TEMPLATE(BM_Memcpy, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Memcpy, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Tone tables ------------------------------------------------------------------------------

void BM_ContrastAve(benchmark::State& state) {
    Work w;
    for (auto _ : state) {
        w.quiet();
        benchmark::DoNotOptimize(w.image.ContrastAve(state.iterations() % 2 ? 10 : -10));
    }
}
BENCHMARK(BM_ContrastAve)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Intensity(benchmark::State& state) {
    Work w;
    for (auto _ : state) {
        w.quiet();
        benchmark::DoNotOptimize(w.image.Intensity(state.iterations() % 2 ? 10 : -10));
    }
}
BENCHMARK(BM_Intensity)->Unit(benchmark::kMillisecond)->UseRealTime();

std::vector<unsigned short> reverseTable() {
    std::vector<unsigned short> table(65536);
    for (int v = 0; v < 65536; ++v)
        table[v] = static_cast<unsigned short>(65535 - v);
    return table;
}

void BM_Apply16BitLUT(benchmark::State& state) {
    Work w;
    std::vector<unsigned short> table = reverseTable();
    for (auto _ : state)
        benchmark::DoNotOptimize(w.image.apply16BitLUT(table.data()));
}
BENCHMARK(BM_Apply16BitLUT)->Unit(benchmark::kMillisecond)->UseRealTime();

// The literal algorithm: every pixel of every scan line through FreeImage's pixel access.
void BM_Apply16BitLUT_Literal(benchmark::State& state) {
    Work w;
    std::vector<unsigned short> table = reverseTable();
    for (auto _ : state) {
        for (unsigned y = 0; y < w.image.getHeight(); ++y)
            for (unsigned x = 0; x < w.image.getWidth(); ++x) {
                WORD* pixel = reinterpret_cast<WORD*>(w.image.getScanLine(y)) + x;
                *pixel = table[*pixel];
            }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Apply16BitLUT_Literal)->Unit(benchmark::kMillisecond)->UseRealTime();

// OpenCV has no 16-bit table lookup; its nearest linear stretch is convertTo with scale and offset.
void BM_ConvertTo_OpenCV(benchmark::State& state) {
    cv::Mat m(kSize, kSize, CV_16UC1, cv::Scalar(1000));
    for (auto _ : state)
        m.convertTo(m, CV_16U, state.iterations() % 2 ? 1.1 : 0.9, 100);
}
BENCHMARK(BM_ConvertTo_OpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Median -----------------------------------------------------------------------------------

template <int Size> void BM_Median(benchmark::State& state) {
    Work w;
    for (auto _ : state) {
        w.quiet();
        benchmark::DoNotOptimize(w.image.Median(Size));
    }
}
BENCHMARK_TEMPLATE(BM_Median, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Median, 5)->Unit(benchmark::kMillisecond)->UseRealTime();

// The literal algorithm: copy to a matrix, clone it, filter, copy back into a new bitmap.
template <int Size> void BM_Median_Literal(benchmark::State& state) {
    Work w;
    for (auto _ : state) {
        cv::Mat source;
        w.image.copytoOpenCV(source);
        cv::Mat destination = source.clone();
        cv::medianBlur(source, destination, Size);
        w.image.copyFromOpenCV(destination);
    }
}
BENCHMARK_TEMPLATE(BM_Median_Literal, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Median_Literal, 5)->Unit(benchmark::kMillisecond)->UseRealTime();

template <int Size> void BM_MedianBlur_OpenCV(benchmark::State& state) {
    cv::Mat source, destination(kSize, kSize, CV_16UC1);
    gel().copytoOpenCV(source);
    for (auto _ : state)
        cv::medianBlur(source, destination, Size);
}
BENCHMARK_TEMPLATE(BM_MedianBlur_OpenCV, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_MedianBlur_OpenCV, 5)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Geometry ---------------------------------------------------------------------------------

void BM_FlipVertical(benchmark::State& state) {
    Work w;
    for (auto _ : state) {
        w.quiet();
        benchmark::DoNotOptimize(w.image.flipVertical());
    }
}
BENCHMARK(BM_FlipVertical)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Flip_OpenCV(benchmark::State& state) {
    cv::Mat source, destination(kSize, kSize, CV_16UC1);
    gel().copytoOpenCV(source);
    for (auto _ : state)
        cv::flip(source, destination, 0);
}
BENCHMARK(BM_Flip_OpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();

// Crop of the top half; each round starts from a whole image, made outside the timing.
void BM_CropHalf(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Work w;
        w.quiet();
        state.ResumeTiming();
        benchmark::DoNotOptimize(w.image.crop(CRect(0, 0, kSize, kSize / 2)));
        state.PauseTiming();
        w.image.clear();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CropHalf)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same bytes into memory never touched before: what any new bitmap costs first.
void BM_MemcpyFresh(benchmark::State& state) {
    const std::vector<std::uint16_t> from(kBytes / 4, 1);
    for (auto _ : state) {
        void* to = std::malloc(kBytes / 2);
        std::memcpy(to, from.data(), kBytes / 2);
        benchmark::DoNotOptimize(to);
        std::free(to);
    }
}
BENCHMARK(BM_MemcpyFresh)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Every core: ours at 1 thread and all cores beside OpenCV at 1 thread and its default and
// memcpy at 1 thread and all cores. Threads 0 means all cores.

template <int Threads> void BM_MemcpyThreads(benchmark::State& state) {
    std::vector<std::uint16_t> from(kBytes / 2, 1), to(kBytes / 2, 2);
    for (auto _ : state) {
        rasterbench::memcpyOnThreads(to.data(), from.data(), kBytes, Threads);
        benchmark::ClobberMemory();
    }
}

template <int Threads> void BM_ContrastAveThreads(benchmark::State& state) {
    Work w;
    rasterbench::LibraryThreads threads(Threads);
    for (auto _ : state) {
        w.quiet();
        benchmark::DoNotOptimize(w.image.ContrastAve(state.iterations() % 2 ? 10 : -10));
    }
}

template <int Threads> void BM_Apply16BitLUTThreads(benchmark::State& state) {
    Work w;
    std::vector<unsigned short> table = reverseTable();
    rasterbench::LibraryThreads threads(Threads);
    for (auto _ : state)
        benchmark::DoNotOptimize(w.image.apply16BitLUT(table.data()));
}

template <int Threads> void BM_ConvertToThreads(benchmark::State& state) {
    cv::Mat m(kSize, kSize, CV_16UC1, cv::Scalar(1000));
    cv::setNumThreads(Threads == 1 ? 1 : -1);
    for (auto _ : state)
        m.convertTo(m, CV_16U, state.iterations() % 2 ? 1.1 : 0.9, 100);
    cv::setNumThreads(0);
}

template <int Threads> void BM_Median3Threads(benchmark::State& state) {
    Work w;
    rasterbench::LibraryThreads threads(Threads);
    for (auto _ : state) {
        w.quiet();
        benchmark::DoNotOptimize(w.image.Median(3));
    }
}

template <int Threads> void BM_MedianBlur3Threads(benchmark::State& state) {
    cv::Mat source, destination(kSize, kSize, CV_16UC1);
    gel().copytoOpenCV(source);
    cv::setNumThreads(Threads == 1 ? 1 : -1);
    for (auto _ : state)
        cv::medianBlur(source, destination, 3);
    cv::setNumThreads(0);
}

#define KESTRO_EVERY_CORE(name)                                                                              \
    BENCHMARK_TEMPLATE(name, 1)->Apply(rasterbench::repeatKeepingFastest);                                   \
    BENCHMARK_TEMPLATE(name, 0)->Apply(rasterbench::repeatKeepingFastest);
KESTRO_EVERY_CORE(BM_MemcpyThreads)
KESTRO_EVERY_CORE(BM_ContrastAveThreads)
KESTRO_EVERY_CORE(BM_Apply16BitLUTThreads)
KESTRO_EVERY_CORE(BM_ConvertToThreads)
KESTRO_EVERY_CORE(BM_Median3Threads)
KESTRO_EVERY_CORE(BM_MedianBlur3Threads)

} // namespace

int main(int argc, char** argv) {
    using rasterbench::Comparison;
    cv::setNumThreads(0); // one thread, as the library runs on the host's user-interface thread
    kestro::setThreadCount(1);
    using rasterbench::ThreadRow;
    const std::string m1 = "BM_MemcpyThreads<1>", mAll = "BM_MemcpyThreads<0>";
    return rasterbench::runAndSummarise(
        argc, argv,
        {
            Comparison{"ContrastAve", "BM_ContrastAve", {{"memcpy", "BM_Memcpy<1>"}}, "<= 5x memcpy"},
            Comparison{"Intensity", "BM_Intensity", {{"memcpy", "BM_Memcpy<1>"}}, "<= 5x memcpy"},
            Comparison{"apply16BitLUT",
                       "BM_Apply16BitLUT",
                       {{"memcpy", "BM_Memcpy<1>"},
                        {"literal", "BM_Apply16BitLUT_Literal"},
                        {"convertTo", "BM_ConvertTo_OpenCV"}},
                       "<= 5x memcpy"},
            Comparison{"Median(3)",
                       "BM_Median<3>",
                       {{"medianBlur", "BM_MedianBlur_OpenCV<3>"}, {"literal", "BM_Median_Literal<3>"}},
                       "<= 1.5x medianBlur"},
            Comparison{"Median(5)",
                       "BM_Median<5>",
                       {{"medianBlur", "BM_MedianBlur_OpenCV<5>"}, {"literal", "BM_Median_Literal<5>"}},
                       "<= 1.5x medianBlur"},
            Comparison{"flipVertical",
                       "BM_FlipVertical",
                       {{"memcpy", "BM_Memcpy<1>"}, {"cv::flip", "BM_Flip_OpenCV"}},
                       "beside memcpy"},
            Comparison{"crop half",
                       "BM_CropHalf",
                       {{"memcpy", "BM_Memcpy<2>"}, {"memcpy fresh", "BM_MemcpyFresh"}},
                       "beside memcpy"},
        },
        {
            ThreadRow{"ContrastAve", "BM_ContrastAveThreads<1>", "BM_ContrastAveThreads<0>", "", "", "", 1,
                      m1, mAll},
            ThreadRow{"apply16BitLUT / convertTo", "BM_Apply16BitLUTThreads<1>", "BM_Apply16BitLUTThreads<0>",
                      "BM_ConvertToThreads<1>", "BM_ConvertToThreads<0>", "BM_Apply16BitLUT_Literal", 1, m1,
                      mAll},
            ThreadRow{"Median(3) / medianBlur", "BM_Median3Threads<1>", "BM_Median3Threads<0>",
                      "BM_MedianBlur3Threads<1>", "BM_MedianBlur3Threads<0>", "BM_Median_Literal<3>", 1, m1,
                      mAll},
        });
}
