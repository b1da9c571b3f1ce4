// Operations that rewrite a bitmap in its own memory where FreeImage would allocate a new one: a
// fresh bitmap of a large scan costs a first touch of every page, more than the work itself.
#pragma once

#include <FreeImage.h>

namespace kestro::detail {

/// Gives dib everything but its pixels and size from `from`: the info header's other fields, the
/// palette, transparency, background colour, colour profile, metadata and thumbnail; and zero
/// bytes after each row's last pixel, as a new bitmap has. from has dib's type and depth.
void takeAttributes(FIBITMAP* dib, FIBITMAP* from);

/// FreeImage_Copy(dib, left, top, right, bottom) made within dib itself, as the same bitmap
/// FreeImage_Copy would give. Done only where it keeps at least half of dib's pixel memory (so a
/// small crop frees the rest), for whole-byte pixels and a rectangle inside the image; false,
/// touching nothing, otherwise.
bool cropInPlace(FIBITMAP* dib, int left, int top, int right, int bottom);

} // namespace kestro::detail
