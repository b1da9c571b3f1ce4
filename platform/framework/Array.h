// Stands in for the application framework (MFC) on this platform: its dynamic array template.
#pragma once

#include "platform/framework/Archive.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/Object.h"

#include <algorithm>
#include <type_traits>
#include <utility>
#include <vector>

/// The framework's CArray: a dynamic array whose checked accessors (GetAt, SetAt, operator[])
/// raise CInvalidArgException for an index outside 0..size-1. Appending is
/// amortised O(1); SetSize value-initialises new elements (0 for numbers).
/// Storage failures raise CMemoryException.
/// Serialize stores the count (WriteCount) and then the elements: through the archive's << and
/// >> where it has them, as raw bytes for other plain types; other types raise
/// CNotSupportedException.
template <class TYPE, class ARG_TYPE = const TYPE&> class KESTRO_API CArray : public CObject {
public:
    CArray() = default;
    CArray(const CArray& other) : CObject(), m_data(other.m_data) {}
    CArray& operator=(const CArray& other) {
        if (this != &other) Copy(other);
        return *this;
    }
    ~CArray() override = default;

    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_data.size()); }
    INT_PTR GetCount() const { return GetSize(); }
    BOOL IsEmpty() const { return m_data.empty(); }

    void SetSize(INT_PTR nNewSize, INT_PTR nGrowBy = -1) {
        (void)nGrowBy;
        if (nNewSize < 0) AfxThrowInvalidArgException();
        AfxGuardAllocation([&] { m_data.resize(static_cast<size_t>(nNewSize)); });
    }
    void RemoveAll() { std::vector<TYPE>().swap(m_data); }

    const TYPE& GetAt(INT_PTR i) const { return m_data[check(i)]; }
    TYPE& GetAt(INT_PTR i) { return m_data[check(i)]; }
    void SetAt(INT_PTR i, ARG_TYPE value) { m_data[check(i)] = value; }
    TYPE& operator[](INT_PTR i) { return m_data[check(i)]; }
    const TYPE& operator[](INT_PTR i) const { return m_data[check(i)]; }

    const TYPE* GetData() const { return m_data.empty() ? nullptr : m_data.data(); }
    TYPE* GetData() { return m_data.empty() ? nullptr : m_data.data(); }

    INT_PTR Add(ARG_TYPE value) {
        AfxGuardAllocation([&] { m_data.push_back(value); });
        return GetSize() - 1;
    }
    /// Appends every element of src; returns the index of the first appended element.
    INT_PTR Append(const CArray& src) {
        INT_PTR first = GetSize();
        if (&src == this) {
            std::vector<TYPE> copy(m_data);
            AfxGuardAllocation([&] { m_data.insert(m_data.end(), copy.begin(), copy.end()); });
        } else {
            AfxGuardAllocation([&] { m_data.insert(m_data.end(), src.m_data.begin(), src.m_data.end()); });
        }
        return first;
    }
    void Copy(const CArray& src) {
        if (&src != this) AfxGuardAllocation([&] { m_data = src.m_data; });
    }

    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar.WriteCount(m_data.size());
            if constexpr (kByOperators) {
                for (const TYPE& e : m_data)
                    ar << e;
            } else if constexpr (kAsBytes) {
                const BYTE* p = reinterpret_cast<const BYTE*>(m_data.data());
                for (size_t left = m_data.size() * sizeof(TYPE); left > 0;) {
                    UINT chunk = static_cast<UINT>(std::min<size_t>(left, 0x40000000));
                    ar.Write(p, chunk);
                    p += chunk;
                    left -= chunk;
                }
            } else {
                AfxThrowNotSupportedException();
            }
            return;
        }
        ULONGLONG n = ar.ReadCount();
        if constexpr (kByOperators) {
            // Every element takes at least one byte; grow only as elements actually arrive.
            if (n > ar.BytesLeft()) AfxThrowArchiveException(CArchiveException::endOfFile, ar.m_strFileName);
            RemoveAll();
            for (ULONGLONG i = 0; i < n; ++i) {
                TYPE e{};
                ar >> e;
                AfxGuardAllocation([&] { m_data.push_back(std::move(e)); });
            }
        } else if constexpr (kAsBytes) {
            if (n > ar.BytesLeft() / sizeof(TYPE))
                AfxThrowArchiveException(CArchiveException::endOfFile, ar.m_strFileName);
            SetSize(static_cast<INT_PTR>(n));
            ar.ReadExact(m_data.data(), m_data.size() * sizeof(TYPE));
        } else {
            AfxThrowNotSupportedException();
        }
    }

private:
    template <class T, class = void> struct Archivable : std::false_type {};
    template <class T>
    struct Archivable<T, std::void_t<decltype(std::declval<CArchive&>() << std::declval<const T&>()),
                                     decltype(std::declval<CArchive&>() >> std::declval<T&>())>>
        : std::true_type {};
    // Pointers would be written as addresses or read as objects nobody owns: neither is wanted.
    static constexpr bool kByOperators = Archivable<TYPE>::value && !std::is_pointer<TYPE>::value;
    static constexpr bool kAsBytes =
        !kByOperators && std::is_trivially_copyable<TYPE>::value && !std::is_pointer<TYPE>::value;

    size_t check(INT_PTR i) const {
        if (i < 0 || i >= GetSize()) AfxThrowInvalidArgException();
        return static_cast<size_t>(i);
    }
    std::vector<TYPE> m_data;
};

/// The framework's array of strings.
class KESTRO_API CStringArray : public CArray<CString, const CString&> {
public:
    CStringArray() = default;
    CStringArray(const CStringArray&) = default;
    CStringArray& operator=(const CStringArray&) = default;
    ~CStringArray() override;
};

/// The library exports these instances of the array template. The library's own sources see
/// the declaration too: a copy instantiated elsewhere in the library would be hidden (inline
/// members are), and the linker would keep the hidden visibility for the exported one.
extern template class KESTRO_API CArray<int, int>;
extern template class KESTRO_API CArray<double, double>;
