// fipImage by rule: ownership, replace, assign into, empty guard, in place, type gates, and the
// checks made before FreeImage is called.
#include "ImageTestKit.h"

#include <cstdio>
#include <functional>

using namespace imagetest;

namespace {

struct NamedOp { const char* name; std::function<BOOL(fipImage&)> run; };
#define OP(call) NamedOp{#call, [](fipImage& i) { return i.call; }}
BYTE kLut[256] = {};

// Operations under the replace rule. FITMO_FATTAL02 is left out: FreeImage leaks a bitmap on
// every call of it.
const NamedOp kReplacing[] = {
    OP(convertToType(FIT_BITMAP, TRUE)), OP(convertToType(FIT_UINT16, TRUE)), OP(convertToType(FIT_COMPLEX, TRUE)),
    OP(threshold(100)), OP(convertTo4Bits()), OP(convertTo8Bits()), OP(convertTo16Bits555()),
    OP(convertTo16Bits565()), OP(convertTo24Bits()), OP(convertTo32Bits()), OP(convertToGrayscale()),
    OP(colorQuantize(FIQ_WUQUANT)), OP(dither(FID_FS)), OP(convertToFloat()), OP(convertToRGBF()),
    OP(convertToUINT16()), OP(convertToRGB16()), OP(toneMapping(FITMO_DRAGO03)), OP(toneMapping(FITMO_REINHARD05)),
    OP(crop(1, 1, 5, 4)), OP(rotate(90)), OP(rotate(33)), OP(rotateEx(33, 1, 1, 3, 3, TRUE)),
    OP(rescale(17, 3, FILTER_LANCZOS3)), OP(makeThumbnail(3, TRUE))};

// Operations under the in-place rule.
const NamedOp kInPlace[] = {
    OP(flipHorizontal()), OP(flipVertical()), OP(invert()), OP(adjustGamma(2)), OP(adjustBrightness(20)),
    OP(adjustContrast(20)), OP(adjustBrightnessContrastGamma(1, 2, 1.5)), OP(adjustCurve(kLut, FICC_RGB)),
    {"pasteSubImage", [](fipImage& i) { fipImage part; i.copySubImage(part, 0, 0, 2, 2); return i.pasteSubImage(part, 1, 1); }},
    {"setChannel", [](fipImage& i) { fipImage green(FIT_BITMAP, 8, 6, 8); return i.setChannel(green, FICC_GREEN); }}};
#undef OP

// Every image type with the gates of rotate, rescale (and makeThumbnail) and rotateEx; the last
// is FreeImage's own gate above the wrapper's "8 bits and more".
struct Type { FREE_IMAGE_TYPE type; unsigned bpp; bool rotate, rotateEx, rescale; };
const Type kTypes[] = {
    {FIT_BITMAP, 1, true, false, true},    {FIT_BITMAP, 4, false, false, true},  {FIT_BITMAP, 8, true, true, true},
    {FIT_BITMAP, 16, false, false, true},  {FIT_BITMAP, 24, true, true, true},   {FIT_BITMAP, 32, true, true, true},
    {FIT_UINT16, 16, true, false, true},   {FIT_INT16, 16, false, false, false}, {FIT_UINT32, 32, false, true, false},
    {FIT_INT32, 32, false, true, false},   {FIT_FLOAT, 32, true, true, true},    {FIT_DOUBLE, 64, false, false, false},
    {FIT_COMPLEX, 128, false, false, false}, {FIT_RGB16, 48, true, false, true}, {FIT_RGBA16, 64, true, false, true},
    {FIT_RGBF, 96, true, false, true},     {FIT_RGBAF, 128, true, false, true}};

std::string nameOf(const Type& t) { return std::to_string(t.type) + "/" + std::to_string(t.bpp); }

} // namespace

