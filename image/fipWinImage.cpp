#include "image/fipWinImage.h"

IMPLEMENT_SERIAL(fipWinImage, CObject, VERSIONABLE_SCHEMA | 1)

fipWinImage::fipWinImage(FREE_IMAGE_TYPE type, unsigned width, unsigned height, unsigned bpp)
    : fipImage(type, width, height, bpp) {}

fipWinImage::fipWinImage(const fipWinImage& src) : fipImage(src) {
    copyDisplaySettings(src);
}

fipWinImage::~fipWinImage() {
    releaseDisplayBitmap();
}

fipWinImage& fipWinImage::operator=(const fipWinImage& src) {
    if (this == &src) return *this;
    releaseDisplayBitmap();
    copyDisplaySettings(src);
    if (src.m_dib) replace(FreeImage_Clone(src.m_dib));
    return *this;
}

fipWinImage& fipWinImage::operator=(const fipImage& src) {
    releaseDisplayBitmap();
    if (this != &src) fipImage::operator=(src);
    return *this;
}

void fipWinImage::clear() {
    releaseDisplayBitmap();
    fipImage::clear();
}

void fipWinImage::releaseDisplayBitmap() {
    if (ownsDisplayBitmap && displayBitmap) FreeImage_Unload(displayBitmap);
    displayBitmap = nullptr;
    ownsDisplayBitmap = FALSE;
}

void fipWinImage::copyDisplaySettings(const fipWinImage& src) {
    autoContrastLow = src.autoContrastLow;
    autoContrastHigh = src.autoContrastHigh;
    toneMappingOperator = src.toneMappingOperator;
    toneMappingParam1 = src.toneMappingParam1;
    toneMappingParam2 = src.toneMappingParam2;
    toneMappingParam3 = src.toneMappingParam3;
    toneMappingParam4 = src.toneMappingParam4;
    brightness = src.brightness;
    contrast = src.contrast;
    gamma = src.gamma;
    paletteType = src.paletteType;
}

namespace {

template <typename Word> void complementPixels(FIBITMAP* dib, unsigned wordsPerPixel) {
    const unsigned width = FreeImage_GetWidth(dib);
    const unsigned height = FreeImage_GetHeight(dib);
    for (unsigned y = 0; y < height; ++y) {
        Word* line = reinterpret_cast<Word*>(FreeImage_GetScanLine(dib, static_cast<int>(y)));
        for (unsigned i = 0; i < width * wordsPerPixel; ++i)
            line[i] = static_cast<Word>(~line[i]);
    }
}

} // namespace

BOOL fipWinImage::invertPixels() {
    if (!FreeImage_HasPixels(m_dib)) return FALSE;
    const unsigned width = getWidth();
    const unsigned lineBytes = getLine();
    switch (getImageType()) {
    case FIT_BITMAP:
        switch (getBitsPerPixel()) {
        case 1:
        case 4:
        case 8:
            // Whole bytes of the line, so palettised images invert their indices.
            for (unsigned y = 0; y < getHeight(); ++y) {
                BYTE* line = FreeImage_GetScanLine(m_dib, static_cast<int>(y));
                for (unsigned i = 0; i < lineBytes; ++i)
                    line[i] = static_cast<BYTE>(~line[i]);
            }
            return TRUE;
        case 24:
        case 32:
            complementPixels<BYTE>(m_dib, lineBytes / width);
            return TRUE;
        default:
            return FALSE;
        }
    case FIT_UINT16:
    case FIT_RGB16:
    case FIT_RGBA16:
        complementPixels<WORD>(m_dib, lineBytes / width / 2);
        return TRUE;
    default:
        return FALSE;
    }
}

void fipWinImage::setImageAdjustmentValues(double brightness, double contrast, double gamma) {
    this->brightness = brightness;
    this->contrast = contrast;
    this->gamma = gamma;
}

void fipWinImage::setToneMappingOperator(FREE_IMAGE_TMO tmo, double first_param, double second_param,
                                         double third_param, double fourth_param) {
    if (tmo == toneMappingOperator && first_param == toneMappingParam1 && second_param == toneMappingParam2 &&
        third_param == toneMappingParam3 && fourth_param == toneMappingParam4) {
        return;
    }
    toneMappingOperator = tmo;
    toneMappingParam1 = first_param;
    toneMappingParam2 = second_param;
    toneMappingParam3 = third_param;
    toneMappingParam4 = fourth_param;
    const FREE_IMAGE_TYPE type = getImageType();
    if (type == FIT_RGB16 || type == FIT_RGBA16 || type == FIT_RGBF || type == FIT_RGBAF) setModified(TRUE);
}

void fipWinImage::getToneMappingOperator(FREE_IMAGE_TMO* tmo, double* first_param, double* second_param,
                                         double* third_param, double* fourth_param) const {
    if (tmo) *tmo = toneMappingOperator;
    if (first_param) *first_param = toneMappingParam1;
    if (second_param) *second_param = toneMappingParam2;
    if (third_param) *third_param = toneMappingParam3;
    if (fourth_param) *fourth_param = toneMappingParam4;
}
