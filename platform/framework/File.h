// Stands in for the application framework (MFC) on this platform: files on disk and in memory.
#pragma once

#include "platform/framework/Exceptions.h"
#include "platform/framework/Object.h"
#include "platform/framework/String.h"

#include <cstdio>

/// A file opened by path. The constructor that takes a path raises CFileException when the
/// file cannot be opened; Open reports it by its result instead.
class KESTRO_API CFile : public CObject {
    DECLARE_DYNAMIC(CFile)
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000
    };
    enum SeekPosition : UINT { begin = 0x0, current = 0x1, end = 0x2 };

    CFile();
    CFile(LPCTSTR lpszFileName, UINT nOpenFlags);
    ~CFile() override;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
    /// Reads up to nCount bytes; returns the number read (0 at the end of the file).
    virtual UINT Read(void* lpBuf, UINT nCount);
    /// Writes all nCount bytes or raises CFileException.
    virtual void Write(const void* lpBuf, UINT nCount);
    virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    ULONGLONG SeekToBegin() { return Seek(0, begin); }
    virtual ULONGLONG GetPosition() const;
    virtual ULONGLONG GetLength() const;
    virtual void SetLength(ULONGLONG dwNewLen);
    virtual void Flush();
    virtual void Close();
    virtual void Abort();

    /// The full path of the file as it was opened (made absolute).
    virtual CString GetFilePath() const;
    /// The file name without its folder.
    virtual CString GetFileName() const;

protected:
    std::FILE* m_pStream = nullptr;
    CString m_strFileName;

private:
    // The C library needs a seek or flush between a write and a read on the same stream.
    enum class LastOp { none, read, write };
    void SwitchTo(LastOp op);
    [[noreturn]] void ThrowOsError(int cause, int osError) const;
    LastOp m_lastOp = LastOp::none;
};

/// A file held in memory: growable when it owns its buffer, fixed over a caller's buffer.
/// Writing past the end of a fixed buffer raises CMemoryException. A caller's buffer attached
/// with nGrowBytes > 0 starts empty and is copied into a buffer of our own once it must grow;
/// the caller's buffer is never reallocated or freed.
class KESTRO_API CMemFile : public CFile {
    DECLARE_DYNAMIC(CMemFile)
public:
    explicit CMemFile(UINT nGrowBytes = 1024);
    /// Over a caller's buffer of nBufferSize bytes; nGrowBytes 0 keeps it fixed in size.
    CMemFile(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes = 0);
    ~CMemFile() override;

    void Attach(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes = 0);

    BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;
    UINT Read(void* lpBuf, UINT nCount) override;
    void Write(const void* lpBuf, UINT nCount) override;
    ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
    ULONGLONG GetPosition() const override;
    ULONGLONG GetLength() const override;
    void SetLength(ULONGLONG dwNewLen) override;
    void Flush() override;
    void Close() override;
    void Abort() override;
    CString GetFilePath() const override;

    /// The bytes written so far (valid until the next write).
    const BYTE* GetBuffer() const { return m_lpBuffer; }

private:
    void GrowFile(size_t newLength);
    void FreeBuffer();

    BYTE* m_lpBuffer = nullptr;
    size_t m_nBufferSize = 0;
    size_t m_nFileSize = 0;
    size_t m_nPosition = 0;
    UINT m_nGrowBytes = 1024;
    bool m_bAutoDelete = true;
};
