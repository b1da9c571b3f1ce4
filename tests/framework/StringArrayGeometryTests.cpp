// CString, CArray and CRect: the parts of the framework that the image code leans on.
#include "framework/afx.h"

#include <gtest/gtest.h>

#include <string>

TEST(CStringFormat, NumbersFollowPrintfRules) {
    CString s;
    s.Format(L"%d", -42);
    EXPECT_EQ(s, CString(L"-42"));
    s.Format(L"(%.3d,%.3d)=[%.3d]", 7, 12, 1234);
    EXPECT_EQ(s, CString(L"(007,012)=[1234]"));
    s.Format(L"Brightness %0.2f,Contrast %0.2f", 1.005, -0.5);
    EXPECT_EQ(s, CString(L"Brightness 1.00,Contrast -0.50")); // 1.005 is just below 1.005 in binary
    s.Format(L"%0.3f|%0.3f", 2.0, 0.0626);
    EXPECT_EQ(s, CString(L"2.000|0.063"));
    s.Format(L"%5d|%-5d|%05d|%x|%X|%u", 42, 42, 42, 255, 255, 4000000000u);
    EXPECT_EQ(s, CString(L"   42|42   |00042|ff|FF|4000000000"));
    s.Format(L"%I64d|%lld|%*d|%%", -(1LL << 40), 123456789012LL, 4, 7);
    EXPECT_EQ(s, CString(L"-1099511627776|123456789012|   7|%"));
}

