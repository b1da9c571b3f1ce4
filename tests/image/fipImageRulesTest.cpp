// fipImage by rule: ownership, replace, assign into, empty guard, in place, and the checks
// made before FreeImage is called.
#include "ImageTestKit.h"

using namespace imagetest;

TEST(fipImageLifetime, CopyAndAssignmentCloneOrKeep) {
    fipImage empty;
    EXPECT_FALSE(empty.isValid());
    EXPECT_FALSE(empty.isModified());

    // A copy of an empty image is empty and unmodified.
    fipImage emptyCopy(empty);
    EXPECT_FALSE(emptyCopy.isValid());
    EXPECT_FALSE(emptyCopy.isModified());

    fipImage source(FIT_BITMAP, 5, 4, 8);
    fill(source);
    source.setModified(FALSE);
    fipImage copy(source);
    ASSERT_TRUE(copy.isValid());
    EXPECT_TRUE(copy.isModified());
    EXPECT_NE(static_cast<FIBITMAP*>(copy), static_cast<FIBITMAP*>(source));
    EXPECT_TRUE(samePixels(copy, source));

    // Assigning an empty image keeps the target's bitmap and flag.
    copy.setModified(FALSE);
    FIBITMAP* before = copy;
    copy = empty;
    EXPECT_EQ(static_cast<FIBITMAP*>(copy), before);
    EXPECT_FALSE(copy.isModified());

    // Assigning a valid image replaces the bitmap with a clone; self-assignment keeps all.
    fipImage target(FIT_BITMAP, 2, 2, 24);
    target.setModified(FALSE);
    target = source;
    EXPECT_TRUE(target.isModified());
    EXPECT_EQ(target.getWidth(), 5u);
    EXPECT_TRUE(samePixels(target, source));
    target.setModified(FALSE);
    FIBITMAP* own = target;
    fipImage& alias = target;
    target = alias;
    EXPECT_EQ(static_cast<FIBITMAP*>(target), own);
    EXPECT_FALSE(target.isModified());
}

TEST(fipImageLifetime, ConstructionAllocatesOnlyWithAllDimensions) {
    fipImage none(FIT_BITMAP, 10, 0, 8);
    EXPECT_FALSE(none.isValid());
    EXPECT_FALSE(none.isModified());
    fipImage some(FIT_UINT16, 10, 3, 16);
    EXPECT_TRUE(some.isValid());
    EXPECT_TRUE(some.isModified());
    EXPECT_EQ(some.getImageType(), FIT_UINT16);
    some.clear();
    EXPECT_FALSE(some.isValid());
    EXPECT_TRUE(some.isModified());
}

TEST(fipImageRules, AssignIntoTakesOwnershipUnlessNullOrOwn) {
    fipImage image(FIT_BITMAP, 3, 3, 8);
    image.setModified(FALSE);
    FIBITMAP* own = image;
    image = static_cast<FIBITMAP*>(nullptr);
    image = own;
    EXPECT_EQ(static_cast<FIBITMAP*>(image), own);
    EXPECT_FALSE(image.isModified());

    FIBITMAP* other = FreeImage_Allocate(6, 1, 24);
    image = other; // owned from here on; ASan would report the old bitmap if it leaked
    EXPECT_EQ(static_cast<FIBITMAP*>(image), other);
    EXPECT_TRUE(image.isModified());

    // Methods that assign into a destination: accept gives a valid destination, reject keeps it.
    fipImage rgb(FIT_BITMAP, 8, 6, 24);
    fill(rgb);
    fipImage part;
    EXPECT_TRUE(rgb.copySubImage(part, 2, 1, 6, 4));
    EXPECT_EQ(part.getWidth(), 4u);
    EXPECT_EQ(part.getHeight(), 3u);
    RGBQUAD a{}, b{};
    rgb.getPixelColor(2, rgb.getHeight() - 1 - 1, &a);
    part.getPixelColor(0, part.getHeight() - 1, &b);
    EXPECT_EQ(a.rgbRed, b.rgbRed);
    EXPECT_EQ(a.rgbBlue, b.rgbBlue);
    FIBITMAP* kept = part;
    EXPECT_TRUE(rgb.copySubImage(part, 0, 0, 9, 6)); // FreeImage refuses; part is still valid
    EXPECT_EQ(part.getWidth(), 4u);
    EXPECT_EQ(static_cast<FIBITMAP*>(part), kept);

    fipImage red, green, blue;
    EXPECT_TRUE(rgb.splitChannels(red, green, blue));
    EXPECT_EQ(red.getBitsPerPixel(), 8u);
    BYTE r = 0;
    red.getPixelIndex(2, 4, &r);
    rgb.getPixelColor(2, 4, &a);
    EXPECT_EQ(r, a.rgbRed);
    fipImage alpha;
    EXPECT_FALSE(rgb.getChannel(alpha, FICC_ALPHA)); // no alpha in a 24-bit image
    EXPECT_FALSE(alpha.isValid());
    EXPECT_TRUE(rgb.getChannel(alpha, FICC_GREEN));
    fipImage gray(FIT_FLOAT, 4, 4, 32);
    fipImage noRed, noGreen, noBlue;
    EXPECT_FALSE(gray.splitChannels(noRed, noGreen, noBlue)); // one sample per pixel: no colour channels
    EXPECT_FALSE(noRed.isValid());
    // Destinations keep what they held, and the result only asks whether they are valid.
    EXPECT_TRUE(gray.splitChannels(red, green, blue));
    EXPECT_EQ(red.getWidth(), 8u);
}

