// Formats: round trips through every writer FreeImage has here, detection of gel-imager TIFFs
// that the camera-raw plugin claims, and the real scans.
#include "ImageTestKit.h"

#include <algorithm>
#include <cstdio>
#include <set>

using namespace imagetest;

namespace {

// FreeImage's PSD writer leaks a channel table on every standard bitmap it writes; a leak checker
// would stop the run on it, so sanitized builds do not write those.
#if defined(__SANITIZE_ADDRESS__)
const bool kLeakChecked = true;
#else
const bool kLeakChecked = false;
#endif

struct Depth { const char* name; FREE_IMAGE_TYPE type; unsigned bpp; };

const Depth kDepths[] = {{"1-bit", FIT_BITMAP, 1},   {"4-bit", FIT_BITMAP, 4},   {"8-bit", FIT_BITMAP, 8},
                         {"uint16", FIT_UINT16, 16}, {"24-bit", FIT_BITMAP, 24}, {"32-bit", FIT_BITMAP, 32},
                         {"float", FIT_FLOAT, 32}};

// What the export test must accept, spelled out from FreeImage's own declarations.
bool exportable(FREE_IMAGE_FORMAT fif, const Depth& d) {
    if (fif == FIF_PSD && d.type == FIT_BITMAP && d.bpp == 1) return false; // refused by the wrapper
    if (d.type == FIT_BITMAP) return FreeImage_FIFSupportsWriting(fif) && FreeImage_FIFSupportsExportBPP(fif, d.bpp);
    return FreeImage_FIFSupportsExportType(fif, d.type);
}

// Writers whose default options lose information by design (EXR stores floats as halves).
bool lossyByDesign(FREE_IMAGE_FORMAT fif, const Depth& d) {
    return fif == FIF_JPEG || fif == FIF_JNG || fif == FIF_J2K || fif == FIF_JP2 || fif == FIF_WEBP ||
           fif == FIF_JXR || (fif == FIF_EXR && d.type == FIT_FLOAT);
}

// FreeImage 3.18's own defects, left out: its JPEG writer declares 32 bits but refuses RGBA, its
// JPEG-XR writer fails at every size ("Invalid instruction"), its PSD reader refuses what its
// writer wrote at 8 bits and as float.
bool knownDefect(FREE_IMAGE_FORMAT fif, const Depth& d) {
    return (fif == FIF_JPEG && d.bpp == 32) || fif == FIF_JXR || (fif == FIF_PSD && (d.bpp == 8 || d.type == FIT_FLOAT));
}

// Reads the saved bytes back: from memory where the format has a signature, else from a file
// named with the format's extension, which is how such files are recognised.
bool reload(fipImage& image, fipMemoryIO& stream, FREE_IMAGE_FORMAT fif) {
    stream.seek(0, SEEK_SET);
    if (fipImage::identifyFIFFromMemory(stream) != FIF_UNKNOWN) return image.loadFromMemory(stream) != FALSE;
    BYTE* data = nullptr;
    DWORD size = 0;
    stream.acquire(&data, &size);
    const std::string extensions = FreeImage_GetFIFExtensionList(fif);
    const std::string path = scratch("formats-roundtrip." + extensions.substr(0, extensions.find(',')));
    writeBytes(path, std::vector<BYTE>(data, data + size));
    return image.load(path.c_str()) != FALSE;
}

} // namespace

TEST(fipImageFormats, LosslessWritersGiveBackTheSamePixelsAtEveryDepthTheyAccept) {
    std::set<std::string> lossless;
    int exact = 0;
    for (int i = 0; i < FreeImage_GetFIFCount(); ++i) {
        const FREE_IMAGE_FORMAT fif = static_cast<FREE_IMAGE_FORMAT>(i);
        if (!FreeImage_FIFSupportsWriting(fif)) continue;
        const std::string format = FreeImage_GetFormatFromFIF(fif);
        for (const Depth& d : kDepths) {
            if (kLeakChecked && fif == FIF_PSD && d.type == FIT_BITMAP) continue;
            SCOPED_TRACE(format + " " + d.name);
            // Icons come in standard sizes only, JPEG 2000 needs room for its resolution levels;
            // everything else gets an odd width, so that scan lines carry fill.
            const unsigned side = fif == FIF_ICO ? 16 : fif == FIF_J2K || fif == FIF_JP2 ? 64 : 0;
            fipImage image, back;
            makePatterned(image, d.type, d.bpp, side ? side : 13, side ? side : 7);
            // PBM's 1 is black and FreeImage writes the index bits as they are: the picture
            // survives when index 1 is the black one.
            const bool pnm = fif == FIF_PBM || fif == FIF_PBMRAW || fif == FIF_PGM || fif == FIF_PGMRAW ||
                             fif == FIF_PPM || fif == FIF_PPMRAW;
            if (pnm && d.bpp == 1) std::swap(image.getPalette()[0], image.getPalette()[1]);
            fipMemoryIO stream;
            const BOOL saved = image.saveToMemory(fif, stream);
            if (!exportable(fif, d)) {
                EXPECT_FALSE(saved); // the export test refuses before FreeImage writes
                continue;
            }
            if (knownDefect(fif, d)) continue;
            ASSERT_TRUE(saved);
            ASSERT_TRUE(reload(back, stream, fif));
            EXPECT_TRUE(back.getWidth() == image.getWidth() && back.getHeight() == image.getHeight());
            if (lossyByDesign(fif, d)) continue;
            EXPECT_TRUE(samePixels(image, back));
            ++exact;
            lossless.insert(format);
        }
    }
    // The formats a gel lab relies on must be among those checked exactly.
    for (const char* name : {"TIFF", "PNG", "BMP", "PSD", "TARGA", "GIF", "PGM"}) EXPECT_EQ(lossless.count(name), 1u) << name;
    EXPECT_GE(exact, 30);
}

