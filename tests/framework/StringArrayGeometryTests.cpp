// CString, CArray and CRect: the parts of the framework that the image code leans on.
#include "platform/framework/afx.h"

#include <climits>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

template <class... Args> CString Fmt(const wchar_t* format, Args... args) {
    CString s;
    s.Format(format, args...);
    return s;
}

template <class T> std::vector<T> Items(const CArray<T, T>& a) {
    return std::vector<T>(a.GetData(), a.GetData() + a.GetSize());
}

} // namespace

TEST(CStringTest, FormatFollowsPrintfWithWideText) {
    const std::pair<CString, const wchar_t*> cases[] = {
        {Fmt(L"(%.3d,%.3d)=[%.3d]", 7, 12, 1234), L"(007,012)=[1234]"},
        {Fmt(L"Brightness %0.2f,Contrast %0.2f", 1.005, -0.5),
         L"Brightness 1.00,Contrast -0.50"}, // 1.005 is below
        {Fmt(L"[%s] [%5s] [%.2s] %c", L"Gel \u00fc\u4e2d", L"ab", L"xyz", L'\u00e9'),
         L"[Gel \u00fc\u4e2d] [   ab] [xy] \u00e9"}};
    for (const auto& [got, want] : cases)
        EXPECT_EQ(got, CString(want));
}

TEST(CStringTest, MidClampsItsRange) {
    CString s(L"Gel Lane 12");
    EXPECT_EQ((std::vector<CString>{s.Mid(4), s.Mid(4, 4), s.Mid(-3, 3), s.Mid(9, 100), s.Mid(50)}),
              (std::vector<CString>{L"Lane 12", L"Lane", L"Gel", L"12", L""}));
}

TEST(CStringTest, FindGivesMinusOneWhenAbsent) {
    CString s(L"Gel Lane 12");
    EXPECT_EQ((std::vector<int>{s.Find(L"12"), s.Find(L'e', 2), s.Find(L"x"), s.Find(L'G', 100),
                                s.ReverseFind(L'e')}),
              (std::vector<int>{9, 7, -1, -1, 7}));
}

TEST(CStringTest, CompareNoCaseFoldsBeyondAsciiCompareIsOrdinal) {
    EXPECT_EQ((std::vector<int>{CString(L"\u00c9CRAN").CompareNoCase(L"\u00e9cran"),
                                CString(L"abc").CompareNoCase(L"ABD") < 0,
                                CString(L"abcd").CompareNoCase(L"ABC") > 0, CString(L"B").Compare(L"a") < 0}),
              (std::vector<int>{0, 1, 1, 1})); // ordinal Compare: uppercase first
}

TEST(CStringTest, Utf8RoundTripsEvenInvalidBytes) {
    CString s(L"gel-\u00e9\u4e2d\U0001F600");
    EXPECT_EQ(s.ToUtf8(), "gel-\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(CString::FromUtf8(s.ToUtf8()), s);
    // Bytes that are not UTF-8 (a Latin-1 name, a lone continuation, an overlong form, an
    // encoded surrogate, sequences cut at the end) come back as the same bytes.
    const std::string invalid = "caf\xE9-\x80-\xC0\xAF-\xED\xA0\x80-\xF4\x90\x80\x80";
    EXPECT_EQ(CString::FromUtf8(invalid)[3], static_cast<wchar_t>(0xDCE9));
    for (std::string bytes :
         {invalid, std::string("\xC3"), std::string("\xE4\xB8"), std::string("\xF0\x9F\x98")})
        EXPECT_EQ(CString::FromUtf8(bytes).ToUtf8(), bytes);
}

TEST(CArrayTest, GrowthKeepsTheItemsEvenAppendingItself) {
    CArray<double, double> a, b;
    for (int i = 0; i < 1000; ++i)
        a.Add(i * 0.5);
    b.Add(-1);
    b.Add(-2);
    EXPECT_EQ(a.Append(b), 1000);
    EXPECT_EQ(b.Append(b), 2); // appending itself doubles it
    EXPECT_EQ(Items(b), (std::vector<double>{-1, -2, -1, -2}));
    a.SetSize(3);
    a.SetSize(5);
    EXPECT_EQ(Items(a), (std::vector<double>{0, 0.5, 1, 0, 0}));
    a.RemoveAll();
    EXPECT_EQ(a.GetData(), nullptr);
}

TEST(CArrayTest, AnIndexOutsideRaisesInvalidArgumentCaughtAsTheBaseException) {
    CArray<double, double> a;
    a.SetSize(5);
    const CArray<double, double>& c = a;
    const std::function<void()> outside[] = {[&] { a[5]; },          [&] { a[-1]; },
                                             [&] { a.GetAt(5); },    [&] { a.SetAt(5, 0); },
                                             [&] { a.SetSize(-1); }, [&] { c[7]; }};
    for (const auto& f : outside) {
        try {
            f();
            ADD_FAILURE() << "no exception";
        } catch (CException& e) {
            EXPECT_TRUE(e.IsKindOf(RUNTIME_CLASS(CInvalidArgException)));
        }
    }
}

TEST(CRectTest, NormalisedRectanglesIntersectButTouchingOnesShareNothing) {
    CRect r(10, 20, 2, 5);
    r.NormalizeRect();
    EXPECT_EQ(r, CRect(2, 5, 10, 20));
    CRect i;
    EXPECT_TRUE(i.IntersectRect(&r, CRect(8, 0, 30, 6)));
    EXPECT_EQ(i, CRect(8, 5, 10, 6));
    EXPECT_FALSE(i.IntersectRect(&r, CRect(10, 5, 12, 20)));
    EXPECT_EQ(i, CRect(0, 0, 0, 0));
}

// left <= x < right and top <= y < bottom, for the member and the free function.
TEST(CRectTest, PointsInsideAreHalfOpen) {
    CRect r(10, 20, 2, 5);
    EXPECT_FALSE(r.PtInRect(CPoint(3, 6))); // not normalised: nothing is inside
    r.NormalizeRect();
    const std::pair<CPoint, bool> probes[] = {
        {{2, 5}, true}, {{9, 19}, true}, {{10, 19}, false}, {{9, 20}, false}, {{1, 5}, false}};
    for (const auto& [p, inside] : probes) {
        EXPECT_EQ(!!r.PtInRect(p), inside) << p.x << "," << p.y;
        EXPECT_EQ(!!PtInRect(&r, p), inside) << p.x << "," << p.y;
    }
}

// Positions come from archives: arithmetic on them stops at the ends of int instead of wrapping.
TEST(CRectTest, ArithmeticSaturatesAtTheEndsOfInt) {
    CRect r(INT_MIN + 1, -5, INT_MAX - 1, 5);
    EXPECT_EQ(r.Width(), INT_MAX);
    r.InflateRect(10, 10);
    EXPECT_EQ(r, CRect(INT_MIN, -15, INT_MAX, 15));
    r.OffsetRect(-10, INT_MAX);
    EXPECT_EQ(r, CRect(INT_MIN, INT_MAX - 15, INT_MAX - 10, INT_MAX));
    EXPECT_EQ(r.CenterPoint(), CPoint(-5, INT_MAX - 8));
    EXPECT_EQ(CPoint(INT_MIN, 0) - CPoint(1, 0), CSize(INT_MIN, 0));
}
