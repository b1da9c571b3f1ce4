// Stands in for the application framework (MFC) on this platform: its binary archive.
#include "platform/framework/Archive.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>

namespace {

const WORD kNullTag = 0x0000;
const WORD kBigTag = 0x7FFF;   // a DWORD index follows
const WORD kClassTag = 0x8000; // bit of a class back-reference
const WORD kNewClassTag = 0xFFFF;
const DWORD kBigClassTag = 0x80000000;
const size_t kMaxClassNameLength = 64; // names of this length or longer are refused

// Windows-1252 where it differs from Latin-1. The five codes the page leaves undefined map to
// the C1 control of the same value, as Windows' own conversion does.
const wchar_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

CString widenAnsi(const std::vector<BYTE>& bytes, UINT codePage) {
    if (codePage == 65001)
        return CString::FromUtf8(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::wstring out(bytes.size(), L'\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        BYTE b = bytes[i];
        out[i] =
            (codePage == 1252 && b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<wchar_t>(b);
    }
    return CString(std::move(out));
}

// Code points above 0xFFFF become surrogate pairs; everything else, unpaired surrogates
// included, is one code unit. Values beyond Unicode cannot be stored and become U+FFFD.
std::vector<WORD> toUtf16(const std::wstring& s) {
    std::vector<WORD> units;
    units.reserve(s.size());
    for (wchar_t wc : s) {
        auto c = static_cast<std::make_unsigned_t<wchar_t>>(wc);
        if (c < 0x10000) {
            units.push_back(static_cast<WORD>(c));
        } else if (c < 0x110000) {
            c -= 0x10000;
            units.push_back(static_cast<WORD>(0xD800 + (c >> 10)));
            units.push_back(static_cast<WORD>(0xDC00 + (c & 0x3FF)));
        } else {
            units.push_back(0xFFFD);
        }
    }
    return units;
}

// A high surrogate followed by a low one is one code point; any other unit stays as it is, so
// that every sequence of code units comes back unchanged when written again.
CString fromUtf16(const std::vector<BYTE>& bytes) {
    size_t n = bytes.size() / 2;
    std::wstring out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        unsigned u = bytes[2 * i] | (bytes[2 * i + 1] << 8);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n) {
            unsigned v = bytes[2 * i + 2] | (bytes[2 * i + 3] << 8);
            if (v >= 0xDC00 && v < 0xE000) {
                out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00)));
                ++i;
                continue;
            }
        }
        out.push_back(static_cast<wchar_t>(u));
    }
    return CString(std::move(out));
}

} // namespace

CArchive::CArchive(CFile* pFile, UINT nMode, int, void*) : m_pFile(pFile), m_nMode(nMode) {
    if (!pFile) AfxThrowInvalidArgException();
    m_strFileName = pFile->GetFilePath();
    m_loadTable.push_back({nullptr, nullptr, 0}); // index 0: the null pointer
}

CArchive::~CArchive() {
    if (!m_pFile) return;
    if (IsStoring() && !(m_nMode & bNoFlushOnDelete)) {
        try {
            m_pFile->Flush();
        } catch (...) {
            // A destructor cannot report; Close is the way to see a failing flush.
        }
    }
    m_pFile = nullptr;
}

void CArchive::Fail(int cause) const {
    AfxThrowArchiveException(cause, m_strFileName);
}

void CArchive::CheckLoading() {
    if (!m_pFile) Fail(CArchiveException::genericException);
    if (!IsLoading()) Fail(CArchiveException::writeOnly);
}

void CArchive::CheckStoring() {
    if (!m_pFile) Fail(CArchiveException::genericException);
    if (!IsStoring()) Fail(CArchiveException::readOnly);
}

void CArchive::Flush() {
    if (m_pFile && IsStoring()) m_pFile->Flush();
}

void CArchive::Close() {
    if (!m_pFile) return;
    Flush();
    m_pFile = nullptr;
}

void CArchive::Abort() {
    m_pFile = nullptr;
}

