// The shared pixel loops: plain C++ that the compiler vectorises, built twice on x86-64 (AVX2
// more than halves their time there) and once elsewhere.
#include "raster/detail/Kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace kestro {
namespace detail {

bool wideVectors() {
    static const bool wide = [] {
        const char* portable = std::getenv("KESTRO_PORTABLE");
        if (portable && *portable && std::strcmp(portable, "0") != 0) return false;
#if KESTRO_AVX2_BUILDS
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
#else
        return false;
#endif
    }();
    return wide;
}

namespace {

// Chunks short enough that a 32-bit sum of 16-bit samples cannot overflow.
constexpr std::size_t kChunk = 65536;

template <class Sample>
KESTRO_ALWAYS_INLINE void widenChunk(const Sample* __restrict src, int* __restrict dst, std::size_t n,
                                     PixelStats& stats) {
    Sample lo = std::numeric_limits<Sample>::max(), hi = 0;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Sample v = src[i];
        dst[i] = v;
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
    }
    stats.merge(lo, hi, sum);
}

template <class Sample>
KESTRO_ALWAYS_INLINE void widenBody(const Sample* src, int* dst, std::size_t n, PixelStats& stats) {
    for (std::size_t start = 0; start < n; start += kChunk)
        widenChunk(src + start, dst + start, std::min(kChunk, n - start), stats);
}

KESTRO_ALWAYS_INLINE void statsBody(const int* p, std::size_t n, PixelStats& stats) {
    int lo = INT_MAX, hi = INT_MIN;
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int v = p[i];
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
    }
    stats.merge(lo, hi, sum);
}

KESTRO_ALWAYS_INLINE void subtractBody(int* dst, const int* other, std::size_t n, PixelStats& stats) {
    int lo = INT_MAX, hi = INT_MIN;
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int a = dst[i], b = other[i];
        // For a > b the true difference lies in 1..2^32-1 and is exact as unsigned.
        const std::uint32_t diff = static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b);
        const std::uint32_t pos = diff > 0x7FFFFFFFu ? 0x7FFFFFFFu : diff;
        const int v = a > b ? static_cast<int>(pos) : 0;
        dst[i] = v;
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
    }
    stats.merge(lo, hi, sum);
}

KESTRO_ALWAYS_INLINE void rangeBody(const int* values, std::size_t n, int& lowest, int& highest) {
    int lo = INT_MAX, hi = INT_MIN;
    for (std::size_t i = 0; i < n; ++i) {
        lo = values[i] < lo ? values[i] : lo;
        hi = values[i] > hi ? values[i] : hi;
    }
    lowest = lo;
    highest = hi;
}

// The median of nine as the median of three figures of the sorted columns: the largest of the
// column minima, the median of the column medians and the smallest of the column maxima. Each
// column is sorted once for the three pixels that share it.
template <class T> KESTRO_ALWAYS_INLINE T median3Of(T a, T b, T c) {
    const T low = a < b ? a : b, high = a < b ? b : a;
    const T top = high < c ? high : c;
    return low > top ? low : top;
}

template <class T>
KESTRO_ALWAYS_INLINE T median3At(const T* lo, const T* mid, const T* hi, std::size_t left, std::size_t i,
                                 std::size_t right) {
    const T l01 = lo[left] > lo[i] ? lo[left] : lo[i], h01 = hi[left] < hi[i] ? hi[left] : hi[i];
    const T l = l01 > lo[right] ? l01 : lo[right], h = h01 < hi[right] ? h01 : hi[right];
    return median3Of(l, median3Of(mid[left], mid[i], mid[right]), h);
}

template <class T>
KESTRO_ALWAYS_INLINE void
median3Body(const T* __restrict above, const T* __restrict here, const T* __restrict below, T* __restrict out,
            std::size_t n, std::size_t step, T* __restrict lo, T* __restrict mid, T* __restrict hi) {
    for (std::size_t i = 0; i < n; ++i) {
        const T a = above[i], b = here[i], c = below[i];
        const T low = a < b ? a : b, high = a < b ? b : a;
        const T least = low < c ? low : c, other = low < c ? c : low;
        lo[i] = least;
        mid[i] = other < high ? other : high;
        hi[i] = other < high ? high : other;
    }
    // Pixels at either end take themselves for the missing neighbour.
    const std::size_t first = std::min(step, n), inner = n > 2 * step ? n - step : first;
    for (std::size_t i = first; i < inner; ++i)
        out[i] = median3At(lo, mid, hi, i - step, i, i + step);
    for (std::size_t i = 0; i < first; ++i)
        out[i] = median3At(lo, mid, hi, i, i, i + step < n ? i + step : i);
    for (std::size_t i = inner; i < n; ++i)
        out[i] = median3At(lo, mid, hi, i >= step ? i - step : i, i, i);
}

} // namespace

KESTRO_KERNEL(void, widenRow, (const std::uint8_t* src, int* dst, std::size_t n, PixelStats& stats),
              (src, dst, n, stats), widenBody(src, dst, n, stats))
KESTRO_KERNEL(void, widenRow, (const std::uint16_t* src, int* dst, std::size_t n, PixelStats& stats),
              (src, dst, n, stats), widenBody(src, dst, n, stats))
KESTRO_KERNEL(void, gatherStats, (const int* values, std::size_t n, PixelStats& stats), (values, n, stats),
              statsBody(values, n, stats))
KESTRO_KERNEL(void, subtractRow, (int* dst, const int* other, std::size_t n, PixelStats& stats),
              (dst, other, n, stats), subtractBody(dst, other, n, stats))
KESTRO_KERNEL(void, valueRange, (const int* values, std::size_t n, int& lowest, int& highest),
              (values, n, lowest, highest), rangeBody(values, n, lowest, highest))
#define KESTRO_MEDIAN3(T)                                                                                    \
    KESTRO_KERNEL(void, median3Row,                                                                          \
                  (const T* above, const T* here, const T* below, T* out, std::size_t n, std::size_t step,   \
                   T* lo, T* mid, T* hi),                                                                    \
                  (above, here, below, out, n, step, lo, mid, hi),                                           \
                  median3Body(above, here, below, out, n, step, lo, mid, hi))
KESTRO_MEDIAN3(std::uint8_t)
KESTRO_MEDIAN3(std::uint16_t)
KESTRO_MEDIAN3(std::int16_t)
#undef KESTRO_MEDIAN3

} // namespace detail
} // namespace kestro
