// The archive against byte vectors spelled out by hand from the framework's published format.
#include "ArchiveTestSupport.h"
#include "TestClasses.h"

#include <memory>

namespace {

CString Wide(const std::vector<unsigned>& codePoints) {
    std::wstring s;
    for (unsigned c : codePoints)
        s.push_back(static_cast<wchar_t>(c));
    return CString(s);
}

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
    Bytes expected = ByteWriter()
                         .u8(0x12)
                         .u16(0x3456)
                         .u16(0xFFFE)             // short -2
                         .u32(0xFFFFFFFD)         // int -3
                         .u32(0x89ABCDEF)         // DWORD
                         .u64(0xFFFFFFFFFFFFFFFC) // LONGLONG -4
                         .u64(0x0102030405060708)
                         .u32(0x3FC00000)         // float 1.5
                         .u64(0xC002000000000000) // double -2.25
                         .u8(1)                   // bool
                         .u8('A')
                         .u32(1)
                         .u32(0xFFFFFFFF) // POINT (1, -1)
                         .u32(2)
                         .u32(3) // SIZE
                         .u32(4)
                         .u32(5)
                         .u32(6)
                         .u32(7); // RECT
    Bytes written = StoreBytes([](CArchive& ar) {
        ar << static_cast<BYTE>(0x12) << static_cast<WORD>(0x3456) << static_cast<short>(-2) << -3
           << static_cast<DWORD>(0x89ABCDEF) << static_cast<LONGLONG>(-4)
           << static_cast<ULONGLONG>(0x0102030405060708) << 1.5f << -2.25 << true << 'A' << CPoint(1, -1)
           << CSize(2, 3) << CRect(4, 5, 6, 7);
    });
    EXPECT_EQ(Hex(written), Hex(expected));

    BYTE by;
    WORD w;
    short sh;
    int i;
    DWORD dw;
    LONGLONG ll;
    ULONGLONG ull;
    float f;
    double d;
    bool b;
    char c;
    CPoint p;
    CSize sz;
    CRect r;
    EXPECT_EQ(LoadBytes(expected,
                        [&](CArchive& ar) {
                            ar >> by >> w >> sh >> i >> dw >> ll >> ull >> f >> d >> b >> c >> p >> sz >> r;
                        }),
              0u);
    EXPECT_EQ(by, 0x12);
    EXPECT_EQ(w, 0x3456);
    EXPECT_EQ(sh, -2);
    EXPECT_EQ(i, -3);
    EXPECT_EQ(dw, 0x89ABCDEFu);
    EXPECT_EQ(ll, -4);
    EXPECT_EQ(ull, 0x0102030405060708u);
    EXPECT_EQ(f, 1.5f);
    EXPECT_EQ(d, -2.25);
    EXPECT_TRUE(b);
    EXPECT_EQ(c, 'A');
    EXPECT_EQ(p, CPoint(1, -1));
    EXPECT_EQ(sz, CSize(2, 3));
    EXPECT_EQ(r, CRect(4, 5, 6, 7));
}

TEST(ArchiveValues, EndOfDataRaisesForValuesButNotForRead) {
    Bytes three = {1, 2, 3};
    EXPECT_EQ(ArchiveCause([&] {
                  LoadBytes(three, [](CArchive& ar) {
                      DWORD dw;
                      ar >> dw;
                  });
              }),
              CArchiveException::endOfFile);
    EXPECT_EQ(ArchiveCause([&] {
                  LoadBytes(three, [](CArchive& ar) {
                      WORD w;
                      ar >> w >> w;
                  });
              }),
              CArchiveException::endOfFile);
    LoadBytes(three, [](CArchive& ar) {
        BYTE buf[8] = {};
        EXPECT_EQ(ar.Read(buf, 2), 2u);
        EXPECT_EQ(ar.Read(buf, 8), 1u);
        EXPECT_EQ(buf[0], 3);
        EXPECT_EQ(ar.Read(buf, 8), 0u);
    });
}

