// Drawing an image into a canvas: palettes, auto contrast, the display bitmap cache, and the rule
// that drawing never changes the image.
#include "ImageTestKit.h"

#include <cmath>

using namespace imagetest;

namespace {

// The palette table written out: entry i of each selector; v is the auto-contrast ramp value.
COLORREF tableColour(int palette, int i, int low, int high) {
    const double scale = 256.0 / (high - low);
    double x = i * scale - low * scale;
    x = std::isnan(x) ? 0 : std::min(255.0, std::max(0.0, x));
    const int v = static_cast<int>(std::floor(x + 0.5));
    switch (palette) {
    case 1: return i == 255 ? RGB(255, 0, 0) : RGB(i, i, i);
    case 2: return RGB(0, i, 0);
    case 3: return RGB(i, 0, 0);
    case 4: return RGB(0, 0, i);
    case 5: return RGB(v, v, v);
    default: return RGB(i, i, i);
    }
}

// A 256 x 1 16-bit image whose column i holds i * 257, so that its display conversion gives i.
void fillRamp(DalvoImage& image) {
    ASSERT_TRUE(image.setSize(FIT_UINT16, 256, 1, 16));
    for (unsigned x = 0; x < 256; ++x) reinterpret_cast<WORD*>(image.getScanLine(0))[x] = static_cast<WORD>(x * 257);
}

// An image of the given size filled with one 16-bit value, or two values split by columns.
void fillWords(DalvoImage& image, unsigned w, unsigned h, WORD left, WORD right) {
    ASSERT_TRUE(image.setSize(FIT_UINT16, w, h, 16));
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) reinterpret_cast<WORD*>(image.getScanLine(y))[x] = x < w / 2 ? left : right;
}

// Sets the limits and the selector, then runs the display pass on an 8-bit target.
struct PaletteProbe : DalvoImage {
    std::vector<RGBQUAD> pass(int low, int high, enPalette type) {
        autoContrastLow = low;
        autoContrastHigh = high;
        paletteType = type;
        FIBITMAP* target = FreeImage_Allocate(1, 1, 8);
        for (int i = 0; i < 256; ++i) FreeImage_GetPalette(target)[i] = RGBQUAD{9, 9, 9, 77};
        applyPalette(target);
        std::vector<RGBQUAD> out(FreeImage_GetPalette(target), FreeImage_GetPalette(target) + 256);
        FreeImage_Unload(target);
        return out;
    }
};

} // namespace

TEST(Display, AutoContrastRampAtItsEdgeCases) {
    PaletteProbe probe;
    fillRamp(probe);
    struct {
        int low, high, entry, grey;
    } cases[] = {{0, 255, 0, 0},     {0, 255, 128, 129},  {0, 255, 254, 255}, {0, 255, 255, 255}, {64, 192, 64, 0},
                 {64, 192, 65, 2},   {64, 192, 128, 128}, {64, 192, 191, 254}, {64, 192, 192, 255}, {100, 100, 0, 0},
                 {100, 100, 200, 0}, {0, 0, 255, 0},      {192, 64, 0, 255},  {192, 64, 128, 128}, {192, 64, 255, 0}};
    for (const auto& c : cases) {
        const RGBQUAD q = probe.pass(c.low, c.high, PaletteAutoContrast)[c.entry];
        EXPECT_EQ(RGB(q.rgbRed, q.rgbGreen, q.rgbBlue), RGB(c.grey, c.grey, c.grey)) << c.low << ".." << c.high << " @" << c.entry;
        EXPECT_EQ(q.rgbReserved, 77);
    }
    EXPECT_EQ(probe.pass(0, 255, static_cast<enPalette>(7))[200].rgbRed, 9); // no palette written

    PaletteProbe rgb; // palettes are for 16-bit grayscale only
    makePatterned(rgb, FIT_BITMAP, 24);
    EXPECT_EQ(rgb.pass(0, 255, PaletteShadesOfRed)[200].rgbRed, 9);
}

