// DalvoImage: the raster cache with its wait cursor, the raster check of loading, information
// lines and pixel readout, on hand-made bitmaps and on real scans.
#include "ImageTestKit.h"

#include "framework/App.h"
#include "raster/RasterImageGS16.h"
#include "raster/RasterImageRGB.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include <sys/resource.h>
#include <unistd.h>

using namespace imagetest;

namespace {

/// Counts the wait cursor switches of the application object during its lifetime.
struct CursorWatch {
    CursorWatch() : app(AfxGetApp()), depth(app->GetWaitCursorDepth()) { app->ResetWaitCursorCounters(); }
    int begins() const { return app->GetWaitCursorBeginCount(); }
    bool balanced() const { return app->GetWaitCursorDepth() == depth && begins() == app->GetWaitCursorEndCount(); }
    CWinApp* app;
    int depth;
};

enum class Kind { None, Gray, Colour };

Kind kindOf(RasterImage* raster) {
    if (raster && raster->IsKindOf(RUNTIME_CLASS(RasterImageGS16))) return Kind::Gray;
    return raster && raster->IsKindOf(RUNTIME_CLASS(RasterImageRGB)) ? Kind::Colour : Kind::None;
}

// The raster form of a bitmap, spelled out independently of the library.
Kind expectedKind(FIBITMAP* dib) {
    if (!dib || !FreeImage_HasPixels(dib)) return Kind::None;
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
    if (type == FIT_UINT16 || (type == FIT_BITMAP && FreeImage_GetBPP(dib) == 8)) return Kind::Gray;
    const FREE_IMAGE_COLOR_TYPE c = FreeImage_GetColorType(dib);
    return type == FIT_BITMAP && (c == FIC_RGB || c == FIC_RGBALPHA) ? Kind::Colour : Kind::None;
}

int grayAt(RasterImage* raster, int x, int y) { return static_cast<RasterImageGS16*>(raster)->getPixel(x, y); }

std::string readout(DalvoImage& image, int x, int y) {
    CPoint point(x, y);
    CString text = L"untouched";
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

TEST(DalvoImageRasterCache, BuildsOnceUnderTheWaitCursorAndKeepsItOrTriesAgainEachTime) {
    const struct { FREE_IMAGE_TYPE type; unsigned bpp; Kind kind; } cases[] = {
        {FIT_UINT16, 16, Kind::Gray}, {FIT_BITMAP, 8, Kind::Gray}, {FIT_BITMAP, 16, Kind::Colour},
        {FIT_BITMAP, 24, Kind::Colour}, {FIT_BITMAP, 32, Kind::Colour}, {FIT_BITMAP, 1, Kind::None},
        {FIT_BITMAP, 4, Kind::None}, {FIT_FLOAT, 32, Kind::None}, {FIT_RGB16, 48, Kind::None}, {FIT_INT16, 16, Kind::None}};
    ImageProbe images[std::size(cases)], empty, cmyk(FIT_BITMAP, 5, 4, 32), headerOnly;
    std::vector<std::pair<ImageProbe*, Kind>> all = {{&empty, Kind::None}, {&cmyk, Kind::None}, {&headerOnly, Kind::None}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        makePatterned(images[i], cases[i].type, cases[i].bpp);
        all.push_back({&images[i], cases[i].kind});
    }
    // A 32-bit bitmap flagged as CMYK is a colour image of another colour type; a header-only
    // bitmap has no scan lines to copy.
    FreeImage_GetICCProfile(cmyk)->flags |= FIICC_COLOR_IS_CMYK;
    ASSERT_EQ(FreeImage_GetColorType(cmyk), FIC_CMYK);
    static_cast<fipImage&>(headerOnly) = FreeImage_Load(FIF_TIFF, saved(images[0], "cache-header-only.tif").c_str(), FIF_LOAD_NOPIXELS);
    ASSERT_TRUE(headerOnly.isValid() && !FreeImage_HasPixels(headerOnly));

    for (const auto& c : all) {
        SCOPED_TRACE(c.first->getImageType() * 1000 + c.first->getBitsPerPixel());
        CursorWatch watch;
        RasterImage* raster = c.first->getRasterImage();
        EXPECT_EQ(kindOf(raster), c.second);
        EXPECT_TRUE(c.first->getRasterImage() == raster && c.first->cache() == raster);
        // Built once, and then no cursor; nothing built, and each call tries again.
        EXPECT_TRUE(watch.begins() == (raster ? 1 : 2) && watch.balanced());
        EXPECT_TRUE(!raster || (raster->width == 13 && raster->height == 7));
    }

    // An 8-bit image is grayscale whatever its palette: the raster holds the indices.
    ImageProbe coloured(FIT_BITMAP, 4, 3, 8);
    for (unsigned i = 0; i < 256; ++i) coloured.getPalette()[i] = RGBQUAD{BYTE(i), 0, BYTE(255 - i), 0};
    coloured.getScanLine(2)[1] = 200; // top row, column 1
    ASSERT_EQ(kindOf(coloured.getRasterImage()), Kind::Gray);
    EXPECT_EQ(grayAt(coloured.getRasterImage(), 1, 0), 200);
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
    ImageProbe source, target;
    fipImage other;
    makePatterned(source, FIT_UINT16, 16);
    RasterImage* built = source.getRasterImage();
    ASSERT_EQ(kindOf(built), Kind::Gray);
    ImageProbe copy(source);
    EXPECT_EQ(copy.cache(), nullptr);
    RasterImage* own = copy.getRasterImage();
    ASSERT_EQ(kindOf(own), Kind::Gray);
    EXPECT_TRUE(own != built && grayAt(own, 12, 6) == grayAt(built, 12, 6));

    // Assignment drops the raster of the old pixels; the next request builds one of the new.
    makePatterned(target, FIT_BITMAP, 24);
    ASSERT_EQ(kindOf(target.getRasterImage()), Kind::Colour);
    target = source;
    EXPECT_EQ(target.cache(), nullptr);
    EXPECT_EQ(kindOf(target.getRasterImage()), Kind::Gray);

    // A load replaces the bitmap only: the raster of the old pixels stays, stale by design.
    const int before = grayAt(built, 0, 0);
    makePatterned(other, FIT_BITMAP, 24, 4, 4);
    std::vector<BYTE> png = encoded(other, FIF_PNG);
    EXPECT_TRUE(source.Load(png.data(), static_cast<DWORD>(png.size())) && source.getBitsPerPixel() == 24);
    EXPECT_TRUE(source.getRasterImage() == built && grayAt(built, 0, 0) == before);
}

TEST(DalvoImageRasterCache, LoadingAFileEndsWithTheRasterCheck) {
    const struct { FREE_IMAGE_TYPE type; unsigned bpp; const char* name; Kind kind; } cases[] = {
        {FIT_BITMAP, 1, "cache-1bit.png", Kind::None}, {FIT_BITMAP, 8, "cache-8bit.tif", Kind::Gray},
        {FIT_UINT16, 16, "cache-16bit.tif", Kind::Gray}, {FIT_BITMAP, 24, "cache-24bit.png", Kind::Colour}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fipImage file;
        makePatterned(file, c.type, c.bpp);
        const std::string path = saved(file, c.name);
        ImageProbe image, fromMemory;
        CursorWatch watch;
        EXPECT_EQ(createFromFile(image, path), c.kind != Kind::None);
        EXPECT_EQ(image.getBitsPerPixel(), c.bpp); // the bitmap stays also when the check fails
        EXPECT_EQ(kindOf(image.cache()), c.kind);
        EXPECT_TRUE(watch.begins() == 1 && watch.balanced());
        // From memory: the same bytes load without building a raster.
        std::vector<BYTE> bytes = readBytes(path);
        EXPECT_TRUE(fromMemory.Load(bytes.data(), static_cast<DWORD>(bytes.size())) && !fromMemory.cache());
    }

    // A raster cached before the load passes the check for a bitmap that has no raster form.
    ImageProbe image;
    makePatterned(image, FIT_BITMAP, 8);
    RasterImage* earlier = image.getRasterImage();
    EXPECT_TRUE(createFromFile(image, scratch("cache-1bit.png")));
    EXPECT_TRUE(image.getBitsPerPixel() == 1 && image.cache() == earlier);
}

TEST(DalvoImageInfo, FourLinesAppendedInOrder) {
    // 40 header + 256 * 4 palette + 1024 * 768 pixels = 787432 bytes = 0.75095 MB; 16 bits at
    // 3001 pixels make 6002 bytes, filled to 6004 a row: 40 + 6004 * 2000 = 12008040 = 11.45176 MB.
    struct { DalvoImage image; const char* expected; } cases[] = {
        {DalvoImage(FIT_BITMAP, 1024, 768, 8), "Width (pixels)|1024;Height (pixels)|768;Bits Per Pixel|8;Image Size (MB)|0.751"},
        {DalvoImage(FIT_UINT16, 3001, 2000, 16), "Width (pixels)|3001;Height (pixels)|2000;Bits Per Pixel|16;Image Size (MB)|11.452"},
        {DalvoImage(), "Width (pixels)|0;Height (pixels)|0;Bits Per Pixel|0;Image Size (MB)|0.000"}};
    for (auto& c : cases) {
        CStringArray lines;
        lines.Add(L"Name|gel 7");
        c.image.getImageInfo(lines);
        std::string joined;
        for (int i = 0; i < lines.GetSize(); ++i) joined += lines[i].ToUtf8() + ";";
        EXPECT_EQ(joined, std::string("Name|gel 7;") + c.expected + ";");
    }
}

TEST(DalvoImageReadout, GrayAndColourFormatsReadTheRowFromTheTop) {
    DalvoImage eight(FIT_BITMAP, 9, 20, 8), sixteen(FIT_UINT16, 1300, 60, 16);
    eight.getScanLine(20 - 1 - 12)[5] = 7;
    eight.getScanLine(12)[5] = 99; // the same row counted from the bottom
    reinterpret_cast<WORD*>(sixteen.getScanLine(60 - 1 - 56))[1234] = 4095;
    EXPECT_EQ(readout(eight, 5, 12), "(005,012)=[007]");
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

    // The text stays without a raster form, for a point outside and for null arguments.
    DalvoImage oneBit(FIT_BITMAP, 8, 8, 1), empty, gray(FIT_UINT16, 4, 3, 16);
    EXPECT_EQ(readout(oneBit, 0, 0) + readout(empty, 0, 0), "untoucheduntouched");
    for (const CPoint& p : {CPoint(-1, 0), CPoint(0, -1), CPoint(4, 0), CPoint(0, 3), CPoint(1 << 30, 1 << 30)})
        EXPECT_EQ(readout(gray, p.x, p.y), "untouched") << p.x << "," << p.y;
    EXPECT_EQ(readout(gray, 3, 2), "(003,002)=[000]");
    CPoint point(0, 0);
    CString text = L"kept";
    EXPECT_TRUE(gray.GetFormatedPixelString(nullptr, &text) && gray.GetFormatedPixelString(&point, nullptr));
    EXPECT_EQ(text, CString(L"kept"));
}

TEST(DalvoImageRealScans, EveryScanLoadsWithItsTypeSizeRangeRasterAndReadout) {
    if (!gelsPresent()) GTEST_SKIP() << "no real scans here";
    // Type, depth and size of every real scan, and the value range of the 16-bit ones that it
    // gives (hi 0: none given), from the folder's SOURCES.md.
    const struct { const char* file; FREE_IMAGE_TYPE type; unsigned bpp; int width, height; unsigned lo, hi; } scans[] = {
        {"agarose-dna-16bit-le-saturated-01.tif", FIT_UINT16, 16, 1392, 1032, 32, 65535},
        {"agarose-dna-16bit-be-lowrange-02.tif", FIT_UINT16, 16, 1392, 1032, 9, 8931},
        {"agarose-dna-16bit-le-twotier-03.tif", FIT_UINT16, 16, 1392, 1032, 0, 0},
        {"western-blot-16bit-miniswhite-imagelab-01.tif", FIT_UINT16, 16, 696, 520, 0, 0},
        {"western-blot-16bit-minisblack-01.tif", FIT_UINT16, 16, 696, 520, 0, 64024},
        {"protein-band-crop-16bit-be-01.tif", FIT_UINT16, 16, 124, 125, 4622, 63762},
        {"agarose-dna-8bit-lzw-ladders-01.tif", FIT_BITMAP, 8, 1360, 1024, 0, 0},
        {"agarose-dna-8bit-lzw-overheated-02.tif", FIT_BITMAP, 8, 1360, 1024, 0, 0},
        {"agarose-dna-8bit-twotier-2x20lanes-03.tif", FIT_BITMAP, 8, 1587, 1752, 0, 0},
        {"gel-1d-8bit-imagej-sample-01.gif", FIT_BITMAP, 8, 276, 467, 0, 0},
        {"gel-2d-8bit-palette-lzw-01.tif", FIT_BITMAP, 8, 1136, 1128, 0, 0},
        {"dna-fingerprint-8bit-gray-icc-8lanes-01.png", FIT_BITMAP, 8, 436, 380, 0, 0},
        {"dna-fingerprint-rgb-png-gray-content-02.png", FIT_BITMAP, 24, 1770, 1058, 0, 0},
        {"gel-6lanes-8bit-gray-as-rgb-01.jpg", FIT_BITMAP, 24, 281, 288, 0, 0},
        {"agarose-dna-8bit-gray-as-rgb-02.jpg", FIT_BITMAP, 24, 640, 480, 0, 0},
        {"agarose-dna-rgb-phone-photo-01.jpg", FIT_BITMAP, 24, 2658, 2754, 0, 0},
        {"agarose-dna-rgb-camera-02.tif", FIT_BITMAP, 24, 660, 730, 0, 0},
        {"sds-page-stainfree-rgb-imagelab-01.tif", FIT_BITMAP, 24, 775, 543, 0, 0},
        {"sds-page-coomassie-rgb-02.jpg", FIT_BITMAP, 24, 894, 617, 0, 0}};
    for (const auto& scan : scans) {
        SCOPED_TRACE(scan.file);
        ImageProbe image;
        ASSERT_TRUE(createFromFile(image, gel(scan.file)));
        EXPECT_TRUE(image.getImageType() == scan.type && image.getBitsPerPixel() == scan.bpp);
        EXPECT_EQ(image.GetSize(), CSize(scan.width, scan.height));
        FIBITMAP* dib = image;
        EXPECT_EQ(kindOf(image.cache()), expectedKind(dib));
        const int w = scan.width, h = scan.height;
        unsigned lo = 65535, hi = 0;
        for (int y = 0; scan.hi && y < h; ++y) {
            const WORD* line = reinterpret_cast<const WORD*>(image.getScanLine(y));
            for (int x = 0; x < w; ++x) lo = std::min<unsigned>(lo, line[x]), hi = std::max<unsigned>(hi, line[x]);
        }
        EXPECT_TRUE(!scan.hi || (lo == scan.lo && hi == scan.hi)) << lo << ".." << hi;

        // The readout, spelled out from FreeImage's own view of the pixels.
        for (const CPoint& p : {CPoint(0, 0), CPoint(w - 1, 0), CPoint(0, h - 1), CPoint(w - 1, h - 1), CPoint(w / 2, h / 2)}) {
            const unsigned line = static_cast<unsigned>(h - 1 - p.y);
            char expected[64] = "untouched";
            RGBQUAD q{};
            if (expectedKind(dib) == Kind::Gray) {
                const BYTE* scanLine = FreeImage_GetScanLine(dib, static_cast<int>(line));
                const int value = scan.type == FIT_UINT16 ? reinterpret_cast<const WORD*>(scanLine)[p.x] : scanLine[p.x];
                std::snprintf(expected, sizeof expected, "(%.3d,%.3d)=[%.3d]", p.x, p.y, value);
            } else if (FreeImage_GetPixelColor(dib, static_cast<unsigned>(p.x), line, &q)) {
                std::snprintf(expected, sizeof expected, "(%.3d,%.3d)=[%.3d,%.3d,%.3d]", p.x, p.y, q.rgbRed, q.rgbGreen, q.rgbBlue);
            }
            EXPECT_EQ(readout(image, p.x, p.y), expected) << p.x << "," << p.y;
        }
    }
}