void CArchive::SetAnsiCodePage(UINT nCodePage) {
    if (nCodePage != 1252 && nCodePage != 28591 && nCodePage != 65001) AfxThrowInvalidArgException();
    m_nAnsiCodePage = nCodePage;
}

// ---------------------------------------------------------------------------------------------
// Raw bytes and values

UINT CArchive::Read(void* lpBuf, UINT nMax) {
    CheckLoading();
    if (nMax == 0) return 0;
    return m_pFile->Read(lpBuf, nMax);
}

void CArchive::Write(const void* lpBuf, UINT nMax) {
    CheckStoring();
    if (nMax) m_pFile->Write(lpBuf, nMax);
}

ULONGLONG CArchive::BytesLeft() const {
    if (!m_pFile) return 0;
    ULONGLONG length = m_pFile->GetLength(), position = m_pFile->GetPosition();
    return position < length ? length - position : 0;
}

void CArchive::ReadExact(void* lpBuf, size_t n) {
    CheckLoading();
    auto* p = static_cast<BYTE*>(lpBuf);
    while (n > 0) {
        UINT chunk = static_cast<UINT>(std::min<size_t>(n, 0x40000000));
        UINT got = m_pFile->Read(p, chunk);
        if (got < chunk) Fail(CArchiveException::endOfFile);
        p += got;
        n -= got;
    }
}

// Values travel little-endian whatever the host's order.
template <class T> void CArchive::WriteRaw(T value) {
    using U = std::conditional_t<
        sizeof(T) == 1, std::uint8_t,
        std::conditional_t<sizeof(T) == 2, std::uint16_t,
                           std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
    static_assert(sizeof(U) == sizeof(T), "raw values are 1, 2, 4 or 8 bytes");
    U bits;
    std::memcpy(&bits, &value, sizeof bits);
    BYTE bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<BYTE>(bits >> (8 * i));
    Write(bytes, sizeof bytes);
}

