// Formats: round trips through every writer FreeImage has here, detection of gel-imager TIFFs
// that the camera-raw plugin claims, and the real scans.
#include "ImageTestKit.h"

#include <set>
#include <sstream>

using namespace imagetest;

namespace {

struct Depth {
    const char* name;
    FREE_IMAGE_TYPE type;
    unsigned bpp;
};

const Depth kDepths[] = {{"1-bit", FIT_BITMAP, 1},   {"4-bit", FIT_BITMAP, 4},   {"8-bit", FIT_BITMAP, 8},
                         {"uint16", FIT_UINT16, 16}, {"24-bit", FIT_BITMAP, 24}, {"32-bit", FIT_BITMAP, 32},
                         {"float", FIT_FLOAT, 32}};

bool exportable(FREE_IMAGE_FORMAT fif, const Depth& d) {
    if (fif == FIF_PSD && d.type == FIT_BITMAP && d.bpp == 1) return false; // refused by the wrapper
    if (d.type == FIT_BITMAP) return FreeImage_FIFSupportsWriting(fif) && FreeImage_FIFSupportsExportBPP(fif, d.bpp);
    return FreeImage_FIFSupportsExportType(fif, d.type);
}

// Writers whose default options lose information by design.
bool lossyByDesign(FREE_IMAGE_FORMAT fif, const Depth& d) {
    switch (fif) {
    case FIF_JPEG:
    case FIF_JNG:
    case FIF_J2K:
    case FIF_JP2:
    case FIF_WEBP:
    case FIF_JXR:
        return true;
    case FIF_EXR:
        return d.type == FIT_FLOAT; // stored as half floats by default
    default:
        return false;
    }
}

// FreeImage 3.18's own defects: writers that refuse what they declare, files its reader refuses.
const char* knownDefect(FREE_IMAGE_FORMAT fif, const Depth& d) {
    if (fif == FIF_JPEG && d.bpp == 32) return "the JPEG writer declares 32 bits but refuses an RGBA bitmap";
    if (fif == FIF_JXR) return "the JPEG-XR writer of this build fails at every size (\"Invalid instruction\")";
    if (fif == FIF_PSD && (d.bpp == 8 || d.type == FIT_FLOAT)) {
        return "the PSD reader refuses what the PSD writer wrote at this depth";
    }
    return nullptr;
}

// FreeImage's PSD writer leaks a channel table on every standard bitmap it writes; a leak
// checker would stop the run on it, so sanitized builds leave those writes out.
bool leaksUnderSanitizer(FREE_IMAGE_FORMAT fif, const Depth& d) {
#if defined(__SANITIZE_ADDRESS__)
    return fif == FIF_PSD && d.type == FIT_BITMAP;
#else
    (void)fif, (void)d;
    return false;
#endif
}

bool isPortableAnymap(FREE_IMAGE_FORMAT fif) {
    return fif == FIF_PBM || fif == FIF_PBMRAW || fif == FIF_PGM || fif == FIF_PGMRAW || fif == FIF_PPM ||
           fif == FIF_PPMRAW;
}

std::string formatName(FREE_IMAGE_FORMAT fif) { return FreeImage_GetFormatFromFIF(fif); }

// Reads the saved bytes back: from memory where the format has a signature, else from a file
// named with the format's extension, which is how such files are recognised.
bool reload(fipImage& image, fipMemoryIO& stream, FREE_IMAGE_FORMAT fif) {
    stream.seek(0, SEEK_SET);
    if (fipImage::identifyFIFFromMemory(stream) != FIF_UNKNOWN) return image.loadFromMemory(stream) != FALSE;
    BYTE* data = nullptr;
    DWORD size = 0;
    stream.acquire(&data, &size);
    std::string extension = FreeImage_GetFIFExtensionList(fif);
    extension = extension.substr(0, extension.find(','));
    const std::string path = scratch("formats-roundtrip." + extension);
    writeBytes(path, std::vector<BYTE>(data, data + size));
    return image.load(path.c_str()) != FALSE;
}

} // namespace

