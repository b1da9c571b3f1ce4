// Helpers of the image tests: scratch files, real scans, patterned bitmaps, display settings, TIFFs by hand.
// With the standard headers the folder's tests share.
#pragma once

#include "image/DalvoImage.h"
#include "TestTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

// Tests that cap the address space skip under the address sanitizer, which reserves terabytes.
#if defined(__SANITIZE_ADDRESS__)
#define KESTRO_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRO_UNDER_ASAN 1
#endif
#endif

namespace imagetest {

inline std::string scratch(const std::string& name) {
    return std::string(KESTRO_TEST_TMP) + "/" + name;
}
inline CString wide(const std::string& utf8) {
    return CString::FromUtf8(utf8);
}
inline bool exists(const std::string& path) {
    return std::ifstream(path, std::ios::binary).good();
}
/// Saves the image as a scratch file of that name; the file's path.
inline std::string saved(fipImage& image, const std::string& name) {
    const std::string path = scratch(name);
    EXPECT_TRUE(image.save(path.c_str())) << name;
    return path;
}
inline BOOL createFromFile(DalvoImage& image, const std::string& path) {
    CFile file(wide(path), CFile::modeRead);
    return image.CreateFromFile(&file);
}
inline std::string gel(const std::string& name) {
    return std::string(KESTRO_SHARED_DIR) + "/gels/" + name;
}

/// Expects the child, run in a process of its own, to exit with 0; skips under the address sanitizer.
#ifdef KESTRO_UNDER_ASAN
#define EXPECT_CHILD_EXITS_CLEANLY(child)                                                                    \
    (void)child;                                                                                             \
    GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit"
#else
#define EXPECT_CHILD_EXITS_CLEANLY(child) EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "")
#endif

/// For a child process: caps its address space at what it uses now and extra bytes more.
inline bool capAddressSpace(unsigned long long extra) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + extra;
    const rlimit limit{cap, cap};
    return pages > 0 && setrlimit(RLIMIT_AS, &limit) == 0;
}

/// Clears the modified flag and answers the bitmap, the one bitmapState then compares against.
inline FIBITMAP* unmodified(fipImage& image) {
    image.setModified(FALSE);
    return image;
}

/// The bitmap against the one it had ("kept", "replaced" or "empty") and its flag, in one line.
inline std::string bitmapState(fipImage& image, FIBITMAP* before) {
    FIBITMAP* now = image;
    const char* bitmap = now == before ? "kept" : image.isValid() ? "replaced" : "empty";
    return std::string(bitmap) + (image.isModified() ? ", modified" : ", unmodified");
}

inline std::vector<BYTE> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<BYTE>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

/// The bytes the image writes in a format; empty when it refuses.
inline std::vector<BYTE> encoded(const fipImage& image, FREE_IMAGE_FORMAT fif, int flags = 0) {
    fipMemoryIO stream;
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!image.saveToMemory(fif, stream, flags) || !stream.acquire(&data, &size)) return {};
    return std::vector<BYTE>(data, data + size);
}

/// The image the bytes of a file decode to, through a memory stream; empty when they do not decode.
inline fipImage decoded(std::vector<BYTE> bytes) {
    fipImage image;
    fipMemoryIO stream(bytes.data(), static_cast<DWORD>(bytes.size()));
    image.loadFromMemory(stream);
    return image;
}

/// Deterministic value of pixel (x, y): distinct neighbours, every bit exercised.
inline unsigned pattern(unsigned x, unsigned y) {
    return x * 37u + y * 101u + x * y;
}

/// Fills a bitmap of any type with pattern(); palettised depths get indices within range.
inline void fill(fipImage& image) {
    const unsigned colors = image.getColorsUsed();
    const FREE_IMAGE_TYPE type = image.getImageType();
    for (unsigned y = 0; y < image.getHeight(); ++y) {
        BYTE* line = image.getScanLine(y);
        for (unsigned i = 0; i < image.getLine(); ++i)
            line[i] = static_cast<BYTE>(pattern(i, y));
        for (unsigned x = 0; x < image.getWidth(); ++x) {
            BYTE index = static_cast<BYTE>(pattern(x, y) % (colors ? colors : 1));
            if (type == FIT_UINT16)
                reinterpret_cast<WORD*>(line)[x] = static_cast<WORD>(pattern(x, y) * 251u);
            else if (type == FIT_FLOAT)
                reinterpret_cast<float*>(line)[x] = (pattern(x, y) % 1000) / 1000.0f;
            else if (colors)
                image.setPixelIndex(x, y, &index);
        }
    }
}

