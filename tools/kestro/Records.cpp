#include "Records.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

namespace kestro {

namespace fs = std::filesystem;

std::vector<std::string>& commandLine() {
    static std::vector<std::string> line;
    return line;
}

std::string fullNumber(double v) {
    if (std::isnan(v)) return "";
    if (v == 0) return "0"; // also -0, which tables should not show
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return r.ec == std::errc() ? std::string(buf, r.ptr)
                               : std::string(std::isinf(v) ? (v > 0 ? "inf" : "-inf") : "");
}

std::string tableNumber(double v) {
    // A volume is a sum of thousands of pixels less a background line, and carries the rounding
    // of its last bits (31192.000000000007): tables give the 15 significant digits a double
    // holds for certain, no exponent, no trailing zeros.
    if (!std::isfinite(v)) return fullNumber(v);
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    double rounded = v;
    std::from_chars(buf, r.ptr, rounded);
    return fullNumber(rounded);
}

std::optional<int> wholeNumber(std::string_view text) {
    int v = 0;
    const char* end = text.data() + text.size();
    const auto got = std::from_chars(text.data(), end, v);
    if (text.empty() || got.ec != std::errc() || got.ptr != end) return std::nullopt;
    return v;
}

namespace {

class Sha256 {
public:
    void add(const unsigned char* p, size_t n) {
        m_length += n;
        while (n > 0) {
            const size_t take = std::min(n, 64 - m_used);
            std::copy(p, p + take, m_block.begin() + static_cast<std::ptrdiff_t>(m_used));
            m_used += take;
            p += take;
            n -= take;
            if (m_used == 64) {
                compress();
                m_used = 0;
            }
        }
    }
    std::string hex() {
        const std::uint64_t bits = m_length * 8;
        const unsigned char one = 0x80, zero = 0;
        add(&one, 1);
        while (m_used != 56)
            add(&zero, 1);
        unsigned char len[8];
        for (int i = 0; i < 8; ++i)
            len[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
        add(len, 8);
        std::string out;
        char b[9];
        for (std::uint32_t h : m_h) {
            std::snprintf(b, sizeof b, "%08x", static_cast<unsigned>(h));
            out += b;
        }
        return out;
    }

private:
    static std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
    void compress() {
        static const std::uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = std::uint32_t(m_block[4 * i]) << 24 | std::uint32_t(m_block[4 * i + 1]) << 16 |
                   std::uint32_t(m_block[4 * i + 2]) << 8 | std::uint32_t(m_block[4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = m_h[0], b = m_h[1], c = m_h[2], d = m_h[3], e = m_h[4], f = m_h[5], g = m_h[6],
                      h = m_h[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 =
                h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const std::uint32_t v[8] = {a, b, c, d, e, f, g, h};
        for (int i = 0; i < 8; ++i)
            m_h[i] += v[i];
    }

    std::array<std::uint32_t, 8> m_h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<unsigned char, 64> m_block{};
    size_t m_used = 0;
    std::uint64_t m_length = 0;
};

} // namespace

std::string sha256Hex(const std::string& bytes) {
    Sha256 s;
    s.add(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return s.hex();
}

FileDigest digestFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError(path + ": cannot read the file for its digest");
    Sha256 s;
    FileDigest d;
    std::vector<char> buf(1 << 16);
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const auto got = static_cast<size_t>(in.gcount());
        s.add(reinterpret_cast<const unsigned char*>(buf.data()), got);
        d.bytes += got;
    }
    if (in.bad()) throw ToolError(path + ": cannot read the file for its digest");
    d.sha256 = s.hex();
    return d;
}

nlohmann::ordered_json runRecord(const nlohmann::ordered_json& parameters,
                                 const std::vector<std::string>& inputs) {
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const std::string& f : inputs) {
        const FileDigest d = digestFile(f);
        files.push_back({{"file", f}, {"sha256", d.sha256}, {"bytes", d.bytes}});
    }
    return {{"program", "kestro " KESTRO_VERSION},
            {"commandLine", commandLine()},
            {"parameters", parameters},
            {"inputs", files}};
}

void refuseExistingOutputs(const std::vector<std::string>& inputs,
                           const std::vector<PlannedOutput>& outputs) {
    checkOutputs(inputs, outputs);
    if (settings().force) return;
    std::error_code ec;
    for (const PlannedOutput& out : outputs)
        if (fs::exists(fs::symlink_status(out.path, ec)))
            throw ToolError(out.path + ": exists; refusing to write over a result (--force writes anyway)");
}

RowRange parseRows(const std::string& text, const std::string& option) {
    static const std::regex pattern("\\s*([0-9]{1,9})\\s*-\\s*([0-9]{1,9})\\s*");
    std::smatch m;
    if (!std::regex_match(text, m, pattern))
        throw ToolError(option + " takes rows Y0-Y1, e.g. 120-480: '" + text + "'");
    const RowRange r{std::stoi(m[1]), std::stoi(m[2])};
    if (r.bottom <= r.top)
        throw ToolError(option + ": the rows " + text + " are empty (Y1 must be greater than Y0)");
    return r;
}

} // namespace kestro