TEST(fipImageFormats, LosslessWritersGiveBackTheSamePixelsAtEveryDepthTheyAccept) {
    int exact = 0;
    std::set<std::string> lossless;
    for (int i = 0; i < FreeImage_GetFIFCount(); ++i) {
        const FREE_IMAGE_FORMAT fif = static_cast<FREE_IMAGE_FORMAT>(i);
        if (!FreeImage_FIFSupportsWriting(fif)) continue;
        for (const Depth& d : kDepths) {
            const std::string what = formatName(fif) + " " + d.name;
            if (leaksUnderSanitizer(fif, d)) continue;
            fipImage image;
            // Icons come in standard sizes only, JPEG 2000 needs room for its resolution levels;
            // everything else gets an odd width, so that scan lines carry fill.
            unsigned w = 13, h = 7;
            if (fif == FIF_ICO) w = h = 16;
            if (fif == FIF_J2K || fif == FIF_JP2) w = h = 64;
            makePatterned(image, d.type, d.bpp, w, h);
            if (isPortableAnymap(fif) && d.bpp == 1) {
                // PBM's 1 is black and FreeImage writes the index bits as they are: the picture
                // survives when index 1 is the black one.
                std::swap(image.getPalette()[0], image.getPalette()[1]);
            }
            fipMemoryIO stream;
            const BOOL saved = image.saveToMemory(fif, stream);
            if (!exportable(fif, d)) {
                EXPECT_FALSE(saved) << what; // the export test refuses before FreeImage writes
                continue;
            }
            if (const char* defect = knownDefect(fif, d)) {
                std::printf("[ skipped  ] %s: %s\n", what.c_str(), defect);
                continue;
            }
            ASSERT_TRUE(saved) << what;
            fipImage back;
            ASSERT_TRUE(reload(back, stream, fif)) << what;
            EXPECT_EQ(back.getWidth(), image.getWidth()) << what;
            EXPECT_EQ(back.getHeight(), image.getHeight()) << what;
            if (lossyByDesign(fif, d)) continue;
            EXPECT_TRUE(samePixels(image, back)) << what;
            ++exact;
            lossless.insert(formatName(fif));
        }
    }
    // The formats a gel lab relies on must be among those checked exactly.
    for (const char* name : {"TIFF", "PNG", "BMP", "PSD", "TARGA", "GIF", "PGM"}) {
        EXPECT_EQ(lossless.count(name), 1u) << name;
    }
    EXPECT_GE(exact, 30);
}

TEST(fipImageFormats, SixteenBitGrayTravelsThroughFilesNamedByExtension) {
    fipImage image;
    makePatterned(image, FIT_UINT16, 16, 301, 17); // odd width: scan lines carry fill
    for (const char* ext : {"tif", "png", "psd", "pgm"}) {
        const std::string path = scratch(std::string("formats-uint16.") + ext);
        ASSERT_TRUE(image.save(path.c_str())) << ext;
        fipImage back;
        ASSERT_TRUE(back.load(path.c_str())) << ext;
        EXPECT_EQ(back.getImageType(), FIT_UINT16) << ext;
        EXPECT_TRUE(samePixels(image, back)) << ext;
    }
}

// ---------------------------------------------------------------------------------------------
// Gel imagers' TIFFs that FreeImage's camera-raw plugin claims

namespace {

// Little-endian 16-bit sample k of the hand-written pixel bytes (byte i holds i * 7, mod 256).
unsigned handWrittenSample(unsigned k) { return ((2 * k * 7) & 0xFF) | (((2 * k + 1) * 7 & 0xFF) << 8); }

struct FileHandle {
    explicit FileHandle(const std::string& path) : file(std::fopen(path.c_str(), "rb")) {
        io.read_proc = [](void* buffer, unsigned size, unsigned count, fi_handle h) -> unsigned {
            return static_cast<unsigned>(std::fread(buffer, size, count, static_cast<std::FILE*>(h)));
        };
        io.write_proc = [](void*, unsigned, unsigned, fi_handle) -> unsigned { return 0; };
        io.seek_proc = [](fi_handle h, long offset, int origin) -> int {
            return std::fseek(static_cast<std::FILE*>(h), offset, origin);
        };
        io.tell_proc = [](fi_handle h) -> long { return std::ftell(static_cast<std::FILE*>(h)); };
    }
    ~FileHandle() {
        if (file) std::fclose(file);
    }
    FreeImageIO io{};
    std::FILE* file;
};

// Loads path by name, through a handle and from memory; every route must agree on the type.
void expectEveryRouteLoadsAs(const std::string& path, FREE_IMAGE_FORMAT fif, FREE_IMAGE_TYPE type) {
    SCOPED_TRACE(path);
    EXPECT_EQ(fipImage::identifyFIF(path.c_str()), fif);
    fipImage byName;
    ASSERT_TRUE(byName.load(path.c_str()));
    EXPECT_EQ(byName.getImageType(), type);

    FileHandle handle(path);
    ASSERT_NE(handle.file, nullptr);
    EXPECT_EQ(fipImage::identifyFIFFromHandle(&handle.io, handle.file), fif);
    EXPECT_EQ(std::ftell(handle.file), 0L); // detection leaves the position where it was
    fipImage byHandle;
    ASSERT_TRUE(byHandle.loadFromHandle(&handle.io, handle.file));
    EXPECT_EQ(byHandle.getImageType(), type);

    std::vector<BYTE> bytes = readBytes(path);
    fipMemoryIO stream(bytes.data(), static_cast<DWORD>(bytes.size()));
    EXPECT_EQ(fipImage::identifyFIFFromMemory(stream), fif);
    EXPECT_EQ(stream.tell(), 0L);
    fipImage fromMemory;
    ASSERT_TRUE(fromMemory.loadFromMemory(stream));
    EXPECT_EQ(fromMemory.getImageType(), type);
    EXPECT_TRUE(samePixels(byName, byHandle));
    EXPECT_TRUE(samePixels(byName, fromMemory));
}

} // namespace