TEST(Display, EveryPaletteDrawsItsTableIntoTheCanvas) {
    for (int palette = 0; palette <= 7; ++palette) {
        DalvoImage image;
        fillRamp(image);
        image.setPalette(static_cast<enPalette>(palette));
        if (palette == PaletteAutoContrast) image.autoContrastMaxRange(1);
        image.setModified();
        CDC dc;
        dc.CreateCanvas(256, 2);
        const CRect whole(0, 0, 256, 2);
        image.draw(&dc, &whole);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(dc.GetPixel(i, 1), tableColour(palette, i, 0, 255)) << "palette " << palette << " entry " << i;
    }
    // An 8-bit image keeps its own palette whatever is selected.
    DalvoImage grey;
    makePatterned(grey, FIT_BITMAP, 8);
    grey.setPalette(PaletteShadesOfGreen);
    CDC dc;
    dc.CreateCanvas(13, 7);
    const CRect whole(0, 0, 13, 7);
    grey.draw(&dc, &whole);
    const unsigned level = shownColor(grey, 3, 6) & 0xFF; // a grey palette; canvas row 0 is scan line 6
    EXPECT_EQ(dc.GetPixel(3, 0), RGB(level, level, level));
}

TEST(Display, AutoContrastLimitsFromHistogramAndFullRange) {
    struct {
        unsigned w, h;
        WORD left, right;
        bool eightBit, maxRange;
        int low, high;
    } cases[] = {
        {100, 100, 1000, 1000, false, false, 4, 4},        // the whole histogram in one bin
        {10, 10, 16384, 32768, false, true, 63, 127},
        {10, 10, 0, 65535, false, true, 0, 255},
        {40, 25, 10, 200, true, false, 11, 201},           // 8-bit: the index one past the percentile bin
    };
    for (const auto& c : cases) {
        DalvoImage image;
        fillWords(image, c.w, c.h, c.left, c.right);
        if (c.eightBit) {
            ASSERT_TRUE(image.convertToType(FIT_BITMAP, FALSE));
        }
        image.setPalette(PaletteAutoContrast);
        if (c.maxRange) image.autoContrastMaxRange(1);
        EXPECT_EQ(image.getAutoContrastLow(), c.low) << c.left << ".." << c.right;
        EXPECT_EQ(image.getAutoContrastHigh(), c.high) << c.left << ".." << c.right;
    }
    // Equal limits: all black.
    DalvoImage flat;
    fillWords(flat, 100, 100, 1000, 1000);
    flat.setPalette(PaletteAutoContrast);
    CDC dc;
    dc.CreateCanvas(4, 4);
    const CRect whole(0, 0, 4, 4);
    flat.draw(&dc, &whole);
    EXPECT_EQ(dc.GetPixel(2, 2), RGB(0, 0, 0));

    // Colour images keep their limits; the entries are still recorded.
    DalvoImage colour;
    makePatterned(colour, FIT_BITMAP, 24);
    colour.setPalette(PaletteAutoContrast);
    colour.autoContrastMaxRange(1);
    EXPECT_EQ(colour.getAutoContrastLow() * 1000 + colour.getAutoContrastHigh(), 255);
    EXPECT_EQ(colour.GetPreprocessStr(), L"{setting palette to auto contrast}{autoContrastMaxRange}");
}

TEST(Display, SettingsAreRecordedAndNeverMarkTheImageModified) {
    DalvoImage image;
    fillWords(image, 4, 4, 0, 65535);
    image.setModified(FALSE);
    image.setImageAdjustmentValues(10, -20.5, 2.2);
    for (int p : {0, 1, 2, 3, 4, 7, -1}) image.setPalette(static_cast<enPalette>(p));
    image.autoContrastMaxRange(0);
    EXPECT_EQ(image.GetPreprocessStr(),
              L"{adjustDisplayValue: Brightness 10.00,Contrast -20.50,Gamma 2.20}{setting palette to normal}"
              L"{setting palette to show saturated pixel}{setting palette to Shades of Green}"
              L"{setting palette to Shades of Red}{setting palette to Shades of Blue}{autoContrastMaxRange}");
    EXPECT_EQ(image.getPaletteType(), -1);
    EXPECT_EQ(image.getAutoContrastLow() * 1000 + image.getAutoContrastHigh(), 255);
    EXPECT_FALSE(image.isModified());
}

