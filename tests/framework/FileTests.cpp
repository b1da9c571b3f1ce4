// CFile on disk and CMemFile in memory.
#include "ArchiveTestSupport.h"

#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string TempPath(const std::string& name) { return std::string(KESTRO_TEST_TMP) + "/" + name; }

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The same steps on a file on disk and on one in memory.
void WriteReadSeekAndCut(CFile& f) {
    f.Write("hello world", 11);
    EXPECT_EQ(f.Seek(6, CFile::begin), 6u);
    f.Write("W", 1);
    char buf[32] = {};
    EXPECT_EQ(f.Seek(-11, CFile::end), 0u);
    EXPECT_EQ(f.Read(buf, 5), 5u);
    EXPECT_EQ(f.Seek(1, CFile::current), 6u);
    EXPECT_EQ(f.Read(buf + 5, 32), 5u);
    EXPECT_EQ(std::string(buf), "helloWorld");
    EXPECT_THROW(f.Seek(-12, CFile::current), CFileException);
    // Writing after a seek past the end fills the gap with zeros.
    EXPECT_EQ(f.Seek(2, CFile::end), 13u);
    f.Write("!", 1);
    EXPECT_EQ(f.SeekToBegin(), 0u);
    EXPECT_EQ(f.Read(buf, 32), 14u);
    EXPECT_EQ(std::string(buf, 14), std::string("hello World\0\0!", 14));
    f.SetLength(4);
    EXPECT_EQ(f.GetLength(), 4u);
}

} // namespace

TEST(CFileTest, FilesOnDiskAndInMemoryWriteReadSeekAndCutAlike) {
    const std::string p = TempPath("file-basics.bin");
    {
        CFile disk(CString::FromUtf8(p), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary);
        WriteReadSeekAndCut(disk);
    }
    EXPECT_EQ(Slurp(p), "hell");
    CFile reading(CString::FromUtf8(p), CFile::modeRead);
    EXPECT_THROW(reading.Write("x", 1), CFileException);
    CMemFile memory(4); // grows many times
    WriteReadSeekAndCut(memory);
    EXPECT_EQ(memory.GetPosition(), 4u); // a shorter file in memory takes the position with it
    BYTE* owned = memory.Detach();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(owned), 4), "hell");
    std::free(owned);
    EXPECT_EQ(memory.GetLength(), 0u);
}


TEST(CFileTest, PathsAreMadeAbsoluteAndFailuresCarryCauseAndName) {
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