TEST(fipImageRules, ReplaceKeepsOldBitmapWhenFreeImageReturnsNothing) {
    fipImage image(FIT_BITMAP, 9, 5, 24);
    fill(image);
    image.setModified(FALSE);
    FIBITMAP* before = image;

    // Rejects: FreeImage gives null, the bitmap and the flag stay.
    EXPECT_FALSE(image.crop(0, 0, 10, 5)); // one column beyond the image
    EXPECT_FALSE(image.convertToType(FIT_COMPLEX, TRUE));
    EXPECT_FALSE(image.rescale(0, 5, FILTER_BOX));
    EXPECT_EQ(static_cast<FIBITMAP*>(image), before);
    EXPECT_FALSE(image.isModified());

    // Accepts: a new bitmap, modified, even when the image already had the target form.
    EXPECT_TRUE(image.convertTo24Bits());
    EXPECT_NE(static_cast<FIBITMAP*>(image), before);
    EXPECT_TRUE(image.isModified());
    EXPECT_TRUE(image.crop(1, 1, 7, 4));
    EXPECT_EQ(image.getWidth(), 6u);
    EXPECT_EQ(image.getHeight(), 3u);
    EXPECT_TRUE(image.convertToGrayscale());
    EXPECT_EQ(image.getBitsPerPixel(), 8u);
    EXPECT_TRUE(image.threshold(100));
    EXPECT_EQ(image.getBitsPerPixel(), 1u);
    EXPECT_TRUE(image.convertToUINT16());
    EXPECT_EQ(image.getImageType(), FIT_UINT16);
    EXPECT_TRUE(image.convertToRGBF());
    EXPECT_TRUE(image.toneMapping(FITMO_REINHARD05, 0, 0, 1, 0));
    EXPECT_EQ(image.getBitsPerPixel(), 24u);
    // EveryOperationOnEveryTypeKeepsItsRule below runs every other replacing operation.
}

TEST(fipImageRules, EmptyGuardRefusesEveryOperationWithoutTouchingTheImage) {
    fipImage empty;
    fipImage other(FIT_BITMAP, 4, 4, 8);
    BYTE lut[256] = {};
    DWORD histo[256] = {};
    EXPECT_FALSE(empty.convertToType(FIT_FLOAT, TRUE));
    EXPECT_FALSE(empty.threshold(1));
    EXPECT_FALSE(empty.convertTo4Bits());
    EXPECT_FALSE(empty.convertTo8Bits());
    EXPECT_FALSE(empty.convertTo16Bits555());
    EXPECT_FALSE(empty.convertTo16Bits565());
    EXPECT_FALSE(empty.convertTo24Bits());
    EXPECT_FALSE(empty.convertTo32Bits());
    EXPECT_FALSE(empty.convertToGrayscale());
    EXPECT_FALSE(empty.colorQuantize(FIQ_WUQUANT));
    EXPECT_FALSE(empty.dither(FID_FS));
    EXPECT_FALSE(empty.convertToFloat());
    EXPECT_FALSE(empty.convertToRGBF());
    EXPECT_FALSE(empty.convertToUINT16());
    EXPECT_FALSE(empty.convertToRGB16());
    EXPECT_FALSE(empty.toneMapping(FITMO_DRAGO03));
    EXPECT_FALSE(empty.crop(0, 0, 1, 1));
    EXPECT_FALSE(empty.copySubImage(other, 0, 0, 1, 1));
    EXPECT_FALSE(empty.pasteSubImage(other, 0, 0));
    EXPECT_FALSE(empty.rotate(90));
    EXPECT_FALSE(empty.rotateEx(10, 0, 0, 0, 0, FALSE));
    EXPECT_FALSE(empty.flipHorizontal());
    EXPECT_FALSE(empty.flipVertical());
    EXPECT_FALSE(empty.rescale(2, 2, FILTER_BOX));
    EXPECT_FALSE(empty.makeThumbnail(2));
    EXPECT_FALSE(empty.invert());
    EXPECT_FALSE(empty.adjustCurve(lut, FICC_RGB));
    EXPECT_FALSE(empty.adjustGamma(2));
    EXPECT_FALSE(empty.adjustBrightness(10));
    EXPECT_FALSE(empty.adjustContrast(10));
    EXPECT_FALSE(empty.adjustBrightnessContrastGamma(10, 10, 2));
    EXPECT_FALSE(empty.getChannel(other, FICC_RED));
    EXPECT_FALSE(empty.setChannel(other, FICC_RED));
    EXPECT_FALSE(empty.splitChannels(other, other, other));
    EXPECT_FALSE(empty.getHistogram(histo));
    EXPECT_FALSE(empty.isValid());
    EXPECT_FALSE(empty.isModified()); // nothing above got as far as a change
    EXPECT_TRUE(other.isValid());     // destinations were left alone

    // Queries on an empty image answer zero or null instead of reading a header.
    EXPECT_EQ(empty.getImageType(), FIT_UNKNOWN);
    EXPECT_EQ(empty.getWidth() + empty.getHeight() + empty.getScanWidth() + empty.getLine(), 0u);
    EXPECT_EQ(empty.getBitsPerPixel() + empty.getImageSize() + empty.getColorsUsed() + empty.getPaletteSize(), 0u);
    EXPECT_EQ(empty.getInfo(), nullptr);
    EXPECT_EQ(empty.getInfoHeader(), nullptr);
    EXPECT_EQ(empty.getPalette(), nullptr);
    EXPECT_EQ(empty.accessPixels(), nullptr);
    EXPECT_EQ(empty.getScanLine(0), nullptr);
    EXPECT_EQ(empty.getTransparencyTable(), nullptr);
    EXPECT_FALSE(empty.isTransparent() || empty.hasFileBkColor() || empty.hasThumbnail());
    EXPECT_EQ(empty.getMetadataCount(FIMD_COMMENTS), 0u);
    EXPECT_EQ(empty.getHorizontalResolution(), 0.0);
    EXPECT_FALSE(empty.isGrayscale() || empty.isHighResGrayscale());
}

