// The gel analysis's stages run one by one, fed with a caller's own lanes and band boxes.
#include "analysis/GelAnalysis.h"
#include "analysis/gel/Internal.h"
#include "synth/SyntheticGel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

using namespace kestro;

namespace {

SyntheticGel bentGel(double bend) {
    GelOptions o = gelOptions(800, 600, 10, 6, 3);
    o.bend = bend;
    o.saturatedBands = 1;
    return SyntheticGel::generate(o);
}

// Bands alike: to the bit, or within a tolerance of peak rows and volumes.
void expectSameBands(const gel::Analysis& a, const gel::Analysis& b, double rows = 0, double share = 0) {
    ASSERT_EQ(a.lanes.size(), b.lanes.size());
    for (size_t l = 0; l < a.lanes.size(); ++l) {
        ASSERT_EQ(a.lanes[l].bands.size(), b.lanes[l].bands.size()) << "lane " << l;
        for (size_t k = 0; k < a.lanes[l].bands.size(); ++k) {
            const gel::Band &x = a.lanes[l].bands[k], &y = b.lanes[l].bands[k];
            EXPECT_NEAR(x.peakY, y.peakY, rows);
            EXPECT_NEAR(x.correctedVolume, y.correctedVolume, share * std::fabs(x.correctedVolume));
            EXPECT_EQ(x.box.top, y.box.top);
            EXPECT_NEAR(x.box.bottom, y.box.bottom, rows > 0 ? 1 : 0);
        }
    }
}

using Pixels = std::vector<std::uint16_t>;

// A 16-bit image of w x h pixels, each the value the function gives it, row by row.
Pixels image16(int w, int h, const std::function<double(int x, int y)>& value) {
    Pixels px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[static_cast<size_t>(y) * w + x] = static_cast<std::uint16_t>(value(x, y));
    return px;
}

gel::GreyView viewOf(const Pixels& px, int w) {
    return gel::GreyView::of(px.data(), w, static_cast<int>(px.size()) / w, 2 * w);
}

double bump(double y, double at, double sigma) {
    return std::exp(-0.5 * std::pow((y - at) / sigma, 2));
}

// Of four lanes placed by hand, 30 columns wide every 45 from column 10: column x's, or -1.
int laneAt(int x) {
    return x >= 10 && x < 175 && (x - 10) % 45 < 30 ? (x - 10) / 45 : -1;
}

// A lane's level of 1000 with bands at rows 60 and 120.
double twoBands(int y) {
    double v = 1000;
    for (double at : {60.0, 120.0})
        v += 8000 * bump(y, at, 3);
    return v;
}

// The analysis of an image 200 columns wide in the four lanes of laneAt, in the tiers given (those
// found where none are).
gel::Analysis inFourLanes(const Pixels& px, const gel::Options& o = gel::Options(),
                          std::vector<gel::Tier> tiers = {}) {
    const gel::PreparedGel prepared(viewOf(px, 200));
    if (tiers.empty()) tiers = gel::findTiers(prepared);
    std::vector<gel::LanePlacement> placed;
    for (int k = 0; k < 4; ++k)
        placed.push_back(gel::LanePlacement::centred(0, 25 + 45 * k, 30));
    gel::Analysis a = gel::analyseLanes(prepared, tiers, gel::placeLanes(prepared, tiers, placed), o);
    EXPECT_EQ(a.lanes.size(), 4u);
    a.lanes.resize(4); // what the test reads next then fails rather than reads past the end
    return a;
}

// One tier of the image's 400 rows, as a caller may give it.
std::vector<gel::Tier> oneTier() {
    gel::Tier tier;
    tier.bottom = 400;
    return {tier};
}

// 540 x 400: eight lanes 40 columns wide every 60 from column 30 under a comb, whose slots run
// from row 20 for `slot` rows between rims two rows high; below, each lane reads below(y, lane).
Pixels combedLanes(int slot, const std::function<double(int y, int lane)>& below) {
    return image16(540, 400, [&](int x, int y) {
        const int lane = (x - 30) / 60;
        if (x < 30 || lane > 7 || (x - 30) % 60 >= 40 || y < 18) return 1000.0;
        if (y >= 20 && y < 20 + slot) return 600.0; // the slot
        if (y < 22 + slot) return 1800.0;           // its rims
        return below(y, lane);
    });
}

bool near(const gel::Lane& l, double row) {
    for (const gel::Band& b : l.bands)
        if (std::fabs(b.peakY - row) < 4) return true;
    return false;
}

std::vector<long> peakRows(const gel::Lane& l) {
    std::vector<long> rows;
    for (const gel::Band& b : l.bands)
        rows.push_back(std::lround(b.peakY));
    return rows;
}

} // namespace

TEST(GelStages, StagesOneByOneGiveTheOneCallResult) {
    const SyntheticGel g = bentGel(6);
    const gel::Analysis whole = gel::analyse(viewOf(g.values(), g.width()));
    const gel::PreparedGel prepared(viewOf(g.values(), g.width()));
    const std::vector<gel::Tier> tiers = gel::findTiers(prepared);
    expectSameBands(whole, gel::analyseLanes(prepared, tiers, gel::findLanes(prepared, tiers)));

    // The same pixels through a padded 32-bit view read alike.
    std::vector<int> padded(static_cast<size_t>(g.width() + 3) * g.height());
    for (int y = 0; y < g.height(); ++y)
        for (int x = 0; x < g.width(); ++x)
            padded[static_cast<size_t>(y) * (g.width() + 3) + x] = g.value(x, y);
    expectSameBands(whole, gel::analyse(gel::GreyView::of(padded.data(), g.width(), g.height(),
                                                          4 * (g.width() + 3), 65535)));
}

