// Centre of mass, ray boundary and row-and-column outline on synthetic spots of known shape.
#include "analysis/ImageProcessing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <ostream>
#include <vector>

// Readable points in failure messages.
static void PrintTo(const CPoint& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }

namespace {

// A flat background with a Gaussian spot of the given centre and sigma.
RasterImageGS16 gaussianSpot(int w, int h, double cx, double cy, double sigma, int base, int peak) {
    RasterImageGS16 r(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            r.setPixel(x, y, base + static_cast<int>(std::floor(peak * std::exp(-d2 / (2 * sigma * sigma)) + 0.5)));
        }
    return r;
}

std::vector<CPoint> pointsOf(CPointArray& a) {
    std::vector<CPoint> v;
    for (INT_PTR i = 0; i < a.GetSize(); ++i) v.push_back(a[i]);
    return v;
}

int R(float v) { return static_cast<int>(std::floor(static_cast<double>(v + 0.5f))); }

// The ray search written out step by step from its description.
std::vector<CPoint> literalRays(const RasterImageGS16& r, CRect rc, CPoint c, float fraction) {
    rc.left = std::max<LONG>(rc.left, 0);
    rc.top = std::max<LONG>(rc.top, 0);
    rc.right = std::min<LONG>(rc.right, r.width - 1);
    rc.bottom = std::min<LONG>(rc.bottom, r.height - 1);
    const int n = static_cast<int>(std::floor((rc.right - rc.left) * 0.75 + 0.5));
    const int b = std::min({r.getPixel(rc.left, rc.top), r.getPixel(rc.right, rc.top), r.getPixel(rc.left, rc.bottom),
                            r.getPixel(rc.right, rc.bottom)});
    int t = R(static_cast<float>(r.getPixel(c.x, c.y) - b) * fraction) + b;
    if (t < 0) t = 0;
    std::vector<CPoint> out;
    for (float a = 0.0f; a < 360.0f; a += 1.0f) {
        const float rad = static_cast<float>(a * 3.14159265 / 180);
        const double cs = std::cos(rad), sn = std::sin(rad);
        if (n <= 0) {
            out.emplace_back(0, 0);
            continue;
        }
        CPoint p;
        for (int i = 0; i < n; ++i) {
            p = CPoint(c.x + R(static_cast<float>(cs * i)), c.y + R(static_cast<float>(sn * i)));
            if (!(p.x >= rc.left && p.x < rc.right && p.y >= rc.top && p.y < rc.bottom)) break;
            if (p.x < 0 || p.y < 0 || p.x > r.width - 1 || p.y > r.height - 1) break;
            if (r.getPixel(p.x, p.y) < t) break;
        }
        out.push_back(p);
    }
    return out;
}

// The row-and-column outline written out from its description, reading pixels directly.
std::vector<CPoint> literalOutline(const RasterImageGS16& r, CRect rc, CPoint c, float fraction) {
    rc.left = std::max<LONG>(rc.left, 0);
    rc.top = std::max<LONG>(rc.top, 0);
    rc.right = std::min<LONG>(rc.right, r.width - 1);
    rc.bottom = std::min<LONG>(rc.bottom, r.height - 1);
    int lo = INT_MAX, hi = INT_MIN;
    for (int x = rc.left; x < rc.right; ++x) lo = std::min(lo, r.getPixel(x, c.y)), hi = std::max(hi, r.getPixel(x, c.y));
    const int th = R(static_cast<float>(hi - lo) * fraction) + lo;
    int leftX = c.x, rightX = c.x;
    while (leftX >= rc.left + 2 && r.getPixel(leftX, c.y) >= th) --leftX; // runs cx .. left + 2
    while (rightX <= rc.right - 1 && r.getPixel(rightX, c.y) >= th) ++rightX; // runs cx .. right - 1
    std::vector<CPoint> upper, lower;
    for (int x = leftX; x < rightX; ++x) {
        const int v = r.getPixel(x, c.y);
        int upMin = INT_MAX;
        for (int y = c.y; y >= rc.top + 2; --y) upMin = std::min(upMin, r.getPixel(x, y));
        const int tc = R(static_cast<float>(v - upMin) * fraction) + upMin;
        int up = c.y, down = c.y;
        while (up >= rc.top + 2 && r.getPixel(x, up) >= tc) --up;
        while (down <= rc.bottom - 1 && r.getPixel(x, down) >= tc) ++down;
        upper.emplace_back(x, up);
        lower.emplace_back(x, down);
    }
    std::vector<CPoint> out{CPoint(leftX, c.y)};
    out.insert(out.end(), upper.begin(), upper.end());
    out.emplace_back(rightX, c.y);
    out.insert(out.end(), lower.rbegin(), lower.rend());
    return out;
}

// Twice the signed area; positive for an outline that runs clockwise on screen (y downwards).
long long twiceArea(const std::vector<CPoint>& p) {
    long long s = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const CPoint& a = p[i];
        const CPoint& b = p[(i + 1) % p.size()];
        s += static_cast<long long>(a.x) * b.y - static_cast<long long>(b.x) * a.y;
    }
    return s;
}

} // namespace