TEST(ArchiveValues, DirectionIsChecked) {
    auto onStoring = [](const std::function<void(CArchive&)>& f) {
        return ArchiveCause([&] { StoreBytes(f); });
    };
    auto onLoading = [](const std::function<void(CArchive&)>& f) {
        return ArchiveCause([&] { LoadBytes(Bytes(16, 0), f); });
    };
    const int writeOnly = CArchiveException::writeOnly, readOnly = CArchiveException::readOnly;
    EXPECT_EQ(onStoring([](CArchive& ar) {
                  int i;
                  ar >> i;
              }),
              writeOnly);
    EXPECT_EQ(onStoring([](CArchive& ar) {
                  BYTE b;
                  ar.Read(&b, 1);
              }),
              writeOnly);
    EXPECT_EQ(onStoring([](CArchive& ar) {
                  CString s;
                  ar >> s;
              }),
              writeOnly);
    EXPECT_EQ(onStoring([](CArchive& ar) { ar.ReadObject(nullptr); }), writeOnly);
    EXPECT_EQ(onStoring([](CArchive& ar) { ar.ReadCount(); }), writeOnly);
    EXPECT_EQ(onLoading([](CArchive& ar) { ar << 1; }), readOnly);
    EXPECT_EQ(onLoading([](CArchive& ar) { ar.Write("x", 1); }), readOnly);
    EXPECT_EQ(onLoading([](CArchive& ar) { ar << CString(L"x"); }), readOnly);
    EXPECT_EQ(onLoading([](CArchive& ar) { ar.WriteObject(nullptr); }), readOnly);
    EXPECT_EQ(onLoading([](CArchive& ar) { ar.WriteCount(1); }), readOnly);
}

TEST(ArchiveValues, CountsUseAWordThenADword) {
    struct Case {
        ULONGLONG count;
        Bytes bytes;
    } cases[] = {{0, {0x00, 0x00}},
                 {5, {0x05, 0x00}},
                 {0xFFFE, {0xFE, 0xFF}},
                 {0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
                 {0x12345678, {0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12}}};
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(StoreBytes([&](CArchive& ar) { ar.WriteCount(c.count); })), Hex(c.bytes));
        ULONGLONG read = 0;
        EXPECT_EQ(LoadBytes(c.bytes, [&](CArchive& ar) { read = ar.ReadCount(); }), 0u);
        EXPECT_EQ(read, c.count);
    }
    EXPECT_EQ(ArchiveCause([] { StoreBytes([](CArchive& ar) { ar.WriteCount(0x100000000ull); }); }),
              CArchiveException::genericException);
}

TEST(ArchiveStrings, PublishedExamplesRead) {
    EXPECT_EQ(ReadString({0x05, 'A', 'r', 'i', 'a', 'l'}), CString(L"Arial"));
    EXPECT_EQ(ReadString({0x00}), CString());
    EXPECT_EQ(ReadString({0xFF, 0xFE, 0xFF, 0x00}), CString());
    EXPECT_EQ(ReadString({0xFF, 0xFE, 0xFF, 0x02, 'H', 0, 0xE9, 0}), CString(L"H\u00e9"));
    // Non-canonical prefixes are accepted: a WORD, a DWORD and a 64-bit length for short strings.
    EXPECT_EQ(ReadString(ByteWriter().u8(0xFF).u16(5).ascii("Hello")), CString(L"Hello"));
    EXPECT_EQ(ReadString(ByteWriter().u8(0xFF).u16(0xFFFF).u32(3).ascii("abc")), CString(L"abc"));
    EXPECT_EQ(ReadString(ByteWriter().u8(0xFF).u16(0xFFFF).u32(0xFFFFFFFF).u64(3).ascii("abc")),
              CString(L"abc"));
    EXPECT_EQ(ReadString(ByteWriter().u8(0xFF).u16(0xFFFE).u8(0xFF).u16(2).units({'o', 'k'})),
              CString(L"ok"));
    // After the wide marker, 0xFFFE is a length, not a second marker.
    ByteWriter longWide;
    longWide.u8(0xFF).u16(0xFFFE).u8(0xFF).u16(0xFFFE);
    for (int i = 0; i < 0xFFFE; ++i)
        longWide.u16('a' + i % 26);
    CString s = ReadString(longWide);
    ASSERT_EQ(s.GetLength(), 0xFFFE);
    EXPECT_EQ(s[0], L'a');
    EXPECT_EQ(s[0xFFFD], static_cast<wchar_t>('a' + 0xFFFD % 26));
}

TEST(ArchiveStrings, WriterAlwaysWritesTheWideFormWithTheShortestLength) {
    EXPECT_EQ(Hex(WriteString(CString())), "FF FE FF 00");
    EXPECT_EQ(Hex(WriteString(CString(L"H\u00e9"))), "FF FE FF 02 48 00 E9 00");
    struct Case {
        int length;
        Bytes prefix;
    } cases[] = {{254, {0xFF, 0xFE, 0xFF, 0xFE}},
                 {255, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}},
                 {0xFFFD, {0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF}},
                 {0xFFFE, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
                 {0x10000, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}}};
    for (const auto& c : cases) {
        Bytes written = WriteString(CString(L'x', c.length));
        ASSERT_EQ(written.size(), c.prefix.size() + 2u * c.length) << c.length;
        EXPECT_EQ(Hex(Bytes(written.begin(), written.begin() + c.prefix.size())), Hex(c.prefix)) << c.length;
        EXPECT_EQ(written.back(), 0x00);
        EXPECT_EQ(written[written.size() - 2], 'x');
        EXPECT_EQ(ReadString(written), CString(L'x', c.length));
    }
}

