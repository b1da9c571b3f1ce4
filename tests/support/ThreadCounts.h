// The library's thread counts from a test: a check must hold, and a piece of work give the 1-thread
// result, at every count.
#pragma once

#include "raster/Threads.h"

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

/// Runs `check` at 1, 2, 3 and 7 threads with every image split to the last row, and restores the
/// defaults.
template <class Check> void atEveryThreadCount(const Check& check) {
    kestro::setMinimumPixelsPerThread(1);
    for (int threads : {1, 2, 3, 7}) {
        kestro::setThreadCount(threads);
        SCOPED_TRACE(::testing::Message() << threads << " threads");
        check();
    }
    kestro::setThreadCount(0);
    kestro::setMinimumPixelsPerThread(16384);
}

/// Runs `work` at 1 thread and at each other count with every image split to the last row, and
/// restores the defaults: each count must give the 1-thread result.
template <class Work> void expectSameAtEveryThreadCount(const Work& work, const std::string& what) {
    kestro::setMinimumPixelsPerThread(1);
    kestro::setThreadCount(1);
    const auto alone = work();
    for (int threads : {2, 3, 7}) {
        kestro::setThreadCount(threads);
        EXPECT_EQ(work(), alone) << what << " at " << threads << " threads";
    }
    kestro::setThreadCount(0);
    kestro::setMinimumPixelsPerThread(16384);
}

} // namespace testsupport
