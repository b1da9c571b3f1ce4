#include "platform/data/DataArray.h"

#include "TestTables.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

TEST(CIntDataArray, StatisticsSaturateSumsTruncateMeansAsTheTableSays) {
    const std::vector<std::string> rows = TableRows("data/data/int-statistics.txt");
    for (const std::string& row : rows) {
        std::istringstream values(row.substr(0, row.find('|'))), expected(row.substr(row.find('|') + 1));
        CIntDataArray a;
        for (int v; values >> v;)
            a.Add(v);
        std::vector<int> want;
        for (int v; expected >> v;)
            want.push_back(v);
        EXPECT_EQ((std::vector<int>{a.GetMax(), a.GetMin(), a.GetSum(), a.GetMean()}), want) << row;
    }
    EXPECT_EQ(rows.size(), 6u);
}
