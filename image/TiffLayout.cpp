#include "image/detail/TiffLayout.h"

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
// hostile file can hold: samples narrower than a byte in separate planes, a palette of more than
// one sample, a three-sample colour model (RGB, YCbCr, LogLuv) in fewer, two samples in a colour
// model other than grey (grey and alpha is the only pair), two floating-point samples,
// floating-point inks. It reads past the end of its lines for half floats of more than one
// sample, which a few writers make. All these are refused here, before even its header read. The
// first directory is the one read: it is the image a load gives.
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

} // namespace kestro::detail
