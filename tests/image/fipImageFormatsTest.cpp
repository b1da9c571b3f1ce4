// Formats: every writer against its table of depths, and gel-imager TIFFs that camera raw claims.
#include "ImageTestKit.h"

#include <cstdio>

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

// A FreeImageIO over a stdio file.
struct FileHandle {
    explicit FileHandle(const std::string& path) : file(std::fopen(path.c_str(), "rb"), std::fclose) {
        io.read_proc = [](void* to, unsigned size, unsigned n, fi_handle h) {
            return unsigned(std::fread(to, size, n, static_cast<std::FILE*>(h)));
        };
        io.seek_proc = [](fi_handle h, long at, int from) {
            return std::fseek(static_cast<std::FILE*>(h), at, from);
        };
        io.tell_proc = [](fi_handle h) { return std::ftell(static_cast<std::FILE*>(h)); };
    }
    FreeImageIO io{};
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file;
};

// Writes a TIFF that camera raw claims (else skips) and loads it by name, through a handle and from
// memory: every route agrees on format, type and pixels, and detection leaves the position alone.
void expectEveryRouteLoadsAs(const std::string& name, const std::vector<TiffDirectory>& tiff,
                             FREE_IMAGE_FORMAT fif, FREE_IMAGE_TYPE type) {
    const std::string path = scratch(name);
    writeBytes(path, handWrittenTiff(tiff));
    if (FreeImage_GetFileType(path.c_str(), 0) != FIF_RAW) GTEST_SKIP() << "not taken for camera raw";
    fipImage byName, byHandle, fromMemory;
    EXPECT_EQ(fipImage::identifyFIF(path.c_str()), fif);
    ASSERT_TRUE(byName.load(path.c_str()));
    EXPECT_EQ(byName.getImageType(), type);

    FileHandle handle(path);
    ASSERT_NE(handle.file, nullptr);
    EXPECT_EQ(fipImage::identifyFIFFromHandle(&handle.io, handle.file.get()), fif);
    EXPECT_EQ(std::ftell(handle.file.get()), 0L);
    ASSERT_TRUE(byHandle.loadFromHandle(&handle.io, handle.file.get()));
    EXPECT_TRUE(samePixels(byName, byHandle));

    std::vector<BYTE> bytes = readBytes(path);
    fipMemoryIO stream(bytes.data(), static_cast<DWORD>(bytes.size()));
    EXPECT_EQ(fipImage::identifyFIFFromMemory(stream), fif);
    EXPECT_EQ(stream.tell(), 0L);
    ASSERT_TRUE(fromMemory.loadFromMemory(stream));
    EXPECT_TRUE(samePixels(byName, fromMemory));
}

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
            if (outcome == "defect") continue;
                // FreeImage's PSD writer leaks on every standard bitmap, which would stop a leak-checked run.
#ifdef KESTRO_UNDER_ASAN
            if (fif == FIF_PSD && d.type == FIT_BITMAP) continue;
#endif
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

TEST(fipImageFormats, GrayscaleTiffClaimedAsCameraRawLoadsAsTiff) { // the samples are libtiff's reading
    expectEveryRouteLoadsAs("formats-imager-gray16.tif", {{64, 48, 1, 16, "Bio-Rad Laboratories"}}, FIF_TIFF,
                            FIT_UINT16);
}

TEST(fipImageFormats, CameraRawWithColourPreviewKeepsRawDecoding) {
    // A camera's TIFF-based raw file opens with a colour preview; the raw data follows.
    expectEveryRouteLoadsAs("formats-camera.tif", {{32, 24, 3, 8, "Canon"}, {64, 48, 1, 16, "Canon"}},
                            FIF_RAW, FIT_RGB16);
}
