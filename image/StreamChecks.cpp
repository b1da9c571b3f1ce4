#include "image/detail/StreamChecks.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kestro::detail {
namespace {

constexpr unsigned kMostEntries = 65535; // what a classic directory can count, and libtiff's cap

enum Tag : unsigned {
    kBitsPerSample = 258,
    kPhotometric = 262,
    kSamplesPerPixel = 277,
    kPlanarConfig = 284,
    kSampleFormat = 339,
};

// Photometric interpretations: the colour model of the samples.
constexpr unsigned kMinIsWhite = 0;
constexpr unsigned kMinIsBlack = 1;
constexpr unsigned kRgb = 2;
constexpr unsigned kPalette = 3;
constexpr unsigned kSeparated = 5;
constexpr unsigned kYCbCr = 6;
constexpr unsigned kLogLuv = 32845;

constexpr unsigned kFloat = 3;    // SampleFormat
constexpr unsigned kSeparate = 2; // PlanarConfiguration

struct Reader {
    const ReadAt& readAt;
    bool little = true;
    bool big = false; // BigTIFF: 8-byte counts and offsets

    bool read(unsigned long long at, BYTE* to, size_t n) const { return readAt(at, to, n) == n; }
    unsigned long long number(const BYTE* p, size_t n) const {
        unsigned long long v = 0;
        for (size_t i = 0; i < n; ++i)
            v |= static_cast<unsigned long long>(p[little ? i : n - 1 - i]) << (8 * i);
        return v;
    }
};

// The unsigned whole-number types libtiff converts a per-sample or single short from.
size_t wholeNumberBytes(unsigned type) {
    switch (type) {
    case 1:
    case 6:
        return 1;
    case 3:
    case 8:
        return 2;
    case 4:
    case 9:
        return 4;
    case 16:
    case 17:
        return 8;
    default:
        return 0;
    }
}

struct Field {
    bool present = false;
    bool readable = false;
    bool uniform = true; // every sample's value the same
    unsigned long long value = 0;
};

// Reads an entry's values (within the entry where they fit, else at the offset it gives).
Field readField(const Reader& r, const BYTE* entry) {
    Field f;
    f.present = true;
    const unsigned type = static_cast<unsigned>(r.number(entry + 2, 2));
    const size_t slot = r.big ? 8 : 4;
    const unsigned long long count = r.number(entry + 4, slot);
    const size_t size = wholeNumberBytes(type);
    if (size == 0 || count == 0 || count > kMostEntries) return f;
    const unsigned long long bytes = count * size;
    std::vector<BYTE> values(static_cast<size_t>(bytes));
    if (bytes <= slot)
        std::memcpy(values.data(), entry + 4 + slot, static_cast<size_t>(bytes));
    else if (!r.read(r.number(entry + 4 + slot, slot), values.data(), values.size()))
        return f;
    f.readable = true;
    f.value = r.number(values.data(), size);
    for (size_t i = 1; i < count; ++i)
        f.uniform = f.uniform && r.number(values.data() + i * size, size) == f.value;
    return f;
}

} // namespace

bool startsAsTiff(const ReadAt& readAt) {
    BYTE head[4] = {0, 0, 0, 0};
    if (readAt(0, head, 4) != 4) return false;
    return (head[0] == 'I' && head[1] == 'I' && (head[2] == 0x2A || head[2] == 0x2B) && head[3] == 0) ||
           (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 0x2A || head[3] == 0x2B));
}

