#include "image/detail/ClaimedSize.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace kestro::detail {
namespace {

// Every read checks its bounds: the head is whatever the file held.
struct Bytes {
    const BYTE* data;
    size_t size;
    bool has(size_t at, size_t n) const { return at <= size && n <= size - at; }
    unsigned be16(size_t at) const { return has(at, 2) ? (data[at] << 8) | data[at + 1] : 0; }
    unsigned le16(size_t at) const { return has(at, 2) ? data[at] | (data[at + 1] << 8) : 0; }
    unsigned long long be32(size_t at) const {
        return has(at, 4) ? (static_cast<unsigned long long>(data[at]) << 24) | (data[at + 1] << 16) |
                                (data[at + 2] << 8) | data[at + 3]
                          : 0;
    }
    unsigned long long le32(size_t at) const {
        return has(at, 4) ? (static_cast<unsigned long long>(data[at + 3]) << 24) | (data[at + 2] << 16) |
                                (data[at + 1] << 8) | data[at]
                          : 0;
    }
    bool is(size_t at, const char* text) const {
        const size_t n = std::strlen(text);
        return has(at, n) && std::memcmp(data + at, text, n) == 0;
    }
};

ClaimedSize known(unsigned long long width, unsigned long long height, unsigned bpp, bool raster = true,
                  unsigned long long decoderBytes = 0) {
    ClaimedSize c;
    c.kind = ClaimedSize::known;
    c.width = width;
    c.height = height;
    c.bitsPerPixel = bpp;
    c.raster = raster && bpp >= 8;
    c.decoderBytes = decoderBytes;
    return c;
}

ClaimedSize broken(const std::string& why) {
    ClaimedSize c;
    c.kind = ClaimedSize::broken;
    c.why = why;
    return c;
}

ClaimedSize dds(const Bytes& b) {
    if (!b.is(0, "DDS ") || !b.has(0, 128)) return broken("the DDS header is cut short");
    return known(b.le32(16), b.le32(12), 32);
}

ClaimedSize sgi(const Bytes& b) {
    if (!b.has(0, 512) || b.be16(0) != 0x01DA) return broken("the SGI header is cut short");
    const unsigned bytesPerSample = b.data[3], dimension = b.be16(4);
    const unsigned long long width = b.be16(6), height = dimension == 1 ? 1 : b.be16(8);
    const unsigned channels = dimension < 3 ? 1 : std::max(1u, std::min(b.be16(10), 4u));
    return known(width, height, 8 * std::max(1u, bytesPerSample) * channels);
}

// IFF: the bitmap header chunk among the first chunks of the FORM.
ClaimedSize iff(const Bytes& b) {
    if (!b.is(0, "FORM")) return broken("not an IFF form");
    for (size_t at = 12; b.has(at, 8);) {
        const unsigned long long length = b.be32(at + 4);
        if (b.is(at, "BMHD")) {
            // FreeImage's reader does not return from some headers of another length or planes.
            if (length != 20 || !b.has(at + 8, 20)) return broken("the IFF bitmap header is not 20 bytes");
            const unsigned planes = b.data[at + 16];
            if (planes < 1 || planes > 32)
                return broken("the IFF bitmap has " + std::to_string(planes) + " planes");
            return known(b.be16(at + 8), b.be16(at + 10), planes <= 8 ? 8 : 24);
        }
        if (length > b.size) break;
        at += 8 + static_cast<size_t>(length) + (length & 1);
    }
    return broken("the IFF bitmap header is missing");
}

// GIF: FreeImage allocates the logical screen, and the first frame at its own size.
ClaimedSize gif(const Bytes& b) {
    if (!b.has(0, 13) || !b.is(0, "GIF")) return broken("the GIF header is cut short");
    unsigned long long width = b.le16(6), height = b.le16(8);
    size_t at = 13;
    if (b.data[10] & 0x80) at += 3u << ((b.data[10] & 7) + 1);
    while (b.has(at, 1)) {
        if (b.data[at] == 0x21) { // an extension: label, then sub-blocks up to an empty one
            at += 2;
            while (b.has(at, 1) && b.data[at])
                at += 1 + b.data[at];
            ++at;
        } else if (b.data[at] == 0x2C && b.has(at, 10)) {
            const unsigned long long right = b.le16(at + 1) + static_cast<unsigned long long>(b.le16(at + 5));
            const unsigned long long bottom =
                b.le16(at + 3) + static_cast<unsigned long long>(b.le16(at + 7));
            width = std::max(width, right);
            height = std::max(height, bottom);
            break;
        } else {
            break;
        }
    }
    // The screen is composed in 32 bits when frames are played; a frame alone takes one byte a pixel.
    return known(width, height, 8, true, width * height * 4);
}

// MNG and JNG: the frame size of the stream's header, and that of every image header within reach.
ClaimedSize mng(const Bytes& b) {
    unsigned long long width = 0, height = 0;
    bool found = false;
    for (size_t at = 8; b.has(at, 8);) {
        const unsigned long long length = b.be32(at);
        if (b.is(at + 4, "MHDR") || b.is(at + 4, "IHDR") || b.is(at + 4, "JHDR")) {
            if (!b.has(at + 8, 8)) break;
            width = std::max(width, b.be32(at + 8));
            height = std::max(height, b.be32(at + 12));
            found = true;
        }
        if (b.is(at + 4, "MEND") || length > b.size) break;
        at += 12 + static_cast<size_t>(length);
    }
    if (!found) return broken("the MNG or JNG header is missing");
    return known(width, height, 32);
}

// JPEG 2000 codestream: the image and tile sizes of SIZ; OpenJPEG holds 32 bits a sample.
ClaimedSize j2kCodestream(const Bytes& b, size_t at) {
    if (b.be16(at) != 0xFF4F || b.be16(at + 2) != 0xFF51 || !b.has(at + 4, 38))
        return broken("the JPEG 2000 size marker is missing");
    const unsigned long long xsiz = b.be32(at + 8), ysiz = b.be32(at + 12);
    const unsigned long long x0 = b.be32(at + 16), y0 = b.be32(at + 20);
    const unsigned components = std::max(1u, b.be16(at + 40));
    if (x0 >= xsiz || y0 >= ysiz) return broken("the JPEG 2000 image is empty");
    const unsigned long long width = xsiz - x0, height = ysiz - y0;
    return known(width, height, components >= 3 ? 24 : 8, true, width * height * 4ull * components);
}

ClaimedSize jp2(const Bytes& b) {
    // Boxes: length, type; the header box holds the image header box; the codestream box holds SIZ.
    for (size_t at = 0; b.has(at, 8);) {
        const unsigned long long length = b.be32(at);
        if (b.is(at + 4, "jp2h")) {
            at += 8;
            continue;
        }
        if (b.is(at + 4, "ihdr") && b.has(at + 8, 14)) {
            const unsigned long long height = b.be32(at + 8), width = b.be32(at + 12);
            const unsigned components = std::max(1u, b.be16(at + 16));
            return known(width, height, components >= 3 ? 24 : 8, true, width * height * 4ull * components);
        }
        if (b.is(at + 4, "jp2c")) return j2kCodestream(b, at + 8);
        if (length < 8 || length > b.size) break;
        at += static_cast<size_t>(length);
    }
    return broken("the JP2 image header is missing");
}

ClaimedSize pcx(const Bytes& b) {
    if (!b.has(0, 128) || b.data[0] != 0x0A) return broken("the PCX header is cut short");
    const unsigned xmin = b.le16(4), ymin = b.le16(6), xmax = b.le16(8), ymax = b.le16(10);
    if (xmax < xmin || ymax < ymin) return broken("the PCX window is reversed");
    const unsigned bpp = std::max(1u, static_cast<unsigned>(b.data[3]) * std::max<unsigned>(1, b.data[65]));
    return known(xmax - xmin + 1ull, ymax - ymin + 1ull, std::min(bpp, 32u), true,
                 static_cast<unsigned long long>(b.le16(66)) * std::max<unsigned>(1, b.data[65]));
}

// PICT: the picture frame after the 512-byte file header.
ClaimedSize pict(const Bytes& b) {
    if (!b.has(512, 10)) return broken("the PICT header is cut short");
    const int top = static_cast<int16_t>(b.be16(514)), left = static_cast<int16_t>(b.be16(516));
    const int bottom = static_cast<int16_t>(b.be16(518)), right = static_cast<int16_t>(b.be16(520));
    if (bottom <= top || right <= left) return broken("the PICT frame is empty");
    return known(static_cast<unsigned long long>(right - left), static_cast<unsigned long long>(bottom - top),
                 32);
}

// Radiance: text lines up to an empty one, then the resolution line "-Y h +X w" (or its turns).
ClaimedSize hdr(const Bytes& b) {
    const std::string text(reinterpret_cast<const char*>(b.data), std::min<size_t>(b.size, 65536));
    const size_t blank = text.find("\n\n");
    if (blank == std::string::npos) return broken("the Radiance header does not end");
    char s1 = 0, a1 = 0, s2 = 0, a2 = 0;
    unsigned long long n1 = 0, n2 = 0;
    if (std::sscanf(text.c_str() + blank + 2, "%c%c %llu %c%c %llu", &s1, &a1, &n1, &s2, &a2, &n2) != 6)
        return broken("the Radiance resolution line is missing");
    return a1 == 'Y' ? known(n2, n1, 96, false) : known(n1, n2, 96, false);
}

// OpenEXR: the data window among the header's attributes (name, type, size, value).
ClaimedSize exr(const Bytes& b) {
    for (size_t at = 8; b.has(at, 1) && b.data[at];) {
        const BYTE* end = static_cast<const BYTE*>(std::memchr(b.data + at, 0, b.size - at));
        if (!end) break;
        const std::string name(reinterpret_cast<const char*>(b.data + at),
                               static_cast<size_t>(end - b.data - at));
        size_t next = static_cast<size_t>(end - b.data) + 1;
        const BYTE* typeEnd =
            b.has(next, 1) ? static_cast<const BYTE*>(std::memchr(b.data + next, 0, b.size - next)) : nullptr;
        if (!typeEnd) break;
        next = static_cast<size_t>(typeEnd - b.data) + 1;
        const unsigned long long size = b.le32(next);
        next += 4;
        if (name == "dataWindow" && size == 16 && b.has(next, 16)) {
            const long long xmin = static_cast<int32_t>(b.le32(next)),
                            ymin = static_cast<int32_t>(b.le32(next + 4));
            const long long xmax = static_cast<int32_t>(b.le32(next + 8)),
                            ymax = static_cast<int32_t>(b.le32(next + 12));
            if (xmax < xmin || ymax < ymin) return broken("the OpenEXR data window is reversed");
            const unsigned long long width = xmax - xmin + 1, height = ymax - ymin + 1;
            return known(width, height, 96, false, width * height * 8);
        }
        if (size > b.size) break;
        at = next + static_cast<size_t>(size);
    }
    return broken("the OpenEXR data window is missing");
}

// PFM: "PF" or "Pf", width, height, scale, in text.
ClaimedSize pfm(const Bytes& b) {
    const std::string text(reinterpret_cast<const char*>(b.data), std::min<size_t>(b.size, 256));
    char kind = 0;
    unsigned long long width = 0, height = 0;
    if (std::sscanf(text.c_str(), "P%c %llu %llu", &kind, &width, &height) != 3)
        return broken("the PFM header is cut short");
    return known(width, height, kind == 'F' ? 96 : 32, false);
}

// ICO: the first image's own header (a bitmap header, or a PNG's).
ClaimedSize ico(const Bytes& b, unsigned long long sourceBytes) {
    if (!b.has(0, 22) || b.le16(2) < 1 || b.le16(4) < 1) return broken("the icon directory is cut short");
    const unsigned long long offset = b.le32(18);
    if (sourceBytes && offset + 40 > sourceBytes) return broken("the icon's image lies past the file's end");
    if (!b.has(static_cast<size_t>(std::min<unsigned long long>(offset, b.size)), 24)) return ClaimedSize{};
    const size_t at = static_cast<size_t>(offset);
    if (b.is(at, "\x89PNG")) return known(b.be32(at + 16), b.be32(at + 20), 32);
    // FreeImage's icon reader writes past the bitmap it allocated for a deeper one.
    if (b.le16(at + 14) > 32) return broken("the icon's image claims more than 32 bits a pixel");
    const long long width = static_cast<int32_t>(b.le32(at + 4)),
                    height = static_cast<int32_t>(b.le32(at + 8));
    return known(static_cast<unsigned long long>(std::llabs(width)),
                 static_cast<unsigned long long>(std::llabs(height)) / 2, std::max(1u, b.le16(at + 14)));
}

// WBMP: type 0, a fixed header byte, then width and height as multi-byte integers.
ClaimedSize wbmp(const Bytes& b) {
    size_t at = 0;
    const auto number = [&](unsigned long long& value) {
        value = 0;
        for (int i = 0; i < 5 && b.has(at, 1); ++i) {
            const BYTE c = b.data[at++];
            value = (value << 7) | (c & 0x7F);
            if (!(c & 0x80)) return true;
        }
        return false;
    };
    unsigned long long type = 0, width = 0, height = 0;
    if (!number(type) || type != 0 || !b.has(at, 1) || (b.data[at++] & 0x80) || !number(width) ||
        !number(height))
        return broken("the WBMP header is not a plain type 0 header");
    return known(width, height, 1);
}

// XBM: FreeImage's reader does not return at some ends of file, so the whole text is checked
// here first: both sizes defined, an array of hex values, as many as the pixels need, closed.
ClaimedSize xbm(const Bytes& b, unsigned long long sourceBytes) {
    if (b.size < sourceBytes) return broken("the XBM file is too large to check");
    const std::string text(reinterpret_cast<const char*>(b.data), b.size);
    const auto defined = [&](const char* suffix) -> unsigned long long {
        for (size_t at = text.find("#define"); at != std::string::npos; at = text.find("#define", at + 1)) {
            const size_t lineEnd = std::min(text.find('\n', at), text.size());
            const std::string line = text.substr(at, lineEnd - at);
            const size_t name = line.find(suffix);
            if (name != std::string::npos)
                return std::strtoull(line.c_str() + name + std::strlen(suffix), nullptr, 10);
        }
        return 0;
    };
    const unsigned long long width = defined("_width"), height = defined("_height");
    const size_t open = text.find('{');
    if (!width || !height || open == std::string::npos) return broken("the XBM header is incomplete");
    const bool shorts = text.rfind("short", open) != std::string::npos;
    const unsigned long long needed = (width + (shorts ? 15 : 7)) / (shorts ? 16 : 8) * height;
    unsigned long long values = 0;
    size_t at = open + 1;
    for (;;) {
        while (at < text.size() && (std::isspace(static_cast<unsigned char>(text[at])) || text[at] == ','))
            ++at;
        if (at >= text.size()) return broken("the XBM data does not end");
        if (text[at] == '}') break;
        if (text.compare(at, 2, "0x") != 0 && text.compare(at, 2, "0X") != 0)
            return broken("the XBM data is not hex");
        at += 2;
        const size_t digits = at;
        while (at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at])))
            ++at;
        if (at == digits || at - digits > (shorts ? 4u : 2u)) return broken("the XBM data is not hex");
        ++values;
    }
    if (values < needed)
        return broken("the XBM data holds " + std::to_string(values) + " of " + std::to_string(needed) +
                      " values");
    return known(width, height, 1);
}

