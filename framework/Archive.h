// Stands in for the application framework (MFC) on this platform: its binary archive.
#pragma once

#include "framework/Exceptions.h"
#include "framework/File.h"
#include "framework/Geometry.h"
#include "framework/Object.h"
#include "framework/String.h"

#include <map>
#include <vector>

/// The framework's archive over a CFile, byte-compatible with archives written on Windows:
/// little-endian raw values, counted strings, class and object envelopes.
/// Every failure raises CArchiveException with its cause; reading never trusts a length,
/// count or index from the bytes.
class KESTRO_API CArchive {
public:
    enum Mode : UINT { store = 0, load = 1, bNoFlushOnDelete = 2, bNoByteSwap = 4 };

    CArchive(CFile* pFile, UINT nMode, int nBufSize = 4096, void* lpBuf = nullptr);
    ~CArchive();
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    BOOL IsLoading() const { return (m_nMode & load) != 0; }
    BOOL IsStoring() const { return (m_nMode & load) == 0; }
    BOOL IsByteSwapping() const { return FALSE; }
    CFile* GetFile() const { return m_pFile; }
    void Flush();
    void Close();
    void Abort();

    /// Copies up to nMax bytes; returns how many it could (never raises at the end of data).
    UINT Read(void* lpBuf, UINT nMax);
    void Write(const void* lpBuf, UINT nMax);

    // Objects.
    CObject* ReadObject(const CRuntimeClass* pClassRefRequested);
    void WriteObject(const CObject* pOb);
    CRuntimeClass* ReadClass(const CRuntimeClass* pClassRefRequested = nullptr, UINT* pSchema = nullptr,
                             DWORD* pObTag = nullptr);
    void WriteClass(const CRuntimeClass* pClassRef);
    /// The schema of the object being read, once; then 0xFFFFFFFF.
    UINT GetObjectSchema();
    void SetObjectSchema(UINT nSchema) { m_nObjectSchema = nSchema; }

    // Counts.
    ULONGLONG ReadCount();
    void WriteCount(ULONGLONG dwCount);

    // Raw values.
    CArchive& operator<<(BYTE by);
    CArchive& operator<<(char ch);
    CArchive& operator<<(signed char ch);
    CArchive& operator<<(bool b);
    CArchive& operator<<(WORD w);
    CArchive& operator<<(short w);
    CArchive& operator<<(int i);      // also LONG, BOOL
    CArchive& operator<<(unsigned u); // also DWORD, UINT, COLORREF
    CArchive& operator<<(LONGLONG dw);
    CArchive& operator<<(ULONGLONG dw);
    CArchive& operator<<(float f);
    CArchive& operator<<(double d);
    CArchive& operator>>(BYTE& by);
    CArchive& operator>>(char& ch);
    CArchive& operator>>(signed char& ch);
    CArchive& operator>>(bool& b);
    CArchive& operator>>(WORD& w);
    CArchive& operator>>(short& w);
    CArchive& operator>>(int& i);
    CArchive& operator>>(unsigned& u);
    CArchive& operator>>(LONGLONG& dw);
    CArchive& operator>>(ULONGLONG& dw);
    CArchive& operator>>(float& f);
    CArchive& operator>>(double& d);

    // Window-system structures.
    CArchive& operator<<(const POINT& p);
    CArchive& operator<<(const SIZE& s);
    CArchive& operator<<(const RECT& r);
    CArchive& operator>>(POINT& p);
    CArchive& operator>>(SIZE& s);
    CArchive& operator>>(RECT& r);

    // Strings (written in the wide form).
    CArchive& operator<<(const CString& s);
    CArchive& operator>>(CString& s);

    // Object pointers.
    CArchive& operator<<(const CObject* pOb);
    CArchive& operator>>(CObject*& pOb);
    CArchive& operator>>(const CObject*& pOb);

    /// Code page through which 8-bit strings are widened when read; 1252 by default.
    /// Supported: 1252 (Windows Western), 28591 (Latin-1), 65001 (UTF-8).
    void SetAnsiCodePage(UINT nCodePage) { m_nAnsiCodePage = nCodePage; }
    UINT GetAnsiCodePage() const { return m_nAnsiCodePage; }

    CString m_strFileName;

private:
    void CheckLoading();
    void CheckStoring();
    void ReadExact(void* lpBuf, size_t n);
    ULONGLONG BytesLeft() const;
    friend KESTRO_API ULONGLONG AfxReadStringLength(CArchive& ar, int& nCharSize);

    CFile* m_pFile;
    UINT m_nMode;
    UINT m_nObjectSchema = 0xFFFFFFFF;
    UINT m_nAnsiCodePage = 1252;
    // Loading: index -> class or object (1-based, shared counter).
    std::vector<const CRuntimeClass*> m_loadClasses;
    std::vector<CObject*> m_loadObjects;
    std::vector<bool> m_loadIsClass;
    // Storing: class or object -> index.
    std::map<const void*, DWORD> m_storeMap;
    DWORD m_nMapCount = 0;
    bool m_bClosed = false;
};

/// Writes a counted-string length prefix (with the wide marker when bUnicode).
KESTRO_API void AfxWriteStringLength(CArchive& ar, ULONGLONG nLength, BOOL bUnicode);
/// Reads a counted-string length prefix; nCharSize becomes 1 (8-bit) or 2 (UTF-16).
KESTRO_API ULONGLONG AfxReadStringLength(CArchive& ar, int& nCharSize);