TEST(fipImageRules, InPlaceSetsModifiedWhateverFreeImageReports) {
    fipImage image(FIT_BITMAP, 6, 4, 8);
    fill(image);
    BYTE first = 0;
    image.getPixelIndex(0, 0, &first);

    // Accepts: the pixels change in place and the flag is set.
    image.setModified(FALSE);
    EXPECT_TRUE(image.invert());
    EXPECT_TRUE(image.isModified());
    BYTE inverted = 0;
    image.getPixelIndex(0, 0, &inverted);
    EXPECT_EQ(inverted, static_cast<BYTE>(255 - first));
    image.setModified(FALSE);
    EXPECT_TRUE(image.flipVertical());
    EXPECT_TRUE(image.isModified());
    BYTE top = 0;
    image.getPixelIndex(0, 3, &top);
    EXPECT_EQ(top, inverted);

    // Rejects: FreeImage reports failure and the flag is set all the same.
    fipImage uint16(FIT_UINT16, 4, 4, 16);
    BYTE lut[256] = {};
    const std::pair<const char*, std::function<BOOL()>> failing[] = {
        {"adjustCurve", [&] { return uint16.adjustCurve(lut, FICC_RGB); }},
        {"setChannel", [&] { return uint16.setChannel(image, FICC_RED); }},
        {"pasteSubImage", [&] { return uint16.pasteSubImage(image, 0, 0); }},
        {"setPixelIndex", [&] { return uint16.setPixelIndex(0, 0, lut); }},
    };
    for (const auto& call : failing) {
        uint16.setModified(FALSE);
        EXPECT_FALSE(call.second()) << call.first;
        EXPECT_TRUE(uint16.isModified()) << call.first;
    }

    // setPixelColor and setFileBkColor have no empty guard: the flag is set even on an empty image.
    fipImage empty;
    RGBQUAD colour{1, 2, 3, 0};
    EXPECT_FALSE(empty.setPixelColor(0, 0, &colour));
    EXPECT_TRUE(empty.isModified());
    fipImage emptyToo;
    EXPECT_FALSE(emptyToo.setFileBkColor(&colour));
    EXPECT_TRUE(emptyToo.isModified());

    // The transparency table sets the flag after FreeImage ran.
    fipImage palettised(FIT_BITMAP, 2, 2, 8);
    palettised.setModified(FALSE);
    BYTE table[3] = {0, 128, 255};
    palettised.setTransparencyTable(table, 3);
    EXPECT_TRUE(palettised.isModified());
    EXPECT_EQ(palettised.getTransparencyCount(), 3u);
    EXPECT_TRUE(palettised.isTransparent());
    EXPECT_EQ(palettised.getTransparencyTable()[1], 128);
}

