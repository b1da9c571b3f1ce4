// fipImage by rule: ownership, assign into, setters, sizes, channels, the checks before loads and saves.
#include "ImageTestKit.h"

#include <cstdio>

using namespace imagetest;

TEST(fipImageLifetime, TheBitmapFromConstructionToClear) {
    // Copies, and assignments through a fipWinImage, are checked with DalvoImage's; these are fipImage's own.
    fipImage unsized(FIT_BITMAP, 10, 0, 8), empty, image(FIT_BITMAP, 5, 4, 8), source(FIT_UINT16, 2, 2, 16);
    EXPECT_EQ(bitmapState(unsized, nullptr), "kept, unmodified"); // allocation needs all three dimensions
    FIBITMAP* before = unmodified(image);
    fipImage& alias = image;
    image = empty; // an empty source and self-assignment keep bitmap and flag
    image = alias;
    EXPECT_EQ(bitmapState(image, before), "kept, unmodified");
    image = source;
    EXPECT_TRUE(samePixels(image, source));
    EXPECT_TRUE(image.isModified());
    before = unmodified(image);
    image.clear();
    EXPECT_EQ(bitmapState(image, before), "empty, modified");
}

TEST(fipImageRules, AssignIntoTakesOwnershipUnlessNullOrOwn) {
    fipImage image(FIT_BITMAP, 3, 3, 8), rgb = patterned(8, 6, 24), part, alpha;
    image.setModified(FALSE);
    FIBITMAP *own = image, *other = FreeImage_Allocate(6, 1, 24);
    image = static_cast<FIBITMAP*>(nullptr);
    image = own;
    EXPECT_EQ(bitmapState(image, own), "kept, unmodified");
    image = other; // owned from here on; ASan reports the old bitmap if it leaks
    EXPECT_EQ(bitmapState(image, other), "kept, modified");

    // Methods assigning into a destination keep it when FreeImage refuses (a valid one still succeeds).
    EXPECT_TRUE(rgb.copySubImage(part, 2, 1, 6, 4));
    FIBITMAP* kept = part;
    EXPECT_TRUE(rgb.copySubImage(part, 0, 0, 9, 6)); // one column too many
    EXPECT_EQ(static_cast<FIBITMAP*>(part), kept);
    EXPECT_FALSE(rgb.getChannel(alpha, FICC_ALPHA)); // no alpha in a 24-bit image
    EXPECT_FALSE(alpha.isValid());
}

TEST(fipImageRules, SettersWithoutAnEmptyGuardMarkTheImageEvenWhenFreeImageRefuses) {
    fipImage uint16(FIT_UINT16, 4, 4, 16), empty, blank;
    RGBQUAD colour{1, 2, 3, 0};
    BYTE index = 0;
    uint16.setModified(FALSE);
    EXPECT_EQ((std::vector<BOOL>{uint16.setPixelIndex(0, 0, &index), empty.setPixelColor(0, 0, &colour),
                                 blank.setFileBkColor(&colour)}),
              std::vector<BOOL>(3, FALSE));
    EXPECT_EQ((std::vector<BOOL>{uint16.isModified(), empty.isModified(), blank.isModified()}),
              std::vector<BOOL>(3, TRUE));
}

TEST(fipImageRules, SetSizeWritesAnIndexRamp) {
    for (unsigned bpp : {1u, 4u, 8u}) {
        fipImage image;
        ASSERT_TRUE(image.setSize(FIT_BITMAP, 3, 2, bpp));
        for (unsigned i = 0; i < image.getColorsUsed(); ++i) {
            const RGBQUAD& c = image.getPalette()[i];
            EXPECT_EQ(unsigned(c.rgbRed << 16 | c.rgbGreen << 8 | c.rgbBlue), i * 0x010101u)
                << bpp << " @" << i;
        }
    }
    EXPECT_EQ(fipImage(FIT_BITMAP, 3, 2, 24).getPalette(), nullptr);
}

// The flag stays as it was.
TEST(fipImageRules, ASizeFreeImageRefusesLeavesTheImageEmpty) {
    fipImage image(FIT_BITMAP, 3, 3, 8);
    FIBITMAP* had = unmodified(image);
    EXPECT_FALSE(image.setSize(FIT_UNKNOWN, 3, 3, 8));
    EXPECT_EQ(bitmapState(image, had), "empty, unmodified");
    EXPECT_FALSE(image.setSize(FIT_UINT16, 0x80000000u, 2, 16));
}

TEST(fipImageQueries, ResolutionRoundsToWholeDotsPerMetre) {
    fipImage image(FIT_BITMAP, 2, 2, 8);
    const std::pair<double, unsigned> cases[] = {
        {1.5, 150}, {0.004, 0}, {0.005, 1}, {118.11, 11811}}; // 300 dpi
    for (const auto& [dotsPerCm, dotsPerMetre] : cases) {
        image.setVerticalResolution(dotsPerCm);
        EXPECT_EQ(FreeImage_GetDotsPerMeterY(image), dotsPerMetre) << dotsPerCm;
    }
}

// 8 or 16 bits without a palette (setSize's ramp is still one), whatever the type.
TEST(fipImageQueries, GrayscaleNeedsNoPalette) {
    const std::tuple<FREE_IMAGE_TYPE, unsigned, int, int> types[] = {{FIT_BITMAP, 8, 0, 0},
                                                                     {FIT_UINT16, 16, 1, 1},
                                                                     {FIT_INT16, 16, 1, 1},
                                                                     {FIT_BITMAP, 16, 1, 0},
                                                                     {FIT_BITMAP, 24, 0, 0}};
    for (const auto& [type, bpp, gray, highRes] : types) {
        fipImage sized(type, 2, 2, bpp);
        EXPECT_EQ((std::vector<int>{!!sized.isGrayscale(), !!sized.isHighResGrayscale()}),
                  (std::vector<int>{gray, highRes}))
            << type << "/" << bpp;
    }
}