/// A new image filled with pattern(), palette and masks as setSize gives them (none without bpp).
template <class Image = fipImage>
inline Image patterned(unsigned w, unsigned h, unsigned bpp, FREE_IMAGE_TYPE type = FIT_BITMAP) {
    Image image(type, w, h, bpp);
    fill(image);
    return image;
}

/// A new bitmap filled with pattern(); a palette gets a grey ramp over 0..255, each index its own colour.
inline void makePatterned(fipImage& image, FREE_IMAGE_TYPE type, unsigned bpp, unsigned w = 13,
                          unsigned h = 7) {
    ASSERT_TRUE(image.setSize(type, w, h, bpp));
    const unsigned colors = image.getColorsUsed();
    for (unsigned i = 0; i < colors; ++i) {
        RGBQUAD& c = image.getPalette()[i];
        c.rgbRed = c.rgbGreen = c.rgbBlue = static_cast<BYTE>(i * 255u / (colors - 1));
    }
    fill(image);
}

/// The colour pixel (x, y) shows as 0xAARRGGBB, palettes resolved; alpha only at 32 bits.
inline unsigned shownColor(fipImage& image, unsigned x, unsigned y) {
    RGBQUAD c{};
    BYTE index = 0;
    if (image.getBitsPerPixel() > 8)
        image.getPixelColor(x, y, &c);
    else if (image.getPixelIndex(x, y, &index))
        c = image.getPalette()[index];
    const unsigned alpha = image.getBitsPerPixel() == 32 ? c.rgbReserved : 0u;
    return alpha << 24 | unsigned(c.rgbRed) << 16 | unsigned(c.rgbGreen) << 8 | c.rgbBlue;
}