TEST(fipImageFormats, GrayscaleTiffClaimedAsCameraRawLoadsAsTiff) {
    const std::string path = scratch("formats-imager-gray16.tif");
    writeBytes(path, handWrittenTiff({{64, 48, 1, 16, "Bio-Rad Laboratories"}}));
    if (FreeImage_GetFileType(path.c_str(), 0) != FIF_RAW) {
        GTEST_SKIP() << "this FreeImage does not take the file for camera raw";
    }
    expectEveryRouteLoadsAs(path, FIF_TIFF, FIT_UINT16);

    // The samples are the file's own: top row first in the file, bottom-up scan lines in memory.
    fipImage image;
    ASSERT_TRUE(image.load(path.c_str()));
    EXPECT_EQ(image.getBitsPerPixel(), 16u);
    for (unsigned y : {0u, 47u}) {
        const WORD* line = reinterpret_cast<const WORD*>(image.getScanLine(image.getHeight() - 1 - y));
        for (unsigned x : {0u, 1u, 63u}) EXPECT_EQ(line[x], handWrittenSample(y * 64 + x)) << x << "," << y;
    }

    // The same without the Make tag was a TIFF all along.
    const std::string plain = scratch("formats-plain-gray16.tif");
    writeBytes(plain, handWrittenTiff({{64, 48, 1, 16, ""}}));
    EXPECT_EQ(FreeImage_GetFileType(plain.c_str(), 0), FIF_TIFF);
    fipImage plainImage;
    ASSERT_TRUE(plainImage.load(plain.c_str()));
    EXPECT_TRUE(samePixels(plainImage, image));
}

TEST(fipImageFormats, CameraRawWithColourPreviewKeepsRawDecoding) {
    // A camera's TIFF-based raw file opens with a colour preview; the raw data follows.
    const std::string path = scratch("formats-camera.tif");
    writeBytes(path, handWrittenTiff({{32, 24, 3, 8, "Canon"}, {64, 48, 1, 16, "Canon"}}));
    if (FreeImage_GetFileType(path.c_str(), 0) != FIF_RAW) {
        GTEST_SKIP() << "this FreeImage does not take the file for camera raw";
    }
    expectEveryRouteLoadsAs(path, FIF_RAW, FIT_RGB16);
}

TEST(fipImageFormats, RealBlotScansFromTheImagerLoadAsSixteenBitGray) {
    if (!gelsPresent()) GTEST_SKIP() << "no real scans here";
    for (const char* name : {"western-blot-16bit-minisblack-01.tif", "western-blot-16bit-miniswhite-imagelab-01.tif"}) {
        const std::string path = gel(name);
        ASSERT_EQ(FreeImage_GetFileType(path.c_str(), 0), FIF_RAW) << name; // the reason for the fix
        expectEveryRouteLoadsAs(path, FIF_TIFF, FIT_UINT16);
    }
    // Both hold the same samples; the min-is-white one is not inverted by FreeImage.
    fipImage black, white;
    ASSERT_TRUE(black.load(gel("western-blot-16bit-minisblack-01.tif").c_str()));
    ASSERT_TRUE(white.load(gel("western-blot-16bit-miniswhite-imagelab-01.tif").c_str()));
    EXPECT_TRUE(samePixels(black, white));
}

