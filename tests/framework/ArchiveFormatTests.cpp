// The archive against byte vectors spelled out by hand from the framework's published format.
#include "ArchiveTestSupport.h"
#include "TestClasses.h"
#include "TestTables.h"

#include <memory>
#include <sstream>
#include <tuple>

namespace {

CString ReadString(const Bytes& bytes, UINT codePage = 1252) {
    CString s;
    ULONGLONG left = LoadBytes(bytes, [&](CArchive& ar) {
        ar.SetAnsiCodePage(codePage);
        ar >> s;
    });
    EXPECT_EQ(left, 0u) << "the string did not end where its length said";
    return s;
}

Bytes WriteString(const CString& s) {
    return StoreBytes([&](CArchive& ar) { ar << s; });
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

TEST(ArchiveValues, EveryCallChecksTheDirectionAndTheEndOfData) {
    int i;
    CString s;
    BYTE buf[8];
    using E = CArchiveException;
    // The cause on a storing archive and on a loading one over 01 02 03: each call that checks the
    // direction itself, and one read through the raw values.
    struct Case {
        std::function<void(CArchive&)> call;
        int storing, threeBytes;
    } cases[] = {
        {[&](CArchive& ar) { ar >> i; }, E::writeOnly, E::endOfFile},
        {[&](CArchive& ar) { ar.Read(buf, 8); }, E::writeOnly, -1}, // Read never raises at the end
        {[&](CArchive& ar) { ar >> s; }, E::writeOnly, -1},
        {[](CArchive& ar) { ar.ReadObject(nullptr); }, E::writeOnly, E::badIndex},
        {[](CArchive& ar) { ar << 1; }, -1, E::readOnly},
        {[](CArchive& ar) { ar << CString(L"x"); }, -1, E::readOnly},
        {[](CArchive& ar) { ar.WriteObject(nullptr); }, -1, E::readOnly},
        {[](CArchive& ar) { ar.WriteCount(1); }, -1, E::readOnly},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ArchiveCause([&] { StoreBytes(c.call); }), c.storing);
        EXPECT_EQ(ArchiveCause([&] { LoadBytes({1, 2, 3}, c.call); }), c.threeBytes);
    }
    // A closed archive lets go of its file and refuses more.
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    ar << 7;
    ar.Close();
    EXPECT_EQ(ar.GetFile(), nullptr);
    EXPECT_EQ(file.GetLength(), 4u);
    EXPECT_EQ(ArchiveCause([&] { ar << 8; }), E::genericException);
}

// A text spelled as 'quoted' ASCII and hex code points; as a std::wstring for readable failures.
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

static std::wstring Text(const CString& s) { return std::wstring(s.GetString(), s.GetLength()); }

TEST(ArchiveStrings, CountsLengthPrefixesAndCountedStringsReadAndWriteAsTheirTableSays) {
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
            EXPECT_EQ(Text(ReadString(bytes, codePage)), Spelled(value));
            if (kind == "write") {
                EXPECT_EQ(Hex(WriteString(CString(Spelled(value)))), Hex(bytes));
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
        EXPECT_EQ(LoadBytes(bytes, [&](CArchive& ar) { read = kind == "count" ? ar.ReadCount() : AfxReadStringLength(ar, charSize); }), 0u);
        EXPECT_EQ(read, n);
        EXPECT_EQ(charSize, kind == "count" ? 0 : kind == "narrow" ? 1 : 2);
    }
    EXPECT_EQ(rows.size(), 26u);
    EXPECT_EQ(ArchiveCause([] { StoreBytes([](CArchive& ar) { ar.WriteCount(0x100000000ull); }); }),
              CArchiveException::genericException);
    EXPECT_THROW(LoadBytes({0x00}, [](CArchive& ar) { ar.SetAnsiCodePage(932); }), CInvalidArgException);
    // A value beyond Unicode cannot be stored and becomes the replacement character.
    EXPECT_EQ(Hex(WriteString(CString(std::wstring(1, static_cast<wchar_t>(0x110000))))), Hex(Hx("FF FEFF 01 FDFF")));
    // After the wide marker, 0xFFFE is a length, not a second marker.
    EXPECT_EQ(ReadString(Hx("FF FEFF FF FEFF") + Units(std::vector<unsigned>(0xFFFE, 'x'))), CString(L'x', 0xFFFE));
}

TEST(ArchiveStrings, EveryUtf16CodeUnitSurvivesARoundTrip) {
    // All units in order, then a run dense in surrogates in a scrambled order.
    std::vector<unsigned> units;
    for (unsigned u = 0; u < 0x10000; ++u)
        units.push_back(u);
    std::uint32_t state = 12345;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1664525u + 1013904223u;
        unsigned pick = state >> 16;
        units.push_back((pick & 3) == 0 ? pick : 0xD800 + (pick & 0x7FF));
    }
    Bytes original = Hx("FF FEFF FF FFFF 204E0100") + Units(units); // 0x14E20 units
    ASSERT_EQ(units.size(), 0x14E20u);
    EXPECT_TRUE(WriteString(ReadString(original)) == original);
}

