// Drawing a displayable image: the display bitmap rebuild, the display pass and the blit.
#include "image/fipWinImage.h"
#include "image/detail/StandardType.h"

#include <climits>
#include <cmath>

namespace {

// What x86 gives when a double is truncated to int (cvttsd2si): the value itself when it fits,
// otherwise the "integer indefinite" 0x80000000, also for NaN. C++ leaves that case undefined;
// the auto-contrast ramp relies on it: a ramp without slope computes NaN and comes out black.
int truncateToInt(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT_MIN;
    return static_cast<int>(x);
}

// The grey values of the auto-contrast ramp between the limits low and high (0..255 scale).
void autoContrastRamp(int low, int high, BYTE values[256]) {
    // The difference is an integer (wrapping as the 32-bit subtraction does); 256 levels
    // stretched over it.
    const int difference = static_cast<int>(static_cast<unsigned>(high) - static_cast<unsigned>(low));
    const double scale = 256.0 / difference;
    const double offset = -static_cast<double>(low) * scale;
    for (int i = 0; i < 256; ++i) {
        double x = i * scale + offset;
        if (x < 0.0) x = 0.0;
        if (x > 255.0) x = 255.0;
        values[i] = static_cast<BYTE>(truncateToInt(std::floor(x + 0.5)) & 0xFF);
    }
}

// The 256 colours of a palette selector; false for a value that selects none.
bool paletteColours(enPalette type, int low, int high, BYTE red[256], BYTE green[256], BYTE blue[256]) {
    BYTE ramp[256];
    for (int i = 0; i < 256; ++i)
        ramp[i] = static_cast<BYTE>(i);
    switch (type) {
    case PaletteNormal:
    case PaletteSaturated:
    case PaletteAutoContrast:
        if (type == PaletteAutoContrast) autoContrastRamp(low, high, ramp);
        for (int i = 0; i < 256; ++i)
            red[i] = green[i] = blue[i] = ramp[i];
        if (type == PaletteSaturated) green[255] = blue[255] = 0;
        return true;
    case PaletteShadesOfGreen:
    case PaletteShadesOfRed:
    case PaletteShadesOfBlue:
        for (int i = 0; i < 256; ++i) {
            red[i] = type == PaletteShadesOfRed ? ramp[i] : 0;
            green[i] = type == PaletteShadesOfGreen ? ramp[i] : 0;
            blue[i] = type == PaletteShadesOfBlue ? ramp[i] : 0;
        }
        return true;
    default:
        return false;
    }
}

} // namespace

BOOL fipWinImage::applyPalette(FIBITMAP* target) const {
    if (!target || !FreeImage_HasPixels(target)) return FALSE;
    // Whether a false-colour palette applies is decided by the image, not by the target: in
    // effect 16-bit grayscale images only, since an 8-bit image always reports its colours.
    const unsigned bpp = FreeImage_GetBPP(m_dib);
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(m_dib);
    const bool writesPalette = ((bpp == 8 || bpp == 16) && FreeImage_GetColorsUsed(m_dib) == 0) ||
                               type == FIT_UINT16 || type == FIT_INT16;
    RGBQUAD* palette = FreeImage_GetPalette(target);
    BYTE red[256], green[256], blue[256];
    if (writesPalette && palette &&
        paletteColours(paletteType, autoContrastLow, autoContrastHigh, red, green, blue)) {
        const unsigned entries = std::min(FreeImage_GetColorsUsed(target), 256u);
        for (unsigned i = 0; i < entries; ++i) {
            palette[i].rgbRed = red[i];
            palette[i].rgbGreen = green[i];
            palette[i].rgbBlue = blue[i];
        }
    }
    return FreeImage_AdjustColors(target, brightness, contrast, gamma, FALSE);
}

void fipWinImage::draw(HDC dc, RECT& destination) const {
    drawEx(dc, destination, FALSE, nullptr, nullptr);
}

