// DalvoImage: the raster cache and its wait cursor, the raster check of loading, information, readout.
#include "ImageTestKit.h"

#include "support/WaitCursorCount.h"
#include "raster/RasterImageGS16.h"
#include "raster/RasterImageRGB.h"

using namespace imagetest;

namespace {

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

std::string readout(DalvoImage& image, int x, int y) {
    CPoint point(x, y);
    CString text = L"untouched";
    EXPECT_TRUE(image.GetFormatedPixelString(&point, &text));
    return text.ToUtf8();
}

} // namespace

TEST(DalvoImageRasterCache, BuiltUnderTheWaitCursorOnceOrEachTimeItFails) {
    const std::tuple<FREE_IMAGE_TYPE, unsigned, Kind> cases[] = {
        {FIT_UINT16, 16, Kind::Gray},   {FIT_BITMAP, 8, Kind::Gray},    {FIT_BITMAP, 16, Kind::Colour},
        {FIT_BITMAP, 24, Kind::Colour}, {FIT_BITMAP, 32, Kind::Colour}, {FIT_BITMAP, 1, Kind::None},
        {FIT_BITMAP, 4, Kind::None},    {FIT_FLOAT, 32, Kind::None},    {FIT_RGB16, 48, Kind::None},
        {FIT_INT16, 16, Kind::None}};
    ImageProbe images[std::size(cases)], empty, cmyk(FIT_BITMAP, 5, 4, 32), headerOnly;
    std::vector<std::pair<ImageProbe*, Kind>> all = {
        {&empty, Kind::None}, {&cmyk, Kind::None}, {&headerOnly, Kind::None}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [type, bpp, kind] = cases[i];
        makePatterned(images[i], type, bpp);
        all.push_back({&images[i], kind});
    }
    // A 32-bit bitmap flagged CMYK is of another colour type; a header-only one has no scan lines.
    FreeImage_GetICCProfile(cmyk)->flags |= FIICC_COLOR_IS_CMYK;
    ASSERT_EQ(FreeImage_GetColorType(cmyk), FIC_CMYK);
    static_cast<fipImage&>(headerOnly) =
        FreeImage_Load(FIF_TIFF, saved(images[0], "cache-header-only.tif").c_str(), FIF_LOAD_NOPIXELS);
    ASSERT_FALSE(FreeImage_HasPixels(headerOnly));
    for (const auto& [image, kind] : all) {
        SCOPED_TRACE(image->getImageType() * 1000 + image->getBitsPerPixel());
        testsupport::WaitCursorCount watch;
        RasterImage* raster = image->getRasterImage();
        EXPECT_EQ(kindOf(raster), kind);
        EXPECT_EQ(image->getRasterImage(), raster);
        // Built once, and then no cursor; nothing built, and each call tries again.
        EXPECT_EQ(watch.state(), raster ? "1 on, balanced" : "2 on, balanced");
        EXPECT_EQ(raster ? raster->width * 100 + raster->height : 1307, 1307); // 13 x 7
    }
}

TEST(DalvoImageRasterCache, WaitCursorGoesOffWhenTheRasterCannotBeAllocated) {
    // In a child process the bitmap fits, and then the capped address space has no room for the raster.
    auto child = [] {
        ImageProbe image(FIT_UINT16, 4096, 4096, 16);
        if (!image.isValid() || !capAddressSpace(16ull << 20)) _exit(10);
        testsupport::WaitCursorCount watch;
        try {
            image.getRasterImage();
            _exit(11);
        } catch (CMemoryException&) {
        }
        _exit(watch.state() != "1 on, balanced" ? 12 : image.cache() ? 13 : 0);
    };
    EXPECT_CHILD_EXITS_CLEANLY(child);
}

TEST(DalvoImageRasterCache, LoadingAFileEndsWithTheRasterCheck) {
    const std::tuple<FREE_IMAGE_TYPE, unsigned, const char*, Kind> cases[] = {
        {FIT_BITMAP, 1, "cache-1bit.png", Kind::None},
        {FIT_BITMAP, 8, "cache-8bit.tif", Kind::Gray},
        {FIT_UINT16, 16, "cache-16bit.tif", Kind::Gray},
        {FIT_BITMAP, 24, "cache-24bit.png", Kind::Colour}};
    for (const auto& [type, bpp, name, kind] : cases) {
        SCOPED_TRACE(name);
        fipImage file;
        makePatterned(file, type, bpp);
        const std::string path = saved(file, name);
        ImageProbe image, fromMemory;
        testsupport::WaitCursorCount watch;
        EXPECT_EQ(createFromFile(image, path), kind != Kind::None);
        EXPECT_EQ(image.getBitsPerPixel(), bpp); // the bitmap stays also when the check fails
        EXPECT_EQ(kindOf(image.cache()), kind);
        EXPECT_EQ(watch.state(), "1 on, balanced");
        // From memory: the same bytes load without building a raster.
        std::vector<BYTE> bytes = readBytes(path);
        EXPECT_TRUE(fromMemory.Load(bytes.data(), static_cast<DWORD>(bytes.size())));
        EXPECT_EQ(fromMemory.cache(), nullptr);
    }
    // A raster cached before the load passes the check for a bitmap that has no raster form.
    ImageProbe image = patterned<ImageProbe>(13, 7, 8);
    RasterImage* earlier = image.getRasterImage();
    EXPECT_TRUE(createFromFile(image, scratch("cache-1bit.png")));
    EXPECT_EQ(image.cache(), earlier);
}