TEST(fipImageLifetime, CopiesCloneAndAssignmentsReplaceOrKeep) {
    fipImage empty, unsized(FIT_BITMAP, 10, 0, 8), emptyCopy(empty), source, target(FIT_UINT16, 2, 2, 16);
    // Allocation needs all three dimensions; a copy of an empty image is empty and unmodified.
    EXPECT_FALSE(unsized.isValid() || unsized.isModified() || emptyCopy.isValid() || emptyCopy.isModified());
    makePatterned(source, FIT_BITMAP, 8, 5, 4);
    source.setModified(FALSE);
    fipImage copy(source);
    EXPECT_TRUE(copy.isModified() && handle(copy) != handle(source));
    EXPECT_TRUE(samePixels(copy, source));

    // An empty source and self-assignment keep bitmap and flag; a valid source replaces.
    copy.setModified(FALSE);
    FIBITMAP* before = copy;
    fipImage& alias = copy;
    copy = empty;
    copy = alias;
    EXPECT_TRUE(handle(copy) == before && !copy.isModified());
    target.setModified(FALSE);
    target = source;
    EXPECT_TRUE(target.isModified() && samePixels(target, source));
    target.setModified(FALSE);
    target.clear();
    EXPECT_TRUE(!target.isValid() && target.isModified());
}

TEST(fipImageRules, AssignIntoTakesOwnershipUnlessNullOrOwn) {
    fipImage image(FIT_BITMAP, 3, 3, 8), rgb, part, red, green, blue, alpha;
    image.setModified(FALSE);
    FIBITMAP *own = image, *other = FreeImage_Allocate(6, 1, 24);
    image = static_cast<FIBITMAP*>(nullptr);
    image = own;
    EXPECT_TRUE(handle(image) == own && !image.isModified());
    image = other; // owned from here on; ASan reports the old bitmap if it leaks
    EXPECT_TRUE(handle(image) == other && image.isModified());

    // Methods that assign into a destination: the half-open rectangle or the samples, or the
    // destination kept when FreeImage refuses (a valid one still counts as success).
    makePatterned(rgb, FIT_BITMAP, 24, 8, 6);
    EXPECT_TRUE(rgb.copySubImage(part, 2, 1, 6, 4));
    EXPECT_EQ(part.getWidth(), 4u);
    EXPECT_EQ(part.getHeight(), 3u);
    EXPECT_EQ(shownColor(part, 0, 2), shownColor(rgb, 2, 4)); // top-left: row 1 from the top
    FIBITMAP* kept = part;
    EXPECT_TRUE(rgb.copySubImage(part, 0, 0, 9, 6)); // one column too many
    EXPECT_EQ(handle(part), kept);
    EXPECT_TRUE(rgb.splitChannels(red, green, blue));
    EXPECT_EQ(shownColor(red, 2, 4) & 0xFF, shownColor(rgb, 2, 4) >> 16 & 0xFF);
    EXPECT_FALSE(rgb.getChannel(alpha, FICC_ALPHA) || alpha.isValid()); // no alpha in a 24-bit image
    // A float image has no colour channels: the valid destinations keep their bitmaps.
    EXPECT_TRUE(fipImage(FIT_FLOAT, 4, 4, 32).splitChannels(red, green, blue));
    EXPECT_EQ(red.getWidth(), 8u);
}

TEST(fipImageRules, ReplaceKeepsTheOldBitmapWhenFreeImageReturnsNothing) {
    fipImage image;
    makePatterned(image, FIT_BITMAP, 24, 9, 5);
    image.setModified(FALSE);
    FIBITMAP* before = image;
    EXPECT_FALSE(image.crop(0, 0, 10, 5) || image.convertToType(FIT_COMPLEX, TRUE) || image.rescale(0, 5, FILTER_BOX));
    EXPECT_TRUE(handle(image) == before && !image.isModified());
    // Accepts give a new, modified bitmap, even when the image already had the target form.
    EXPECT_TRUE(image.convertTo24Bits());
    EXPECT_TRUE(handle(image) != before && image.isModified());
    EXPECT_TRUE(image.crop(1, 1, 7, 4));
    EXPECT_EQ(image.getWidth(), 6u);
    EXPECT_EQ(image.getHeight(), 3u);
}