void fipWinImage::drawEx(HDC dc, RECT& destination, BOOL useFileBackground, RGBQUAD* applicationBackground,
                         FIBITMAP* backgroundBitmap) const {
    // A shared display bitmap that is no longer the image bitmap would be a dangling handle
    // (the host cleared the flag after a replacement): rebuild it as if marked modified.
    const bool stale = displayBitmap && !ownsDisplayBitmap && displayBitmap != m_dib;
    if (isModified() || stale) {
        // A private display bitmap of a 16-bit image is refilled; any other goes.
        FIBITMAP* spare = ownsDisplayBitmap ? displayBitmap : nullptr;
        if (spare && FreeImage_GetImageType(m_dib) != FIT_UINT16) {
            FreeImage_Unload(spare);
            spare = nullptr;
        }
        displayBitmap = nullptr;
        ownsDisplayBitmap = FALSE;
        FIBITMAP* display = nullptr;
        bool owned = true;
        switch (FreeImage_GetImageType(m_dib)) {
        case FIT_BITMAP: {
            const bool composite =
                FreeImage_IsTransparent(m_dib) || (FreeImage_HasBackgroundColor(m_dib) && useFileBackground);
            if (composite)
                display =
                    FreeImage_Composite(m_dib, useFileBackground, applicationBackground, backgroundBitmap);
            if (!display) {
                // The display pass works in place: a neutral one leaves the bitmap as it is,
                // any other would change the image, so it gets a private copy.
                const bool neutral = brightness == 0 && contrast == 0 && gamma == 1.0;
                display = neutral ? m_dib : FreeImage_Clone(m_dib);
                owned = !neutral;
            }
            break;
        }
        case FIT_COMPLEX:
            if (FIBITMAP* magnitude = FreeImage_GetComplexChannel(m_dib, FICC_MAG)) {
                display = FreeImage_ConvertToStandardType(magnitude, TRUE);
                FreeImage_Unload(magnitude);
            }
            break;
        case FIT_RGBF:
        case FIT_RGBAF:
        case FIT_RGB16:
            display =
                toneMappingOperator == FITMO_REINHARD05
                    ? FreeImage_TmoReinhard05Ex(m_dib, toneMappingParam1, toneMappingParam2,
                                                toneMappingParam3, toneMappingParam4)
                    : FreeImage_ToneMapping(m_dib, toneMappingOperator, toneMappingParam1, toneMappingParam2);
            break;
        case FIT_RGBA16:
            if (FIBITMAP* wide = FreeImage_ConvertTo32Bits(m_dib)) {
                display =
                    FreeImage_Composite(wide, useFileBackground, applicationBackground, backgroundBitmap);
                FreeImage_Unload(wide);
            }
            break;
        case FIT_UINT16:
            display = kestro::detail::linearTo8Bits(m_dib, spare);
            if (display == spare) spare = nullptr;
            break;
        default:
            if (m_dib) display = FreeImage_ConvertToStandardType(m_dib, TRUE);
            break;
        }
        if (spare) FreeImage_Unload(spare);
        if (display) {
            displayBitmap = display;
            ownsDisplayBitmap = owned ? TRUE : FALSE;
            applyPalette(display);
        }
        const_cast<fipWinImage*>(this)->setModified(FALSE);
    }

    if (!dc || !displayBitmap) return;
    const long long width = static_cast<long long>(destination.right) - destination.left;
    const long long height = static_cast<long long>(destination.bottom) - destination.top;
    if (width < INT_MIN || width > INT_MAX || height < INT_MIN || height > INT_MAX) return;
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, destination.left, destination.top, static_cast<int>(width), static_cast<int>(height), 0,
                  0, static_cast<int>(FreeImage_GetWidth(displayBitmap)),
                  static_cast<int>(FreeImage_GetHeight(displayBitmap)), FreeImage_GetBits(displayBitmap),
                  FreeImage_GetInfo(displayBitmap), DIB_RGB_COLORS, SRCCOPY);
}
