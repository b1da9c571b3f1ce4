#include "image/detail/ReplaceFile.h"

#include "platform/framework/ReplaceFile.h"

#include <cstdio>

namespace kestro::detail {
namespace {

struct Stream {
    std::FILE* file = nullptr;
    bool failed = false;
};

unsigned DLL_CALLCONV readProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return static_cast<unsigned>(std::fread(buffer, size, count, static_cast<Stream*>(handle)->file));
}

// A short write is remembered: several of FreeImage's writers ignore what this returns.
unsigned DLL_CALLCONV writeProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    auto* s = static_cast<Stream*>(handle);
    const size_t written = std::fwrite(buffer, size, count, s->file);
    if (written != count) s->failed = true;
    return static_cast<unsigned>(written);
}

int DLL_CALLCONV seekProc(fi_handle handle, long offset, int origin) {
    auto* s = static_cast<Stream*>(handle);
    const int result = std::fseek(s->file, offset, origin);
    if (result != 0) s->failed = true;
    return result;
}

long DLL_CALLCONV tellProc(fi_handle handle) {
    return std::ftell(static_cast<Stream*>(handle)->file);
}

} // namespace

bool replaceFileWith(const char* path, const HandleWriter& write) {
    if (!path) return false;
    return kestro::replaceFile(path, [&](std::FILE* file) {
        Stream s{file, false};
        FreeImageIO io{readProc, writeProc, seekProc, tellProc};
        return write(&io, &s) && !s.failed;
    });
}

} // namespace kestro::detail
