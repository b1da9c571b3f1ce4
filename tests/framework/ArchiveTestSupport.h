// Helpers for archive tests: byte vectors spelled out by hand, archives over memory, and the
// cause of the archive exception an action raises.
#pragma once

#include "platform/framework/afx.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<BYTE>;

/// Bytes spelled out by hand: pairs of hex digits (spaces are free) and 'quoted' ASCII text.
inline Bytes Hx(const std::string& spelled) {
    Bytes out;
    for (size_t i = 0; i < spelled.size(); ++i) {
        if (spelled[i] == ' ') continue;
        size_t end = spelled[i] == '\'' ? spelled.find('\'', i + 1) : i + 1;
        if (spelled[i] == '\'')
            out.insert(out.end(), spelled.begin() + i + 1, spelled.begin() + end);
        else
            out.push_back(static_cast<BYTE>(std::stoi(spelled.substr(i, 2), nullptr, 16)));
        i = end;
    }
    return out;
}

inline std::string Hex(const Bytes& bytes) {
    std::string out;
    for (BYTE b : bytes)
        out += std::string(out.empty() ? "" : " ") + "0123456789abcdef"[b >> 4] + "0123456789abcdef"[b & 15];
    return out;
}

/// The spelling of a new class description: FFFF, schema, name length, name.
inline std::string Cls(unsigned schema, const std::string& name) {
    size_t n = name.size();
    return "FFFF " + Hex({BYTE(schema), BYTE(schema >> 8), BYTE(n), BYTE(n >> 8)}) + " '" + name + "' ";
}

/// UTF-16 code units as little-endian bytes.
inline Bytes Units(const std::vector<unsigned>& units) {
    Bytes out;
    for (unsigned u : units)
        out.insert(out.end(), {BYTE(u), BYTE(u >> 8)});
    return out;
}

/// Little-endian 32-bit number.
inline Bytes Le32(size_t v) {
    return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

/// The bytes that a storing archive over memory receives from write.
inline Bytes StoreBytes(const std::function<void(CArchive&)>& write) {
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    write(ar);
    ar.Close();
    return Bytes(file.GetBuffer(), file.GetBuffer() + file.GetLength());
}

/// Runs read over a loading archive on a copy of bytes; returns how many bytes stayed unread.
inline ULONGLONG LoadBytes(Bytes bytes, const std::function<void(CArchive&)>& read) {
    CMemFile file(bytes.empty() ? nullptr : bytes.data(), static_cast<UINT>(bytes.size()));
    CArchive ar(&file, CArchive::load);
    read(ar);
    return ar.BytesLeft();
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
