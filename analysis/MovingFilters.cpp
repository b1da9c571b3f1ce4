// Moving minimum and moving average with a cost per pixel that does not depend on the window.
//
// Both filters are separable. Each runs a one-dimensional pass down the rows (whole rows at a
// time, so the inner loops are contiguous and vectorise), then the same kind of pass along the
// rows on bands of K rows transposed into a small buffer, where each "row" of the pass is one
// column of the band: K lanes side by side, again contiguous.
//
//     band of K raster rows            transposed band T (one line per column x)
//     r0: a0 a1 a2 a3 ...              x=0: a0 b0 c0 ...   <- K lanes
//     r1: b0 b1 b2 b3 ...      --->    x=1: a1 b1 c1 ...
//     r2: c0 c1 c2 c3 ...              x=2: a2 b2 c2 ...
//
// The hot functions are built twice on x86-64, for AVX2 and for the baseline, and one is picked
// once at run time (KESTRO_PORTABLE=1 forces the baseline); results are the same integers either
// way. Elsewhere the baseline alone is built.
#include "analysis/detail/MovingFilters.h"

#include "platform/framework/Exceptions.h"
#include "raster/detail/Kernels.h"
#include "raster/detail/Parallel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kestro {
namespace detail {
namespace {

// Lanes of a transposed band: one 8-int vector.
constexpr int kLanes = 8;

template <class T> std::vector<T> allocateBuffer(std::size_t count) {
    return AfxGuardAllocation([&] { return std::vector<T>(count); });
}

/// Working memory of every band of a call, taken by the calling thread before any band writes
/// (so that running out of memory leaves the rasters as they were) and kept by it for its next
/// call, grown as needed; contents are left as they were. Fresh for every call, its pages would
/// fault in again each time, and freed by the pool's threads they would go back to the system
/// after every band (glibc trims the heaps of threads other than the first): either cost more
/// than a small filter.
int* callBuffer(int slot, std::size_t count) {
    thread_local std::vector<int> buffers[2];
    std::vector<int>& buffer = buffers[slot];
    if (buffer.size() < count) {
        buffer = std::vector<int>();
        buffer = allocateBuffer<int>(count);
    }
    return buffer.data();
}

/// Whole cache lines of ints, so that no two buffers, and no two bands, share one.
std::size_t lines(std::size_t ints) {
    return (ints + 15) / 16 * 16;
}

/// Ints of working memory a band of the moving minimum needs, and of the moving average.
std::size_t minimumScratch(std::size_t width) {
    return lines(width - 1) + lines((width - 1) * 8) + lines(width * 8);
}
std::size_t averageScratch(std::size_t width, long radius) {
    return lines(static_cast<std::size_t>(2 * radius) * width) + 3 * lines(width * 8) + lines(width);
}

// Portable vectors: the compiler maps them onto whatever the target offers (one AVX2 register,
// two SSE2 or two NEON registers in the baseline builds).
typedef int v8si __attribute__((vector_size(32)));
typedef int v4si __attribute__((vector_size(16)));
typedef double v4df __attribute__((vector_size(32)));
// The same vector read or written at any int address.
typedef int v8si_unaligned __attribute__((vector_size(32), aligned(4), may_alias));

#define KESTRO_LOAD8(p) (*reinterpret_cast<const v8si_unaligned*>(p))
#define KESTRO_STORE8(p, v) (*reinterpret_cast<v8si_unaligned*>(p) = (v))
#define KESTRO_LOW4_DOUBLE(v) __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1, 2, 3), v4df)
#define KESTRO_HIGH4_DOUBLE(v) __builtin_convertvector(__builtin_shufflevector(v, v, 4, 5, 6, 7), v4df)

// Interleaving steps of the 8 x 8 transpose: 32-bit elements, 64-bit pairs, 128-bit halves.
#define KESTRO_LO32(a, b) __builtin_shufflevector(a, b, 0, 8, 1, 9, 4, 12, 5, 13)
#define KESTRO_HI32(a, b) __builtin_shufflevector(a, b, 2, 10, 3, 11, 6, 14, 7, 15)
#define KESTRO_LO64(a, b) __builtin_shufflevector(a, b, 0, 1, 8, 9, 4, 5, 12, 13)
#define KESTRO_HI64(a, b) __builtin_shufflevector(a, b, 2, 3, 10, 11, 6, 7, 14, 15)
#define KESTRO_LO128(a, b) __builtin_shufflevector(a, b, 0, 1, 2, 3, 8, 9, 10, 11)
#define KESTRO_HI128(a, b) __builtin_shufflevector(a, b, 4, 5, 6, 7, 12, 13, 14, 15)

/// Transposes an 8 x 8 block: line c of dst (at dst + c * dstStride) receives column c of the
/// eight source lines.
KESTRO_ALWAYS_INLINE void transpose8x8(const int* src, std::size_t srcStride, int* dst, std::size_t dstStride,
                                       bool clampToCeiling, int ceiling) {
    const v8si r0 = KESTRO_LOAD8(src), r1 = KESTRO_LOAD8(src + srcStride),
               r2 = KESTRO_LOAD8(src + 2 * srcStride), r3 = KESTRO_LOAD8(src + 3 * srcStride),
               r4 = KESTRO_LOAD8(src + 4 * srcStride), r5 = KESTRO_LOAD8(src + 5 * srcStride),
               r6 = KESTRO_LOAD8(src + 6 * srcStride), r7 = KESTRO_LOAD8(src + 7 * srcStride);
    const v8si t0 = KESTRO_LO32(r0, r1), t1 = KESTRO_HI32(r0, r1);
    const v8si t2 = KESTRO_LO32(r2, r3), t3 = KESTRO_HI32(r2, r3);
    const v8si t4 = KESTRO_LO32(r4, r5), t5 = KESTRO_HI32(r4, r5);
    const v8si t6 = KESTRO_LO32(r6, r7), t7 = KESTRO_HI32(r6, r7);
    const v8si u0 = KESTRO_LO64(t0, t2), u1 = KESTRO_HI64(t0, t2);
    const v8si u2 = KESTRO_LO64(t1, t3), u3 = KESTRO_HI64(t1, t3);
    const v8si u4 = KESTRO_LO64(t4, t6), u5 = KESTRO_HI64(t4, t6);
    const v8si u6 = KESTRO_LO64(t5, t7), u7 = KESTRO_HI64(t5, t7);
    v8si o[8] = {KESTRO_LO128(u0, u4), KESTRO_LO128(u1, u5), KESTRO_LO128(u2, u6), KESTRO_LO128(u3, u7),
                 KESTRO_HI128(u0, u4), KESTRO_HI128(u1, u5), KESTRO_HI128(u2, u6), KESTRO_HI128(u3, u7)};
    const v8si top = {ceiling, ceiling, ceiling, ceiling, ceiling, ceiling, ceiling, ceiling};
    for (int c = 0; c < 8; ++c) {
        if (clampToCeiling) o[c] = o[c] < top ? o[c] : top;
        KESTRO_STORE8(dst + c * dstStride, o[c]);
    }
}

/// Reads `rows` (at most kLanes) raster lines of `columns` values into the transposed buffer
/// t[x * kLanes + lane]. Lanes past `rows` repeat the last line so that they hold real values.
KESTRO_ALWAYS_INLINE void transposeBandIn(const int* src, std::size_t stride, int rows, std::size_t columns,
                                          int* t) {
    std::size_t x = 0;
    if (rows == kLanes)
        for (; x + 8 <= columns; x += 8)
            transpose8x8(src + x, stride, t + x * kLanes, kLanes, false, 0);
    for (; x < columns; ++x)
        for (int lane = 0; lane < kLanes; ++lane)
            t[x * kLanes + lane] = src[std::min(lane, rows - 1) * stride + x];
}

/// Writes lanes 0..rows-1 of the transposed buffer back into raster lines, optionally lowered
/// to a ceiling on the way.
KESTRO_ALWAYS_INLINE void transposeBandOut(const int* t, std::size_t columns, int rows, int* dst,
                                           std::size_t stride, bool clampToCeiling, int ceiling) {
    std::size_t x = 0;
    if (rows == kLanes)
        for (; x + 8 <= columns; x += 8)
            transpose8x8(t + x * kLanes, kLanes, dst + x, stride, clampToCeiling, ceiling);
    for (; x < columns; ++x)
        for (int lane = 0; lane < rows; ++lane) {
            const int v = t[x * kLanes + lane];
            dst[lane * stride + x] = clampToCeiling && ceiling < v ? ceiling : v;
        }
}

// Line operations of the running minimum on raster rows of n ints.
KESTRO_ALWAYS_INLINE void lineCopy(int* __restrict out, const int* __restrict a, std::size_t n) {
    std::memcpy(out, a, n * sizeof(int));
}

KESTRO_ALWAYS_INLINE void lineMin(int* __restrict out, const int* __restrict a, const int* __restrict b,
                                  std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = a[i] < b[i] ? a[i] : b[i];
}

KESTRO_ALWAYS_INLINE void lineMinInto(int* __restrict out, const int* __restrict a, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = a[i] < out[i] ? a[i] : out[i];
}

/// One dimension of the moving minimum (van Herk / Gil-Werman). Input line i (0 <= i < nIn)
/// and output line y (0 <= y <= nIn) are whatever `lines` makes of them; output line y becomes
/// the element-wise minimum of the input lines [y - k, y + k) that exist, a set never empty for
/// k >= 1 and nIn >= 1. Outputs are taken in blocks [y0, y0 + 2k), y0 a multiple of 2k; within
/// a block every window splits at p = y0 + k into a suffix [y - k, p), filled backwards through
/// the block, and a prefix [p, y + k), grown forwards: three minima per element whatever k.
/// This does one block, cut short at output line `end`; a block may start at any line, which
/// lets bands of rows start where they like.
template <class Lines>
KESTRO_ALWAYS_INLINE void slidingMinimumBlock(Lines& lines, long nIn, long k, long y0, long end) {
    const long y1 = std::min(y0 + 2 * k, end), p = y0 + k, last = y1 - 1;
    // The last output's suffix is one line, except in a block cut short by the end.
    lines.suffixBegin(last, std::max(0L, last - k), std::min(p, nIn));
    long y = last - 1;
    for (; y >= y0 && y >= k; --y)
        lines.suffixAdd(y, y - k);
    for (; y >= y0; --y)
        lines.suffixRepeat(y);
    if (p >= nIn || y0 + 1 >= y1) return;
    // Line y + k - 1 joins the prefix of output y while it exists.
    const long grow = std::min(y1, nIn - k + 1);
    lines.prefixBegin(y0 + 1, p);
    for (y = y0 + 2; y < grow; ++y)
        lines.prefixAdd(y, y + k - 1);
    for (; y < y1; ++y)
        lines.prefixRepeat(y);
}

template <class Lines> KESTRO_ALWAYS_INLINE void slidingMinimum(Lines& lines, long nIn, long k) {
    for (long y0 = 0; y0 <= nIn; y0 += 2 * k)
        slidingMinimumBlock(lines, nIn, k, y0, nIn + 1);
}

/// Lines that are rows of a raster: n ints at a stride; the prefix is kept in a line of its own.
struct RowLines {
    const int* in;
    std::size_t inStride;
    int* out;
    std::size_t outStride;
    std::size_t n;
    int* prefix;

