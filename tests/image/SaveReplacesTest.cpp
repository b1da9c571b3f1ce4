// Saving by name: a failed save leaves the user's file as it was (links: with the command's writers).
#include "ImageTestKit.h"

#include <csignal>
#include <sys/stat.h>

using namespace imagetest;
namespace fs = std::filesystem;

namespace {

const std::vector<BYTE> kOld = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};

/// A folder of its own holding one file of the user's bytes under that name; the file's path.
std::string userFile(const std::string& folder, const std::string& name) {
    const fs::path dir = fs::path(KESTRO_TEST_TMP) / folder;
    if (fs::exists(dir)) fs::permissions(dir, fs::perms(0755));
    fs::remove_all(dir);
    fs::create_directories(dir);
    writeBytes((dir / name).string(), kOld);
    return (dir / name).string();
}

size_t entriesBeside(const std::string& path) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(fs::path(path).parent_path()), {}));
}

} // namespace

TEST(SaveReplaces, WriterThatRefusesAfterTheExportTestLeavesTheOldFile) {
    const std::tuple<unsigned, unsigned, const char*> cases[] = {{16, 32, "a.jpg"},     {16, 1, "a.ico"},
                                                                 {70000, 24, "w.jpg"},  {70000, 24, "w.ico"},
                                                                 {70000, 24, "w.webp"}, {16, 24, "a.jxr"}};
    for (const auto& [width, bpp, name] : cases) {
        SCOPED_TRACE(name);
        const std::string path = userFile("refused", name);
        const fipImage image = patterned(width, 1, bpp);
        ASSERT_TRUE(image.canSave(path.c_str())) << "the case must pass the export test";
        EXPECT_FALSE(image.save(path.c_str()));
        EXPECT_EQ(readBytes(path), kOld);
        EXPECT_EQ(entriesBeside(path), 1u);
    }
}

TEST(SaveReplaces, UnwritableTargetsAreRefused) {
    const std::string path = userFile("readonly", "locked.png"), dir = fs::path(path).parent_path();
    const fipImage image = patterned(4, 4, 8);
    fs::permissions(path, fs::perms(0444));
    EXPECT_FALSE(image.save(path.c_str()));
    EXPECT_EQ(readBytes(path), kOld);
    EXPECT_FALSE(image.save(dir.c_str())); // a folder is no image file
    fs::permissions(path, fs::perms(0644));
    if (geteuid() == 0) GTEST_SKIP() << "root writes into folders without write permission";
    fs::permissions(dir, fs::perms(0555));
    EXPECT_FALSE(image.save(path.c_str()));
    EXPECT_EQ(readBytes(path), kOld);
    fs::permissions(dir, fs::perms(0755));
}

// A file-size limit makes the writes fail as a full disk would, in a child process.
TEST(SaveReplaces, FullDiskLeavesTheOldFile) {
    const std::string path = userFile("full", "big.tif");
    const auto child = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(patterned(256, 256, 24).save(path.c_str()) ? 1 : 0); // 1: the save reported success
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(readBytes(path), kOld);
    EXPECT_EQ(entriesBeside(path), 1u);
}
