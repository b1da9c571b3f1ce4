// Malformed archives: each raises CArchiveException with the right cause, leaves no object
// behind and never allocates for a length or count that the bytes do not hold.
#include "AllocationProbe.h"
#include "ArchiveTestSupport.h"
#include "TestClasses.h"

#include <set>
#include <utility>

namespace {

// Reading an archive of n bytes may allocate in proportion to what it has read (a wide
// string is four bytes a character here), never in proportion to what a length claims.
size_t AllocationBound(size_t archiveSize) {
    return 256 + 8 * archiveSize;
}

struct Outcome {
    int cause = -1; // -1: no exception
    size_t largestAllocation = 0;
};

/// Runs read over bytes, then deletes every object it made; reports the exception's cause.
Outcome ReadHostile(const Bytes& bytes, const std::function<void(CArchive&)>& read) {
    Outcome outcome;
    Bytes copy(bytes);
    CMemFile file(copy.empty() ? nullptr : copy.data(), static_cast<UINT>(copy.size()));
    {
        AllocationProbe probe;
        try {
            CArchive ar(&file, CArchive::load);
            read(ar);
        } catch (CArchiveException& e) {
            outcome.cause = e.m_cause;
        }
        outcome.largestAllocation = probe.Largest();
    }
    TestArena::Clear();
    return outcome;
}

int CauseOfObject(const Bytes& bytes, const CRuntimeClass* required = nullptr) {
    Outcome o = ReadHostile(bytes, [&](CArchive& ar) { ar.ReadObject(required); });
    EXPECT_LE(o.largestAllocation, AllocationBound(bytes.size()));
    return o.cause;
}

int CauseOfString(const Bytes& bytes) {
    Outcome o = ReadHostile(bytes, [&](CArchive& ar) {
        CString s;
        ar >> s;
    });
    EXPECT_LE(o.largestAllocation, AllocationBound(bytes.size())) << Hex(bytes);
    return o.cause;
}

// A document with something of everything: both string forms, a count, new classes, class
// and object back-references, a nested object and a versionable schema. It records where
// class names lie, since an archive cut inside a name is a bad class, not an early end.
struct RichArchive {
    ByteWriter bytes;
    std::vector<std::pair<size_t, size_t>> names; // [begin, end) of each class name

    RichArchive() {
        bytes.u8(3).ascii("Gel");
        bytes.u8(0xFF).u16(0xFFFE).u8(4).units({'L', 'a', 'n', 'e'});
        bytes.u16(4); // four objects follow
        newClass(2, "CTestNode");
        bytes.u32(1).u16(0x8001).u32(2).u16(0); // object 2 with a new child, object 3
        newClass(3, "CTestVersioned");          // class 4, object 5
        newClass(0, "CTestEmpty");              // class 6, inner object 7
        bytes.u16(0x1234);
        newClass(1, "CTestLink"); // class 8, object 9
        bytes.u16(0x0003);        // -> object 3
        bytes.u16(0x0002);        // object 2 again
    }
    void newClass(unsigned schema, const std::string& name) {
        bytes.u16(0xFFFF).u16(schema).u16(static_cast<unsigned>(name.size()));
        names.emplace_back(bytes.size(), bytes.size() + name.size());
        bytes.ascii(name);
    }
    bool InsideName(size_t cut) const {
        for (auto& n : names)
            if (cut >= n.first && cut < n.second) return true;
        return false;
    }
    static void Read(CArchive& ar) {
        CString a, b;
        ar >> a >> b;
        ULONGLONG n = ar.ReadCount();
        for (ULONGLONG i = 0; i < n; ++i)
            ar.ReadObject(nullptr);
    }
};

} // namespace

TEST(ArchiveHostile, TheRichArchiveReadsWhole) {
    RichArchive rich;
    Outcome o = ReadHostile(rich.bytes, [](CArchive& ar) {
        RichArchive::Read(ar);
        EXPECT_EQ(ar.BytesLeft(), 0u);
    });
    EXPECT_EQ(o.cause, -1);
}

TEST(ArchiveHostile, TruncationAtEveryByteRaisesEndOfFileOrBadClassInsideAName) {
    RichArchive rich;
    const Bytes& whole = rich.bytes;
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        Bytes part(whole.begin(), whole.begin() + cut);
        Outcome o = ReadHostile(part, RichArchive::Read);
        int expected = rich.InsideName(cut) ? CArchiveException::badClass : CArchiveException::endOfFile;
        EXPECT_EQ(o.cause, expected) << "cut at " << cut;
        EXPECT_LE(o.largestAllocation, AllocationBound(cut)) << "cut at " << cut;
        EXPECT_EQ(TestArena::Size(), 0u);
    }
}

