// kestro render, run as a program: canvases of the right size, palettes, recorded settings. (Every
// kind of image the real scans come as is drawn in the display tests.)
#include "KestroRun.h"
#include "raster/RasterTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <FreeImage.h>

#include <functional>
#include <memory>

namespace fs = std::filesystem;
using namespace kestrorun;
using nlohmann::json;

namespace {

using Dib = std::unique_ptr<FIBITMAP, decltype(&FreeImage_Unload)>;
Dib load(const fs::path& p) {
    return Dib(FreeImage_Load(FreeImage_GetFileType(p.c_str(), 0), p.c_str(), 0), &FreeImage_Unload);
}

// How many pixels of the picture pass the test.
int countPixels(const Dib& dib, const std::function<bool(const RGBQUAD&)>& test) {
    const unsigned w = FreeImage_GetWidth(dib.get());
    int n = 0;
    for (unsigned i = 0; i < w * FreeImage_GetHeight(dib.get()); ++i) {
        RGBQUAD c;
        FreeImage_GetPixelColor(dib.get(), i % w, i / w, &c);
        n += test(c);
    }
    return n;
}

class RenderCommand : public ToolTest {};

} // namespace

TEST_F(RenderCommand, RenderOptionsReachThePicture) {
    ASSERT_EQ(run("synth gel.tif --width 96 --height 64 --lanes 4 --bands 3", dir).exit, 0);
    const Result r = ok("render gel.tif -o green.png --palette green --size 48x40 --gamma 1.5 --json");
    EXPECT_EQ(json::parse(r.out)[0]["history"],
              json({"setting palette to Shades of Green",
                    "adjustDisplayValue: Brightness 0.00,Contrast 0.00,Gamma 1.50"}));
    const Dib png = load(dir / "green.png");
    ASSERT_TRUE(png);
    ASSERT_EQ(FreeImage_GetWidth(png.get()) * 1000 + FreeImage_GetHeight(png.get()), 48040u);
    // Gamma maps 0 to 0, so red and blue stay 0.
    EXPECT_EQ(countPixels(png, [](const RGBQUAD& c) { return c.rgbRed != 0 || c.rgbBlue != 0; }), 0);
    EXPECT_GT(countPixels(png, [](const RGBQUAD& c) { return c.rgbGreen > 0; }), 48 * 40 / 2);
}

// Display checks that do not mislead: an 8-bit gel's saturated pixels are marked red as a 16-bit
// gel's are, and auto contrast on a gel that uses 14 of its 16 bits is not blown out.
TEST_F(RenderCommand, TheSaturatedPaletteMarksFullPixelsRed) {
    // Full at x = 0, 7, .. 35 and y = 0, 5, .. 25: 36 pixels. The palette is a grey ramp.
    const std::unique_ptr<DalvoImage> bytes(rastertest::grayImage<BYTE>(
        40, 30, [](int x, int y) { return x % 7 == 0 && y % 5 == 0 ? 255 : (x * 5 + y) % 250; }));
    ASSERT_TRUE(bytes->save(CString::FromUtf8((dir / "g8.tif").string())));
    ok("render g8.tif -o s.png --palette saturated");
    const Dib s = load(dir / "s.png");
    ASSERT_TRUE(s);
    EXPECT_EQ(FreeImage_GetWidth(s.get()) * 100 + FreeImage_GetHeight(s.get()), 4030u); // its own size
    EXPECT_EQ(
        countPixels(s, [](const RGBQUAD& c) { return c.rgbRed == 255 && c.rgbGreen == 0 && c.rgbBlue == 0; }),
        36);
}

TEST_F(RenderCommand, AutoContrastStretchesA14BitRamp) {
    const std::unique_ptr<DalvoImage> words(
        rastertest::grayImage<WORD>(64, 64, [](int x, int y) { return (x * 64 + y) * 8931 / 4095; }));
    ASSERT_TRUE(words->save(CString::FromUtf8((dir / "g14.tif").string())));
    ok("render g14.tif -o a.png --palette auto");
    const Dib a = load(dir / "a.png");
    ASSERT_TRUE(a);
    EXPECT_LT(countPixels(a, [](const RGBQUAD& c) { return c.rgbRed == 255; }), 64 * 64 / 50)
        << "an even ramp stretched between its 0.1% and 99.9% points";
}
