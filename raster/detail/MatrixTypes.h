// The element types that images and OpenCV matrices exchange, shared by the bridge and the
// filters that run on matrices.
#pragma once

#include <FreeImage.h>

namespace kestro::detail {

/// The OpenCV type code of the matrix that holds this bitmap's pixels; -1 for no bitmap, a
/// bitmap without pixels, and types or depths that have no matrix type.
int matrixTypeOf(FIBITMAP* dib);

/// A new bitmap for a matrix of this type and size, as the bridge allocates it when it copies a
/// matrix back (FreeImage's defaults: a grey palette at 8 bits, no resolution, no metadata);
/// null for a type the bridge does not take or a failed allocation.
FIBITMAP* allocateForMatrix(int matrixType, int cols, int rows);

} // namespace kestro::detail
