// Archives written by the framework on Windows, decoded whole with small classes that mirror
// the ones that wrote them, and checked against the byte-by-byte walks that come with them.
#include "ArchiveTestSupport.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string ArchivesDir() {
    return std::string(KESTRO_SHARED_DIR) + "/mfc-archives";
}

bool HaveArchives() {
    struct stat st;
    return ::stat(ArchivesDir().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

/// What a decode met, counted the way the walk files count it.
struct Tally {
    int newClass = 0, classRef = 0, objectRef = 0, null = 0, strings = 0;
};
Tally g_tally;

void ReadText(CArchive& ar, CString& s) {
    ar >> s;
    ++g_tally.strings;
}

/// Reads an object envelope after looking at its tag (the archive keeps no buffer, so the
/// file can be peeked under it).
CObject* ReadCounted(CArchive& ar, const CRuntimeClass* required) {
    CFile* file = ar.GetFile();
    ULONGLONG at = file->GetPosition();
    WORD tag = 0;
    ar >> tag;
    file->Seek(static_cast<LONGLONG>(at), CFile::begin);
    if (tag == 0xFFFF)
        ++g_tally.newClass;
    else if (tag == 0)
        ++g_tally.null;
    else if (tag & 0x8000)
        ++g_tally.classRef;
    else
        ++g_tally.objectRef;
    return ar.ReadObject(required);
}

/// One line of a walk file: its offset and the rest of the line.
struct WalkLine {
    unsigned long offset;
    std::string text;
};

class Walk {
public:
    explicit Walk(const std::string& path) {
        std::ifstream in(path);
        std::string line;
        std::regex entry(R"(^0x([0-9a-f]+)\s+(.*)$)");
        std::smatch m;
        while (std::getline(in, line)) {
            if (std::regex_match(line, m, entry))
                m_lines.push_back({std::stoul(m[1], nullptr, 16), m[2]});
            else if (line.rfind("-- stopped", 0) == 0)
                m_summary = line;
        }
    }
    /// Lines whose text starts with the label (after indentation).
    std::vector<WalkLine> Starting(const std::string& label) const {
        std::vector<WalkLine> out;
        for (const auto& l : m_lines) {
            size_t first = l.text.find_first_not_of(' ');
            if (first != std::string::npos && l.text.compare(first, label.size(), label) == 0)
                out.push_back(l);
        }
        return out;
    }
    /// A number of the summary line, such as "strings" or "table entries".
    long Summary(const std::string& key) const {
        std::smatch m;
        std::regex number("'?" + key + R"('?:? (0x[0-9a-f]+|\d+))");
        if (!std::regex_search(m_summary, m, number)) return -1;
        return std::stol(m[1], nullptr, 0);
    }
    size_t Size() const { return m_lines.size(); }

private:
    std::vector<WalkLine> m_lines;
    std::string m_summary;
};

std::string Quoted(const std::string& text) {
    size_t a = text.find('\''), b = text.rfind('\'');
    return a == std::string::npos || b <= a ? std::string() : text.substr(a + 1, b - a - 1);
}

long LastNumber(const std::string& text) {
    std::smatch m;
    std::regex number(R"((-?\d+)(?: \((?:-?0x[0-9a-f]+)\))?\s*$)");
    return std::regex_search(text, m, number) ? std::stol(m[1]) : -99999;
}

std::string Narrow(const CString& s) {
    return s.ToUtf8();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// hiersvr: a tree of CServerNode objects.

class CServerNode : public CObject {
    DECLARE_SERIAL(CServerNode)
public:
    ~CServerNode() override {
        for (CServerNode* c : m_children)
            delete c;
    }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar << m_shape << m_key << m_description << m_hideChildren;
            ar.WriteCount(m_children.size());
            for (CServerNode* c : m_children)
                ar << c;
            return;
        }
        ar >> m_shape;
        ReadText(ar, m_key);
        m_descriptionOffset = ar.GetFile()->GetPosition();
        ReadText(ar, m_description);
        ar >> m_hideChildren;
        m_countOffset = ar.GetFile()->GetPosition();
        ULONGLONG n = ar.ReadCount();
        for (ULONGLONG i = 0; i < n; ++i)
            m_children.push_back(static_cast<CServerNode*>(ReadCounted(ar, RUNTIME_CLASS(CServerNode))));
    }
    void Preorder(std::vector<const CServerNode*>& out) const {
        out.push_back(this);
        for (const CServerNode* c : m_children)
            c->Preorder(out);
    }

    WORD m_shape = 0;
    CString m_key, m_description;
    WORD m_hideChildren = 0;
    std::vector<CServerNode*> m_children;
    ULONGLONG m_descriptionOffset = 0, m_countOffset = 0;
};
IMPLEMENT_SERIAL(CServerNode, CObject, 0)

namespace {
struct HierDocument {
    BYTE logFont[28] = {};
    CString faceName;
    DWORD textColour = 0;
    CServerNode root;

    void Serialize(CArchive& ar) {
        if (ar.IsStoring()) {
            ar.Write(logFont, sizeof logFont);
            ar << faceName << textColour;
        } else {
            ar.ReadExact(logFont, sizeof logFont);
            ReadText(ar, faceName);
            ar >> textColour;
        }
        root.Serialize(ar);
    }
};
} // namespace

TEST(ArchiveWindowsFiles, ServerNodeTreeDecodesAsItsWalkSays) {
    if (!HaveArchives()) GTEST_SKIP() << "no framework-written archives beside the project";
    Walk walk(ArchivesDir() + "/hiersvr-mfcclass.walk.txt");
    ASSERT_GT(walk.Size(), 100u);

    g_tally = Tally();
    HierDocument doc;
    CFile file(CString::FromUtf8(ArchivesDir() + "/hiersvr-mfcclass.hie"),
               CFile::modeRead | CFile::typeBinary);
    {
        CArchive ar(&file, CArchive::load);
        doc.Serialize(ar);
        EXPECT_EQ(ar.BytesLeft(), 0u) << "the file ends exactly after the last node";
    }
    EXPECT_EQ(static_cast<long>(file.GetLength()), walk.Summary("of"));

    LONG height;
    std::memcpy(&height, doc.logFont, 4);
    EXPECT_EQ(height, -10);
    EXPECT_EQ(doc.faceName, CString(L"Arial"));
    EXPECT_EQ(doc.textColour, 9u);
    EXPECT_EQ(doc.root.m_key, CString(L"%ROOT%"));

    std::vector<const CServerNode*> nodes;
    doc.root.Preorder(nodes);
    auto descriptions = walk.Starting("description (8-bit");
    auto counts = walk.Starting("child list (CObList WriteCount)");
    ASSERT_EQ(nodes.size(), descriptions.size());
    ASSERT_EQ(nodes.size(), counts.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ(nodes[i]->m_descriptionOffset, descriptions[i].offset) << i;
        EXPECT_EQ(Narrow(nodes[i]->m_description), Quoted(descriptions[i].text)) << i;
        EXPECT_EQ(nodes[i]->m_countOffset, counts[i].offset) << i;
        EXPECT_EQ(static_cast<long>(nodes[i]->m_children.size()), LastNumber(counts[i].text)) << i;
    }
    EXPECT_EQ(g_tally.strings, walk.Summary("strings"));
    EXPECT_EQ(g_tally.newClass, walk.Summary("new_class"));
    EXPECT_EQ(g_tally.classRef, walk.Summary("class_ref"));
    EXPECT_EQ(g_tally.objectRef, walk.Summary("object_ref"));
    EXPECT_EQ(static_cast<long>(nodes.size() - 1 + g_tally.newClass), walk.Summary("table entries"));

    // Written again here (strings now wide) and read back, the tree is the same.
    Bytes copy = StoreBytes([&](CArchive& ar) { doc.Serialize(ar); });
    HierDocument again;
    EXPECT_EQ(LoadBytes(copy, [&](CArchive& ar) { again.Serialize(ar); }), 0u);
    std::vector<const CServerNode*> nodes2;
    again.root.Preorder(nodes2);
    ASSERT_EQ(nodes2.size(), nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ(nodes2[i]->m_description, nodes[i]->m_description);
        EXPECT_EQ(nodes2[i]->m_children.size(), nodes[i]->m_children.size());
    }
    // One class description, then class back-references 01 80 only.
    Bytes description = ByteWriter().newClass(0, "CServerNode");
    EXPECT_NE(std::search(copy.begin(), copy.end(), description.begin(), description.end()), copy.end());
}

// ---------------------------------------------------------------------------------------------
// TstCon: an object array of CAmbientProperty and a list of CTestContainer98Item.

class CAmbientProperty : public CObject {
    DECLARE_SERIAL(CAmbientProperty)
public:
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) AfxThrowNotSupportedException();
        ar >> m_dispid;
        ReadText(ar, m_name);
        ar >> m_vt;
        switch (m_vt) {
        case 2:  // VT_I2
        case 11: // VT_BOOL
            ar >> m_shortValue;
            break;
        case 3: // VT_I4
            ar >> m_longValue;
            break;
        case 8: { // VT_BSTR: a byte count, then the bytes
            DWORD n;
            ar >> n;
            if (n > ar.BytesLeft()) AfxThrowArchiveException(CArchiveException::endOfFile);
            m_blob.resize(n);
            ar.ReadExact(m_blob.data(), n);
            break;
        }
        case 9: { // VT_DISPATCH: a persisted standard font
            ar.ReadExact(m_clsid, sizeof m_clsid);
            BYTE version, flags, nameLength;
            WORD charset;
            DWORD size;
            ar >> version >> charset >> flags >> m_fontWeight >> size >> nameLength;
            m_blob.resize(nameLength);
            ar.ReadExact(m_blob.data(), nameLength);
            break;
        }
        default:
            AfxThrowArchiveException(CArchiveException::genericException);
        }
        ar >> m_vti >> m_enabled >> m_stock;
    }

    LONG m_dispid = 0;
    CString m_name;
    WORD m_vt = 0;
    WORD m_shortValue = 0;
    LONG m_longValue = 0;
    BYTE m_clsid[16] = {};
    WORD m_fontWeight = 0;
    std::vector<BYTE> m_blob;
    int m_vti = 0;
    BOOL m_enabled = FALSE, m_stock = FALSE;
};
IMPLEMENT_SERIAL(CAmbientProperty, CObject, 1)

