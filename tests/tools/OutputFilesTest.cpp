// Every file kestro writes: through a link to what it points to, keeping the link and the old
// file's mode, beside files whose names look temporary without touching them.
#include "KestroRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace kestrorun;

namespace {

// Names earlier versions used for their temporaries, and a guess at a mkstemp-like one.
const char* const kDecoys[] = {".part", ".saving", ".kestro-tmp", ".partial", ".XXXXXX"};

void plantDecoys(const fs::path& beside) {
    for (const char* suffix : kDecoys) {
        std::ofstream(beside.string() + suffix) << "decoy";
        std::ofstream((beside.parent_path() / ("." + beside.filename().string() + suffix)).string())
            << "decoy";
    }
}

// Hidden files: the decoys, and any temporary left behind.
size_t hidden(const fs::path& dir) {
    size_t n = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
        n += e.path().filename().string()[0] == '.';
    return n;
}

} // namespace

TEST(OutputFiles, EveryWriterReplacesTheLinkedFileOnlyKeepingItsMode) {
    if (kTool.empty()) GTEST_SKIP() << "kestro is not built";
    const struct {
        const char* command;
        const char* output;
    } writers[] = {
        {"process gel.tif --invert -o out.tif", "out.tif"},
        {"render gel.tif -o out.png --force", "out.png"},
        {"pack gel.tif -o out.kimg", "out.kimg"},
        {"doc new out.kdoc gel.tif", "out.kdoc"},
        {"synth out.tif --width 60 --height 40 --lanes 2 --bands 1", "out.truth.json"},
        {"lanes gel.tif -o lanes --force", "lanes/bands.csv"},
        {"lanes gel.tif -o lanes --force", "lanes/gel.lanes.json"},
        {"lanes gel.tif -o lanes --force", "lanes/gel.lanes.png"},
        {"lanes gel.tif -o lanes --force", "lanes/lanes.csv"},
        {"lanes gel.tif -o lanes --force --write-edits", "lanes/gel.edits.json"},
        {"report gel.tif -o out.html --force", "out.html"},
        {"demo --out demo", "demo/report.json"},
    };
    for (const auto& w : writers) {
        SCOPED_TRACE(w.command + std::string(" -> ") + w.output);
        const fs::path dir = scratch("outputs");
        ASSERT_EQ(run("synth gel.tif --width 160 --height 120 --lanes 3 --bands 2", dir).exit, 0);
        const fs::path link = dir / w.output, real = dir / "kept" / "real";
        fs::create_directories(real.parent_path());
        fs::create_directories(link.parent_path());
        std::ofstream(real) << "old";
        fs::permissions(real, fs::perms(0600));
        fs::create_symlink(real, link);
        plantDecoys(real);
        plantDecoys(link);
        const size_t besideReal = hidden(real.parent_path()), besideLink = hidden(link.parent_path());

        const Result r = run(w.command, dir);
        ASSERT_EQ(r.exit, 0) << r.err;
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_NE(readFile(real), "old");
        EXPECT_EQ(fs::status(real).permissions(), fs::perms(0600));
        EXPECT_EQ(hidden(real.parent_path()), besideReal);
        EXPECT_EQ(hidden(link.parent_path()), besideLink);
        for (const fs::path& beside : {real, link})
            for (const char* suffix : kDecoys)
                EXPECT_EQ(readFile(beside.string() + suffix), "decoy") << suffix;
    }
}

// A run whose every input fails leaves the table of an earlier run whole.
TEST(OutputFiles, AFailedRerunLeavesTheEarlierTable) {
    if (kTool.empty()) GTEST_SKIP() << "kestro is not built";
    const fs::path dir = scratch("rerun");
    ASSERT_EQ(run("synth gel.tif --width 160 --height 120 --lanes 3 --bands 2", dir).exit, 0);
    ASSERT_EQ(run("lanes gel.tif -o out", dir).exit, 0);
    const std::string table = readFile(dir / "out" / "bands.csv");
    std::ofstream(dir / "bad.tif") << "II*\0 not a tiff";
    EXPECT_EQ(run("lanes bad.tif -o out", dir).exit, 1);
    EXPECT_EQ(readFile(dir / "out" / "bands.csv"), table);
}
