// Helpers for archive tests: byte vectors spelled out by hand, archives over memory, and the
// check that an action raises the archive exception with a given cause.
#pragma once

#include "framework/afx.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<BYTE>;

/// Spells out archive bytes little-endian, independently of CArchive's writer.
class ByteWriter {
public:
    ByteWriter& u8(unsigned v) {
        m_bytes.push_back(static_cast<BYTE>(v));
        return *this;
    }
    ByteWriter& u16(unsigned v) { return u8(v & 0xFF).u8((v >> 8) & 0xFF); }
    ByteWriter& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    ByteWriter& u64(std::uint64_t v) {
        return u32(static_cast<std::uint32_t>(v)).u32(static_cast<std::uint32_t>(v >> 32));
    }
    ByteWriter& ascii(const std::string& s) {
        m_bytes.insert(m_bytes.end(), s.begin(), s.end());
        return *this;
    }
    ByteWriter& units(const std::vector<unsigned>& utf16) {
        for (unsigned u : utf16)
            u16(u);
        return *this;
    }
    ByteWriter& append(const Bytes& more) {
        m_bytes.insert(m_bytes.end(), more.begin(), more.end());
        return *this;
    }
    /// A new class description: FFFF, schema, name length, name.
    ByteWriter& newClass(unsigned schema, const std::string& name) {
        return u16(0xFFFF).u16(schema).u16(static_cast<unsigned>(name.size())).ascii(name);
    }
    size_t size() const { return m_bytes.size(); }
    const Bytes& bytes() const { return m_bytes; }
    operator const Bytes&() const { return m_bytes; }

private:
    Bytes m_bytes;
};

/// The bytes that a storing archive over memory receives from write.
inline Bytes StoreBytes(const std::function<void(CArchive&)>& write) {
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    write(ar);
    ar.Close();
    const BYTE* p = file.GetBuffer();
    return Bytes(p, p + file.GetLength());
}

/// Runs read over a loading archive on a copy of bytes; returns how many bytes stayed unread.
inline ULONGLONG LoadBytes(const Bytes& bytes, const std::function<void(CArchive&)>& read) {
    Bytes copy(bytes);
    CMemFile file(copy.empty() ? nullptr : copy.data(), static_cast<UINT>(copy.size()));
    CArchive ar(&file, CArchive::load);
    read(ar);
    ULONGLONG left = file.GetLength() - file.GetPosition();
    ar.Close();
    return left;
}

/// The cause of the CArchiveException that action raises; -1 when it raises none.
inline int ArchiveCause(const std::function<void()>& action) {
    try {
        action();
    } catch (CArchiveException& e) {
        return e.m_cause;
    }
    return -1;
}

inline std::string Hex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (BYTE b : bytes) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}
