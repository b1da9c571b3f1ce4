// Background subtraction and band outlines on real 16-bit gel scans (skipped where absent).
#include "analysis/ImageProcessing.h"
#include "image/DalvoImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<RasterImageGS16> loadGelRaster(const char* name) {
    const std::filesystem::path path = std::filesystem::path(KESTRO_SHARED_DIR) / "gels" / name;
    CFile file;
    DalvoImage image;
    if (!std::filesystem::exists(path) ||
        !file.Open(CString::FromUtf8(path.string().c_str()), CFile::modeRead) || !image.CreateFromFile(&file))
        return nullptr;
    return std::make_unique<RasterImageGS16>(&image);
}

// Even-odd test of a point against a closed polygon.
bool encloses(const std::vector<CPoint>& poly, double px, double py) {
    bool inside = false;
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
        const double xi = poly[i].x, yi = poly[i].y, xj = poly[j].x, yj = poly[j].y;
        if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) inside = !inside;
    }
    return inside;
}

} // namespace

TEST(GelScan, BackgroundSubtractionAndBandOutlineArePlausible) {
    int scanned = 0;
    for (const char* name : {"agarose-dna-16bit-be-lowrange-02.tif", "western-blot-16bit-minisblack-01.tif",
                             "protein-band-crop-16bit-be-01.tif"}) {
        std::unique_ptr<RasterImageGS16> gel = loadGelRaster(name);
        if (!gel) continue;
        ++scanned;
        SCOPED_TRACE(name);
        ASSERT_EQ(gel->bpp, 16);
        ImageProcessing ip;
        RasterImageGS16 background(gel->width, gel->height);
        ip.generateBGViaMinFilter(gel.get(), &background, 25, 25);
        background.calculateStatistics();
        EXPECT_GE(background.minValue, gel->minValue);
        EXPECT_LE(background.maxValue, gel->maxValue);
        RasterImageGS16 bands(*gel);
        bands.subtractImage(&background);
        EXPECT_EQ(bands.minValue, 0);
        EXPECT_GT(bands.maxValue, 0);
        EXPECT_LT(bands.mean, gel->mean);

        // The brightest spot of a lightly smoothed copy stands for one bright band.
        RasterImageGS16 smooth(bands);
        ip.smoothenViaAverageFilter(&smooth, 2);
        CPoint peak(2, 2);
        for (int y = 2; y < smooth.height - 2; ++y)
            for (int x = 2; x < smooth.width - 2; ++x)
                if (smooth.getPixel(x, y) > smooth.getPixel(peak)) peak = CPoint(x, y);
        const int reach = std::min(40, std::min(gel->width, gel->height) / 4);
        const CRect search(peak.x - reach, peak.y - reach, peak.x + reach, peak.y + reach);
        CPointArray outline, rays;
        ip.findBroundryPointsUpDown(&smooth, search, peak, 0.5f, &outline);
        ip.findBroundryPoints(&smooth, search, peak, 0.5f, &rays);
        EXPECT_EQ(rays.GetSize(), 360);
        std::vector<CPoint> poly(outline.GetData(), outline.GetData() + outline.GetSize());
        const int leftX = poly.front().x, rightX = poly[poly.size() / 2].x;
        ASSERT_EQ(poly.size(), static_cast<size_t>(2 + 2 * (rightX - leftX)));
        EXPECT_GT(rightX - leftX, 2);

        // The band's centre of mass over the outline's bounding box lies inside the outline.
        int top = peak.y, bottom = peak.y;
        for (const CPoint& p : poly)
            top = std::min<int>(top, p.y), bottom = std::max<int>(bottom, p.y);
        const CPoint centre = ip.findCenterOfMass3D(&bands, CRect(leftX, top, rightX + 1, bottom + 1));
        EXPECT_TRUE(encloses(poly, centre.x, centre.y)) << centre.x << "," << centre.y;
    }
    if (scanned == 0) GTEST_SKIP() << "no 16-bit gel scans in " << KESTRO_SHARED_DIR;
}
