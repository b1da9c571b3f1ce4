// The size a file claims, read from its own header before any decoder sees it: FreeImage's
// decoders allocate what the header says, and several of them offer no header-only load.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <string>

namespace kestro::detail {

struct ClaimedSize {
    enum Kind {
        unknown, ///< no reader for the format, or its header lies beyond the bytes given
        known,   ///< width, height and the decoded bitmap's bits per pixel below
        broken   ///< the header is not the format's (why says how); no decoder should see it
    } kind = unknown;
    unsigned long long width = 0, height = 0;
    unsigned bitsPerPixel = 0;
    /// Working memory of the decoder besides the bitmap (coefficients, planes of samples).
    unsigned long long decoderBytes = 0;
    /// Whether kestro builds a raster of four bytes a pixel from the bitmap.
    bool raster = false;
    std::string why;
};

/// Reads the claim from the first length bytes of a file in format fif of sourceBytes bytes in all.
ClaimedSize claimedSize(FREE_IMAGE_FORMAT fif, const BYTE* head, size_t length,
                        unsigned long long sourceBytes);

/// How many bytes of the head claimedSize may need.
constexpr size_t kClaimHeadBytes = 256 * 1024;

} // namespace kestro::detail
