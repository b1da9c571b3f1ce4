// Centre of mass, ray boundary and row-and-column outline on synthetic spots of known shape.
#include "analysis/ImageProcessing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <ostream>
#include <vector>

// Readable points in failure messages.
static void PrintTo(const CPoint& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ")";
}

namespace {

using Points = std::vector<CPoint>;

// A flat background with a Gaussian spot of the given centre and sigma.
RasterImageGS16 gaussianSpot(int w, int h, double cx, double cy, double sigma, int base, int peak) {
    RasterImageGS16 r(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            r.setPixel(x, y,
                       base + static_cast<int>(std::floor(peak * std::exp(-d2 / (2 * sigma * sigma)) + 0.5)));
        }
    return r;
}

int R(float v) {
    return static_cast<int>(std::floor(static_cast<double>(v + 0.5f)));
}

CRect clampedTo(const RasterImageGS16& r, const CRect& rc) {
    return CRect(std::max<LONG>(rc.left, 0), std::max<LONG>(rc.top, 0), std::min<LONG>(rc.right, r.width - 1),
                 std::min<LONG>(rc.bottom, r.height - 1));
}

// The ray search in the words of its description: clamp, steps, base of the four corners,
// threshold, then one walk per angle. The centre must lie inside the rectangle.
Points literalRays(const RasterImageGS16& r, CRect rc, CPoint c, float fraction) {
    rc = clampedTo(r, rc);
    const int n = static_cast<int>(std::floor((rc.right - rc.left) * 0.75 + 0.5));
    const int b = std::min({r.getPixel(rc.left, rc.top), r.getPixel(rc.right, rc.top),
                            r.getPixel(rc.left, rc.bottom), r.getPixel(rc.right, rc.bottom)});
    const int t = std::max(0, R(static_cast<float>(r.getPixel(c.x, c.y) - b) * fraction) + b);
    Points out;
    for (float a = 0.0f; a < 360.0f; a += 1.0f) {
        const float rad = static_cast<float>(a * 3.14159265 / 180);
        const double cs = std::cos(static_cast<double>(rad)), sn = std::sin(static_cast<double>(rad));
        CPoint p(0, 0);
        for (int i = 0; i < n; ++i) {
            p = CPoint(c.x + R(static_cast<float>(cs * i)), c.y + R(static_cast<float>(sn * i)));
            if (!PtInRect(&rc, p) || p.x < 0 || p.y < 0 || p.x > r.width - 1 || p.y > r.height - 1) break;
            if (r.getPixel(p.x, p.y) < t) break;
        }
        out.push_back(p);
    }
    return out;
}

// The index of the first value below the threshold, or the run's length.
template <class Pixel> int firstBelow(int from, int to, int step, int threshold, Pixel pixel) {
    int i = 0;
    for (int k = from; step > 0 ? k <= to : k >= to; k += step, ++i)
        if (pixel(k) < threshold) break;
    return i;
}

// The row-and-column outline in the words of its description. The centre must lie inside the
// rectangle; an empty up run (cy at most top + 1) takes its base from the down run.
Points literalOutline(const RasterImageGS16& r, CRect rc, CPoint c, float fraction) {
    rc = clampedTo(r, rc);
    int lo = INT_MAX, hi = INT_MIN;
    for (int x = rc.left; x < rc.right; ++x)
        lo = std::min(lo, r.getPixel(x, c.y)), hi = std::max(hi, r.getPixel(x, c.y));
    const int th = R(static_cast<float>(hi - lo) * fraction) + lo;
    auto inRow = [&](int x) { return r.getPixel(x, c.y); };
    const int leftX = c.x - firstBelow(c.x, rc.left + 2, -1, th, inRow);
    const int rightX = c.x + firstBelow(c.x, rc.right - 1, 1, th, inRow);
    Points upper, lower;
    for (int x = leftX; x < rightX; ++x) {
        auto inColumn = [&](int y) { return r.getPixel(x, y); };
        int base = INT_MAX;
        for (int y = c.y; y >= rc.top + 2; --y)
            base = std::min(base, r.getPixel(x, y));
        for (int y = c.y; c.y < rc.top + 2 && y <= rc.bottom - 1; ++y)
            base = std::min(base, r.getPixel(x, y));
        const int tc = R(static_cast<float>(r.getPixel(x, c.y) - base) * fraction) + base;
        upper.emplace_back(x, c.y - firstBelow(c.y, rc.top + 2, -1, tc, inColumn));
        lower.emplace_back(x, c.y + firstBelow(c.y, rc.bottom - 1, 1, tc, inColumn));
    }
    Points out{CPoint(leftX, c.y)};
    out.insert(out.end(), upper.begin(), upper.end());
    out.emplace_back(rightX, c.y);
    out.insert(out.end(), lower.rbegin(), lower.rend());
    return out;
}

struct Search {
    RasterImageGS16* r;
    CRect rect;
    CPoint c;
    float fraction;
};

// Runs every search appending to one array behind a point that must stay; gives each search's points.
template <class F> std::vector<Points> appendAll(const std::vector<Search>& cases, F search) {
    CPointArray points;
    CPoint kept(-4, 9);
    points.Add(kept);
    std::vector<Points> got;
    for (const Search& s : cases) {
        const INT_PTR before = points.GetSize();
        search(s, &points);
        got.emplace_back(points.GetData() + before, points.GetData() + points.GetSize());
    }
    EXPECT_EQ(points[0], kept);
    return got;
}

} // namespace

