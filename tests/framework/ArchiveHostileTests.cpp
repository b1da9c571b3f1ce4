// Malformed archives: each raises CArchiveException with the right cause, leaves no object
// behind and never allocates for a length or count that the bytes do not hold.
#include "ArchiveTestSupport.h"
#include "TestClasses.h"
#include "TestTables.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <new>
#include <sstream>

// The test program's own operator new, and so the library's, records the largest single
// request while g_watching is set.
static bool g_watching = false;
static size_t g_largest = 0;

// ThreadSanitizer's runtime brings its own operators, and its build runs only the thread tests.
// Every form is replaced: a sanitizer's runtime would serve those left out, mismatching malloc.
#if !defined(KESTRO_THREAD_SANITIZER)
#define KESTRO_ALLOCATE(signature, onFailure)                                                                \
    void* signature {                                                                                        \
        if (g_watching) g_largest = std::max(g_largest, size);                                               \
        if (void* p = std::malloc(size ? size : 1)) return p;                                                \
        onFailure;                                                                                           \
    }
#define KESTRO_FREE(signature)                                                                               \
    void signature noexcept {                                                                                \
        std::free(p);                                                                                        \
    }
KESTRO_ALLOCATE(operator new(size_t size), throw std::bad_alloc())
KESTRO_ALLOCATE(operator new[](size_t size), throw std::bad_alloc())
KESTRO_ALLOCATE(operator new(size_t size, const std::nothrow_t&) noexcept, return nullptr)
KESTRO_ALLOCATE(operator new[](size_t size, const std::nothrow_t&) noexcept, return nullptr)
KESTRO_FREE(operator delete(void* p))
KESTRO_FREE(operator delete[](void* p))
KESTRO_FREE(operator delete(void* p, size_t))
KESTRO_FREE(operator delete[](void* p, size_t))
KESTRO_FREE(operator delete(void* p, const std::nothrow_t&))
KESTRO_FREE(operator delete[](void* p, const std::nothrow_t&))
#endif

namespace {

using E = CArchiveException;

// Reading an archive of n bytes may allocate in proportion to what it has read (a wide
// string is four bytes a character here), never in proportion to what a length claims.
size_t AllocationBound(size_t archiveSize) {
    return 256 + 8 * archiveSize;
}

struct Outcome {
    int cause = -1;        // -1: no exception
    size_t leftBehind = 0; // objects alive when the exception arrived
    size_t largest = 0;    // the largest single allocation
};

/// Runs read over bytes and checks the allocation bound, then deletes every object it made.
Outcome ReadHostile(Bytes bytes, const std::function<void(CArchive&)>& read) {
    Outcome outcome;
    CMemFile file(bytes.empty() ? nullptr : bytes.data(), static_cast<UINT>(bytes.size()));
    g_largest = 0;
    g_watching = true;
    try {
        CArchive ar(&file, CArchive::load);
        read(ar);
    } catch (CArchiveException& e) {
        outcome.cause = e.m_cause;
        outcome.leftBehind = CArenaObject::Size();
    }
    g_watching = false;
    outcome.largest = g_largest;
    EXPECT_LE(outcome.largest, AllocationBound(bytes.size())) << Hex(bytes);
    CArenaObject::Clear();
    return outcome;
}

void ReadString(CArchive& ar) {
    CString s;
    ar >> s;
}

// A document with something of everything: both string forms, a count, new classes, class
// and object back-references, a nested object and a versionable schema.
Bytes Rich() {
    return Hx("03 'Gel' FF FEFF 04 4C00 6100 6E00 6500 0400"             // two strings, four objects follow
              + Cls(2, "CTestNode") + "01000000 0180 02000000 0000"      // object 2 with a new child, 3
              + Cls(3, "CTestVersioned") + Cls(0, "CTestEmpty") + "3412" // 5 holding 7, then its WORD
              + Cls(1, "CTestLink") + "0300 0200"); // object 9 -> object 3; object 2 again
}

void ReadRich(CArchive& ar) {
    ReadString(ar);
    ReadString(ar);
    for (ULONGLONG i = 0, n = ar.ReadCount(); i < n; ++i)
        ar.ReadObject(nullptr);
}

// An archive cut inside a class name is a bad class, not an early end.
bool InsideAName(const Bytes& bytes, size_t cut) {
    for (std::string name : {"CTestNode", "CTestVersioned", "CTestEmpty", "CTestLink"}) {
        size_t at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end()) - bytes.begin();
        if (cut >= at && cut < at + name.size()) return true;
    }
    return false;
}

} // namespace

TEST(ArchiveHostile, TruncationAtEveryByteRaisesEndOfFileOrBadClassInsideAName) {
    const Bytes rich = Rich();
    for (size_t cut = 0; cut <= rich.size(); ++cut) {
        int expected = cut == rich.size() ? -1 : InsideAName(rich, cut) ? E::badClass : E::endOfFile;
        EXPECT_EQ(ReadHostile(Bytes(rich.begin(), rich.begin() + cut), ReadRich).cause, expected) << cut;
    }
}

TEST(ArchiveHostile, MalformedArchivesRaiseTheRightCauseBeforeAnythingIsMade) {
    const std::map<std::string, int> causes = {{"none", -1},
                                               {"badIndex", E::badIndex},
                                               {"badClass", E::badClass},
                                               {"badSchema", E::badSchema},
                                               {"endOfFile", E::endOfFile}};
    const std::vector<std::string> rows = TableRows("framework/data/malformed-archives.txt");
    for (const std::string& line : rows) {
        std::istringstream fields(line);
        std::string required, cause, bar;
        size_t objects = 0;
        fields >> objects >> bar >> required >> bar >> cause >> bar;
        const std::string bytes = line.substr(line.rfind(" | ") + 3);
        const CRuntimeClass* rc = required == "-" ? nullptr : CRuntimeClass::FromName(required.c_str());
        const std::function<void(CArchive&)> read = [&](CArchive& ar) {
            for (size_t i = 1; i < objects; ++i)
                ar.ReadObject(nullptr);
            ar.ReadObject(rc);
        };
        Outcome o = ReadHostile(Hx(bytes), required == "string" ? ReadString : read);
        EXPECT_EQ(o.cause, causes.at(cause)) << line;
        EXPECT_EQ(o.leftBehind, cause == "none" ? 0u : objects - 1) << line;
    }
    EXPECT_EQ(rows.size(), 45u);
    // Without this, every bound here could pass with a probe that sees nothing.
    Outcome present = ReadHostile(Hx("FF 204E '" + std::string(20000, 'a') + "'"), ReadString);
    EXPECT_EQ(present.cause, -1);
    EXPECT_GE(present.largest, 20000u);
}

TEST(ArchiveHostile, DamagedBytesNeverCrashLeakOrOverAllocate) {
    // Every byte of the rich archive replaced by values that stand for tags, lengths and
    // markers; ReadHostile checks the allocations, the sanitizer build the rest. Random damage
    // is the archive fuzz target's.
    const Bytes rich = Rich();
    for (size_t i = 0; i < rich.size(); ++i) {
        for (BYTE v : {0x00, 0x01, 0x02, 0x03, 0x7F, 0x80, 0xFE, 0xFF}) {
            Bytes damaged(rich);
            damaged[i] = v;
            ReadHostile(damaged, ReadRich);
        }
    }
}
