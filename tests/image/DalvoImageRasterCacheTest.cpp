// DalvoImage: the raster cache with its wait cursor, the raster check of loading, information
// lines and pixel readout, on hand-made bitmaps and on real scans.
#include "ImageTestKit.h"

#include "framework/App.h"
#include "raster/RasterImageGS16.h"
#include "raster/RasterImageRGB.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/resource.h>
#include <unistd.h>

using namespace imagetest;

namespace {

/// Counts the wait cursor switches of the application object during its lifetime.
struct CursorWatch {
    CursorWatch() : app(AfxGetApp()), depth(app->GetWaitCursorDepth()) { app->ResetWaitCursorCounters(); }
    int begins() const { return app->GetWaitCursorBeginCount(); }
    int ends() const { return app->GetWaitCursorEndCount(); }
    bool balanced() const { return app->GetWaitCursorDepth() == depth && begins() == ends(); }
    CWinApp* app;
    int depth;
};

bool isGray(RasterImage* raster) { return raster && raster->IsKindOf(RUNTIME_CLASS(RasterImageGS16)); }
bool isColour(RasterImage* raster) { return raster && raster->IsKindOf(RUNTIME_CLASS(RasterImageRGB)); }

// The raster form of a bitmap, spelled out independently of the library.
enum class Kind { None, Gray, Colour };
Kind expectedKind(FIBITMAP* dib) {
    if (!dib || !FreeImage_HasPixels(dib)) return Kind::None;
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
    if (type == FIT_UINT16) return Kind::Gray;
    if (type != FIT_BITMAP) return Kind::None;
    if (FreeImage_GetBPP(dib) == 8) return Kind::Gray;
    const FREE_IMAGE_COLOR_TYPE c = FreeImage_GetColorType(dib);
    return c == FIC_RGB || c == FIC_RGBALPHA ? Kind::Colour : Kind::None;
}
Kind kindOf(RasterImage* raster) { return isGray(raster) ? Kind::Gray : isColour(raster) ? Kind::Colour : Kind::None; }

std::string readout(DalvoImage& image, int x, int y, const char* before = "untouched") {
    CPoint point(x, y);
    CString text = CString::FromUtf8(before);
    EXPECT_TRUE(image.GetFormatedPixelString(&point, &text));
    return text.ToUtf8();
}

std::string saved(fipImage& image, const std::string& name) {
    const std::string path = scratch(name);
    EXPECT_TRUE(image.save(path.c_str())) << name;
    return path;
}

BOOL createFromFile(DalvoImage& image, const std::string& path) {
    CFile file(wide(path), CFile::modeRead);
    return image.CreateFromFile(&file);
}

} // namespace

TEST(DalvoImageRasterCache, BuildsOnceUnderTheWaitCursorAndKeepsIt) {
    struct Case {
        FREE_IMAGE_TYPE type;
        unsigned bpp;
        Kind kind;
    } cases[] = {{FIT_UINT16, 16, Kind::Gray}, {FIT_BITMAP, 8, Kind::Gray}, {FIT_BITMAP, 16, Kind::Colour},
                 {FIT_BITMAP, 24, Kind::Colour}, {FIT_BITMAP, 32, Kind::Colour}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bpp);
        ImageProbe image;
        makePatterned(image, c.type, c.bpp);
        CursorWatch watch;
        RasterImage* raster = image.getRasterImage();
        EXPECT_EQ(kindOf(raster), c.kind);
        EXPECT_EQ(image.cache(), raster);
        EXPECT_EQ(watch.begins(), 1);
        EXPECT_TRUE(watch.balanced());
        EXPECT_EQ(image.getRasterImage(), raster); // cached: the cursor stays off
        EXPECT_EQ(watch.begins(), 1);
        EXPECT_EQ(raster->width, 13);
        EXPECT_EQ(raster->height, 7);
    }

    // An 8-bit image is grayscale whatever its palette: the raster holds the indices.
    ImageProbe coloured(FIT_BITMAP, 4, 3, 8);
    for (unsigned i = 0; i < 256; ++i) coloured.getPalette()[i] = RGBQUAD{BYTE(i), 0, BYTE(255 - i), 0};
    coloured.getScanLine(2)[1] = 200; // top row, column 1
    RasterImage* raster = coloured.getRasterImage();
    ASSERT_TRUE(isGray(raster));
    EXPECT_EQ(static_cast<RasterImageGS16*>(raster)->getPixel(1, 0), 200);
}

