// Grayscale raster on a 4096 x 4096 FIT_UINT16 gel: our code beside a memcpy of the int array,
// the literal loop and OpenCV's nearest routine.
#include "image/DalvoImage.h"
#include "raster/RasterImageGS16.h"

#include "raster_bench_report.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kSize = 4096;

/// A synthetic gel: a sloping background with noise, 20 lanes of bands, a few saturated spots.
DalvoImage& gel() {
    static DalvoImage* image = [] {
        auto* img = new DalvoImage(FIT_UINT16, kSize, kSize, 16);
        std::uint64_t state = 12345;
        for (int line = 0; line < kSize; ++line) {
            auto* row = reinterpret_cast<std::uint16_t*>(img->getScanLine(line));
            for (int x = 0; x < kSize; ++x) {
                state = state * 6364136223846793005ULL + 1442695040888963407ULL;
                double v = 1500 + 0.2 * line + double(state >> 54);
                const int lane = x / (kSize / 20), inLane = x % (kSize / 20);
                if (inLane > 20 && inLane < kSize / 20 - 20) {
                    const double band = std::fmod(line * (1.0 + lane * 0.05), 300.0) - 150;
                    v += 40000 * std::exp(-band * band / 200);
                }
                row[x] = static_cast<std::uint16_t>(std::min(v, 65535.0));
            }
        }
        return img;
    }();
    return *image;
}

RasterImageGS16& raster() {
    static RasterImageGS16 r(&gel());
    return r;
}

const size_t kCount = size_t(kSize) * kSize;