// JPEG: the frame header; a progressive frame keeps every coefficient (two bytes a sample).
ClaimedSize jpeg(const Bytes& b) {
    if (b.be16(0) != 0xFFD8) return broken("not a JPEG stream");
    for (size_t at = 2; b.has(at, 4);) {
        if (b.data[at] != 0xFF) { // stray bytes, which libjpeg skips with a warning
            ++at;
            continue;
        }
        const BYTE marker = b.data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const unsigned length = b.be16(at + 2);
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (!b.has(at + 4, 6)) break;
            const unsigned long long height = b.be16(at + 5), width = b.be16(at + 7);
            const unsigned components = std::max<unsigned>(1, b.data[at + 9]);
            const bool multiScan = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            return known(width, height, components >= 3 ? 24 : 8, true,
                         multiScan ? width * height * 2ull * components : 0);
        }
        if (marker == 0xD9 || marker == 0xDA || length < 2) break;
        at += 2 + length;
    }
    // FreeImage's header-only read of a progressive JPEG decodes every scan, so none is left to it.
    return broken("the JPEG frame header is not within the first " + std::to_string(b.size) + " bytes");
}

ClaimedSize cut(const Bytes& b) {
    if (!b.has(0, 6)) return broken("the CUT header is cut short");
    return known(b.le16(0), b.le16(2), 8);
}