TEST(DalvoImageRasterCache, ImagesWithoutARasterFormTryAgainEachTime) {
    ImageProbe empty;
    ImageProbe floating(FIT_FLOAT, 5, 4, 32), rgb16(FIT_RGB16, 5, 4, 48), int16(FIT_INT16, 5, 4, 16);
    ImageProbe oneBit(FIT_BITMAP, 5, 4, 1), fourBits(FIT_BITMAP, 5, 4, 4);
    // A 32-bit bitmap flagged as CMYK is a colour image of another colour type.
    ImageProbe cmyk(FIT_BITMAP, 5, 4, 32);
    FreeImage_GetICCProfile(cmyk)->flags |= FIICC_COLOR_IS_CMYK;
    ASSERT_EQ(FreeImage_GetColorType(cmyk), FIC_CMYK);
    // A header-only bitmap has no scan lines to copy.
    fipImage sample;
    makePatterned(sample, FIT_UINT16, 16);
    const std::string path = saved(sample, "cache-header-only.tif");
    ImageProbe headerOnly;
    static_cast<fipImage&>(headerOnly) = FreeImage_Load(FIF_TIFF, path.c_str(), FIF_LOAD_NOPIXELS);
    ASSERT_TRUE(headerOnly.isValid());
    ASSERT_FALSE(FreeImage_HasPixels(headerOnly));

    for (ImageProbe* image : {&empty, &floating, &rgb16, &int16, &oneBit, &fourBits, &cmyk, &headerOnly}) {
        CursorWatch watch;
        EXPECT_EQ(image->getRasterImage(), nullptr);
        EXPECT_EQ(image->getRasterImage(), nullptr);
        EXPECT_EQ(image->cache(), nullptr);
        EXPECT_EQ(watch.begins(), 2); // no cache: each call tries again
        EXPECT_TRUE(watch.balanced());
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define KESTRO_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRO_UNDER_ASAN 1
#endif
#endif

TEST(DalvoImageRasterCache, WaitCursorGoesOffWhenTheRasterCannotBeAllocated) {
#ifdef KESTRO_UNDER_ASAN
    GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#else
    // In a child process: the bitmap is allocated, then the address space is capped so that
    // the raster (twice the bitmap's bytes) does not fit any more.
    auto child = [] {
        ImageProbe image(FIT_UINT16, 4096, 4096, 16);
        if (!image.isValid()) _exit(10);
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t(16) << 20);
        const rlimit limit{cap, cap};
        if (pages <= 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(11);
        CursorWatch watch;
        try {
            image.getRasterImage();
            _exit(12);
        } catch (CMemoryException&) {
        }
        if (watch.begins() != 1 || !watch.balanced()) _exit(13);
        _exit(image.cache() == nullptr ? 0 : 14);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
#endif
}

TEST(DalvoImageRasterCache, CopiesBuildTheirOwnAndLoadsKeepTheOldOne) {
    ImageProbe source;
    makePatterned(source, FIT_UINT16, 16);
    RasterImage* built = source.getRasterImage();
    ASSERT_TRUE(isGray(built));

    ImageProbe copy(source);
    EXPECT_EQ(copy.cache(), nullptr);
    RasterImage* own = copy.getRasterImage();
    ASSERT_TRUE(isGray(own));
    EXPECT_NE(own, built);
    EXPECT_EQ(static_cast<RasterImageGS16*>(own)->getPixel(12, 6), static_cast<RasterImageGS16*>(built)->getPixel(12, 6));

    // Assignment drops the raster of the old pixels; the next request builds one of the new.
    ImageProbe target;
    makePatterned(target, FIT_BITMAP, 24);
    ASSERT_TRUE(isColour(target.getRasterImage()));
    target = source;
    EXPECT_EQ(target.cache(), nullptr);
    EXPECT_TRUE(isGray(target.getRasterImage()));

    // A load replaces the bitmap only: the raster of the old pixels stays, stale by design.
    const int before = static_cast<RasterImageGS16*>(built)->getPixel(0, 0);
    fipImage other;
    makePatterned(other, FIT_BITMAP, 24, 4, 4);
    fipMemoryIO stream;
    ASSERT_TRUE(other.saveToMemory(FIF_PNG, stream));
    BYTE* data = nullptr;
    DWORD size = 0;
    stream.acquire(&data, &size);
    EXPECT_TRUE(source.Load(data, size));
    EXPECT_EQ(source.getBitsPerPixel(), 24u);
    EXPECT_EQ(source.getRasterImage(), built);
    EXPECT_EQ(static_cast<RasterImageGS16*>(built)->getPixel(0, 0), before);
}

TEST(DalvoImageRasterCache, LoadingAFileEndsWithTheRasterCheck) {
    struct Case {
        FREE_IMAGE_TYPE type;
        unsigned bpp;
        const char* name;
        Kind kind;
    } cases[] = {{FIT_BITMAP, 1, "cache-1bit.png", Kind::None},
                 {FIT_BITMAP, 8, "cache-8bit.tif", Kind::Gray},
                 {FIT_UINT16, 16, "cache-16bit.tif", Kind::Gray},
                 {FIT_BITMAP, 24, "cache-24bit.png", Kind::Colour}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fipImage file;
        makePatterned(file, c.type, c.bpp);
        const std::string path = saved(file, c.name);

        ImageProbe image;
        CursorWatch watch;
        EXPECT_EQ(createFromFile(image, path), c.kind != Kind::None);
        EXPECT_TRUE(image.IsAvailable()); // also when the check fails
        EXPECT_EQ(image.getBitsPerPixel(), c.bpp);
        EXPECT_EQ(kindOf(image.cache()), c.kind);
        EXPECT_EQ(watch.begins(), 1);
        EXPECT_TRUE(watch.balanced());

        // From memory: the same bytes load without building a raster.
        std::vector<BYTE> bytes = readBytes(path);
        ImageProbe fromMemory;
        EXPECT_TRUE(fromMemory.Load(bytes.data(), static_cast<DWORD>(bytes.size())));
        EXPECT_EQ(fromMemory.cache(), nullptr);
    }

    // A raster cached before the load passes the check for a bitmap that has no raster form.
    ImageProbe image;
    makePatterned(image, FIT_BITMAP, 8);
    RasterImage* earlier = image.getRasterImage();
    EXPECT_TRUE(createFromFile(image, scratch("cache-1bit.png")));
    EXPECT_EQ(image.getBitsPerPixel(), 1u);
    EXPECT_EQ(image.cache(), earlier);
}

TEST(DalvoImageInfo, FourLinesAppendedInOrder) {
    DalvoImage image(FIT_BITMAP, 1024, 768, 8);
    CStringArray lines;
    lines.Add(L"Name|gel 7");
    lines.Add(L"Owner|lab");
    image.getImageInfo(lines);
    ASSERT_EQ(lines.GetSize(), 6);
    EXPECT_EQ(lines[0], CString(L"Name|gel 7"));
    EXPECT_EQ(lines[1], CString(L"Owner|lab"));
    EXPECT_EQ(lines[2], CString(L"Width (pixels)|1024"));
    EXPECT_EQ(lines[3], CString(L"Height (pixels)|768"));
    EXPECT_EQ(lines[4], CString(L"Bits Per Pixel|8"));
    // 40 header + 256 * 4 palette + 1024 * 768 pixels = 787432 bytes = 0.75095 MB.
    EXPECT_EQ(lines[5], CString(L"Image Size (MB)|0.751"));

    // 16 bits, 3001 pixels make 6002 bytes, padded to 6004 per row: 40 + 6004 * 2000 = 12008040.
    DalvoImage gray(FIT_UINT16, 3001, 2000, 16);
    CStringArray more;
    gray.getImageInfo(more);
    ASSERT_EQ(more.GetSize(), 4);
    EXPECT_EQ(more[2], CString(L"Bits Per Pixel|16"));
    EXPECT_EQ(more[3], CString(L"Image Size (MB)|11.452")); // 11.45176

    DalvoImage empty;
    CStringArray none;
    empty.getImageInfo(none);
    ASSERT_EQ(none.GetSize(), 4);
    EXPECT_EQ(none[0], CString(L"Width (pixels)|0"));
    EXPECT_EQ(none[3], CString(L"Image Size (MB)|0.000"));
}

TEST(DalvoImageReadout, GrayAndColourFormatsReadTheRowFromTheTop) {
    DalvoImage eight(FIT_BITMAP, 9, 20, 8);
    eight.getScanLine(20 - 1 - 12)[5] = 7;
    eight.getScanLine(12)[5] = 99; // the same row counted from the bottom
    EXPECT_EQ(readout(eight, 5, 12), "(005,012)=[007]");

    DalvoImage sixteen(FIT_UINT16, 1300, 60, 16);
    reinterpret_cast<WORD*>(sixteen.getScanLine(60 - 1 - 56))[1234] = 4095;
    EXPECT_EQ(readout(sixteen, 1234, 56), "(1234,056)=[4095]");
    EXPECT_EQ(readout(sixteen, 1299, 59), "(1299,059)=[000]");

    for (unsigned bpp : {24u, 32u}) {
        DalvoImage colour(FIT_BITMAP, 3, 2, bpp);
        BYTE* top = colour.getScanLine(1); // the last scan line is the top row
        top[FI_RGBA_RED] = 255, top[FI_RGBA_GREEN] = 0, top[FI_RGBA_BLUE] = 16;
        if (bpp == 32) top[FI_RGBA_ALPHA] = 77;
        BYTE* bottomRight = colour.getScanLine(0) + 2 * (bpp / 8);
        bottomRight[FI_RGBA_RED] = 1, bottomRight[FI_RGBA_GREEN] = 22, bottomRight[FI_RGBA_BLUE] = 203;
        EXPECT_EQ(readout(colour, 0, 0), "(000,000)=[255,000,016]");
        EXPECT_EQ(readout(colour, 2, 1), "(002,001)=[001,022,203]");
    }
}

TEST(DalvoImageReadout, TextStaysWithoutARasterOrAPointInside) {
    DalvoImage oneBit(FIT_BITMAP, 8, 8, 1), empty;
    EXPECT_EQ(readout(oneBit, 0, 0), "untouched");
    EXPECT_EQ(readout(empty, 0, 0), "untouched");

    DalvoImage gray(FIT_UINT16, 4, 3, 16);
    for (const CPoint& p : {CPoint(-1, 0), CPoint(0, -1), CPoint(4, 0), CPoint(0, 3), CPoint(1 << 30, 1 << 30)})
        EXPECT_EQ(readout(gray, p.x, p.y), "untouched");
    EXPECT_EQ(readout(gray, 3, 2), "(003,002)=[000]");

    CPoint point(0, 0);
    CString text = L"kept";
    EXPECT_TRUE(gray.GetFormatedPixelString(nullptr, &text));
    EXPECT_EQ(text, CString(L"kept"));
    EXPECT_TRUE(gray.GetFormatedPixelString(&point, nullptr));
}

TEST(DalvoImageRealScans, RasterKindAndReadoutFollowFreeImage) {
    if (!gelsPresent()) GTEST_SKIP() << "no real scans in " << gelsDir();
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(gelsDir()))
        if (entry.path().extension() != ".md") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());

    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        ImageProbe image;
        const BOOL loaded = createFromFile(image, path);
        ASSERT_TRUE(image.IsAvailable());
        FIBITMAP* dib = image;
        const Kind kind = expectedKind(dib);
        EXPECT_EQ(loaded, kind != Kind::None);
        EXPECT_EQ(kindOf(image.cache()), kind);

        const int w = static_cast<int>(FreeImage_GetWidth(dib)), h = static_cast<int>(FreeImage_GetHeight(dib));
        const CPoint points[] = {CPoint(0, 0), CPoint(w - 1, 0), CPoint(0, h - 1), CPoint(w - 1, h - 1), CPoint(w / 2, h / 2)};
        for (const CPoint& p : points) {
            const unsigned line = static_cast<unsigned>(h - 1 - p.y);
            char expected[64] = "untouched";
            if (kind == Kind::Gray) {
                const BYTE* scan = FreeImage_GetScanLine(dib, static_cast<int>(line));
                const int value = FreeImage_GetImageType(dib) == FIT_UINT16 ? reinterpret_cast<const WORD*>(scan)[p.x] : scan[p.x];
                std::snprintf(expected, sizeof expected, "(%.3d,%.3d)=[%.3d]", p.x, p.y, value);
            } else if (kind == Kind::Colour) {
                RGBQUAD q{};
                ASSERT_TRUE(FreeImage_GetPixelColor(dib, static_cast<unsigned>(p.x), line, &q));
                std::snprintf(expected, sizeof expected, "(%.3d,%.3d)=[%.3d,%.3d,%.3d]", p.x, p.y, q.rgbRed, q.rgbGreen, q.rgbBlue);
            }
            EXPECT_EQ(readout(image, p.x, p.y), expected) << p.x << "," << p.y;
        }
    }
}