class CTestContainer98Item : public CObject {
    DECLARE_SERIAL(CTestContainer98Item)
public:
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) AfxThrowNotSupportedException();
        ar >> m_position;
        ReadText(ar, m_displayName);
        ar >> m_itemType >> m_itemNumber >> m_adviseAspect >> m_createMoniker >> m_drawAspect;
    }

    CRect m_position;
    CString m_displayName;
    DWORD m_itemType = 0, m_itemNumber = 0, m_adviseAspect = 0;
    WORD m_createMoniker = 0;
    DWORD m_drawAspect = 0;
};
IMPLEMENT_SERIAL(CTestContainer98Item, CObject, 0)

TEST(ArchiveWindowsFiles, TestContainerContentsDecodeAsTheirWalkSays) {
    if (!HaveArchives()) GTEST_SKIP() << "no framework-written archives beside the project";
    Walk walk(ArchivesDir() + "/tstcon-simon-contents.walk.txt");
    g_tally = Tally();

    std::vector<std::unique_ptr<CAmbientProperty>> properties;
    std::vector<std::unique_ptr<CTestContainer98Item>> items;
    int scriptCount = 0;
    CString script;
    CFile file(CString::FromUtf8(ArchivesDir() + "/tstcon-simon-contents.bin"), CFile::modeRead);
    {
        CArchive ar(&file, CArchive::load);
        ULONGLONG n = ar.ReadCount();
        for (ULONGLONG i = 0; i < n; ++i)
            properties.emplace_back(
                static_cast<CAmbientProperty*>(ReadCounted(ar, RUNTIME_CLASS(CAmbientProperty))));
        DWORD itemCount;
        ar >> itemCount;
        for (DWORD i = 0; i < itemCount; ++i)
            items.emplace_back(
                static_cast<CTestContainer98Item*>(ReadCounted(ar, RUNTIME_CLASS(CTestContainer98Item))));
        ar >> scriptCount;
        ReadText(ar, script);
        EXPECT_EQ(ar.BytesLeft(), 0u);
    }
    EXPECT_EQ(static_cast<long>(file.GetLength()), walk.Summary("of"));

    auto dispids = walk.Starting("dispid (LONG)");
    auto names = walk.Starting("name (8-bit");
    auto vts = walk.Starting("VARIANT vt (WORD)");
    auto vtis = walk.Starting("vti (int)");
    ASSERT_EQ(properties.size(), 13u);
    ASSERT_EQ(dispids.size(), properties.size());
    ASSERT_EQ(names.size(), properties.size());
    for (size_t i = 0; i < properties.size(); ++i) {
        EXPECT_EQ(properties[i]->m_dispid, LastNumber(dispids[i].text)) << i;
        EXPECT_EQ(Narrow(properties[i]->m_name), Quoted(names[i].text)) << i;
        EXPECT_EQ(properties[i]->m_vt, LastNumber(vts[i].text)) << i;
        EXPECT_EQ(properties[i]->m_vti, LastNumber(vtis[i].text)) << i;
        EXPECT_TRUE(properties[i]->m_enabled);
    }
    EXPECT_EQ(properties[0]->m_name, CString(L"UserMode"));
    EXPECT_EQ(properties[5]->m_longValue, 0xFFFFFF);
    EXPECT_EQ(properties[6]->m_fontWeight, 700);
    EXPECT_EQ(std::string(properties[6]->m_blob.begin(), properties[6]->m_blob.end()), "MS Sans Serif");

    auto positions = walk.Starting("position (RECT)");
    auto displayNames = walk.Starting("display name (8-bit");
    auto numbers = walk.Starting("item number (DWORD)");
    ASSERT_EQ(items.size(), 7u);
    ASSERT_EQ(positions.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        // "position (RECT) [16 raw bytes] 90 00 00 00 ...": four little-endian LONGs.
        std::istringstream hex(positions[i].text.substr(positions[i].text.find(']') + 1));
        LONG v[4] = {};
        for (int k = 0; k < 16; ++k) {
            unsigned b;
            hex >> std::hex >> b;
            v[k / 4] |= static_cast<LONG>(b << (8 * (k % 4)));
        }
        EXPECT_EQ(items[i]->m_position, CRect(v[0], v[1], v[2], v[3])) << i;
        EXPECT_EQ(Narrow(items[i]->m_displayName), Quoted(displayNames[i].text)) << i;
        EXPECT_EQ(static_cast<long>(items[i]->m_itemNumber), LastNumber(numbers[i].text)) << i;
        EXPECT_EQ(items[i]->m_itemType, 0x100u);
    }
    EXPECT_EQ(items[0]->m_position, CRect(0x90, 0x75, 0xEE, 0xD4));
    EXPECT_EQ(items[6]->m_displayName, CString(L"Agent"));
    EXPECT_EQ(scriptCount, 1);
    EXPECT_EQ(script, CString(L"Simon"));
    EXPECT_EQ(g_tally.strings, walk.Summary("strings"));
    EXPECT_EQ(g_tally.newClass, walk.Summary("new_class"));
    EXPECT_EQ(g_tally.classRef, walk.Summary("class_ref"));
    EXPECT_EQ(static_cast<long>(properties.size() + items.size()) + g_tally.newClass,
              walk.Summary("table entries"));
}