TEST(CenterOfMass, GaussianSpotGivesItsCentreAlsoWithSidesExchanged) {
    ImageProcessing ip;
    for (const auto& c : {std::make_pair(30.0, 20.0), std::make_pair(30.4, 19.7), std::make_pair(12.6, 33.2)}) {
        RasterImageGS16 r = gaussianSpot(64, 48, c.first, c.second, 3.0, 100, 5000);
        // A rectangle centred on the nearest pixel, so that the flat background pulls nowhere.
        const int px = static_cast<int>(std::lround(c.first)), py = static_cast<int>(std::lround(c.second));
        const CRect rect(px - 10, py - 10, px + 11, py + 11);
        const CPoint p = ip.findCenterOfMass3D(&r, rect);
        EXPECT_LE(std::fabs(p.x - c.first), 0.5) << c.first;
        EXPECT_LE(std::fabs(p.y - c.second), 0.5) << c.second;
        EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(rect.right, rect.top, rect.left, rect.bottom)), p);
        EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(rect.left, rect.bottom, rect.right, rect.top)), p);
    }
}

TEST(CenterOfMass, SinglePixelAndEmptyMass) {
    ImageProcessing ip;
    RasterImageGS16 r(20, 10);
    r.setPixel(13, 4, 77);
    EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(0, 0, 20, 10)), CPoint(13, 4));
    EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(19, 9, 0, 0)), CPoint(13, 4));
    // The clamped right column and bottom row stay outside.
    r.setPixel(13, 4, 0);
    r.setPixel(19, 9, 5);
    EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(2, 2, 30, 30)), CPoint((2 + 19) / 2, (2 + 9) / 2));
    EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(4, 4, 4, 8)), CPoint(4, 6));
}

TEST(RayBoundary, MatchesALiteralWalkAndEndsWhereTheSpotFallsBelowHalf) {
    ImageProcessing ip;
    const double sigma = 6.0;
    RasterImageGS16 r = gaussianSpot(80, 70, 40, 35, sigma, 200, 10000);
    const CRect rect(10, 8, 72, 64);
    CPointArray points;
    ip.findBroundryPoints(&r, rect, CPoint(40, 35), 0.5f, &points);
    ASSERT_EQ(points.GetSize(), 360);
    EXPECT_EQ(pointsOf(points), literalRays(r, rect, CPoint(40, 35), 0.5f));
    // The half-height radius of the Gaussian: every ray stops on the first pixel past it.
    const double halfRadius = sigma * std::sqrt(2 * std::log(2.0));
    for (INT_PTR a = 0; a < 360; ++a) {
        const double d = std::hypot(points[a].x - 40.0, points[a].y - 35.0);
        EXPECT_GT(d, halfRadius - 0.05) << a;
        EXPECT_LT(d, halfRadius + 2.5) << a;
        EXPECT_LT(r.getPixel(points[a]), 200 + 5000) << a;
    }
    // Angle 0 runs along +x and 90 along +y (downwards).
    EXPECT_EQ(points[0].y, 35);
    EXPECT_GT(points[0].x, 40);
    EXPECT_EQ(points[90].x, 40);
    EXPECT_GT(points[90].y, 35);
}