ClaimedSize targa(const Bytes& b) {
    if (!b.has(0, 18)) return broken("the Targa header is cut short");
    return known(b.le16(12), b.le16(14), std::max(8u, std::min<unsigned>(b.data[16], 32)));
}

ClaimedSize ras(const Bytes& b) {
    if (!b.has(0, 32)) return broken("the Sun raster header is cut short");
    return known(b.be32(4), b.be32(8),
                 std::max(1u, std::min<unsigned>(static_cast<unsigned>(b.be32(12)), 32)));
}

// WebP: only the extended header can claim more than 16384 pixels a side.
ClaimedSize webp(const Bytes& b) {
    if (b.is(12, "VP8X") && b.has(24, 6)) {
        const unsigned long long width = 1 + (b.data[24] | (b.data[25] << 8) | (b.data[26] << 16));
        const unsigned long long height = 1 + (b.data[27] | (b.data[28] << 8) | (b.data[29] << 16));
        return known(width, height, 32);
    }
    return ClaimedSize{};
}

// The bytes of a directory entry's value, held in the entry itself up to four bytes, else at the
// offset it gives; null where they are not all in the bytes read.
const BYTE* jxrValue(const Bytes& b, size_t at, unsigned long long size) {
    const unsigned long long where = size <= 4 ? at + 8 : b.le32(at + 8);
    if (where > b.size || size > b.size - where) return nullptr;
    return b.data + where;
}