TEST(fipImageRules, EmptyGuardRefusesEveryOperationWithoutTouchingTheImage) {
    fipImage other(FIT_BITMAP, 4, 4, 8), empty;
    DWORD histo[256] = {};
    std::vector<NamedOp> ops(std::begin(kReplacing), std::end(kReplacing));
    ops.insert(ops.end(), std::begin(kInPlace), std::end(kInPlace));
    ops.push_back({"copySubImage", [&](fipImage& i) { return i.copySubImage(other, 0, 0, 1, 1); }});
    ops.push_back({"pasteSubImage", [&](fipImage& i) { return i.pasteSubImage(other, 0, 0); }});
    ops.push_back({"getChannel", [&](fipImage& i) { return i.getChannel(other, FICC_RED); }});
    ops.push_back({"setChannel", [&](fipImage& i) { return i.setChannel(other, FICC_RED); }});
    ops.push_back({"splitChannels", [&](fipImage& i) { return i.splitChannels(other, other, other); }});
    ops.push_back({"getHistogram", [&](fipImage& i) { return i.getHistogram(histo); }});
    for (const NamedOp& op : ops) {
        EXPECT_FALSE(op.run(empty)) << op.name;
        EXPECT_FALSE(empty.isValid() || empty.isModified()) << op.name;
    }
    EXPECT_EQ(other.getWidth(), 4u); // destinations were left alone

    // Queries on an empty image answer zero or null instead of reading a header.
    EXPECT_EQ(empty.getImageType(), FIT_UNKNOWN);
    EXPECT_EQ(empty.getWidth() + empty.getHeight() + empty.getScanWidth() + empty.getLine() + empty.getBitsPerPixel() +
                  empty.getImageSize() + empty.getColorsUsed() + empty.getMetadataCount(FIMD_COMMENTS), 0u);
    EXPECT_TRUE(!empty.getInfo() && !empty.getInfoHeader() && !empty.getPalette() && !empty.accessPixels() &&
                !empty.getScanLine(0) && !empty.getTransparencyTable());
    EXPECT_FALSE(empty.isTransparent() || empty.hasFileBkColor() || empty.hasThumbnail() || empty.isGrayscale() ||
                 empty.isHighResGrayscale() || empty.getHorizontalResolution() != 0.0);
}

TEST(fipImageRules, InPlaceSetsModifiedWhateverFreeImageReports) {
    fipImage image(FIT_BITMAP, 6, 4, 8), uint16(FIT_UINT16, 4, 4, 16), empty;
    fill(image);
    BYTE first = 0, index = 0;
    image.getPixelIndex(0, 0, &first);
    image.setModified(FALSE);
    EXPECT_TRUE(image.invert() && image.isModified());
    image.getPixelIndex(0, 0, &index);
    EXPECT_EQ(index, static_cast<BYTE>(255 - first));
    image.setModified(FALSE);
    EXPECT_TRUE(image.flipVertical() && image.isModified());
    image.getPixelIndex(0, 3, &index);
    EXPECT_EQ(index, static_cast<BYTE>(255 - first));

    // FreeImage refuses, and the flag is set all the same (the sweep below shows it for the other
    // in-place operations); some of these have no empty guard.
    RGBQUAD colour{1, 2, 3, 0};
    const std::pair<fipImage*, NamedOp> failing[] = {
        {&uint16, {"setPixelIndex", [&](fipImage& i) { return i.setPixelIndex(0, 0, kLut); }}},
        {&empty, {"setPixelColor", [&](fipImage& i) { return i.setPixelColor(0, 0, &colour); }}},
        {&empty, {"setFileBkColor", [&](fipImage& i) { return i.setFileBkColor(&colour); }}}};
    for (const auto& call : failing) {
        call.first->setModified(FALSE);
        EXPECT_FALSE(call.second.run(*call.first)) << call.second.name;
        EXPECT_TRUE(call.first->isModified()) << call.second.name;
    }
    // The transparency table sets the flag after FreeImage ran.
    BYTE table[3] = {0, 128, 255};
    image.setModified(FALSE);
    image.setTransparencyTable(table, 3);
    EXPECT_TRUE(image.isModified() && image.isTransparent());
    EXPECT_TRUE(image.getTransparencyCount() == 3 && image.getTransparencyTable()[1] == 128);
}

