// CString, CArray and CRect: the parts of the framework that the image code leans on.
#include "framework/afx.h"

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

std::vector<std::wstring> Texts(std::initializer_list<CString> strings) {
    std::vector<std::wstring> out;
    for (const CString& s : strings)
        out.push_back(s.GetString());
    return out;
}

} // namespace

TEST(CStringFormat, NumbersAndTextFollowPrintfRulesWithWideTextByDefault) {
    CString appended(L"keep");
    appended.AppendFormat(L" %d", 5);
    struct Case {
        CString got;
        const wchar_t* want;
    } cases[] = {
        {Fmt(L"%d", -42), L"-42"},
        {Fmt(L"(%.3d,%.3d)=[%.3d]", 7, 12, 1234), L"(007,012)=[1234]"},
        {Fmt(L"Brightness %0.2f,Contrast %0.2f", 1.005, -0.5),
         L"Brightness 1.00,Contrast -0.50"}, // 1.005 is below
        {Fmt(L"%0.3f|%0.3f", 2.0, 0.0626), L"2.000|0.063"},
        {Fmt(L"%5d|%-5d|%05d|%x|%X|%u", 42, 42, 42, 255, 255, 4000000000u),
         L"   42|42   |00042|ff|FF|4000000000"},
        {Fmt(L"%I64d|%lld|%*d|%%", -(1LL << 40), 123456789012LL, 4, 7),
         L"-1099511627776|123456789012|   7|%"},
        {Fmt(L"[%s] [%5s] [%.2s]", L"Gel \u00fc\u4e2d", L"ab", L"xyz"), L"[Gel \u00fc\u4e2d] [   ab] [xy]"},
        {Fmt(L"%c%c", L'\u00e9', L'A'), L"\u00e9A"},
        {Fmt(L"%S|%hs", "caf\xC3\xA9", "n"), L"caf\u00e9|n"}, // narrow text is UTF-8 whatever the locale
        {Fmt(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)"},
        {appended, L"keep 5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, CString(c.want));
}

TEST(CStringText, MidFindAndCompareWithoutCase) {
    CString s(L"Gel Lane 12");
    EXPECT_EQ(Texts({s.Mid(4), s.Mid(4, 4), s.Mid(-3, 3), s.Mid(9, 100), s.Mid(50), s.Left(3), s.Right(2)}),
              (std::vector<std::wstring>{L"Lane 12", L"Lane", L"Gel", L"12", L"", L"Gel", L"12"}));
    EXPECT_EQ((std::vector<int>{s.Find(L'L'), s.Find(L"12"), s.Find(L'e', 2), s.Find(L'e', 1), s.Find(L"x"),
                                s.Find(L'G', 100), s.ReverseFind(L'e')}),
              (std::vector<int>{4, 9, 7, 1, -1, -1, 7}));
    EXPECT_EQ(CString(L"TIFF").CompareNoCase(L"tiff"), 0);
    EXPECT_EQ(CString(L"\u00c9CRAN").CompareNoCase(L"\u00e9cran"), 0);
    EXPECT_LT(CString(L"abc").CompareNoCase(L"ABD"), 0);
    EXPECT_GT(CString(L"abcd").CompareNoCase(L"ABC"), 0);
    EXPECT_LT(CString(L"B").Compare(L"a"), 0); // ordinal: uppercase first
    EXPECT_EQ(CString(L"a") + L"b" + CString(L"c") + L'd', CString(L"abcd"));
}

TEST(CStringUtf8, NonAsciiAndInvalidBytesRoundTrip) {
    CString s(L"gel-\u00e9\u4e2d\U0001F600");
    std::string utf8 = s.ToUtf8();
    EXPECT_EQ(utf8, "gel-\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(CString::FromUtf8(utf8), s);
    EXPECT_EQ(std::string(CT2A(s)), utf8);
    // Bytes that are not UTF-8 (a Latin-1 name, a lone continuation, an overlong form, an
    // encoded surrogate, sequences cut at the end) come back as the same bytes.
    std::string invalid = "caf\xE9-\x80-\xC0\xAF-\xED\xA0\x80-\xF4\x90\x80\x80";
    EXPECT_EQ(CString::FromUtf8(invalid)[3], static_cast<wchar_t>(0xDCE9));
    for (std::string bytes :
         {invalid, std::string("\xC3"), std::string("\xE4\xB8"), std::string("\xF0\x9F\x98")})
        EXPECT_EQ(CString::FromUtf8(bytes).ToUtf8(), bytes);
}

TEST(CArrayTest, CheckedIndexRaisesInvalidArgumentCaughtAsTheBaseException) {
    CArray<int, int> a;
    EXPECT_THROW(a[0], CInvalidArgException);
    a.Add(5);
    EXPECT_EQ(a.GetAt(0), 5);
    const CArray<int, int>& c = a;
    const std::function<void()> outside[] = {
        [&] { a[1]; },          [&] { a[-1]; },         [&] { a.GetAt(1); }, [&] { a.ElementAt(-1); },
        [&] { a.SetAt(1, 0); }, [&] { a.SetSize(-1); }, [&] { c[7]; }};
    for (const auto& f : outside) {
        try {
            f();
            ADD_FAILURE() << "no exception";
        } catch (CException& e) {
            EXPECT_TRUE(e.IsKindOf(RUNTIME_CLASS(CInvalidArgException)));
        }
    }
}

TEST(CArrayTest, AddAppendSetSizeAndRemove) {
    CArray<double, double> a, b;
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(a.Add(i * 0.5), i);
    EXPECT_EQ(a[999], 499.5);
    b.Add(-1);
    b.Add(-2);
    EXPECT_EQ(a.Append(b), 1000);
    EXPECT_EQ(a.GetSize(), 1002);
    EXPECT_EQ(a[1001], -2);
    EXPECT_EQ(b.Append(b), 2); // appending itself doubles it
    EXPECT_EQ(std::vector<double>(b.GetData(), b.GetData() + b.GetSize()),
              (std::vector<double>{-1, -2, -1, -2}));
    a.SetSize(3);
    a.SetSize(5);
    EXPECT_EQ(std::vector<double>(a.GetData(), a.GetData() + a.GetSize()),
              (std::vector<double>{0, 0.5, 1, 0, 0}));
    a.RemoveAll();
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_EQ(a.GetData(), nullptr);
    CStringArray names;
    names.Add(CString(L"lane"));
    names.SetAtGrow(2, CString(L"band"));
    EXPECT_EQ(Texts({names[0], names[1], names[2]}), (std::vector<std::wstring>{L"lane", L"", L"band"}));
}

TEST(CRectTest, NormaliseIntersectUnionAndHalfOpenPointTest) {
    CRect r(10, 20, 2, 5);
    EXPECT_EQ(r.Width(), -8);
    EXPECT_TRUE(r.IsRectEmpty());
    EXPECT_FALSE(r.PtInRect(CPoint(3, 6))); // not normalised: nothing is inside
    r.NormalizeRect();
    EXPECT_EQ(r, CRect(2, 5, 10, 20));
    EXPECT_EQ(r.Width(), 8);
    EXPECT_EQ(r.Height(), 15);
    CRect i;
    EXPECT_TRUE(i.IntersectRect(&r, CRect(8, 0, 30, 6)));
    EXPECT_EQ(i, CRect(8, 5, 10, 6));
    // Rectangles that only touch share nothing: the result is empty and all zero.
    EXPECT_FALSE(i.IntersectRect(&r, CRect(10, 5, 12, 20)));
    EXPECT_EQ(i, CRect(0, 0, 0, 0));
    RECT out;
    EXPECT_TRUE(IntersectRect(&out, CRect(0, 0, 4, 4), CRect(3, 3, 9, 9)));
    EXPECT_EQ(CRect(out), CRect(3, 3, 4, 4));
    // left <= x < right and top <= y < bottom.
    struct Probe {
        int x, y;
        bool inside;
    } probes[] = {{2, 5, true}, {9, 19, true}, {10, 19, false}, {9, 20, false}, {1, 5, false}};
    for (const auto& p : probes) {
        EXPECT_EQ(!!r.PtInRect(CPoint(p.x, p.y)), p.inside) << p.x << "," << p.y;
        EXPECT_EQ(!!PtInRect(&r, CPoint(p.x, p.y)), p.inside) << p.x << "," << p.y;
    }
    i.UnionRect(CRect(0, 0, 1, 1), CRect(5, 5, 6, 7));
    EXPECT_EQ(i, CRect(0, 0, 6, 7));
    EXPECT_EQ(CRect(CPoint(1, 2), CSize(3, 4)), CRect(1, 2, 4, 6));
}
