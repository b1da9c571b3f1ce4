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

} // namespace detail
} // namespace kestro
