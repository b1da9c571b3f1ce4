// Splits pixel work into bands of rows run on the library's threads; not part of the interface.
#pragma once

#include <cstddef>
#include <functional>

namespace kestro {
namespace detail {

/// How many bands `rows` rows of `pixelsPerRow` pixels go into: 1 for one thread, otherwise a
/// few per thread, at most `rows`, and few enough that each holds the minimum pixels per thread
/// (at least 1). The count depends on these figures alone, never on which threads are free.
int bandCount(long rows, std::size_t pixelsPerRow);

/// Band i of `bands` over rows [0, rows): rows [rows * i / bands, rows * (i + 1) / bands).
inline long bandBegin(long rows, int bands, int i) {
    return static_cast<long>(static_cast<long long>(rows) * i / bands);
}

/// Runs work(i) for i in [0, bands), on the pool's threads and the calling one, and returns
/// when all have finished. One band, a call made from inside a band, or a pool busy with
/// another caller's bands runs them all on the calling thread, in order. The first exception
/// a band throws is rethrown here after every band has ended.
void runBands(int bands, const std::function<void(int)>& work);

/// The usual case: rows [0, rows) split into bandCount bands, work(begin, end) for each.
void parallelRows(long rows, std::size_t pixelsPerRow, const std::function<void(long, long)>& work);

} // namespace detail
} // namespace kestro