TEST(GelStages, EveryRawVolumeIsTheSumOfItsRowsAsARemeasureFinds) {
    const SyntheticGel g = bentGel(6);
    const gel::PreparedGel prepared(viewOf(g.values(), g.width()));
    const gel::Analysis a = gel::analyse(viewOf(g.values(), g.width()));
    int bent = 0, measured = 0;
    for (const gel::Lane& lane : a.lanes) {
        bent += lane.bow != 0 || lane.tilt != 0;
        for (const gel::Band& b : lane.bands) {
            // The spans follow the lane's path: their pixels sum to the raw volume.
            ASSERT_EQ(static_cast<int>(b.rows.size()), b.box.height());
            double sum = 0;
            for (size_t i = 0; i < b.rows.size(); ++i)
                for (int x = b.rows[i].left; x < b.rows[i].right; ++x)
                    sum += prepared.value(x, b.box.top + static_cast<int>(i));
            EXPECT_EQ(sum, b.rawVolume);
            // A box drawn by the caller where the band is measures what the analysis measured.
            const gel::Band m = gel::measureBand(prepared, lane, b.box.top, b.box.bottom);
            EXPECT_EQ(m.rawVolume, b.rawVolume);
            EXPECT_EQ(m.saturatedPixels, b.saturatedPixels);
            if (!b.shoulder) {
                EXPECT_EQ(m.backgroundVolume, b.backgroundVolume);
                EXPECT_NEAR(m.peakY, b.peakY, 1.0);
                ++measured;
            }
        }
    }
    EXPECT_GE(bent, 6);
    EXPECT_GE(measured, 50);
}

TEST(GelStages, PlacedLanesGetTheBandsOfFoundOnes) {
    const SyntheticGel g = bentGel(0);
    const gel::PreparedGel prepared(viewOf(g.values(), g.width()));
    const gel::Analysis found = gel::analyse(viewOf(g.values(), g.width()));
    std::vector<gel::LanePlacement> placed;
    for (const gel::Lane& l : found.lanes)
        placed.push_back({l.tier, l.left, l.right});
    std::vector<gel::Lane> lanes = gel::placeLanes(prepared, found.tiers, placed);
    ASSERT_EQ(lanes.size(), found.lanes.size());
    for (size_t k = 0; k < lanes.size(); ++k)
        EXPECT_EQ(lanes[k].box.left, found.lanes[k].box.left);
    // Placed lanes are straight; a found one may lean by a fraction of a column.
    expectSameBands(found, gel::analyseLanes(prepared, found.tiers, lanes), 0.05, 0.01);

    // A lane placed by its centre and width, off by a few columns, still holds its bands.
    const gel::Lane& first = found.lanes[0];
    lanes = gel::placeLanes(prepared, found.tiers,
                            {gel::LanePlacement::centred(0, first.centre + 3, first.right - first.left)});
    ASSERT_EQ(lanes.size(), 1u);
    EXPECT_EQ(gel::analyseLanes(prepared, found.tiers, lanes).lanes[0].bands.size(), first.bands.size());
}

TEST(GelStages, BadArgumentsRaiseArgumentError) {
    const SyntheticGel g = bentGel(0);
    const gel::GreyView view = viewOf(g.values(), g.width());
    const gel::PreparedGel prepared(view);
    const std::vector<gel::Tier> tiers = gel::findTiers(prepared);
    const std::vector<gel::Lane> lanes = gel::findLanes(prepared, tiers);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto withView = [&](auto change) {
        gel::GreyView v = view;
        change(v);
        return [v] { gel::PreparedGel{v}; };
    };
    const auto withOptions = [&](auto change) {
        gel::Options o;
        change(o);
        return [view, o] { gel::PreparedGel(view, o); };
    };
    const std::vector<int> rows = {0, 300, 290}; // not rising
    const auto place = [&](gel::LanePlacement p) {
        return [&, p] { gel::placeLanes(prepared, tiers, {p}); };
    };
    const std::function<void()> bad[] = {
        withView([](gel::GreyView& v) { v.pixels = nullptr; }),
        withView([](gel::GreyView& v) { v.stride = 2 * v.width - 1; }),
        withView([](gel::GreyView& v) { v.maxValue = 0; }),
        withView([](gel::GreyView& v) { v.maxValue = 70000; }),
        withOptions([](gel::Options& o) { o.region.x = 790, o.region.width = 20, o.region.height = 100; }),
        withOptions([](gel::Options& o) { o.tiers = std::numeric_limits<int>::max(); }),
        withOptions([](gel::Options& o) { o.laneCount = -1; }),
        [&] { gel::tiersAt(prepared, rows); },
        place({3, 10, 40}),
        place({0, 40, 10}),
        place({0, nan, 10}),
        [&] {
            std::vector<gel::Tier> steep = tiers;
            steep[0].slope = 2;
            gel::findLanes(prepared, steep);
        },
        [&] {
            std::vector<gel::Tier> nowhere = tiers;
            nowhere[0].column = nan;
            gel::placeLanes(prepared, nowhere, {gel::LanePlacement::centred(0, 100, 30)});
        },
        [] { gel::detectPolarity(nullptr, 10, 10, 255); },
        [] { gel::detectPolarity(nullptr, 10, 3, 255); }, // too short to tell, but no pixels all the same
        [] { gel::detectPolarity(nullptr, 0, 0, 70000); },
        [&] { gel::measureBand(prepared, lanes[0], 200, 200); },
        [&] { gel::measureBand(prepared, lanes[0], -5, 20); },
        [&] {
            std::vector<gel::Lane> moved = lanes;
            moved[0].tier = 7;
            gel::findBands(prepared, tiers, moved);
        },
    };
    for (size_t k = 0; k < std::size(bad); ++k)
        EXPECT_THROW(bad[k](), gel::ArgumentError) << "case " << k;
}

