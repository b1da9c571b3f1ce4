#include "data/DataArray.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

TEST(CIntDataArray, StatisticsAreZeroWhenEmptySaturateTheSumAndTruncateTheMean) {
    struct Case {
        std::vector<int> values;
        int max, min, sum, mean;
    } cases[] = {
        {{}, 0, 0, 0, 0},
        {{7, -3, 12, 0, 5}, 12, -3, 21, 4},
        {{7, -3, 12, 0, 5, -40}, 12, -40, -19, -3},                       // -19 / 6 truncated toward zero
        {{INT_MAX, INT_MAX, INT_MAX}, INT_MAX, INT_MAX, INT_MAX, INT_MAX}, // no overflow inside the mean either
        {{INT_MIN, -1}, -1, INT_MIN, INT_MIN, INT_MIN / 2},               // (-2^31 - 1) / 2 truncated
        {{INT_MAX, INT_MIN}, INT_MAX, INT_MIN, -1, 0},                    // overflow that cancels stays exact
    };
    for (const auto& c : cases) {
        CIntDataArray a;
        for (int v : c.values) a.Add(v);
        EXPECT_EQ((std::vector<int>{a.GetMax(), a.GetMin(), a.GetSum(), a.GetMean()}),
                  (std::vector<int>{c.max, c.min, c.sum, c.mean}));
    }
}
