// The threads the library's pixel work may use, one setting for the whole process.
#pragma once

#include "platform/wintypes/Export.h"

#include <cstddef>

namespace kestro {

/// Threads that one pixel operation may use: the filters, statistics, tone tables and rasters
/// split their rows into that many bands, each band worked by one thread and written by it
/// alone. Results are the same integers whatever the count. 0 (the start value) means one per
/// core; 1 runs every operation on the calling thread. Values below 0 count as 0, values
/// above 256 as 256. Takes effect for operations started after the call.
KESTRO_API void setThreadCount(int count);
/// The count operations use now: the one set, or the cores of the machine for 0.
KESTRO_API int threadCount();
/// Smallest number of pixels worth a band of its own (start value 16384): smaller images go on
/// fewer threads. 1 splits even the tiniest image, which is how the tests reach every band.
KESTRO_API void setMinimumPixelsPerThread(std::size_t pixels);

} // namespace kestro
