// Saving by name: a save that fails leaves the file the user had byte for byte as it was.
#include "image/DalvoImage.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kOld = "the user's precious file";

std::string folder(const std::string& name) {
    const std::string dir = std::string(KESTRO_TEST_TMP) + "/" + name;
    mkdir(dir.c_str(), 0755);
    chmod(dir.c_str(), 0755);
    return dir;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put(const std::string& path, const std::string& bytes) {
    unlink(path.c_str());
    std::ofstream(path, std::ios::binary) << bytes;
}

size_t entries(const std::string& dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) n += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
        closedir(d);
    }
    return n;
}

fipImage bitmap(unsigned width, unsigned height, unsigned bpp) {
    fipImage image(FIT_BITMAP, width, height, bpp);
    for (unsigned y = 0; y < height; ++y)
        for (unsigned i = 0; i < image.getLine(); ++i) image.getScanLine(y)[i] = static_cast<BYTE>(i * 7 + y);
    return image;
}

} // namespace

TEST(SaveReplaces, WriterThatRefusesAfterTheExportTestLeavesTheOldFile) {
    struct Case {
        unsigned width, bpp;
        const char* name;
    };
    const Case cases[] = {{16, 32, "a.jpg"}, {16, 1, "a.ico"}, {70000, 24, "w.jpg"},
                          {70000, 24, "w.ico"}, {70000, 24, "w.webp"}, {16, 24, "a.jxr"}};
    int exercised = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = folder("refused");
        const std::string path = dir + "/" + c.name;
        put(path, kOld);
        const fipImage image = bitmap(c.width, 1, c.bpp);
        if (!image.canSave(path.c_str())) continue; // the export test refuses: nothing to show
        ++exercised;
        EXPECT_FALSE(image.save(path.c_str()));
        EXPECT_EQ(slurp(path), kOld);
        EXPECT_EQ(entries(dir), 1u);
        unlink(path.c_str());
    }
    EXPECT_EQ(exercised, 6) << "each case passes the export test and is refused by its writer";
}

TEST(SaveReplaces, SuccessReplacesThroughLinksAndKeepsPermissions) {
    const std::string dir = folder("links");
    const std::string real = dir + "/real.png", link = dir + "/link.png";
    put(real, kOld);
    chmod(real.c_str(), 0640);
    unlink(link.c_str());
    ASSERT_EQ(symlink("real.png", link.c_str()), 0);

    DalvoImage image(FIT_BITMAP, 5, 4, 8);
    ASSERT_TRUE(image.save(CString::FromUtf8(link)));
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    fipImage back;
    ASSERT_TRUE(back.load(real.c_str()));
    EXPECT_EQ(back.getWidth(), 5u);
    EXPECT_EQ(entries(dir), 2u);
}

TEST(SaveReplaces, ReadOnlyTargetsAndFoldersAreNotWritten) {
    const std::string dir = folder("readonly");
    const std::string path = dir + "/locked.png";
    put(path, kOld);
    chmod(path.c_str(), 0444);
    const fipImage image = bitmap(4, 4, 8);
    EXPECT_FALSE(image.save(path.c_str()));
    EXPECT_EQ(slurp(path), kOld);
    EXPECT_FALSE(image.save(dir.c_str())); // a folder is no image file
    chmod(path.c_str(), 0644);

    if (geteuid() == 0) GTEST_SKIP() << "root writes into folders without write permission";
    chmod(dir.c_str(), 0555);
    EXPECT_FALSE(image.save(path.c_str()));
    EXPECT_EQ(slurp(path), kOld);
    chmod(dir.c_str(), 0755);
}

// A file-size limit makes the writes fail as a full disk would, in a child process.
TEST(SaveReplaces, FullDiskLeavesTheOldFile) {
    const std::string dir = folder("full");
    const std::string path = dir + "/big.tif";
    put(path, kOld);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const fipImage image = bitmap(256, 256, 24);
        _exit(image.save(path.c_str()) ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reported success";
    EXPECT_EQ(slurp(path), kOld);
    EXPECT_EQ(entries(dir), 1u);
}
