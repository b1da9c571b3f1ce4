// Every fipImage operation that is one FreeImage call, against that call made directly on a
// clone of the same bitmap: where the wrapper lets FreeImage answer, it answers what FreeImage does.
#include "ImageTestKit.h"

#include <functional>

using namespace imagetest;

namespace {

using Direct = std::function<FIBITMAP*(FIBITMAP*)>;

struct Call {
    const char* name;
    std::function<BOOL(fipImage&)> wrapper;
    Direct direct;   // gets a clone it may change; returns the result (null for failure)
    bool gated;      // the wrapper refuses some types before FreeImage sees them
    bool resizes;    // scales to another size, which crashes FreeImage on grey-classed 4-bit images
};

// An operation in place answers with the changed clone.
Direct inPlace(std::function<BOOL(FIBITMAP*)> f) {
    return [f](FIBITMAP* dib) { return f(dib) ? dib : nullptr; };
}

BYTE kLut[256] = {};

#define CALL(call, direct, ...) Call{#call, [](fipImage& i) { return i.call; }, direct, __VA_ARGS__}
#define REPLACE(call, fn, ...) CALL(call, [](FIBITMAP* d) { return fn; }, __VA_ARGS__)
#define IN_PLACE(call, fn) CALL(call, inPlace([](FIBITMAP* d) { return fn; }), false, false)
const Call kCalls[] = {
    REPLACE(convertToType(FIT_UINT16, TRUE), FreeImage_ConvertToType(d, FIT_UINT16, TRUE), false, false),
    REPLACE(convertToType(FIT_DOUBLE, FALSE), FreeImage_ConvertToType(d, FIT_DOUBLE, FALSE), false, false),
    REPLACE(threshold(100), FreeImage_Threshold(d, 100), false, false),
    REPLACE(convertTo4Bits(), FreeImage_ConvertTo4Bits(d), true, false),
    REPLACE(convertTo8Bits(), FreeImage_ConvertTo8Bits(d), false, false),
    REPLACE(convertTo16Bits555(), FreeImage_ConvertTo16Bits555(d), false, false),
    REPLACE(convertTo16Bits565(), FreeImage_ConvertTo16Bits565(d), false, false),
    REPLACE(convertTo24Bits(), FreeImage_ConvertTo24Bits(d), false, false),
    REPLACE(convertTo32Bits(), FreeImage_ConvertTo32Bits(d), false, false),
    REPLACE(convertToGrayscale(), FreeImage_ConvertToGreyscale(d), false, false),
    REPLACE(colorQuantize(FIQ_WUQUANT), FreeImage_ColorQuantize(d, FIQ_WUQUANT), false, false),
    REPLACE(dither(FID_BAYER8x8), FreeImage_Dither(d, FID_BAYER8x8), false, false),
    REPLACE(convertToFloat(), FreeImage_ConvertToFloat(d), false, false),
    REPLACE(convertToRGBF(), FreeImage_ConvertToRGBF(d), false, false),
    REPLACE(convertToUINT16(), FreeImage_ConvertToUINT16(d), false, false),
    REPLACE(convertToRGB16(), FreeImage_ConvertToRGB16(d), false, false),
    REPLACE(toneMapping(FITMO_DRAGO03, 2.2, 0.5), FreeImage_ToneMapping(d, FITMO_DRAGO03, 2.2, 0.5), false, false),
    REPLACE(toneMapping(FITMO_REINHARD05, 0.5, 0.25, 0.75, 0.125), FreeImage_TmoReinhard05Ex(d, 0.5, 0.25, 0.75, 0.125),
            false, false),
    REPLACE(crop(1, 1, 5, 4), FreeImage_Copy(d, 1, 1, 5, 4), false, false),
    REPLACE(rotateEx(33, 1, 1, 3, 3, TRUE), FreeImage_RotateEx(d, 33, 1, 1, 3, 3, TRUE), true, false),
    REPLACE(rotate(33), FreeImage_Rotate(d, 33, nullptr), true, false),
    REPLACE(rescale(17, 3, FILTER_LANCZOS3), FreeImage_Rescale(d, 17, 3, FILTER_LANCZOS3), true, true),
    REPLACE(rescale(i.getWidth(), i.getHeight(), FILTER_BOX),
            FreeImage_Rescale(d, int(FreeImage_GetWidth(d)), int(FreeImage_GetHeight(d)), FILTER_BOX), true, false),
    REPLACE(makeThumbnail(3, TRUE), FreeImage_MakeThumbnail(d, 3, TRUE), true, true),
    REPLACE(makeThumbnail(13, FALSE), FreeImage_MakeThumbnail(d, 13, FALSE), true, false), // the longer side
    REPLACE(makeThumbnail(40, TRUE), FreeImage_MakeThumbnail(d, 40, TRUE), true, false),   // fits: a clone
    Call{"copySubImage", [](fipImage& i) { fipImage part; return i.copySubImage(part, 1, 1, 5, 4) && (i = part, true); },
         [](FIBITMAP* d) { return FreeImage_Copy(d, 1, 1, 5, 4); }, false, false},
    Call{"getChannel", [](fipImage& i) { fipImage part; return i.getChannel(part, FICC_GREEN) && (i = part, true); },
         [](FIBITMAP* d) { return FreeImage_GetChannel(d, FICC_GREEN); }, false, false},
    IN_PLACE(flipHorizontal(), FreeImage_FlipHorizontal(d)),
    IN_PLACE(flipVertical(), FreeImage_FlipVertical(d)),
    IN_PLACE(invert(), FreeImage_Invert(d)),
    IN_PLACE(adjustCurve(kLut, FICC_GREEN), FreeImage_AdjustCurve(d, kLut, FICC_GREEN)),
    IN_PLACE(adjustGamma(2), FreeImage_AdjustGamma(d, 2)),
    IN_PLACE(adjustBrightness(20), FreeImage_AdjustBrightness(d, 20)),
    IN_PLACE(adjustContrast(-30), FreeImage_AdjustContrast(d, -30)),
    IN_PLACE(adjustBrightnessContrastGamma(1, 2, 1.5), FreeImage_AdjustColors(d, 1, 2, 1.5, FALSE)),
    Call{"pasteSubImage",
         [](fipImage& i) { fipImage part; part = FreeImage_Copy(i, 0, 0, 2, 2); return i.pasteSubImage(part, 1, 1, 100); },
         inPlace([](FIBITMAP* d) {
             FIBITMAP* part = FreeImage_Copy(d, 0, 0, 2, 2);
             const BOOL pasted = FreeImage_Paste(d, part, 1, 1, 100);
             if (part) FreeImage_Unload(part);
             return pasted;
         }),
         false, false},
    Call{"setChannel",
         [](fipImage& i) { fipImage green(FIT_BITMAP, i.getWidth(), i.getHeight(), 8); fill(green); return i.setChannel(green, FICC_GREEN); },
         inPlace([](FIBITMAP* d) {
             fipImage green(FIT_BITMAP, FreeImage_GetWidth(d), FreeImage_GetHeight(d), 8);
             fill(green);
             return FreeImage_SetChannel(d, green, FICC_GREEN);
         }),
         false, false}};
#undef CALL
#undef REPLACE
#undef IN_PLACE

// One bitmap per type, and the palettes FreeImage tells apart for 4 bits: setSize's index ramp
// (classed as black-is-zero grey), the same reversed (white-is-zero) and a spread ramp (a palette).
enum Palette { kIndexRamp, kReversed, kSpread };
struct Bitmap { FREE_IMAGE_TYPE type; unsigned bpp; Palette palette; };
const Bitmap kBitmaps[] = {
    {FIT_BITMAP, 1, kIndexRamp}, {FIT_BITMAP, 4, kIndexRamp}, {FIT_BITMAP, 4, kReversed}, {FIT_BITMAP, 4, kSpread},
    {FIT_BITMAP, 8, kIndexRamp}, {FIT_BITMAP, 8, kSpread},    {FIT_BITMAP, 16, kIndexRamp}, {FIT_BITMAP, 24, kIndexRamp},
    {FIT_BITMAP, 32, kIndexRamp}, {FIT_UINT16, 16, kIndexRamp}, {FIT_INT16, 16, kIndexRamp}, {FIT_UINT32, 32, kIndexRamp},
    {FIT_INT32, 32, kIndexRamp}, {FIT_FLOAT, 32, kIndexRamp}, {FIT_DOUBLE, 64, kIndexRamp}, {FIT_COMPLEX, 128, kIndexRamp},
    {FIT_RGB16, 48, kIndexRamp}, {FIT_RGBA16, 64, kIndexRamp}, {FIT_RGBF, 96, kIndexRamp}, {FIT_RGBAF, 128, kIndexRamp}};

/// Type, depth, size, masks, palette and the pixel bytes of every scan line.
::testing::AssertionResult sameBitmap(FIBITMAP* a, FIBITMAP* b) {
    const unsigned shape[][2] = {{FreeImage_GetImageType(a), FreeImage_GetImageType(b)},
                                 {FreeImage_GetBPP(a), FreeImage_GetBPP(b)},
                                 {FreeImage_GetWidth(a), FreeImage_GetWidth(b)},
                                 {FreeImage_GetHeight(a), FreeImage_GetHeight(b)},
                                 {FreeImage_GetRedMask(a), FreeImage_GetRedMask(b)},
                                 {FreeImage_GetColorsUsed(a), FreeImage_GetColorsUsed(b)}};
    for (const auto& s : shape)
        if (s[0] != s[1]) return ::testing::AssertionFailure() << "shape " << &s - shape << ": " << s[0] << " vs " << s[1];
    if (FreeImage_GetColorsUsed(a) &&
        std::memcmp(FreeImage_GetPalette(a), FreeImage_GetPalette(b), FreeImage_GetColorsUsed(a) * sizeof(RGBQUAD)))
        return ::testing::AssertionFailure() << "palette differs";
    for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y)
        if (std::memcmp(FreeImage_GetScanLine(a, int(y)), FreeImage_GetScanLine(b, int(y)), FreeImage_GetLine(a)))
            return ::testing::AssertionFailure() << "scan line " << y << " differs";
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(fipImagePassThrough, EveryOneCallOperationGivesWhatTheDirectCallGives) {
    for (const Bitmap& b : kBitmaps)
        for (const auto& size : {std::make_pair(13u, 7u), std::make_pair(7u, 13u)}) {
            fipImage source(b.type, size.first, size.second, b.bpp);
            fill(source);
            RGBQUAD* palette = source.getPalette();
            for (unsigned i = 0; b.palette != kIndexRamp && i < source.getColorsUsed(); ++i) {
                const unsigned top = source.getColorsUsed() - 1;
                palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue =
                    BYTE(b.palette == kReversed ? top - i : i * 255 / top);
            }
            const bool greyNibbles = b.type == FIT_BITMAP && b.bpp == 4 && b.palette != kSpread;
            for (const Call& call : kCalls) {
                SCOPED_TRACE(std::string(call.name) + " on type " + std::to_string(b.type) + "/" +
                             std::to_string(b.bpp) + " palette " + std::to_string(b.palette) + ", " +
                             std::to_string(size.first) + " wide");
                fipImage image(source);
                const BOOL answered = call.wrapper(image);
                if (call.gated && !answered) continue; // the gates have their own test
                // FreeImage itself would crash: the wrapper answers for the 8-bit widening.
                FIBITMAP* input = greyNibbles && call.resizes ? FreeImage_ConvertTo8Bits(source) : FreeImage_Clone(source);
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