// ---------------------------------------------------------------------------------------------
// Shareaza's world table: counted strings in WORD counts, 8-bit in 2004, wide in 2007.

namespace {
struct City {
    CString name, state;
    BYTE location[4];
};
struct Country {
    BYTE id[2];
    CString name;
    std::vector<City> cities;
};

std::vector<Country> ReadWorld(const std::string& fileName, ULONGLONG& left) {
    std::vector<Country> world;
    CFile file(CString::FromUtf8(ArchivesDir() + "/" + fileName), CFile::modeRead | CFile::typeBinary);
    CArchive ar(&file, CArchive::load);
    ULONGLONG countries = ar.ReadCount();
    for (ULONGLONG i = 0; i < countries; ++i) {
        Country c;
        ar.ReadExact(c.id, 2);
        ReadText(ar, c.name);
        ULONGLONG cities = ar.ReadCount();
        for (ULONGLONG k = 0; k < cities; ++k) {
            City city;
            ReadText(ar, city.name);
            ReadText(ar, city.state);
            ar.ReadExact(city.location, 4);
            c.cities.push_back(city);
        }
        world.push_back(std::move(c));
    }
    left = ar.BytesLeft();
    return world;
}

const Country* Find(const std::vector<Country>& world, const wchar_t* name) {
    for (const auto& c : world)
        if (c.name == CString(name)) return &c;
    return nullptr;
}
} // namespace