TEST(RayBoundary, UniformRectangleEndsAtItsEdgesOrAfterAllSteps) {
    ImageProcessing ip;
    RasterImageGS16 r(50, 40);
    std::fill(r.pixels, r.pixels + 2000, 300);
    const CRect rect(5, 5, 45, 15); // 40 wide: 30 steps; only 10 rows high
    CPointArray points;
    ip.findBroundryPoints(&r, rect, CPoint(20, 10), 0.3f, &points);
    const std::vector<CPoint> got = pointsOf(points);
    EXPECT_EQ(got, literalRays(r, rect, CPoint(20, 10), 0.3f));
    EXPECT_EQ(got[0], CPoint(45, 10)); // left the rectangle through its right side
    EXPECT_EQ(got[90], CPoint(20, 15)); // through its bottom
    EXPECT_EQ(got[270], CPoint(20, 4)); // through its top
    EXPECT_EQ(got[180], CPoint(4, 10)); // through its left side
    // A wide rectangle (49 columns after clamping: 37 steps): rays along x run out of steps
    // before its edge and end at step 36.
    points.RemoveAll();
    ip.findBroundryPoints(&r, CRect(0, 0, 60, 39), CPoint(2, 20), 0.3f, &points);
    EXPECT_EQ(points[0], CPoint(2 + 36, 20));
}

TEST(RayBoundary, DegenerateCasesAndAppending) {
    ImageProcessing ip;
    RasterImageGS16 r = gaussianSpot(30, 30, 15, 15, 3, 10, 1000);
    CPointArray points;
    CPoint keep(-4, 9);
    points.Add(keep);
    // A fraction above 1 puts the threshold above the centre: every ray stops at once.
    ip.findBroundryPoints(&r, CRect(2, 2, 28, 28), CPoint(15, 15), 1.5f, &points);
    ASSERT_EQ(points.GetSize(), 361);
    EXPECT_EQ(points[0], keep);
    for (INT_PTR i = 1; i < 361; ++i) EXPECT_EQ(points[i], CPoint(15, 15));
    // A rectangle clamped to width 0 walks no steps.
    ip.findBroundryPoints(&r, CRect(29, 2, 40, 28), CPoint(15, 15), 0.5f, &points);
    ASSERT_EQ(points.GetSize(), 721);
    for (INT_PTR i = 361; i < 721; ++i) EXPECT_EQ(points[i], CPoint(0, 0));
    // A centre outside the rectangle (even outside the raster) ends every ray at the centre.
    ip.findBroundryPoints(&r, CRect(2, 2, 28, 28), CPoint(-50, 400), 0.5f, &points);
    ASSERT_EQ(points.GetSize(), 1081);
    for (INT_PTR i = 721; i < 1081; ++i) EXPECT_EQ(points[i], CPoint(-50, 400));
    ip.findBroundryPoints(nullptr, CRect(2, 2, 28, 28), CPoint(15, 15), 0.5f, &points);
    ip.findBroundryPoints(&r, CRect(2, 2, 28, 28), CPoint(15, 15), 0.5f, nullptr);
    EXPECT_EQ(points.GetSize(), 1081);
}

