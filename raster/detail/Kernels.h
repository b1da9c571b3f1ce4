// Pixel loops shared by the rasters and the analysis filters, each built once for the baseline of
// the target and, on x86-64, once more for AVX2; not part of the interface.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

// KESTRO_PORTABLE_ONLY (the CMake option KESTRO_PORTABLE) builds the baseline alone.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(KESTRO_PORTABLE_ONLY)
#define KESTRO_AVX2_BUILDS 1
#define KESTRO_AVX2 __attribute__((target("avx2")))
#else
#define KESTRO_AVX2_BUILDS 0
#endif
#define KESTRO_ALWAYS_INLINE inline __attribute__((always_inline))

/// Defines `ret name params`, running the expression `body` (which reads the parameters) from a
/// build for AVX2 where kestro::detail::wideVectors() allows it and from the baseline build
/// otherwise. `args` names the parameters for the forwarding calls. The body is an always-inline
/// function; both builds do the same arithmetic (AVX2 brings no fused multiply-add), so they give
/// the same results.
#if KESTRO_AVX2_BUILDS
#define KESTRO_KERNEL(ret, name, params, args, body)                                                         \
    namespace {                                                                                              \
    ret name##Baseline params {                                                                              \
        return body;                                                                                         \
    }                                                                                                        \
    KESTRO_AVX2 ret name##Avx2 params {                                                                      \
        return body;                                                                                         \
    }                                                                                                        \
    }                                                                                                        \
    ret name params {                                                                                        \
        return ::kestro::detail::wideVectors() ? name##Avx2 args : name##Baseline args;                      \
    }
#else
#define KESTRO_KERNEL(ret, name, params, args, body)                                                         \
    ret name params {                                                                                        \
        return body;                                                                                         \
    }
#endif

namespace kestro {
namespace detail {

/// Whether the AVX2 builds run: the processor has AVX2 and the environment variable
/// KESTRO_PORTABLE is unset, empty or "0". Decided once per process.
bool wideVectors();

/// Smallest, largest and 64-bit sum of a run of pixels; merge() adds the figures of another run.
struct PixelStats {
    int min = INT_MAX;
    int max = INT_MIN;
    std::int64_t sum = 0;

    void merge(int lo, int hi, std::int64_t s) {
        min = lo < min ? lo : min;
        max = hi > max ? hi : max;
        sum += s;
    }
};

/// dst[i] = src[i] for n samples, their figures merged into stats.
void widenRow(const std::uint8_t* src, int* dst, std::size_t n, PixelStats& stats);
void widenRow(const std::uint16_t* src, int* dst, std::size_t n, PixelStats& stats);
/// One row of the 3 x 3 median: out[i] is the median of the samples at i - step, i and i + step
/// of the rows above, here and below, a neighbour beyond either end of the row taken as the end
/// sample itself (as cv::medianBlur replicates the border). n samples a row; step is the
/// samples per pixel; out may be none of the inputs; lo, mid and hi are n samples of scratch.
void median3Row(const std::uint8_t* above, const std::uint8_t* here, const std::uint8_t* below,
                std::uint8_t* out, std::size_t n, std::size_t step, std::uint8_t* lo, std::uint8_t* mid,
                std::uint8_t* hi);
void median3Row(const std::uint16_t* above, const std::uint16_t* here, const std::uint16_t* below,
                std::uint16_t* out, std::size_t n, std::size_t step, std::uint16_t* lo, std::uint16_t* mid,
                std::uint16_t* hi);
void median3Row(const std::int16_t* above, const std::int16_t* here, const std::int16_t* below,
                std::int16_t* out, std::size_t n, std::size_t step, std::int16_t* lo, std::int16_t* mid,
                std::int16_t* hi);
/// The figures of n ints merged into stats.
void gatherStats(const int* values, std::size_t n, PixelStats& stats);
/// dst[i] = max(0, dst[i] - other[i]), the difference saturated at INT_MAX; figures of the
/// results merged into stats. other may be dst itself.
void subtractRow(int* dst, const int* other, std::size_t n, PixelStats& stats);
/// Smallest and largest of n ints (INT_MAX and INT_MIN when n is 0).
void valueRange(const int* values, std::size_t n, int& lowest, int& highest);

} // namespace detail
} // namespace kestro
