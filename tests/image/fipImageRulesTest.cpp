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
    OP(crop(1, 1, 5, 4)), OP(crop(0, 0, 9, 6)), OP(rotate(90)), OP(rotate(33)), OP(rotateEx(33, 1, 1, 3, 3, TRUE)),
    OP(rescale(17, 3, FILTER_LANCZOS3)), OP(rescale(0, 5, FILTER_BOX)), OP(makeThumbnail(3, TRUE))};

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
    EXPECT_EQ(bitmapState(unsized, nullptr), "kept, unmodified");
    EXPECT_EQ(bitmapState(emptyCopy, nullptr), "kept, unmodified");
    makePatterned(source, FIT_BITMAP, 8, 5, 4);
    source.setModified(FALSE);
    fipImage copy(source);
    EXPECT_EQ(bitmapState(copy, source), "replaced, modified");
    EXPECT_TRUE(samePixels(copy, source));
    // An empty source and self-assignment keep bitmap and flag; a valid source replaces.
    copy.setModified(FALSE);
    FIBITMAP* before = copy;
    fipImage& alias = copy;
    copy = empty;
    copy = alias;
    EXPECT_EQ(bitmapState(copy, before), "kept, unmodified");
    target.setModified(FALSE);
    target = source;
    EXPECT_TRUE(samePixels(target, source));
    EXPECT_TRUE(target.isModified());
    target.setModified(FALSE);
    FIBITMAP* had = target;
    target.clear();
    EXPECT_EQ(bitmapState(target, had), "empty, modified");
}

TEST(fipImageRules, AssignIntoTakesOwnershipUnlessNullOrOwn) {
    fipImage image(FIT_BITMAP, 3, 3, 8), rgb, part, red, green, blue, alpha;
    image.setModified(FALSE);
    FIBITMAP *own = image, *other = FreeImage_Allocate(6, 1, 24);
    image = static_cast<FIBITMAP*>(nullptr);
    image = own;
    EXPECT_EQ(bitmapState(image, own), "kept, unmodified");
    image = other; // owned from here on; ASan reports the old bitmap if it leaks
    EXPECT_EQ(bitmapState(image, other), "kept, modified");

    // Methods that assign into a destination keep it when FreeImage refuses (a valid one still
    // counts as success).
    makePatterned(rgb, FIT_BITMAP, 24, 8, 6);
    EXPECT_TRUE(rgb.copySubImage(part, 2, 1, 6, 4));
    FIBITMAP* kept = part;
    EXPECT_TRUE(rgb.copySubImage(part, 0, 0, 9, 6)); // one column too many
    EXPECT_EQ(handle(part), kept);
    EXPECT_FALSE(rgb.getChannel(alpha, FICC_ALPHA)); // no alpha in a 24-bit image
    EXPECT_FALSE(alpha.isValid());
    // A float image has no colour channels: the valid destinations keep their bitmaps.
    EXPECT_TRUE(rgb.splitChannels(red, green, blue));
    EXPECT_TRUE(fipImage(FIT_FLOAT, 4, 4, 32).splitChannels(red, green, blue));
    EXPECT_EQ(red.getWidth(), 8u);
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
        EXPECT_EQ(bitmapState(empty, nullptr), "kept, unmodified") << op.name;
    }
    EXPECT_EQ(other.getWidth(), 4u); // destinations were left alone

    // Queries on an empty image answer zero or null instead of reading a header.
    EXPECT_EQ(empty.getImageType(), FIT_UNKNOWN);
    EXPECT_EQ((std::vector<double>{double(empty.getWidth()), double(empty.getHeight()), double(empty.getScanWidth()),
                                   double(empty.getLine()), double(empty.getBitsPerPixel()), double(empty.getImageSize()),
                                   double(empty.getColorsUsed()), double(empty.getMetadataCount(FIMD_COMMENTS)),
                                   empty.getHorizontalResolution()}),
              std::vector<double>(9, 0));
    EXPECT_EQ((std::vector<const void*>{empty.getInfo(), empty.getInfoHeader(), empty.getPalette(),
                                        empty.accessPixels(), empty.getScanLine(0), empty.getTransparencyTable()}),
              std::vector<const void*>(6, nullptr));
    EXPECT_EQ((std::vector<BOOL>{empty.isTransparent(), empty.hasFileBkColor(), empty.hasThumbnail(),
                                 empty.isGrayscale(), empty.isHighResGrayscale()}),
              std::vector<BOOL>(5, FALSE));
}

