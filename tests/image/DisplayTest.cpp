// Drawing into a canvas: palettes, auto contrast, the kept display bitmap, an image drawing leaves alone.
#include "ImageTestKit.h"
#include "support/ThreadCounts.h"

#include <cmath>

using namespace imagetest;

namespace {

// The palette table written out: entry i of each selector, the ramp for limits 0 and 255.
COLORREF tableColour(int palette, int i) {
    const int v = static_cast<int>(std::min(255.0, std::floor(i * 256.0 / 255.0 + 0.5)));
    const COLORREF colours[] = {RGB(i, i, i), i == 255 ? RGB(255, 0, 0) : RGB(i, i, i),
                                RGB(0, i, 0), RGB(i, 0, 0),
                                RGB(0, 0, i), RGB(v, v, v)};
    return palette <= 5 ? colours[palette] : RGB(i, i, i);
}

// A w x h 16-bit image: the left half holds `left`, the right half `right`.
void fillWords(DalvoImage& image, unsigned w, unsigned h, WORD left, WORD right) {
    ASSERT_TRUE(image.setSize(FIT_UINT16, w, h, 16));
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            reinterpret_cast<WORD*>(image.getScanLine(y))[x] = x < w / 2 ? left : right;
}

// The canvas, row by row, after drawing the image over a w x h canvas of the background colour.
std::vector<COLORREF> drawn(DalvoImage& image, int w, int h, COLORREF background = RGB(255, 255, 255)) {
    CDC dc;
    dc.CreateCanvas(w, h, background);
    const CRect whole(0, 0, w, h);
    image.draw(&dc, &whole);
    std::vector<COLORREF> canvas;
    for (int i = 0; i < w * h; ++i)
        canvas.push_back(dc.GetPixel(i % w, i / w));
    return canvas;
}

// Sets limits and selector directly, then runs the display pass on an 8-bit target.
struct PaletteProbe : DalvoImage {
    RGBQUAD entry(int low, int high, enPalette type, int i) {
        autoContrastLow = low, autoContrastHigh = high, paletteType = type;
        fipImage target(FIT_BITMAP, 1, 1, 8);
        std::fill_n(target.getPalette(), 256, RGBQUAD{9, 9, 9, 77});
        applyPalette(target);
        return target.getPalette()[i];
    }
};

} // namespace

TEST(Display, AutoContrastRampAtItsEdgeCases) {
    PaletteProbe probe;
    fillWords(probe, 2, 1, 0, 0);
    const int cases[][4] = {{0, 255, 0, 0},      {0, 255, 128, 129}, {0, 255, 254, 255},  {0, 255, 255, 255},
                            {64, 192, 64, 0},    {64, 192, 65, 2},   {64, 192, 128, 128}, {64, 192, 192, 255},
                            {100, 100, 0, 0},    {100, 100, 200, 0}, {0, 0, 255, 0},      {192, 64, 0, 255},
                            {192, 64, 128, 128}, {192, 64, 255, 0}};
    for (const auto& c : cases) {
        const RGBQUAD q = probe.entry(c[0], c[1], PaletteAutoContrast, c[2]);
        EXPECT_EQ(RGB(q.rgbRed, q.rgbGreen, q.rgbBlue), RGB(c[3], c[3], c[3]))
            << c[0] << ".." << c[1] << " @" << c[2];
        EXPECT_EQ(q.rgbReserved, 77);
    }
    EXPECT_EQ(probe.entry(0, 255, enPalette(7), 200).rgbRed, 9); // selects no palette
    PaletteProbe rgb;                                            // palettes are for 16-bit grayscale
    makePatterned(rgb, FIT_BITMAP, 24);
    EXPECT_EQ(rgb.entry(0, 255, PaletteShadesOfRed, 200).rgbRed, 9);
}