// Hand-computed: 0 1 3 1 0 2 5 2 0 holds peaks at 2 (prominence 3: its valleys fall to 0) and
// 6 (5); the half-prominence crossings lie 0.75 and 0.8333 rows from them by linear
// interpolation; a plateau counts once, at its middle.
TEST(GelStages, ProfilePeaksOfAHandCheckedProfile) {
    const std::vector<gel::ProfilePeak> p = gel::profilePeaks({0, 1, 3, 1, 0, 2, 5, 2, 0}, 1);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_DOUBLE_EQ(p[0].position, 2);
    EXPECT_DOUBLE_EQ(p[0].prominence, 3);
    EXPECT_DOUBLE_EQ(p[0].halfWidthBefore, 0.75);
    EXPECT_DOUBLE_EQ(p[1].prominence, 5);
    EXPECT_DOUBLE_EQ(p[1].halfWidthAfter, 2.5 / 3);
    EXPECT_EQ(gel::profilePeaks({0, 1, 3, 1, 0, 2, 5, 2, 0}, 4).size(), 1u);
    const std::vector<gel::ProfilePeak> plateau = gel::profilePeaks({0, 2, 2, 0}, 0);
    ASSERT_EQ(plateau.size(), 1u);
    EXPECT_DOUBLE_EQ(plateau[0].position, 1.5);
}

// The gel in the imager's dark frame, its cut edges (bottom tilted) glowing along a rim, the tray's
// dim trough and bright lip beside it: the rims are no band or lane, every band stays.
TEST(GelStages, GelEdgeInAFrameIsNoBandOrLane) {
    const SyntheticGel g = bentGel(0);
    const int w = g.width() + 120, h = g.height() + 60;
    Pixels scan(static_cast<size_t>(w) * h, 40);
    const int blank = g.value(g.width() - 1, 0);
    for (int y = 0; y < h; ++y)
        for (int x = g.width(); x < g.width() + 42; ++x)
            scan[static_cast<size_t>(y) * w + x] =
                static_cast<std::uint16_t>(x < g.width() + 30 ? 40 + (blank - 40) / 4 : 3 * blank);
    for (int x = 0; x < g.width(); ++x) {
        const int edge = g.height() - 20 + 16 * x / w; // the cut runs downhill to the right
        for (int y = 0; y < edge; ++y) {
            const int rim = std::max(y - (edge - 8), x - (g.width() - 8));
            scan[static_cast<size_t>(y) * w + x] =
                static_cast<std::uint16_t>(g.value(x, y) + (rim > 0 ? 600 * rim : 0));
        }
    }
    const gel::Analysis framed = gel::analyse(viewOf(scan, w));
    const gel::Analysis plain = gel::analyse(viewOf(g.values(), g.width()));
    ASSERT_EQ(framed.lanes.size(), plain.lanes.size());
    // The background is the gel's own: the lane beside the frame is found as without it.
    for (size_t l = 0; l < plain.lanes.size(); ++l) {
        EXPECT_NEAR(framed.lanes[l].centre, plain.lanes[l].centre, 2) << "lane " << l;
        EXPECT_EQ(framed.lanes[l].bands.size(), plain.lanes[l].bands.size()) << "lane " << l;
        for (const gel::Band& b : framed.lanes[l].bands)
            EXPECT_LT(b.peakY, g.height() - 30) << "lane " << l;
    }
}

// A line across the gel, straight, slanting as in a photograph (up to 5 degrees) or jagged as a
// cut edge is (lying some rows lower in the gaps than in the lanes), is no band in any lane, the
// outer lanes with a gap on one side only included; one product loaded in every lane, at rows 60
// and 120 and glowing into the gaps at 0.6 of its height, is. The scan is one tier, as a caller
// may say: the line alone passes for the rims of a second comb.
TEST(GelStages, LineAcrossSlantedOrJaggedIsNoBand) {
    const struct { double slope, jag; } lines[] = {{0, 0}, {0.08, 0}, {0.035, 4}, {-0.035, -4}};
    for (const auto& line : lines) {
        const Pixels px = image16(200, 400, [&](int x, int y) {
            const double row = 300 + line.slope * x + (laneAt(x) < 0 ? line.jag : 0);
            return (laneAt(x) < 0 ? 400 + 0.6 * twoBands(y) : twoBands(y)) + 6000 * bump(y, row, 3);
        });
        const gel::Analysis a = inFourLanes(px, gel::Options(), oneTier());
        for (const gel::Lane& l : a.lanes)
            EXPECT_EQ(peakRows(l), (std::vector<long>{60, 120}))
                << "lane " << l.index << " slope " << line.slope;
    }
}