TEST(CenterOfMass, SpotsGiveTheirCentreWithSidesInEitherOrder) {
    ImageProcessing ip;
    for (auto [cx, cy] : {std::pair{30.0, 20.0}, {30.4, 19.7}, {12.6, 33.2}}) {
        RasterImageGS16 r = gaussianSpot(64, 48, cx, cy, 3.0, 100, 5000);
        // A rectangle centred on the nearest pixel, so that the flat background pulls nowhere.
        const int px = static_cast<int>(std::lround(cx)), py = static_cast<int>(std::lround(cy));
        const CRect rect(px - 10, py - 10, px + 11, py + 11);
        const CPoint p = ip.findCenterOfMass3D(&r, rect);
        EXPECT_LE(std::fabs(p.x - cx), 0.5) << cx;
        EXPECT_LE(std::fabs(p.y - cy), 0.5) << cy;
        EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(rect.right, rect.top, rect.left, rect.bottom)), p);
        EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(rect.left, rect.bottom, rect.right, rect.top)), p);
    }
    RasterImageGS16 r(20, 10);
    r.setPixel(13, 4, 77);
    EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(0, 0, 20, 10)), CPoint(13, 4));
    EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(19, 9, 0, 0)), CPoint(13, 4));
}

// The clamped right column and bottom row stay outside.
TEST(CenterOfMass, NoMassGivesTheMiddle) {
    ImageProcessing ip;
    RasterImageGS16 r(20, 10);
    r.setPixel(19, 9, 5);
    EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(2, 2, 30, 30)), CPoint((2 + 19) / 2, (2 + 9) / 2));
    EXPECT_EQ(ip.findCenterOfMass3D(&r, CRect(4, 4, 4, 8)), CPoint(4, 6));
}

TEST(RayBoundary, MatchesALiteralWalkOnEveryKindOfSpot) {
    RasterImageGS16 gauss = gaussianSpot(80, 70, 40, 35, 6.0, 200, 10000), flat(50, 40),
                    small = gaussianSpot(30, 30, 15, 15, 3, 10, 1000);
    std::fill(flat.pixels, flat.pixels + 2000, 300);
    const std::vector<Search> cases = {
        {&gauss, CRect(10, 8, 72, 64), CPoint(40, 35), 0.5f},
        {&flat, CRect(5, 5, 45, 15), CPoint(20, 10), 0.3f}, // 30 steps, 10 rows
        {&flat, CRect(0, 0, 60, 39), CPoint(2, 20), 0.3f},  // 49 columns: 37 steps
        {&small, CRect(2, 2, 28, 28), CPoint(15, 15), 1.5f},
        {&small, CRect(29, 2, 40, 28), CPoint(15, 15), 0.5f},
        {&small, CRect(2, 2, 28, 28), CPoint(-50, 400), 0.5f}};
    ImageProcessing ip;
    const std::vector<Points> got = appendAll(cases, [&](const Search& s, CPointArray* points) {
        ip.findBroundryPoints(s.r, s.rect, s.c, s.fraction, points);
    });
    for (size_t i = 0; i + 1 < cases.size(); ++i) // the last centre lies outside
        ASSERT_EQ(got[i], literalRays(*cases[i].r, cases[i].rect, cases[i].c, cases[i].fraction)) << i;
    EXPECT_EQ(got[3], Points(360, CPoint(15, 15)));   // threshold above the centre: every ray stops at once
    EXPECT_EQ(got[4], Points(360, CPoint(0, 0)));     // a rectangle clamped to width 0 walks no steps
    EXPECT_EQ(got[5], Points(360, CPoint(-50, 400))); // a centre outside stops every ray there, unread
    CPointArray untouched;
    ip.findBroundryPoints(nullptr, CRect(2, 2, 28, 28), CPoint(15, 15), 0.5f, &untouched);
    ip.findBroundryPoints(&small, CRect(2, 2, 28, 28), CPoint(15, 15), 0.5f, nullptr);
    EXPECT_EQ(untouched.GetSize(), 0);

    // The half-height radius of the Gaussian: every ray stops on the first pixel past it.
    const double halfRadius = 6.0 * std::sqrt(2 * std::log(2.0));
    for (const CPoint& p : got[0]) {
        EXPECT_GT(std::hypot(p.x - 40.0, p.y - 35.0), halfRadius - 0.05) << p.x << "," << p.y;
        EXPECT_LT(std::hypot(p.x - 40.0, p.y - 35.0), halfRadius + 2.5) << p.x << "," << p.y;
        EXPECT_LT(gauss.getPixel(p), 200 + 5000) << p.x << "," << p.y;
    }
    // Angle 0 runs along +x and 90 along +y (down); flat rays leave through each side or run out of steps.
    EXPECT_EQ((Points{got[0][0], got[0][90]}),
              (Points{CPoint(48, 35), CPoint(40, 43)})); // 6 sqrt(2 ln 2) = 7.06
    EXPECT_EQ((Points{got[1][0], got[1][90], got[1][180], got[1][270], got[2][0]}),
              (Points{CPoint(45, 10), CPoint(20, 15), CPoint(4, 10), CPoint(20, 4), CPoint(2 + 36, 20)}));
}

