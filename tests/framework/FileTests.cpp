// CFile on disk and CMemFile in memory.
#include "ArchiveTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string TempPath(const std::string& name) {
    return std::string(KESTRO_TEST_TMP) + "/" + name;
}

std::string Slurp(const std::string& path) {
    std::string out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[256];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

} // namespace

TEST(CFileTest, WritesReadsSeeksAndReportsItsLength) {
    CString path = CString::FromUtf8(TempPath("file-basics.bin"));
    {
        CFile f(path, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
        f.Write("hello world", 11);
        EXPECT_EQ(f.GetLength(), 11u);
        EXPECT_EQ(f.GetPosition(), 11u);
        EXPECT_EQ(f.Seek(6, CFile::begin), 6u);
        f.Write("W", 1);
        f.Close();
        EXPECT_FALSE(f.IsOpen());
    }
    EXPECT_EQ(Slurp(TempPath("file-basics.bin")), "hello World");

    CFile f(path, CFile::modeRead);
    char buf[32] = {};
    EXPECT_EQ(f.Read(buf, 5), 5u);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(f.Seek(-5, CFile::end), 6u);
    EXPECT_EQ(f.Read(buf, 32), 5u);
    EXPECT_EQ(std::string(buf, 5), "World");
    EXPECT_EQ(f.Read(buf, 32), 0u);
    EXPECT_EQ(f.Seek(-2, CFile::current), 9u);
    EXPECT_EQ(f.SeekToBegin(), 0u);
    EXPECT_THROW(f.Seek(-1, CFile::begin), CFileException);
    EXPECT_THROW(f.Write("x", 1), CFileException); // opened for reading
}

TEST(CFileTest, CreateTruncatesUnlessAskedNotTo) {
    std::string p = TempPath("file-truncate.bin");
    CString path = CString::FromUtf8(p);
    { CFile(path, CFile::modeCreate | CFile::modeWrite).Write("0123456789", 10); }
    { CFile(path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite).Write("ab", 2); }
    EXPECT_EQ(Slurp(p), "ab23456789");
    {
        CFile f(path, CFile::modeReadWrite);
        char c;
        EXPECT_EQ(f.Read(&c, 1), 1u);
        f.Write("X", 1); // switching from reading to writing at the same position
        EXPECT_EQ(f.Read(&c, 1), 1u);
        EXPECT_EQ(c, '2');
        f.SetLength(4);
        EXPECT_EQ(f.GetLength(), 4u);
    }
    EXPECT_EQ(Slurp(p), "aX23");
    { CFile(path, CFile::modeCreate | CFile::modeWrite); }
    EXPECT_EQ(Slurp(p), "");
}

TEST(CFileTest, PathsAreMadeAbsoluteAndFailuresNamed) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(KESTRO_TEST_TMP), 0);
    ::mkdir("sub", 0777);
    std::string name = "n\xC3\xA4me-\xE9.bin"; // UTF-8, then a byte that is not
    {
        CFile f(CString::FromUtf8("./sub/../" + name), CFile::modeCreate | CFile::modeWrite);
        EXPECT_EQ(f.GetFilePath().ToUtf8(), std::string(KESTRO_TEST_TMP) + "/" + name);
        EXPECT_EQ(f.GetFileName().ToUtf8(), name);
    }
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(Slurp(TempPath(name)), "");

    CFileException error;
    CFile f;
    CString missing = CString::FromUtf8(TempPath("no-such-folder/x.bin"));
    EXPECT_FALSE(f.Open(missing, CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(error.m_strFileName, missing);
    EXPECT_FALSE(f.Open(CString::FromUtf8(KESTRO_TEST_TMP), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::accessDenied);
    try {
        CFile g(missing, CFile::modeRead);
        ADD_FAILURE() << "opened a missing file";
    } catch (CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    }
}

TEST(CFileTest, ArchiveExceptionsCarryTheFileName) {
    std::string p = TempPath("file-archive.bin");
    CString path = CString::FromUtf8(p);
    {
        CFile f(path, CFile::modeCreate | CFile::modeWrite);
        CArchive ar(&f, CArchive::store);
        ar << CString(L"lane") << 1.5;
        ar.Close();
    }
    CFile f(path, CFile::modeRead);
    CArchive ar(&f, CArchive::load);
    CString s;
    double d;
    ar >> s >> d;
    EXPECT_EQ(s, CString(L"lane"));
    EXPECT_EQ(d, 1.5);
    try {
        ar >> d;
        ADD_FAILURE() << "read past the end";
    } catch (CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
        EXPECT_EQ(e.m_strFileName, f.GetFilePath());
    }
}

TEST(CMemFileTest, GrowsAsWrittenAndReadsBack) {
    CMemFile m(16);
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += std::to_string(i) + ",";
    for (size_t i = 0; i < text.size(); i += 7)
        m.Write(text.data() + i, static_cast<UINT>(std::min<size_t>(7, text.size() - i)));
    EXPECT_EQ(m.GetLength(), text.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.GetBuffer()), text.size()), text);
    m.SeekToBegin();
    std::string back(text.size(), '\0');
    EXPECT_EQ(m.Read(&back[0], static_cast<UINT>(back.size() + 10)), text.size());
    EXPECT_EQ(back, text);
    // Writing after a seek past the end fills the gap with zeros.
    m.Seek(4, CFile::end);
    m.Write("!", 1);
    EXPECT_EQ(m.GetLength(), text.size() + 5);
    EXPECT_EQ(m.GetBuffer()[text.size() + 3], 0);
    m.SetLength(3);
    EXPECT_EQ(m.GetPosition(), 3u);
    EXPECT_THROW(m.Seek(-4, CFile::current), CFileException);
    BYTE* owned = m.Detach();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(owned), 3), "0,1");
    std::free(owned);
    EXPECT_EQ(m.GetLength(), 0u);
}

TEST(CMemFileTest, AFixedBufferHoldsItsDataAndDoesNotGrow) {
    BYTE buffer[4] = {1, 2, 3, 4};
    CMemFile fixed(buffer, sizeof buffer);
    EXPECT_EQ(fixed.GetLength(), 4u);
    BYTE b[4];
    EXPECT_EQ(fixed.Read(b, 4), 4u);
    fixed.SeekToBegin();
    fixed.Write("\x09", 1);
    EXPECT_EQ(buffer[0], 9);
    fixed.Seek(0, CFile::end);
    EXPECT_THROW(fixed.Write("x", 1), CMemoryException);

    // A caller's buffer that may grow is only room to write into; growing copies it out.
    BYTE room[2] = {7, 7};
    CMemFile growable(room, sizeof room, 8);
    EXPECT_EQ(growable.GetLength(), 0u);
    growable.Write("ab", 2);
    EXPECT_EQ(room[0], 'a');
    growable.Write("cd", 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(growable.GetBuffer()), 4), "abcd");
    EXPECT_EQ(room[1], 'b');
}
