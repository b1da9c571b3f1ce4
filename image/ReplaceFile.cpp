#include "image/detail/ReplaceFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro::detail {
namespace {

struct TempFile {
    std::FILE* file = nullptr;
    bool failed = false;
};

unsigned DLL_CALLCONV readProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    auto* t = static_cast<TempFile*>(handle);
    return static_cast<unsigned>(std::fread(buffer, size, count, t->file));
}

// A short write is remembered: several of FreeImage's writers ignore what this returns.
unsigned DLL_CALLCONV writeProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    auto* t = static_cast<TempFile*>(handle);
    const size_t written = std::fwrite(buffer, size, count, t->file);
    if (written != count) t->failed = true;
    return static_cast<unsigned>(written);
}

int DLL_CALLCONV seekProc(fi_handle handle, long offset, int origin) {
    auto* t = static_cast<TempFile*>(handle);
    const int result = std::fseek(t->file, offset, origin);
    if (result != 0) t->failed = true;
    return result;
}

long DLL_CALLCONV tellProc(fi_handle handle) { return std::ftell(static_cast<TempFile*>(handle)->file); }

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links (also dangling ones) to the name that is finally written.
bool resolveLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        const ssize_t n = readlink(path.c_str(), &target[0], target.size());
        if (n <= 0) return false;
        target.resize(static_cast<size_t>(n));
        path = target[0] == '/' ? target : folderOf(path) + "/" + target;
    }
    return false;
}

// The umask without changing it (umask() cannot be read without setting it, which races).
mode_t currentUmask() {
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            unsigned mask = 0;
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                std::fclose(status);
                return static_cast<mode_t>(mask);
            }
        }
        std::fclose(status);
    }
    return 022;
}

void syncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

} // namespace

bool replaceFileWith(const char* path, const HandleWriter& write) {
    if (!path || !*path) return false;
    std::string target(path);
    if (!resolveLinks(target)) return false;

    struct stat old;
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || (old.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0))
        return false;

    const std::string folder = folderOf(target);
    const size_t slash = target.find_last_of('/');
    std::string temp = folder + "/." + (slash == std::string::npos ? target : target.substr(slash + 1)) + ".XXXXXX";
    const int fd = mkstemp(&temp[0]);
    if (fd < 0) return false;

    TempFile t;
    t.file = fdopen(fd, "w+b");
    if (!t.file) {
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    FreeImageIO io{readProc, writeProc, seekProc, tellProc};
    bool ok = write(&io, &t) && !t.failed;
    ok = std::fflush(t.file) == 0 && ok;
    ok = ok && fsync(fd) == 0;
    if (exists) {
        ok = ok && fchmod(fd, old.st_mode & 07777) == 0;
        if (ok && (old.st_uid != geteuid() || old.st_gid != getegid()) && fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Only a privileged process can give the file back to its owner; others keep theirs.
        }
    } else {
        ok = ok && fchmod(fd, 0666 & ~currentUmask()) == 0;
    }
    ok = std::fclose(t.file) == 0 && ok;
    if (ok && std::rename(temp.c_str(), target.c_str()) == 0) {
        syncFolder(folder);
        return true;
    }
    unlink(temp.c_str());
    return false;
}

} // namespace kestro::detail