TEST(Display, DrawingNeverChangesTheImage) {
    struct {
        unsigned bpp;
        bool colourPalette;
    } kinds[] = {{1, false}, {4, false}, {8, false}, {8, true}, {16, false}, {24, false}, {32, false}};
    for (const auto& k : kinds) {
        DalvoImage image;
        makePatterned(image, k.bpp == 16 ? FIT_UINT16 : FIT_BITMAP, k.bpp == 16 ? 16 : k.bpp);
        if (k.colourPalette)
            for (int i = 0; i < 256; ++i) image.getPalette()[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
        image.setImageAdjustmentValues(30, -20, 1.8);
        DalvoImage before(image);
        const CString history = image.GetPreprocessStr();
        CDC dc;
        dc.CreateCanvas(20, 20);
        const CRect rect(0, 0, 20, 20);
        for (int p = 0; p <= 5; ++p) {
            image.setPalette(static_cast<enPalette>(p));
            image.setImageAdjustmentValues(p * 10 - 20, 25 - p * 10, 0.5 + p);
            image.setModified();
            image.draw(&dc, &rect);
            image.draw(&dc, &rect);
        }
        EXPECT_TRUE(samePixels(image, before)) << k.bpp;
        for (unsigned i = 0; i < image.getColorsUsed(); ++i)
            ASSERT_EQ(std::memcmp(&image.getPalette()[i], &before.getPalette()[i], sizeof(RGBQUAD)), 0) << k.bpp;
        EXPECT_TRUE(image.GetPreprocessStr().Find(history) == 0);
    }
}

TEST(Display, UnchangedImageIsOnlyBlitted) {
    DalvoImage image;
    fillWords(image, 2, 1, 0, 65535);
    CDC dc;
    dc.CreateCanvas(2, 1);
    const CRect rect(0, 0, 2, 1);
    image.draw(nullptr, &rect); // rebuilds without a context
    EXPECT_FALSE(image.isModified());
    WORD* words = reinterpret_cast<WORD*>(image.getScanLine(0));
    words[0] = 65535; // swapped, but not marked modified: the old display bitmap is drawn
    words[1] = 0;
    image.draw(&dc, &rect);
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(0, 0, 0));
    image.setModified();
    image.draw(&dc, &rect);
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(255, 255, 255));
}

TEST(Display, EveryImageTypeGetsADisplayBitmap) {
    const FREE_IMAGE_TYPE fromGrey[] = {FIT_INT16, FIT_UINT32, FIT_INT32, FIT_FLOAT, FIT_DOUBLE, FIT_COMPLEX};
    const FREE_IMAGE_TYPE fromColour[] = {FIT_RGB16, FIT_RGBA16, FIT_RGBF, FIT_RGBAF};
    std::vector<std::pair<FREE_IMAGE_TYPE, unsigned>> kinds;
    for (auto t : fromGrey) kinds.push_back({t, 8});
    for (auto t : fromColour) kinds.push_back({t, t == FIT_RGBA16 || t == FIT_RGBAF ? 32u : 24u});
    for (const auto& [type, bpp] : kinds) {
        for (FREE_IMAGE_TMO tmo : {FITMO_DRAGO03, FITMO_REINHARD05}) {
            DalvoImage image;
            makePatterned(image, FIT_BITMAP, bpp);
            ASSERT_TRUE(image.convertToType(type)) << type;
            image.setToneMappingOperator(tmo, 0.5, 0, 1, 0);
            CDC dc;
            dc.CreateCanvas(13, 7, RGB(1, 2, 3));
            const CRect rect(0, 0, 13, 7);
            image.draw(&dc, &rect);
            int drawn = 0;
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 13; ++x) drawn += dc.GetPixel(x, y) != RGB(1, 2, 3);
            EXPECT_GT(drawn, 13 * 7 / 2) << "type " << type << " operator " << tmo;
        }
    }
    DalvoImage empty;
    CDC dc;
    dc.CreateCanvas(1, 1);
    const CRect rect(0, 0, 1, 1);
    empty.draw(&dc, &rect);
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(255, 255, 255));
}