// The gel's far edge, a line across every lane at row 300 (the far half of the tier), ends the
// lanes: a tray's line 40 rows below it, in two lanes only, is no band; on the edge, a lane where
// it glows half as high again is the edge, and one where a band ran onto it (rising three times
// as far as the edge) keeps that band. The same line at row 150, nearer the wells (a stacking
// gel's boundary), is no band where it runs across, and what lies below it stays.
TEST(GelStages, GelsFarEdgeEndsItsLanes) {
    const struct {
        int line;
        std::vector<long> rows[4];
    } cases[] = {{300, {{60, 120}, {60, 120}, {60, 120}, {60, 120, 300}}},
                 {150, {{60, 120, 190}, {60, 120, 150}, {60, 120, 190}, {60, 120, 150}}}};
    for (const auto& c : cases) {
        const Pixels px = image16(200, 400, [&](int x, int y) {
            const int lane = laneAt(x);
            const double line = (lane == 1 ? 9000 : lane == 3 ? 20000 : 6000) * bump(y, c.line, 3);
            const double tray = lane == 0 || lane == 2 ? 3000 * bump(y, c.line + 40, 3) : 0;
            return (lane < 0 ? 1000 : twoBands(y)) + line + tray;
        });
        const gel::Analysis a = inFourLanes(px, gel::Options(), oneTier());
        for (size_t l = 0; l < 4; ++l)
            EXPECT_EQ(peakRows(a.lanes[l]), c.rows[l]) << "lane " << l << " line " << c.line;
    }
}

// A band ending a shelf (a smear's tail) is steep on its free side and stays; a smear, wide on
// both sides, goes; a band three times the usual width stays only if it stands out three times as far.
TEST(GelStages, WideRisesAreBandsOnlyWhereTheyStandOut) {
    const gel::Analysis a = inFourLanes(image16(200, 400, [](int x, int y) {
        const int lane = laneAt(x);
        double v = lane < 0 ? 1000 : twoBands(y);
        if (lane == 2) // a shelf from row 150, above the band's half height, ends in a band at row 262
            v += 6000 * (y >= 150 && y < 262 ? 1.0 : bump(y, 262, 4)) + 3000 * bump(y, 262, 4);
        if (lane == 3) v += 3000 * bump(y, 300, 40);
        if (lane == 0 || lane == 1) v += (lane == 0 ? 500 : 3000) * bump(y, 260, 9);
        return v;
    }));
    EXPECT_FALSE(near(a.lanes[0], 260));
    EXPECT_TRUE(near(a.lanes[1], 260));
    EXPECT_TRUE(near(a.lanes[2], 262));
    EXPECT_FALSE(near(a.lanes[3], 300));
}

// A figure's white border or a scan's black padding, with a frame and labels of the other colour
// in it (characters with soft edges two pixels wide), is no part of the gel: the gel inside gives
// the bands it gives alone.
TEST(GelStages, BlackOrWhiteMarginIsLeftOut) {
    const SyntheticGel g = bentGel(0);
    const int m = 60, w = g.width() + 2 * m, h = g.height() + 2 * m;
    const gel::Analysis plain = gel::analyse(viewOf(g.values(), g.width()));
    // Black, white, and white or a light grey page as a JPEG leaves them: the ink short of black,
    // and the four lines about the gel short of the page's level.
    for (const std::pair<int, bool>& page :
         {std::pair{0, false}, {65535, false}, {65535, true}, {60000, true}}) {
        const int border = page.first, ink = border > 32767 ? 0 : 65535;
        const bool rung = page.second;
        const Pixels px = image16(w, h, [&](int x, int y) {
            const int ring = std::min(std::min(x, w - 1 - x), std::min(y, h - 1 - y));
            const int out =
                std::max(std::max(m - x, x + 1 - m - g.width()), std::max(m - y, y + 1 - m - g.height()));
            // Six-pixel characters every 20 columns along the top; ink where off = 0, a third and
            // two thirds of the way to it one and two pixels out.
            const int cx = (x - 80) % 20, cy = y - 6;
            const int off = std::max(std::max(4 - cx, cx - 9), std::max(4 - cy, cy - 9));
            const double inked =
                x >= 80 && x < w - 80 && y < 20 && off < 3 ? std::min(rung ? 0.96 : 1.0, (3 - off) / 3.0) : 0;
            return out <= 0                   ? g.value(x - m, y - m)
                   : ring == 30 || ring == 31 ? ink
                   : rung && out <= 4         ? border - 2000 * (5 - out)
                                              : border + inked * (ink - border);
        });
        const gel::Analysis padded = gel::analyse(viewOf(px, w));
        ASSERT_EQ(padded.lanes.size(), plain.lanes.size()) << border;
        for (size_t l = 0; l < plain.lanes.size(); ++l) {
            ASSERT_EQ(padded.lanes[l].bands.size(), plain.lanes[l].bands.size()) << border << " lane " << l;
            for (size_t k = 0; k < plain.lanes[l].bands.size(); ++k) {
                const gel::Band &a = padded.lanes[l].bands[k], &b = plain.lanes[l].bands[k];
                EXPECT_DOUBLE_EQ(a.peakY, b.peakY + m);
                EXPECT_EQ(a.box.left, b.box.left + m) << border << " lane " << l;
            }
        }
    }
}