TEST(ArchiveStrings, LengthPrefixesOfBothFormsRoundTrip) {
    struct Case {
        ULONGLONG length;
        BOOL unicode;
        Bytes bytes;
    } cases[] = {{0, FALSE, {0x00}},
                 {0xFE, FALSE, {0xFE}},
                 {0xFF, FALSE, {0xFF, 0xFF, 0x00}},
                 {0xFFFE, FALSE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
                 {0xFFFFFFFF, FALSE, ByteWriter().u8(0xFF).u16(0xFFFF).u32(0xFFFFFFFF).u64(0xFFFFFFFF)},
                 {0x123456789A, TRUE,
                  ByteWriter().u8(0xFF).u16(0xFFFE).u8(0xFF).u16(0xFFFF).u32(0xFFFFFFFF).u64(0x123456789A)}};
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(StoreBytes([&](CArchive& ar) { AfxWriteStringLength(ar, c.length, c.unicode); })),
                  Hex(c.bytes));
        int charSize = 0;
        ULONGLONG length = 0;
        LoadBytes(c.bytes, [&](CArchive& ar) { length = AfxReadStringLength(ar, charSize); });
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(charSize, c.unicode ? 2 : 1);
    }
}

TEST(ArchiveStrings, EightBitStringsAreWidenedThroughTheChosenCodePage) {
    Bytes high = {0x06, 0x80, 0x8A, 0x9F, 0xA0, 0xFF, 0x81};
    EXPECT_EQ(ReadString(high), Wide({0x20AC, 0x0160, 0x0178, 0x00A0, 0x00FF, 0x0081}));
    EXPECT_EQ(ReadString(high, 28591), Wide({0x80, 0x8A, 0x9F, 0xA0, 0xFF, 0x81}));
    EXPECT_EQ(ReadString({0x04, 0xC3, 0xA9, 0xFF, 'A'}, 65001), Wide({0xE9, 0xDCFF, 'A'}));
    EXPECT_THROW(LoadBytes({0x00}, [](CArchive& ar) { ar.SetAnsiCodePage(932); }), CInvalidArgException);
    // Embedded NULs are characters like any other, in both forms.
    EXPECT_EQ(ReadString({0x03, 'A', 0x00, 'B'}), Wide({'A', 0, 'B'}));
    EXPECT_EQ(Hex(WriteString(Wide({'A', 0, 'B'}))), "FF FE FF 03 41 00 00 00 42 00");
}

TEST(ArchiveStrings, CodePointsAboveTheBasicPlaneTravelAsSurrogatePairs) {
    EXPECT_EQ(Hex(WriteString(Wide({0x1F600}))), "FF FE FF 02 3D D8 00 DE");
    EXPECT_EQ(ReadString({0xFF, 0xFE, 0xFF, 0x02, 0x3D, 0xD8, 0x00, 0xDE}), Wide({0x1F600}));
    EXPECT_EQ(Hex(WriteString(Wide({0x10FFFF, 'a'}))), "FF FE FF 03 FF DB FF DF 61 00");
    // Unpaired and reversed surrogates pass through as they are.
    Bytes odd = ByteWriter().u8(0xFF).u16(0xFFFE).u8(5).units({0xD800, 'A', 0xDC00, 0xDC01, 0xD801});
    CString s = ReadString(odd);
    EXPECT_EQ(s, Wide({0xD800, 'A', 0xDC00, 0xDC01, 0xD801}));
    EXPECT_EQ(Hex(WriteString(s)), Hex(odd));
    // A value beyond Unicode cannot be stored and becomes the replacement character.
    EXPECT_EQ(Hex(WriteString(Wide({0x110000}))), "FF FE FF 01 FD FF");
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
    Bytes original = ByteWriter()
                         .u8(0xFF)
                         .u16(0xFFFE)
                         .u8(0xFF)
                         .u16(0xFFFF)
                         .u32(static_cast<std::uint32_t>(units.size()))
                         .units(units);
    CString s = ReadString(original);
    EXPECT_EQ(Hex(WriteString(s)), Hex(original));
}

