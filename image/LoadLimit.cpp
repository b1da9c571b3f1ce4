// The load limit and the refusal of hostile headers: what a file claims is weighed before any
// decoder allocates, and what a decoder made of a file far too small for it is named.
#include "image/detail/LoadLimit.h"

#include "image/fipImage.h"
#include "image/detail/ClaimedSize.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

namespace {

std::atomic<unsigned long long> g_loadMemoryLimit{fipImage::kDefaultLoadMemoryLimit};

// What the decoded bitmap and the raster built from it take: the raster holds four bytes a
// pixel, and only the types that have a raster form get one.
unsigned long long loadFootprint(FIBITMAP* dib) {
    const unsigned long long width = FreeImage_GetWidth(dib), height = FreeImage_GetHeight(dib);
    // FreeImage counts the bits of a line in 32 bits: a wider line (512 MB) wraps, and its
    // writers then read outside the bitmap. Only a hostile header claims one.
    if (width * FreeImage_GetBPP(dib) + 7 > 0xFFFFFFFFull) return ~0ull;
    const unsigned long long pitch = ((width * FreeImage_GetBPP(dib) + 31) / 32) * 4;
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
    const bool raster = type == FIT_UINT16 || (type == FIT_BITMAP && FreeImage_GetBPP(dib) >= 8);
    return pitch * height + (raster ? 4 * width * height : 0);
}

// FreeImage's own formatting knows no 64-bit conversions, so the text is made here.
void say(FREE_IMAGE_FORMAT fif, const std::string& text) {
    FreeImage_OutputMessageProc(fif, "%s", text.c_str());
}

bool refuseOverLimit(FREE_IMAGE_FORMAT fif, unsigned long long width, unsigned long long height,
                     unsigned long long footprint) {
    const unsigned long long limit = g_loadMemoryLimit.load();
    if (footprint <= limit) return false;
    say(fif, "Image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels needs " +
                 std::to_string(footprint) + " bytes, over the load limit of " + std::to_string(limit));
    return true;
}

// No compression packs pixels beyond a few thousand to one (deflate stops near 1032, LZW near
// 2700, the run-length codes near 128): a file that small for its pixels is missing its data,
// whatever the decoder made of the gap (zeros, or a stale line buffer as PSD's raw reader
// leaves). Wavelet, WebP and OpenEXR codes can describe a flat image in a few bytes, and fax
// codes a blank page of one bit a pixel, so for them only an image of nothing but zeros counts;
// but a fax code spends a bit on every line at the least, so its lines are bound all the same.
constexpr unsigned long long kMostPacked = 4096;

bool packsWithoutBound(FREE_IMAGE_FORMAT fif) {
    return fif == FIF_WEBP || fif == FIF_J2K || fif == FIF_JP2 || fif == FIF_JXR || fif == FIF_EXR;
}

bool packsWithoutBound(FREE_IMAGE_FORMAT fif, unsigned bpp) {
    return packsWithoutBound(fif) || (bpp <= 1 && (fif == FIF_TIFF || fif == FIF_FAXG3));
}

// JPEG XR codes every macroblock of 16 x 16 pixels of every tile, each in one bit at the least,
// however flat the image.
bool tooSmallForMacroblocks(unsigned long long width, unsigned long long height,
                            unsigned long long sourceBytes) {
    const long double macroblocks =
        static_cast<long double>((width + 15) / 16) * static_cast<long double>((height + 15) / 16);
    return macroblocks > 8.0L * static_cast<long double>(sourceBytes);
}

bool tooSmallFor(FREE_IMAGE_FORMAT fif, unsigned long long width, unsigned long long height, unsigned bpp,
                 unsigned long long sourceBytes) {
    if (sourceBytes && fif == FIF_JXR) return tooSmallForMacroblocks(width, height, sourceBytes);
    if (sourceBytes && !packsWithoutBound(fif) && packsWithoutBound(fif, bpp))
        return height / kMostPacked > sourceBytes;
    if (!sourceBytes || packsWithoutBound(fif, bpp)) return false;
    const unsigned long long cap = ~0ull / 64;
    if (width > cap / std::max(1u, bpp)) return true;
    const unsigned long long line = (width * bpp + 31) / 32 * 4;
    return height && line > (kMostPacked * sourceBytes) / height;
}

bool refuseTooSmall(FREE_IMAGE_FORMAT fif, unsigned long long width, unsigned long long height, unsigned bpp,
                    unsigned long long sourceBytes) {
    if (!tooSmallFor(fif, width, height, bpp, sourceBytes)) return false;
    say(fif, "The data is missing: " + std::to_string(sourceBytes) + " bytes cannot hold " +
                 std::to_string(width) + " x " + std::to_string(height) + " pixels");
    return true;
}

// What a claimed size costs: the bitmap, the raster and the decoder's own buffers, saturating.
unsigned long long claimFootprint(const kestro::detail::ClaimedSize& c) {
    const unsigned long long cap = 1ull << 62;
    if (c.width > (1ull << 32) || c.height > (1ull << 32) || c.bitsPerPixel > 128) return ~0ull;
    if (c.width * c.bitsPerPixel + 7 > 0xFFFFFFFFull) return ~0ull;
    const unsigned long long pitch = (c.width * c.bitsPerPixel + 31) / 32 * 4;
    const long double total = static_cast<long double>(pitch) * c.height +
                              (c.raster ? 4.0L * c.width * c.height : 0.0L) +
                              static_cast<long double>(c.decoderBytes);
    return total >= static_cast<long double>(cap) ? ~0ull : static_cast<unsigned long long>(total);
}

// A header that claims more pixels than its file could hold refuses the load before the
// pixels are allocated: decoding would only fill gigabytes with nothing.
bool refuseMissingData(FREE_IMAGE_FORMAT fif, FIBITMAP* header, unsigned long long sourceBytes) {
    return refuseTooSmall(fif, FreeImage_GetWidth(header), FreeImage_GetHeight(header),
                          FreeImage_GetBPP(header), sourceBytes);
}

// The claim of the file's own header, read before any decoder allocates. XBM is read whole: its
// check must see the end of the file; a JPEG's frame header must lie within its first megabyte.
kestro::detail::ClaimedSize readClaim(FREE_IMAGE_FORMAT fif, unsigned long long sourceBytes,
                                      const kestro::detail::ReadAt& readAt) {
    const size_t most = fif == FIF_XBM    ? 16u << 20
                        : fif == FIF_JPEG ? 1u << 20
                                          : kestro::detail::kClaimHeadBytes;
    std::vector<BYTE> head(sourceBytes ? static_cast<size_t>(std::min<unsigned long long>(sourceBytes, most))
                                       : most);
    head.resize(readAt(0, head.data(), head.size()));
    return kestro::detail::claimedSize(fif, head.data(), head.size(), sourceBytes);
}

} // namespace

