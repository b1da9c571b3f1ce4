// Kernels of ImageProcessing's moving filters over plain int arrays; not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro {
namespace detail {

/// The moving minimum of ImageProcessing::generateBGViaMinFilter, over row-major arrays:
/// dst[y * dstStride + x] for x < width, y < height becomes the smallest of startValue and the
/// source pixels in columns [max(0, x - halfWidth), min(x + halfWidth, width - 1)) and rows
/// [max(0, y - halfHeight), min(y + halfHeight, height - 1)). dst must not overlap src.
/// Cost per pixel does not depend on the half sizes.
void movingMinimum(const int* src, int width, int height, int* dst, std::size_t dstStride, int halfWidth,
                   int halfHeight, int startValue);

/// The moving average of ImageProcessing::smoothenViaAverageFilter, in place over a row-major
/// array: every pixel (x, y) with radius <= x < width - radius and radius <= y < height - radius
/// becomes the double quotient (sum of the original pixels in columns [x - radius, x + radius)
/// and rows [y - radius, y + radius)) / (2 radius)^2, truncated toward zero. Other pixels keep
/// their values; radius below 1, or 2 radius not below the width or height, changes nothing.
/// Window sums are kept exactly in integers wherever the literal double sums are exact too;
/// sums that could pass 2^53 are added in double, row by row and left to right.
void movingAverage(int* pixels, int width, int height, int radius);

} // namespace detail
} // namespace kestro
