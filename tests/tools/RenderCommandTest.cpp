// kestro render, run as a program: canvases of the right size, palettes, recorded settings.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <FreeImage.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <sys/wait.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

#ifdef KESTRO_TOOL_PATH
const std::string kTool = KESTRO_TOOL_PATH;
#else
const std::string kTool;
#endif

using Dib = std::unique_ptr<FIBITMAP, decltype(&FreeImage_Unload)>;
Dib load(const fs::path& p) {
    return Dib(FreeImage_Load(FreeImage_GetFileType(p.c_str(), 0), p.c_str(), 0), &FreeImage_Unload);
}

// Runs kestro in dir; stdout is returned, the exit code stored.
std::string kestro(const fs::path& dir, const std::string& args, int& exit) {
    const std::string out = (dir / "out.txt").string();
    const int status = std::system(("cd '" + dir.string() + "' && '" + kTool + "' " + args + " >'" + out + "' 2>/dev/null").c_str());
    exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(out);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path scratch(const std::string& name) {
    const fs::path dir = fs::path(KESTRO_TEST_TMP) / "render" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

} // namespace

TEST(RenderCommand, DrawsEveryRealScanAtItsOwnSize) {
    const fs::path gels = fs::path(KESTRO_SHARED_DIR) / "gels";
    if (kTool.empty() || !fs::exists(gels / "SOURCES.md")) GTEST_SKIP() << "no kestro or no real scans";
    std::string files;
    for (const auto& e : fs::directory_iterator(gels))
        if (e.path().extension() != ".md") files += " '" + e.path().string() + "'";
    const fs::path dir = scratch("gels");
    int exit = -1;
    const json report = json::parse(kestro(dir, "render --json --palette auto -o pngs" + files, exit));
    ASSERT_EQ(exit, 0);
    ASSERT_GT(report.size(), 0u);
    for (const json& r : report) {
        const Dib source = load(r["file"].get<std::string>()), png = load(dir / r["output"].get<std::string>());
        ASSERT_TRUE(source && png) << r["file"];
        EXPECT_EQ(FreeImage_GetWidth(png.get()), FreeImage_GetWidth(source.get())) << r["file"];
        EXPECT_EQ(FreeImage_GetHeight(png.get()), FreeImage_GetHeight(source.get())) << r["file"];
    }
}

TEST(RenderCommand, PaletteSizeAndSettingsOfASyntheticGel) {
    if (kTool.empty()) GTEST_SKIP() << "kestro was not built";
    const fs::path dir = scratch("synth");
    int exit = -1;
    kestro(dir, "synth gel.tif --width 96 --height 64 --lanes 4 --bands 3", exit);
    ASSERT_EQ(exit, 0);
    const json report =
        json::parse(kestro(dir, "render gel.tif -o green.png --palette green --size 48x40 --gamma 1.5 --json", exit));
    ASSERT_EQ(exit, 0);
    EXPECT_EQ(report[0]["history"], json({"setting palette to Shades of Green",
                                          "adjustDisplayValue: Brightness 0.00,Contrast 0.00,Gamma 1.50"}));
    const Dib png = load(dir / "green.png");
    ASSERT_TRUE(png);
    ASSERT_EQ(FreeImage_GetWidth(png.get()) * 1000 + FreeImage_GetHeight(png.get()), 48040u);
    int green = 0, other = 0; // gamma maps 0 to 0, so red and blue stay 0
    for (unsigned y = 0; y < 40; ++y)
        for (unsigned x = 0; x < 48; ++x) {
            RGBQUAD c;
            FreeImage_GetPixelColor(png.get(), x, y, &c);
            green += c.rgbGreen > 0;
            other += c.rgbRed != 0 || c.rgbBlue != 0;
        }
    EXPECT_EQ(other, 0);
    EXPECT_GT(green, 48 * 40 / 2);

    for (const char* refused : {"render gel.tif -o x.png --size 0x5", "render gel.tif -o x.png --max-range --palette red",
                                "render missing.tif -o x.png"}) {
        kestro(dir, refused, exit);
        EXPECT_EQ(exit, 1) << refused;
    }
    EXPECT_FALSE(fs::exists(dir / "x.png"));
}