TEST(fipImageRules, SetSizeWritesTheIndexRampAsPalette) {
    for (unsigned bpp : {1u, 4u, 8u}) {
        fipImage image;
        ASSERT_TRUE(image.setSize(FIT_BITMAP, 3, 2, bpp)) << bpp;
        EXPECT_TRUE(image.isModified());
        ASSERT_EQ(image.getColorsUsed(), 1u << bpp);
        EXPECT_EQ(image.getPaletteSize(), 4u << bpp);
        for (unsigned i = 0; i < image.getColorsUsed(); ++i) {
            const RGBQUAD& c = image.getPalette()[i];
            EXPECT_EQ(c.rgbRed, i) << bpp;
            EXPECT_EQ(c.rgbGreen, i) << bpp;
            EXPECT_EQ(c.rgbBlue, i) << bpp;
        }
    }
    // Wider depths and other types have no palette to fill.
    fipImage rgb;
    ASSERT_TRUE(rgb.setSize(FIT_BITMAP, 3, 2, 24));
    EXPECT_EQ(rgb.getPalette(), nullptr);

    // A size FreeImage refuses leaves the image empty and the flag as it was.
    fipImage image(FIT_BITMAP, 3, 3, 8);
    image.setModified(FALSE);
    EXPECT_FALSE(image.setSize(FIT_UNKNOWN, 3, 3, 8));
    EXPECT_FALSE(image.isValid());
    EXPECT_FALSE(image.isModified());
    EXPECT_FALSE(image.setSize(FIT_UINT16, 0x80000000u, 2, 16));
}

TEST(fipImageQueries, ResolutionIsPixelsPerCentimetreRoundedToWholeDotsPerMetre) {
    fipImage image(FIT_BITMAP, 2, 2, 8);
    image.setModified(FALSE);
    image.setHorizontalResolution(1.5);
    EXPECT_EQ(FreeImage_GetDotsPerMeterX(image), 150u);
    EXPECT_DOUBLE_EQ(image.getHorizontalResolution(), 1.5);
    image.setVerticalResolution(0.004);
    EXPECT_EQ(FreeImage_GetDotsPerMeterY(image), 0u);
    image.setVerticalResolution(0.005); // 0.5 dots per metre rounds up
    EXPECT_EQ(FreeImage_GetDotsPerMeterY(image), 1u);
    image.setVerticalResolution(118.11); // 300 dpi
    EXPECT_EQ(FreeImage_GetDotsPerMeterY(image), 11811u);
    EXPECT_DOUBLE_EQ(image.getVerticalResolution(), 118.11);
    EXPECT_FALSE(image.isModified());
}

TEST(fipImageQueries, GrayscaleMeansEightOrSixteenBitsWithoutPalette) {
    fipImage palettised(FIT_BITMAP, 2, 2, 8);
    EXPECT_FALSE(palettised.isGrayscale()); // the greyscale ramp is still a palette
    EXPECT_FALSE(palettised.isHighResGrayscale());
    fipImage uint16(FIT_UINT16, 2, 2, 16);
    EXPECT_TRUE(uint16.isGrayscale());
    EXPECT_TRUE(uint16.isHighResGrayscale());
    fipImage int16(FIT_INT16, 2, 2, 16);
    EXPECT_TRUE(int16.isHighResGrayscale());
    fipImage rgb565(FIT_BITMAP, 2, 2, 16);
    EXPECT_TRUE(rgb565.isGrayscale()); // the rule looks at depth and palette only
    fipImage rgb(FIT_BITMAP, 2, 2, 24);
    EXPECT_FALSE(rgb.isGrayscale());

    // Scan lines are bounded by the height; the histogram counts every pixel.
    EXPECT_NE(uint16.getScanLine(1), nullptr);
    EXPECT_EQ(uint16.getScanLine(2), nullptr);
    DWORD histo[256] = {};
    EXPECT_TRUE(palettised.getHistogram(histo));
    EXPECT_EQ(histo[0], 4u);
    EXPECT_EQ(uint16.getLine(), 4u);
    EXPECT_EQ(uint16.getScanWidth(), 4u);
    fipImage odd(FIT_BITMAP, 3, 1, 24);
    EXPECT_EQ(odd.getLine(), 9u);
    EXPECT_EQ(odd.getScanWidth(), 12u);
}