TEST(CStringFormat, TextArgumentsAreWideUnlessMarkedNarrow) {
    CString s;
    s.Format(L"[%s] [%5s] [%.2s]", L"Gel \u00fc\u4e2d", L"ab", L"xyz");
    EXPECT_EQ(s, CString(L"[Gel \u00fc\u4e2d] [   ab] [xy]"));
    s.Format(L"%c%c", L'\u00e9', L'A');
    EXPECT_EQ(s, CString(L"\u00e9A"));
    // Narrow text is UTF-8 here, whatever the process's locale.
    s.Format(L"%S|%hs", "caf\xC3\xA9", "n");
    EXPECT_EQ(s, CString(L"caf\u00e9|n"));
    s.Format(L"%s", static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(s, CString(L"(null)"));
    s = L"keep";
    s.AppendFormat(L" %d", 5);
    EXPECT_EQ(s, CString(L"keep 5"));
}

TEST(CStringText, MidFindAndCompareWithoutCase) {
    CString s(L"Gel Lane 12");
    EXPECT_EQ(s.Mid(4), CString(L"Lane 12"));
    EXPECT_EQ(s.Mid(4, 4), CString(L"Lane"));
    EXPECT_EQ(s.Mid(-3, 3), CString(L"Gel"));
    EXPECT_EQ(s.Mid(9, 100), CString(L"12"));
    EXPECT_EQ(s.Mid(50), CString());
    EXPECT_EQ(s.Left(3), CString(L"Gel"));
    EXPECT_EQ(s.Right(2), CString(L"12"));
    EXPECT_EQ(s.Find(L'L'), 4);
    EXPECT_EQ(s.Find(L"12"), 9);
    EXPECT_EQ(s.Find(L'e', 2), 7);
    EXPECT_EQ(s.Find(L'e', 1), 1);
    EXPECT_EQ(s.Find(L"x"), -1);
    EXPECT_EQ(s.Find(L'G', 100), -1);
    EXPECT_EQ(s.ReverseFind(L'e'), 7);
    EXPECT_EQ(CString(L"TIFF").CompareNoCase(L"tiff"), 0);
    EXPECT_EQ(CString(L"\u00c9CRAN").CompareNoCase(L"\u00e9cran"), 0);
    EXPECT_LT(CString(L"abc").CompareNoCase(L"ABD"), 0);
    EXPECT_GT(CString(L"abcd").CompareNoCase(L"ABC"), 0);
    EXPECT_LT(CString(L"B").Compare(L"a"), 0); // ordinal: uppercase first
    CString e(L"x");
    EXPECT_FALSE(e.IsEmpty());
    e.Empty();
    EXPECT_TRUE(e.IsEmpty());
    EXPECT_EQ(CString(L"a") + L"b" + CString(L"c") + L'd', CString(L"abcd"));
}

TEST(CStringUtf8, NonAsciiAndInvalidBytesRoundTrip) {
    CString s(L"gel-\u00e9\u4e2d\U0001F600");
    std::string utf8 = s.ToUtf8();
    EXPECT_EQ(utf8, "gel-\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(CString::FromUtf8(utf8), s);
    EXPECT_EQ(std::string(CT2A(s)), utf8);
    // Bytes that are not UTF-8 (a Latin-1 name, a lone continuation, an overlong form, an
    // encoded surrogate) come back as the same bytes.
    std::string invalid = "caf\xE9-\x80-\xC0\xAF-\xED\xA0\x80-\xF4\x90\x80\x80";
    CString w = CString::FromUtf8(invalid);
    EXPECT_EQ(w[3], static_cast<wchar_t>(0xDCE9));
    EXPECT_EQ(w.ToUtf8(), invalid);
    // Truncated sequences at the end.
    for (const char* cut : {"\xC3", "\xE4\xB8", "\xF0\x9F\x98"})
        EXPECT_EQ(CString::FromUtf8(cut).ToUtf8(), cut);
}

TEST(CArrayTest, CheckedIndexRaisesInvalidArgument) {
    CArray<int, int> a;
    EXPECT_THROW(a[0], CInvalidArgException);
    a.Add(5);
    EXPECT_EQ(a[0], 5);
    EXPECT_EQ(a.GetAt(0), 5);
    EXPECT_THROW(a[1], CInvalidArgException);
    EXPECT_THROW(a[-1], CInvalidArgException);
    EXPECT_THROW(a.GetAt(1), CInvalidArgException);
    EXPECT_THROW(a.ElementAt(-1), CInvalidArgException);
    EXPECT_THROW(a.SetAt(1, 0), CInvalidArgException);
    EXPECT_THROW(a.SetSize(-1), CInvalidArgException);
    const CArray<int, int>& c = a;
    EXPECT_THROW(c[7], CInvalidArgException);
    // Thrown by value, caught by reference as the framework's base exception.
    bool caught = false;
    try {
        a[3] = 1;
    } catch (CException& e) {
        caught = e.IsKindOf(RUNTIME_CLASS(CInvalidArgException));
    }
    EXPECT_TRUE(caught);
}

TEST(CArrayTest, AddAppendSetSizeAndRemove) {
    CArray<double, double> a;
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(a.Add(i * 0.5), i);
    EXPECT_EQ(a.GetSize(), 1000);
    EXPECT_EQ(a.GetCount(), 1000);
    EXPECT_EQ(a[999], 499.5);
    CArray<double, double> b;
    b.Add(-1);
    b.Add(-2);
    EXPECT_EQ(a.Append(b), 1000);
    EXPECT_EQ(a.GetSize(), 1002);
    EXPECT_EQ(a[1001], -2);
    EXPECT_EQ(b.Append(b), 2); // appending itself doubles it
    EXPECT_EQ(b.GetSize(), 4);
    EXPECT_EQ(b[3], -2);
    a.SetSize(3);
    EXPECT_EQ(a.GetSize(), 3);
    EXPECT_EQ(a[2], 1.0);
    a.SetSize(5);
    EXPECT_EQ(a[4], 0.0); // new elements are zero
    EXPECT_EQ(a.GetData()[1], 0.5);
    a.RemoveAll();
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_EQ(a.GetData(), nullptr);
    CStringArray names;
    names.Add(CString(L"lane"));
    names.SetAtGrow(2, CString(L"band"));
    EXPECT_EQ(names.GetSize(), 3);
    EXPECT_TRUE(names[1].IsEmpty());
}

TEST(CRectTest, NormaliseIntersectAndHalfOpenPointTest) {
    CRect r(10, 20, 2, 5);
    EXPECT_EQ(r.Width(), -8);
    EXPECT_TRUE(r.IsRectEmpty());
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
    EXPECT_TRUE(r.PtInRect(CPoint(2, 5)));
    EXPECT_TRUE(r.PtInRect(CPoint(9, 19)));
    EXPECT_FALSE(r.PtInRect(CPoint(10, 19)));
    EXPECT_FALSE(r.PtInRect(CPoint(9, 20)));
    EXPECT_FALSE(r.PtInRect(CPoint(1, 5)));
    EXPECT_TRUE(PtInRect(&r, CPoint(5, 5)));
    EXPECT_FALSE(CRect(5, 5, 2, 2).PtInRect(CPoint(3, 3))); // not normalised: nothing is inside

    CRect u;
    u.UnionRect(CRect(0, 0, 1, 1), CRect(5, 5, 6, 7));
    EXPECT_EQ(u, CRect(0, 0, 6, 7));
    EXPECT_EQ(CRect(CPoint(1, 2), CSize(3, 4)), CRect(1, 2, 4, 6));
}
