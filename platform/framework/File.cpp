// Stands in for the application framework (MFC) on this platform: files on disk and in memory.
#include "platform/framework/File.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

IMPLEMENT_DYNAMIC(CFile, CObject)
IMPLEMENT_DYNAMIC(CMemFile, CFile)

namespace {

int causeFromErrno(int err) {
    switch (err) {
    case ENOENT:
        return CFileException::fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return CFileException::badPath;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return CFileException::accessDenied;
    case EMFILE:
    case ENFILE:
        return CFileException::tooManyOpenFiles;
    case ENOSPC:
    case EDQUOT:
        return CFileException::diskFull;
    case EIO:
        return CFileException::hardIO;
    case ETXTBSY:
    case EBUSY:
        return CFileException::sharingViolation;
    default:
        return CFileException::genericException;
    }
}

// The working folder as the process sees it; empty when it cannot be told.
CString currentFolder() {
    std::vector<char> buf(256);
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) return CString::FromUtf8(buf.data(), std::strlen(buf.data()));
        if (errno != ERANGE || buf.size() > (1u << 20)) return CString();
        buf.resize(buf.size() * 2);
    }
}

// An absolute path without "." and ".." steps or doubled separators. Symbolic links are left
// as they are, as the framework's full-path lookup does on Windows.
CString fullPath(const CString& name) {
    CString path = name;
    if (path.IsEmpty() || path[0] != L'/') path = currentFolder() + L"/" + path;
    std::vector<std::wstring> parts;
    const std::wstring& s = path.str();
    size_t i = 0;
    while (i <= s.size()) {
        size_t j = s.find(L'/', i);
        if (j == std::wstring::npos) j = s.size();
        std::wstring part = s.substr(i, j - i);
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    std::wstring out;
    for (const auto& p : parts)
        out += L"/" + p;
    return CString(out.empty() ? std::wstring(L"/") : out);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CFile

CFile::CFile() = default;

CFile::CFile(LPCTSTR lpszFileName, UINT nOpenFlags) {
    CFileException error;
    if (!Open(lpszFileName, nOpenFlags, &error)) throw error;
}

CFile::~CFile() {
    if (m_pStream) Abort();
}

BOOL CFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    if (m_pStream) Abort();
    CString name(lpszFileName ? lpszFileName : L"");
    auto fail = [&](int cause, int osError) {
        if (pError) {
            pError->m_cause = cause;
            pError->m_lOsError = osError;
            pError->m_strFileName = name;
        }
        return FALSE;
    };
    if (name.IsEmpty()) return fail(CFileException::badPath, ENOENT);

    int flags = O_CLOEXEC;
    const char* mode = "rb";
    switch (nOpenFlags & 3) {
    case modeWrite:
        flags |= O_WRONLY;
        mode = "wb";
        break;
    case modeReadWrite:
        flags |= O_RDWR;
        mode = "r+b";
        break;
    default:
        flags |= O_RDONLY;
        break;
    }
    if (nOpenFlags & modeCreate) {
        flags |= O_CREAT;
        if (!(nOpenFlags & modeNoTruncate)) flags |= O_TRUNC;
    }

    std::string path = name.ToUtf8();
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return fail(causeFromErrno(errno), errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return fail(causeFromErrno(err), err);
    }
    // fdopen never truncates: O_TRUNC above already decided that.
    std::FILE* stream = ::fdopen(fd, mode);
    if (!stream) {
        int err = errno;
        ::close(fd);
        return fail(causeFromErrno(err), err);
    }
    m_pStream = stream;
    m_lastOp = LastOp::none;
    m_strFileName = fullPath(name);
    return TRUE;
}

void CFile::ThrowOsError(int cause, int osError) const {
    AfxThrowFileException(cause, osError, m_strFileName);
}

void CFile::SwitchTo(LastOp op) {
    if (!m_pStream) ThrowOsError(CFileException::invalidFile, EBADF);
    if (m_lastOp != LastOp::none && m_lastOp != op) {
        if (std::fseek(m_pStream, 0, SEEK_CUR) != 0) ThrowOsError(CFileException::badSeek, errno);
    }
    m_lastOp = op;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    SwitchTo(LastOp::read);
    if (nCount == 0) return 0;
    size_t n = std::fread(lpBuf, 1, nCount, m_pStream);
    if (n < nCount && std::ferror(m_pStream)) {
        int err = errno;
        std::clearerr(m_pStream);
        ThrowOsError(CFileException::hardIO, err);
    }
    std::clearerr(m_pStream); // a later read after the file grew must not stick at EOF
    return static_cast<UINT>(n);
}

void CFile::Write(const void* lpBuf, UINT nCount) {
    SwitchTo(LastOp::write);
    if (nCount == 0) return;
    if (std::fwrite(lpBuf, 1, nCount, m_pStream) != nCount) {
        int err = errno;
        std::clearerr(m_pStream);
        ThrowOsError(err == ENOSPC ? CFileException::diskFull : CFileException::hardIO, err);
    }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
    if (!m_pStream) ThrowOsError(CFileException::invalidFile, EBADF);
    int whence = nFrom == current ? SEEK_CUR : nFrom == end ? SEEK_END : SEEK_SET;
    if (nFrom != begin && nFrom != current && nFrom != end) ThrowOsError(CFileException::badSeek, EINVAL);
    if (fseeko(m_pStream, static_cast<off_t>(lOff), whence) != 0)
        ThrowOsError(CFileException::badSeek, errno);
    m_lastOp = LastOp::none;
    return GetPosition();
}

ULONGLONG CFile::GetPosition() const {
    if (!m_pStream) ThrowOsError(CFileException::invalidFile, EBADF);
    off_t pos = ftello(m_pStream);
    if (pos < 0) ThrowOsError(CFileException::badSeek, errno);
    return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetLength() const {
    if (!m_pStream) ThrowOsError(CFileException::invalidFile, EBADF);
    // Buffered writes count towards the length; fstat alone sees only what reached the system.
    if (m_lastOp == LastOp::write && std::fflush(m_pStream) != 0) ThrowOsError(CFileException::hardIO, errno);
    struct stat st;
    if (::fstat(fileno(m_pStream), &st) != 0) ThrowOsError(CFileException::hardIO, errno);
    return static_cast<ULONGLONG>(st.st_size);
}

void CFile::SetLength(ULONGLONG dwNewLen) {
    if (!m_pStream) ThrowOsError(CFileException::invalidFile, EBADF);
    if (dwNewLen > static_cast<ULONGLONG>(LLONG_MAX)) ThrowOsError(CFileException::badSeek, EINVAL);
    if (std::fflush(m_pStream) != 0) ThrowOsError(CFileException::hardIO, errno);
    if (::ftruncate(fileno(m_pStream), static_cast<off_t>(dwNewLen)) != 0)
        ThrowOsError(causeFromErrno(errno), errno);
    m_lastOp = LastOp::none;
}

void CFile::Flush() {
    if (m_pStream && std::fflush(m_pStream) != 0) ThrowOsError(CFileException::hardIO, errno);
}

void CFile::Close() {
    if (!m_pStream) return;
    std::FILE* stream = m_pStream;
    m_pStream = nullptr;
    m_lastOp = LastOp::none;
    if (std::fclose(stream) != 0) ThrowOsError(causeFromErrno(errno), errno);
}

void CFile::Abort() {
    if (!m_pStream) return;
    std::fclose(m_pStream);
    m_pStream = nullptr;
    m_lastOp = LastOp::none;
}

CString CFile::GetFilePath() const {
    return m_strFileName;
}

CString CFile::GetFileName() const {
    CString path = GetFilePath();
    int slash = path.ReverseFind(L'/');
    return slash < 0 ? path : path.Mid(slash + 1);
}

// ---------------------------------------------------------------------------------------------
// CMemFile

CMemFile::CMemFile(UINT nGrowBytes) : m_nGrowBytes(nGrowBytes ? nGrowBytes : 1024) {}

CMemFile::CMemFile(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes) {
    Attach(lpBuffer, nBufferSize, nGrowBytes);
}

CMemFile::~CMemFile() {
    FreeBuffer();
}

void CMemFile::FreeBuffer() {
    if (m_bAutoDelete) std::free(m_lpBuffer);
    m_lpBuffer = nullptr;
    m_nBufferSize = m_nFileSize = m_nPosition = 0;
    m_bAutoDelete = true;
}

void CMemFile::Attach(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes) {
    FreeBuffer();
    m_lpBuffer = lpBuffer;
    m_nBufferSize = lpBuffer ? nBufferSize : 0;
    m_nGrowBytes = nGrowBytes;
    // A fixed buffer holds its data; a growable one is only room to write into.
    m_nFileSize = nGrowBytes == 0 ? m_nBufferSize : 0;
    m_bAutoDelete = false;
}

BOOL CMemFile::Open(LPCTSTR, UINT, CFileException* pError) {
    // A file in memory has no path to open.
    if (pError) pError->m_cause = CFileException::genericException;
    return FALSE;
}

void CMemFile::GrowFile(size_t newLength) {
    if (newLength <= m_nBufferSize) return;
    if (m_nGrowBytes == 0) AfxThrowMemoryException();
    // Doubling keeps a run of small writes amortised O(1); rounding to the grow step keeps
    // the framework's granularity for small files.
    size_t target = std::max(newLength, m_nBufferSize + m_nBufferSize / 2);
    size_t step = m_nGrowBytes;
    if (target > SIZE_MAX - step) AfxThrowMemoryException();
    target = (target + step - 1) / step * step;
    BYTE* grown;
    if (m_bAutoDelete) {
        grown = static_cast<BYTE*>(std::realloc(m_lpBuffer, target));
        if (!grown) AfxThrowMemoryException();
    } else {
        grown = static_cast<BYTE*>(std::malloc(target));
        if (!grown) AfxThrowMemoryException();
        if (m_nFileSize) std::memcpy(grown, m_lpBuffer, m_nFileSize);
        m_bAutoDelete = true;
    }
    m_lpBuffer = grown;
    m_nBufferSize = target;
}

UINT CMemFile::Read(void* lpBuf, UINT nCount) {
    if (m_nPosition >= m_nFileSize || nCount == 0) return 0;
    size_t n = std::min<size_t>(nCount, m_nFileSize - m_nPosition);
    std::memcpy(lpBuf, m_lpBuffer + m_nPosition, n);
    m_nPosition += n;
    return static_cast<UINT>(n);
}

void CMemFile::Write(const void* lpBuf, UINT nCount) {
    if (nCount == 0) return;
    if (m_nPosition > SIZE_MAX - nCount) AfxThrowMemoryException();
    size_t end = m_nPosition + nCount;
    GrowFile(end);
    // A write after a seek past the end fills the gap with zeros.
    if (m_nPosition > m_nFileSize) std::memset(m_lpBuffer + m_nFileSize, 0, m_nPosition - m_nFileSize);
    std::memcpy(m_lpBuffer + m_nPosition, lpBuf, nCount);
    m_nPosition = end;
    if (end > m_nFileSize) m_nFileSize = end;
}

ULONGLONG CMemFile::Seek(LONGLONG lOff, UINT nFrom) {
    LONGLONG base = nFrom == begin     ? 0
                    : nFrom == current ? static_cast<LONGLONG>(m_nPosition)
                    : nFrom == end     ? static_cast<LONGLONG>(m_nFileSize)
                                       : -1;
    if (base < 0) AfxThrowFileException(CFileException::badSeek, EINVAL, m_strFileName);
    if ((lOff < 0 && base + lOff < 0) || (lOff > 0 && base > LLONG_MAX - lOff))
        AfxThrowFileException(CFileException::badSeek, EINVAL, m_strFileName);
    m_nPosition = static_cast<size_t>(base + lOff);
    return m_nPosition;
}

ULONGLONG CMemFile::GetPosition() const {
    return m_nPosition;
}
ULONGLONG CMemFile::GetLength() const {
    return m_nFileSize;
}

void CMemFile::SetLength(ULONGLONG dwNewLen) {
    if (dwNewLen > SIZE_MAX) AfxThrowMemoryException();
    size_t len = static_cast<size_t>(dwNewLen);
    GrowFile(len);
    if (len > m_nFileSize) std::memset(m_lpBuffer + m_nFileSize, 0, len - m_nFileSize);
    m_nFileSize = len;
    if (m_nPosition > len) m_nPosition = len;
}

void CMemFile::Flush() {}
void CMemFile::Close() {
    FreeBuffer();
    if (m_nGrowBytes == 0) m_nGrowBytes = 1024;
}
void CMemFile::Abort() {
    Close();
}
CString CMemFile::GetFilePath() const {
    return m_strFileName;
}