// The JPEG XR decoder aborts the process (an assertion) on a directory tag that is not what its
// kind must be: text in ASCII ending in a NUL, the page number two shorts, a rating one short, the
// title UTF-16 ending in a NUL character, the orientation one of the eight a picture can take.
// Such a file is refused before it reaches the decoder.
bool jxrTagWellFormed(const Bytes& b, size_t at) {
    const unsigned tag = b.le16(at), type = b.le16(at + 2);
    const unsigned long long count = b.le32(at + 4);
    const BYTE* value = count > 0 ? jxrValue(b, at, count) : nullptr;
    switch (tag) {
    case 0x010D:
    case 0x010E:
    case 0x010F:
    case 0x0110:
    case 0x011D: // names and descriptions
    case 0x0131:
    case 0x0132:
    case 0x013B:
    case 0x013C:
    case 0x8298: // software, date, people
        return type == 2 && value && value[count - 1] == 0;
    case 0x0129: // page number
        return type == 3 && count == 2;
    case 0x4746:
    case 0x4749: // rating
        return type == 3 && count == 1;
    case 0xBC02: // orientation, read as the whole of the entry's value
        return count == 1 && b.le32(at + 8) < 8;
    case 0x9C9B: // title
        return (type == 1 || type == 7) && count >= 2 && count % 2 == 0 && value && value[count - 2] == 0 &&
               value[count - 1] == 0;
    default:
        return true;
    }
}

