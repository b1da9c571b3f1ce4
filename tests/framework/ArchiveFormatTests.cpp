// The archive against byte vectors spelled out by hand from the framework's published format.
#include "ArchiveTestSupport.h"
#include "TestClasses.h"

#include <memory>
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
    WORD w;
    CString s;
    BYTE buf[8];
    using E = CArchiveException;
    // The cause on a storing archive, on a loading one over 01 02 03, and on one over 16 zeros.
    struct Case {
        std::function<void(CArchive&)> call;
        int storing, threeBytes, zeros;
    } cases[] = {
        {[&](CArchive& ar) { ar >> i; }, E::writeOnly, E::endOfFile, -1},
        {[&](CArchive& ar) { ar >> w >> w; }, E::writeOnly, E::endOfFile, -1},
        {[&](CArchive& ar) { ar.Read(buf, 8); }, E::writeOnly, -1, -1}, // Read never raises at the end
        {[&](CArchive& ar) { ar >> s; }, E::writeOnly, -1, -1},
        {[](CArchive& ar) { ar.ReadObject(nullptr); }, E::writeOnly, E::badIndex, -1},
        {[](CArchive& ar) { ar.ReadCount(); }, E::writeOnly, -1, -1},
        {[](CArchive& ar) { ar << 1; }, -1, E::readOnly, E::readOnly},
        {[](CArchive& ar) { ar.Write("x", 1); }, -1, E::readOnly, E::readOnly},
        {[](CArchive& ar) { ar << CString(L"x"); }, -1, E::readOnly, E::readOnly},
        {[](CArchive& ar) { ar.WriteObject(nullptr); }, -1, E::readOnly, E::readOnly},
        {[](CArchive& ar) { ar.WriteCount(1); }, -1, E::readOnly, E::readOnly},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ArchiveCause([&] { StoreBytes(c.call); }), c.storing);
        EXPECT_EQ(ArchiveCause([&] { LoadBytes({1, 2, 3}, c.call); }), c.threeBytes);
        EXPECT_EQ(ArchiveCause([&] { LoadBytes(Bytes(16, 0), c.call); }), c.zeros);
    }
    LoadBytes({1, 2, 3}, [&](CArchive& ar) {
        EXPECT_EQ(ar.Read(buf, 2), 2u);
        EXPECT_EQ(ar.Read(buf, 8), 1u);
        EXPECT_EQ(buf[0], 3);
        EXPECT_EQ(ar.Read(buf, 8), 0u);
    });
    // A closed archive lets go of its file and refuses more.
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    ar << 7;
    ar.Close();
    EXPECT_EQ(ar.GetFile(), nullptr);
    EXPECT_EQ(file.GetLength(), 4u);
    EXPECT_EQ(ArchiveCause([&] { ar << 8; }), E::genericException);
}

TEST(ArchiveValues, CountsAndStringLengthsTakeTheShortestPrefixAndReadBack) {
    enum Kind { count, narrow, wide };
    struct Case {
        Kind kind;
        ULONGLONG n;
        const char* bytes;
    } cases[] = {
        {count, 0, "0000"},
        {count, 0xFFFE, "FEFF"},
        {count, 0xFFFF, "FFFF FFFF0000"},
        {count, 0x12345678, "FFFF 78563412"},
        {narrow, 0xFE, "FE"},
        {narrow, 0xFF, "FF FF00"},
        {narrow, 0xFFFE, "FF FFFF FEFF0000"},
        {narrow, 0xFFFFFFFF, "FF FFFF FFFFFFFF FFFFFFFF00000000"},
        {wide, 0, "FF FEFF 00"},
        {wide, 0x123456789A, "FF FEFF FF FFFF FFFFFFFF 9A78563412000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(StoreBytes([&](CArchive& ar) {
                      c.kind == count ? ar.WriteCount(c.n) : AfxWriteStringLength(ar, c.n, c.kind == wide);
                  })),
                  Hex(Hx(c.bytes)));
        int charSize = 0;
        ULONGLONG n = 0;
        EXPECT_EQ(LoadBytes(Hx(c.bytes),
                            [&](CArchive& ar) {
                                n = c.kind == count ? ar.ReadCount() : AfxReadStringLength(ar, charSize);
                            }),
                  0u);
        EXPECT_EQ(n, c.n);
        EXPECT_EQ(charSize, c.kind == count ? 0 : c.kind == narrow ? 1 : 2);
    }
    EXPECT_EQ(ArchiveCause([] { StoreBytes([](CArchive& ar) { ar.WriteCount(0x100000000ull); }); }),
              CArchiveException::genericException);
}

