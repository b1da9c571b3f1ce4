// Every fipImage operation that is one FreeImage call, on every image type, against that call on a
// clone: its rule, its type gate, the empty guard; under the sanitizers, no access outside a bitmap.
#include "ImageTestKit.h"

using namespace imagetest;

namespace {

using Direct = std::function<FIBITMAP*(FIBITMAP*)>;

// How an operation treats the image: replaces the bitmap when FreeImage gives one (and keeps it
// and its flag otherwise), changes it in place and marks it, or assigns a result into it.
enum Rule { kReplaces, kInPlace, kAssigns };
enum Gate { kNone, kRotate, kRotateEx, kRescale, kOther };

struct Call {
    const char* name;
    std::function<BOOL(fipImage&)> wrapper;
    Direct direct; // gets a clone it may change; returns the result (null for failure)
    Rule rule;
    Gate gate;    // the wrapper refuses some types before FreeImage sees them
    bool resizes; // scales to another size, which crashes FreeImage on grey-classed 4-bit images
};

// An operation in place answers with the changed clone.
Direct inPlace(std::function<BOOL(FIBITMAP*)> f) {
    return [f](FIBITMAP* dib) { return f(dib) ? dib : nullptr; };
}

BYTE kLut[256] = {};

// What pasteSubImage and setChannel take: the top-left 2 x 2 corner, a patterned 8-bit image of the size.
fipImage corner(FIBITMAP* dib) {
    fipImage part;
    part = FreeImage_Copy(dib, 0, 0, 2, 2);
    return part;
}
fipImage greenChannel(FIBITMAP* dib) {
    fipImage green(FIT_BITMAP, FreeImage_GetWidth(dib), FreeImage_GetHeight(dib), 8);
    fill(green);
    return green;
}

#define CALL(call, direct, ...)                                                                              \
    Call {                                                                                                   \
#call, [](fipImage & i) { return i.call; }, direct, __VA_ARGS__                                      \
    }
#define REPLACE(call, fn, ...)                                                                               \
    CALL(                                                                                                    \
        call, [](FIBITMAP* d) { return fn; }, kReplaces, __VA_ARGS__)
#define IN_PLACE(call, fn) CALL(call, inPlace([](FIBITMAP* d) { return fn; }), kInPlace, kNone, false)
const Call kCalls[] = {
    REPLACE(convertToType(FIT_UINT16, TRUE), FreeImage_ConvertToType(d, FIT_UINT16, TRUE), kNone, false),
    REPLACE(convertToType(FIT_BITMAP, FALSE), FreeImage_ConvertToType(d, FIT_BITMAP, FALSE), kNone, false),
    REPLACE(threshold(100), FreeImage_Threshold(d, 100), kNone, false),
    REPLACE(convertTo4Bits(), FreeImage_ConvertTo4Bits(d), kOther, false),
    REPLACE(convertTo8Bits(), FreeImage_ConvertTo8Bits(d), kNone, false),
    REPLACE(convertTo16Bits555(), FreeImage_ConvertTo16Bits555(d), kNone, false),
    REPLACE(convertTo16Bits565(), FreeImage_ConvertTo16Bits565(d), kNone, false),
    REPLACE(convertTo24Bits(), FreeImage_ConvertTo24Bits(d), kNone, false),
    REPLACE(convertTo32Bits(), FreeImage_ConvertTo32Bits(d), kNone, false),
    REPLACE(convertToGrayscale(), FreeImage_ConvertToGreyscale(d), kNone, false),
    REPLACE(colorQuantize(FIQ_WUQUANT), FreeImage_ColorQuantize(d, FIQ_WUQUANT), kNone, false),
    REPLACE(dither(FID_BAYER8x8), FreeImage_Dither(d, FID_BAYER8x8), kNone, false),
    REPLACE(convertToFloat(), FreeImage_ConvertToFloat(d), kNone, false),
    REPLACE(convertToRGBF(), FreeImage_ConvertToRGBF(d), kNone, false),
    REPLACE(convertToUINT16(), FreeImage_ConvertToUINT16(d), kNone, false),
    REPLACE(convertToRGB16(), FreeImage_ConvertToRGB16(d), kNone, false),
    REPLACE(toneMapping(FITMO_DRAGO03, 2.2, 0.5), FreeImage_ToneMapping(d, FITMO_DRAGO03, 2.2, 0.5), kNone, false),
    REPLACE(toneMapping(FITMO_REINHARD05, 0.5, 0.25, 0.75, 0.125), FreeImage_TmoReinhard05Ex(d, 0.5, 0.25, 0.75, 0.125),
            kNone, false),
    REPLACE(crop(1, 1, 5, 4), FreeImage_Copy(d, 1, 1, 5, 4), kNone, false),
    REPLACE(crop(0, 0, 14, 14), FreeImage_Copy(d, 0, 0, 14, 14), kNone, false), // outside: refused
    REPLACE(rotateEx(33, 1, 1, 3, 3, TRUE), FreeImage_RotateEx(d, 33, 1, 1, 3, 3, TRUE), kRotateEx, false),
    REPLACE(rotate(33), FreeImage_Rotate(d, 33, nullptr), kRotate, false),
    REPLACE(rotate(90), FreeImage_Rotate(d, 90, nullptr), kRotate, false),
    REPLACE(rescale(17, 3, FILTER_LANCZOS3), FreeImage_Rescale(d, 17, 3, FILTER_LANCZOS3), kRescale, true),
    REPLACE(rescale(0, 5, FILTER_BOX), FreeImage_Rescale(d, 0, 5, FILTER_BOX), kRescale, true), // refused
    REPLACE(rescale(i.getWidth(), i.getHeight(), FILTER_BOX),
            FreeImage_Rescale(d, int(FreeImage_GetWidth(d)), int(FreeImage_GetHeight(d)), FILTER_BOX), kRescale, false),
    REPLACE(makeThumbnail(3, TRUE), FreeImage_MakeThumbnail(d, 3, TRUE), kRescale, true),
    REPLACE(makeThumbnail(13, FALSE), FreeImage_MakeThumbnail(d, 13, FALSE), kRescale, false), // the longer side
    REPLACE(makeThumbnail(40, TRUE), FreeImage_MakeThumbnail(d, 40, TRUE), kRescale, false),   // fits: a clone
    Call{"copySubImage", [](fipImage& i) { fipImage part; return i.copySubImage(part, 1, 1, 5, 4) && (i = part, true); },
         [](FIBITMAP* d) { return FreeImage_Copy(d, 1, 1, 5, 4); }, kAssigns, kNone, false},
    Call{"getChannel", [](fipImage& i) { fipImage part; return i.getChannel(part, FICC_GREEN) && (i = part, true); },
         [](FIBITMAP* d) { return FreeImage_GetChannel(d, FICC_GREEN); }, kAssigns, kNone, false},
    IN_PLACE(flipHorizontal(), FreeImage_FlipHorizontal(d)),
    IN_PLACE(flipVertical(), FreeImage_FlipVertical(d)),
    IN_PLACE(invert(), FreeImage_Invert(d)),
    IN_PLACE(adjustCurve(kLut, FICC_GREEN), FreeImage_AdjustCurve(d, kLut, FICC_GREEN)),
    IN_PLACE(adjustGamma(2), FreeImage_AdjustGamma(d, 2)),
    IN_PLACE(adjustBrightness(20), FreeImage_AdjustBrightness(d, 20)),
    IN_PLACE(adjustContrast(-30), FreeImage_AdjustContrast(d, -30)),
    IN_PLACE(adjustBrightnessContrastGamma(1, 2, 1.5), FreeImage_AdjustColors(d, 1, 2, 1.5, FALSE)),
    Call{"pasteSubImage", [](fipImage& i) { fipImage part = corner(i); return i.pasteSubImage(part, 1, 1, 100); },
         inPlace([](FIBITMAP* d) { return FreeImage_Paste(d, corner(d), 1, 1, 100); }), kInPlace, kNone, false},
    Call{"setChannel", [](fipImage& i) { fipImage green = greenChannel(i); return i.setChannel(green, FICC_GREEN); },
         inPlace([](FIBITMAP* d) { return FreeImage_SetChannel(d, greenChannel(d), FICC_GREEN); }), kInPlace, kNone,
         false}};
#undef CALL
#undef REPLACE
#undef IN_PLACE

// One bitmap per type with what the gates of rotate, rotateEx (FreeImage's own above the wrapper's
// "8 bits and more") and rescale (and makeThumbnail) admit, and the 4-bit palettes FreeImage tells
// apart: setSize's index ramp (black-is-zero grey), the same reversed (white-is-zero) and a spread one.
enum Palette { kIndexRamp, kReversed, kSpread };
struct Bitmap {
    FREE_IMAGE_TYPE type;
    unsigned bpp;
    Palette palette;
    bool admits[4];
};
const Bitmap kBitmaps[] = {
    {FIT_BITMAP, 1, kIndexRamp, {1, 1, 0, 1}},  {FIT_BITMAP, 4, kIndexRamp, {1, 0, 0, 1}},
    {FIT_BITMAP, 4, kReversed, {1, 0, 0, 1}},   {FIT_BITMAP, 4, kSpread, {1, 0, 0, 1}},
    {FIT_BITMAP, 8, kIndexRamp, {1, 1, 1, 1}},  {FIT_BITMAP, 8, kSpread, {1, 1, 1, 1}},
    {FIT_BITMAP, 16, kIndexRamp, {1, 0, 0, 1}}, {FIT_BITMAP, 24, kIndexRamp, {1, 1, 1, 1}},
    {FIT_BITMAP, 32, kIndexRamp, {1, 1, 1, 1}}, {FIT_UINT16, 16, kIndexRamp, {1, 1, 0, 1}},
    {FIT_INT16, 16, kIndexRamp, {1, 0, 0, 0}},  {FIT_UINT32, 32, kIndexRamp, {1, 0, 1, 0}},
    {FIT_INT32, 32, kIndexRamp, {1, 0, 1, 0}},  {FIT_FLOAT, 32, kIndexRamp, {1, 1, 1, 1}},
    {FIT_DOUBLE, 64, kIndexRamp, {1, 0, 0, 0}}, {FIT_COMPLEX, 128, kIndexRamp, {1, 0, 0, 0}},
    {FIT_RGB16, 48, kIndexRamp, {1, 1, 0, 1}},  {FIT_RGBA16, 64, kIndexRamp, {1, 1, 0, 1}},
    {FIT_RGBF, 96, kIndexRamp, {1, 1, 0, 1}},   {FIT_RGBAF, 128, kIndexRamp, {1, 1, 0, 1}}};

} // namespace