namespace {

struct Scan {
    const char* file;
    FREE_IMAGE_TYPE type;
    unsigned bpp, width, height;
};

// Type, depth and size of every real scan, from the folder's SOURCES.md.
const Scan kScans[] = {
    {"agarose-dna-16bit-le-saturated-01.tif", FIT_UINT16, 16, 1392, 1032},
    {"agarose-dna-16bit-be-lowrange-02.tif", FIT_UINT16, 16, 1392, 1032},
    {"agarose-dna-16bit-le-twotier-03.tif", FIT_UINT16, 16, 1392, 1032},
    {"western-blot-16bit-miniswhite-imagelab-01.tif", FIT_UINT16, 16, 696, 520},
    {"western-blot-16bit-minisblack-01.tif", FIT_UINT16, 16, 696, 520},
    {"protein-band-crop-16bit-be-01.tif", FIT_UINT16, 16, 124, 125},
    {"agarose-dna-8bit-lzw-ladders-01.tif", FIT_BITMAP, 8, 1360, 1024},
    {"agarose-dna-8bit-lzw-overheated-02.tif", FIT_BITMAP, 8, 1360, 1024},
    {"agarose-dna-8bit-twotier-2x20lanes-03.tif", FIT_BITMAP, 8, 1587, 1752},
    {"gel-1d-8bit-imagej-sample-01.gif", FIT_BITMAP, 8, 276, 467},
    {"gel-2d-8bit-palette-lzw-01.tif", FIT_BITMAP, 8, 1136, 1128},
    {"dna-fingerprint-8bit-gray-icc-8lanes-01.png", FIT_BITMAP, 8, 436, 380},
    {"dna-fingerprint-rgb-png-gray-content-02.png", FIT_BITMAP, 24, 1770, 1058},
    {"gel-6lanes-8bit-gray-as-rgb-01.jpg", FIT_BITMAP, 24, 281, 288},
    {"agarose-dna-8bit-gray-as-rgb-02.jpg", FIT_BITMAP, 24, 640, 480},
    {"agarose-dna-rgb-phone-photo-01.jpg", FIT_BITMAP, 24, 2658, 2754},
    {"agarose-dna-rgb-camera-02.tif", FIT_BITMAP, 24, 660, 730},
    {"sds-page-stainfree-rgb-imagelab-01.tif", FIT_BITMAP, 24, 775, 543},
    {"sds-page-coomassie-rgb-02.jpg", FIT_BITMAP, 24, 894, 617},
};

// Smallest and largest sample of a FIT_UINT16 image.
std::pair<unsigned, unsigned> range16(fipImage& image) {
    unsigned lo = 65535, hi = 0;
    for (unsigned y = 0; y < image.getHeight(); ++y) {
        const WORD* line = reinterpret_cast<const WORD*>(image.getScanLine(y));
        for (unsigned x = 0; x < image.getWidth(); ++x) lo = std::min<unsigned>(lo, line[x]), hi = std::max<unsigned>(hi, line[x]);
    }
    return {lo, hi};
}

} // namespace

TEST(DalvoImageScans, EveryRealScanLoadsWithItsTypeDepthAndSize) {
    if (!gelsPresent()) GTEST_SKIP() << "no real scans here";
    for (const Scan& scan : kScans) {
        SCOPED_TRACE(scan.file);
        CFile file(wide(gel(scan.file)), CFile::modeRead);
        DalvoImage image;
        ASSERT_TRUE(image.CreateFromFile(&file));
        EXPECT_EQ(image.getImageType(), scan.type);
        EXPECT_EQ(image.getBitsPerPixel(), scan.bpp);
        EXPECT_EQ(image.GetSize(), CSize(static_cast<int>(scan.width), static_cast<int>(scan.height)));
    }
    // Value ranges SOURCES.md gives for the 16-bit scans.
    const struct {
        const char* file;
        unsigned lo, hi;
    } ranges[] = {{"agarose-dna-16bit-le-saturated-01.tif", 32, 65535},
                  {"agarose-dna-16bit-be-lowrange-02.tif", 9, 8931},
                  {"western-blot-16bit-minisblack-01.tif", 0, 64024},
                  {"protein-band-crop-16bit-be-01.tif", 4622, 63762}};
    for (const auto& r : ranges) {
        fipImage image;
        ASSERT_TRUE(image.load(gel(r.file).c_str()));
        EXPECT_EQ(range16(image), std::make_pair(r.lo, r.hi)) << r.file;
    }
}