TEST(ArchiveHostile, HugeStringLengthsEndTheArchiveWithoutAllocating) {
    const int endOfFile = CArchiveException::endOfFile;
    EXPECT_EQ(CauseOfString(ByteWriter().u8(0xFF).u16(0xFFFD).ascii("0123456789")), endOfFile);
    EXPECT_EQ(CauseOfString(ByteWriter().u8(0xFF).u16(0xFFFF).u32(0xFFFFFFFE).ascii("abc")), endOfFile);
    EXPECT_EQ(CauseOfString(ByteWriter().u8(0xFF).u16(0xFFFF).u32(0xFFFFFFFF).u64(~0ull).ascii("abc")),
              endOfFile);
    // Wide lengths whose byte count overflows 64 bits, or nearly.
    EXPECT_EQ(
        CauseOfString(
            ByteWriter().u8(0xFF).u16(0xFFFE).u8(0xFF).u16(0xFFFF).u32(0xFFFFFFFF).u64(0x8000000000000000)),
        endOfFile);
    EXPECT_EQ(
        CauseOfString(ByteWriter().u8(0xFF).u16(0xFFFE).u8(0xFF).u16(0xFFFF).u32(0xFFFFFFFF).u64(~0ull)),
        endOfFile);
    EXPECT_EQ(
        CauseOfString(ByteWriter().u8(0xFF).u16(0xFFFE).u8(0xFF).u16(0xFFFF).u32(0x7FFFFFFF).units({'a'})),
        endOfFile);
    // One byte short of a wide string, and one byte short of an 8-bit one.
    EXPECT_EQ(CauseOfString(ByteWriter().u8(0xFF).u16(0xFFFE).u8(2).u16('a').u8('b')), endOfFile);
    EXPECT_EQ(CauseOfString(ByteWriter().u8(4).ascii("abc")), endOfFile);
    EXPECT_EQ(CauseOfString(ByteWriter().u8(3).ascii("abc")), -1);
}

TEST(ArchiveHostile, HugeArrayCountsEndTheArchiveWithoutAllocating) {
    Bytes huge = ByteWriter().u16(0xFFFF).u32(0xFFFFFFFE).u32(1).u32(2);
    auto check = [&](const std::function<void(CArchive&)>& read) {
        Outcome o = ReadHostile(huge, read);
        EXPECT_EQ(o.cause, CArchiveException::endOfFile);
        EXPECT_LE(o.largestAllocation, AllocationBound(huge.size()));
    };
    check([](CArchive& ar) {
        CArray<int, int> a;
        a.Serialize(ar);
    });
    check([](CArchive& ar) {
        CArray<double, double> a;
        a.Serialize(ar);
    });
    check([](CArchive& ar) {
        CStringArray a;
        a.Serialize(ar);
    });
    check([](CArchive& ar) {
        CArray<CPoint, CPoint> a;
        a.Serialize(ar);
    });
    // A count that fits is read.
    Outcome ok = ReadHostile(ByteWriter().u16(2).u32(1).u32(2), [](CArchive& ar) {
        CArray<int, int> a;
        a.Serialize(ar);
        EXPECT_EQ(a.GetSize(), 2);
    });
    EXPECT_EQ(ok.cause, -1);
}

