// "Did you mean": the closest of the known names to one mistyped.
#include "Support.h"

#include <algorithm>

namespace kestro {

std::string closestOption(const std::string& unknown, const std::vector<std::string>& candidates) {
    // Levenshtein distance, one row at a time.
    const auto distance = [](const std::string& a, const std::string& b) {
        std::vector<size_t> row(b.size() + 1);
        for (size_t j = 0; j <= b.size(); ++j)
            row[j] = j;
        for (size_t i = 1; i <= a.size(); ++i) {
            size_t diagonal = row[0];
            row[0] = i;
            for (size_t j = 1; j <= b.size(); ++j) {
                const size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
                diagonal = above;
            }
        }
        return row[b.size()];
    };
    std::string best;
    size_t bestDistance = std::max<size_t>(2, unknown.size() / 3) + 1;
    for (const std::string& c : candidates) {
        const size_t d = distance(unknown, c);
        if (d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    return best;
}

} // namespace kestro