TEST(fipImageGates, RotateRotateExAndRescaleAdmitTheirTypesOnly) {
    struct Case {
        FREE_IMAGE_TYPE type;
        unsigned bpp;
        bool rotate, rotateEx, rescale;
    };
    // rotateEx is FreeImage's own gate above the wrapper's "8 bits and more".
    const Case cases[] = {
        {FIT_BITMAP, 1, true, false, true},    {FIT_BITMAP, 4, false, false, true},
        {FIT_BITMAP, 8, true, true, true},     {FIT_BITMAP, 16, false, false, true},
        {FIT_BITMAP, 24, true, true, true},    {FIT_BITMAP, 32, true, true, true},
        {FIT_UINT16, 16, true, false, true},   {FIT_INT16, 16, false, false, false},
        {FIT_UINT32, 32, false, true, false},  {FIT_FLOAT, 32, true, true, true},
        {FIT_DOUBLE, 64, false, false, false}, {FIT_RGB16, 48, true, false, true},
        {FIT_RGBF, 96, true, false, true},     {FIT_COMPLEX, 128, false, false, false},
    };
    for (const Case& c : cases) {
        fipImage image(c.type, 8, 6, c.bpp);
        ASSERT_TRUE(image.isValid()) << c.type << "/" << c.bpp;
        image.setModified(FALSE);
        FIBITMAP* before = image;
        const BOOL rotated = image.rotate(90);
        EXPECT_EQ(!!rotated, c.rotate) << "rotate " << c.type << "/" << c.bpp;
        if (!c.rotate) { EXPECT_EQ(static_cast<FIBITMAP*>(image), before); }
        if (c.rotate) { EXPECT_EQ(image.getWidth(), 6u) << c.type << "/" << c.bpp; }

        fipImage forEx(c.type, 8, 6, c.bpp);
        EXPECT_EQ(!!forEx.rotateEx(15, 0, 0, 4, 3, FALSE), c.rotateEx) << "rotateEx " << c.type << "/" << c.bpp;

        fipImage forRescale(c.type, 8, 6, c.bpp);
        EXPECT_EQ(!!forRescale.rescale(4, 3, FILTER_BILINEAR), c.rescale) << "rescale " << c.type << "/" << c.bpp;
        fipImage forThumb(c.type, 8, 6, c.bpp);
        EXPECT_EQ(!!forThumb.makeThumbnail(4, FALSE), c.rescale) << "thumbnail " << c.type << "/" << c.bpp;
        if (!c.rescale) { EXPECT_EQ(forRescale.getWidth(), 8u); }
    }
}

TEST(fipImageChannels, CombineChannelsAllocatesForAnEmptyImage) {
    fipImage source(FIT_BITMAP, 7, 5, 24);
    fill(source);
    fipImage red, green, blue;
    ASSERT_TRUE(source.splitChannels(red, green, blue));

    fipImage combined;
    EXPECT_TRUE(combined.combineChannels(red, green, blue));
    EXPECT_TRUE(combined.isModified());
    EXPECT_EQ(combined.getBitsPerPixel(), 24u);
    EXPECT_TRUE(samePixels(combined, source));

    // Reject: nothing to take the size from, so nothing is allocated.
    fipImage none, emptyRed, emptyGreen, emptyBlue;
    EXPECT_FALSE(none.combineChannels(emptyRed, emptyGreen, emptyBlue));
    EXPECT_FALSE(none.isValid());
    EXPECT_FALSE(none.isModified());

    // All three are set even when one fails: the green one still lands.
    fipImage target(FIT_BITMAP, 7, 5, 24);
    target.setModified(FALSE);
    fipImage wrongSize(FIT_BITMAP, 2, 2, 8);
    EXPECT_FALSE(target.combineChannels(wrongSize, green, blue));
    EXPECT_TRUE(target.isModified());
    RGBQUAD a{}, b{};
    target.getPixelColor(3, 2, &a);
    source.getPixelColor(3, 2, &b);
    EXPECT_EQ(a.rgbGreen, b.rgbGreen);
    EXPECT_EQ(a.rgbRed, 0);
}

TEST(fipImageMetadata, TagsAndThumbnailsLeaveTheFlagAlone) {
    fipImage image(FIT_BITMAP, 4, 4, 24);
    image.setModified(FALSE);
    fipTag tag;
    ASSERT_TRUE(tag.setKeyValue("Comment", "lane 3 saturated"));
    EXPECT_TRUE(image.setMetadata(FIMD_COMMENTS, "Comment", tag));
    EXPECT_EQ(image.getMetadataCount(FIMD_COMMENTS), 1u);

    fipTag found;
    EXPECT_TRUE(image.getMetadata(FIMD_COMMENTS, "Comment", found));
    EXPECT_STREQ(static_cast<const char*>(found.getValue()), "lane 3 saturated");
    EXPECT_EQ(found.getType(), FIDT_ASCII);
    EXPECT_EQ(found.getCount(), 17u);
    fipTag copy(found);
    EXPECT_STREQ(copy.getKey(), "Comment");

    // Not found: the holder is emptied.
    EXPECT_FALSE(image.getMetadata(FIMD_COMMENTS, "Missing", found));
    EXPECT_FALSE(found.isValid());
    EXPECT_EQ(found.getValue(), nullptr);
    EXPECT_FALSE(found.setKeyValue("a", "b"));
    found = copy;
    EXPECT_TRUE(found.isValid());

    fipImage thumb(FIT_BITMAP, 2, 2, 24);
    EXPECT_FALSE(image.hasThumbnail());
    fipImage got(FIT_BITMAP, 1, 1, 8);
    EXPECT_TRUE(image.getThumbnail(got)); // no thumbnail: got keeps its bitmap, which is valid
    EXPECT_EQ(got.getWidth(), 1u);
    EXPECT_TRUE(image.setThumbnail(thumb));
    EXPECT_TRUE(image.hasThumbnail());
    EXPECT_TRUE(image.getThumbnail(got));
    EXPECT_EQ(got.getWidth(), 2u);
    EXPECT_TRUE(image.clearThumbnail());
    EXPECT_FALSE(image.hasThumbnail());
    EXPECT_FALSE(image.isModified());
}