    const int* inLine(long i) const { return in + static_cast<std::size_t>(i) * inStride; }
    int* outLine(long y) const { return out + static_cast<std::size_t>(y) * outStride; }

    KESTRO_ALWAYS_INLINE void suffixBegin(long y, long first, long end) {
        lineCopy(outLine(y), inLine(first), n);
        for (long i = first + 1; i < end; ++i)
            lineMinInto(outLine(y), inLine(i), n);
    }
    KESTRO_ALWAYS_INLINE void suffixAdd(long y, long i) { lineMin(outLine(y), inLine(i), outLine(y + 1), n); }
    KESTRO_ALWAYS_INLINE void suffixRepeat(long y) { lineCopy(outLine(y), outLine(y + 1), n); }
    KESTRO_ALWAYS_INLINE void prefixBegin(long y, long i) {
        lineCopy(prefix, inLine(i), n);
        lineMinInto(outLine(y), prefix, n);
    }
    KESTRO_ALWAYS_INLINE void prefixAdd(long y, long i) {
        int* __restrict o = outLine(y);
        int* __restrict a = prefix;
        const int* __restrict v = inLine(i);
        for (std::size_t c = 0; c < n; ++c) {
            const int m = v[c] < a[c] ? v[c] : a[c];
            a[c] = m;
            o[c] = m < o[c] ? m : o[c];
        }
    }
    KESTRO_ALWAYS_INLINE void prefixRepeat(long y) { lineMinInto(outLine(y), prefix, n); }
};

#define KESTRO_MIN8(a, b) ((a) < (b) ? (a) : (b))

/// Lines of a transposed band: kLanes contiguous ints each, one vector; the running suffix and
/// prefix stay in registers.
struct LaneLines {
    const int* in;
    int* out;
    v8si suffix, prefix;

