// Formats: every writer against a table of the depths it refuses, and detection of gel-imager
// TIFFs that the camera-raw plugin claims.
#include "ImageTestKit.h"
#include "TestTables.h"

#include <cstdio>
#include <sstream>

using namespace imagetest;

namespace {

// FreeImage's PSD writer leaks a channel table on every standard bitmap it writes; a leak checker
// would stop the run on it, so sanitized builds do not write those.
#if defined(__SANITIZE_ADDRESS__)
const bool kLeakChecked = true;
#else
const bool kLeakChecked = false;
#endif

struct Depth {
    const char* name;
    FREE_IMAGE_TYPE type;
    unsigned bpp;
};

const Depth kDepths[] = {{"1-bit", FIT_BITMAP, 1},   {"4-bit", FIT_BITMAP, 4},   {"8-bit", FIT_BITMAP, 8},
                         {"uint16", FIT_UINT16, 16}, {"24-bit", FIT_BITMAP, 24}, {"32-bit", FIT_BITMAP, 32},
                         {"float", FIT_FLOAT, 32}};

} // namespace

TEST(fipImageFormats, EveryWriterRefusesOrWritesEachDepthAsItsTableSays) {
    const std::vector<std::string> rows = TableRows("image/data/writers.txt");
    for (const std::string& line : rows) {
        std::istringstream cells(line);
        std::string format, outcome, bar;
        cells >> format;
        const FREE_IMAGE_FORMAT fif = FreeImage_GetFIFFromFormat(format.c_str());
        ASSERT_TRUE(FreeImage_FIFSupportsWriting(fif)) << format;
        for (const Depth& d : kDepths) {
            cells >> bar >> outcome;
            if (outcome == "defect" || (kLeakChecked && fif == FIF_PSD && d.type == FIT_BITMAP)) continue;
            // Icons come in standard sizes only, JPEG 2000 needs room for its resolution levels.
            const unsigned side = fif == FIF_ICO ? 16 : fif == FIF_J2K || fif == FIF_JP2 ? 64 : 0;
            fipImage image;
            makePatterned(image, d.type, d.bpp, side ? side : 13, side ? side : 7);
            fipMemoryIO stream;
            EXPECT_EQ(image.saveToMemory(fif, stream) != FALSE, outcome != "refused")
                << format << " " << d.name;
        }
    }
    int present = 0;
    for (int i = 0; i < FreeImage_GetFIFCount(); ++i)
        present += FreeImage_FIFSupportsWriting(FREE_IMAGE_FORMAT(i));
    EXPECT_EQ(int(rows.size()), present); // every writer has its row
}

namespace {

std::FILE* stdioFile(fi_handle h) {
    return static_cast<std::FILE*>(h);
}

// A FreeImageIO over a stdio file.
struct FileHandle {
    explicit FileHandle(const std::string& path) : file(std::fopen(path.c_str(), "rb")) {
        io.read_proc = [](void* to, unsigned size, unsigned n, fi_handle h) {
            return unsigned(std::fread(to, size, n, stdioFile(h)));
        };
        io.seek_proc = [](fi_handle h, long offset, int origin) {
            return std::fseek(stdioFile(h), offset, origin);
        };
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
    const std::string path = scratch("formats-imager-gray16.tif");
    writeBytes(path, handWrittenTiff({{64, 48, 1, 16, "Bio-Rad Laboratories"}}));
    if (FreeImage_GetFileType(path.c_str(), 0) != FIF_RAW)
        GTEST_SKIP() << "FreeImage does not take it for camera raw";
    expectEveryRouteLoadsAs(path, FIF_TIFF, FIT_UINT16); // the samples are then libtiff's reading
}

TEST(fipImageFormats, CameraRawWithColourPreviewKeepsRawDecoding) {
    // A camera's TIFF-based raw file opens with a colour preview; the raw data follows.
    const std::string path = scratch("formats-camera.tif");
    writeBytes(path, handWrittenTiff({{32, 24, 3, 8, "Canon"}, {64, 48, 1, 16, "Canon"}}));
    if (FreeImage_GetFileType(path.c_str(), 0) != FIF_RAW)
        GTEST_SKIP() << "FreeImage does not take it for camera raw";
    expectEveryRouteLoadsAs(path, FIF_RAW, FIT_RGB16);
}
