// Stands in for the application framework (MFC) on this platform: its wide-character string.
#include "platform/framework/String.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// Simple one-to-one case folding for Latin, Greek and Cyrillic letters; the C library's
// towlower depends on the process locale, which a library must not rely on.
wchar_t foldLower(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return c + 32;
    if (c < 0xC0) return c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper) return (c % 2 == 1) ? c + 1 : c;
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp >= 0xDC80 && cp <= 0xDCFF) { // an escaped byte that was not valid UTF-8
        out.push_back(static_cast<char>(cp - 0xDC00));
    } else if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x110000) {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        appendUtf8(out, 0xFFFD);
    }
}

// One conversion formatted by the C library; the buffer grows until the text fits (a single
// conversion is bounded by its width and precision, which come from the caller's format).
template <class T> void appendOne(std::wstring& out, const std::wstring& conversion, T value) {
    std::vector<wchar_t> buf(64);
    while (buf.size() <= (1u << 24)) {
        int n = std::swprintf(buf.data(), buf.size(), conversion.c_str(), value);
        if (n >= 0 && static_cast<size_t>(n) < buf.size()) {
            out.append(buf.data(), static_cast<size_t>(n));
            return;
        }
        buf.resize(buf.size() * 4);
    }
}

// printf-style formatting with the framework's conventions. Each conversion takes its
// argument here and is formatted alone, so that narrow text (%S, %hs, %hc) is converted from
// UTF-8 by us rather than through the C library's locale, in which anything beyond ASCII
// would fail. Integer length modifiers of the framework (I64, I32, I) are understood too.
std::wstring vformat(const wchar_t* fmt, va_list args) {
    std::wstring out;
    if (!fmt) return out;
    for (const wchar_t* p = fmt; *p; ++p) {
        if (*p != L'%') {
            out.push_back(*p);
            continue;
        }
        const wchar_t* begin = p++;
        if (*p == L'%') {
            out.push_back(L'%');
            continue;
        }
        std::wstring flags, width, precision;
        while (*p && std::wcschr(L"-+ #0", *p))
            flags.push_back(*p++);
        if (*p == L'*') {
            width = std::to_wstring(va_arg(args, int));
            ++p;
        } else {
            while (*p >= L'0' && *p <= L'9')
                width.push_back(*p++);
        }
        bool hasPrecision = false;
        if (*p == L'.') {
            hasPrecision = true;
            ++p;
            if (*p == L'*') {
                int prec = va_arg(args, int);
                if (prec >= 0)
                    precision = std::to_wstring(prec);
                else
                    hasPrecision = false;
                ++p;
            } else {
                while (*p >= L'0' && *p <= L'9')
                    precision.push_back(*p++);
            }
        }
        // Length: none, hh, h, l, ll, L, j, z, t, q, I64, I32, I.
        enum Size { plain, hh, h, l, ll, L, j, z, t } size = plain;
        if (p[0] == L'h' && p[1] == L'h')
            size = hh, p += 2;
        else if (p[0] == L'h')
            size = h, ++p;
        else if (p[0] == L'l' && p[1] == L'l')
            size = ll, p += 2;
        else if (p[0] == L'l' || p[0] == L'w')
            size = l, ++p;
        else if (p[0] == L'L')
            size = L, ++p;
        else if (p[0] == L'q')
            size = ll, ++p;
        else if (p[0] == L'j')
            size = j, ++p;
        else if (p[0] == L'z')
            size = z, ++p;
        else if (p[0] == L't')
            size = t, ++p;
        else if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4')
            size = ll, p += 3;
        else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2')
            size = plain, p += 3;
        else if (p[0] == L'I')
            size = z, ++p;
        wchar_t conv = *p;
        if (!conv) { // a format cut short is copied as it stands
            out.append(begin);
            break;
        }
        std::wstring conversion = L"%" + flags + width + (hasPrecision ? L"." + precision : L"");
        switch (conv) {
        case L'd':
        case L'i': {
            long long v = size == ll || size == j               ? va_arg(args, long long)
                          : size == l || size == z || size == t ? va_arg(args, long)
                                                                : va_arg(args, int);
            if (size == hh) v = static_cast<signed char>(v);
            if (size == h) v = static_cast<short>(v);
            appendOne(out, conversion + L"lld", v);
            break;
        }
        case L'u':
        case L'o':
        case L'x':
        case L'X': {
            unsigned long long v = size == ll || size == j               ? va_arg(args, unsigned long long)
                                   : size == l || size == z || size == t ? va_arg(args, unsigned long)
                                                                         : va_arg(args, unsigned);
            if (size == hh) v = static_cast<unsigned char>(v);
            if (size == h) v = static_cast<unsigned short>(v);
            appendOne(out, conversion + L"ll" + conv, v);
            break;
        }
        case L'e':
        case L'E':
        case L'f':
        case L'F':
        case L'g':
        case L'G':
        case L'a':
        case L'A':
            if (size == L)
                appendOne(out, conversion + L"L" + conv, va_arg(args, long double));
            else
                appendOne(out, conversion + conv, va_arg(args, double));
            break;
        case L'c':
        case L'C': {
            bool narrow = conv == L'C' ? size != l : size == h;
            wchar_t c;
            if (narrow) {
                auto b = static_cast<unsigned char>(va_arg(args, int));
                c = b < 0x80 ? static_cast<wchar_t>(b) : static_cast<wchar_t>(0xDC00 + b);
            } else {
                c = static_cast<wchar_t>(va_arg(args, wint_t));
            }
            appendOne(out, conversion + L"lc", static_cast<wint_t>(c));
            break;
        }
        case L's':
        case L'S': {
            bool narrow = conv == L'S' ? size != l : size == h;
            std::wstring text;
            if (narrow) {
                const char* a = va_arg(args, const char*);
                text = a ? CString::FromUtf8(a, std::strlen(a)).str() : L"(null)";
            } else {
                const wchar_t* w = va_arg(args, const wchar_t*);
                text = w ? w : L"(null)";
            }
            appendOne(out, conversion + L"ls", text.c_str());
            break;
        }
        case L'p':
            appendOne(out, conversion + L"p", va_arg(args, void*));
            break;
        case L'n':
            (void)va_arg(args, void*);
            break; // writes nothing back
        default:
            out.append(begin, p + 1);
            break;
        }
    }
    return out;
}

} // namespace

