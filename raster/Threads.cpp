// The pool behind the pixel work: threads started on first need and kept for the life of the
// process, each taking whole bands of rows. Bands are fixed by the row count and the band count
// alone, never by which thread is free, so every band does the same arithmetic on any run.
#include "raster/Threads.h"
#include "raster/detail/Parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kestro {
namespace {

constexpr int kMostThreads = 256;
constexpr int kBandsPerThread = 4;

std::atomic<int> requestedThreads{0};
std::atomic<std::size_t> minimumPixels{16384};

// Set while this thread works a band: a band that asks for bands of its own runs them itself.
thread_local bool insideBand = false;

int coreCount() {
    static const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return std::min(cores, kMostThreads);
}

class Pool {
public:
    /// False, having run nothing, while another caller's bands are in the pool. The caller and
    /// at most threads - 1 workers take the bands.
    bool run(int bands, int threads, const std::function<void(int)>& work) {
        std::unique_lock<std::mutex> turn(submit, std::try_to_lock);
        if (!turn.owns_lock()) return false;
        addWorkers(std::min(bands, threads) - 1);
        std::unique_lock<std::mutex> lock(state);
        job = &work;
        total = bands;
        next = 0;
        unfinished = bands;
        error = nullptr;
        helpers = std::min(bands, threads) - 1;
        joined = 0;
        ++generation;
        wake.notify_all();
        takeBands(lock);
        finished.wait(lock, [&] { return unfinished == 0; });
        const std::exception_ptr failure = error;
        job = nullptr;
        total = next = 0;
        lock.unlock();
        if (failure) std::rethrow_exception(failure);
        return true;
    }

private:
    void addWorkers(int wanted) {
        while (static_cast<int>(workers.size()) < wanted) {
            try {
                workers.emplace_back([this] { serve(); });
            } catch (const std::system_error&) {
                return; // fewer threads: the caller and the workers there are take every band
            }
        }
    }

    void serve() {
        std::unique_lock<std::mutex> lock(state);
        unsigned long served = 0;
        for (;;) {
            // Workers beyond the thread count of this run stay asleep (the pool keeps the most
            // any run asked for).
            wake.wait(lock, [&] { return generation != served && next < total && joined < helpers; });
            served = generation;
            ++joined;
            takeBands(lock);
        }
    }

    /// Works bands until none is left to take; `lock` holds `state` on entry and on return.
    void takeBands(std::unique_lock<std::mutex>& lock) {
        while (next < total) {
            const int band = next++;
            const std::function<void(int)>* work = job;
            lock.unlock();
            std::exception_ptr failure;
            insideBand = true;
            try {
                (*work)(band);
            } catch (...) {
                failure = std::current_exception();
            }
            insideBand = false;
            lock.lock();
            if (failure && !error) error = failure;
            if (--unfinished == 0) finished.notify_all();
        }
    }

    std::mutex submit; // one caller's bands at a time
    std::mutex state;  // guards everything below
    std::condition_variable wake, finished;
    std::vector<std::thread> workers; // touched only by the caller holding `submit`
    const std::function<void(int)>* job = nullptr;
    int total = 0, next = 0, unfinished = 0;
    int helpers = 0, joined = 0;  // workers this run may use, and those that came
    unsigned long generation = 0; // one a run, so that a worker joins each run once
    std::exception_ptr error;
};

// Never destroyed: its threads wait for work until the process ends, and a static destructor
// that still filters an image finds the pool alive.
Pool& pool() {
    static Pool* const instance = new Pool;
    return *instance;
}

} // namespace

void setThreadCount(int count) {
    requestedThreads.store(std::clamp(count, 0, kMostThreads));
}

int threadCount() {
    const int requested = requestedThreads.load();
    return requested > 0 ? requested : coreCount();
}

void setMinimumPixelsPerThread(std::size_t pixels) {
    minimumPixels.store(std::max<std::size_t>(pixels, 1));
}

namespace detail {

int bandCount(long rows, std::size_t pixelsPerRow) {
    if (rows <= 1 || insideBand) return 1;
    // Several bands a thread: a thread slowed by other work on its core takes fewer of them
    // instead of holding up the rest.
    const long long threads =
        threadCount() == 1 ? 1 : static_cast<long long>(threadCount()) * kBandsPerThread;
    const long long pixels =
        static_cast<long long>(rows) * static_cast<long long>(std::max<std::size_t>(pixelsPerRow, 1));
    const long long worth = std::max(1LL, pixels / static_cast<long long>(minimumPixels.load()));
    return static_cast<int>(std::min({threads, static_cast<long long>(rows), worth}));
}

void runBands(int bands, const std::function<void(int)>& work) {
    if (bands > 1 && !insideBand && pool().run(bands, threadCount(), work)) return;
    for (int i = 0; i < bands; ++i)
        work(i);
}

void parallelRows(long rows, std::size_t pixelsPerRow, const std::function<void(long, long)>& work) {
    const int bands = bandCount(rows, pixelsPerRow);
    runBands(bands, [&](int i) { work(bandBegin(rows, bands, i), bandBegin(rows, bands, i + 1)); });
}

} // namespace detail
} // namespace kestro