TEST(fipImageRules, SetSizeWritesTheIndexRampAndFailsToEmpty) {
    for (unsigned bpp : {1u, 4u, 8u}) {
        fipImage image;
        ASSERT_TRUE(image.setSize(FIT_BITMAP, 3, 2, bpp));
        ASSERT_EQ(image.getPaletteSize(), 4u << bpp);
        for (unsigned i = 0; i < image.getColorsUsed(); ++i) {
            const RGBQUAD& c = image.getPalette()[i];
            EXPECT_TRUE(c.rgbRed == i && c.rgbGreen == i && c.rgbBlue == i) << bpp << ": " << i;
        }
    }
    fipImage rgb(FIT_BITMAP, 3, 2, 24), image(FIT_BITMAP, 3, 3, 8);
    EXPECT_EQ(rgb.getPalette(), nullptr);
    // A size FreeImage refuses leaves the image empty and the flag as it was.
    image.setModified(FALSE);
    EXPECT_FALSE(image.setSize(FIT_UNKNOWN, 3, 3, 8) || image.isValid() || image.isModified());
    EXPECT_FALSE(image.setSize(FIT_UINT16, 0x80000000u, 2, 16));
}

TEST(fipImageQueries, ResolutionRoundsToWholeDotsPerMetreAndGrayscaleNeedsNoPalette) {
    fipImage image(FIT_BITMAP, 2, 2, 8);
    image.setModified(FALSE);
    const std::pair<double, unsigned> cases[] = {{1.5, 150}, {0.004, 0}, {0.005, 1}, {118.11, 11811}}; // 300 dpi
    for (const auto& c : cases) {
        image.setHorizontalResolution(c.first);
        image.setVerticalResolution(c.first);
        EXPECT_EQ(FreeImage_GetDotsPerMeterX(image), c.second) << c.first;
        EXPECT_EQ(FreeImage_GetDotsPerMeterY(image), c.second) << c.first;
    }
    EXPECT_TRUE(image.getVerticalResolution() == 118.11 && image.getHorizontalResolution() == 118.11);
    EXPECT_FALSE(image.isModified());

    // Grayscale: 8 or 16 bits without a palette (setSize's ramp is still one), whatever the type.
    const struct { FREE_IMAGE_TYPE type; unsigned bpp; bool gray, highRes; } types[] = {
        {FIT_BITMAP, 8, false, false}, {FIT_UINT16, 16, true, true}, {FIT_INT16, 16, true, true},
        {FIT_BITMAP, 16, true, false}, {FIT_BITMAP, 24, false, false}};
    for (const auto& t : types) {
        fipImage sized(t.type, 2, 2, t.bpp);
        EXPECT_EQ(!!sized.isGrayscale(), t.gray) << t.type << "/" << t.bpp;
        EXPECT_EQ(!!sized.isHighResGrayscale(), t.highRes) << t.type << "/" << t.bpp;
    }
    EXPECT_TRUE(image.getScanLine(1) && !image.getScanLine(2)); // bounded by the height
}

TEST(fipImageGates, RotateRotateExRescaleAndThumbnailAdmitTheirTypesOnly) {
    for (const Type& t : kTypes) {
        SCOPED_TRACE(nameOf(t));
        fipImage rotated(t.type, 8, 6, t.bpp), rotatedEx(t.type, 8, 6, t.bpp);
        fipImage rescaled(t.type, 8, 6, t.bpp), thumbnail(t.type, 8, 6, t.bpp);
        EXPECT_EQ(!!rotated.rotate(90), t.rotate);
        EXPECT_EQ(rotated.getWidth(), t.rotate ? 6u : 8u);
        EXPECT_EQ(!!rotatedEx.rotateEx(15, 0, 0, 4, 3, FALSE), t.rotateEx);
        EXPECT_EQ(!!rescaled.rescale(4, 3, FILTER_BILINEAR), t.rescale);
        EXPECT_EQ(rescaled.getWidth(), t.rescale ? 4u : 8u);
        EXPECT_EQ(!!thumbnail.makeThumbnail(4, FALSE), t.rescale);
    }
}