// Light dims from column 130 on, over gel and bands alike, above a camera black at the left edge.
// A faint rise is a band in the last lane lit at 60%, where the gel's bands rise 60% as far, not in
// the lit second lane; at 30% the gel beside that lane reads as tray, and the lane keeps the gel's bar.
TEST(GelStages, FaintBandsCountAgainstTheLightTheirLaneLiesIn) {
    for (const double dim : {0.6, 0.3}) {
        const gel::Analysis a = inFourLanes(image16(200, 400, [&](int x, int y) {
            const int lane = laneAt(x);
            const double light = x < 130 ? 1.0 : dim;
            double v = lane < 0 ? 1000 : twoBands(y);
            if (lane == 1 || lane == 3) v += 200 / light * bump(y, 250, 3);
            return x < 5 ? 100 : 100 + light * v;
        }));
        EXPECT_FALSE(near(a.lanes[1], 250)) << dim;
        EXPECT_EQ(near(a.lanes[3], 250), dim > 0.5) << dim;
    }
}

// A round speck of dust in a lane is no band; a band over only one side of its lane stays one.
TEST(GelStages, BandOffTheLanesMiddleStaysSpeckGoes) {
    const gel::Analysis a = inFourLanes(image16(200, 400, [](int x, int y) {
        double v = laneAt(x) < 0 ? 1000 : twoBands(y);
        v += 8000 * bump(x, 25, 1.5) * bump(y, 200, 1.5);    // a speck in the first lane
        if (x >= 73 && x < 105) v += 8000 * bump(y, 250, 3); // the second lane's right side
        return v;
    }));
    EXPECT_EQ(peakRows(a.lanes[0]), (std::vector<long>{60, 120}));
    EXPECT_EQ(peakRows(a.lanes[1]), (std::vector<long>{60, 120, 250}));
}

// A saturated band's flank glows and bends where no band lies: no shoulder there, where the same
// bend beside a band that is not clipped is one.
TEST(GelStages, NoShoulderOnASaturatedFlank) {
    const gel::Analysis a = inFourLanes(image16(200, 400, [](int x, int y) {
        const int lane = laneAt(x);
        if (lane < 0) return 1000.0;
        const double top = lane % 2 == 0 ? 120000 : 40000;
        return std::min(65535.0, 1000 + 20000 * (bump(y, 60, 4) + bump(y, 200, 4)) + top * bump(y, 100, 4) +
                                     8000 * bump(y, 114, 4));
    }));
    EXPECT_EQ(a.lanes[0].bands.size(), 3u); // 60, 100, 200
    EXPECT_EQ(a.lanes[1].bands.size(), 4u); // and the shoulder at 114
}

// Two combs whose lanes do not line up: the second comb's row of rims, across its empty lanes
// too, parts two tiers, each with its own lanes and bands below its comb; with its combs set
// askew by 1.7 degrees, the rows of wells are read along their slope and the lanes stand
// upright; turned by as much, the lanes drift too, and are found along their drift.
TEST(GelStages, SecondCombOffsetFromTheFirstPartsTiers) {
    const int h = 600, pitch = 60;
    struct Scan {
        double slope;
        int frame;
        bool turned;
        int noise = 27;         // the noise: the seed's top bits from this one, 0 to 31 by default
        double emptyRims = 400; // the rims' rise at the empty wells (the loaded ones' is 400)
    };
    // Level, askew, turned, in an imager's dark frame 300 columns wide on either side (the frame
    // then fills a third of the middle 80% of the scan's columns), and under noise of 0 to 255
    // that hides the faint rims of the empty wells from single columns.
    for (const Scan& scan : {Scan{0.0, 0, false}, Scan{0.03, 0, false}, Scan{0.03, 0, true},
                             Scan{0.0, 300, false}, Scan{0.0, 0, false, 24, 160}}) {
        const double slope = scan.slope;
        const int frame = scan.frame;
        const int w = 700 + 2 * frame;
        const double middle = 0.5 * (w - 1);
        // Where a lane's centre lies in the gel's own columns.
        const auto gelColumn = [&](const gel::Lane& l) {
            return l.centre + (scan.turned ? slope * (l.middle - 0.5 * h) : 0.0) - frame;
        };
        std::uint32_t seed = 7;
        const Pixels px = image16(w, h, [&](int xi, int y0) {
            seed = seed * 1664525u + 1013904223u;
            const int x = xi - frame +
                          (scan.turned ? static_cast<int>(std::lround(slope * (y0 - 0.5 * h))) : 0),
                      y = y0 - static_cast<int>(std::lround(slope * (xi - middle)));
            const double noise = static_cast<double>(seed >> scan.noise);
            if (x < 0 || x >= 700) return 200.0 + noise;
            // Noise, and light falling off to the right, where the empty wells are.
            double v = 1000 + 0.2 * (700 - x) + noise;
            for (const auto& [row, shift] : {std::pair{30, 0}, std::pair{300, pitch / 2}}) {
                const int slot = (x - 50 - shift) % pitch;
                const bool inComb = x >= 50 + shift && x < 50 + shift + 10 * pitch && slot < 40;
                if (inComb && (std::abs(y - row) <= 1 || std::abs(y - row - 12) <= 1))
                    v += x < 50 + shift + 5 * pitch ? 400 : scan.emptyRims; // above and below each slot
                // The first five wells of each comb were loaded.
                if (inComb && x < 50 + shift + 5 * pitch && y > row + 20 && y < row + 250)
                    v += 300 + 3000 * std::exp(-0.5 * std::pow(((y - row) % 45 - 22) / 3.0, 2));
            }
            return v;
        });
        const gel::Analysis a = gel::analyse(viewOf(px, w));
        ASSERT_EQ(a.tiers.size(), 2u) << "slope " << slope << " frame " << frame << " noise " << scan.noise;
        EXPECT_NEAR(a.tiers[1].slope, slope, 0.003);
        EXPECT_NEAR(a.tiers[1].drift, scan.turned ? -slope : 0.0, 0.005) << "slope " << slope;
        EXPECT_NEAR(a.tiers[1].rowAt(a.tiers[1].top, middle), 300, 20);
        for (const gel::Lane& l : a.lanes) {
            const gel::Tier& t = a.tiers[static_cast<size_t>(l.tier)];
            // Each tier's bands start below its comb's lower rims.
            EXPECT_GT(t.rowAt(t.firstBandRow, l.centre),
                      (l.tier == 0 ? 43 : 313) + slope * (l.centre - middle));
            const int shift = l.tier == 1 ? pitch / 2 : 0;
            const double well = (gelColumn(l) - 50 - shift - 20) / pitch;
            EXPECT_NEAR(well, std::round(well), 0.1) << "lane " << l.index << " in tier " << l.tier;
        }
    }
}