    KESTRO_ALWAYS_INLINE void suffixBegin(long y, long first, long end) {
        suffix = KESTRO_LOAD8(in + first * kLanes);
        for (long i = first + 1; i < end; ++i)
            suffix = KESTRO_MIN8(suffix, KESTRO_LOAD8(in + i * kLanes));
        KESTRO_STORE8(out + y * kLanes, suffix);
    }
    KESTRO_ALWAYS_INLINE void suffixAdd(long y, long i) {
        suffix = KESTRO_MIN8(suffix, KESTRO_LOAD8(in + i * kLanes));
        KESTRO_STORE8(out + y * kLanes, suffix);
    }
    KESTRO_ALWAYS_INLINE void suffixRepeat(long y) { KESTRO_STORE8(out + y * kLanes, suffix); }
    KESTRO_ALWAYS_INLINE void prefixBegin(long y, long i) {
        prefix = KESTRO_LOAD8(in + i * kLanes);
        prefixRepeat(y);
    }
    KESTRO_ALWAYS_INLINE void prefixAdd(long y, long i) {
        prefix = KESTRO_MIN8(prefix, KESTRO_LOAD8(in + i * kLanes));
        prefixRepeat(y);
    }
    KESTRO_ALWAYS_INLINE void prefixRepeat(long y) {
        const v8si o = KESTRO_LOAD8(out + y * kLanes);
        KESTRO_STORE8(out + y * kLanes, KESTRO_MIN8(o, prefix));
    }
};

/// Output rows [rowBegin, rowEnd) of the moving minimum, with minimumScratch(width) ints of
/// working memory; the source is only read, so bands of rows can run side by side.
KESTRO_ALWAYS_INLINE void movingMinimumBody(const int* src, int width, int height, int* dst,
                                            std::size_t dstStride, long kx, long ky, int ceiling,
                                            long rowBegin, long rowEnd, int* scratch) {
    const std::size_t w = static_cast<std::size_t>(width);
    // Columns and rows that windows can reach: the last column and the last row never enter.
    const std::size_t columns = w - 1;
    const long rows = height - 1;

    // Down the rows block by block into dst; after each block, along the rows finished so far,
    // band by band in place while they are still in cache, lowered to the start value on the
    // way out. (Whole rows stream better here than strips of columns.)
    int* const prefix = scratch;
    int* const in = prefix + lines(columns);
    int* const out = in + lines(columns * kLanes);
    long done = rowBegin;
    for (long y0 = rowBegin; y0 < rowEnd; y0 += 2 * ky) {
        RowLines down{src, w, dst, dstStride, columns, prefix};
        slidingMinimumBlock(down, rows, ky, y0, rowEnd);
        const long finished = std::min<long>(y0 + 2 * ky, rowEnd);
        while (finished - done >= kLanes || (finished == rowEnd && done < rowEnd)) {
            const int bandRows = static_cast<int>(std::min<long>(kLanes, finished - done));
            int* band = dst + static_cast<std::size_t>(done) * dstStride;
            transposeBandIn(band, dstStride, bandRows, columns, in);
            LaneLines lines{in, out, {}, {}};
            slidingMinimum(lines, static_cast<long>(columns), kx);
            transposeBandOut(out, w, bandRows, band, dstStride, true, ceiling);
            done += bandRows;
        }
    }
}

// ---- Moving average ------------------------------------------------------------------------

/// Saturating conversion for quotients that rounding may carry just past the int range.
int truncateToInt(double value) {
    if (!(value > static_cast<double>(INT_MIN) - 1.0)) return INT_MIN;
    if (!(value < static_cast<double>(INT_MAX) + 1.0)) return INT_MAX;
    return static_cast<int>(value);
}

/// What a row's values allow the fast average: the integer and double sums it runs are exact
/// only while the values stay small enough for the window.
struct AverageLimits {
    explicit AverageLimits(long radius)
        : span(2.0 * static_cast<double>(radius)), count(span * span), unsignedSums(count <= 2147483648.0) {}
    static double largest(int lowest, int highest) {
        return std::max(std::fabs(static_cast<double>(lowest)), std::fabs(static_cast<double>(highest)));
    }
    /// Column sums and their differences in int, window sums exact in double (with room for the
    /// running update, which passes through one window sum plus one difference).
    bool fast(int lowest, int highest) const {
        const double l = largest(lowest, highest);
        return l * (2.0 * span + 2.0) < 2147483648.0 && l * span * (span + 2.0) <= 4503599627370496.0;
    }
    /// Besides, every window sum a 32-bit unsigned integer, divided by a multiply and shifts.
    bool narrow(int lowest, int highest) const {
        return unsignedSums && lowest >= 0 && fast(lowest, highest) &&
               static_cast<double>(highest) * count <= 4294967295.0;
    }
    /// Every partial sum of the literal loops an exact integer, so that exact 64-bit window sums
    /// give the same quotients.
    bool exact(int lowest, int highest) const {
        return largest(lowest, highest) * count <= 9007199254740992.0;
    }

