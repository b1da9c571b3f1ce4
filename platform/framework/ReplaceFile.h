// Every file the library and its tools write goes through here, so that a failed or interrupted
// save never leaves a half-written file where the user's file was.
#pragma once

#include "platform/framework/File.h"

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace kestro {

/// Writes the new content of path into the stream it is given; false (or an exception) fails the save.
using StreamWriter = std::function<bool(std::FILE* stream)>;

/// Replaces the file at path by what write produces. The content goes to a temporary file of an
/// unpredictable name (mkstemp) in the folder of the file that is finally written, is synced, and
/// is renamed over that file only when write, every write, the flush, the sync and the close
/// succeeded; otherwise the temporary is removed and the old file stays byte for byte as it was.
/// A path that is a symbolic link keeps the link and replaces what it points to. An existing
/// file keeps its permission bits and (where the process may set it) its owner; a new one gets
/// 0666 less the umask. An existing file that is not a regular file, or that the process may
/// not write, is refused. No other file is followed, created or removed. On failure errno says
/// why (EIO when write itself refused). An exception from write is passed on after the cleanup.
KESTRO_API bool replaceFile(const std::string& path, const StreamWriter& write);

/// The same for bytes already in memory.
KESTRO_API bool replaceFile(const std::string& path, const void* data, size_t size);

/// A CFile over a stream that replaceFile owns: CArchive writers store through it.
class KESTRO_API CStreamFile : public CFile {
public:
    CStreamFile(std::FILE* stream, const CString& name);
    ~CStreamFile() override;
    /// Flushes; the stream itself stays open for its owner.
    void Close() override;
    void Abort() override;
};

} // namespace kestro
