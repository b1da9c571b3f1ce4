// Archives written by the framework on Windows, decoded whole with small classes that mirror
// the ones that wrote them. Every value the decode reads is checked against the byte-by-byte
// walk that comes with each file: the same offset, the same value.
#include "ArchiveTestSupport.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sys/stat.h>

namespace {

std::string ArchivesDir() { return std::string(KESTRO_SHARED_DIR) + "/mfc-archives/"; }

bool HaveArchives() {
    struct stat st;
    return ::stat(ArchivesDir().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
#define SKIP_WITHOUT_ARCHIVES()                                                                                      \
    if (!HaveArchives()) GTEST_SKIP() << "no framework-written archives at " << ArchivesDir() << " (set KESTRO_SHARED_DIR)"

// What the decode read, by offset, spelled as the walks spell it: 'text', a decimal number,
// hex bytes, or the summary's name for the kind of an object envelope.
std::map<ULONGLONG, std::string> g_seen;

std::string Spell(const CString& s) { return "'" + s.ToUtf8() + "'"; }
template <class T> std::string Spell(T value) { return std::to_string(value); }

ULONGLONG At(CArchive& ar) { return ar.GetFile()->GetPosition(); } // the archive keeps no buffer

template <class T> T Rd(CArchive& ar) {
    ULONGLONG at = At(ar);
    T value{};
    ar >> value;
    g_seen[at] = Spell(value);
    return value;
}

Bytes Raw(CArchive& ar, size_t n) {
    ULONGLONG at = At(ar);
    if (n > ar.BytesLeft()) AfxThrowArchiveException(CArchiveException::endOfFile);
    Bytes bytes(n);
    ar.ReadExact(bytes.data(), n);
    if (n) g_seen[at] = Hex(bytes);
    return bytes;
}

ULONGLONG Count(CArchive& ar) {
    ULONGLONG at = At(ar), n = ar.ReadCount();
    g_seen[at] = std::to_string(n);
    return n;
}

CObject* Obj(CArchive& ar, const CRuntimeClass* required) {
    ULONGLONG at = At(ar);
    WORD tag = 0;
    ar >> tag;
    ar.GetFile()->Seek(static_cast<LONGLONG>(at), CFile::begin);
    g_seen[at] = tag == 0xFFFF ? "new_class" : tag == 0 ? "null" : tag & 0x8000 ? "class_ref" : "object_ref";
    return ar.ReadObject(required);
}

std::string WalkValue(const std::string& text) {
    static const std::regex number(R"((-?\d+)(?: \(-?0x[0-9a-f]+\))?$)");
    std::smatch m;
    size_t raw = text.find("raw bytes]");
    if (text.find("NEW CLASS") != std::string::npos) return "new_class";
    if (text.find("class back-reference") != std::string::npos) return "class_ref";
    if (text.find("object back-reference") != std::string::npos) return "object_ref";
    if (raw != std::string::npos) return text.substr(text.find_first_not_of(' ', raw + 10));
    if (text.back() == '\'') return text.substr(text.find('\''));
    return std::regex_search(text, m, number) ? m[1].str() : "?";
}

long SummaryNumber(const std::string& summary, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(summary, m, std::regex("'?" + key + R"('?:? (0x[0-9a-f]+|\d+))"))) return -1;
    return std::stol(m[1], nullptr, 0);
}

/// Decodes a file with read, then checks what it read against the file's walk: every value
/// the walk shows (a long raw block it shows in part, ending "..."), nothing read that the walk
/// leaves out before its last line, and the tallies of its summary line.
void DecodeAndCheck(const std::string& stem, const std::string& extension,
                    const std::function<void(CArchive&)>& read) {
    SCOPED_TRACE(stem);
    g_seen.clear();
    CFile file(CString::FromUtf8(ArchivesDir() + stem + extension), CFile::modeRead);
    {
        CArchive ar(&file, CArchive::load);
        read(ar);
        EXPECT_EQ(ar.BytesLeft(), 0u);
    }
    std::ifstream in(ArchivesDir() + stem + ".walk.txt");
    std::map<ULONGLONG, std::string> walk;
    std::string line, summary;
    std::smatch m;
    static const std::regex entry(R"(^0x([0-9a-f]+)\s+(.*\S)\s*$)");
    while (std::getline(in, line)) {
        if (line.rfind("-- stopped", 0) == 0) summary = line;
        // Lines that open an object's body share the offset of its first value.
        if (std::regex_match(line, m, entry) && !std::regex_search(line, std::regex("body of|no envelope")))
            walk[std::stoull(m[1], nullptr, 16)] = WalkValue(m[2]);
    }
    ASSERT_FALSE(walk.empty());
    EXPECT_EQ(static_cast<long>(file.GetLength()), SummaryNumber(summary, "of"));
    for (const auto& [at, want] : walk) {
        std::string got = g_seen.count(at) ? g_seen[at] : "(nothing)";
        if (want.size() > 3 && want.compare(want.size() - 3, 3, "...") == 0)
            got = got.substr(0, want.size() - 3) + "...";
        EXPECT_EQ(got, want) << "at offset " << at;
    }
    std::map<std::string, long> tally;
    for (const auto& [at, got] : g_seen) {
        EXPECT_TRUE(at > walk.rbegin()->first || walk.count(at)) << "read " << got << " at " << at;
        ++tally[got[0] == '\'' ? "strings" : got];
    }
    for (const char* key : {"strings", "new_class", "class_ref", "object_ref", "null"})
        EXPECT_EQ(tally[key], SummaryNumber(summary, key)) << key;
    EXPECT_EQ(2 * tally["new_class"] + tally["class_ref"], SummaryNumber(summary, "table entries"));
}

std::vector<std::string> Values() {
    std::vector<std::string> values;
    for (const auto& [at, value] : g_seen)
        values.push_back(value);
    return values;
}

} // namespace

// hiersvr: a font record, a face name, a colour, then a tree of CServerNode objects.
class CServerNode : public CObject {
    DECLARE_SERIAL(CServerNode)
public:
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar << m_shape << m_key << m_description << m_hideChildren;
            ar.WriteCount(m_children.size());
            for (const auto& c : m_children)
                ar << c.get();
            return;
        }
        m_shape = Rd<WORD>(ar);
        m_key = Rd<CString>(ar);
        m_description = Rd<CString>(ar);
        m_hideChildren = Rd<WORD>(ar);
        for (ULONGLONG i = 0, n = Count(ar); i < n; ++i)
            m_children.emplace_back(static_cast<CServerNode*>(Obj(ar, RUNTIME_CLASS(CServerNode))));
    }

    WORD m_shape = 0, m_hideChildren = 0;
    CString m_key, m_description;
    std::vector<std::unique_ptr<CServerNode>> m_children;
};
IMPLEMENT_SERIAL(CServerNode, CObject, 0)