    double span, count;
    bool unsignedSums;
};

typedef unsigned v8su __attribute__((vector_size(32)));
typedef unsigned long long v4du __attribute__((vector_size(32)));

/// floor(n / d) for every 32-bit n by a multiply-high and shifts (Granlund and Montgomery's
/// round-up method, valid for 2 <= d <= 2^31): exact, where a double quotient costs a divide.
struct UnsignedDivider {
    explicit UnsignedDivider(std::uint32_t d) {
        const int bits = 32 - __builtin_clz(d - 1); // ceil(log2 d)
        magic = (std::uint64_t{1} << 32) * ((std::uint64_t{1} << bits) - d) / d + 1;
        shift = static_cast<unsigned>(bits - 1);
    }
    std::uint64_t magic;
    unsigned shift;
};
// The quotients of eight numbers n (v8su) by divider dv: the multiply-high of each lane, the
// even lanes' products in one 64-bit vector and the odd lanes' in another.
#define KESTRO_DIVIDE8(n, dv)                                                                                \
    __extension__({                                                                                          \
        const v4du wide_ = reinterpret_cast<v4du>(n);                                                        \
        const v4du even_ = (wide_ & 0xffffffffULL) * (dv).magic, odd_ = (wide_ >> 32) * (dv).magic;          \
        const v8su high_ = reinterpret_cast<v8su>((even_ >> 32) | (odd_ & 0xffffffff00000000ULL));           \
        (high_ + (((n)-high_) >> 1)) >> (dv).shift;                                                          \
    })

/// The rest of a band from output row `from` on, for values the fast sums cannot hold: exact
/// 64-bit window sums where the window's values keep the literal double sum exact (the same
/// quotients), the literal double sum (rows top to bottom, each left to right) elsewhere. The
/// ring holds the originals of rows [from - radius, from + radius - 1) unless `from` is the
/// band's first row, whose originals all still lie where rowAt finds them.
template <class RowAt, class RingAt>
void averageOnwards(int* pixels, int width, long r, long from, long rowBegin, long rowEnd, const RowAt& rowAt,
                    const RingAt& ringAt, std::int64_t* sums, const AverageLimits& limits) {
    const std::size_t w = static_cast<std::size_t>(width);
    long lastLoud = LONG_MIN / 2; // the last row read whose values make the double sums round
    auto enter = [&](long y, const int* row) {
        int lowest, highest;
        valueRange(row, w, lowest, highest);
        if (!limits.exact(lowest, highest)) lastLoud = y;
    };
    std::fill_n(sums, w, 0);
    for (long y = from - r; y < from + r - 1; ++y) {
        int* keep = ringAt(y);
        if (from == rowBegin) std::memcpy(keep, rowAt(y), w * sizeof(int));
        enter(y, keep);
        for (std::size_t x = 0; x < w; ++x)
            sums[x] += keep[x];
    }
    for (long y = from; y < rowEnd; ++y) {
        // Row y + r - 1 enters and takes the ring slot of row y - r - 1, which leaves.
        const int* entering = rowAt(y + r - 1);
        int* slot = ringAt(y + r - 1);
        enter(y + r - 1, entering);
        for (std::size_t x = 0; x < w; ++x) {
            sums[x] += static_cast<std::int64_t>(entering[x]) - (y > from ? slot[x] : 0);
            slot[x] = entering[x];
        }
        int* out = pixels + static_cast<std::size_t>(y) * w;
        if (lastLoud < y - r) {
            std::int64_t window = 0;
            for (long x = 0; x < 2 * r; ++x)
                window += sums[static_cast<std::size_t>(x)];
            for (long x = r; x < width - r; ++x) {
                out[x] = truncateToInt(static_cast<double>(window) / limits.count);
                if (x + r < width)
                    window += sums[static_cast<std::size_t>(x + r)] - sums[static_cast<std::size_t>(x - r)];
            }
            continue;
        }
        for (long x = r; x < width - r; ++x) {
            double sum = 0;
            for (long yy = y - r; yy < y + r; ++yy) {
                const int* row = ringAt(yy);
                for (long xx = x - r; xx < x + r; ++xx)
                    sum += row[xx];
            }
            out[x] = truncateToInt(sum / limits.count);
        }
    }
}

/// The fast average. Column sums over 2r rows run down the raster; the originals of the last
/// 2r rows read wait in a ring, since rows above are overwritten with results once no window
/// below needs them. Along the rows, window sums run over bands of transposed column sums: in
/// 32-bit unsigned integers where the window's values allow, else in double; both are exact
/// integers, so each quotient is the very one the literal loops give. Each row's value range
/// is taken as it enters the column sums: from a row the fast sums cannot hold on, the rows
/// before it are finished and the band goes on in averageOnwards (the ring then holds what
/// that needs, the entering row in the slot of one no window needs any more).
/// This does output rows [rowBegin, rowEnd) (radius <= rowBegin < rowEnd <= height - radius),
/// reading the original rows [rowBegin - radius, rowBegin) from `above` and those from rowEnd
/// on from `below` (radius rows each at most), since in a band of rows the neighbours' rows are
/// overwritten by their own threads. For the whole raster both point into the raster itself.
/// Working memory: averageScratch ints.
KESTRO_ALWAYS_INLINE void movingAverageBody(int* pixels, int width, int radius, long rowBegin, long rowEnd,
                                            const int* above, const int* below, int* scratch) {
    const std::size_t w = static_cast<std::size_t>(width);
    const long r = radius, span = 2L * radius;
    const AverageLimits limits(r);
    int* const ring = scratch;
    int* const bandSums = ring + lines(static_cast<std::size_t>(span) * w);
    int* const in = bandSums + lines(w * kLanes);
    int* const out = in + lines(w * kLanes);
    int* const firstSums = out + lines(w * kLanes);
    auto rowAt = [&](long y) {
        if (y < rowBegin) return above + static_cast<std::size_t>(y - (rowBegin - r)) * w;
        if (y >= rowEnd) return below + static_cast<std::size_t>(y - rowEnd) * w;
        return static_cast<const int*>(pixels + static_cast<std::size_t>(y) * w);
    };
    auto ringAt = [&](long y) { return ring + static_cast<std::size_t>(y % span) * w; };
    auto outAt = [&](long y) { return pixels + static_cast<std::size_t>(y) * w; };
    auto onwards = [&](long from) {
        averageOnwards(pixels, width, r, from, rowBegin, rowEnd, rowAt, ringAt,
                       reinterpret_cast<std::int64_t*>(bandSums), limits);
    };
    long lastWide = LONG_MIN / 2; // the last row read whose values need the double sums
    // Whether the fast sums hold row y, whose value range is [lowest, highest].
    auto holds = [&](long y, int lowest, int highest) {
        if (!limits.fast(lowest, highest)) return false;
        if (!limits.narrow(lowest, highest)) lastWide = y;
        return true;
    };

    // Sums wrap in unsigned arithmetic: a row the fast sums cannot hold is added before its
    // range is known, and its sums are then never used.
    unsigned* const first = reinterpret_cast<unsigned*>(firstSums);
    std::fill_n(first, w, 0u);
    for (long y = rowBegin - r; y < rowBegin + r; ++y) {
        const int* __restrict row = rowAt(y);
        int* __restrict keep = ringAt(y);
        unsigned* __restrict sums = first;
        int lowest = INT_MAX, highest = INT_MIN;
        for (std::size_t x = 0; x < w; ++x) {
            sums[x] += static_cast<unsigned>(row[x]);
            keep[x] = row[x];
            lowest = row[x] < lowest ? row[x] : lowest;
            highest = row[x] > highest ? row[x] : highest;
        }
        if (!holds(y, lowest, highest)) return onwards(rowBegin);
    }

    const std::size_t interior = w - 2 * static_cast<std::size_t>(r);
    const v4df divisor = {limits.count, limits.count, limits.count, limits.count};
    const UnsignedDivider divide(limits.unsignedSums ? static_cast<std::uint32_t>(limits.count) : 2u);
    const unsigned* previous = first;
    for (long y0 = rowBegin; y0 < rowEnd; y0 += kLanes) {
        // Column sums of the band's rows, one line each, every line from the one before, up to
        // a row the fast sums cannot hold.
        int rows = static_cast<int>(std::min<long>(kLanes, rowEnd - y0));
        bool heldAll = true;
        for (int lane = 0; lane < rows; ++lane) {
            const long y = y0 + lane;
            unsigned* __restrict sums = reinterpret_cast<unsigned*>(bandSums) + lane * w;
            if (y == rowBegin) {
                std::memcpy(sums, previous, w * sizeof(unsigned));
            } else {
                // Row y + r - 1 enters, row y - r - 1 leaves; both live in the same ring slot.
                const unsigned* __restrict before = previous;
                const int* __restrict entering = rowAt(y + r - 1);
                int* __restrict slot = ringAt(y - r - 1);
                int lowest = INT_MAX, highest = INT_MIN;
                for (std::size_t x = 0; x < w; ++x) {
                    const int v = entering[x];
                    sums[x] = before[x] + (static_cast<unsigned>(v) - static_cast<unsigned>(slot[x]));
                    slot[x] = v;
                    lowest = v < lowest ? v : lowest;
                    highest = v > highest ? v : highest;
                }
                if (!holds(y + r - 1, lowest, highest)) {
                    rows = lane;
                    heldAll = false;
                    break;
                }
            }
            previous = sums;
        }
        if (rows == 0) return onwards(y0);

        // Window sums of output rows [y0, y0 + rows) along the transposed column sums. Meanwhile
        // the rows the next band's lines take in are fetched, a part every step: else the
        // memory would wait for the arithmetic here and the arithmetic for the memory there.
        transposeBandIn(bandSums, w, rows, w, in);
        const int* t = in;
        int* o = out;
        const long nextIn = y0 + kLanes + r - 1;
        const char* const ahead = reinterpret_cast<const char*>(
            nextIn + kLanes <= rowEnd ? pixels + static_cast<std::size_t>(nextIn) * w : nullptr);
        auto fetch = [&](std::size_t i) {
            if (ahead) __builtin_prefetch(ahead + i * kLanes * sizeof(int));
        };
        if (lastWide < y0 - r) {
            // Every window of these rows holds values whose sums fit 32 bits unsigned.
            v8su window = {};
            for (long x = 0; x < span; ++x)
                window += reinterpret_cast<v8su>(KESTRO_LOAD8(t + x * kLanes));
            for (std::size_t i = 0; i < interior; ++i) {
                const std::size_t x = i + static_cast<std::size_t>(r);
                fetch(i);
                KESTRO_STORE8(o + i * kLanes, reinterpret_cast<v8si>(KESTRO_DIVIDE8(window, divide)));
                window += reinterpret_cast<v8su>(KESTRO_LOAD8(t + (x + r) * kLanes)) -
                          reinterpret_cast<v8su>(KESTRO_LOAD8(t + (x - r) * kLanes));
            }
        } else {
            // Lanes 0-3 and 4-7 in two double vectors.
            v4df low = {}, high = {};
            for (long x = 0; x < span; ++x) {
                const v8si v = KESTRO_LOAD8(t + x * kLanes);
                low += KESTRO_LOW4_DOUBLE(v);
                high += KESTRO_HIGH4_DOUBLE(v);
            }
            for (std::size_t i = 0; i < interior; ++i) {
                const std::size_t x = i + static_cast<std::size_t>(r);
                fetch(i);
                const v4si qLow = __builtin_convertvector(low / divisor, v4si);
                const v4si qHigh = __builtin_convertvector(high / divisor, v4si);
                KESTRO_STORE8(o + i * kLanes, __builtin_shufflevector(qLow, qHigh, 0, 1, 2, 3, 4, 5, 6, 7));
                const v8si d = KESTRO_LOAD8(t + (x + r) * kLanes) - KESTRO_LOAD8(t + (x - r) * kLanes);
                low += KESTRO_LOW4_DOUBLE(d);
                high += KESTRO_HIGH4_DOUBLE(d);
            }
        }
        transposeBandOut(out, interior, rows, outAt(y0) + r, w, false, 0);
        if (!heldAll) return onwards(y0 + rows);
    }
}

KESTRO_KERNEL(void, movingMinimumKernel,
              (const int* src, int width, int height, int* dst, std::size_t dstStride, long kx, long ky,
               int ceiling, long rowBegin, long rowEnd, int* scratch),
              (src, width, height, dst, dstStride, kx, ky, ceiling, rowBegin, rowEnd, scratch),
              movingMinimumBody(src, width, height, dst, dstStride, kx, ky, ceiling, rowBegin, rowEnd,
                                scratch))
KESTRO_KERNEL(void, movingAverageKernel,
              (int* pixels, int width, int radius, long rowBegin, long rowEnd, const int* above,
               const int* below, int* scratch),
              (pixels, width, radius, rowBegin, rowEnd, above, below, scratch),
              movingAverageBody(pixels, width, radius, rowBegin, rowEnd, above, below, scratch))

/// The fast average in bands of output rows. Each band first keeps its own copy of the original
/// rows its windows reach beyond it (radius above, radius below), all bands together, before
/// any band writes a result; then every band works on its own.
void movingAverageBands(int* pixels, int width, int height, int radius) {
    const std::size_t w = static_cast<std::size_t>(width);
    const long r = radius, rows = height - 2L * radius;
    // Each band copies 2 radius rows beside its own and sums as many again before its first
    // result; more bands than rows / (16 radius) spend more on them than the threads gain (at
    // radius 100 on a 4096-row raster and two threads, four bands gained 1.5x, two 1.7x).
    const int bands = static_cast<int>(std::min<long>(bandCount(rows, w), std::max(2L, rows / (16 * r))));
    auto rowAt = [&](long y) { return pixels + static_cast<std::size_t>(y) * w; };
    const std::size_t perBand = averageScratch(w, r);
    int* const scratch = callBuffer(0, perBand * static_cast<std::size_t>(bands));
    if (bands == 1) {
        movingAverageKernel(pixels, width, radius, r, height - r, rowAt(0), rowAt(height - r), scratch);
        return;
    }
    const std::size_t haloInts = static_cast<std::size_t>(r) * w;
    int* const halos = callBuffer(1, 2 * haloInts * static_cast<std::size_t>(bands));
    auto above = [&](int band) { return halos + 2 * haloInts * static_cast<std::size_t>(band); };
    auto below = [&](int band) { return above(band) + haloInts; };
    // Bands start on whole groups of lanes, so that only the last one has a short group.
    auto begin = [&](int band) {
        return r + (band == bands ? rows : bandBegin(rows, bands, band) / kLanes * kLanes);
    };
    runBands(bands, [&](int band) {
        if (begin(band) == begin(band + 1)) return;
        std::memcpy(above(band), rowAt(begin(band) - r), haloInts * sizeof(int));
        const long end = begin(band + 1), kept = std::min(r, height - end);
        std::memcpy(below(band), rowAt(end), static_cast<std::size_t>(kept) * w * sizeof(int));
    });
    runBands(bands, [&](int band) {
        if (begin(band) < begin(band + 1))
            movingAverageKernel(pixels, width, radius, begin(band), begin(band + 1), above(band), below(band),
                                scratch + perBand * static_cast<std::size_t>(band));
    });
}

} // namespace

void movingMinimum(const int* src, int width, int height, int* dst, std::size_t dstStride, int halfWidth,
                   int halfHeight, int startValue) {
    if (width <= 0 || height <= 0) return;
    // Every window is empty when a half size is below 1 or the raster is one column or one row
    // wide (its only column or row is the excluded last one); otherwise none is.
    if (halfWidth < 1 || halfHeight < 1 || width == 1 || height == 1) {
        for (int y = 0; y < height; ++y)
            std::fill_n(dst + static_cast<std::size_t>(y) * dstStride, width, startValue);
        return;
    }
    // A half size reaching past every line behaves as one that just reaches all of them.
    const long kx = std::min<long>(halfWidth, width - 1);
    const long ky = std::min<long>(halfHeight, height - 1);
    // Each band of output rows reads the source alone and writes its own rows of dst. Bands
    // start on whole groups of lanes, so that only the last one has a short group. Each band
    // also reads the 2 ky rows its windows reach beyond it: more bands than rows / (16 ky) read
    // more of them than the threads gain (at half 100 on 4096 rows and two threads, eight bands
    // gained 1.6x).
    const int bands = static_cast<int>(
        std::min<long>(bandCount(height, static_cast<std::size_t>(width)), std::max(2L, height / (16 * ky))));
    const std::size_t perBand = minimumScratch(static_cast<std::size_t>(width));
    int* const scratch = callBuffer(0, perBand * static_cast<std::size_t>(bands));
    auto begin = [&](int band) {
        return band == bands ? height : bandBegin(height, bands, band) / kLanes * kLanes;
    };
    runBands(bands, [&](int band) {
        if (begin(band) < begin(band + 1))
            movingMinimumKernel(src, width, height, dst, dstStride, kx, ky, startValue, begin(band),
                                begin(band + 1), scratch + perBand * static_cast<std::size_t>(band));
    });
}

void movingAverage(int* pixels, int width, int height, int radius) {
    if (radius < 1 || 2L * radius >= width || 2L * radius >= height) return;
    movingAverageBands(pixels, width, height, radius);
}

} // namespace detail
} // namespace kestro