// The next comb's thick bright upper rims cross the lanes just above a caller's tier start: no
// band in any lane; a band of one sample there stays.
TEST(GelStages, NextCombsRimsAreNoBandsButOneSamplesBandIs) {
    const int w = 400, h = 600, pitch = 60;
    for (const bool rims : {true, false}) {
        const Pixels px = image16(w, h, [&](int x, int y) {
            const bool inLane = x >= 20 && x < 20 + 6 * pitch && (x - 20) % pitch < 40;
            double v = 1000;
            if (inLane && ((rims && y >= 292 && y <= 300) || (!rims && x < 60 && std::abs(y - 296) <= 2)))
                v += 1500;
            if (inLane && ((y > 40 && y < 280) || y > 320))
                v += 300 + 3000 * std::exp(-0.5 * std::pow((y % 45 - 22) / 3.0, 2));
            return v;
        });
        const gel::PreparedGel prepared(viewOf(px, w));
        const std::vector<gel::Tier> tiers = gel::tiersAt(prepared, {305});
        const gel::Analysis a = gel::analyseLanes(prepared, tiers, gel::findLanes(prepared, tiers));
        int banded = 0;
        for (const gel::Lane& l : a.lanes)
            banded += l.tier == 0 && near(l, 296);
        EXPECT_EQ(banded, rims ? 0 : 1) << (rims ? "rims" : "one band");
    }
}

// Clipped bright bands on a gel brighter than midway, in a dark frame: the histogram spreads
// further below its median than above, yet the bands stand out bright; inverted, dark.
TEST(GelStages, PolarityHoldsWithAFrameAndClippedBands) {
    const int w = 200, h = 200;
    std::vector<int> px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool frame = x < 15 || x >= w - 15 || y < 15 || y >= h - 15;
            const bool lane = (x - 20) % 40 < 25;
            double v = 140 + (x * 7 + y * 13) % 5;
            for (const double row : {60.0, 100.0, 140.0})
                v += lane ? 300 * bump(y, row, 3) : 0;
            px[static_cast<size_t>(y) * w + x] = frame ? 5 : static_cast<int>(std::min(v, 255.0));
        }
    EXPECT_EQ(gel::detectPolarity(px.data(), w, h, 255), gel::Polarity::BrightBands);
    for (int& v : px)
        v = 255 - v;
    EXPECT_EQ(gel::detectPolarity(px.data(), w, h, 255), gel::Polarity::DarkBands);
}

// A dense ladder, brighter than the gel beside it even between its bands: those valleys are no
// wells' slots, and every band of the ladder is found.
TEST(GelStages, DenseLadderValleysAreNoSlots) {
    const gel::Analysis a = inFourLanes(image16(200, 400, [](int x, int y) {
        double v = 1000;
        if (laneAt(x) == 1) { // the ladder
            v += 2000;
            for (int at = 40; at <= 360; at += 20)
                v += 4000 * bump(y, at, 6.0);
        } else if (laneAt(x) >= 0)
            v += 6000 * bump(y, 200, 4.0);
        return v;
    }));
    EXPECT_EQ(a.lanes[1].bands.size(), 17u);
}