TEST(Display, EveryPaletteDrawsItsTableIntoTheCanvas) {
    for (int palette = 0; palette <= 7; ++palette) {
        DalvoImage image; // column i holds i * 257, which the display conversion brings to i
        ASSERT_TRUE(image.setSize(FIT_UINT16, 256, 1, 16));
        for (unsigned x = 0; x < 256; ++x)
            reinterpret_cast<WORD*>(image.getScanLine(0))[x] = WORD(x * 257);
        image.setPalette(enPalette(palette));
        if (palette == PaletteAutoContrast) image.autoContrastMaxRange(1);
        const std::vector<COLORREF> canvas = drawn(image, 256, 1);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(canvas[i], tableColour(palette, i)) << palette << " @" << i;
    }
    // An 8-bit image keeps its own palette whatever is selected.
    DalvoImage grey = patterned<DalvoImage>(13, 7, 8);
    grey.setPalette(PaletteShadesOfGreen);
    const unsigned level = shownColor(grey, 3, 6) & 0xFF; // canvas row 0 is scan line 6
    EXPECT_EQ(drawn(grey, 13, 7)[3], RGB(level, level, level));
}

TEST(Display, AutoContrastLimitsFromTheHistogramOrTheFullRange) {
    // Size, the values of the left and right halves, made 8-bit, the full range asked; the limits.
    const std::tuple<unsigned, unsigned, WORD, WORD, bool, bool, int, int> cases[] = {
        {100, 100, 1000, 1000, false, false, 4, 4}, // the whole histogram in one bin
        {10, 10, 16384, 32768, false, true, 63, 127},
        {10, 10, 0, 65535, false, true, 0, 255},
        {40, 25, 10, 200, true, false, 11, 201}, // 8-bit: the index one past the percentile bin
    };
    for (const auto& [w, h, left, right, eightBit, maxRange, low, high] : cases) {
        DalvoImage image;
        fillWords(image, w, h, left, right);
        if (eightBit) image.convertToType(FIT_BITMAP, FALSE);
        image.setPalette(PaletteAutoContrast);
        if (maxRange) image.autoContrastMaxRange(1);
        EXPECT_EQ(std::make_pair(image.getAutoContrastLow(), image.getAutoContrastHigh()),
                  std::make_pair(low, high))
            << left;
        if (low == high) {
            EXPECT_EQ(drawn(image, 4, 4)[2 * 4 + 2], RGB(0, 0, 0)); // equal limits: black
        }
    }
    DalvoImage colour = patterned<DalvoImage>(13, 7, 24); // keeps its limits; the entries are still recorded
    colour.setPalette(PaletteAutoContrast);
    colour.autoContrastMaxRange(1);
    EXPECT_EQ(std::make_pair(colour.getAutoContrastLow(), colour.getAutoContrastHigh()),
              std::make_pair(0, 255));
    EXPECT_EQ(colour.GetPreprocessStr(), L"{setting palette to auto contrast}{autoContrastMaxRange}");
}

TEST(Display, SettingsGoIntoTheHistoryNotTheModifiedFlag) {
    DalvoImage image;
    fillWords(image, 4, 4, 0, 65535);
    image.setModified(FALSE);
    image.setImageAdjustmentValues(10, -20.5, 2.2);
    for (int p : {0, 1, 2, 3, 4, 7, -1})
        image.setPalette(enPalette(p));
    image.autoContrastMaxRange(0);
    EXPECT_EQ(image.GetPreprocessStr(),
              L"{adjustDisplayValue: Brightness 10.00,Contrast -20.50,Gamma 2.20}{setting palette to normal}"
              L"{setting palette to show saturated pixel}{setting palette to Shades of Green}"
              L"{setting palette to Shades of Red}{setting palette to Shades of Blue}{autoContrastMaxRange}");
    EXPECT_EQ(image.getPaletteType(), -1);
    EXPECT_EQ(std::make_pair(image.getAutoContrastLow(), image.getAutoContrastHigh()),
              std::make_pair(0, 255));
    EXPECT_FALSE(image.isModified());
}

