#include "Support.h"

#include <algorithm>
#include <memory>

namespace kestro {

Settings& settings() {
    static Settings s;
    return s;
}

std::string oneLine(const std::string& text) {
    std::string line;
    for (const char c : text) {
        const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        if (!control)
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

const char* imageTypeName(FREE_IMAGE_TYPE type) {
    switch (type) {
    case FIT_UNKNOWN:
        return "FIT_UNKNOWN";
    case FIT_BITMAP:
        return "FIT_BITMAP";
    case FIT_UINT16:
        return "FIT_UINT16";
    case FIT_INT16:
        return "FIT_INT16";
    case FIT_UINT32:
        return "FIT_UINT32";
    case FIT_INT32:
        return "FIT_INT32";
    case FIT_FLOAT:
        return "FIT_FLOAT";
    case FIT_DOUBLE:
        return "FIT_DOUBLE";
    case FIT_COMPLEX:
        return "FIT_COMPLEX";
    case FIT_RGB16:
        return "FIT_RGB16";
    case FIT_RGBA16:
        return "FIT_RGBA16";
    case FIT_RGBF:
        return "FIT_RGBF";
    case FIT_RGBAF:
        return "FIT_RGBAF";
    }
    return "FIT_UNKNOWN";
}

std::string fileTypeName(FREE_IMAGE_FORMAT fif) {
    if (fif == FIF_UNKNOWN) return "unknown";
    const char* name = FreeImage_GetFormatFromFIF(fif);
    return name ? name : "unknown";
}

const char* rasterKind(const RasterImage* raster) {
    if (!raster) return "none";
    if (raster->IsKindOf(RUNTIME_CLASS(RasterImageGS16))) return "GS16";
    if (raster->IsKindOf(RUNTIME_CLASS(RasterImageRGB))) return "RGB";
    return "none";
}

std::unique_ptr<DalvoImage> spreadTo16Bits(const int* pixels, int width, int height,
                                           const std::string& whatFor) {
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    const auto [lo, hi] = std::minmax_element(pixels, pixels + n);
    const long long low = n ? *lo : 0, span = n ? *hi - low : 0;
    RasterImageGS16 spread(width, height);
    spread.bpp = 16;
    spread.maxPixelValue = 65535;
    for (size_t i = 0; i < n; ++i)
        spread.pixels[i] = span > 0 ? static_cast<int>((pixels[i] - low) * 65535 / span) : 0;
    std::unique_ptr<DalvoImage> image(spread.convert2DalvoImage());
    if (!image || !image->isValid()) throw ToolError("no memory for " + whatFor);
    return image;
}

} // namespace kestro