// A faint ladder band three sigma below a bright one makes no peak or clear bend; the ladder's
// sizes say it is there. A size where the gel is blank adds nothing.
TEST(GelStages, LadderSizesFindTheBandHiddenInAFlank) {
    // Migration falls with log size, a decade in 100 rows: rows 60 .. 220 hold 10 .. 0.251.
    const std::vector<std::pair<double, double>> ladder = {{60, 8000},  {100, 8000}, {140, 8000},
                                                           {152, 1000}, {180, 8000}, {220, 8000}};
    const Pixels px = image16(200, 300, [&](int x, int y) {
        double v = 1000;
        if (laneAt(x) == 0)
            for (const auto& [at, height] : ladder)
                v += height * bump(y, at, 4.0);
        else if (laneAt(x) > 0)
            v += 6000 * bump(y, 200, 4.0);
        return v;
    });
    EXPECT_EQ(inFourLanes(px).lanes[0].bands.size(), 5u);
    gel::Options o;
    o.ladderLanes = {0};
    for (const std::vector<double>& sizes :
         {std::vector<double>{10, 3.98, 1.585, 1.202, 0.631, 0.251},
          std::vector<double>{10, 6.31, 3.98, 1.585, 1.202, 0.631, 0.251}}) {
        o.ladderSizes = sizes;
        const gel::Analysis a = inFourLanes(px, o);
        const std::vector<gel::Band>& bands = a.lanes[0].bands;
        ASSERT_EQ(bands.size(), 6u) << sizes.size() << " sizes";
        for (size_t k = 0; k < 6; ++k) {
            EXPECT_NEAR(bands[k].peakY, ladder[k].first, 2) << k;
            EXPECT_EQ(bands[k].fromLadder, k == 3) << k;
        }
        EXPECT_EQ(a.lanes[1].bands.size(), 1u);
    }
}

// Wells cut by the scan rise from the top row and peak within an edge's glow of it (a 64th of
// the rows): no bands; nor is a well's lower rim just below what is left of it (the third lane).
// A band the scan cuts further down, nothing above it, is still a band.
TEST(GelStages, WellsCutByTheScanAreNoBands) {
    const gel::Analysis a = inFourLanes(image16(200, 640, [](int x, int y) {
        const int lane = laneAt(x);
        double v = 1000;
        std::vector<double> peaks{lane == 3 ? 14.0 : 3.0, 60.0, 100.0};
        if (lane == 2) peaks.push_back(18.0);
        for (double at : peaks)
            v += lane < 0 ? 0 : 8000 * bump(y, at, 5.0);
        return v;
    }));
    const std::vector<long> rows[] = {{60, 100}, {60, 100}, {60, 100}, {14, 60, 100}};
    for (size_t l = 0; l < 4; ++l)
        EXPECT_EQ(peakRows(a.lanes[l]), rows[l]) << "lane " << l + 1;
}

// A lane of one short band beside a long bright ladder makes no peak in the columns, but its well
// shows in the row of slots: a lane is put under it, none under the empty well beside it.
TEST(GelStages, LaneUnderItsWellBesideALadder) {
    const int w = 540, h = 400, pitch = 60;
    const Pixels px = image16(w, h, [&](int x, int y) {
        const int lane = (x - 30) / pitch, inLane = (x - 30) % pitch;
        double v = 1000;
        if (y > 40) // the ladder's glow spreads across the lane beside it
            v += 2500 * bump(x, 50, 45) + 6000 * bump(y, 300, 3) * (lane == 1 && inLane < 40);
        if (x < 30 || lane > 7 || inLane >= 40) return v;
        if (y >= 20 && y < 28) return 600.0;                         // the slot
        if (y == 18 || y == 19 || y == 28 || y == 29) return 1800.0; // its rims
        if (lane == 0)                                               // the ladder
            for (int at = 60; at < 380; at += 20)
                v += 9000 * bump(y, at, 3);
        if (lane >= 3)
            for (int at : {120, 200, 260})
                v += 3000 * bump(y, at + 5 * lane, 3);
        return std::min(v, 65535.0);
    });
    const gel::Analysis a = gel::analyse(viewOf(px, w));
    EXPECT_NEAR(a.tiers[0].wellsTop, 20, 1); // the slots, rows 20 .. 27
    EXPECT_NEAR(a.tiers[0].wellsBottom, 28, 1);
    std::vector<double> centres;
    for (const gel::Lane& l : a.lanes)
        centres.push_back(std::round(l.centre / pitch));
    EXPECT_EQ(centres, (std::vector<double>{1, 2, 4, 5, 6, 7, 8})); // lanes under wells 0, 1, 3 .. 7
    ASSERT_EQ(a.lanes.size(), 7u);
    EXPECT_NEAR(a.lanes[1].centre, 110, 2);
    ASSERT_EQ(a.lanes[1].bands.size(), 1u);
    EXPECT_NEAR(a.lanes[1].bands[0].peakY, 300, 1);
}

// Dye fronts far brighter than the bands, each spread over two lanes, merge their columns into
// lanes between the wells; the row of slots still repeats at the wells' pitch, and each loaded
// well is a lane (the last four are empty).
TEST(GelStages, DyeFrontsOverTwoLanesLeaveALaneUnderEachWell) {
    const int w = 1200, h = 500, pitch = 80;
    const Pixels px = image16(w, h, [&](int x, int y) {
        double v = 1000;
        for (int k = 0; k < 10; k += 2)
            v += 15000 * bump(x, 120 + pitch * k, 40) * bump(y, 420, 25);
        const int well = (x - 50) / pitch;
        if (x < 50 || well > 13 || (x - 50) % pitch >= 60) return v;
        if (y >= 20 && y < 28) return 600.0;                         // the slot
        if (y == 18 || y == 19 || y == 28 || y == 29) return 1800.0; // its rims
        return well > 9 ? v : v + 3000 * (bump(y, 100 + 10 * well, 3) + bump(y, 250 + 5 * well, 3));
    });
    const gel::Analysis a = gel::analyse(viewOf(px, w));
    ASSERT_EQ(a.lanes.size(), 10u);
    for (const gel::Lane& l : a.lanes)
        EXPECT_NEAR(l.centre, 80 + pitch * l.index, pitch / 4) << "lane " << l.index;
}