TEST(OutlineUpDown, ClosedClockwiseOutlinesMatchALiteralSearch) {
    RasterImageGS16 gauss = gaussianSpot(60, 50, 31.3, 24.6, 4.0, 150, 8000), flat(20, 20),
                    spot = gaussianSpot(20, 20, 10, 10, 2, 0, 1000);
    std::fill(flat.pixels, flat.pixels + 400, 500);
    const std::vector<Search> cases = {{&gauss, CRect(8, 4, 55, 46), CPoint(31, 25), 0.25f},
                                       {&gauss, CRect(8, 4, 55, 46), CPoint(31, 25), 0.5f},
                                       {&gauss, CRect(8, 4, 55, 46), CPoint(31, 25), 0.8f},
                                       {&flat, CRect(3, 4, 15, 16), CPoint(8, 9), 0.5f},
                                       {&spot, CRect(1, 1, 19, 19), CPoint(10, 10), 2.0f},
                                       {&spot, CRect(10, 10, 19, 19), CPoint(10, 10), 0.5f},
                                       {&spot, CRect(1, 1, 9, 9), CPoint(12, 5), 0.5f}};
    ImageProcessing ip;
    const std::vector<Points> got = appendAll(cases, [&](const Search& s, CPointArray* points) {
        ip.findBroundryPointsUpDown(s.r, s.rect, s.c, s.fraction, points);
    });
    for (size_t i = 0; i < cases.size(); ++i) {
        const Points& g = got[i];
        if (i + 1 < cases.size()) { // the last centre lies outside
            ASSERT_EQ(g, literalOutline(*cases[i].r, cases[i].rect, cases[i].c, cases[i].fraction)) << i;
        }
        const int leftX = g.front().x, rightX = g[g.size() / 2].x;
        EXPECT_EQ(g.size(), static_cast<size_t>(2 + 2 * (rightX - leftX))) << i;
        if (i > 3) continue;
        EXPECT_LT(leftX, cases[i].c.x) << i;
        EXPECT_GT(rightX, cases[i].c.x) << i;
        // Twice the signed area: positive for an outline running clockwise on screen (y down).
        long long area = 0;
        for (size_t k = 0, j = g.size() - 1; k < g.size(); j = k++)
            area += (long long)g[j].x * g[k].y - (long long)g[k].x * g[j].y;
        EXPECT_GT(area, 0) << i;
    }
    EXPECT_GE(got[0][got[0].size() / 2].x - got[0].front().x,
              2 * 4); // a quarter of the peak reaches past sigma
    // Nothing below the threshold: the left run ends at left + 1, the right at right, up runs at top + 1,
    // down runs at bottom.
    EXPECT_EQ((Points{got[3][0], got[3][1], got[3][12], got[3].back()}),
              (Points{CPoint(4, 9), CPoint(4, 5), CPoint(15, 9), CPoint(4, 16)}));
    EXPECT_EQ(got[4], (Points{CPoint(10, 10), CPoint(10, 10)})); // centre below the row threshold
    EXPECT_EQ(got[6], (Points{CPoint(12, 5), CPoint(12, 5)}));   // a centre outside: just the centre, twice
    // A centre on the top row has no up run: the upper points stay on it.
    ASSERT_GE(got[5].size(), 4u);
    for (size_t i = 1; i < got[5].size() / 2; ++i)
        EXPECT_EQ(got[5][i].y, 10) << i;
}