TEST(fipMemoryIO, StreamsOverCallerBytesOrGrowable) {
    fipMemoryIO growable;
    ASSERT_TRUE(growable.isValid());
    const char text[] = "gel";
    EXPECT_EQ(growable.write(text, 1, 3), 3u);
    EXPECT_EQ(growable.tell(), 3);
    BYTE* data = nullptr;
    DWORD size = 0;
    EXPECT_TRUE(growable.acquire(&data, &size));
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(data, text, 3), 0);

    BYTE bytes[4] = {1, 2, 3, 4};
    fipMemoryIO over(bytes, sizeof bytes);
    BYTE back[4] = {};
    EXPECT_TRUE(over.seek(1, SEEK_SET));
    EXPECT_EQ(over.read(back, 1, 4), 3u); // only three bytes left
    EXPECT_EQ(back[0], 2);
    EXPECT_EQ(bytes[0], 1); // the caller's bytes are untouched
}

TEST(fipImageLoading, FormatChecksComeBeforeAnyChange) {
    fipImage image(FIT_BITMAP, 3, 3, 8);
    image.setModified(FALSE);
    FIBITMAP* before = image;

    // Unknown format (no signature, no known extension), a missing file, a null name.
    const std::string junk = scratch("rules-junk.xyz");
    writeBytes(junk, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
    EXPECT_FALSE(image.load(junk.c_str()));
    EXPECT_FALSE(image.load(nullptr));
    EXPECT_FALSE(image.loadU(nullptr));
    EXPECT_EQ(fipImage::identifyFIF(junk.c_str()), FIF_UNKNOWN);
    EXPECT_EQ(fipImage::identifyFIFU(nullptr), FIF_UNKNOWN);
    EXPECT_EQ(fipImage::identifyFIFFromHandle(nullptr, nullptr), FIF_UNKNOWN);
    EXPECT_EQ(fipImage::identifyFIFFromMemory(nullptr), FIF_UNKNOWN);
    fipMemoryIO noBytes;
    EXPECT_FALSE(image.loadFromMemory(noBytes));
    EXPECT_EQ(static_cast<FIBITMAP*>(image), before);
    EXPECT_FALSE(image.isModified());

    // A format FreeImage knows by extension but cannot read (G3 has no reader here).
    ASSERT_FALSE(FreeImage_FIFSupportsReading(FIF_FAXG3));
    const std::string fax = scratch("rules-junk.g3");
    writeBytes(fax, {0, 1, 2, 3});
    EXPECT_FALSE(image.load(fax.c_str()));
    EXPECT_EQ(static_cast<FIBITMAP*>(image), before);

    // A known signature whose contents do not decode: the image ends up empty and modified.
    const std::string broken = scratch("rules-broken.png");
    writeBytes(broken, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0, 'J', 'U', 'N', 'K'});
    EXPECT_EQ(fipImage::identifyFIF(broken.c_str()), FIF_PNG);
    EXPECT_FALSE(image.load(broken.c_str()));
    EXPECT_FALSE(image.isValid());
    EXPECT_TRUE(image.isModified());

    // The extension alone is enough when the signature tells nothing.
    const std::string byName = scratch("rules-by-name.wbmp");
    fipImage wbmp;
    makePatterned(wbmp, FIT_BITMAP, 1, 11, 3);
    ASSERT_TRUE(wbmp.save(byName.c_str()));
    EXPECT_EQ(FreeImage_GetFileType(byName.c_str(), 0), FIF_UNKNOWN); // WBMP has no signature
    EXPECT_EQ(fipImage::identifyFIF(byName.c_str()), FIF_WBMP);
    EXPECT_TRUE(image.load(byName.c_str()));
    EXPECT_TRUE(samePixels(image, wbmp));
}

