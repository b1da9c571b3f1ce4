// CFile on disk and CMemFile in memory, as archives and image files use them.
#include "ArchiveTestSupport.h"

#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string TempPath(const std::string& name) {
    return std::string(KESTRO_TEST_TMP) + "/" + name;
}

// The same steps on a file on disk and on one in memory: what an archive asks of its file.
void WriteAndReadBack(CFile& f) {
    f.Write("hello ", 6);
    f.Write("world", 5);
    EXPECT_EQ(f.GetPosition(), 11u);
    EXPECT_EQ(f.GetLength(), 11u);
    f.SeekToBegin();
    char buf[32] = {};
    EXPECT_EQ(f.Read(buf, 32), 11u); // a read past the end is short
    EXPECT_EQ(std::string(buf), "hello world");
}

} // namespace

TEST(CFileTest, MemoryFilesBehaveAsDiskFiles) {
    const std::string p = TempPath("file-basics.bin");
    {
        CFile disk(CString::FromUtf8(p), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary);
        WriteAndReadBack(disk);
    }
    std::ifstream written(p, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "hello world");
    CFile reading(CString::FromUtf8(p), CFile::modeRead);
    EXPECT_THROW(reading.Write("x", 1), CFileException);
    CMemFile memory(4); // grows
    WriteAndReadBack(memory);
}

TEST(CFileTest, PathsAreMadeAbsolute) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(KESTRO_TEST_TMP), 0);
    ::mkdir("sub", 0777);
    const std::string name = "n\xC3\xA4me-\xE9.bin"; // UTF-8, then a byte that is not
    {
        CFile f(CString::FromUtf8("./sub/../" + name), CFile::modeCreate | CFile::modeWrite);
        EXPECT_EQ(f.GetFilePath().ToUtf8(), TempPath(name));
        EXPECT_EQ(f.GetFileName().ToUtf8(), name);
    }
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(::access(TempPath(name).c_str(), F_OK), 0);
}

TEST(CFileTest, FailuresCarryTheirCauseWithTheFileName) {
    CFileException error;
    CFile f;
    const CString missing = CString::FromUtf8(TempPath("no-such-folder/x.bin"));
    EXPECT_FALSE(f.Open(missing, CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(error.m_strFileName, missing);
    EXPECT_FALSE(f.Open(CString::FromUtf8(KESTRO_TEST_TMP), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::accessDenied);
    // An archive over a file names it in its exceptions.
    const CString path = CString::FromUtf8(TempPath("file-archive.bin"));
    CFile(path, CFile::modeCreate | CFile::modeWrite).Write("\x01", 1);
    CFile in(path, CFile::modeRead);
    CArchive ar(&in, CArchive::load);
    int value;
    try {
        ar >> value;
        ADD_FAILURE() << "read past the end";
    } catch (CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
        EXPECT_EQ(e.m_strFileName, in.GetFilePath());
    }
}
