// The load limit and the refusal of hostile headers, shared by every way fipImage loads.
#pragma once

#include "image/detail/StreamChecks.h"

#include <FreeImage.h>

#include <cstddef>
#include <functional>
#include <string>

namespace kestro::detail {

/// Reads the header first (ours, and FreeImage's where the format allows), refuses what would
/// exceed the load limit or what the file is far too small to hold (refused is then true and the
/// result null; the reason went to the message handler), and checks again after decoding.
/// decode(flag) reads from the source's start and leaves it there.
FIBITMAP* decodeBounded(FREE_IMAGE_FORMAT fif, int flag, unsigned long long sourceBytes, bool& refused,
                        const std::function<FIBITMAP*(int)>& decode, const ReadAt& readAt);

/// Why a decoded bitmap cannot have come from a file of sourceBytes bytes (its pixels far beyond
/// what any code packs into it); empty when it can.
std::string missingData(FREE_IMAGE_FORMAT fif, FIBITMAP* dib, unsigned long long sourceBytes);

} // namespace kestro::detail