TEST(ArchiveHostile, BadTagsAndIndicesRaiseBadIndex) {
    const int badIndex = CArchiveException::badIndex;
    // Class 1 and object 2 to refer to.
    Bytes base = ByteWriter().newClass(2, "CTestNode").u32(1).u16(0);
    auto after = [&](const Bytes& tail) { return ByteWriter().append(base).append(tail).bytes(); };
    auto twoObjects = [](CArchive& ar) {
        ar.ReadObject(nullptr);
        ar.ReadObject(nullptr);
    };
    auto causeAfter = [&](const Bytes& tail) {
        Bytes bytes = after(tail);
        Outcome o = ReadHostile(bytes, twoObjects);
        EXPECT_LE(o.largestAllocation, AllocationBound(bytes.size()));
        return o.cause;
    };
    EXPECT_EQ(CauseOfObject({0x00, 0x80}), badIndex);                             // the tag 0x8000
    EXPECT_EQ(CauseOfObject({0x05, 0x00}), badIndex);                             // an object never read
    EXPECT_EQ(CauseOfObject({0x01, 0x80}), badIndex);                             // a class never read
    EXPECT_EQ(CauseOfObject(ByteWriter().u16(0x7FFF).u32(0x80000000)), badIndex); // class 0, big form
    EXPECT_EQ(CauseOfObject(ByteWriter().u16(0x7FFF).u32(0xFFFFFFFF)), badIndex);
    EXPECT_EQ(CauseOfObject(ByteWriter().u16(0x7FFF).u32(0x00000005)), badIndex);
    EXPECT_EQ(causeAfter({0x01, 0x00}), badIndex); // a class where an object is expected
    EXPECT_EQ(causeAfter({0x02, 0x80}), badIndex); // an object where a class is expected
    EXPECT_EQ(causeAfter({0x03, 0x00}), badIndex); // one past the highest index
    EXPECT_EQ(causeAfter({0x03, 0x80}), badIndex);
    // Their accepted neighbours.
    EXPECT_EQ(causeAfter({0x02, 0x00}), -1);
    EXPECT_EQ(causeAfter(ByteWriter().u16(0x7FFF).u32(0x00000002)), -1);
    EXPECT_EQ(causeAfter(ByteWriter().u16(0x8001).u32(5).u16(0)), -1);
    EXPECT_EQ(CauseOfObject({0x00, 0x00}), -1);
}

TEST(ArchiveHostile, ClassDescriptionsThatCannotBeTrustedRaiseBadClass) {
    const int badClass = CArchiveException::badClass;
    std::string longest = "CTestClassNameOfSixtyThreeCharactersThatIsStillShortEnoughXYZAB";
    ASSERT_EQ(longest.size(), 63u);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(0, longest)), -1);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(0, longest + "C")), badClass); // 64 characters
    EXPECT_EQ(CauseOfObject(ByteWriter().u16(0xFFFF).u16(0).u16(0xFFFF).ascii("CTestNode")), badClass);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(0, "CNoSuchClass")), badClass);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(0, "")), badClass);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(0xFFFF, "CTestDynamicOnly")), badClass);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(0xFFFF, "CObject")), badClass);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(2, std::string("CTestNode\0X", 11)).u32(1).u16(0)),
              badClass);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(2, "ctestnode").u32(1).u16(0)), badClass);
    EXPECT_EQ(CauseOfObject(ByteWriter().u16(0xFFFF).u16(2).u16(9).ascii("CTest")),
              badClass); // name cut short
    EXPECT_EQ(CauseOfObject(ByteWriter().u16(0xFFFF).u16(2).u8(9)), CArchiveException::endOfFile);
}

TEST(ArchiveHostile, ObjectsOfTheWrongClassRaiseBadClassBeforeAnythingIsMade) {
    const int badClass = CArchiveException::badClass;
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(1, "CTestLink").u16(0), RUNTIME_CLASS(CTestNode)),
              badClass);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(2, "CTestNode").u32(1).u16(0), RUNTIME_CLASS(CTestDerived)),
              badClass);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(2, "CTestDerived").u32(1).u16(0), RUNTIME_CLASS(CTestNode)),
              -1);
    // No object of the refused class was made.
    bool made = false;
    ReadHostile(ByteWriter().newClass(1, "CTestLink").u16(0), [&](CArchive& ar) {
        try {
            ar.ReadObject(RUNTIME_CLASS(CTestNode));
        } catch (CArchiveException&) {
            made = TestArena::Size() != 0;
            throw;
        }
    });
    EXPECT_FALSE(made);
    // A back-reference to an object of another class.
    Outcome o = ReadHostile(ByteWriter().newClass(1, "CTestLink").u16(0).u16(0x0002), [](CArchive& ar) {
        ar.ReadObject(RUNTIME_CLASS(CTestLink));
        ar.ReadObject(RUNTIME_CLASS(CTestNode));
    });
    EXPECT_EQ(o.cause, badClass);
    // A child that is not a CTestNode, read through the typed >> of CTestNode.
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(2, "CTestNode").u32(1).newClass(1, "CTestLink").u16(0)),
              badClass);
}