TEST(fipImageSaving, ExportTestGuardsEverySaver) {
    fipImage uint16(FIT_UINT16, 4, 4, 16);
    fill(uint16);
    uint16.setModified(FALSE);
    const std::string jpg = scratch("rules-uint16.jpg");
    const std::string png = scratch("rules-uint16.png");
    std::remove(jpg.c_str());
    EXPECT_FALSE(uint16.canSave(jpg.c_str()));
    EXPECT_FALSE(uint16.save(jpg.c_str()));
    EXPECT_FALSE(exists(jpg));
    EXPECT_TRUE(uint16.canSave(png.c_str()));
    EXPECT_TRUE(uint16.save(png.c_str()));
    EXPECT_FALSE(uint16.isModified()); // saving never touches the flag

    // No extension FreeImage knows: nothing written.
    const std::string unknown = scratch("rules-no-format.abc");
    std::remove(unknown.c_str());
    EXPECT_FALSE(uint16.canSave(unknown.c_str()));
    EXPECT_FALSE(uint16.save(unknown.c_str()));
    EXPECT_FALSE(exists(unknown));

    // Depth checks for standard bitmaps: GIF takes 8 bits, not 24.
    fipImage rgb(FIT_BITMAP, 4, 4, 24);
    EXPECT_FALSE(rgb.canSave("x.gif"));
    EXPECT_TRUE(rgb.canSave("x.bmp"));
    // FreeImage declares 1-bit PSD but its writer corrupts memory on it: refused here.
    fipImage bilevel(FIT_BITMAP, 4, 4, 1);
    EXPECT_FALSE(bilevel.canSave("x.psd"));
    EXPECT_TRUE(bilevel.canSave("x.tif"));
    EXPECT_TRUE(rgb.canSave("x.psd"));
    fipMemoryIO stream;
    EXPECT_FALSE(rgb.saveToMemory(FIF_GIF, stream));
    EXPECT_FALSE(rgb.saveToMemory(FIF_UNKNOWN, stream));
    EXPECT_TRUE(rgb.saveToMemory(FIF_BMP, stream));
    EXPECT_TRUE(stream.seek(0, SEEK_SET));
    EXPECT_EQ(fipImage::identifyFIFFromMemory(stream), FIF_BMP);
    EXPECT_EQ(stream.tell(), 0); // detection keeps the position

    // An empty image cannot be saved anywhere.
    fipImage empty;
    EXPECT_FALSE(empty.canSave("x.tif"));
    EXPECT_FALSE(empty.saveToMemory(FIF_TIFF, stream));
    EXPECT_FALSE(rgb.saveToHandle(FIF_BMP, nullptr, nullptr));

    // saveU and loadU take the same route as their narrow twins.
    const std::wstring wide = std::wstring(CString::FromUtf8(scratch("rules-wide.bmp")).GetString());
    EXPECT_TRUE(rgb.saveU(wide.c_str()));
    fipImage back;
    EXPECT_TRUE(back.loadU(wide.c_str()));
    EXPECT_EQ(fipImage::identifyFIFU(wide.c_str()), FIF_BMP);
    EXPECT_TRUE(samePixels(back, rgb));
}

