// Several files at once: one job a file, outputs printed in the order of the files.
#include "Support.h"

#include "raster/Threads.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <iostream>
#include <mutex>
#include <thread>

namespace kestro {

int forEachFile(const std::vector<std::string>& files, const char* verb, bool json,
                const std::function<nlohmann::ordered_json(const std::string& file)>& work,
                const std::function<void(const nlohmann::ordered_json& result, size_t index)>& print) {
    Progress progress(static_cast<int>(files.size()), verb);
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    int failures = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        progress.show(static_cast<int>(i), files[i]);
        try {
            nlohmann::ordered_json result = work(files[i]);
            progress.clear();
            if (json)
                all.push_back(std::move(result));
            else
                print(result, i);
        } catch (const ToolError& e) {
            progress.clear();
            ++failures;
            std::cerr << "kestro: error: " << e.what() << '\n';
            all.push_back({{"file", files[i]}, {"error", e.what()}});
        }
    }
    progress.clear();
    if (json) printJson(all);
    return failures ? 1 : 0;
}

namespace {

/// What became of one file of a batch: a result, a ToolError's text, or another exception.
struct Outcome {
    bool ready = false;
    bool failed = false;
    nlohmann::ordered_json result;
    std::string error;
    std::exception_ptr failure;
};

/// Restores the library's thread count when a batch ends, however it ends.
struct ThreadShare {
    int saved;
    explicit ThreadShare(int jobs) : saved(kestro::threadCount()) {
        kestro::setThreadCount(std::max(1, saved / jobs));
    }
    ~ThreadShare() { kestro::setThreadCount(saved); }
};

} // namespace

int forEachFileAtOnce(
    const std::vector<std::string>& files, const char* verb, bool json,
    const std::function<nlohmann::ordered_json(const std::string& file, size_t index)>& work,
    const std::function<void(const nlohmann::ordered_json& result, size_t index)>& print) {
    // By default as many files as the library has threads: --threads 1 runs strictly one at a time.
    const int threads = kestro::threadCount();
    const size_t jobs =
        std::min(files.size(), static_cast<size_t>(settings().jobs > 0 ? settings().jobs : threads));
    if (jobs <= 1) {
        size_t index = 0;
        return forEachFile(
            files, verb, json, [&](const std::string& file) { return work(file, index++); }, print);
    }

    std::vector<Outcome> outcomes(files.size());
    std::mutex lock;
    std::condition_variable finished;
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    size_t finishedCount = 0;
    const auto worker = [&] {
        for (size_t i; !stop && (i = next++) < files.size();) {
            Outcome o;
            try {
                o.result = work(files[i], i);
            } catch (const ToolError& e) {
                o.failed = true;
                o.error = e.what();
            } catch (...) {
                o.failure = std::current_exception();
            }
            o.ready = true;
            std::lock_guard<std::mutex> hold(lock);
            outcomes[i] = std::move(o);
            ++finishedCount;
            finished.notify_all();
        }
    };

    Progress progress(static_cast<int>(files.size()), verb);
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    int failures = 0;
    std::exception_ptr failure;
    {
        ThreadShare share(static_cast<int>(jobs));
        std::vector<std::thread> threads;
        for (size_t j = 0; j < jobs; ++j)
            threads.emplace_back(worker);
        // Results are taken in the files' order; the bar shows how many are finished, whichever.
        for (size_t i = 0; i < files.size() && !failure; ++i) {
            Outcome o;
            {
                std::unique_lock<std::mutex> hold(lock);
                for (;;) {
                    const size_t count = finishedCount;
                    if (outcomes[i].ready) break;
                    hold.unlock();
                    progress.show(static_cast<int>(count), files[i]);
                    hold.lock();
                    finished.wait(hold, [&] { return outcomes[i].ready || finishedCount != count; });
                }
                o = std::move(outcomes[i]);
            }
            progress.clear();
            if (o.failure) {
                failure = o.failure;
                stop = true;
            } else if (o.failed) {
                ++failures;
                std::cerr << "kestro: error: " << o.error << '\n';
                all.push_back({{"file", files[i]}, {"error", o.error}});
            } else if (json) {
                all.push_back(std::move(o.result));
            } else {
                print(o.result, i);
            }
        }
        for (std::thread& t : threads)
            t.join();
    }
    progress.clear();
    if (failure) std::rethrow_exception(failure);
    if (json) printJson(all);
    return failures ? 1 : 0;
}

void addJobsOption(CLI::App& app) {
    app.add_option("--jobs", settings().jobs,
                   "Files worked at once (default: one per core, or --threads); outputs come in the same "
                   "order as one "
                   "at a time")
        ->check(CLI::PositiveNumber);
}

} // namespace kestro