TEST(ArchiveStrings, BothFormsAndEveryLengthPrefixReadAndTheWriterWritesTheWideOne) {
    // Each case reads to its text; a canonical one is also what the writer makes of the text.
    struct Case {
        const char* bytes;
        std::wstring text;
        bool canonical;
    } cases[] = {
        {"05 'Arial'", L"Arial", false},
        {"00", L"", false},
        {"FF FEFF 00", L"", true},
        {"FF FEFF 02 4800 E900", L"H\u00e9", true},
        {"FF 0500 'Hello'", L"Hello", false}, // longer prefixes than needed are accepted
        {"FF FFFF 03000000 'abc'", L"abc", false},
        {"FF FFFF FFFFFFFF 0300000000000000 'abc'", L"abc", false},
        {"FF FEFF FF 0200 6F00 6B00", L"ok", false},
        {"03 'A' 00 'B'", std::wstring(L"A\0B", 3), false}, // embedded NULs are characters
        {"FF FEFF 03 4100 0000 4200", std::wstring(L"A\0B", 3), true},
        {"FF FEFF 02 3DD8 00DE", L"\U0001F600", true}, // beyond the basic plane: surrogate pairs
        {"FF FEFF 03 FFDB FFDF 6100", L"\U0010FFFFa", true},
        {"FF FEFF 05 00D8 4100 00DC 01DC 01D8", {0xD800, 'A', 0xDC00, 0xDC01, 0xD801}, true}, // unpaired pass
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadString(Hx(c.bytes)), CString(c.text)) << c.bytes;
        if (c.canonical) {
            EXPECT_EQ(Hex(WriteString(CString(c.text))), Hex(Hx(c.bytes)));
        }
    }
    // A value beyond Unicode cannot be stored and becomes the replacement character.
    EXPECT_EQ(Hex(WriteString(CString(std::wstring(1, static_cast<wchar_t>(0x110000))))),
              Hex(Hx("FF FEFF 01 FDFF")));
    // After the wide marker, 0xFFFE is a length, not a second marker.
    EXPECT_EQ(ReadString(Hx("FF FEFF FF FEFF") + Units(std::vector<unsigned>(0xFFFE, 'x'))),
              CString(L'x', 0xFFFE));

    // The writer takes the shortest prefix for the length, as the counts above show, for long text too.
    for (int length : {254, 0xFFFE}) {
        const CString text(L'x', length);
        const Bytes written = WriteString(text);
        EXPECT_EQ(ReadString(written), text);
        EXPECT_EQ(Hex(Bytes(written.begin(), written.begin() + (length > 0xFF ? 10 : 4))),
                  length > 0xFF ? "ff fe ff ff ff ff fe ff 00 00" : "ff fe ff fe");
    }
}

TEST(ArchiveStrings, EightBitStringsAreWidenedThroughTheChosenCodePage) {
    Bytes high = Hx("06 80 8A 9F A0 FF 81");
    EXPECT_EQ(ReadString(high), CString(L"\u20AC\u0160\u0178\u00A0\u00FF\u0081"));
    EXPECT_EQ(ReadString(high, 28591), CString(L"\u0080\u008A\u009F\u00A0\u00FF\u0081"));
    EXPECT_EQ(ReadString(Hx("04 C3A9 FF 'A'"), 65001), CString(std::wstring{0xE9, 0xDCFF, 'A'}));
    EXPECT_THROW(LoadBytes({0x00}, [](CArchive& ar) { ar.SetAnsiCodePage(932); }), CInvalidArgException);
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
    {
        std::vector<std::unique_ptr<CTestEmpty>> objects;
        for (int i = 0; i < count; ++i)
            objects.push_back(std::make_unique<CTestEmpty>());
        CTestNode a(1), b(2);
        Bytes written = StoreBytes([&](CArchive& ar) {
            for (auto& o : objects)
                ar << o.get();
            ar << objects[count - 3].get() << objects[1].get() << objects[count - 2].get();
            ar << &a << &b << &b; // class 0x8001, objects 0x8002 and 0x8003
        });
        // The last index that fits a WORD, an early one, then the big form for objects and a class.
        Bytes tail = Hx("FE7F 0300 FF7F FF7F0000" + Cls(2, "CTestNode") +
                        "01000000 0000 FF7F 01800080 02000000 0000 FF7F 03800000");
        ASSERT_EQ(written.size(), 16 + 2u * (count - 1) + tail.size());
        EXPECT_EQ(Hex(Bytes(written.end() - tail.size(), written.end())), Hex(tail));
    }
    std::string in = Cls(0, "CTestEmpty");
    for (int i = 1; i < count; ++i)
        in += "0180";
    // The object 0x7FFF; class 1 in the big form (a new object, 0x8001); that object again;
    // the first object in a non-canonical big form.
    in += "FF7F FF7F0000 FF7F 01000080 FF7F 01800000 FF7F 02000000";
    std::vector<CObject*> read;
    EXPECT_EQ(LoadBytes(Hx(in),
                        [&](CArchive& ar) {
                            for (int i = 0; i < count + 4; ++i)
                                read.push_back(ar.ReadObject(RUNTIME_CLASS(CTestEmpty)));
                        }),
              0u);
    ASSERT_EQ(read.size(), count + 4u);
    EXPECT_EQ(read[count], read[0x7FFF - 2]);
    EXPECT_NE(read[count + 1], read[count]);
    EXPECT_EQ(read[count + 2], read[count + 1]);
    EXPECT_EQ(read[count + 3], read[0]);
    EXPECT_EQ(CArenaObject::Size(), count + 1u);
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
    EXPECT_EQ(inner->m_value, 42);
    // Schema 1 of the same class: the older body has no extra WORD.
    EXPECT_EQ(LoadBytes(Hx(Cls(1, "CTestVersioned") + "0000"), [&](CArchive& ar) { ar >> v; }), 0u);
    EXPECT_EQ(v->m_nFirstSchema, 1u);
    CArenaObject::Clear();

    // Serialize called directly, and storing, see no schema; the stored schema is 3 alone.
    CTestVersioned direct;
    LoadBytes({0x00, 0x00}, [&](CArchive& ar) { direct.Serialize(ar); });
    EXPECT_EQ(direct.m_nFirstSchema, 0xFFFFFFFFu);
    direct.m_extra = 0x0102;
    Bytes written = StoreBytes([&](CArchive& ar) {
        EXPECT_EQ(ar.GetObjectSchema(), 0xFFFFFFFFu);
        ar << &direct;
    });
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
