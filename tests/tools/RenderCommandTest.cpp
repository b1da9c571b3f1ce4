// kestro render, run as a program: canvases of the right size, palettes, recorded settings. (Every
// kind of image the real scans come as is drawn in the display tests.)
#include "KestroRun.h"

#include <FreeImage.h>

using namespace kestrorun;

namespace {

using Dib = std::unique_ptr<FIBITMAP, decltype(&FreeImage_Unload)>;

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

class RenderCommand : public ToolTest {
protected:
    // The picture `kestro render ARGS -o out.png` wrote (a failure without one); its stdout in `out`.
    Dib render(const std::string& args) {
        out = ok("render " + args + " -o out.png").out;
        const std::string p = (dir / "out.png").string();
        Dib dib(FreeImage_Load(FreeImage_GetFileType(p.c_str(), 0), p.c_str(), 0), &FreeImage_Unload);
        EXPECT_TRUE(dib) << p;
        return dib;
    }
    std::string out;
};

} // namespace

TEST_F(RenderCommand, RenderOptionsReachThePicture) {
    ASSERT_EQ(run("synth gel.tif --width 96 --height 64 --lanes 4 --bands 3", dir).exit, 0);
    const Dib png = render("gel.tif --palette green --size 48x40 --gamma 1.5 --json");
    EXPECT_EQ(json::parse(out)[0]["history"],
              json({"setting palette to Shades of Green",
                    "adjustDisplayValue: Brightness 0.00,Contrast 0.00,Gamma 1.50"}));
    ASSERT_EQ(FreeImage_GetWidth(png.get()) * 1000 + FreeImage_GetHeight(png.get()), 48040u);
    // Gamma maps 0 to 0, so red and blue stay 0.
    EXPECT_EQ(countPixels(png, [](const RGBQUAD& c) { return c.rgbRed != 0 || c.rgbBlue != 0; }), 0);
    EXPECT_GT(countPixels(png, [](const RGBQUAD& c) { return c.rgbGreen > 0; }), 48 * 40 / 2);
}

// Display checks that do not mislead: an 8-bit gel's saturated pixels are marked red as a 16-bit
// gel's are, and auto contrast on a gel that uses 14 of its 16 bits is not blown out.
TEST_F(RenderCommand, TheSaturatedPaletteMarksFullPixelsRed) {
    // Full at x = 0, 7, .. 35 and y = 0, 5, .. 25: 36 pixels. The palette is a grey ramp.
    ASSERT_TRUE(writeGrey<BYTE>(dir / "g8.tif", 40, 30, [](int x, int y) {
        return x % 7 == 0 && y % 5 == 0 ? 255 : (x * 5 + y) % 250;
    }));
    const Dib s = render("g8.tif --palette saturated");
    EXPECT_EQ(FreeImage_GetWidth(s.get()) * 100 + FreeImage_GetHeight(s.get()), 4030u); // its own size
    EXPECT_EQ(
        countPixels(s, [](const RGBQUAD& c) { return c.rgbRed == 255 && c.rgbGreen == 0 && c.rgbBlue == 0; }),
        36);
}

TEST_F(RenderCommand, AutoContrastStretchesA14BitRamp) {
    ASSERT_TRUE(
        writeGrey<WORD>(dir / "g14.tif", 64, 64, [](int x, int y) { return (x * 64 + y) * 8931 / 4095; }));
    EXPECT_LT(countPixels(render("g14.tif --palette auto"), [](const RGBQUAD& c) { return c.rgbRed == 255; }),
              64 * 64 / 50)
        << "an even ramp stretched between its 0.1% and 99.9% points";
}