// JPEG XR: a TIFF-like directory (little-endian) whose width and height tags give the size, and
// the codestream's own header, which the decoder follows where the two disagree. The larger of
// each counts. A file whose size cannot be read here goes to no decoder.
ClaimedSize jxr(const Bytes& b) {
    if (!b.is(0, "II\xBC")) return broken("not a JPEG XR file");
    const unsigned long long directory = b.le32(4);
    if (directory > b.size || !b.has(static_cast<size_t>(directory), 2))
        return broken("the JPEG XR directory lies beyond the first " + std::to_string(b.size) + " bytes");
    const size_t first = static_cast<size_t>(directory) + 2;
    const size_t entries = b.le16(first - 2);
    if (entries > (b.size - first) / 12) return broken("the JPEG XR directory runs past the bytes read");
    unsigned long long width = 0, height = 0, codestream = 0;
    unsigned bpp = 32;
    // The decoder keeps a descriptive tag's text in one place, and loses the first of two.
    std::set<unsigned> tags;
    for (size_t i = 0; i < entries; ++i) {
        const size_t at = first + 12 * i;
        if (!jxrTagWellFormed(b, at))
            return broken("the JPEG XR directory holds tag " + std::to_string(b.le16(at)) +
                          " in a form it cannot have");
        if (!tags.insert(b.le16(at)).second)
            return broken("the JPEG XR directory holds tag " + std::to_string(b.le16(at)) + " twice");
        const unsigned tag = b.le16(at), type = b.le16(at + 2);
        const unsigned long long value = type == 3 ? b.le16(at + 8) : b.le32(at + 8);
        if (tag == 0xBC80)
            width = value;
        else if (tag == 0xBC81)
            height = value;
        else if (tag == 0xBCC0)
            codestream = value;
        else if (tag == 0xBC01 && b.le32(at + 4) == 16 && value <= b.size &&
                 b.has(static_cast<size_t>(value), 16)) {
            // The pixel formats share one GUID but its last byte; the narrow ones keep their
            // width, the rest count as 32 bits until FreeImage's own header read says more.
            switch (b.data[static_cast<size_t>(value) + 15]) {
            case 0x05:
                bpp = 1;
                break;
            case 0x08:
                bpp = 8;
                break;
            case 0x0B:
                bpp = 16;
                break;
            case 0x0C:
            case 0x0D:
                bpp = 24;
                break;
            default:
                bpp = 32;
                break;
            }
        }
    }
    if (!width || !height) return broken("the JPEG XR directory gives no image size");
    // The codestream header: signature, four bytes of flags, then width and height less one,
    // in 16 bits with the short-header flag and 32 bits without.
    if (codestream && codestream <= b.size && b.is(static_cast<size_t>(codestream), "WMPHOTO")) {
        const size_t at = static_cast<size_t>(codestream) + 8;
        if (b.has(at, 4)) {
            const bool shortHeader = (b.data[at + 2] & 0x80) != 0;
            const unsigned long long w = shortHeader ? b.be16(at + 4) + 1ull : b.be32(at + 4) + 1;
            const unsigned long long h = shortHeader ? b.be16(at + 6) + 1ull : b.be32(at + 8) + 1;
            if (b.has(at + 4, shortHeader ? 4 : 8)) {
                width = std::max(width, w);
                height = std::max(height, h);
            }
        }
    }
    return known(width, height, bpp);
}

} // namespace