TEST(ArchiveWindowsFiles, WorldTablesOfBothBuildsDecodeWhole) {
    if (!HaveArchives()) GTEST_SKIP() << "no framework-written archives beside the project";
    for (const char* stem : {"shareaza-worldgps-2004-ansi", "shareaza-worldgps-2007-unicode"}) {
        SCOPED_TRACE(stem);
        Walk walk(ArchivesDir() + "/" + stem + ".walk.txt");
        g_tally = Tally();
        ULONGLONG left = 1;
        std::vector<Country> world = ReadWorld(std::string(stem) + ".dat", left);
        EXPECT_EQ(left, 0u);
        EXPECT_EQ(static_cast<long>(world.size()), LastNumber(walk.Starting("countries")[0].text));
        EXPECT_EQ(g_tally.strings, walk.Summary("strings"));
        ASSERT_GE(world.size(), 2u);
        EXPECT_EQ(std::string(world[0].id, world[0].id + 2), "AF");
        EXPECT_EQ(world[0].name, CString(L"Afghanistan"));
        EXPECT_EQ(world[1].name, CString(L"Albania"));
        auto cityCounts = walk.Starting("country[1] cities");
        ASSERT_EQ(cityCounts.size(), 1u);
        ASSERT_EQ(static_cast<long>(world[1].cities.size()), LastNumber(cityCounts[0].text));
        EXPECT_EQ(world[1].cities[0].name, CString(L"Tiran"));
        EXPECT_EQ(world[1].cities[0].state, CString(L"Tiran"));
        EXPECT_EQ(world[1].cities[0].location[0], 0xA8);
    }
    // The wide build carries characters beyond ASCII, read from UTF-16, and empty strings.
    g_tally = Tally();
    ULONGLONG left = 1;
    std::vector<Country> world = ReadWorld("shareaza-worldgps-2007-unicode.dat", left);
    const Country* italy = Find(world, L"Italy");
    ASSERT_NE(italy, nullptr);
    bool cantu = false, emptyCity = false;
    for (const auto& c : world)
        for (const auto& city : c.cities)
            emptyCity |= city.name.IsEmpty();
    for (const auto& city : italy->cities)
        cantu |= city.name == CString(L"Cant\u00f9") && city.state == CString(L"Como");
    EXPECT_TRUE(cantu);
    EXPECT_TRUE(emptyCity);
}