TEST(OutlineUpDown, GaussianSpotGivesAClosedClockwiseOutlineMatchingALiteralSearch) {
    ImageProcessing ip;
    for (float fraction : {0.25f, 0.5f, 0.8f}) {
        RasterImageGS16 r = gaussianSpot(60, 50, 31.3, 24.6, 4.0, 150, 8000);
        const CRect rect(8, 4, 55, 46);
        CPointArray points;
        ip.findBroundryPointsUpDown(&r, rect, CPoint(31, 25), fraction, &points);
        const std::vector<CPoint> got = pointsOf(points);
        ASSERT_EQ(got, literalOutline(r, rect, CPoint(31, 25), fraction)) << fraction;
        const int leftX = got.front().x;
        const int rightX = got[got.size() / 2].x;
        EXPECT_EQ(got.size(), static_cast<size_t>(2 + 2 * (rightX - leftX)));
        EXPECT_LT(leftX, 31);
        EXPECT_GT(rightX, 31);
        EXPECT_GT(twiceArea(got), 0) << "clockwise on screen";
        // Lower fractions reach further out.
        if (fraction == 0.25f) {
            EXPECT_GE(rightX - leftX, 2 * 4);
        }
    }
}

TEST(OutlineUpDown, DegenerateRunsAndAppending) {
    ImageProcessing ip;
    RasterImageGS16 flat(20, 20);
    std::fill(flat.pixels, flat.pixels + 400, 500);
    CPointArray points;
    CPoint keep(1, 2);
    points.Add(keep);
    // No value below the threshold: the left run ends at left + 1, the right one at right.
    ip.findBroundryPointsUpDown(&flat, CRect(3, 4, 15, 16), CPoint(8, 9), 0.5f, &points);
    std::vector<CPoint> got = pointsOf(points);
    EXPECT_EQ(got[0], keep);
    got.erase(got.begin());
    EXPECT_EQ(got.front(), CPoint(4, 9));
    EXPECT_EQ(got[got.size() / 2], CPoint(15, 9));
    EXPECT_EQ(got.size(), static_cast<size_t>(2 + 2 * (15 - 4)));
    EXPECT_EQ(got[1], CPoint(4, 4 + 1)); // up runs end at top + 1
    EXPECT_EQ(got.back(), CPoint(4, 16)); // down runs end at bottom
    EXPECT_EQ(got, literalOutline(flat, CRect(3, 4, 15, 16), CPoint(8, 9), 0.5f));

    // A centre below the row threshold gives the centre twice.
    RasterImageGS16 spot = gaussianSpot(20, 20, 10, 10, 2, 0, 1000);
    points.RemoveAll();
    ip.findBroundryPointsUpDown(&spot, CRect(1, 1, 19, 19), CPoint(10, 10), 2.0f, &points);
    EXPECT_EQ(pointsOf(points), (std::vector<CPoint>{CPoint(10, 10), CPoint(10, 10)}));

    // Empty runs: a centre on the left column and top row. The up run is empty, so the down
    // run's smallest value is the column's base.
    points.RemoveAll();
    ip.findBroundryPointsUpDown(&spot, CRect(10, 10, 19, 19), CPoint(10, 10), 0.5f, &points);
    got = pointsOf(points);
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got.front(), CPoint(10, 10));
    for (size_t i = 1; i < got.size() / 2; ++i) EXPECT_EQ(got[i].y, 10) << i;
    // Column 10 from row 10 down: base = its smallest value, threshold halfway up to the centre.
    int base = INT_MAX;
    for (int y = 10; y < 19; ++y) base = std::min(base, spot.getPixel(10, y));
    const int tc = R(static_cast<float>(spot.getPixel(10, 10) - base) * 0.5f) + base;
    int down = 10;
    while (down < 19 && spot.getPixel(10, down) >= tc) ++down;
    EXPECT_EQ(got.back(), CPoint(10, down));

    // A centre outside the clamped rectangle gives the centre twice.
    points.RemoveAll();
    ip.findBroundryPointsUpDown(&spot, CRect(1, 1, 9, 9), CPoint(12, 5), 0.5f, &points);
    EXPECT_EQ(pointsOf(points), (std::vector<CPoint>{CPoint(12, 5), CPoint(12, 5)}));
}