template <class T> T CArchive::ReadRaw() {
    using U = std::conditional_t<
        sizeof(T) == 1, std::uint8_t,
        std::conditional_t<sizeof(T) == 2, std::uint16_t,
                           std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
    BYTE bytes[sizeof(T)];
    ReadExact(bytes, sizeof bytes);
    U bits = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        bits |= static_cast<U>(static_cast<U>(bytes[i]) << (8 * i));
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

CArchive& CArchive::operator<<(BYTE by) {
    return WriteRaw(by), *this;
}
CArchive& CArchive::operator<<(char ch) {
    return WriteRaw(ch), *this;
}
CArchive& CArchive::operator<<(signed char ch) {
    return WriteRaw(ch), *this;
}
CArchive& CArchive::operator<<(bool b) {
    return WriteRaw(static_cast<BYTE>(b ? 1 : 0)), *this;
}
CArchive& CArchive::operator<<(WORD w) {
    return WriteRaw(w), *this;
}
CArchive& CArchive::operator<<(short w) {
    return WriteRaw(w), *this;
}
CArchive& CArchive::operator<<(int i) {
    return WriteRaw(i), *this;
}
CArchive& CArchive::operator<<(unsigned u) {
    return WriteRaw(u), *this;
}
CArchive& CArchive::operator<<(LONGLONG dw) {
    return WriteRaw(dw), *this;
}
CArchive& CArchive::operator<<(ULONGLONG dw) {
    return WriteRaw(dw), *this;
}
CArchive& CArchive::operator<<(float f) {
    return WriteRaw(f), *this;
}
CArchive& CArchive::operator<<(double d) {
    return WriteRaw(d), *this;
}

CArchive& CArchive::operator>>(BYTE& by) {
    return by = ReadRaw<BYTE>(), *this;
}
CArchive& CArchive::operator>>(char& ch) {
    return ch = ReadRaw<char>(), *this;
}
CArchive& CArchive::operator>>(signed char& ch) {
    return ch = ReadRaw<signed char>(), *this;
}
CArchive& CArchive::operator>>(bool& b) {
    return b = ReadRaw<BYTE>() != 0, *this;
}
CArchive& CArchive::operator>>(WORD& w) {
    return w = ReadRaw<WORD>(), *this;
}
CArchive& CArchive::operator>>(short& w) {
    return w = ReadRaw<short>(), *this;
}
CArchive& CArchive::operator>>(int& i) {
    return i = ReadRaw<int>(), *this;
}
CArchive& CArchive::operator>>(unsigned& u) {
    return u = ReadRaw<unsigned>(), *this;
}
CArchive& CArchive::operator>>(LONGLONG& dw) {
    return dw = ReadRaw<LONGLONG>(), *this;
}
CArchive& CArchive::operator>>(ULONGLONG& dw) {
    return dw = ReadRaw<ULONGLONG>(), *this;
}
CArchive& CArchive::operator>>(float& f) {
    return f = ReadRaw<float>(), *this;
}
CArchive& CArchive::operator>>(double& d) {
    return d = ReadRaw<double>(), *this;
}

CArchive& CArchive::operator<<(const POINT& p) {
    return *this << p.x << p.y;
}
CArchive& CArchive::operator<<(const SIZE& s) {
    return *this << s.cx << s.cy;
}
CArchive& CArchive::operator<<(const RECT& r) {
    return *this << r.left << r.top << r.right << r.bottom;
}
CArchive& CArchive::operator>>(POINT& p) {
    return *this >> p.x >> p.y;
}
CArchive& CArchive::operator>>(SIZE& s) {
    return *this >> s.cx >> s.cy;
}
CArchive& CArchive::operator>>(RECT& r) {
    return *this >> r.left >> r.top >> r.right >> r.bottom;
}

// ---------------------------------------------------------------------------------------------
// Counts and counted strings

ULONGLONG CArchive::ReadCount() {
    WORD w = ReadRaw<WORD>();
    if (w != 0xFFFF) return w;
    return ReadRaw<DWORD>();
}

void CArchive::WriteCount(ULONGLONG dwCount) {
    CheckStoring();
    if (dwCount < 0xFFFF) {
        *this << static_cast<WORD>(dwCount);
    } else {
        if (dwCount > 0xFFFFFFFFull) Fail(CArchiveException::genericException);
        *this << static_cast<WORD>(0xFFFF) << static_cast<DWORD>(dwCount);
    }
}

void AfxWriteStringLength(CArchive& ar, ULONGLONG nLength, BOOL bUnicode) {
    if (bUnicode) ar << static_cast<BYTE>(0xFF) << static_cast<WORD>(0xFFFE);
    if (nLength < 0xFF) {
        ar << static_cast<BYTE>(nLength);
        return;
    }
    ar << static_cast<BYTE>(0xFF);
    if (nLength < 0xFFFE) {
        ar << static_cast<WORD>(nLength);
        return;
    }
    ar << static_cast<WORD>(0xFFFF);
    if (nLength < 0xFFFFFFFFull) {
        ar << static_cast<DWORD>(nLength);
        return;
    }
    ar << static_cast<DWORD>(0xFFFFFFFF) << nLength;
}

ULONGLONG AfxReadStringLength(CArchive& ar, int& nCharSize) {
    nCharSize = 1;
    BYTE b;
    ar >> b;
    if (b < 0xFF) return b;
    WORD w;
    ar >> w;
    if (w == 0xFFFE) {
        // The wide marker; it does not nest, so after it 0xFFFE is an ordinary length.
        nCharSize = 2;
        ar >> b;
        if (b < 0xFF) return b;
        ar >> w;
    }
    if (w < 0xFFFF) return w;
    DWORD dw;
    ar >> dw;
    if (dw < 0xFFFFFFFF) return dw;
    ULONGLONG qw;
    ar >> qw;
    return qw;
}

CArchive& CArchive::operator<<(const CString& s) {
    CheckStoring();
    std::vector<WORD> units;
    AfxGuardAllocation([&] { units = toUtf16(s.str()); });
    AfxWriteStringLength(*this, units.size(), TRUE);
    std::vector<BYTE> bytes;
    AfxGuardAllocation([&] { bytes.resize(units.size() * 2); });
    for (size_t i = 0; i < units.size(); ++i) {
        bytes[2 * i] = static_cast<BYTE>(units[i]);
        bytes[2 * i + 1] = static_cast<BYTE>(units[i] >> 8);
    }
    const BYTE* p = bytes.data();
    for (size_t left = bytes.size(); left > 0;) {
        UINT chunk = static_cast<UINT>(std::min<size_t>(left, 0x40000000));
        Write(p, chunk);
        p += chunk;
        left -= chunk;
    }
    return *this;
}

CArchive& CArchive::operator>>(CString& s) {
    CheckLoading();
    int nCharSize = 1;
    ULONGLONG nLength = AfxReadStringLength(*this, nCharSize);
    // The length comes from the bytes: check it against what is there before allocating.
    if (nLength > BytesLeft() / static_cast<ULONGLONG>(nCharSize)) Fail(CArchiveException::endOfFile);
    std::vector<BYTE> bytes;
    AfxGuardAllocation([&] { bytes.resize(static_cast<size_t>(nLength) * static_cast<size_t>(nCharSize)); });
    ReadExact(bytes.data(), bytes.size());
    AfxGuardAllocation([&] { s = nCharSize == 2 ? fromUtf16(bytes) : widenAnsi(bytes, m_nAnsiCodePage); });
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Classes and objects

UINT CArchive::GetObjectSchema() {
    UINT nSchema = m_nObjectSchema;
    m_nObjectSchema = 0xFFFFFFFF;
    return nSchema;
}

void CArchive::WriteTag(DWORD nIndex, bool bClass) {
    if (nIndex < kBigTag)
        *this << static_cast<WORD>(bClass ? (kClassTag | nIndex) : nIndex);
    else
        *this << kBigTag << static_cast<DWORD>(bClass ? (kBigClassTag | nIndex) : nIndex);
}

void CArchive::WriteClass(const CRuntimeClass* pClassRef) {
    CheckStoring();
    if (!pClassRef) AfxThrowInvalidArgException();
    if (pClassRef->m_wSchema == 0xFFFF) AfxThrowNotSupportedException();
    auto it = m_storeMap.find(pClassRef);
    if (it != m_storeMap.end()) {
        WriteTag(it->second, true);
        return;
    }
    if (m_nMapCount >= 0x7FFFFFFE) Fail(CArchiveException::genericException);
    size_t nameLength = std::strlen(pClassRef->m_lpszClassName);
    if (nameLength >= kMaxClassNameLength) Fail(CArchiveException::badClass);
    *this << kNewClassTag << static_cast<WORD>(pClassRef->m_wSchema) << static_cast<WORD>(nameLength);
    Write(pClassRef->m_lpszClassName, static_cast<UINT>(nameLength));
    AfxGuardAllocation([&] { m_storeMap.emplace(pClassRef, ++m_nMapCount); });
}

void CArchive::WriteObject(const CObject* pOb) {
    CheckStoring();
    if (!pOb) {
        *this << kNullTag;
        return;
    }
    auto it = m_storeMap.find(pOb);
    if (it != m_storeMap.end()) {
        WriteTag(it->second, false);
        return;
    }
    WriteClass(pOb->GetRuntimeClass());
    if (m_nMapCount >= 0x7FFFFFFE) Fail(CArchiveException::genericException);
    // The object takes its index before its data, so that a pointer back to it from inside
    // its own data is written as a reference.
    AfxGuardAllocation([&] { m_storeMap.emplace(pOb, ++m_nMapCount); });
    const_cast<CObject*>(pOb)->Serialize(*this);
}

CRuntimeClass* CArchive::ReadClass(const CRuntimeClass* pClassRefRequested, UINT* pSchema, DWORD* pObTag) {
    CheckLoading();
    WORD wTag = ReadRaw<WORD>();
    DWORD nIndex;
    bool bClass;
    if (wTag == kBigTag) {
        DWORD dw = ReadRaw<DWORD>();
        bClass = (dw & kBigClassTag) != 0;
        nIndex = dw & ~kBigClassTag;
    } else {
        bClass = (wTag & kClassTag) != 0;
        nIndex = wTag & ~kClassTag;
    }

    const CRuntimeClass* pClass = nullptr;
    UINT nSchema = 0;
    if (wTag == kNewClassTag) {
        WORD wSchema = ReadRaw<WORD>();
        WORD nLength = ReadRaw<WORD>();
        if (nLength >= kMaxClassNameLength) Fail(CArchiveException::badClass);
        char name[kMaxClassNameLength];
        if (Read(name, nLength) != nLength) Fail(CArchiveException::badClass);
        if (std::memchr(name, 0, nLength)) Fail(CArchiveException::badClass);
        std::string className(name, nLength);
        pClass = CRuntimeClass::FromName(className.c_str());
        if (!pClass || pClass->m_wSchema == 0xFFFF) Fail(CArchiveException::badClass);
        nSchema = wSchema;
        if (!(pClass->m_wSchema & VERSIONABLE_SCHEMA) && pClass->m_wSchema != nSchema)
            Fail(CArchiveException::badSchema);
        AfxGuardAllocation([&] { m_loadTable.push_back({pClass, nullptr, nSchema}); });
    } else if (bClass) {
        if (nIndex == 0 || nIndex >= m_loadTable.size() || !m_loadTable[nIndex].pClass)
            Fail(CArchiveException::badIndex);
        pClass = m_loadTable[nIndex].pClass;
        nSchema = m_loadTable[nIndex].nSchema;
    } else {
        // A reference to an object (or null) where a class may stand: the caller decides.
        if (pObTag) {
            *pObTag = nIndex;
            return nullptr;
        }
        if (nIndex == 0) return nullptr;
        Fail(CArchiveException::badIndex);
    }

    if (pClassRefRequested && !pClass->IsDerivedFrom(pClassRefRequested)) Fail(CArchiveException::badClass);
    if (pSchema) *pSchema = nSchema;
    return const_cast<CRuntimeClass*>(pClass);
}

CObject* CArchive::ReadObject(const CRuntimeClass* pClassRefRequested) {
    CheckLoading();
    UINT nSchema = 0;
    DWORD nObTag = 0;
    CRuntimeClass* pClass = ReadClass(pClassRefRequested, &nSchema, &nObTag);

    if (!pClass) {
        if (nObTag == 0) return nullptr;
        if (nObTag >= m_loadTable.size() || !m_loadTable[nObTag].pObject) Fail(CArchiveException::badIndex);
        CObject* pOb = m_loadTable[nObTag].pObject;
        if (pClassRefRequested && !pOb->IsKindOf(pClassRefRequested)) Fail(CArchiveException::badClass);
        return pOb;
    }

    if (!pClass->m_pfnCreateObject) Fail(CArchiveException::badClass);
    CObject* pOb = nullptr;
    AfxGuardAllocation([&] { pOb = pClass->CreateObject(); });
    if (!pOb) AfxThrowMemoryException();

    size_t nIndex = m_loadTable.size();
    try {
        m_loadTable.push_back({nullptr, pOb, 0});
    } catch (...) {
        delete pOb;
        AfxThrowMemoryException();
    }

    UINT nOuterSchema = m_nObjectSchema;
    m_nObjectSchema = nSchema;
    try {
        pOb->Serialize(*this);
    } catch (...) {
        m_nObjectSchema = nOuterSchema;
        // Objects read inside the failed one are its own (and deleted with it) or lost with
        // it: refuse later references to any of them.
        for (size_t i = nIndex; i < m_loadTable.size(); ++i)
            m_loadTable[i].pObject = nullptr;
        delete pOb;
        throw;
    }
    m_nObjectSchema = nOuterSchema;
    return pOb;
}

CArchive& CArchive::operator<<(const CObject* pOb) {
    WriteObject(pOb);
    return *this;
}

CArchive& CArchive::operator>>(CObject*& pOb) {
    pOb = ReadObject(nullptr);
    return *this;
}

CArchive& CArchive::operator>>(const CObject*& pOb) {
    pOb = ReadObject(nullptr);
    return *this;
}