// FreeImage's TIFF reader stops the process on an assertion, dies on a bad address or writes past
// the bitmap it allocated for sample layouts that no writer of images makes but a damaged or
// hostile file can hold: samples narrower than a byte in separate planes or several to a pixel
// (eight 1-bit grey samples, say), a palette of more than one sample, a three-sample colour model
// (RGB, YCbCr, LogLuv) in fewer, two samples in a colour model other than grey (grey and alpha is
// the only pair), two floating-point samples, floating-point inks. It reads past the end of its
// lines for half floats of more than one sample, which a few writers make. All these are refused
// here, before even its header read. The first directory is the one read: it is the image a load
// gives.
std::string tiffLayoutRefusal(const ReadAt& readAt) {
    if (!startsAsTiff(readAt)) return "not a TIFF file";
    BYTE head[16] = {};
    Reader r{readAt};
    if (!r.read(0, head, 8)) return "the TIFF header is cut short";
    r.little = head[0] == 'I';
    r.big = r.number(head + 2, 2) == 0x2B;
    if (r.big && (!r.read(8, head + 8, 8) || r.number(head + 4, 2) != 8))
        return "the BigTIFF header is cut short or not one";
    const unsigned long long directory = r.big ? r.number(head + 8, 8) : r.number(head + 4, 4);
    const size_t countBytes = r.big ? 8 : 2, entryBytes = r.big ? 20 : 12;
    BYTE countField[8] = {};
    if (!r.read(directory, countField, countBytes)) return "the TIFF's first directory lies beyond its end";
    const unsigned long long entries = r.number(countField, countBytes);
    if (entries > kMostEntries) return "the TIFF's first directory claims too many entries";
    std::vector<BYTE> table(static_cast<size_t>(entries) * entryBytes);
    if (!r.read(directory + countBytes, table.data(), table.size()))
        return "the TIFF's first directory runs past its end";

    Field bits, photometric, samples, planar, format;
    for (size_t i = 0; i < entries; ++i) {
        const BYTE* entry = table.data() + i * entryBytes;
        Field* field = nullptr;
        switch (r.number(entry, 2)) {
        case kBitsPerSample:
            field = &bits;
            break;
        case kPhotometric:
            field = &photometric;
            break;
        case kSamplesPerPixel:
            field = &samples;
            break;
        case kPlanarConfig:
            field = &planar;
            break;
        case kSampleFormat:
            field = &format;
            break;
        default:
            break;
        }
        if (field && !field->present) *field = readField(r, entry); // libtiff keeps the first
    }
    for (const Field* f : {&bits, &photometric, &samples, &planar, &format})
        if (f->present && (!f->readable || !f->uniform))
            return "the TIFF's sample layout cannot be read as one value each";

    const unsigned long long n = samples.present ? samples.value : 1;
    const unsigned long long width = bits.present ? bits.value : 1;
    // Without the tag libtiff takes grey for one or two samples and RGB for more.
    const unsigned long long model = photometric.present ? photometric.value : n >= 3 ? kRgb : kMinIsBlack;
    const bool floating = format.present && format.value == kFloat;
    if (n == 0) return "the TIFF has no samples to a pixel";
    if (planar.present && planar.value == kSeparate && width < 8)
        return "the TIFF holds samples narrower than a byte in separate planes";
    if (width < 8 && n > 1) return "the TIFF holds several samples narrower than a byte to a pixel";
    if (model == kPalette && n > 1)
        return "the TIFF holds a palette image of " + std::to_string(n) + " samples";
    if (n < 3 && (model == kRgb || model == kYCbCr || model == kLogLuv))
        return "the TIFF holds colour model " + std::to_string(model) + " in fewer than three samples";
    if (n == 2 && model != kMinIsBlack && model != kMinIsWhite)
        return "the TIFF holds two samples to a pixel of colour model " + std::to_string(model);
    if (floating && (n == 2 || model == kSeparated || (width < 32 && n > 1)))
        return "the TIFF holds floating-point samples in a layout FreeImage cannot read";
    return {};
}

namespace {

// A version 2 file ends in a footer that points at an extension area, which may point at a
// postage stamp: FreeImage reads both wherever they point, the stamp at the image's depth. The
// stamp's offset is the area's second to last word, after that of the colour-correction table.
std::string targaFooterRefusal(const ReadAt& readAt, unsigned long long sourceBytes, unsigned pixelBytes) {
    BYTE f[26];
    if (sourceBytes < 18 + 26 || readAt(sourceBytes - 26, f, 26) != 26 ||
        std::memcmp(f + 8, "TRUEVISION-XFILE.", 18) != 0)
        return {};
    const auto u32 = [](const BYTE* p) {
        return p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned long long>(p[3]) << 24;
    };
    const unsigned long long extension = u32(f);
    if (extension == 0) return {};
    BYTE e[4], wh[2];
    if (extension < 18 || extension + 495 > sourceBytes - 26 || readAt(extension + 486, e, 4) != 4)
        return "the Targa extension area lies outside the file's data";
    const unsigned long long stamp = u32(e);
    if (stamp != 0 && (stamp < 18 || stamp + 2 > sourceBytes || readAt(stamp, wh, 2) != 2 ||
                       stamp + 2 + static_cast<unsigned long long>(wh[0]) * wh[1] * pixelBytes > sourceBytes))
        return "the Targa postage stamp lies outside the file";
    return {};
}

// Bytes of a source read one after another through a buffer.
class Cursor {
public:
    Cursor(const ReadAt& readAt, unsigned long long at) : readAt_(readAt), at_(at), buffer_(1 << 16) {}

    unsigned long long position() const { return at_ + next_; }

    bool byte(BYTE& b) {
        if (next_ == have_ && !refill()) return false;
        b = buffer_[next_++];
        return true;
    }

    // A big-endian number of n bytes.
    bool number(size_t n, unsigned long long& v) {
        v = 0;
        for (BYTE b = 0; n > 0; --n) {
            if (!byte(b)) return false;
            v = v << 8 | b;
        }
        return true;
    }

    bool skip(unsigned long long n) {
        while (n > 0) {
            if (next_ == have_ && !refill()) return false;
            const size_t step = static_cast<size_t>(std::min<unsigned long long>(n, have_ - next_));
            next_ += step;
            n -= step;
        }
        return true;
    }

private:
    bool refill() {
        at_ += have_;
        have_ = readAt_(at_, buffer_.data(), buffer_.size());
        next_ = 0;
        return have_ > 0;
    }

    const ReadAt& readAt_;
    unsigned long long at_;
    std::vector<BYTE> buffer_;
    size_t have_ = 0, next_ = 0;
};

} // namespace