namespace kestro::detail {

std::string missingData(FREE_IMAGE_FORMAT fif, FIBITMAP* dib, unsigned long long sourceBytes) {
    const unsigned long long lineBytes = FreeImage_GetLine(dib), height = FreeImage_GetHeight(dib);
    if (!sourceBytes || !FreeImage_HasPixels(dib) ||
        (FreeImage_GetBPP(dib) <= 1 && packsWithoutBound(fif, 1)) ||
        lineBytes * height <= kMostPacked * sourceBytes)
        return {};
    const std::string size =
        std::to_string(FreeImage_GetWidth(dib)) + " x " + std::to_string(height) + " pixels";
    if (!packsWithoutBound(fif))
        return "the data is missing: " + std::to_string(sourceBytes) + " bytes cannot hold " + size;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(dib, static_cast<int>(y));
        if (std::any_of(line, line + lineBytes, [](BYTE b) { return b != 0; })) return {};
    }
    return "the data is missing: " + std::to_string(sourceBytes) + " bytes decoded as " + size + " of zeros";
}

// Reads the header first (ours, and FreeImage's where the format allows), refuses what would
// exceed the load limit or what the file is far too small to hold, and checks again after
// decoding. decode(flag) reads from the source's start and leaves it there.
FIBITMAP* decodeBounded(FREE_IMAGE_FORMAT fif, int flag, unsigned long long sourceBytes, bool& refused,
                        const std::function<FIBITMAP*(int)>& decode, const ReadAt& readAt) {
    using kestro::detail::ClaimedSize;
    refused = true;
    const ClaimedSize claim = readClaim(fif, sourceBytes, readAt);
    const std::string why = claim.kind == ClaimedSize::broken ? claim.why
                            : fif == FIF_TIFF                 ? tiffLayoutRefusal(readAt)
                            : fif == FIF_TARGA                ? targaRefusal(readAt, sourceBytes)
                            : fif == FIF_PSD                  ? psdRefusal(readAt)
                                                              : std::string();
    if (!why.empty()) {
        say(fif, "Refused before decoding: " + why);
        return nullptr;
    }
    if (claim.kind == ClaimedSize::known &&
        (refuseOverLimit(fif, claim.width, claim.height, claimFootprint(claim)) ||
         refuseTooSmall(fif, claim.width, claim.height, claim.bitsPerPixel, sourceBytes)))
        return nullptr;
    refused = false;
    const bool noPixels = FreeImage_FIFSupportsNoPixels(fif);
    if ((flag & FIF_LOAD_NOPIXELS) && noPixels) return decode(flag);
    if (noPixels) {
        if (FIBITMAP* header = decode(flag | FIF_LOAD_NOPIXELS)) {
            refused = refuseOverLimit(fif, FreeImage_GetWidth(header), FreeImage_GetHeight(header),
                                      loadFootprint(header)) ||
                      refuseMissingData(fif, header, sourceBytes);
            FreeImage_Unload(header);
            if (refused) return nullptr;
        }
    }
    FIBITMAP* dib = decode(flag);
    if (dib && refuseOverLimit(fif, FreeImage_GetWidth(dib), FreeImage_GetHeight(dib), loadFootprint(dib))) {
        FreeImage_Unload(dib);
        return nullptr;
    }
    return dib;
}

} // namespace kestro::detail

void fipImage::setLoadMemoryLimit(unsigned long long bytes) {
    g_loadMemoryLimit = bytes;
}

unsigned long long fipImage::getLoadMemoryLimit() {
    return g_loadMemoryLimit.load();
}