TEST(fipImageChannels, CombineChannelsSetsEachChannelThatFitsSizingAnEmptyImage) {
    fipImage source = patterned(7, 5, 24), red, green, blue, combined, none, noRed, noGreen, noBlue;
    fipImage target(FIT_BITMAP, 7, 5, 24), wrongSize(FIT_BITMAP, 2, 2, 8);
    ASSERT_TRUE(source.splitChannels(red, green, blue));
    EXPECT_TRUE(combined.combineChannels(red, green, blue));
    EXPECT_TRUE(samePixels(combined, source));
    // Nothing to take the size from: nothing is allocated.
    EXPECT_FALSE(none.combineChannels(noRed, noGreen, noBlue));
    EXPECT_EQ(bitmapState(none, nullptr), "kept, unmodified");
    // One channel fails: the others still land, and the image is marked.
    target.setModified(FALSE);
    EXPECT_FALSE(target.combineChannels(wrongSize, green, blue));
    EXPECT_TRUE(target.isModified());
    EXPECT_EQ(shownColor(target, 3, 2), shownColor(source, 3, 2) & 0x00FFFF);
}

TEST(fipImageLoading, FormatChecksComeBeforeAnyChange) {
    fipImage image(FIT_BITMAP, 3, 3, 8), wbmp;
    FIBITMAP* before = unmodified(image);
    // No signature nor known extension, no reader here (G3), null names and streams: nothing changes.
    const std::string junk = scratch("rules-junk.xyz"), fax = scratch("rules-junk.g3");
    const std::string broken = scratch("rules-broken.png"), byName = scratch("rules-by-name.wbmp");
    writeBytes(junk, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
    writeBytes(fax, {0, 1, 2, 3});
    writeBytes(broken, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0, 'J', 'U', 'N', 'K'});
    ASSERT_FALSE(FreeImage_FIFSupportsReading(FIF_FAXG3));
    fipMemoryIO noBytes;
    EXPECT_EQ((std::vector<BOOL>{image.load(junk.c_str()), image.load(fax.c_str()), image.load(nullptr),
                                 image.loadU(nullptr), image.loadFromMemory(noBytes)}),
              std::vector<BOOL>(5, FALSE));
    EXPECT_EQ(
        (std::vector<FREE_IMAGE_FORMAT>{fipImage::identifyFIF(junk.c_str()), fipImage::identifyFIFU(nullptr),
                                        fipImage::identifyFIFFromHandle(nullptr, nullptr),
                                        fipImage::identifyFIFFromMemory(nullptr)}),
        std::vector<FREE_IMAGE_FORMAT>(4, FIF_UNKNOWN));
    EXPECT_EQ(bitmapState(image, before), "kept, unmodified");

    // A known signature whose contents do not decode: the image ends up empty and modified.
    EXPECT_EQ(fipImage::identifyFIF(broken.c_str()), FIF_PNG);
    EXPECT_FALSE(image.load(broken.c_str()));
    EXPECT_EQ(bitmapState(image, before), "empty, modified");

    // The extension alone is enough when the signature tells nothing (WBMP has none).
    makePatterned(wbmp, FIT_BITMAP, 1, 11, 3);
    ASSERT_TRUE(wbmp.save(byName.c_str()));
    EXPECT_EQ(FreeImage_GetFileType(byName.c_str(), 0), FIF_UNKNOWN);
    EXPECT_TRUE(image.load(byName.c_str()));
    EXPECT_TRUE(samePixels(image, wbmp));
}

TEST(fipImageSaving, ExportTestGuardsEverySaver) {
    // What each writer takes at each depth is in the writers' table; these are the guards around it.
    fipImage uint16(FIT_UINT16, 4, 4, 16), rgb(FIT_BITMAP, 4, 4, 24), bilevel(FIT_BITMAP, 4, 4, 1), empty;
    uint16.setModified(FALSE);
    for (const std::string& path : {scratch("rules-uint16.jpg"), scratch("rules-no-format.abc")}) {
        std::remove(path.c_str());
        EXPECT_FALSE(uint16.save(path.c_str())) << path;
        EXPECT_FALSE(exists(path)) << path;
    }
    EXPECT_TRUE(uint16.save(scratch("rules-uint16.png").c_str()));
    EXPECT_FALSE(uint16.isModified()); // saving never touches the flag
    // By name: GIF takes 8 bits, not 24; FreeImage declares 1-bit PSD, but its writer corrupts memory on it.
    const std::pair<fipImage*, const char*> savable[] = {{&rgb, "x.bmp"},     {&rgb, "x.psd"},
                                                         {&bilevel, "x.tif"}, {&rgb, "x.gif"},
                                                         {&bilevel, "x.psd"}, {&empty, "x.tif"}};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(!!savable[i].first->canSave(savable[i].second), i < 3) << i;
    fipMemoryIO stream;
    EXPECT_EQ((std::vector<BOOL>{rgb.saveToMemory(FIF_UNKNOWN, stream), empty.saveToMemory(FIF_TIFF, stream),
                                 rgb.saveToHandle(FIF_BMP, nullptr, nullptr)}),
              std::vector<BOOL>(3, FALSE));
}