// FreeImage's Targa reader dies on a run-length file whose ID field and colour map run past the
// file's end, reads past its cache on one far too short for its lines, and writes past its
// bitmap when the last run-length packet runs past the image's last pixel, so every packet is
// walked first (a short read of the whole file). Where the data starts is only certain when a
// colour map said absent is described as empty. A file cut short leaves the pixels it lacks as
// the allocator gave them, whatever memory held before: it is refused, plain or run-length.
std::string targaRefusal(const ReadAt& readAt, unsigned long long sourceBytes) {
    BYTE h[18];
    if (readAt(0, h, 18) != 18) return "the Targa header is cut short";
    const unsigned mapEntries = h[5] | h[6] << 8, mapBits = h[7];
    const unsigned long long mapBytes = mapEntries * ((mapBits + 7ull) / 8);
    unsigned long long at = 18ull + h[0] + (h[1] ? mapBytes : 0);
    BYTE last = 0;
    if (at > 18 && readAt(at - 1, &last, 1) != 1)
        return "the Targa ID field or colour map runs past the file's end";
    const unsigned pixelBytes = (h[16] + 7u) / 8u;
    if (std::string why = targaFooterRefusal(readAt, sourceBytes, pixelBytes); !why.empty()) return why;
    const unsigned long long height = h[14] | h[15] << 8;
    const unsigned long long pixels = static_cast<unsigned long long>(h[12] | h[13] << 8) * height;
    if (pixelBytes == 0) return "the Targa header gives pixels of no bits";
    if (h[2] >= 1 && h[2] <= 3)
        return sourceBytes < 18ull + h[0] + mapBytes + pixels * pixelBytes
                   ? "the Targa pixel data is cut short"
                   : std::string();
    if (h[2] != 9 && h[2] != 10 && h[2] != 11) return {};
    if (h[1] == 0 && (mapEntries != 0 || mapBits != 0))
        return "the Targa header describes a colour map it says is absent";
    // The reader takes the packets through a cache of the bytes after the colour map shared out
    // over the image's lines, and reads past it when that share is less than a pixel: a file cut
    // far short of its height.
    if (height && sourceBytes >= at && (sourceBytes - at) / height < pixelBytes)
        return "the Targa run-length data is too short for the image's lines";
    Cursor in(readAt, at);
    unsigned long long seen = 0;
    while (seen < pixels) {
        BYTE packet = 0;
        if (!in.byte(packet)) return "the Targa run-length data ends before the image's last pixel";
        const unsigned count = (packet & 0x7Fu) + 1;
        if (seen + count > pixels) return "a Targa run-length packet runs past the image's last pixel";
        seen += count;
        if (!in.skip(static_cast<unsigned long long>(packet & 0x80 ? 1 : count) * pixelBytes))
            return "the Targa run-length data ends before the image's last pixel";
    }
    return {};
}

// FreeImage's Photoshop reader writes past its line when a run-length (PackBits) row decodes to
// more bytes than the image's line, so every row is walked first (a read of the file, no
// decoding): its packets must stay within the row's count of bytes and decode to a line at most.
// A file cut short is left to the reader.
std::string psdRefusal(const ReadAt& readAt) {
    BYTE h[26];
    if (readAt(0, h, 26) != 26 || std::memcmp(h, "8BPS", 4) != 0) return {};
    const bool big = h[5] == 2;
    const unsigned long long channels = h[12] << 8 | h[13];
    const unsigned long long height =
        static_cast<unsigned long long>(h[14]) << 24 | h[15] << 16 | h[16] << 8 | h[17];
    const unsigned long long width =
        static_cast<unsigned long long>(h[18]) << 24 | h[19] << 16 | h[20] << 8 | h[21];
    const unsigned long long lineBytes = (width * (h[22] << 8 | h[23]) + 7) / 8;
    Cursor in(readAt, 26);
    unsigned long long length = 0, compression = 0;
    // The colour mode data, the image resources, the layers and masks: each a length and its bytes.
    for (const size_t lengthBytes : {size_t{4}, size_t{4}, size_t{big ? 8u : 4u}})
        if (!in.number(lengthBytes, length) || !in.skip(length)) return {};
    if (!in.number(2, compression) || compression != 1) return {};
    const unsigned long long rows = channels * height, countBytes = big ? 4 : 2;
    Cursor counts(readAt, in.position()), data(readAt, in.position() + rows * countBytes);
    for (unsigned long long row = 0; row < rows; ++row) {
        unsigned long long left = 0, out = 0;
        if (!counts.number(static_cast<size_t>(countBytes), left)) return {};
        while (left > 0) {
            BYTE packet = 0;
            if (!data.byte(packet)) return {};
            --left;
            const int n = static_cast<signed char>(packet);
            if (n == -128) continue;
            const unsigned long long taken = n >= 0 ? n + 1u : 1u, made = n >= 0 ? n + 1u : 1u - n;
            if (taken > left) return "a Photoshop run-length packet runs past its row's bytes";
            out += made;
            if (out > lineBytes) return "a Photoshop run-length row decodes to more than the image's line";
            if (!data.skip(taken)) return {};
            left -= taken;
        }
    }
    return {};
}

} // namespace kestro::detail
