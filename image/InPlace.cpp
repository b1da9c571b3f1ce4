#include "image/detail/InPlace.h"

#include <cstring>
#include <memory>

namespace kestro::detail {

void takeAttributes(FIBITMAP* dib, FIBITMAP* from) {
    BITMAPINFOHEADER* header = FreeImage_GetInfoHeader(dib);
    const LONG width = header->biWidth, height = header->biHeight;
    std::memcpy(header, FreeImage_GetInfoHeader(from), sizeof(BITMAPINFOHEADER));
    header->biWidth = width;
    header->biHeight = height;
    if (const unsigned colours = FreeImage_GetColorsUsed(from))
        std::memcpy(FreeImage_GetPalette(dib), FreeImage_GetPalette(from), colours * sizeof(RGBQUAD));
    FreeImage_SetTransparencyTable(dib, FreeImage_GetTransparencyTable(from),
                                   static_cast<int>(FreeImage_GetTransparencyCount(from)));
    FreeImage_SetTransparent(dib, FreeImage_IsTransparent(from));
    RGBQUAD background;
    FreeImage_SetBackgroundColor(dib,
                                 FreeImage_GetBackgroundColor(from, &background) ? &background : nullptr);
    // Destroying a profile keeps its flags.
    FreeImage_DestroyICCProfile(dib);
    const FIICCPROFILE* profile = FreeImage_GetICCProfile(from);
    if (profile->size) FreeImage_CreateICCProfile(dib, profile->data, profile->size);
    FreeImage_GetICCProfile(dib)->flags = profile->flags;
    for (int model = FIMD_COMMENTS; model <= FIMD_CUSTOM; ++model)
        FreeImage_SetMetadata(static_cast<FREE_IMAGE_MDMODEL>(model), dib, nullptr, nullptr);
    FreeImage_CloneMetadata(dib, from);
    FreeImage_SetThumbnail(dib, FreeImage_GetThumbnail(from));
    const unsigned used = FreeImage_GetLine(dib), pitch = FreeImage_GetPitch(dib);
    for (unsigned y = 0; used < pitch && y < FreeImage_GetHeight(dib); ++y)
        std::memset(FreeImage_GetScanLine(dib, static_cast<int>(y)) + used, 0, pitch - used);
}

bool cropInPlace(FIBITMAP* dib, int left, int top, int right, int bottom) {
    if (!dib || !FreeImage_HasPixels(dib)) return false;
    const unsigned bpp = FreeImage_GetBPP(dib);
    const long width = static_cast<long>(FreeImage_GetWidth(dib));
    const long height = static_cast<long>(FreeImage_GetHeight(dib));
    if (bpp % 8 != 0 || left < 0 || top < 0 || left >= right || top >= bottom || right > width ||
        bottom > height)
        return false;
    const size_t oldPitch = FreeImage_GetPitch(dib), bytesPerPixel = bpp / 8;
    const size_t line = bytesPerPixel * static_cast<size_t>(right - left);
    const size_t newPitch = (line + 3) & ~size_t(3);
    const long rows = bottom - top;
    if (2 * newPitch * static_cast<size_t>(rows) < oldPitch * static_cast<size_t>(height)) return false;
    // What FreeImage_Copy gives besides the pixels, taken from a copy of one pixel.
    std::unique_ptr<FIBITMAP, void (*)(FIBITMAP*)> model(FreeImage_Copy(dib, left, top, left + 1, top + 1),
                                                         FreeImage_Unload);
    if (!model) return false;
    // Scan lines run bottom-up: the kept ones start at height - bottom. Each moves to a place no
    // later than its own, so going upwards never overwrites a line still to be moved.
    BYTE* bits = FreeImage_GetBits(dib);
    const size_t first = static_cast<size_t>(height - bottom);
    for (long y = 0; y < rows; ++y)
        std::memmove(bits + y * newPitch, bits + (first + y) * oldPitch + left * bytesPerPixel, line);
    BITMAPINFOHEADER* header = FreeImage_GetInfoHeader(dib);
    header->biWidth = right - left;
    header->biHeight = rows;
    takeAttributes(dib, model.get());
    return true;
}

} // namespace kestro::detail
