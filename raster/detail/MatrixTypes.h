// The element types that images and OpenCV matrices exchange, shared by the bridge and the
// filters that run on matrices.
#pragma once

#include <FreeImage.h>

namespace kestro::detail {

/// The OpenCV type code of the matrix that holds this bitmap's pixels; -1 for no bitmap, a
/// bitmap without pixels, and types or depths that have no matrix type.
int matrixTypeOf(FIBITMAP* dib);

} // namespace kestro::detail