// Lanes of a tier whose wells were not read go where they lie more than a pitch beyond the outer
// wells of another tier's comb that was read (wells 100 .. 900, pitch 80); with no comb read, or
// each tier's own, every lane stays.
TEST(GelStages, NoLaneBeyondTheCombOfAnotherTier) {
    const auto centres = [](const std::vector<double>& xs) {
        std::vector<gel::Lane> lanes;
        for (double x : xs) {
            lanes.emplace_back();
            lanes.back().centre = x;
        }
        return lanes;
    };
    const std::vector<double> found{15, 30, 100, 500, 980, 985};
    const gel::detail::CombSpan read{100, 900, 80}, none;
    const struct {
        gel::detail::CombSpan upper, lower;
        size_t upperLeft, lowerLeft;
    } cases[] = {{read, none, 6, 4}, {none, read, 4, 6}, {none, none, 6, 6}, {read, read, 6, 6}};
    for (const auto& c : cases) {
        std::vector<gel::detail::TierLanes> tiers(2);
        tiers[0].comb = c.upper;
        tiers[1].comb = c.lower;
        tiers[0].lanes = tiers[1].lanes = centres(found);
        gel::detail::keepUnderCombs(tiers);
        EXPECT_EQ(tiers[0].lanes.size(), c.upperLeft);
        EXPECT_EQ(tiers[1].lanes.size(), c.lowerLeft);
    }
}

// Lanes glowing on down from their wells' lower rims (dense ladders, smears): the glow is no rim,
// and the bands on it are found below the slots.
TEST(GelStages, LanesGlowingOnFromTheirRimsKeepTheirBands) {
    const Pixels px = combedLanes(8, [](int y, int lane) {
        return 3500 +
               6000 * (bump(y, 100 + 5 * lane, 3) + bump(y, 200 + 5 * lane, 3) + bump(y, 300 + 5 * lane, 3));
    });
    const gel::Analysis a = gel::analyse(viewOf(px, 540));
    ASSERT_EQ(a.tiers.size(), 1u);
    EXPECT_NEAR(a.tiers[0].wellsTop, 20, 1);
    EXPECT_LT(a.tiers[0].firstBandRow, 60);
    ASSERT_EQ(a.lanes.size(), 8u);
    for (const gel::Lane& l : a.lanes)
        EXPECT_EQ(l.bands.size(), 3u) << "lane " << l.index;
}

// Below tall slots (24 rows) the lower rims glow first; a bright band further down, within four
// slots' heights, glows more, but the bands start below the rims, and both bands are kept.
TEST(GelStages, BandsStartBelowTheFirstGlowUnderTheWells) {
    const Pixels px =
        combedLanes(24, [](int y, int) { return 1000 + 1500 * bump(y, 90, 3) + 6000 * bump(y, 130, 4); });
    const gel::Analysis a = gel::analyse(viewOf(px, 540));
    ASSERT_EQ(a.lanes.size(), 8u);
    for (const gel::Lane& l : a.lanes)
        EXPECT_EQ(peakRows(l), (std::vector<long>{90, 130})) << "lane " << l.index;
}

// The gel's top edge, darker where the lanes run than between them, stands out more than the
// wells' slots do, but no rims glow below it: the wells are the slots, and the bands start
// below their rims. Below a camera's black of 200 rows, the wells lie beyond the scan's top 40%
// but in the gel's.
TEST(GelStages, TopEdgeWithoutRimsIsNoRowOfWells) {
    const int w = 540, pitch = 60;
    for (const int frame : {0, 180}) {
        const int h = 400 + frame;
        const Pixels px = image16(w, h, [&](int x, int y0) {
            const int lane = (x - 30) / pitch, y = y0 - frame;
            if (y < 20) return frame > 0 ? 100.0 + (x * 7 + y0 * 13) % 5 : 0.0; // above the gel
            if (x < 30 || lane > 7 || (x - 30) % pitch >= 40) return 1000.0;
            if (y < 25) return 700.0;             // the edge
            if (y >= 60 && y < 68) return 800.0;  // the slot
            if (y >= 56 && y < 72) return 1800.0; // its rims
            double v = 1000;
            for (int at = 100; at < 380; at += 40)
                v += 6000 * bump(y, at + 5 * lane, 3);
            return v;
        });
        const gel::Analysis a = gel::analyse(viewOf(px, w));
        ASSERT_EQ(a.tiers.size(), 1u) << frame;
        EXPECT_NEAR(a.tiers[0].wellsTop, 60 + frame, 2) << frame; // the comb's stripe may take in a rim row
        EXPECT_GE(a.tiers[0].firstBandRow, 72 + frame) << frame;
    }
}
