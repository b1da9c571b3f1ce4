// Every file kestro writes: through a link to what it points to, keeping the link and the old
// file's mode, beside files whose names look temporary without touching them.
#include "KestroRun.h"
#include "TestTables.h"

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

class OutputFiles : public ToolTest {};

} // namespace

TEST_F(OutputFiles, EveryWriterReplacesTheLinkedFileOnlyKeepingItsMode) {
    const std::vector<std::string> rows = TableRows("tools/data/output-writers.txt");
    for (const std::string& row : rows) {
        SCOPED_TRACE(row);
        const std::string output = row.substr(0, row.find(" | ")), command = row.substr(row.find(" | ") + 3);
        fs::remove_all(dir);
        fs::create_directories(dir);
        ASSERT_EQ(run("synth gel.tif --width 160 --height 120 --lanes 3 --bands 2", dir).exit, 0);
        const fs::path link = dir / output, real = dir / "kept" / "real";
        fs::create_directories(real.parent_path());
        fs::create_directories(link.parent_path());
        std::ofstream(real) << "old";
        fs::permissions(real, fs::perms(0600));
        fs::create_symlink(real, link);
        plantDecoys(real);
        plantDecoys(link);
        const size_t besideReal = hidden(real.parent_path()), besideLink = hidden(link.parent_path());

        const Result r = ok(command);
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_NE(readFile(real), "old");
        EXPECT_EQ(fs::status(real).permissions(), fs::perms(0600));
        EXPECT_EQ(hidden(real.parent_path()), besideReal);
        EXPECT_EQ(hidden(link.parent_path()), besideLink);
        for (const fs::path& beside : {real, link})
            for (const char* suffix : kDecoys)
                EXPECT_EQ(readFile(beside.string() + suffix), "decoy") << suffix;
    }
    EXPECT_EQ(rows.size(), 12u);
}