TEST(ArchiveHostile, AnotherSchemaOfAPlainClassRaisesBadSchema) {
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(3, "CTestNode").u32(1).u16(0)),
              CArchiveException::badSchema);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(0, "CTestNode").u32(1).u16(0)),
              CArchiveException::badSchema);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(2, "CTestNode").u32(1).u16(0)), -1);
    // A versionable class takes any schema; its Serialize decides.
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(0x7FFF, "CTestVersioned").u16(0).u16(1)), -1);
    EXPECT_EQ(CauseOfObject(ByteWriter().newClass(0, "CTestVersioned").u16(0)), -1);
}

TEST(ArchiveHostile, AnObjectWhoseSerializeRaisesIsDeletedWithWhatItRead) {
    // CTestThrowing: class 1, object 2; its CTestNode child: class 3, object 4; then 13.
    Bytes bytes = ByteWriter()
                      .newClass(0, "CTestThrowing")
                      .newClass(2, "CTestNode")
                      .u32(5)
                      .u16(0)
                      .u32(13)
                      .u16(0x0002) // the object that failed
                      .u16(0x0004) // the child it took with it
                      .u16(0x8003)
                      .u32(6)
                      .u16(0); // its class is still known
    std::vector<int> causes;
    int nodesAfter = -1;
    Bytes copy(bytes);
    CMemFile file(copy.data(), static_cast<UINT>(copy.size()));
    CArchive ar(&file, CArchive::load);
    for (int i = 0; i < 3; ++i)
        causes.push_back(ArchiveCause([&] { ar.ReadObject(nullptr); }));
    EXPECT_EQ(CTestThrowing::s_live, 0);
    EXPECT_EQ(TestArena::Size(), 0u);
    CObject* last = ar.ReadObject(RUNTIME_CLASS(CTestNode));
    nodesAfter = static_cast<int>(TestArena::Size());
    EXPECT_EQ(causes, (std::vector<int>{CArchiveException::genericException, CArchiveException::badIndex,
                                        CArchiveException::badIndex}));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(static_cast<CTestNode*>(last)->m_value, 6);
    EXPECT_EQ(nodesAfter, 1);
    delete last;

    // The same object read whole belongs to the caller with its child.
    Bytes good = ByteWriter().newClass(0, "CTestThrowing").newClass(2, "CTestNode").u32(5).u16(0).u32(12);
    CTestThrowing* t = nullptr;
    EXPECT_EQ(LoadBytes(good, [&](CArchive& a) { a >> t; }), 0u);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->m_pChild->m_value, 5);
    delete t;
    EXPECT_EQ(TestArena::Size(), 0u);
}

TEST(ArchiveHostile, DamagedBytesNeverCrashLeakOrOverAllocate) {
    // Every byte of the rich archive replaced by values that stand for tags, lengths and
    // markers, and a deterministic run of random multi-byte damage.
    RichArchive rich;
    const Bytes& whole = rich.bytes;
    const BYTE values[] = {0x00, 0x01, 0x02, 0x03, 0x7F, 0x80, 0xFE, 0xFF};
    size_t reads = 0;
    auto attempt = [&](const Bytes& damaged) {
        Outcome o = ReadHostile(damaged, RichArchive::Read);
        EXPECT_LE(o.largestAllocation, AllocationBound(damaged.size()));
        EXPECT_EQ(TestArena::Size(), 0u);
        ++reads;
    };
    for (size_t i = 0; i < whole.size(); ++i) {
        for (BYTE v : values) {
            Bytes damaged(whole);
            damaged[i] = v;
            attempt(damaged);
        }
    }
    std::uint32_t state = 2024;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (int round = 0; round < 3000; ++round) {
        Bytes damaged(whole);
        int changes = 1 + next() % 4;
        for (int c = 0; c < changes; ++c)
            damaged[next() % damaged.size()] = static_cast<BYTE>(next() >> 24);
        if (next() % 4 == 0) damaged.resize(next() % damaged.size());
        attempt(damaged);
    }
    EXPECT_GT(reads, 3000u);
}

TEST(ArchiveHostile, TheProbeSeesWhatTheLibraryAllocates) {
    // Without this, every bound above could pass with a probe that sees nothing.
    ByteWriter bytes;
    bytes.u8(0xFF).u16(20000);
    for (int i = 0; i < 20000; ++i)
        bytes.u8('a');
    Outcome o = ReadHostile(bytes, [](CArchive& ar) {
        CString s;
        ar >> s;
    });
    EXPECT_EQ(o.cause, -1);
    EXPECT_GE(o.largestAllocation, 20000u);
    EXPECT_LE(o.largestAllocation, AllocationBound(bytes.size()));
}
