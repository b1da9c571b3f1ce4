// Stands in for the application framework (MFC) on this platform: its binary archive.
#pragma once

#include "platform/framework/Exceptions.h"
#include "platform/framework/File.h"
#include "platform/wintypes/Geometry.h"
#include "platform/framework/Object.h"
#include "platform/framework/String.h"

#include <unordered_map>
#include <vector>

/// The framework's archive over a CFile, byte-compatible with archives written on Windows:
/// little-endian raw values, counted strings, class and object envelopes.
/// Every failure raises CArchiveException with its cause; reading never trusts a length,
/// count or index from the bytes. Values go straight to and from the file (the archive keeps
/// no buffer of its own), so the file's position is always just after the last value.
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
    /// Reads an object envelope. The object belongs to the caller; when its Serialize raises,
    /// it is deleted and the exception passes on.
    CObject* ReadObject(const CRuntimeClass* pClassRefRequested);
    /// Writes an object envelope and the object's data; a class that is not serialisable
    /// raises CNotSupportedException.
    void WriteObject(const CObject* pOb);
    CRuntimeClass* ReadClass(const CRuntimeClass* pClassRefRequested = nullptr, UINT* pSchema = nullptr,
                             DWORD* pObTag = nullptr);
    void WriteClass(const CRuntimeClass* pClassRef);
    /// How many classes and objects the archive has read so far: a ReadObject that leaves it
    /// unchanged returned a back-reference (or null), not a new object.
    size_t GetLoadedCount() const { return m_loadTable.size(); }
    /// The schema of the object being read, once; then 0xFFFFFFFF.
    UINT GetObjectSchema();
    void SetObjectSchema(UINT nSchema) { m_nObjectSchema = nSchema; }

    // Counts.
    /// A WORD below 0xFFFF, else 0xFFFF then a DWORD; writing a count above 0xFFFFFFFF
    /// raises genericException.
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
    /// Supported: 1252 (Windows Western), 28591 (Latin-1), 65001 (UTF-8, where bytes that are
    /// not valid UTF-8 become U+DC80..U+DCFF as in CString::FromUtf8); any other raises
    /// CInvalidArgException.
    void SetAnsiCodePage(UINT nCodePage);
    UINT GetAnsiCodePage() const { return m_nAnsiCodePage; }

    /// Bytes between the file's position and its end: a length or count read from the archive
    /// is checked against this before anything is allocated for it.
    ULONGLONG BytesLeft() const;
    /// Reads exactly n bytes or raises endOfFile (what a stored block of known length needs).
    void ReadExact(void* lpBuf, size_t n);

    CString m_strFileName;

private:
    // One entry per index of the loading table (index 0 is the null pointer): a class with
    // the schema its objects were stored with, or an object. An object whose reading failed
    // has both pointers null, so that a later reference to it is refused.
    struct LoadEntry {
        const CRuntimeClass* pClass;
        CObject* pObject;
        UINT nSchema;
    };

    void CheckLoading();
    void CheckStoring();
    [[noreturn]] void Fail(int cause) const;
    void WriteTag(DWORD nIndex, bool bClass);
    template <class T> void WriteRaw(T value);
    template <class T> T ReadRaw();

    CFile* m_pFile;
    UINT m_nMode;
    UINT m_nObjectSchema = 0xFFFFFFFF;
    UINT m_nAnsiCodePage = 1252;
    std::vector<LoadEntry> m_loadTable;
    std::unordered_map<const void*, DWORD> m_storeMap; // class or object -> index
    DWORD m_nMapCount = 0;
};

/// Writes a counted-string length prefix (with the wide marker when bUnicode).
KESTRO_API void AfxWriteStringLength(CArchive& ar, ULONGLONG nLength, BOOL bUnicode);
/// Reads a counted-string length prefix; nCharSize becomes 1 (8-bit) or 2 (UTF-16).
KESTRO_API ULONGLONG AfxReadStringLength(CArchive& ar, int& nCharSize);
