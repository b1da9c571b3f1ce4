// Stands in for the application framework (MFC) on this platform: its exception classes.
#pragma once

#include "platform/framework/Object.h"
#include "platform/framework/String.h"

#include <new>
#include <stdexcept>

/// Base of the framework's exceptions. Thrown and caught by value (catch (CException& e)).
class KESTRO_API CException : public CObject {
    DECLARE_DYNAMIC(CException)
public:
    CException() = default;
    ~CException() override;
    /// A short text saying what went wrong.
    virtual CString GetErrorMessage() const;
};

/// Raised by archives when their bytes are malformed or used the wrong way.
class KESTRO_API CArchiveException : public CException {
    DECLARE_DYNAMIC(CArchiveException)
public:
    enum {
        none = 0,
        genericException = 1,
        readOnly = 2,
        endOfFile = 3,
        writeOnly = 4,
        badIndex = 5,
        badClass = 6,
        badSchema = 7
    };
    explicit CArchiveException(int cause = none, LPCTSTR lpszArchiveName = nullptr);
    CString GetErrorMessage() const override;

    int m_cause;
    CString m_strFileName;
};

/// Raised when a file cannot be opened, read or written.
class KESTRO_API CFileException : public CException {
    DECLARE_DYNAMIC(CFileException)
public:
    enum {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14
    };
    explicit CFileException(int cause = none, LONG lOsError = -1, LPCTSTR lpszFileName = nullptr);
    CString GetErrorMessage() const override;

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

/// Raised for an argument out of its range, such as an array index outside 0..size-1.
class KESTRO_API CInvalidArgException : public CException {
    DECLARE_DYNAMIC(CInvalidArgException)
public:
    CString GetErrorMessage() const override;
};

/// Raised when memory is exhausted (the library turns std::bad_alloc into this).
class KESTRO_API CMemoryException : public CException {
    DECLARE_DYNAMIC(CMemoryException)
public:
    CString GetErrorMessage() const override;
};

/// Raised for an operation the object does not support.
class KESTRO_API CNotSupportedException : public CException {
    DECLARE_DYNAMIC(CNotSupportedException)
public:
    CString GetErrorMessage() const override;
};

[[noreturn]] KESTRO_API void AfxThrowArchiveException(int cause, LPCTSTR lpszArchiveName = nullptr);
[[noreturn]] KESTRO_API void AfxThrowFileException(int cause, LONG lOsError = -1,
                                                   LPCTSTR lpszFileName = nullptr);
[[noreturn]] KESTRO_API void AfxThrowInvalidArgException();
[[noreturn]] KESTRO_API void AfxThrowMemoryException();
[[noreturn]] KESTRO_API void AfxThrowNotSupportedException();

/// Runs f and turns the standard library's allocation failures (std::bad_alloc, and
/// std::length_error for sizes beyond what a container can hold) into CMemoryException;
/// returns what f returns.
template <class F> auto AfxGuardAllocation(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        AfxThrowMemoryException();
    } catch (const std::length_error&) {
        AfxThrowMemoryException();
    }
}
