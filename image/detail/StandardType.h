// The display's conversion of 16-bit grey images to 8 bits, run on the library's threads.
#pragma once

#include <FreeImage.h>

namespace kestro::detail {

/// The 8-bit grey bitmap FreeImage_ConvertToStandardType(dib, TRUE) gives for a FIT_UINT16 bitmap,
/// the same pixels and palette, made in bands of rows; null for any other bitmap or when the
/// allocation fails. reuse, when it is an 8-bit bitmap of dib's size, is filled and returned
/// instead of a new bitmap: a display rebuilt after each change need not fault in fresh pages.
FIBITMAP* linearTo8Bits(FIBITMAP* dib, FIBITMAP* reuse);

} // namespace kestro::detail