TEST(ArchiveObjects, WriterFollowsThePublishedIndicesAndTheReaderRebuildsTheGraph) {
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
        CTestDynamicOnly dyn;
        EXPECT_THROW(StoreBytes([&](CArchive& ar) { ar << &dyn; }), CNotSupportedException);
    }
    CObject* ob[7] = {};
    EXPECT_EQ(LoadBytes(expected,
                        [&](CArchive& ar) {
                            for (CObject*& o : ob)
                                ar >> o;
                        }),
              0u);
    // Written out again, the graph read gives the same bytes: same values, classes and identities.
    EXPECT_EQ(Hex(StoreBytes([&](CArchive& ar) {
                  for (CObject* o : ob)
                      ar << o;
              })),
              Hex(expected));
    auto* first = dynamic_cast<CTestNode*>(ob[0]);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->m_nSeenSchema, 2u);
    EXPECT_EQ(CArenaObject::Size(), 5u);
    CArenaObject::Clear();
}

TEST(ArchiveObjects, IndicesOfTheBigFormUseADword) {
    // Class 1, then objects 2..0x8000 (objects[i] has index i + 2): from index 0x7FFF on, a
    // reference takes the form 7FFF + DWORD, with bit 31 set for a class.
    const int count = 0x7FFF;
    Bytes written;
    {
        std::vector<std::unique_ptr<CTestEmpty>> objects;
        for (int i = 0; i < count; ++i)
            objects.push_back(std::make_unique<CTestEmpty>());
        CTestNode a(1), b(2);
        written = StoreBytes([&](CArchive& ar) {
            for (auto& o : objects)
                ar << o.get();
            ar << objects[count - 3].get() << objects[count - 2].get();
            ar << &a << &b << &b; // class 0x8001, objects 0x8002 and 0x8003
        });
    }
    // The last index that fits a WORD, then the big form for objects and a class.
    Bytes tail = Hx("FE7F FF7F FF7F0000" + Cls(2, "CTestNode") + "01000000 0000 FF7F 01800080 02000000 0000 FF7F 03800000");
    ASSERT_EQ(written.size(), 16 + 2u * (count - 1) + tail.size());
    EXPECT_EQ(Hex(Bytes(written.end() - tail.size(), written.end())), Hex(tail));
    // Read back, with the first object again in a big form that a WORD would have held.
    std::vector<CObject*> read;
    EXPECT_EQ(LoadBytes(written + Hx("FF7F 02000000"),
                        [&](CArchive& ar) {
                            while (ar.BytesLeft()) read.push_back(ar.ReadObject(nullptr));
                        }),
              0u);
    ASSERT_EQ(read.size(), count + 6u);
    EXPECT_EQ(read[count], read[count - 3]);
    EXPECT_EQ(read[count + 1], read[count - 2]);
    EXPECT_EQ(read[count + 4], read[count + 3]);
    EXPECT_EQ(read[count + 5], read[0]);
    EXPECT_EQ(CArenaObject::Size(), count + 2u);
    CArenaObject::Clear();
}

TEST(ArchiveObjects, SchemaReachesSerializeOnceIsRestoredAfterANestedReadAndLosesTheVersionableFlag) {
    // A versionable object stored with schema 5 holding a CTestNode (schema 2).
    CTestVersioned* v = nullptr;
    EXPECT_EQ(LoadBytes(Hx(Cls(5, "CTestVersioned") + Cls(2, "CTestNode") + "2A000000 0000 3412"),
                        [&](CArchive& ar) {
                            ar >> v;
                            EXPECT_EQ(ar.GetObjectSchema(), 0xFFFFFFFFu);
                        }),
              0u);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->m_nFirstSchema, 5u);
    EXPECT_EQ(v->m_nSecondSchema, 0xFFFFFFFFu);
    EXPECT_EQ(v->m_extra, 0x1234);
    auto* inner = dynamic_cast<CTestNode*>(v->m_pInner);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->m_nSeenSchema, 2u);
    CArenaObject::Clear();

    // Serialize called directly sees no schema; the stored schema is 3 alone.
    CTestVersioned direct;
    LoadBytes({0x00, 0x00}, [&](CArchive& ar) { direct.Serialize(ar); });
    EXPECT_EQ(direct.m_nFirstSchema, 0xFFFFFFFFu);
    direct.m_extra = 0x0102;
    Bytes written = StoreBytes([&](CArchive& ar) { ar << &direct; });
    EXPECT_EQ(Hex(written), Hex(Hx(Cls(3, "CTestVersioned") + "0000 0201")));
}

TEST(ArchiveObjects, ArraysStoreTheirCountThenTheirElements) {
    CArray<int, int> ints[2];
    CStringArray strings[2];
    CArray<CPoint, CPoint> points[2];
    auto serialize = [&](int k) {
        return [&, k](CArchive& ar) {
            ints[k].Serialize(ar);
            strings[k].Serialize(ar);
            points[k].Serialize(ar);
        };
    };
    ints[0].Add(1);
    ints[0].Add(-2);
    strings[0].Add(CString(L"a"));
    points[0].Add(CPoint(3, 4));
    Bytes expected = Hx("0200 01000000 FEFFFFFF  0100 FF FEFF 01 6100  0100 03000000 04000000");
    EXPECT_EQ(Hex(StoreBytes(serialize(0))), Hex(expected));
    // Read into empty arrays and written again, the bytes come back unchanged.
    EXPECT_EQ(LoadBytes(expected, serialize(1)), 0u);
    EXPECT_EQ(Hex(StoreBytes(serialize(1))), Hex(expected));
}