namespace {

std::FILE* stdioFile(fi_handle h) { return static_cast<std::FILE*>(h); }

// A FreeImageIO over a stdio file.
struct FileHandle {
    explicit FileHandle(const std::string& path) : file(std::fopen(path.c_str(), "rb")) {
        io.read_proc = [](void* to, unsigned size, unsigned n, fi_handle h) { return unsigned(std::fread(to, size, n, stdioFile(h))); };
        io.write_proc = [](void*, unsigned, unsigned, fi_handle) { return 0u; };
        io.seek_proc = [](fi_handle h, long offset, int origin) { return std::fseek(stdioFile(h), offset, origin); };
        io.tell_proc = [](fi_handle h) { return std::ftell(stdioFile(h)); };
    }
    ~FileHandle() {
        if (file) std::fclose(file);
    }
    FreeImageIO io{};
    std::FILE* file;
};

// Loads path by name, through a handle and from memory; every route must agree on format, type
// and pixels, and detection must leave the position where it was.
void expectEveryRouteLoadsAs(const std::string& path, FREE_IMAGE_FORMAT fif, FREE_IMAGE_TYPE type) {
    SCOPED_TRACE(path);
    fipImage byName, byHandle, fromMemory;
    EXPECT_EQ(fipImage::identifyFIF(path.c_str()), fif);
    ASSERT_TRUE(byName.load(path.c_str()));
    EXPECT_EQ(byName.getImageType(), type);

    FileHandle handle(path);
    ASSERT_NE(handle.file, nullptr);
    EXPECT_EQ(fipImage::identifyFIFFromHandle(&handle.io, handle.file), fif);
    EXPECT_EQ(std::ftell(handle.file), 0L);
    ASSERT_TRUE(byHandle.loadFromHandle(&handle.io, handle.file));
    EXPECT_TRUE(samePixels(byName, byHandle));

    std::vector<BYTE> bytes = readBytes(path);
    fipMemoryIO stream(bytes.data(), static_cast<DWORD>(bytes.size()));
    EXPECT_EQ(fipImage::identifyFIFFromMemory(stream), fif);
    EXPECT_EQ(stream.tell(), 0L);
    ASSERT_TRUE(fromMemory.loadFromMemory(stream));
    EXPECT_TRUE(samePixels(byName, fromMemory));
}

} // namespace

TEST(fipImageFormats, GrayscaleTiffClaimedAsCameraRawLoadsAsTiff) {
    const std::string path = scratch("formats-imager-gray16.tif"), plain = scratch("formats-plain-gray16.tif");
    writeBytes(path, handWrittenTiff({{64, 48, 1, 16, "Bio-Rad Laboratories"}}));
    writeBytes(plain, handWrittenTiff({{64, 48, 1, 16, ""}}));
    if (FreeImage_GetFileType(path.c_str(), 0) != FIF_RAW) GTEST_SKIP() << "FreeImage does not take it for camera raw";
    expectEveryRouteLoadsAs(path, FIF_TIFF, FIT_UINT16);

    // The samples are the file's own (byte i is i * 7, little-endian): top row first in the file,
    // bottom-up scan lines in memory.
    fipImage image, plainImage;
    ASSERT_TRUE(image.load(path.c_str()));
    for (unsigned y : {0u, 47u}) {
        const WORD* line = reinterpret_cast<const WORD*>(image.getScanLine(image.getHeight() - 1 - y));
        for (unsigned x : {0u, 1u, 63u}) {
            const unsigned k = y * 64 + x;
            EXPECT_EQ(line[x], ((2 * k * 7) & 0xFF) | (((2 * k + 1) * 7 & 0xFF) << 8)) << x << "," << y;
        }
    }
    // Without the Make tag it was a TIFF all along, with the same samples.
    EXPECT_EQ(FreeImage_GetFileType(plain.c_str(), 0), FIF_TIFF);
    ASSERT_TRUE(plainImage.load(plain.c_str()));
    EXPECT_TRUE(samePixels(plainImage, image));
}

TEST(fipImageFormats, CameraRawWithColourPreviewKeepsRawDecoding) {
    // A camera's TIFF-based raw file opens with a colour preview; the raw data follows.
    const std::string path = scratch("formats-camera.tif");
    writeBytes(path, handWrittenTiff({{32, 24, 3, 8, "Canon"}, {64, 48, 1, 16, "Canon"}}));
    if (FreeImage_GetFileType(path.c_str(), 0) != FIF_RAW) GTEST_SKIP() << "FreeImage does not take it for camera raw";
    expectEveryRouteLoadsAs(path, FIF_RAW, FIT_RGB16);
}

TEST(fipImageFormats, RealBlotScansFromTheImagerLoadAsSixteenBitGray) {
    if (!gelsPresent()) GTEST_SKIP() << "no real scans here";
    const std::string black = gel("western-blot-16bit-minisblack-01.tif");
    const std::string white = gel("western-blot-16bit-miniswhite-imagelab-01.tif");
    for (const std::string& path : {black, white}) {
        ASSERT_EQ(FreeImage_GetFileType(path.c_str(), 0), FIF_RAW) << path; // the reason for the fix
        expectEveryRouteLoadsAs(path, FIF_TIFF, FIT_UINT16);
    }
    // Both hold the same samples; the min-is-white one is not inverted by FreeImage.
    fipImage blackImage, whiteImage;
    ASSERT_TRUE(blackImage.load(black.c_str()) && whiteImage.load(white.c_str()));
    EXPECT_TRUE(samePixels(blackImage, whiteImage));
}