namespace {

ClaimedSize claimOf(FREE_IMAGE_FORMAT fif, const Bytes& b, unsigned long long sourceBytes) {
    switch (fif) {
    case FIF_DDS:
        return dds(b);
    case FIF_SGI:
        return sgi(b);
    case FIF_IFF:
        return iff(b);
    case FIF_GIF:
        return gif(b);
    case FIF_MNG:
    case FIF_JNG:
        return mng(b);
    case FIF_J2K:
        return j2kCodestream(b, 0);
    case FIF_JP2:
        return jp2(b);
    case FIF_PCX:
        return pcx(b);
    case FIF_PICT:
        return pict(b);
    case FIF_HDR:
        return hdr(b);
    case FIF_EXR:
        return exr(b);
    case FIF_PFM:
        return pfm(b);
    case FIF_ICO:
        return ico(b, sourceBytes);
    case FIF_CUT:
        return cut(b);
    case FIF_WBMP:
        return wbmp(b);
    case FIF_XBM:
        return xbm(b, sourceBytes);
    case FIF_KOALA:
        return known(320, 200, 8);
    case FIF_JPEG:
        return jpeg(b);
    case FIF_TARGA:
        return targa(b);
    case FIF_RAS:
        return ras(b);
    case FIF_WEBP:
        return webp(b);
    case FIF_JXR:
        return jxr(b);
    default:
        return ClaimedSize{};
    }
}

} // namespace

// An empty image is no image; FreeImage's IFF reader does not return from one.
ClaimedSize claimedSize(FREE_IMAGE_FORMAT fif, const BYTE* head, size_t length,
                        unsigned long long sourceBytes) {
    const ClaimedSize c = claimOf(fif, Bytes{head, head ? length : 0}, sourceBytes);
    if (c.kind == ClaimedSize::known && (c.width == 0 || c.height == 0))
        return broken("the header claims an empty image");
    return c;
}

} // namespace kestro::detail