TEST(fipImageChannels, CombineChannelsAllocatesForAnEmptyImageAndSetsAllThree) {
    fipImage source, red, green, blue, combined, none, noRed, noGreen, noBlue;
    fipImage target(FIT_BITMAP, 7, 5, 24), wrongSize(FIT_BITMAP, 2, 2, 8);
    makePatterned(source, FIT_BITMAP, 24, 7, 5);
    ASSERT_TRUE(source.splitChannels(red, green, blue));
    EXPECT_TRUE(combined.combineChannels(red, green, blue) && combined.isModified());
    EXPECT_TRUE(samePixels(combined, source));
    // Nothing to take the size from: nothing is allocated.
    EXPECT_FALSE(none.combineChannels(noRed, noGreen, noBlue) || none.isValid() || none.isModified());
    // One channel fails: the others still land.
    target.setModified(FALSE);
    EXPECT_TRUE(!target.combineChannels(wrongSize, green, blue) && target.isModified());
    EXPECT_EQ(shownColor(target, 3, 2), shownColor(source, 3, 2) & 0x00FFFF);
}

TEST(fipImageMetadata, TagsAndThumbnailsLeaveTheFlagAlone) {
    fipImage image(FIT_BITMAP, 4, 4, 24), thumb(FIT_BITMAP, 2, 2, 24), got(FIT_BITMAP, 1, 1, 8);
    image.setModified(FALSE);
    fipTag tag, found;
    ASSERT_TRUE(tag.setKeyValue("Comment", "lane 3 saturated"));
    EXPECT_TRUE(image.setMetadata(FIMD_COMMENTS, "Comment", tag) && image.getMetadata(FIMD_COMMENTS, "Comment", found));
    EXPECT_STREQ(static_cast<const char*>(found.getValue()), "lane 3 saturated");
    EXPECT_EQ(found.getCount(), 17u); // the terminating NUL counts
    // Not found: the holder is emptied, and an empty holder takes no key.
    EXPECT_FALSE(image.getMetadata(FIMD_COMMENTS, "Missing", found) || found.isValid() || found.setKeyValue("a", "b"));

    EXPECT_TRUE(image.getThumbnail(got) && got.getWidth() == 1); // none: got keeps its (valid) bitmap
    EXPECT_TRUE(image.setThumbnail(thumb) && image.getThumbnail(got) && got.getWidth() == 2);
    EXPECT_TRUE(image.clearThumbnail() && !image.hasThumbnail() && !image.isModified());
}

TEST(fipImageLoading, FormatChecksComeBeforeAnyChange) {
    fipImage image(FIT_BITMAP, 3, 3, 8), wbmp;
    image.setModified(FALSE);
    FIBITMAP* before = image;
    // No signature and no known extension, a format without a reader here (G3), null names and
    // streams: nothing changes.
    const std::string junk = scratch("rules-junk.xyz"), fax = scratch("rules-junk.g3");
    const std::string broken = scratch("rules-broken.png"), byName = scratch("rules-by-name.wbmp");
    writeBytes(junk, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
    writeBytes(fax, {0, 1, 2, 3});
    writeBytes(broken, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0, 'J', 'U', 'N', 'K'});
    ASSERT_FALSE(FreeImage_FIFSupportsReading(FIF_FAXG3));
    fipMemoryIO noBytes;
    EXPECT_FALSE(image.load(junk.c_str()) || image.load(fax.c_str()) || image.load(nullptr) || image.loadU(nullptr) ||
                 image.loadFromMemory(noBytes));
    EXPECT_TRUE(fipImage::identifyFIF(junk.c_str()) == FIF_UNKNOWN && fipImage::identifyFIFU(nullptr) == FIF_UNKNOWN &&
                fipImage::identifyFIFFromHandle(nullptr, nullptr) == FIF_UNKNOWN &&
                fipImage::identifyFIFFromMemory(nullptr) == FIF_UNKNOWN);
    EXPECT_TRUE(handle(image) == before && !image.isModified());

    // A known signature whose contents do not decode: the image ends up empty and modified.
    EXPECT_EQ(fipImage::identifyFIF(broken.c_str()), FIF_PNG);
    EXPECT_FALSE(image.load(broken.c_str()));
    EXPECT_TRUE(!image.isValid() && image.isModified());

    // The extension alone is enough when the signature tells nothing (WBMP has none).
    makePatterned(wbmp, FIT_BITMAP, 1, 11, 3);
    ASSERT_TRUE(wbmp.save(byName.c_str()));
    EXPECT_EQ(FreeImage_GetFileType(byName.c_str(), 0), FIF_UNKNOWN);
    EXPECT_EQ(fipImage::identifyFIF(byName.c_str()), FIF_WBMP);
    EXPECT_TRUE(image.load(byName.c_str()) && samePixels(image, wbmp));
}

