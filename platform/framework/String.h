// Stands in for the application framework (MFC) on this platform: its wide-character string.
#pragma once

#include "platform/wintypes/AfxTypes.h"
#include "platform/wintypes/Export.h"

#include <string>

/// A string of the platform's wchar_t (UTF-32 here), with the framework's interface.
/// Narrow text converts through UTF-8, our stand-in for the ANSI code page: bytes that are
/// not valid UTF-8 are kept as U+DC80..U+DCFF and turn back into the same bytes, so every
/// file name survives the round trip.
/// Indexes are not checked by GetAt/operator[] beyond what std::wstring does; Mid, Left and
/// Right clamp their arguments as the framework does.
class KESTRO_API CString {
public:
    CString() = default;
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString(const wchar_t* psz);
    CString(const wchar_t* pch, int nLength);
    CString(const char* pszUtf8);
    CString(wchar_t ch, int nRepeat = 1);
    CString(const std::wstring& s) : m_str(s) {}
    CString(std::wstring&& s) noexcept : m_str(std::move(s)) {}

    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const wchar_t* psz);
    CString& operator=(const char* pszUtf8);
    CString& operator=(wchar_t ch);

    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }

    wchar_t GetAt(int i) const { return m_str[static_cast<size_t>(i)]; }
    wchar_t operator[](int i) const { return m_str[static_cast<size_t>(i)]; }

    operator const wchar_t*() const { return m_str.c_str(); }
    const wchar_t* GetString() const { return m_str.c_str(); }
    const std::wstring& str() const { return m_str; }

    CString& operator+=(const CString& s);
    CString& operator+=(const wchar_t* psz);
    CString& operator+=(wchar_t ch);
    CString& operator+=(const char* pszUtf8);
    void Append(const wchar_t* psz) { *this += psz; }
    void Append(const wchar_t* pch, int n);

    /// Ordinal comparison: <0, 0, >0.
    int Compare(const wchar_t* psz) const;
    /// Comparison without regard to case (simple case folding of each character).
    int CompareNoCase(const wchar_t* psz) const;

    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;

    /// Index of the first match at or after nStart, or -1.
    int Find(wchar_t ch, int nStart = 0) const;
    int Find(const wchar_t* pszSub, int nStart = 0) const;
    int ReverseFind(wchar_t ch) const;

    /// printf-style formatting with the framework's conventions: %s and %c take wide
    /// arguments, %S, %hs and %hc narrow ones; everything else is as in swprintf.
    void Format(const wchar_t* pszFormat, ...);

    /// The text as UTF-8 (the narrow encoding of file names here), and back.
    std::string ToUtf8() const;
    static CString FromUtf8(const char* data, size_t size);
    static CString FromUtf8(const std::string& s) { return FromUtf8(s.data(), s.size()); }

private:
    std::wstring m_str;
};

KESTRO_API CString operator+(const CString& a, const CString& b);
KESTRO_API CString operator+(const CString& a, const wchar_t* b);
KESTRO_API CString operator+(const wchar_t* a, const CString& b);
KESTRO_API CString operator+(const CString& a, wchar_t b);
KESTRO_API CString operator+(wchar_t a, const CString& b);

inline bool operator==(const CString& a, const CString& b) {
    return a.str() == b.str();
}
inline bool operator==(const CString& a, const wchar_t* b) {
    return a.Compare(b) == 0;
}
inline bool operator==(const wchar_t* a, const CString& b) {
    return b.Compare(a) == 0;
}
inline bool operator!=(const CString& a, const CString& b) {
    return !(a == b);
}
inline bool operator!=(const CString& a, const wchar_t* b) {
    return !(a == b);
}
inline bool operator!=(const wchar_t* a, const CString& b) {
    return !(a == b);
}
inline bool operator<(const CString& a, const CString& b) {
    return a.str() < b.str();
}
inline bool operator>(const CString& a, const CString& b) {
    return b < a;
}
inline bool operator<=(const CString& a, const CString& b) {
    return !(b < a);
}
inline bool operator>=(const CString& a, const CString& b) {
    return !(a < b);
}

/// Narrow copy of a wide string for APIs that take char* (the framework's CT2A): UTF-8 here.
class KESTRO_API CT2A {
public:
    explicit CT2A(const wchar_t* psz);
    operator const char*() const { return m_str.c_str(); }
    const char* c_str() const { return m_str.c_str(); }

private:
    std::string m_str;
};

/// Wide copy of a narrow (UTF-8) string (the framework's CA2T).
class KESTRO_API CA2T {
public:
    explicit CA2T(const char* psz) : m_str(psz ? psz : "") {}
    operator const wchar_t*() const { return m_str.GetString(); }

private:
    CString m_str;
};