// Every operation on every image type: a replacing operation either gives a new, modified
// bitmap or keeps the old handle; an in-place one always marks the image. Under the sanitizers
// this is also the sweep that shows no operation reads or writes outside a bitmap.
TEST(fipImageRules, EveryOperationOnEveryTypeKeepsItsRule) {
    struct Type {
        FREE_IMAGE_TYPE type;
        unsigned bpp;
    };
    const Type types[] = {{FIT_BITMAP, 1},  {FIT_BITMAP, 4},   {FIT_BITMAP, 8},  {FIT_BITMAP, 16}, {FIT_BITMAP, 24},
                          {FIT_BITMAP, 32}, {FIT_UINT16, 16},  {FIT_INT16, 16},  {FIT_UINT32, 32}, {FIT_INT32, 32},
                          {FIT_FLOAT, 32},  {FIT_DOUBLE, 64},  {FIT_COMPLEX, 128}, {FIT_RGB16, 48}, {FIT_RGBA16, 64},
                          {FIT_RGBF, 96},   {FIT_RGBAF, 128}};
    BYTE lut[256];
    for (int i = 0; i < 256; ++i) lut[i] = static_cast<BYTE>(255 - i);
    using Op = std::function<BOOL(fipImage&)>;
    const std::pair<const char*, Op> replacing[] = {
        {"convertToType 8-bit", [](fipImage& i) { return i.convertToType(FIT_BITMAP, TRUE); }},
        {"convertToType uint16", [](fipImage& i) { return i.convertToType(FIT_UINT16, TRUE); }},
        {"convertToType complex", [](fipImage& i) { return i.convertToType(FIT_COMPLEX, TRUE); }},
        {"threshold", [](fipImage& i) { return i.threshold(100); }},
        {"convertTo4Bits", [](fipImage& i) { return i.convertTo4Bits(); }},
        {"convertTo8Bits", [](fipImage& i) { return i.convertTo8Bits(); }},
        {"convertTo16Bits555", [](fipImage& i) { return i.convertTo16Bits555(); }},
        {"convertTo16Bits565", [](fipImage& i) { return i.convertTo16Bits565(); }},
        {"convertTo24Bits", [](fipImage& i) { return i.convertTo24Bits(); }},
        {"convertTo32Bits", [](fipImage& i) { return i.convertTo32Bits(); }},
        {"convertToGrayscale", [](fipImage& i) { return i.convertToGrayscale(); }},
        {"colorQuantize", [](fipImage& i) { return i.colorQuantize(FIQ_WUQUANT); }},
        {"dither", [](fipImage& i) { return i.dither(FID_FS); }},
        {"convertToFloat", [](fipImage& i) { return i.convertToFloat(); }},
        {"convertToRGBF", [](fipImage& i) { return i.convertToRGBF(); }},
        {"convertToUINT16", [](fipImage& i) { return i.convertToUINT16(); }},
        {"convertToRGB16", [](fipImage& i) { return i.convertToRGB16(); }},
        // FITMO_FATTAL02 is left out: FreeImage leaks a bitmap on every call of it.
        {"toneMapping drago", [](fipImage& i) { return i.toneMapping(FITMO_DRAGO03); }},
        {"toneMapping reinhard", [](fipImage& i) { return i.toneMapping(FITMO_REINHARD05); }},
        {"crop", [](fipImage& i) { return i.crop(1, 1, 5, 4); }},
        {"rotate", [](fipImage& i) { return i.rotate(33); }},
        {"rotateEx", [](fipImage& i) { return i.rotateEx(33, 1, 1, 3, 3, TRUE); }},
        {"rescale", [](fipImage& i) { return i.rescale(17, 3, FILTER_LANCZOS3); }},
        {"makeThumbnail", [](fipImage& i) { return i.makeThumbnail(3, TRUE); }},
    };
    const std::pair<const char*, Op> inPlace[] = {
        {"flipHorizontal", [](fipImage& i) { return i.flipHorizontal(); }},
        {"flipVertical", [](fipImage& i) { return i.flipVertical(); }},
        {"invert", [](fipImage& i) { return i.invert(); }},
        {"adjustCurve", [&lut](fipImage& i) { return i.adjustCurve(lut, FICC_RGB); }},
        {"adjustGamma", [](fipImage& i) { return i.adjustGamma(2); }},
        {"adjustBrightness", [](fipImage& i) { return i.adjustBrightness(20); }},
        {"adjustContrast", [](fipImage& i) { return i.adjustContrast(20); }},
        {"adjustBrightnessContrastGamma", [](fipImage& i) { return i.adjustBrightnessContrastGamma(1, 2, 1.5); }},
        {"pasteSubImage", [](fipImage& i) {
             fipImage part(i);
             part.crop(0, 0, 2, 2);
             return i.pasteSubImage(part, 1, 1);
         }},
        {"setChannel", [](fipImage& i) {
             fipImage green(FIT_BITMAP, 8, 6, 8);
             return i.setChannel(green, FICC_GREEN);
         }},
    };
    for (const Type& t : types) {
        for (const auto& op : replacing) {
            fipImage image(t.type, 8, 6, t.bpp);
            fill(image);
            image.setModified(FALSE);
            FIBITMAP* before = image;
            if (op.second(image)) {
                EXPECT_NE(static_cast<FIBITMAP*>(image), before) << op.first << " " << t.type << "/" << t.bpp;
                EXPECT_TRUE(image.isModified()) << op.first << " " << t.type << "/" << t.bpp;
            } else {
                EXPECT_EQ(static_cast<FIBITMAP*>(image), before) << op.first << " " << t.type << "/" << t.bpp;
                EXPECT_FALSE(image.isModified()) << op.first << " " << t.type << "/" << t.bpp;
            }
        }
        for (const auto& op : inPlace) {
            fipImage image(t.type, 8, 6, t.bpp);
            fill(image);
            image.setModified(FALSE);
            FIBITMAP* before = image;
            op.second(image);
            EXPECT_EQ(static_cast<FIBITMAP*>(image), before) << op.first << " " << t.type << "/" << t.bpp;
            EXPECT_TRUE(image.isModified()) << op.first << " " << t.type << "/" << t.bpp;
        }
        fipImage image(t.type, 8, 6, t.bpp);
        fipImage red, green, blue;
        DWORD histo[256];
        image.splitChannels(red, green, blue);
        image.getHistogram(histo, FICC_RED);
        fipMemoryIO stream;
        if (image.saveToMemory(FIF_TIFF, stream)) {
            stream.seek(0, SEEK_SET);
            fipImage back;
            EXPECT_TRUE(back.loadFromMemory(stream)) << t.type << "/" << t.bpp;
            EXPECT_EQ(back.getImageType(), t.type) << t.type << "/" << t.bpp;
        }
    }
}
