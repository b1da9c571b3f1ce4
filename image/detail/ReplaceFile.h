// Saving by name without ever leaving a half-written file where the user's file was.
#pragma once

#include <FreeImage.h>

#include <functional>

namespace kestro::detail {

/// Writes through FreeImage's handle interface into a new file.
using HandleWriter = std::function<bool(FreeImageIO* io, fi_handle handle)>;

/// Writes a temporary file beside the file at path with write, checking every write, the flush,
/// the sync and the close, and renames it over path only when all of them and write itself
/// succeeded; otherwise removes it and leaves path byte for byte as it was. A path that is a
/// symbolic link keeps the link and replaces what it points to. An existing target keeps its
/// permission bits (and its owner where the process may set it); a new one gets 0666 less the
/// process's umask. An existing target that is not a regular file, or that has no write
/// permission, is refused.
bool replaceFileWith(const char* path, const HandleWriter& write);

} // namespace kestro::detail