void BM_Memcpy(benchmark::State& state) {
    const RasterImageGS16& r = raster();
    std::vector<int> buffer(kCount, 1);
    for (auto _ : state) {
        std::memcpy(buffer.data(), r.pixels, kCount * sizeof(int));
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();

// Building: allocation, flip and widen, statistics.
void BM_Build_Ours(benchmark::State& state) {
    for (auto _ : state) {
        RasterImageGS16 r(&gel());
        benchmark::DoNotOptimize(r.pixels);
    }
}
BENCHMARK(BM_Build_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Build_Literal(benchmark::State& state) {
    FIBITMAP* dib = gel();
    for (auto _ : state) {
        int* pixels = new int[kCount];
        int lo = INT_MAX, hi = INT_MIN;
        double sum = 0;
        for (int y = 0; y < kSize; ++y) {
            const WORD* line = reinterpret_cast<const WORD*>(FreeImage_GetScanLine(dib, kSize - 1 - y));
            for (int x = 0; x < kSize; ++x)
                pixels[kSize * y + x] = line[x];
        }
        for (size_t i = 0; i < kCount; ++i) {
            lo = std::min(lo, pixels[i]), hi = std::max(hi, pixels[i]);
            sum += pixels[i];
        }
        benchmark::DoNotOptimize(sum / kCount);
        benchmark::DoNotOptimize(lo + hi);
        benchmark::DoNotOptimize(pixels);
        delete[] pixels;
    }
}
BENCHMARK(BM_Build_Literal)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Build_OpenCV(benchmark::State& state) {
    FIBITMAP* dib = gel();
    const cv::Mat source(kSize, kSize, CV_16UC1, FreeImage_GetBits(dib), FreeImage_GetPitch(dib));
    for (auto _ : state) {
        cv::Mat widened; // allocation included, as for ours
        source.convertTo(widened, CV_32S);
        benchmark::DoNotOptimize(widened.data);
    }
}
BENCHMARK(BM_Build_OpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();

// Histogram.
void BM_Histogram_Ours(benchmark::State& state) {
    CIntDataArray histogram;
    raster().getHistogram(&histogram);
    for (auto _ : state) {
        raster().getHistogram(&histogram);
        benchmark::DoNotOptimize(histogram.GetData());
    }
}
BENCHMARK(BM_Histogram_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Histogram_PlainLoop(benchmark::State& state) {
    const int* pixels = raster().pixels;
    std::vector<int> bins(65536);
    for (auto _ : state) {
        std::fill(bins.begin(), bins.end(), 0);
        for (size_t i = 0; i < kCount; ++i)
            ++bins[pixels[i]];
        benchmark::DoNotOptimize(bins.data());
    }
}
BENCHMARK(BM_Histogram_PlainLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Histogram_LiteralChecked(benchmark::State& state) {
    const RasterImageGS16& r = raster();
    CIntDataArray bins;
    for (auto _ : state) {
        bins.RemoveAll();
        for (int i = 0; i <= r.maxPixelValue; ++i)
            bins.Add(0);
        for (size_t i = 0; i < kCount; ++i)
            bins[r.pixels[i]] += 1;
        benchmark::DoNotOptimize(bins.GetData());
    }
}
BENCHMARK(BM_Histogram_LiteralChecked)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Histogram_OpenCV(benchmark::State& state) {
    FIBITMAP* dib = gel();
    const cv::Mat source(kSize, kSize, CV_16UC1, FreeImage_GetBits(dib), FreeImage_GetPitch(dib));
    const int channels[] = {0}, sizes[] = {65536};
    const float range[] = {0, 65536};
    const float* ranges[] = {range};
    cv::Mat hist;
    for (auto _ : state) {
        cv::calcHist(&source, 1, channels, cv::Mat(), hist, 1, sizes, ranges);
        benchmark::DoNotOptimize(hist.data);
    }
}
BENCHMARK(BM_Histogram_OpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same gel at 8 bits (256 bins), where neighbours repeat far more often.
RasterImageGS16& raster8() {
    static RasterImageGS16 r = [] {
        RasterImageGS16 g(raster());
        for (size_t i = 0; i < kCount; ++i)
            g.pixels[i] >>= 8;
        g.bpp = 8;
        g.maxPixelValue = 255;
        return g;
    }();
    return r;
}

void BM_Histogram8_Ours(benchmark::State& state) {
    CIntDataArray histogram;
    raster8().getHistogram(&histogram);
    for (auto _ : state) {
        raster8().getHistogram(&histogram);
        benchmark::DoNotOptimize(histogram.GetData());
    }
}
BENCHMARK(BM_Histogram8_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Histogram8_PlainLoop(benchmark::State& state) {
    const int* pixels = raster8().pixels;
    std::vector<int> bins(256);
    for (auto _ : state) {
        std::fill(bins.begin(), bins.end(), 0);
        for (size_t i = 0; i < kCount; ++i)
            ++bins[pixels[i]];
        benchmark::DoNotOptimize(bins.data());
    }
}
BENCHMARK(BM_Histogram8_PlainLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

// Statistics.
void BM_Statistics_Ours(benchmark::State& state) {
    for (auto _ : state) {
        raster().calculateStatistics();
        benchmark::DoNotOptimize(raster().mean);
    }
}
BENCHMARK(BM_Statistics_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Statistics_Literal(benchmark::State& state) {
    const int* pixels = raster().pixels;
    for (auto _ : state) {
        int lo = INT_MAX, hi = INT_MIN;
        double sum = 0;
        for (size_t i = 0; i < kCount; ++i) {
            lo = std::min(lo, pixels[i]), hi = std::max(hi, pixels[i]);
            sum += pixels[i];
        }
        benchmark::DoNotOptimize(sum / kCount);
        benchmark::DoNotOptimize(lo + hi);
    }
}
BENCHMARK(BM_Statistics_Literal)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Statistics_OpenCV(benchmark::State& state) {
    const cv::Mat m(kSize, kSize, CV_32SC1, raster().pixels);
    for (auto _ : state) {
        double lo, hi;
        cv::minMaxLoc(m, &lo, &hi);
        cv::Scalar mean = cv::mean(m);
        benchmark::DoNotOptimize(lo + hi + mean[0]);
    }
}
BENCHMARK(BM_Statistics_OpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();

// Subtraction of a background (values 0..1023); timing does not depend on the values.
RasterImageGS16& background() {
    static RasterImageGS16 b = [] {
        RasterImageGS16 r(kSize, kSize);
        for (size_t i = 0; i < kCount; ++i)
            r.pixels[i] = static_cast<int>((i * 2654435761u) >> 22) & 1023;
        return r;
    }();
    return b;
}

void BM_Subtract_Ours(benchmark::State& state) {
    RasterImageGS16 target(raster());
    for (auto _ : state) {
        target.subtractImage(&background());
        benchmark::DoNotOptimize(target.mean);
    }
}
BENCHMARK(BM_Subtract_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Subtract_Literal(benchmark::State& state) {
    RasterImageGS16 target(raster());
    const int* other = background().pixels;
    for (auto _ : state) {
        int* p = target.pixels;
        for (size_t i = 0; i < kCount; ++i)
            p[i] = std::max(0, p[i] - other[i]);
        int lo = INT_MAX, hi = INT_MIN;
        double sum = 0;
        for (size_t i = 0; i < kCount; ++i) {
            lo = std::min(lo, p[i]), hi = std::max(hi, p[i]);
            sum += p[i];
        }
        benchmark::DoNotOptimize(sum + lo + hi);
    }
}
BENCHMARK(BM_Subtract_Literal)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Subtract_OpenCV(benchmark::State& state) {
    RasterImageGS16 target(raster());
    const cv::Mat a(kSize, kSize, CV_32SC1, target.pixels), b(kSize, kSize, CV_32SC1, background().pixels);
    cv::Mat out = a.clone(); // in place, like ours (no clamping at 0)
    for (auto _ : state) {
        cv::subtract(out, b, out);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_Subtract_OpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();

// copyTo into a reused array.
void BM_CopyTo_Ours(benchmark::State& state) {
    CIntDataArray values;
    raster().copyTo(&values); // a reused array, its pages touched, like the memcpy's buffer
    for (auto _ : state) {
        raster().copyTo(&values);
        benchmark::DoNotOptimize(values.GetData());
    }
}
BENCHMARK(BM_CopyTo_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyTo_Literal(benchmark::State& state) {
    const RasterImageGS16& r = raster();
    CIntDataArray values;
    for (auto _ : state) {
        values.RemoveAll();
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x)
                values.Add(r.pixels[r.width * y + x]);
        benchmark::DoNotOptimize(values.GetData());
    }
}
BENCHMARK(BM_CopyTo_Literal)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyTo_OpenCV(benchmark::State& state) {
    const cv::Mat m(kSize, kSize, CV_32SC1, raster().pixels);
    cv::Mat out;
    m.copyTo(out);
    for (auto _ : state) {
        m.copyTo(out);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_CopyTo_OpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    using rasterbench::Comparison;
    return rasterbench::runAndSummarise(
        argc, argv,
        {
            Comparison{
                "build raster",
                "BM_Build_Ours",
                {{"memcpy", "BM_Memcpy"}, {"literal", "BM_Build_Literal"}, {"convertTo", "BM_Build_OpenCV"}},
                "<= 8x memcpy"},
            Comparison{"getHistogram",
                       "BM_Histogram_Ours",
                       {{"memcpy", "BM_Memcpy"},
                        {"plain loop", "BM_Histogram_PlainLoop"},
                        {"literal checked", "BM_Histogram_LiteralChecked"},
                        {"calcHist", "BM_Histogram_OpenCV"}},
                       "<= 1x plain loop, <= 0.5x calcHist"},
            Comparison{"getHistogram 8-bit",
                       "BM_Histogram8_Ours",
                       {{"plain loop", "BM_Histogram8_PlainLoop"}},
                       "<= 1x plain loop"},
            Comparison{"calculateStatistics",
                       "BM_Statistics_Ours",
                       {{"memcpy", "BM_Memcpy"},
                        {"literal", "BM_Statistics_Literal"},
                        {"minMaxLoc+mean", "BM_Statistics_OpenCV"}},
                       "<= 3x memcpy"},
            Comparison{"subtractImage",
                       "BM_Subtract_Ours",
                       {{"memcpy", "BM_Memcpy"},
                        {"literal", "BM_Subtract_Literal"},
                        {"cv::subtract", "BM_Subtract_OpenCV"}},
                       "<= 3x memcpy"},
            Comparison{"copyTo",
                       "BM_CopyTo_Ours",
                       {{"memcpy", "BM_Memcpy"},
                        {"literal", "BM_CopyTo_Literal"},
                        {"Mat::copyTo", "BM_CopyTo_OpenCV"}},
                       "printed only"},
        });
}