TEST(DalvoImageInfo, FourLinesAppendedInOrder) {
    // 40 header + 256 * 4 palette + 1024 * 768 pixels = 787432 bytes = 0.75095 MB; 16 bits at
    // 3001 pixels make 6002 bytes, filled to 6004 a row: 40 + 6004 * 2000 = 12008040 = 11.45176 MB.
    std::pair<DalvoImage, const char*> cases[] = {
        {DalvoImage(FIT_BITMAP, 1024, 768, 8),
         "Width (pixels)|1024;Height (pixels)|768;Bits Per Pixel|8;Image Size (MB)|0.751"},
        {DalvoImage(FIT_UINT16, 3001, 2000, 16),
         "Width (pixels)|3001;Height (pixels)|2000;Bits Per Pixel|16;Image Size (MB)|11.452"},
        {DalvoImage(), "Width (pixels)|0;Height (pixels)|0;Bits Per Pixel|0;Image Size (MB)|0.000"}};
    for (auto& [image, expected] : cases) {
        CStringArray lines;
        lines.Add(L"Name|gel 7");
        image.getImageInfo(lines);
        std::string joined;
        for (int i = 0; i < lines.GetSize(); ++i)
            joined += lines[i].ToUtf8() + ";";
        EXPECT_EQ(joined, std::string("Name|gel 7;") + expected + ";");
    }
}

TEST(DalvoImageReadout, RowsCountFromTheTopOtherFormatsLeaveTheText) {
    DalvoImage eight(FIT_BITMAP, 9, 20, 8), sixteen(FIT_UINT16, 1300, 60, 16), colour(FIT_BITMAP, 3, 2, 32);
    eight.getScanLine(20 - 1 - 12)[5] = 7;
    eight.getScanLine(12)[5] = 99; // the same row counted from the bottom
    reinterpret_cast<WORD*>(sixteen.getScanLine(60 - 1 - 56))[1234] = 4095;
    BYTE* top = colour.getScanLine(1); // the last scan line is the top row
    top[FI_RGBA_RED] = 255, top[FI_RGBA_GREEN] = 0, top[FI_RGBA_BLUE] = 16, top[FI_RGBA_ALPHA] = 77;
    EXPECT_EQ(readout(eight, 5, 12), "(005,012)=[007]");
    EXPECT_EQ(readout(sixteen, 1234, 56), "(1234,056)=[4095]");
    EXPECT_EQ(readout(colour, 0, 0), "(000,000)=[255,000,016]");
    // The text stays without a raster form, for a point outside and for null arguments.
    DalvoImage oneBit(FIT_BITMAP, 8, 8, 1), empty, gray(FIT_UINT16, 4, 3, 16);
    EXPECT_EQ(readout(oneBit, 0, 0) + readout(empty, 0, 0), "untoucheduntouched");
    for (const CPoint& p :
         {CPoint(-1, 0), CPoint(0, -1), CPoint(4, 0), CPoint(0, 3), CPoint(1 << 30, 1 << 30)})
        EXPECT_EQ(readout(gray, p.x, p.y), "untouched") << p.x << "," << p.y;
    CPoint point(0, 0);
    CString text = L"kept";
    EXPECT_TRUE(gray.GetFormatedPixelString(nullptr, &text));
    EXPECT_TRUE(gray.GetFormatedPixelString(&point, nullptr));
    EXPECT_EQ(text, CString(L"kept"));
}

TEST(DalvoImageRealScans, EveryScanHoldsTheRasterOfWhatFreeImageReads) {
    if (!exists(gel("SOURCES.md")))
        GTEST_SKIP() << "no real scans at " << gel("") << " (set KESTRO_SHARED_DIR)";
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(gel(""))) {
        if (entry.path().extension() == ".md") continue;
        SCOPED_TRACE(entry.path());
        ++seen;
        ImageProbe image;
        ASSERT_TRUE(createFromFile(image, entry.path().string()));
        FIBITMAP* dib = image;
        const Kind kind = expectedKind(dib);
        ASSERT_EQ(kindOf(image.cache()), kind);
        const auto* gray = kind == Kind::Gray ? static_cast<RasterImageGS16*>(image.cache()) : nullptr;
        // The raster holds, upright, what FreeImage reads, and a grey raster's range is the samples'.
        const int w = int(image.getWidth()), h = int(image.getHeight());
        const bool wide = image.getImageType() == FIT_UINT16;
        int mismatches = 0, low = 65535, high = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const BYTE* bits = FreeImage_GetScanLine(dib, h - 1 - y);
                const int v = wide ? reinterpret_cast<const WORD*>(bits)[x] : bits[x];
                RGBQUAD q{};
                if (gray) mismatches += gray->getPixel(x, y) != v;
                if (gray) low = std::min(low, v), high = std::max(high, v);
                if (kind == Kind::Colour && FreeImage_GetPixelColor(dib, x, h - 1 - y, &q))
                    mismatches +=
                        std::memcmp(static_cast<RasterImageRGB*>(image.cache())->getPixel(x, y), &q, 4) != 0;
            }
        EXPECT_EQ(mismatches, 0);
        if (gray) {
            EXPECT_EQ(std::make_pair(gray->minValue, gray->maxValue), std::make_pair(low, high));
        }
    }
    EXPECT_EQ(seen, 19);
}