/// Same size and type and, per pixel, the shown colour (alpha if both have it) or, beyond bitmaps, bytes.
inline ::testing::AssertionResult samePixels(fipImage& a, fipImage& b) {
    if (a.getWidth() != b.getWidth() || a.getHeight() != b.getHeight() ||
        a.getImageType() != b.getImageType()) {
        return ::testing::AssertionFailure() << "size or type differs";
    }
    const unsigned mask = a.getBitsPerPixel() == 32 && b.getBitsPerPixel() == 32 ? ~0u : 0xFFFFFFu;
    for (unsigned y = 0; y < a.getHeight(); ++y) {
        if (a.getImageType() != FIT_BITMAP &&
            std::memcmp(a.getScanLine(y), b.getScanLine(y), a.getLine()) != 0) {
            return ::testing::AssertionFailure() << "scan line " << y << " differs";
        }
        for (unsigned x = 0; a.getImageType() == FIT_BITMAP && x < a.getWidth(); ++x) {
            if ((shownColor(a, x, y) ^ shownColor(b, x, y)) & mask) {
                return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") differs";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

/// Type, depth, size, masks, palette and every scan line's pixel bytes: what a lossless copy keeps.
inline ::testing::AssertionResult sameBitmap(FIBITMAP* a, FIBITMAP* b) {
    const unsigned shape[][2] = {{FreeImage_GetImageType(a), FreeImage_GetImageType(b)},
                                 {FreeImage_GetBPP(a), FreeImage_GetBPP(b)},
                                 {FreeImage_GetWidth(a), FreeImage_GetWidth(b)},
                                 {FreeImage_GetHeight(a), FreeImage_GetHeight(b)},
                                 {FreeImage_GetRedMask(a), FreeImage_GetRedMask(b)},
                                 {FreeImage_GetColorsUsed(a), FreeImage_GetColorsUsed(b)}};
    for (const auto& s : shape)
        if (s[0] != s[1])
            return ::testing::AssertionFailure() << "shape " << &s - shape << ": " << s[0] << " vs " << s[1];
    if (FreeImage_GetColorsUsed(a) && std::memcmp(FreeImage_GetPalette(a), FreeImage_GetPalette(b),
                                                  FreeImage_GetColorsUsed(a) * sizeof(RGBQUAD)))
        return ::testing::AssertionFailure() << "palette differs";
    for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y)
        if (std::memcmp(FreeImage_GetScanLine(a, int(y)), FreeImage_GetScanLine(b, int(y)),
                        FreeImage_GetLine(a)))
            return ::testing::AssertionFailure() << "scan line " << y << " differs";
    return ::testing::AssertionSuccess();
}

/// Gives the bitmap all but pixels, each unlike the default: resolution, transparency, background, profile,
/// thumbnail, bytes past each row, metadata of two models (one the animation model, which copies drop).
inline void dress(FIBITMAP* dib) {
    FreeImage_SetDotsPerMeterX(dib, 23622);
    FreeImage_SetDotsPerMeterY(dib, 11811);
    BYTE alpha[3] = {0, 9, 200};
    FreeImage_SetTransparencyTable(dib, alpha, 3);
    RGBQUAD background = {1, 2, 3, 0};
    FreeImage_SetBackgroundColor(dib, &background);
    BYTE profile[16] = {7, 6, 5};
    FreeImage_CreateICCProfile(dib, profile, sizeof profile)->flags = FIICC_COLOR_IS_CMYK;
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, "Comment");
    FreeImage_SetTagType(tag, FIDT_ASCII);
    FreeImage_SetTagCount(tag, 4);
    FreeImage_SetTagLength(tag, 4);
    FreeImage_SetTagValue(tag, "gel");
    FreeImage_SetMetadata(FIMD_COMMENTS, dib, "Comment", tag);
    FreeImage_SetMetadata(FIMD_ANIMATION, dib, "Comment", tag);
    FreeImage_DeleteTag(tag);
    FIBITMAP* thumbnail = FreeImage_Allocate(2, 2, 24);
    FreeImage_SetThumbnail(dib, thumbnail);
    FreeImage_Unload(thumbnail);
    for (unsigned y = 0; y < FreeImage_GetHeight(dib); ++y)
        for (unsigned i = FreeImage_GetLine(dib); i < FreeImage_GetPitch(dib); ++i)
            FreeImage_GetScanLine(dib, int(y))[i] = 0xAB;
}

/// sameBitmap, and the same in all that dress() sets and in the whole info header.
inline ::testing::AssertionResult sameWholeBitmap(FIBITMAP* a, FIBITMAP* b) {
    if (auto same = sameBitmap(a, b); !same) return same;
    // Each facet as bytes, in the order of their names.
    const auto facets = [](FIBITMAP* d) {
        const auto bytes = [](const void* p, size_t n) {
            return p ? std::string(static_cast<const char*>(p), n) : std::string();
        };
        const FIICCPROFILE* profile = FreeImage_GetICCProfile(d);
        RGBQUAD background = {};
        std::string metadata;
        for (int model = FIMD_COMMENTS; model <= FIMD_CUSTOM; ++model)
            metadata += std::to_string(FreeImage_GetMetadataCount(FREE_IMAGE_MDMODEL(model), d)) + " ";
        return std::vector<std::string>{
            bytes(FreeImage_GetInfoHeader(d), sizeof(BITMAPINFOHEADER)),
            bytes(FreeImage_GetBits(d), size_t(FreeImage_GetPitch(d)) * FreeImage_GetHeight(d)),
            bytes(FreeImage_GetTransparencyTable(d), FreeImage_GetTransparencyCount(d)) +
                char(FreeImage_IsTransparent(d)),
            FreeImage_GetBackgroundColor(d, &background) ? bytes(&background, 3) : "none",
            bytes(profile->data, profile->size) + std::to_string(profile->flags),
            metadata,
            FreeImage_GetThumbnail(d) ? "present" : "none"};
    };
    const char* names[] = {"info header", "rows with their padding", "transparency",
                           "background",  "colour profile",          "metadata",
                           "thumbnail"};
    const std::vector<std::string> ours = facets(a), theirs = facets(b);
    for (size_t i = 0; i < ours.size(); ++i)
        if (ours[i] != theirs[i]) return ::testing::AssertionFailure() << names[i] << " differs";
    return ::testing::AssertionSuccess();
}

/// One directory of a hand-written TIFF: 1 (gray) or 3 (RGB) samples of those bits; no make, no Make tag.
struct TiffDirectory {
    unsigned width, height, samples, bits;
    std::string make;
};

/// A little-endian TIFF of chained directories, each uncompressed in one strip whose byte i is i * 7. By
/// hand, as FreeImage's writer cannot put in the main directory the Make tag that makes camera raw claim it.
inline std::vector<BYTE> handWrittenTiff(const std::vector<TiffDirectory>& dirs) {
    std::vector<BYTE> out = {'I', 'I', 42, 0, 0, 0, 0, 0};
    auto put = [&out](size_t at, unsigned v, unsigned bytes) {
        for (unsigned i = 0; i < bytes; ++i)
            out[at + i] = static_cast<BYTE>(v >> 8 * i);
    };
    size_t link = 4;
    for (const TiffDirectory& d : dirs) {
        // Directory, then bits per sample (3 x 2 bytes), resolution (8), make, pixels.
        const unsigned ifd = static_cast<unsigned>(out.size()), count = d.make.empty() ? 11 : 12;
        const unsigned bpsAt = ifd + 6 + 12 * count, resAt = bpsAt + 6, makeAt = resAt + 8;
        const unsigned pixelsAt = makeAt + static_cast<unsigned>(d.make.size() + 2) / 2 * 2;
        const unsigned pixelBytes = d.width * d.height * d.samples * d.bits / 8;
        std::vector<std::vector<unsigned>> tags = {{256, 3, 1, d.width},
                                                   {257, 3, 1, d.height},
                                                   {258, 3, d.samples, d.samples == 1 ? d.bits : bpsAt},
                                                   {259, 3, 1, 1},
                                                   {262, 3, 1, d.samples == 1 ? 1u : 2u}};
        if (!d.make.empty()) tags.push_back({271, 2, unsigned(d.make.size() + 1), makeAt});
        tags.insert(tags.end(), {{273, 4, 1, pixelsAt},
                                 {277, 3, 1, d.samples},
                                 {278, 3, 1, d.height},
                                 {279, 4, 1, pixelBytes},
                                 {282, 5, 1, resAt},
                                 {283, 5, 1, resAt}});
        out.resize((pixelsAt + pixelBytes + 1) / 2 * 2); // the next directory starts on a word
        put(link, ifd, 4), put(ifd, count, 2);
        for (unsigned i = 0; i < count; ++i) {
            const std::vector<unsigned>& t = tags[i];
            put(ifd + 2 + 12 * i, t[0], 2), put(ifd + 4 + 12 * i, t[1], 2), put(ifd + 6 + 12 * i, t[2], 4);
            put(ifd + 10 + 12 * i, t[3], t[1] == 3 && t[2] == 1 ? 2 : 4);
        }
        link = ifd + 2 + 12 * count;
        for (unsigned i = 0; i < 3; ++i)
            put(bpsAt + 2 * i, d.bits, 2);
        put(resAt, 72, 4), put(resAt + 4, 1, 4);
        std::copy(d.make.begin(), d.make.end(), out.begin() + makeAt);
        for (unsigned i = 0; i < pixelBytes; ++i)
            out[pixelsAt + i] = static_cast<BYTE>(i * 7);
    }
    return out;
}

/// Exposes the display state of a fipWinImage or a class derived from it to the tests.
template <class Image> class DisplayProbe : public Image {
public:
    using Image::Image;

    FIBITMAP* display() const { return this->displayBitmap; }
    /// Gives the image a private display bitmap, as a draw would.
    void makePrivateDisplay() {
        this->releaseDisplayBitmap();
        this->displayBitmap = FreeImage_Clone(this->m_dib);
        this->ownsDisplayBitmap = TRUE;
    }
    /// Shows the image bitmap itself, as a draw of a standard bitmap would.
    void makeSharedDisplay() {
        this->releaseDisplayBitmap();
        this->displayBitmap = this->m_dib;
    }
    /// Distinct, non-default display settings: the ones kOddSettings lists.
    void setOddSettings() {
        this->fipWinImage::setImageAdjustmentValues(10, 20, 2.2); // stored without a history entry
        this->autoContrastLow = 12, this->autoContrastHigh = 200;
        this->paletteType = PaletteShadesOfGreen;
        this->setToneMappingOperator(FITMO_REINHARD05, 0.5, 0.25, 0.75, 0.125);
    }
};

/// Brightness, contrast, gamma, the two limits, palette, tone-mapping operator and parameters.
inline std::vector<double> displaySettings(const fipWinImage& image) {
    FREE_IMAGE_TMO tmo = FITMO_FATTAL02;
    double p[4] = {-1, -1, -1, -1};
    image.getToneMappingOperator(&tmo, &p[0], &p[1], &p[2], &p[3]);
    return {image.getBrightness(),
            image.getContrast(),
            image.getGamma(),
            double(image.getAutoContrastLow()),
            double(image.getAutoContrastHigh()),
            double(image.getPaletteType()),
            double(tmo),
            p[0],
            p[1],
            p[2],
            p[3]};
}
const std::vector<double> kOddSettings = {10,  20,   2.2,  12,   200, PaletteShadesOfGreen, FITMO_REINHARD05,
                                          0.5, 0.25, 0.75, 0.125};

/// Exposes the protected state of DalvoImage to the tests.
class ImageProbe : public DisplayProbe<DalvoImage> {
public:
    using DisplayProbe<DalvoImage>::DisplayProbe;

    RasterImage* cache() const { return rasterImage; }
    void plantCache(RasterImage* raster) {
        dropRasterCache();
        rasterImage = raster;
    }
};

} // namespace imagetest
