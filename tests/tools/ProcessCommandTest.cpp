// kestro process as a program: steps in command-line order, the history printed, refusals.
#include "raster/RasterTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

#ifdef KESTRO_TOOL_PATH
const std::string kProcessTool = KESTRO_TOOL_PATH;
#else
const std::string kProcessTool;
#endif

// Exit code and what went to stdout and stderr.
std::vector<std::string> process(const fs::path& dir, const std::string& args) {
    const fs::path out = dir / "out.txt", err = dir / "err.txt";
    const int status = std::system((kProcessTool + " process " + args + " >" + out.string() + " 2>" + err.string()).c_str());
    const auto read = [](const fs::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    return {std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1), read(out), read(err)};
}

} // namespace

TEST(ProcessCommand, AppliesStepsInOrderAndPrintsTheHistory) {
    if (kProcessTool.empty()) GTEST_SKIP() << "kestro is not built";
    const fs::path dir = fs::path(KESTRO_TEST_TMP) / "process";
    fs::create_directories(dir);
    const std::string in = (dir / "in.tif").string(), out = (dir / "out.tif").string();
    std::unique_ptr<DalvoImage> source(rastertest::grayImage<WORD>(5, 3, [](int x, int y) { return 30000 + 100 * y + x; }));
    ASSERT_TRUE(source->save(CString::FromUtf8(in)));

    // Flipped, rows 2 and 1 cropped to columns 1..3, stretched by 2 about 32768, turned left.
    const auto r = process(dir, in + " -o " + out + " --flip-v --crop 1 0 4 2 --contrast 100 --rotate 90");
    ASSERT_EQ(r[0], "0") << r[2];
    EXPECT_NE(r[1].find("1. Flip Vertically\n  2. Crop\n  3. Contrast: Average 100\n  4. Rotatation of 90.00 Degrees\n"),
              std::string::npos)
        << r[1];
    DalvoImage result;
    ASSERT_TRUE(result.loadU(CString::FromUtf8(out)));
    const int expected[3][2] = {{27638, 27438}, {27636, 27436}, {27634, 27434}};
    ASSERT_EQ(result.getWidth(), 2u);
    ASSERT_EQ(result.getHeight(), 3u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(reinterpret_cast<WORD*>(rastertest::pictureRow(result, y))[x], expected[y][x]);

    // A step the image refuses is one line, and nothing is written.
    for (const std::string step : {"--median 7", "--crop 9 9 12 12", "--rescale 0x4"}) {
        fs::remove(out);
        const auto refused = process(dir, in + " -o " + out + " --flip-h " + step);
        EXPECT_EQ(refused[0], "1") << step;
        EXPECT_EQ(std::count(refused[2].begin(), refused[2].end(), '\n'), 1) << refused[2];
        EXPECT_FALSE(fs::exists(out)) << step;
    }
}