namespace {
struct HierDocument {
    Bytes logFont;
    CString faceName;
    DWORD textColour = 0;
    CServerNode root;

    void Serialize(CArchive& ar) {
        if (ar.IsStoring()) {
            ar.Write(logFont.data(), static_cast<UINT>(logFont.size()));
            ar << faceName << textColour;
        } else {
            logFont = Raw(ar, 28);
            faceName = Rd<CString>(ar);
            textColour = Rd<DWORD>(ar);
        }
        root.Serialize(ar);
    }
};
} // namespace

TEST(ArchiveWindowsFiles, ServerNodeTreeDecodesAsItsWalkSaysAndSurvivesARewrite) {
    SKIP_WITHOUT_ARCHIVES();
    HierDocument doc;
    DecodeAndCheck("hiersvr-mfcclass", ".hie", [&](CArchive& ar) { doc.Serialize(ar); });
    // Written again here (strings now wide) and read back: the same values and envelopes in the
    // same order, so one class description and then class back-references only.
    std::vector<std::string> first = Values();
    Bytes copy = StoreBytes([&](CArchive& ar) { doc.Serialize(ar); });
    HierDocument again;
    g_seen.clear();
    EXPECT_EQ(LoadBytes(copy, [&](CArchive& ar) { again.Serialize(ar); }), 0u);
    EXPECT_EQ(Values(), first);
}

// Shareaza's world table: counted strings in WORD counts, 8-bit in 2004, wide in 2007. Their
// walks show the first few values only; the strings tally covers the whole file.
TEST(ArchiveWindowsFiles, WorldTablesOfBothBuildsDecodeWhole) {
    SKIP_WITHOUT_ARCHIVES();
    for (const char* stem : {"shareaza-worldgps-2004-ansi", "shareaza-worldgps-2007-unicode"}) {
        DecodeAndCheck(stem, ".dat", [](CArchive& ar) {
            for (ULONGLONG i = 0, countries = Count(ar); i < countries; ++i) {
                Raw(ar, 2), Rd<CString>(ar); // id, name
                for (ULONGLONG k = 0, cities = Count(ar); k < cities; ++k)
                    Rd<CString>(ar), Rd<CString>(ar), Raw(ar, 4); // city, state, location
            }
        });
    }
    // The wide build carries characters beyond ASCII, read from UTF-16, and empty strings.
    std::vector<std::string> values = Values();
    auto cantu = std::find(values.begin(), values.end(), "'Cant\xC3\xB9'");
    ASSERT_NE(cantu, values.end());
    EXPECT_EQ(cantu[1], "'Como'");
    EXPECT_NE(std::find(values.begin(), values.end(), "''"), values.end());
}