TEST(fipImageOperations, EveryOneCallOperationMatchesTheDirectCallUnderItsRule) {
    for (const Bitmap& b : kBitmaps)
        for (const auto& size : {std::make_pair(13u, 7u), std::make_pair(7u, 13u)}) {
            fipImage source = patterned(size.first, size.second, b.bpp, b.type);
            RGBQUAD* palette = source.getPalette();
            for (unsigned i = 0; b.palette != kIndexRamp && i < source.getColorsUsed(); ++i) {
                const unsigned top = source.getColorsUsed() - 1;
                palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue =
                    BYTE(b.palette == kReversed ? top - i : i * 255 / top);
            }
            const bool greyNibbles = b.type == FIT_BITMAP && b.bpp == 4 && b.palette != kSpread;
            for (const Call& call : kCalls) {
                SCOPED_TRACE(testing::Message() << call.name << " on type " << b.type << "/" << b.bpp
                                                << " palette " << b.palette << ", " << size.first << " wide");
                fipImage image(source);
                FIBITMAP* before = unmodified(image);
                const BOOL answered = call.wrapper(image);
                if (call.rule != kAssigns) {
                    EXPECT_EQ(bitmapState(image, before), call.rule == kInPlace ? "kept, modified"
                                                          : answered            ? "replaced, modified"
                                                                                : "kept, unmodified");
                }
                if (call.gate != kNone && call.gate != kOther && !b.admits[call.gate]) {
                    EXPECT_FALSE(answered);
                    continue;
                }
                if (call.gate == kOther && !answered) continue;
                // FreeImage itself would crash: the wrapper answers for the 8-bit widening.
                FIBITMAP* input =
                    greyNibbles && call.resizes ? FreeImage_ConvertTo8Bits(source) : FreeImage_Clone(source);
                FIBITMAP* result = call.direct(input);
                EXPECT_EQ(!!answered, result != nullptr);
                if (answered && result) {
                    EXPECT_TRUE(sameBitmap(image, result));
                }
                if (result && result != input) FreeImage_Unload(result);
                FreeImage_Unload(input);
            }
        }
}