CString::CString(const wchar_t* psz) : m_str(psz ? psz : L"") {}
CString::CString(const wchar_t* pch, int nLength) {
    if (pch && nLength > 0) m_str.assign(pch, static_cast<size_t>(nLength));
}
CString::CString(const char* pszUtf8) {
    if (pszUtf8) *this = FromUtf8(pszUtf8, std::strlen(pszUtf8));
}
CString::CString(wchar_t ch, int nRepeat) {
    if (nRepeat > 0) m_str.assign(static_cast<size_t>(nRepeat), ch);
}

CString& CString::operator=(const wchar_t* psz) {
    m_str = psz ? psz : L"";
    return *this;
}
CString& CString::operator=(const char* pszUtf8) {
    return *this = CString(pszUtf8);
}
CString& CString::operator=(wchar_t ch) {
    m_str.assign(1, ch);
    return *this;
}

CString& CString::operator+=(const CString& s) {
    m_str += s.m_str;
    return *this;
}
CString& CString::operator+=(const wchar_t* psz) {
    if (psz) m_str += psz;
    return *this;
}
CString& CString::operator+=(wchar_t ch) {
    m_str.push_back(ch);
    return *this;
}
CString& CString::operator+=(const char* pszUtf8) {
    return *this += CString(pszUtf8);
}
void CString::Append(const wchar_t* pch, int n) {
    if (pch && n > 0) m_str.append(pch, static_cast<size_t>(n));
}

int CString::Compare(const wchar_t* psz) const {
    int c = m_str.compare(psz ? psz : L"");
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CString::CompareNoCase(const wchar_t* psz) const {
    if (!psz) psz = L"";
    const wchar_t* a = m_str.c_str();
    size_t n = m_str.size(), i = 0;
    for (; i < n && psz[i]; ++i) {
        wchar_t x = foldLower(a[i]), y = foldLower(psz[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (i == n && !psz[i]) return 0;
    return i == n ? -1 : 1;
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength() - std::max(nFirst, 0));
}
CString CString::Mid(int nFirst, int nCount) const {
    int len = GetLength();
    if (nFirst < 0) nFirst = 0;
    if (nCount < 0) nCount = 0;
    if (nFirst > len) nFirst = len;
    if (nCount > len - nFirst) nCount = len - nFirst;
    return CString(m_str.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

int CString::Find(wchar_t ch, int nStart) const {
    if (nStart < 0 || nStart > GetLength()) return -1;
    size_t i = m_str.find(ch, static_cast<size_t>(nStart));
    return i == std::wstring::npos ? -1 : static_cast<int>(i);
}
int CString::Find(const wchar_t* pszSub, int nStart) const {
    if (!pszSub || nStart < 0 || nStart > GetLength()) return -1;
    size_t i = m_str.find(pszSub, static_cast<size_t>(nStart));
    return i == std::wstring::npos ? -1 : static_cast<int>(i);
}
int CString::ReverseFind(wchar_t ch) const {
    size_t i = m_str.rfind(ch);
    return i == std::wstring::npos ? -1 : static_cast<int>(i);
}

void CString::Format(const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    m_str = vformat(pszFormat, args);
    va_end(args);
}

std::string CString::ToUtf8() const {
    std::string out;
    out.reserve(m_str.size());
    for (wchar_t c : m_str)
        appendUtf8(out, static_cast<char32_t>(c));
    return out;
}

CString CString::FromUtf8(const char* data, size_t size) {
    std::wstring out;
    out.reserve(size);
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    size_t i = 0;
    while (i < size) {
        unsigned char b = s[i];
        size_t need = b < 0x80                  ? 0
                      : (b >= 0xC2 && b < 0xE0) ? 1
                      : (b >= 0xE0 && b < 0xF0) ? 2
                      : (b >= 0xF0 && b < 0xF5) ? 3
                                                : 99;
        char32_t cp = need == 0 ? b : need == 1 ? (b & 0x1F) : need == 2 ? (b & 0x0F) : (b & 0x07);
        bool ok = need != 99;
        for (size_t k = 1; ok && k <= need; ++k) {
            if (i + k >= size || (s[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not valid UTF-8.
        if (ok && ((need == 2 && cp < 0x800) || (need == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
                   (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (ok) {
            out.push_back(static_cast<wchar_t>(cp));
            i += need + 1;
        } else {
            out.push_back(static_cast<wchar_t>(0xDC00 + b)); // keep the byte, escaped
            ++i;
        }
    }
    return CString(std::move(out));
}

CString operator+(const CString& a, const CString& b) {
    return CString(a.str() + b.str());
}
CString operator+(const CString& a, const wchar_t* b) {
    return CString(a.str() + (b ? b : L""));
}
CString operator+(const wchar_t* a, const CString& b) {
    return CString((a ? a : L"") + b.str());
}
CString operator+(const CString& a, wchar_t b) {
    return CString(a.str() + b);
}
CString operator+(wchar_t a, const CString& b) {
    return CString(a + b.str());
}

CT2A::CT2A(const wchar_t* psz) : m_str(CString(psz).ToUtf8()) {}
