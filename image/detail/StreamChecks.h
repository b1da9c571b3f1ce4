// What FreeImage's readers must not be given, where finding it takes reading past a file's head: the
// sample layout in a TIFF's first directory, the run-length packets of a Targa or Photoshop file.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <functional>
#include <string>

namespace kestro::detail {

/// Reads up to n bytes at offset of a source into buffer and gives how many it read; leaves the
/// source's position as it was.
using ReadAt = std::function<size_t(unsigned long long offset, BYTE* buffer, size_t n)>;

/// Whether the source starts as a TIFF does (classic or BigTIFF, either byte order).
bool startsAsTiff(const ReadAt& readAt);

/// Why the TIFF that readAt reads must go to no decoder; empty where it may.
std::string tiffLayoutRefusal(const ReadAt& readAt);

/// Why the Targa file that readAt reads must go to no decoder; empty where it may.
std::string targaRefusal(const ReadAt& readAt, unsigned long long sourceBytes);

/// Why the Photoshop file that readAt reads must go to no decoder; empty where it may.
std::string psdRefusal(const ReadAt& readAt);

} // namespace kestro::detail