TEST(fipImageRules, InPlaceSetsModifiedEvenWhenFreeImageRefuses) {
    // The sweep below shows it for the operations with an empty guard; these have none.
    fipImage uint16(FIT_UINT16, 4, 4, 16), empty;
    RGBQUAD colour{1, 2, 3, 0};
    const std::pair<fipImage*, NamedOp> failing[] = {
        {&uint16, {"setPixelIndex", [&](fipImage& i) { return i.setPixelIndex(0, 0, kLut); }}},
        {&empty, {"setPixelColor", [&](fipImage& i) { return i.setPixelColor(0, 0, &colour); }}},
        {&empty, {"setFileBkColor", [&](fipImage& i) { return i.setFileBkColor(&colour); }}}};
    for (const auto& [target, op] : failing) {
        target->setModified(FALSE);
        EXPECT_FALSE(op.run(*target)) << op.name;
        EXPECT_TRUE(target->isModified()) << op.name;
    }
}

TEST(fipImageRules, SetSizeWritesTheIndexRampAndFailsToEmpty) {
    for (unsigned bpp : {1u, 4u, 8u}) {
        fipImage image;
        ASSERT_TRUE(image.setSize(FIT_BITMAP, 3, 2, bpp));
        std::vector<unsigned> ramp, want;
        for (unsigned i = 0; i < image.getColorsUsed(); ++i) {
            const RGBQUAD& c = image.getPalette()[i];
            ramp.insert(ramp.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
            want.insert(want.end(), {i, i, i});
        }
        EXPECT_EQ(ramp, want) << bpp;
    }
    EXPECT_EQ(fipImage(FIT_BITMAP, 3, 2, 24).getPalette(), nullptr);
    // A size FreeImage refuses leaves the image empty and the flag as it was.
    fipImage image(FIT_BITMAP, 3, 3, 8);
    image.setModified(FALSE);
    FIBITMAP* had = image;
    EXPECT_FALSE(image.setSize(FIT_UNKNOWN, 3, 3, 8));
    EXPECT_EQ(bitmapState(image, had), "empty, unmodified");
    EXPECT_FALSE(image.setSize(FIT_UINT16, 0x80000000u, 2, 16));
}

TEST(fipImageQueries, ResolutionRoundsToWholeDotsPerMetreAndGrayscaleNeedsNoPalette) {
    fipImage image(FIT_BITMAP, 2, 2, 8);
    const std::pair<double, unsigned> cases[] = {{1.5, 150}, {0.004, 0}, {0.005, 1}, {118.11, 11811}}; // 300 dpi
    for (const auto& [dotsPerCm, dotsPerMetre] : cases) {
        image.setVerticalResolution(dotsPerCm);
        EXPECT_EQ(FreeImage_GetDotsPerMeterY(image), dotsPerMetre) << dotsPerCm;
    }
    // Grayscale: 8 or 16 bits without a palette (setSize's ramp is still one), whatever the type.
    const struct { FREE_IMAGE_TYPE type; unsigned bpp; int gray, highRes; } types[] = {
        {FIT_BITMAP, 8, 0, 0}, {FIT_UINT16, 16, 1, 1}, {FIT_INT16, 16, 1, 1}, {FIT_BITMAP, 16, 1, 0}, {FIT_BITMAP, 24, 0, 0}};
    for (const auto& t : types) {
        fipImage sized(t.type, 2, 2, t.bpp);
        EXPECT_EQ((std::vector<int>{!!sized.isGrayscale(), !!sized.isHighResGrayscale()}),
                  (std::vector<int>{t.gray, t.highRes})) << t.type << "/" << t.bpp;
    }
}

TEST(fipImageChannels, CombineChannelsAllocatesForAnEmptyImageAndSetsAllThree) {
    fipImage source, red, green, blue, combined, none, noRed, noGreen, noBlue;
    fipImage target(FIT_BITMAP, 7, 5, 24), wrongSize(FIT_BITMAP, 2, 2, 8);
    makePatterned(source, FIT_BITMAP, 24, 7, 5);
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
    EXPECT_EQ((std::vector<BOOL>{image.load(junk.c_str()), image.load(fax.c_str()), image.load(nullptr),
                                 image.loadU(nullptr), image.loadFromMemory(noBytes)}),
              std::vector<BOOL>(5, FALSE));
    EXPECT_EQ((std::vector<FREE_IMAGE_FORMAT>{fipImage::identifyFIF(junk.c_str()), fipImage::identifyFIFU(nullptr),
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
    fipImage uint16(FIT_UINT16, 4, 4, 16), rgb(FIT_BITMAP, 4, 4, 24), bilevel(FIT_BITMAP, 4, 4, 1), empty, back;
    uint16.setModified(FALSE);
    for (const std::string& path : {scratch("rules-uint16.jpg"), scratch("rules-no-format.abc")}) {
        std::remove(path.c_str());
        EXPECT_FALSE(uint16.save(path.c_str())) << path;
        EXPECT_FALSE(exists(path)) << path;
    }
    EXPECT_TRUE(uint16.save(scratch("rules-uint16.png").c_str()));
    EXPECT_FALSE(uint16.isModified()); // saving never touches the flag

    // Depths of standard bitmaps: GIF takes 8 bits, not 24. FreeImage declares 1-bit PSD, but
    // its writer corrupts memory on it: refused here.
    const std::pair<fipImage*, const char*> savable[] = {{&rgb, "x.bmp"}, {&rgb, "x.psd"}, {&bilevel, "x.tif"},
                                                          {&rgb, "x.gif"}, {&bilevel, "x.psd"}, {&empty, "x.tif"}};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(!!savable[i].first->canSave(savable[i].second), i < 3) << i;
    fipMemoryIO stream;
    EXPECT_EQ((std::vector<BOOL>{rgb.saveToMemory(FIF_GIF, stream), rgb.saveToMemory(FIF_UNKNOWN, stream),
                                 empty.saveToMemory(FIF_TIFF, stream), rgb.saveToHandle(FIF_BMP, nullptr, nullptr)}),
              std::vector<BOOL>(4, FALSE));
    EXPECT_TRUE(rgb.saveToMemory(FIF_BMP, stream));
    stream.seek(0, SEEK_SET);
    EXPECT_EQ(fipImage::identifyFIFFromMemory(stream), FIF_BMP);
    char head[3] = {};
    EXPECT_EQ(stream.read(head, 1, 2), 2u); // detection kept the position at the start
    EXPECT_STREQ(head, "BM");

    // saveU and loadU take the same route as their narrow twins.
    const std::wstring name = std::wstring(wide(scratch("rules-wide.bmp")).GetString());
    EXPECT_TRUE(rgb.saveU(name.c_str()));
    EXPECT_TRUE(back.loadU(name.c_str()));
    EXPECT_TRUE(samePixels(back, rgb));
}

// Every operation on every image type: a replacing operation either gives a new, modified bitmap
// or keeps the old handle and flag; an in-place one always marks the image; the gated operations
// admit their types only. Under the sanitizers this is also the sweep that shows no operation
// reads or writes outside a bitmap.
TEST(fipImageRules, EveryOperationOnEveryTypeKeepsItsRule) {
    for (const Type& t : kTypes) {
        auto check = [&t](const NamedOp& op, bool replacing) {
            fipImage image(t.type, 8, 6, t.bpp);
            fill(image);
            image.setModified(FALSE);
            FIBITMAP* before = image;
            const bool done = op.run(image);
            EXPECT_EQ(bitmapState(image, before), replacing && done ? "replaced, modified"
                                                  : replacing     ? "kept, unmodified"
                                                                  : "kept, modified")
                << op.name << " " << nameOf(t);
        };
        for (const NamedOp& op : kReplacing) check(op, true);
        for (const NamedOp& op : kInPlace) check(op, false);
        // The gates of rotate, rotateEx, rescale and makeThumbnail admit their types only.
        fipImage rotated(t.type, 8, 6, t.bpp), rotatedEx(rotated), rescaled(rotated), thumbnail(rotated);
        EXPECT_EQ(!!rotated.rotate(90), t.rotate) << nameOf(t);
        EXPECT_EQ(!!rotatedEx.rotateEx(15, 0, 0, 4, 3, FALSE), t.rotateEx) << nameOf(t);
        EXPECT_EQ(!!rescaled.rescale(4, 3, FILTER_BILINEAR), t.rescale) << nameOf(t);
        EXPECT_EQ(!!thumbnail.makeThumbnail(4, FALSE), t.rescale) << nameOf(t);
        fipImage image(t.type, 8, 6, t.bpp), red, green, blue, back;
        DWORD histo[256];
        image.splitChannels(red, green, blue);
        image.getHistogram(histo, FICC_RED);
        fipMemoryIO stream;
        if (image.saveToMemory(FIF_TIFF, stream)) {
            stream.seek(0, SEEK_SET);
            EXPECT_TRUE(back.loadFromMemory(stream)) << nameOf(t);
            EXPECT_EQ(back.getImageType(), t.type) << nameOf(t);
        }
    }
    // An accepted replacing operation gives a new bitmap even when the image had the form already.
    fipImage rgb(FIT_BITMAP, 9, 5, 24);
    FIBITMAP* before = rgb;
    EXPECT_TRUE(rgb.convertTo24Bits());
    EXPECT_EQ(bitmapState(rgb, before), "replaced, modified");
}