// A crop keeping most of the image is made within the bitmap and must give FreeImage_Copy's bitmap in
// everything; smaller crops, sub-byte pixels and rectangles FreeImage refuses go to FreeImage_Copy.
TEST(fipImageOperations, CropGivesFreeImageCopysBitmap) {
    // Left, top, right, bottom, and whether the crop is made within the bitmap for whole-byte pixels.
    const std::tuple<int, int, int, int, bool> rectangles[] = {
        {0, 0, 13, 9, true}, {1, 0, 13, 9, true},  {0, 2, 12, 9, true}, {2, 1, 12, 8, true},
        {3, 3, 6, 5, false}, {0, 0, 14, 9, false}, {5, 5, 5, 7, false}, {-1, 0, 12, 9, false}};
    for (const Bitmap& b : kBitmaps)
        for (const auto& [left, top, right, bottom, withinForBytes] : rectangles) {
            SCOPED_TRACE(testing::Message() << "type " << b.type << "/" << b.bpp << " rectangle " << left
                                            << "," << top << "," << right << "," << bottom);
            fipImage image = patterned(13, 9, b.bpp, b.type);
            dress(image);
            FIBITMAP* expected = FreeImage_Copy(image, left, top, right, bottom);
            FIBITMAP* before = unmodified(image);
            EXPECT_EQ(image.crop(left, top, right, bottom), expected != nullptr);
            const bool inPlace = withinForBytes && b.bpp % 8 == 0;
            EXPECT_EQ(bitmapState(image, before), inPlace    ? "kept, modified"
                                                  : expected ? "replaced, modified"
                                                             : "kept, unmodified");
            if (expected) {
                EXPECT_TRUE(sameWholeBitmap(image, expected));
                FreeImage_Unload(expected);
            }
        }
}

