// The progress bar on the terminal and the clock of the run records.
#include "Support.h"

#include <chrono>
#include <cstdio>

#include <unistd.h>

namespace kestro {

long long nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double millisecondsSince(long long startNanos) {
    return static_cast<double>(nowNanos() - startNanos) / 1e6;
}

Progress::Progress(int total, const char* verb)
    : m_total(total), m_verb(verb), m_enabled(total > 1 && isatty(STDOUT_FILENO) && isatty(STDERR_FILENO)) {}

Progress::~Progress() {
    clear();
}

void Progress::show(int done, const std::string& item) {
    if (!m_enabled) return;
    constexpr int kCells = 24;
    const int filled = m_total > 0 ? done * kCells / m_total : 0;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kCells - filled), '.');
    std::string name = item;
    if (name.size() > 40) name = "..." + name.substr(name.size() - 37);
    std::fflush(stdout);
    std::fprintf(stderr, "\r\033[K%s [%s] %d/%d %s", m_verb, bar.c_str(), done + 1, m_total, name.c_str());
    std::fflush(stderr);
    m_drawn = true;
}

void Progress::clear() {
    if (!m_drawn) return;
    std::fflush(stdout);
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_drawn = false;
}

} // namespace kestro
