// Archives written by the framework on Windows, read whole with small classes that mirror the
// ones that wrote them and written back: the bytes must come out exactly as they went in.
#include "ArchiveTestSupport.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

std::string ArchivesDir() {
    return std::string(KESTRO_SHARED_DIR) + "/mfc-archives/";
}

#define SKIP_WITHOUT_ARCHIVES()                                                                              \
    if (!std::ifstream(ArchivesDir() + "SOURCES.md"))                                                        \
    GTEST_SKIP() << "no framework-written archives at " << ArchivesDir() << " (set KESTRO_SHARED_DIR)"

// 8-bit files are read through Latin-1, where each character is the byte it came from, and so
// written back in their own form; the framework itself writes wide strings only.
bool g_narrow = false;

template <class T> void Value(CArchive& ar, T& v) {
    ar.IsLoading() ? ar >> v : ar << v;
}

void Text(CArchive& ar, CString& s) {
    if (ar.IsLoading() || !g_narrow) return Value(ar, s);
    AfxWriteStringLength(ar, s.GetLength(), FALSE);
    for (int i = 0; i < s.GetLength(); ++i)
        ar << static_cast<BYTE>(s[i]);
}

size_t Count(CArchive& ar, size_t n) {
    if (ar.IsLoading()) return static_cast<size_t>(ar.ReadCount());
    ar.WriteCount(n);
    return n;
}

/// Reads the file into doc, writes doc again and compares the bytes.
template <class Document> void ReadAndWriteBack(const std::string& name, bool narrow, Document& doc) {
    SCOPED_TRACE(name);
    std::ifstream in(ArchivesDir() + name, std::ios::binary);
    const Bytes original{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(original.empty());
    g_narrow = narrow;
    EXPECT_EQ(LoadBytes(original, [&](CArchive& ar) { ar.SetAnsiCodePage(28591), doc.Serialize(ar); }), 0u);
    const Bytes written = StoreBytes([&](CArchive& ar) { doc.Serialize(ar); });
    EXPECT_EQ(written.size(), original.size());
    const auto differ = std::mismatch(written.begin(), written.end(), original.begin(), original.end());
    EXPECT_EQ(differ.first, written.end()) << "first difference at offset " << differ.first - written.begin();
}

} // namespace

// hiersvr: a font record, a face name, a colour, then a tree of CServerNode objects: one class
// description, then class back-references.
class CServerNode : public CObject {
    DECLARE_SERIAL(CServerNode)
public:
    void Serialize(CArchive& ar) override {
        Value(ar, m_shape), Text(ar, m_key), Text(ar, m_description), Value(ar, m_hideChildren);
        const size_t n = Count(ar, m_children.size());
        for (size_t i = 0; i < n; ++i) {
            if (ar.IsStoring())
                ar << m_children[i].get();
            else
                m_children.emplace_back(static_cast<CServerNode*>(ar.ReadObject(RUNTIME_CLASS(CServerNode))));
        }
    }

    WORD m_shape = 0, m_hideChildren = 0;
    CString m_key, m_description;
    std::vector<std::unique_ptr<CServerNode>> m_children;
};
IMPLEMENT_SERIAL(CServerNode, CObject, 0)

TEST(ArchiveWindowsFiles, ServerNodeTreeRoundTripsByteForByte) {
    SKIP_WITHOUT_ARCHIVES();
    struct {
        BYTE logFont[28];
        CString faceName;
        DWORD textColour = 0;
        CServerNode root;
        void Serialize(CArchive& ar) {
            ar.IsLoading() ? ar.ReadExact(logFont, sizeof logFont) : ar.Write(logFont, sizeof logFont);
            Text(ar, faceName), Value(ar, textColour), root.Serialize(ar);
        }
    } doc;
    ReadAndWriteBack("hiersvr-mfcclass.hie", true, doc);
    // Values from the walk that comes with the file.
    EXPECT_EQ(doc.faceName, CString(L"Arial"));
    EXPECT_EQ(doc.textColour, 9u);
    EXPECT_EQ(doc.root.m_description, CString(L"MFC Class Hierarchy"));
    ASSERT_EQ(doc.root.m_children.size(), 26u);
    EXPECT_EQ(doc.root.m_children[0]->m_description, CString(L"CArchive"));
}

// Shareaza's world table: counted strings in WORD counts, 8-bit in 2004, wide in 2007.
TEST(ArchiveWindowsFiles, WorldTablesOfBothBuildsRoundTripByteForByte) {
    SKIP_WITHOUT_ARCHIVES();
    struct City {
        CString name, state;
        DWORD location = 0;
    };
    struct Country {
        WORD id = 0;
        CString name;
        std::vector<City> cities;
    };
    struct World {
        std::vector<Country> countries;
        void Serialize(CArchive& ar) {
            countries.resize(Count(ar, countries.size()));
            for (Country& c : countries) {
                Value(ar, c.id), Text(ar, c.name);
                c.cities.resize(Count(ar, c.cities.size()));
                for (City& city : c.cities)
                    Text(ar, city.name), Text(ar, city.state), Value(ar, city.location);
            }
        }
    };
    for (const char* name : {"shareaza-worldgps-2004-ansi.dat", "shareaza-worldgps-2007-unicode.dat"}) {
        const bool narrow = std::string(name).find("ansi") != std::string::npos;
        World world;
        ReadAndWriteBack(name, narrow, world);
        ASSERT_EQ(world.countries.size(), narrow ? 162u : 163u);
        EXPECT_EQ(world.countries[0].name, CString(L"Afghanistan"));
        if (narrow) continue;
        // The wide build carries characters beyond ASCII.
        size_t cantu = 0;
        for (const Country& c : world.countries)
            for (const City& city : c.cities)
                if (city.name == CString(L"Cant\u00f9")) cantu += city.state == CString(L"Como");
        EXPECT_EQ(cantu, 1u);
    }
}
