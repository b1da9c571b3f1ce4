#include "data/DataArray.h"

#include <gtest/gtest.h>

#include <climits>

TEST(CIntDataArray, StatisticsOfElements) {
    CIntDataArray a;
    for (int v : {7, -3, 12, 0, 5}) a.Add(v);
    EXPECT_EQ(a.GetSize(), 5);
    EXPECT_EQ(a.GetMax(), 12);
    EXPECT_EQ(a.GetMin(), -3);
    EXPECT_EQ(a.GetSum(), 21);
    EXPECT_EQ(a.GetMean(), 4); // 21 / 5 truncated
    a.Add(-40);                // sum -19, mean -19/6 truncated toward zero
    EXPECT_EQ(a.GetMean(), -3);
    EXPECT_EQ(a.GetMin(), -40);
}

TEST(CIntDataArray, EmptyArrayGivesZerosAndBadIndexRaises) {
    CIntDataArray a;
    EXPECT_EQ(a.GetMax(), 0);
    EXPECT_EQ(a.GetMin(), 0);
    EXPECT_EQ(a.GetMean(), 0);
    EXPECT_EQ(a.GetSum(), 0);
    a.Add(3);
    a.RemoveAll();
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_EQ(a.GetMax() - a.GetMin(), 0);
    EXPECT_THROW(a.GetAt(0), CInvalidArgException);
    a.Add(1);
    EXPECT_THROW(a[1], CInvalidArgException);
    EXPECT_THROW(a[-1], CInvalidArgException);
}

TEST(CIntDataArray, SumSaturatesAndMeanStaysExact) {
    CIntDataArray a;
    a.Add(INT_MAX);
    a.Add(INT_MAX);
    a.Add(INT_MAX);
    EXPECT_EQ(a.GetSum(), INT_MAX);
    EXPECT_EQ(a.GetMean(), INT_MAX); // no overflow inside the mean either
    CIntDataArray b;
    b.Add(INT_MIN);
    b.Add(-1);
    EXPECT_EQ(b.GetSum(), INT_MIN);
    EXPECT_EQ(b.GetMean(), INT_MIN / 2); // (-2^31 - 1) / 2 truncated
    CIntDataArray c;
    c.Add(INT_MAX);
    c.Add(INT_MIN);
    EXPECT_EQ(c.GetSum(), -1); // partial overflow that cancels stays exact
}

TEST(CPointArray, AddAppendAndOrder) {
    CPointArray a;
    CPoint p(1, 2), q(3, 4);
    a.Add(p);
    a.Add(q);
    CPointArray b;
    CPoint r(5, 6);
    b.Add(r);
    b.Append(a);
    ASSERT_EQ(b.GetSize(), 3);
    EXPECT_EQ(b.GetCount(), 3);
    EXPECT_EQ(b.GetAt(0), CPoint(5, 6));
    EXPECT_EQ(b.GetAt(1), CPoint(1, 2));
    EXPECT_EQ(b.GetAt(2), CPoint(3, 4));
    EXPECT_THROW(b.GetAt(3), CInvalidArgException);
}