TEST(fipImageOperations, EmptyGuardRefusesEveryOperationWithoutTouchingTheImage) {
    fipImage other(FIT_BITMAP, 4, 4, 8), empty;
    DWORD histo[256] = {};
    std::vector<std::pair<const char*, std::function<BOOL(fipImage&)>>> ops = {
        {"copySubImage", [&](fipImage& i) { return i.copySubImage(other, 0, 0, 1, 1); }},
        {"pasteSubImage", [&](fipImage& i) { return i.pasteSubImage(other, 0, 0); }},
        {"getChannel", [&](fipImage& i) { return i.getChannel(other, FICC_RED); }},
        {"setChannel", [&](fipImage& i) { return i.setChannel(other, FICC_RED); }},
        {"splitChannels", [&](fipImage& i) { return i.splitChannels(other, other, other); }},
        {"getHistogram", [&](fipImage& i) { return i.getHistogram(histo); }}};
    for (const Call& call : kCalls)
        ops.emplace_back(call.name, call.wrapper);
    for (const auto& [name, op] : ops) {
        EXPECT_FALSE(op(empty)) << name;
        EXPECT_EQ(bitmapState(empty, nullptr), "kept, unmodified") << name;
    }
    EXPECT_EQ(other.getWidth(), 4u); // destinations were left alone

    // Queries on an empty image answer zero or null instead of reading a header.
    EXPECT_EQ((std::vector<double>{double(empty.getImageType()), double(empty.getWidth()),
                                   double(empty.getLine()), double(empty.getImageSize()),
                                   double(empty.getColorsUsed()), empty.getHorizontalResolution()}),
              std::vector<double>(6, 0)); // the type FIT_UNKNOWN
    EXPECT_EQ(
        (std::vector<const void*>{empty.getInfo(), empty.getInfoHeader(), empty.getPalette(),
                                  empty.accessPixels(), empty.getScanLine(0), empty.getTransparencyTable()}),
        std::vector<const void*>(6, nullptr));
    EXPECT_EQ((std::vector<BOOL>{empty.isTransparent(), empty.hasFileBkColor(), empty.hasThumbnail(),
                                 empty.isGrayscale(), empty.isHighResGrayscale()}),
              std::vector<BOOL>(5, FALSE));
}
