#include "platform/framework/ReplaceFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro {
namespace {

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links (dangling ones too) to the name that is finally written, so that the
// rename replaces the file and not the link.
bool resolveLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = readlink(path.c_str(), &target[0], target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return false;
        target.resize(static_cast<size_t>(n));
        path = target[0] == '/' ? target : folderOf(path) + "/" + target;
    }
    errno = ELOOP;
    return false;
}

// The umask without changing it: setting it to read it would race with other threads' files.
mode_t currentUmask() {
    mode_t mask = 022;
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(status);
    }
    return mask;
}

void syncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Removes the temporary on every way out that did not rename it.
struct Temporary {
    std::string name;
    std::FILE* stream = nullptr;
    bool kept = false;
    ~Temporary() {
        if (kept) return;
        const int saved = errno;
        if (stream) std::fclose(stream);
        unlink(name.c_str());
        errno = saved;
    }
};

} // namespace

bool replaceFile(const std::string& path, const StreamWriter& write) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    std::string target(path);
    if (!resolveLinks(target)) return false;

    struct stat old;
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        errno = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // A file without any write permission is one its owner protected, also from root.
    if (exists && ((old.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)) {
        errno = EACCES;
        return false;
    }

    const std::string folder = folderOf(target);
    const size_t slash = target.find_last_of('/');
    Temporary temp;
    temp.name = folder + "/." + (slash == std::string::npos ? target : target.substr(slash + 1)) + ".XXXXXX";
    const int fd = mkostemp(&temp.name[0], O_CLOEXEC);
    if (fd < 0) {
        temp.kept = true; // nothing was created
        return false;
    }
    temp.stream = fdopen(fd, "w+b");
    if (!temp.stream) {
        close(fd);
        return false;
    }
    errno = 0;
    if (!write(temp.stream)) {
        if (!errno) errno = EIO;
        return false;
    }
    if (std::fflush(temp.stream) != 0 || std::ferror(temp.stream)) return false;
    const mode_t mode = exists ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    if (fchmod(fd, mode) != 0) return false;
    if (exists && (old.st_uid != geteuid() || old.st_gid != getegid())) {
        // Only a privileged process can give the file back to its owner; others keep theirs.
        if (fchown(fd, old.st_uid, old.st_gid) != 0) errno = 0;
    }
    if (fsync(fd) != 0) return false;
    std::FILE* stream = temp.stream;
    temp.stream = nullptr;
    if (std::fclose(stream) != 0) return false;
    if (std::rename(temp.name.c_str(), target.c_str()) != 0) return false;
    temp.kept = true;
    syncFolder(folder);
    return true;
}

bool replaceFile(const std::string& path, const void* data, size_t size) {
    return replaceFile(
        path, [&](std::FILE* stream) { return size == 0 || std::fwrite(data, 1, size, stream) == size; });
}

CStreamFile::CStreamFile(std::FILE* stream, const CString& name) {
    m_pStream = stream;
    m_strFileName = name;
}

CStreamFile::~CStreamFile() {
    m_pStream = nullptr;
}

void CStreamFile::Close() {
    Flush();
    m_pStream = nullptr;
}

void CStreamFile::Abort() {
    m_pStream = nullptr;
}

} // namespace kestro
