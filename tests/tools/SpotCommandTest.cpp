// kestro spot, run as a program: grey forms, polarity, measurements, rectangle files and warnings.
#include "KestroRun.h"

using namespace kestrorun;

namespace {

// A band with sharp edges, [20, 40) x [12, 28), on a flat background of 20 (8-bit levels); three
// of its pixels saturate. Its rays stop on the first background pixels, so the pixels inside the
// outline are exactly the band's.
constexpr int kW = 60, kH = 40;
const std::string kRect = " --rect 10 5 50 35";
bool inBand(int x, int y) {
    return x >= 20 && x < 40 && y >= 12 && y < 28;
}
int level(int x, int y) {
    if (!inBand(x, y)) return 20;
    if ((x == 22 && y == 14) || (x == 37 && y == 26) || (x == 24 && y == 25)) return 255;
    return 120 + (x * 7 + y * 13) % 100;
}
const auto bright = [](int x, int y) { return level(x, y) * 257; };

// Writes an RGB image of rgb(x, y).
void writeRgb(const fs::path& path, const std::function<RGBQUAD(int, int)>& rgb) {
    DalvoImage image(FIT_BITMAP, kW, kH, 24);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            BYTE* c = image.getScanLine(kH - 1 - y) + 3 * x;
            const RGBQUAD q = rgb(x, y);
            c[FI_RGBA_RED] = q.rgbRed, c[FI_RGBA_GREEN] = q.rgbGreen, c[FI_RGBA_BLUE] = q.rgbBlue;
        }
    ASSERT_TRUE(save(image, path));
}
// An 8-bit image of index(x, y) whose palette gives each index the colour rgb(index).
void writePalette(const fs::path& path, const std::function<int(int, int)>& index,
                  const std::function<RGBQUAD(int)>& rgb) {
    const std::unique_ptr<DalvoImage> image(rastertest::grayImage<BYTE>(kW, kH, index));
    for (int i = 0; i < 256; ++i)
        image->getPalette()[i] = rgb(i);
    ASSERT_TRUE(save(*image, path));
}

class Spot : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        ASSERT_TRUE(IsSkipped() || writeGrey<WORD>(dir / "bright.tif", kW, kH, bright));
    }
    std::string at(const std::string& name) const { return quote((dir / name).string()); }
};

} // namespace

TEST_F(Spot, MeasuresInEveryGreyForm) {
    const auto dark = [](int x, int y) { return 65535 - bright(x, y); };
    ASSERT_TRUE(writeGrey<WORD>(dir / "dark.tif", kW, kH, dark));
    writeRgb(dir / "equal.png", [](int x, int y) {
        const BYTE v = BYTE(level(x, y));
        return RGBQUAD{v, v, v, 0};
    });
    writeRgb(dir / "colour.png", [](int x, int y) {
        return RGBQUAD{60, BYTE(255 - level(x, y)), BYTE(level(x, y)), 0};
    });
    writePalette(dir / "palette.png", level, [](int i) { return RGBQUAD{60, BYTE(255 - i), BYTE(i), 0}; });
    const auto luma = [](int x, int y) {
        return (299 * level(x, y) + 587 * (255 - level(x, y)) + 114 * 60 + 500) / 1000;
    };
    struct Row {
        std::string args, grey;
        bool dark;
        int top;
        std::function<int(int, int)> value;
    };
    const std::vector<Row> rows = {
        {"bright.tif", "16-bit grayscale", false, 65535, bright},
        {"bright.tif --method rows", "16-bit grayscale", false, 65535, bright},
        {"dark.tif", "16-bit grayscale", true, 65535, dark},
        {"equal.png", "luma of 8-bit RGB", false, 255, level},
        {"colour.png", "luma of 8-bit RGB", true, 255, luma},
        {"palette.png", "8-bit palette indices looked up", true, 255, luma},
        {"colour.png --channel r", "red channel of 8-bit RGB", false, 255, level},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        const Result r = ok("spot --json " + (dir / row.args).string() + kRect);
        const json j = json::parse(r.out), s = j["spots"][0];
        EXPECT_EQ(j["grey"].get<std::string>().rfind(row.grey, 0), 0u) << j["grey"];
        EXPECT_EQ(s["polarity"], row.dark ? "dark" : "bright");
        EXPECT_TRUE(s["polarityDetected"].get<bool>());
        const int background = row.value(0, 0);
        long long area = 0, volume = 0, saturated = 0;
        int peak = background;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                if (inBand(x, y)) {
                    const int v = row.value(x, y);
                    ++area;
                    volume += row.dark ? background - v : v - background;
                    peak = row.dark ? std::min(peak, v) : std::max(peak, v);
                    saturated += v == (row.dark ? 0 : row.top);
                }
        EXPECT_EQ(s["background"], background);
        EXPECT_EQ(s["area"], area);
        EXPECT_EQ(s["volume"], volume);
        EXPECT_EQ(s["peak"], peak);
        EXPECT_EQ(s["saturatedPixels"], saturated);
        EXPECT_EQ(r.err.find("saturated") != std::string::npos, saturated > 0) << r.err;
    }
}

TEST_F(Spot, ThePictureShowsSaturatedPixelsRedTheRestGrey) {
    ok("spot " + at("bright.tif") + kRect + " --png " + at("pic.png"));
    DalvoImage pic;
    ASSERT_TRUE(load(pic, dir / "pic.png"));
    RGBQUAD red{}, grey{};
    ASSERT_TRUE(pic.getPixelColor(22, kH - 1 - 14, &red) && pic.getPixelColor(2, 2, &grey));
    EXPECT_EQ(pic.getWidth(), unsigned(kW));
    EXPECT_TRUE(red.rgbRed == 255 && red.rgbGreen == 0 && red.rgbBlue == 0);
    EXPECT_TRUE(grey.rgbRed == grey.rgbGreen && grey.rgbGreen == grey.rgbBlue);
}

TEST_F(Spot, RectanglesFromAFileAsCsvRows) {
    std::ofstream(dir / "rects.txt")
        << "# the band, then the whole image\n10 5 50 35\n\n  0 0 60 40  # all\n";
    const Table rows = parseCsv(ok("spot --csv " + at("bright.tif") + " --rects " + at("rects.txt")).out);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("area"), "320");
    EXPECT_EQ(rows[1].at("left") + rows[1].at("top") + rows[1].at("right") + rows[1].at("bottom"), "006040");
    std::ofstream(dir / "bad.txt") << "10 5 50 35\n# next\n10 5 50\n";
    fails("spot " + at("bright.tif") + " --rects " + at("bad.txt"), "bad.txt:3: ");
}

TEST_F(Spot, ACollapsedOutlineWarnsOrWhenStrictFails) {
    ASSERT_TRUE(writeGrey<WORD>(dir / "dot.tif", kW, kH,
                                [](int x, int y) { return x == 30 && y == 20 ? 60000 : 100; }));
    const Result r = ok("spot --json " + at("dot.tif") + kRect);
    EXPECT_TRUE(has(r.err, "collapsed"));
    EXPECT_FALSE(json::parse(r.out)["spots"][0].contains("points"));
    const Result strict = fails("spot --json --strict --points " + at("dot.tif") + kRect, "collapsed");
    EXPECT_EQ(json::parse(strict.out)["spots"][0]["points"].size(), 360u);
}