TEST(ArchiveObjects, WriterFollowsThePublishedIndices) {
    CTestNode n1(7), n2(8);
    CTestDerived d(9);
    CTestLink link(&n2);
    CTestNode self(10);
    self.m_pChild = &self;
    Bytes written = StoreBytes([&](CArchive& ar) {
        ar << &n1 << &n2 << &d << &n1 << static_cast<CObject*>(nullptr) << &link << &self;
    });
    Bytes expected = ByteWriter()
                         .newClass(2, "CTestNode")
                         .u32(7)
                         .u16(0) // class 1, object 2
                         .u16(0x8001)
                         .u32(8)
                         .u16(0) // object 3
                         .newClass(2, "CTestDerived")
                         .u32(9)
                         .u16(0)      // class 4, object 5
                         .u16(0x0002) // n1 again
                         .u16(0x0000) // null
                         .newClass(1, "CTestLink")
                         .u16(0x0003) // class 6, object 7 -> n2
                         .u16(0x8001)
                         .u32(10)
                         .u16(0x0008); // object 8, its child is itself
    EXPECT_EQ(Hex(written), Hex(expected));
}

TEST(ArchiveObjects, ReaderRebuildsTheSameGraph) {
    Bytes bytes = ByteWriter()
                      .newClass(2, "CTestNode")
                      .u32(7)
                      .u16(0)
                      .u16(0x8001)
                      .u32(8)
                      .u16(0)
                      .newClass(2, "CTestDerived")
                      .u32(9)
                      .u16(0)
                      .u16(0x0002)
                      .u16(0x0000)
                      .newClass(1, "CTestLink")
                      .u16(0x0003)
                      .u16(0x8001)
                      .u32(10)
                      .u16(0x0008);
    CObject* ob[7] = {};
    EXPECT_EQ(LoadBytes(bytes,
                        [&](CArchive& ar) {
                            ob[0] = ar.ReadObject(RUNTIME_CLASS(CTestNode));
                            ar >> ob[1];
                            ob[2] = ar.ReadObject(RUNTIME_CLASS(CTestNode));
                            ob[3] = ar.ReadObject(RUNTIME_CLASS(CTestNode));
                            ob[4] = ar.ReadObject(RUNTIME_CLASS(CTestLink));
                            ob[5] = ar.ReadObject(nullptr);
                            CTestNode* last = nullptr;
                            ar >> last;
                            ob[6] = last;
                        }),
              0u);
    auto* n1 = dynamic_cast<CTestNode*>(ob[0]);
    auto* n2 = dynamic_cast<CTestNode*>(ob[1]);
    auto* d = dynamic_cast<CTestDerived*>(ob[2]);
    auto* link = dynamic_cast<CTestLink*>(ob[5]);
    auto* self = dynamic_cast<CTestNode*>(ob[6]);
    ASSERT_TRUE(n1 && n2 && d && link && self);
    EXPECT_EQ(n1->m_value, 7);
    EXPECT_EQ(n1->m_nSeenSchema, 2u);
    EXPECT_EQ(n2->m_value, 8);
    EXPECT_EQ(d->m_value, 9);
    EXPECT_TRUE(d->IsKindOf(RUNTIME_CLASS(CTestNode)));
    EXPECT_EQ(ob[3], ob[0]);
    EXPECT_EQ(ob[4], nullptr);
    EXPECT_EQ(link->m_pTarget, n2);
    EXPECT_EQ(self->m_value, 10);
    EXPECT_EQ(self->m_pChild, self);
    EXPECT_EQ(TestArena::Size(), 5u);
    TestArena::Clear();
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
            ar << &a << &b; // class 0x8001, objects 0x8002 and 0x8003
            ar << &b;
        });
        Bytes tail = ByteWriter()
                         .u16(0x7FFE) // the last index that fits a WORD
                         .u16(0x0003)
                         .u16(0x7FFF)
                         .u32(0x7FFF)
                         .newClass(2, "CTestNode")
                         .u32(1)
                         .u16(0)
                         .u16(0x7FFF)
                         .u32(0x80008001)
                         .u32(2)
                         .u16(0)
                         .u16(0x7FFF)
                         .u32(0x8003);
        ASSERT_EQ(written.size(), 16 + 2u * (count - 1) + tail.size());
        EXPECT_EQ(Hex(Bytes(written.end() - tail.size(), written.end())), Hex(tail));
    }

    // Reading: the same forms, written by hand.
    ByteWriter in;
    in.newClass(0, "CTestEmpty");
    for (int i = 1; i < count; ++i)
        in.u16(0x8001);
    in.u16(0x7FFF)
        .u32(0x7FFF) // the object with index 0x7FFF
        .u16(0x7FFF)
        .u32(0x80000001) // class 1 in the big form: a new object, index 0x8001
        .u16(0x7FFF)
        .u32(0x8001) // that object again
        .u16(0x7FFF)
        .u32(0x0002); // the first object, in a non-canonical big form
    std::vector<CObject*> read;
    EXPECT_EQ(LoadBytes(in,
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
    EXPECT_EQ(TestArena::Size(), count + 1u);
    TestArena::Clear();
}

TEST(ArchiveObjects, SchemaReachesSerializeOnceAndIsRestoredAfterANestedRead) {
    // A versionable object stored with schema 5 holding a CTestNode (schema 2).
    Bytes bytes =
        ByteWriter().newClass(5, "CTestVersioned").newClass(2, "CTestNode").u32(42).u16(0).u16(0x1234);
    CTestVersioned* v = nullptr;
    EXPECT_EQ(LoadBytes(bytes,
                        [&](CArchive& ar) {
                            v = static_cast<CTestVersioned*>(ar.ReadObject(RUNTIME_CLASS(CTestVersioned)));
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
    CTestVersioned* old = nullptr;
    EXPECT_EQ(LoadBytes(ByteWriter().newClass(1, "CTestVersioned").u16(0), [&](CArchive& ar) { ar >> old; }),
              0u);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->m_nFirstSchema, 1u);
    TestArena::Clear();

    // Serialize called directly, and storing, see no schema.
    CTestVersioned direct;
    LoadBytes({0x00, 0x00}, [&](CArchive& ar) { direct.Serialize(ar); });
    EXPECT_EQ(direct.m_nFirstSchema, 0xFFFFFFFFu);
    StoreBytes([](CArchive& ar) { EXPECT_EQ(ar.GetObjectSchema(), 0xFFFFFFFFu); });
}

TEST(ArchiveObjects, VersionableFlagIsNotStored) {
    CTestVersioned v;
    v.m_extra = 0x0102;
    EXPECT_EQ(Hex(StoreBytes([&](CArchive& ar) { ar << &v; })),
              Hex(ByteWriter().newClass(3, "CTestVersioned").u16(0).u16(0x0102)));
}

TEST(ArchiveObjects, ClassesThatAreNotSerialisableCannotBeWritten) {
    CTestDynamicOnly dyn;
    EXPECT_THROW(StoreBytes([&](CArchive& ar) { ar << &dyn; }), CNotSupportedException);
}

TEST(ArchiveObjects, ArraysStoreTheirCountThenTheirElements) {
    CArray<int, int> ints;
    ints.Add(1);
    ints.Add(-2);
    CStringArray strings;
    strings.Add(CString(L"a"));
    CArray<CPoint, CPoint> points;
    points.Add(CPoint(3, 4));
    Bytes written = StoreBytes([&](CArchive& ar) {
        ints.Serialize(ar);
        strings.Serialize(ar);
        points.Serialize(ar);
    });
    Bytes expected = ByteWriter()
                         .u16(2)
                         .u32(1)
                         .u32(0xFFFFFFFE)
                         .u16(1)
                         .u8(0xFF)
                         .u16(0xFFFE)
                         .u8(1)
                         .u16('a')
                         .u16(1)
                         .u32(3)
                         .u32(4);
    EXPECT_EQ(Hex(written), Hex(expected));
    CArray<int, int> ints2;
    CStringArray strings2;
    CArray<CPoint, CPoint> points2;
    EXPECT_EQ(LoadBytes(expected,
                        [&](CArchive& ar) {
                            ints2.Serialize(ar);
                            strings2.Serialize(ar);
                            points2.Serialize(ar);
                        }),
              0u);
    ASSERT_EQ(ints2.GetSize(), 2);
    EXPECT_EQ(ints2[1], -2);
    ASSERT_EQ(strings2.GetSize(), 1);
    EXPECT_EQ(strings2[0], CString(L"a"));
    ASSERT_EQ(points2.GetSize(), 1);
    EXPECT_EQ(points2[0], CPoint(3, 4));
}

TEST(ArchiveObjects, CloseDetachesAndLeavesTheFileAtTheEnd) {
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    ar << 7;
    ar.Close();
    EXPECT_EQ(ar.GetFile(), nullptr);
    EXPECT_EQ(file.GetLength(), 4u);
    EXPECT_EQ(ArchiveCause([&] { ar << 8; }), CArchiveException::genericException);
}
