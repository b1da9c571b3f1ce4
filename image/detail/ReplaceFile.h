// Saving by name through FreeImage's handle interface, on the library's one output routine.
#pragma once

#include <FreeImage.h>

#include <functional>

namespace kestro::detail {

/// Writes through FreeImage's handle interface into a new file.
using HandleWriter = std::function<bool(FreeImageIO* io, fi_handle handle)>;

/// kestro::replaceFile with a FreeImage writer; a short write or a failed seek fails the save
/// even where the writer ignores it.
bool replaceFileWith(const char* path, const HandleWriter& write);

} // namespace kestro::detail