TEST(Display, DrawingNeverChangesTheImage) {
    for (int kind : {1, 4, 8, 80, 16, 24, 32}) { // 80: 8 bits with a colour palette
        DalvoImage image;
        makePatterned(image, kind == 16 ? FIT_UINT16 : FIT_BITMAP, kind == 80 ? 8 : kind);
        for (int i = 0; kind == 80 && i < 256; ++i)
            image.getPalette()[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
        image.setImageAdjustmentValues(30, -20, 1.8);
        DalvoImage before(image);
        for (int p = 0; p <= 5; ++p) {
            image.setPalette(enPalette(p));
            image.setImageAdjustmentValues(p * 10 - 20, 25 - p * 10, 0.5 + p);
            image.setModified();
            drawn(image, 20, 20);
            drawn(image, 20, 20);
        }
        EXPECT_TRUE(sameBitmap(image, before)) << kind; // palette included
        EXPECT_EQ(image.GetPreprocessStr().Find(before.GetPreprocessStr()), 0);
    }
}

TEST(Display, UnchangedImageIsOnlyBlitted) {
    DalvoImage image;
    fillWords(image, 2, 1, 0, 65535);
    const CRect rect(0, 0, 2, 1);
    image.draw(nullptr, &rect); // rebuilds without a context
    EXPECT_FALSE(image.isModified());
    WORD* words = reinterpret_cast<WORD*>(image.getScanLine(0));
    words[0] = 65535, words[1] = 0; // swapped, not marked modified: the kept display bitmap shows
    EXPECT_EQ(drawn(image, 2, 1)[0], RGB(0, 0, 0));
    image.setModified();
    EXPECT_EQ(drawn(image, 2, 1)[0], RGB(255, 255, 255));
}

TEST(Display, EveryWayToADisplayBitmapDraws) {
    // Converted, magnitude, tone mapped by either operator, composited.
    const std::tuple<FREE_IMAGE_TYPE, int, FREE_IMAGE_TMO> kinds[] = {
        {FIT_INT16, 8, FITMO_DRAGO03},  {FIT_COMPLEX, 8, FITMO_DRAGO03},  {FIT_RGBF, 24, FITMO_DRAGO03},
        {FIT_RGB16, 24, FITMO_DRAGO03}, {FIT_RGBF, 24, FITMO_REINHARD05}, {FIT_RGBA16, 32, FITMO_DRAGO03}};
    for (const auto& [type, bpp, tmo] : kinds) {
        DalvoImage image = patterned<DalvoImage>(13, 7, unsigned(bpp));
        ASSERT_TRUE(image.convertToType(type));
        image.setToneMappingOperator(tmo, 0.5, 0, 1, 0);
        const std::vector<COLORREF> canvas = drawn(image, 13, 7, RGB(1, 2, 3));
        EXPECT_EQ(std::count(canvas.begin(), canvas.end(), RGB(1, 2, 3)), 0)
            << "type " << type << " operator " << tmo;
    }
    DalvoImage empty; // no bitmap: nothing drawn
    EXPECT_EQ(drawn(empty, 1, 1)[0], RGB(255, 255, 255));
}

// The display of 16 bits is FreeImage's linear conversion to 8, which it replaces: full and narrow ranges
// above and below 255 (FreeImage scales from 255 at most), flat images (scaled as though 0..255).
TEST(Display, SixteenBitsShowFreeImagesLinearConversionAtEveryThreadCount) {
    const std::tuple<unsigned, unsigned, WORD, WORD> cases[] = {{37, 29, 0, 65535}, {5, 3, 1000, 1003},
                                                                {4, 3, 100, 301},   {3, 2, 1000, 1000},
                                                                {1, 1, 7, 7},       {2, 1, 0, 65535}};
    testsupport::atEveryThreadCount([&] {
        for (const auto& [width, height, low, high] : cases) {
            DisplayProbe<DalvoImage> image(FIT_UINT16, width, height, 16);
            // Drawn twice: the second display, after the pixels change, refills the first.
            for (const unsigned turn : {0u, 1u}) {
                for (unsigned y = 0; y < height; ++y)
                    for (unsigned x = 0; x < width; ++x)
                        reinterpret_cast<WORD*>(image.getScanLine(y))[x] =
                            static_cast<WORD>(low + (x * 7919u + y * 104729u + turn) % (high - low + 1u));
                image.setModified();
                RECT whole{0, 0, 1, 1};
                image.draw(nullptr, whole);
                FIBITMAP* expected = FreeImage_ConvertToStandardType(image, TRUE);
                ASSERT_NE(image.display(), nullptr);
                EXPECT_TRUE(sameBitmap(image.display(), expected))
                    << width << "x" << height << ", turn " << turn;
                FreeImage_Unload(expected);
            }
        }
    });
}