TEST(fipImageSaving, ExportTestGuardsEverySaver) {
    fipImage uint16(FIT_UINT16, 4, 4, 16), rgb(FIT_BITMAP, 4, 4, 24), bilevel(FIT_BITMAP, 4, 4, 1), empty, back;
    uint16.setModified(FALSE);
    for (const std::string& path : {scratch("rules-uint16.jpg"), scratch("rules-no-format.abc")}) {
        std::remove(path.c_str());
        EXPECT_FALSE(uint16.canSave(path.c_str()) || uint16.save(path.c_str()) || exists(path)) << path;
    }
    EXPECT_TRUE(uint16.canSave(scratch("rules-uint16.png").c_str()) && uint16.save(scratch("rules-uint16.png").c_str()));
    EXPECT_FALSE(uint16.isModified()); // saving never touches the flag

    // Depths of standard bitmaps: GIF takes 8 bits, not 24. FreeImage declares 1-bit PSD, but
    // its writer corrupts memory on it: refused here.
    EXPECT_TRUE(rgb.canSave("x.bmp") && rgb.canSave("x.psd") && bilevel.canSave("x.tif"));
    EXPECT_FALSE(rgb.canSave("x.gif") || bilevel.canSave("x.psd") || empty.canSave("x.tif"));
    fipMemoryIO stream;
    EXPECT_FALSE(rgb.saveToMemory(FIF_GIF, stream) || rgb.saveToMemory(FIF_UNKNOWN, stream) ||
                 empty.saveToMemory(FIF_TIFF, stream) || rgb.saveToHandle(FIF_BMP, nullptr, nullptr));
    EXPECT_TRUE(rgb.saveToMemory(FIF_BMP, stream) && stream.seek(0, SEEK_SET));
    EXPECT_EQ(fipImage::identifyFIFFromMemory(stream), FIF_BMP);
    char head[3] = {};
    EXPECT_EQ(stream.read(head, 1, 2), 2u); // detection kept the position at the start
    EXPECT_STREQ(head, "BM");

    // saveU and loadU take the same route as their narrow twins.
    const std::wstring name = std::wstring(wide(scratch("rules-wide.bmp")).GetString());
    EXPECT_TRUE(rgb.saveU(name.c_str()) && back.loadU(name.c_str()) && samePixels(back, rgb));
    EXPECT_EQ(fipImage::identifyFIFU(name.c_str()), FIF_BMP);
}

// Every operation on every image type: a replacing operation either gives a new, modified bitmap
// or keeps the old handle and flag; an in-place one always marks the image. Under the sanitizers
// this is also the sweep that shows no operation reads or writes outside a bitmap.
TEST(fipImageRules, EveryOperationOnEveryTypeKeepsItsRule) {
    for (const Type& t : kTypes) {
        auto check = [&t](const NamedOp& op, bool replacing) {
            fipImage image(t.type, 8, 6, t.bpp);
            fill(image);
            image.setModified(FALSE);
            FIBITMAP* before = image;
            const bool done = op.run(image);
            EXPECT_EQ(handle(image) != before, replacing && done) << op.name << " " << nameOf(t);
            EXPECT_EQ(!!image.isModified(), !replacing || done) << op.name << " " << nameOf(t);
        };
        for (const NamedOp& op : kReplacing) check(op, true);
        for (const NamedOp& op : kInPlace) check(op, false);
        fipImage image(t.type, 8, 6, t.bpp), red, green, blue, back;
        DWORD histo[256];
        image.splitChannels(red, green, blue);
        image.getHistogram(histo, FICC_RED);
        fipMemoryIO stream;
        if (image.saveToMemory(FIF_TIFF, stream)) {
            stream.seek(0, SEEK_SET);
            EXPECT_TRUE(back.loadFromMemory(stream) && back.getImageType() == t.type) << nameOf(t);
        }
    }
}
