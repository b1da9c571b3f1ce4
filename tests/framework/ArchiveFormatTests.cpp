// The archive against byte vectors spelled out by hand from the framework's published format.
#include "ArchiveTestSupport.h"
#include "TestClasses.h"
#include "TestTables.h"

#include <sstream>
#include <tuple>

namespace {

// The string read from bytes; as a std::wstring for readable failures.
std::wstring ReadString(const Bytes& bytes, UINT codePage = 1252) {
    CString s;
    ULONGLONG left = LoadBytes(bytes, [&](CArchive& ar) {
        ar.SetAnsiCodePage(codePage);
        ar >> s;
    });
    EXPECT_EQ(left, 0u) << "the string did not end where its length said";
    return std::wstring(s.GetString(), s.GetLength());
}

Bytes WriteString(const std::wstring& s) {
    return StoreBytes([&](CArchive& ar) { ar << CString(s); });
}

} // namespace

TEST(ArchiveValues, RawValuesAreLittleEndianWithoutPadding) {
    using Values = std::tuple<BYTE, WORD, short, int, DWORD, LONGLONG, ULONGLONG, float, double, bool, char,
                              CPoint, CSize, CRect>;
    const Values values{0x12, 0x3456, -2,   -3,  0x89ABCDEF,    -4,          0x0102030405060708,
                        1.5f, -2.25,  true, 'A', CPoint(1, -1), CSize(2, 3), CRect(4, 5, 6, 7)};
    Bytes expected =
        Hx("12 5634 FEFF FDFFFFFF EFCDAB89 FCFFFFFFFFFFFFFF 0807060504030201 0000C03F 00000000000002C0 "
           "01 41 01000000 FFFFFFFF 02000000 03000000 04000000 05000000 06000000 07000000");
    EXPECT_EQ(Hex(StoreBytes(
                  [&](CArchive& ar) { std::apply([&](const auto&... v) { (ar << ... << v); }, values); })),
              Hex(expected));
    Values read{};
    EXPECT_EQ(
        LoadBytes(expected, [&](CArchive& ar) { std::apply([&](auto&... v) { (ar >> ... >> v); }, read); }),
        0u);
    EXPECT_TRUE(read == values);
}

// A text spelled as 'quoted' ASCII and hex code points.
static std::wstring Spelled(const std::string& spelled) {
    std::wstring text;
    for (size_t i = 0; i < spelled.size(); ++i) {
        if (spelled[i] == '\'') {
            const size_t end = spelled.find('\'', i + 1);
            text.append(spelled.begin() + i + 1, spelled.begin() + end);
            i = end;
        } else if (spelled[i] != ' ') {
            size_t digits = 0;
            text += static_cast<wchar_t>(std::stoul(spelled.substr(i), &digits, 16));
            i += digits - 1;
        }
    }
    return text;
}

TEST(ArchiveStrings, CountsLengthsStringsFollowTheirTable) {
    const std::vector<std::string> rows = TableRows("framework/data/counted-strings.txt");
    for (const std::string& line : rows) {
        const size_t bar1 = line.find('|'), bar2 = line.find('|', bar1 + 1);
        std::istringstream kindAndPage(line.substr(0, bar1));
        std::string kind;
        UINT codePage = 1252;
        kindAndPage >> kind >> codePage;
        const Bytes bytes = Hx(line.substr(bar1 + 1, bar2 - bar1 - 1));
        const std::string value = line.substr(bar2 + 1);
        SCOPED_TRACE(line);
        if (kind == "read" || kind == "write") {
            EXPECT_EQ(ReadString(bytes, codePage), Spelled(value));
            if (kind == "write") {
                EXPECT_EQ(Hex(WriteString(Spelled(value))), Hex(bytes));
            }
            continue;
        }
        const ULONGLONG n = std::stoull(value, nullptr, 0);
        EXPECT_EQ(Hex(StoreBytes([&](CArchive& ar) {
                      kind == "count" ? ar.WriteCount(n) : AfxWriteStringLength(ar, n, kind == "wide");
                  })),
                  Hex(bytes));
        int charSize = 0;
        ULONGLONG read = 0;
        EXPECT_EQ(LoadBytes(bytes,
                            [&](CArchive& ar) {
                                read = kind == "count" ? ar.ReadCount() : AfxReadStringLength(ar, charSize);
                            }),
                  0u);
        EXPECT_EQ(read, n);
        EXPECT_EQ(charSize, kind == "count" ? 0 : kind == "narrow" ? 1 : 2);
    }
    EXPECT_EQ(rows.size(), 26u);
    // A value beyond Unicode cannot be stored and becomes the replacement character.
    EXPECT_EQ(Hex(WriteString(std::wstring(1, static_cast<wchar_t>(0x110000)))), Hex(Hx("FF FEFF 01 FDFF")));
    // After the wide marker, 0xFFFE is a length, not a second marker.
    EXPECT_EQ(ReadString(Hx("FF FEFF FF FEFF") + Units(std::vector<unsigned>(0xFFFE, 'x'))),
              std::wstring(0xFFFE, L'x'));
}

TEST(ArchiveObjects, ObjectGraphsRoundTripThroughThePublishedIndices) {
    Bytes expected = Hx(Cls(2, "CTestNode") + "07000000 0000"      // class 1, object 2 (n1)
                        + "0180 08000000 0000"                     // object 3 (n2)
                        + Cls(2, "CTestDerived") + "09000000 0000" // class 4, object 5
                        + "0200 0000"                              // n1 again, null
                        + Cls(1, "CTestLink") + "0300"             // class 6, object 7 -> n2
                        + "0180 0A000000 0800");                   // object 8, its child is itself
    {
        CTestNode n1(7), n2(8), self(10);
        CTestDerived d(9);
        CTestLink link(&n2);
        self.m_pChild = &self;
        Bytes written = StoreBytes([&](CArchive& ar) {
            ar << &n1 << &n2 << &d << &n1 << static_cast<CObject*>(nullptr) << &link << &self;
        });
        EXPECT_EQ(Hex(written), Hex(expected));
    }
    CObject* ob[7] = {};
    EXPECT_EQ(LoadBytes(expected,
                        [&](CArchive& ar) {
                            for (CObject*& o : ob)
                                ar >> o;
                        }),
              0u);
    // Written out again, the graph read gives the same bytes: same values, classes and identities
    // (so the first object is a CTestNode).
    ASSERT_EQ(Hex(StoreBytes([&](CArchive& ar) {
                  for (CObject* o : ob)
                      ar << o;
              })),
              Hex(expected));
    EXPECT_EQ(static_cast<CTestNode*>(ob[0])->m_nSeenSchema, 2u);
    EXPECT_EQ(CArenaObject::Size(), 5u);
    CArenaObject::Clear();
}
