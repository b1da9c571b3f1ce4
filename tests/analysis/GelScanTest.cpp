// Background subtraction and band outlines on real 16-bit gel scans (skipped where absent).
#include "analysis/ImageProcessing.h"
#include "image/DalvoImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

TEST(GelScan, BackgroundSubtractionAndBandOutlineArePlausible) {
    const std::filesystem::path gels = std::filesystem::path(KESTRO_SHARED_DIR) / "gels";
    if (!std::filesystem::is_directory(gels)) GTEST_SKIP() << "no real scans at " << gels << " (set KESTRO_SHARED_DIR)";
    for (const char* name : {"agarose-dna-16bit-be-lowrange-02.tif", "western-blot-16bit-minisblack-01.tif",
                             "protein-band-crop-16bit-be-01.tif"}) {
        SCOPED_TRACE(name);
        CFile file(CString::FromUtf8((gels / name).string()), CFile::modeRead);
        DalvoImage image;
        ASSERT_TRUE(image.CreateFromFile(&file));
        RasterImageGS16 gel(&image), background(gel.width, gel.height);
        ImageProcessing ip;
        ip.generateBGViaMinFilter(&gel, &background, 25, 25);
        background.calculateStatistics();
        EXPECT_GE(background.minValue, gel.minValue);
        EXPECT_LE(background.maxValue, gel.maxValue);
        RasterImageGS16 bands(gel);
        bands.subtractImage(&background);
        EXPECT_EQ(bands.minValue, 0);
        EXPECT_LT(bands.mean, gel.mean);

        // The brightest spot of a lightly smoothed copy stands for one bright band: its outline
        // is closed, and the band's centre of mass over the outline's extent lies within it.
        RasterImageGS16 smooth(bands);
        ip.smoothenViaAverageFilter(&smooth, 2);
        CPoint peak(2, 2);
        for (int y = 2; y < smooth.height - 2; ++y)
            for (int x = 2; x < smooth.width - 2; ++x)
                if (smooth.getPixel(x, y) > smooth.getPixel(peak)) peak = CPoint(x, y);
        const int reach = std::min(40, std::min(gel.width, gel.height) / 4);
        CPointArray outline;
        ip.findBroundryPointsUpDown(&smooth, CRect(peak.x - reach, peak.y - reach, peak.x + reach, peak.y + reach), peak,
                                    0.5f, &outline);
        const INT_PTR n = outline.GetSize();
        const int leftX = outline[0].x, rightX = outline[n / 2].x;
        ASSERT_EQ(n, 2 + 2 * (rightX - leftX));
        EXPECT_GT(rightX - leftX, 2);
        int top = peak.y, bottom = peak.y;
        for (INT_PTR i = 0; i < n; ++i) top = std::min<int>(top, outline[i].y), bottom = std::max<int>(bottom, outline[i].y);
        const CPoint centre = ip.findCenterOfMass3D(&bands, CRect(leftX, top, rightX + 1, bottom + 1));
        // Column x of the outline has its upper point at index 1 + x - leftX and its lower one mirrored.
        ASSERT_GE(centre.x, leftX);
        ASSERT_LT(centre.x, rightX);
        const INT_PTR k = 1 + centre.x - leftX;
        EXPECT_GE(centre.y, outline[k].y) << centre.x << "," << centre.y;
        EXPECT_LE(centre.y, outline[n - k].y) << centre.x << "," << centre.y;
    }
}
