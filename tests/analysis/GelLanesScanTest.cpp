// Lanes, bands and volumes of real gels against what their sources say (skipped where absent).
#include "analysis/GelAnalysis.h"
#include "image/DalvoImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <filesystem>
#include <memory>

namespace {

// A scan by its path under the shared folder, or nothing where it is absent.
std::unique_ptr<DalvoImage> loadGel(const char* name) {
    const std::filesystem::path path = std::filesystem::path(KESTRO_SHARED_DIR) / name;
    CFile file;
    auto image = std::make_unique<DalvoImage>();
    if (!std::filesystem::exists(path) ||
        !file.Open(CString::FromUtf8(path.string().c_str()), CFile::modeRead))
        return nullptr;
    image->CreateFromFile(&file);
    return image->isValid() ? std::move(image) : nullptr;
}

#define LOAD_OR_SKIP(var, name)                                                                              \
    const std::unique_ptr<DalvoImage> var = loadGel(name);                                                   \
    if (!var) GTEST_SKIP() << name << " is not there";

// The band of a lane whose peak lies nearest a row, if within reach.
const kestro::gel::Band* bandNear(const kestro::gel::Lane& lane, double row, double reach) {
    const kestro::gel::Band* best = nullptr;
    for (const kestro::gel::Band& b : lane.bands)
        if (std::fabs(b.peakY - row) <= reach &&
            (!best || std::fabs(b.peakY - row) < std::fabs(best->peakY - row)))
            best = &b;
    return best;
}

// Volumes along lanes that should weaken: each at most 5% above the one before, the last one
// below `lastShare` of the first.
void expectWeakening(const std::vector<double>& v, double lastShare) {
    for (size_t k = 1; k < v.size(); ++k)
        EXPECT_LE(v[k], 1.05 * v[k - 1]) << "lane " << k + 1;
    EXPECT_LT(v.back(), lastShare * v.front());
}

} // namespace

using namespace kestro;

// ImageJ's sample gel: dark bands on light, 6 lanes at about x = 30, 75, 120, 163, 207, 253, a
// major band at about y = 150 in every lane, bands at 240 and 300 weakening from lane 2 to 6.
TEST(GelLanesScan, ImageJSampleGel) {
    LOAD_OR_SKIP(image, "gels/gel-1d-8bit-imagej-sample-01.gif");
    const gel::Analysis a = gel::analyse(*image);
    EXPECT_EQ(a.polarity, gel::Polarity::DarkBands);
    ASSERT_EQ(a.lanes.size(), 6u);
    const double centres[] = {30, 75, 120, 163, 207, 253};
    std::vector<double> at240, at300;
    for (size_t l = 0; l < 6; ++l) {
        // The faint first lane's band sits nearer x = 20 than 30 by eye.
        EXPECT_NEAR(a.lanes[l].centre, centres[l], l == 0 ? 12 : 4) << "lane " << l + 1;
        EXPECT_TRUE(bandNear(a.lanes[l], 150, 8)) << "lane " << l + 1;
        const gel::Band* b240 = bandNear(a.lanes[l], 240, 8);
        const gel::Band* b300 = bandNear(a.lanes[l], 300, 8);
        if (l > 0) {
            ASSERT_TRUE(b240 && b300) << "lane " << l + 1;
            at240.push_back(b240->correctedVolume);
            at300.push_back(b300->correctedVolume);
        }
    }
    expectWeakening(at240, 0.2);
    expectWeakening(at300, 0.2);
}

// Eight lanes, bright bands on dark.
TEST(GelLanesScan, FingerprintGel) {
    LOAD_OR_SKIP(image, "gels/dna-fingerprint-8bit-gray-icc-8lanes-01.png");
    const gel::Analysis a = gel::analyse(*image);
    EXPECT_EQ(a.polarity, gel::Polarity::BrightBands);
    EXPECT_EQ(a.lanes.size(), 8u);
}

// Four identical 1 kb Plus ladders in the spans 339-437, 566-664, 791-891, 1020-1121; the
// reference bands at 3.0, 1.0 and 0.5 kb hold 120-124 ng, the 1.5 kb band 57 ng.
TEST(GelLanesScan, FourLadderGel) {
    LOAD_OR_SKIP(image, "gels/agarose-dna-8bit-lzw-ladders-01.tif");
    const gel::Analysis a = gel::analyse(*image);
    ASSERT_EQ(a.lanes.size(), 4u);
    const double spans[4][2] = {{339, 437}, {566, 664}, {791, 891}, {1020, 1121}};
    std::vector<std::vector<const gel::Band*>> references;
    for (size_t l = 0; l < 4; ++l) {
        const gel::Lane& lane = a.lanes[l];
        EXPECT_NEAR(lane.centre, 0.5 * (spans[l][0] + spans[l][1]), 3) << "lane " << l + 1;
        // A faint glow left of the first lane carries its edge 18 px out.
        EXPECT_NEAR(lane.left, spans[l][0], 20) << "lane " << l + 1;
        EXPECT_NEAR(lane.right, spans[l][1], 20) << "lane " << l + 1;

        // Of the 19 bands, the faint ones between 1.0 and 0.5 kb are mostly found as their shoulders.
        EXPECT_GE(lane.bands.size(), 15u) << "lane " << l + 1;
        EXPECT_LE(lane.bands.size(), 19u) << "lane " << l + 1;
        // The three reference bands are the lane's largest, each 1.4 times any other band.
        std::vector<const gel::Band*> byVolume;
        for (const gel::Band& b : lane.bands)
            byVolume.push_back(&b);
        std::sort(byVolume.begin(), byVolume.end(), [](const gel::Band* x, const gel::Band* y) {
            return x->correctedVolume > y->correctedVolume;
        });
        ASSERT_GE(byVolume.size(), 5u);
        EXPECT_GT(byVolume[2]->correctedVolume, 1.4 * byVolume[3]->correctedVolume) << "lane " << l + 1;
        std::vector<const gel::Band*> refs(byVolume.begin(), byVolume.begin() + 3);
        std::sort(refs.begin(), refs.end(),
                  [](const gel::Band* x, const gel::Band* y) { return x->peakY < y->peakY; });
        // 3.0 kb against 1.5 kb, two bands further down: 120 / 57 ng.
        const gel::Band& kb3 = *refs[0];
        ASSERT_LT(kb3.index + 2, static_cast<int>(lane.bands.size()));
        EXPECT_NEAR(kb3.correctedVolume / lane.bands[kb3.index + 2].correctedVolume, 120.0 / 57, 0.4);
        references.push_back(refs);
    }
    // Calibrated on the maker's sizes paired from the reference bands (five above 3.0 kb, three to
    // 1.0 kb, then 0.5 kb), each band left out in turn is sized from the others.
    const double kb[] = {10, 8, 6, 5, 4, 3, 2, 1.5, 1.2, 1.0, 0.5};
    std::vector<double> errors[2]; // linear, spline
    for (size_t l = 0; l < 4; ++l) {
        ASSERT_TRUE(references[l][0]->index == 5 && references[l][1]->index == 9) << "lane " << l + 1;
        gel::SizeCalibration c;
        for (int k = 0; k <= 10; ++k)
            c.positions.push_back(k < 10 ? a.lanes[l].bands[static_cast<size_t>(k)].peakY
                                         : references[l][2]->peakY);
        c.sizes.assign(std::begin(kb), std::end(kb));
        for (gel::SizeFit fit : {gel::SizeFit::PiecewiseLinear, gel::SizeFit::MonotoneSpline}) {
            c.fit = fit;
            for (size_t k = 0; k < 11; ++k)
                errors[fit == gel::SizeFit::MonotoneSpline].push_back(
                    std::fabs(c.leaveOneOut()[k] / kb[k] - 1));
        }
    }
    for (auto& e : errors)
        std::nth_element(e.begin(), e.begin() + 22, e.end());
    EXPECT_LT(errors[1][22], 0.05);
    EXPECT_LE(errors[1][22], errors[0][22]);

    // Told every lane holds the 19 sizes, the analysis seeks those the search missed: each size then
    // lies alike in all four lanes, as a share of the way from 3.0 kb (the 6th) to 0.5 kb (the 15th).
    const std::vector<double> all = {10,  8,   6,   5,   4,   3,   2,   1.5, 1.2, 1.0,
                                     0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.2, 0.1};
    gel::Options o;
    o.ladderLanes = {0, 1, 2, 3};
    o.ladderSizes = all;
    const gel::Analysis full = gel::analyse(*image, o);
    ASSERT_EQ(full.lanes.size(), 4u);
    for (const gel::Lane& l : full.lanes)
        ASSERT_EQ(l.bands.size(), all.size()) << "lane " << l.index + 1;
    for (size_t k = 0; k < all.size(); ++k) {
        double place[4], mean = 0;
        for (size_t l = 0; l < 4; ++l) {
            const std::vector<gel::Band>& b = full.lanes[l].bands;
            place[l] = (b[k].peakY - b[5].peakY) / (b[14].peakY - b[5].peakY);
            mean += place[l] / 4;
        }
        for (size_t l = 0; l < 4; ++l)
            EXPECT_NEAR(place[l], mean, 0.04) << all[k] << " kb, lane " << l + 1;
    }
}

// Two tiers of 20 lanes; the mask of its source has bands in 20 lanes of the top tier and 18 of
// the bottom one, 91 blobs in all, among them one bright (saturated) product band per sample lane.
// Below each product lies a diffuse primer-dimer cloud, which the mask leaves out.
TEST(GelLanesScan, TwoTierGel) {
    LOAD_OR_SKIP(image, "gels/agarose-dna-8bit-twotier-2x20lanes-03.tif");
    const gel::Analysis a = gel::analyse(*image); // the tiers found, not given
    int lanes[2] = {0, 0}, withSaturated = 0, sharp = 0;
    for (const gel::Lane& l : a.lanes) {
        ++lanes[l.tier];
        // The lanes run straight; a path fitted to the bands must not swing out above them.
        EXPECT_NEAR(l.centreAt(l.box.top), l.centreAt(l.box.bottom - 1), 3) << "lane " << l.index + 1;
        withSaturated +=
            std::any_of(l.bands.begin(), l.bands.end(), [](const gel::Band& b) { return b.saturated; });
        sharp += static_cast<int>(
            std::count_if(l.bands.begin(), l.bands.end(), [](const gel::Band& b) { return !b.diffuse; }));
    }
    EXPECT_EQ(lanes[0], 20);
    EXPECT_EQ(lanes[1], 18); // the last two wells of the bottom comb are empty
    EXPECT_GE(withSaturated, 19 + 16);
    EXPECT_NEAR(sharp, 91, 9); // the sharp bands are the blobs
}

// The two-comb photograph at half its size: the wells' slots there are only a few rows high, and
// the darkest rows between the lanes are their lower part. The second tier starts above its wells'
// slots (from about row 272 by eye where the rows lie level), so its lanes are read from its own
// wells: its ladder, first, carries the most bands.
TEST(GelLanesScan, HalvedGelsSecondTierStartsAboveItsWells) {
    LOAD_OR_SKIP(image, "external-gels/images/gg-q1-pair04and05-wk9-gelred.jpg");
    ASSERT_TRUE(image->rescale(680, 512));
    const gel::Analysis a = gel::analyse(*image);
    ASSERT_EQ(a.tiers.size(), 2u);
    EXPECT_LE(a.tiers[1].top, 272);
    std::vector<size_t> bands;
    for (const gel::Lane& l : a.lanes)
        if (l.tier == 1) bands.push_back(l.bands.size());
    ASSERT_FALSE(bands.empty());
    EXPECT_EQ(bands.front(), *std::max_element(bands.begin(), bands.end()));
}

// A one-comb gel turned by 3 degrees more than its 1.5 (as a photograph may be): its lanes, found
// along their drift, are the lanes of the gel as scanned, moved by the turn, each within a quarter
// of its width.
TEST(GelLanesScan, GelTurnedFurtherKeepsItsLanes) {
    LOAD_OR_SKIP(image, "external-gels/images/gg-q1-pair01-wk9-gelred.jpg");
    const gel::Analysis before = gel::analyse(*image);
    const int w = static_cast<int>(image->getWidth()), h = static_cast<int>(image->getHeight());
    ASSERT_TRUE(image->rotate(-300, 0ul)); // hundredths of a degree, counter-clockwise
    const gel::Analysis after = gel::analyse(*image);
    ASSERT_EQ(after.lanes.size(), before.lanes.size());
    // Where a point of the gel lands on the turned image's canvas.
    const double turn = -3 * 3.14159265358979 / 180, c = std::cos(turn), s = std::sin(turn);
    const double cw = image->getWidth(), ch = image->getHeight();
    for (size_t k = 0; k < before.lanes.size(); ++k) {
        const gel::Lane& l = before.lanes[k];
        const double u = l.centre - 0.5 * (w - 1), v = l.middle - 0.5 * (h - 1);
        const double x = 0.5 * (cw - 1) + u * c + v * s, y = 0.5 * (ch - 1) - u * s + v * c;
        EXPECT_NEAR(after.lanes[k].centreAt(y), x, 0.25 * (l.right - l.left)) << "lane " << k + 1;
    }
}

// A photographed gel of two combs turned by about 1.5 degrees, whose lanes lean by 2.5 (the ladder
// runs from x = 110 at row 180 to 100 at row 440 by eye): its tiers are read along their wells'
// slope, and stage by stage (lanes sought where the tier's rows lie level and its lanes run
// straight down) it reads as in one call.
TEST(GelLanesScan, PhotographedGelReadAlongItsSlope) {
    LOAD_OR_SKIP(image, "external-gels/images/gg-q1-pair04and05-wk9-gelred.jpg");
    const gel::GreyImage grey = gel::greyImage(*image);
    const gel::PreparedGel prepared(grey.view());
    const std::vector<gel::Tier> tiers = gel::findTiers(prepared);
    ASSERT_EQ(tiers.size(), 2u);
    EXPECT_NEAR(tiers[1].slope, 0.027, 0.005);
    EXPECT_NEAR(tiers[1].drift, -0.04, 0.006);
    const gel::Analysis whole = gel::analyse(grey.view());
    const gel::Analysis staged = gel::analyseLanes(prepared, tiers, gel::findLanes(prepared, tiers));
    ASSERT_EQ(staged.lanes.size(), whole.lanes.size());
    for (size_t l = 0; l < whole.lanes.size(); ++l) {
        ASSERT_EQ(staged.lanes[l].bands.size(), whole.lanes[l].bands.size()) << "lane " << l + 1;
        for (size_t k = 0; k < whole.lanes[l].bands.size(); ++k)
            EXPECT_EQ(staged.lanes[l].bands[k].rawVolume, whole.lanes[l].bands[k].rawVolume);
    }
}

// A gel still in its casting tray, about ten lanes; the bright tray walls outshine every lane.
TEST(GelLanesScan, CastingTrayGel) {
    LOAD_OR_SKIP(image, "gels/agarose-dna-16bit-le-saturated-01.tif");
    // Found, or asked for (also below and above the wells' 11): the count asked is the count got.
    for (int count : {0, 7, 9, 11}) {
        gel::Options o;
        o.laneCount = count;
        const gel::Analysis a = gel::analyse(*image, o);
        SCOPED_TRACE(testing::Message() << "lane count " << count);
        EXPECT_GE(a.lanes.size(), count > 0 ? static_cast<size_t>(count) : size_t{8});
        EXPECT_LE(a.lanes.size(), count > 0 ? static_cast<size_t>(count) : size_t{11});
        // Lanes 3 and 9 hold one saturated band each, centred at about x = 529 and 1022 by eye;
        // the faint lane 10 beside lane 9 is a lane of its own.
        std::vector<double> saturated;
        for (const gel::Lane& l : a.lanes)
            if (std::any_of(l.bands.begin(), l.bands.end(), [](const gel::Band& b) { return b.saturated; }))
                saturated.push_back(l.centre);
        ASSERT_EQ(saturated.size(), 2u);
        EXPECT_NEAR(saturated[0], 529, 10);
        EXPECT_NEAR(saturated[1], 1022, 10);
    }
}

// Six lanes of two bands, dark on light; the lower band falls from lane 1 to lane 6.
TEST(GelLanesScan, TwoBandGel) {
    LOAD_OR_SKIP(image, "gels/gel-6lanes-8bit-gray-as-rgb-01.jpg");
    const gel::Analysis a = gel::analyse(*image);
    EXPECT_EQ(a.polarity, gel::Polarity::DarkBands);
    ASSERT_EQ(a.lanes.size(), 6u);
    std::vector<double> lower;
    for (const gel::Lane& l : a.lanes) {
        const gel::Band* best = nullptr;
        for (const gel::Band& b : l.bands)
            if (b.peakY > a.height / 4 && (!best || b.correctedVolume > best->correctedVolume)) best = &b;
        ASSERT_TRUE(best);
        lower.push_back(best->correctedVolume);
    }
    expectWeakening(lower, 0.4);
}

// Two combs, a short gap between the tiers: the second row of wells, at about row 600, parts them;
// 8 or 9 lanes each. Each tier's first lane is a ladder, in columns 390-460 and 384-450 by its
// bands, beside a margin dimmer than the lanes.
TEST(GelLanesScan, TwoTierGelWithAShortGap) {
    LOAD_OR_SKIP(image, "gels/agarose-dna-16bit-le-twotier-03.tif");
    const gel::Analysis a = gel::analyse(*image);
    int lanes[2] = {0, 0};
    for (const gel::Lane& l : a.lanes) {
        ASSERT_LT(l.tier, 2);
        if (lanes[l.tier] == 0) {
            EXPECT_NEAR(l.centre, l.tier == 0 ? 425 : 417, 8) << "tier " << l.tier + 1;
        }
        ++lanes[l.tier];
        if (l.tier == 1) {
            EXPECT_NEAR(l.box.top, 585, 25);
        }
    }
    for (int n : lanes)
        EXPECT_TRUE(n == 8 || n == 9) << n;
}

// A camera photo of a gel filling the frame, its cut left edge glowing over the first 30 columns:
// the first lane, a ladder, lies at about x = 110 by eye, a second ladder at x = 606 by the right wall.
TEST(GelLanesScan, GlowingCutEdgeIsNoLane) {
    LOAD_OR_SKIP(image, "gels/agarose-dna-rgb-camera-02.tif");
    const gel::Analysis a = gel::analyse(*image);
    ASSERT_FALSE(a.lanes.empty());
    EXPECT_NEAR(a.lanes[0].centre, 110, 10);
    // The ladder beside the right wall, one well beyond the last lane the columns give, is a lane.
    EXPECT_NEAR(a.lanes.back().centre, 606, 10);
    EXPECT_GE(a.lanes.back().bands.size(), 6u);
}

// A phone photo of a gel in its tray, two combs: the tray's lip runs in bright lines across the gel
// just above the first comb's wide slots, whose lower rims end at about row 280 by eye. The lip
// bears no band, and the tray's right wall, beyond the gel's cut edge at column 2420 by eye, no lane.
TEST(GelLanesScan, TraysLipAndWallBearNoBandOrLane) {
    LOAD_OR_SKIP(image, "gels/agarose-dna-rgb-phone-photo-01.jpg");
    const gel::Analysis a = gel::analyse(*image);
    ASSERT_EQ(a.tiers.size(), 2u);
    for (const gel::Lane& l : a.lanes) {
        EXPECT_LT(l.centre, 2420) << "lane " << l.index + 1;
        for (const gel::Band& b : l.bands)
            EXPECT_TRUE(l.tier > 0 || b.peakY > 280) << "lane " << l.index + 1 << " row " << b.peakY;
    }
}

// The same photo's gel ends in a cut edge that rises to the right by 2 degrees and is jagged: in
// the gaps between the second tier's lanes it peaks at row 2597 by column 746 and at row 2546 by
// column 2043. To the left, product run into it makes it glow in the lanes more than in the gaps.
// Neither the edge's row nor the tray's wall and lines below it bear a band in any lane (where the
// edge forks, 20 rows above it in the first two lanes, its upper branch still does).
TEST(GelLanesScan, PhotosSlantedCutEdgeAndTrayBelowBearNoBand) {
    LOAD_OR_SKIP(image, "gels/agarose-dna-rgb-phone-photo-01.jpg");
    const gel::Analysis a = gel::analyse(*image);
    for (const gel::Lane& l : a.lanes) {
        const double edge = 2597 - 51 * (l.centre - 746) / 1297;
        for (const gel::Band& b : l.bands)
            EXPECT_FALSE(l.tier == 1 && b.peakY > edge - 10) << "lane " << l.index + 1 << " row " << b.peakY;
    }
}

// A blot's loading control runs through every lane as one row of wide bands, bowed by a smile. A
// caller who places only the lanes inside the outer ones gets that row in each of them: the lanes
// left out beyond hold it as a line across the gel would, and no rule may take it for one.
TEST(GelLanesScan, BlotsBandRowStaysInTheLanesACallerPlaces) {
    LOAD_OR_SKIP(image, "gels/western-blot-16bit-minisblack-01.tif");
    const gel::GreyImage grey = gel::greyImage(*image);
    const gel::PreparedGel prepared(grey.view());
    const gel::Analysis whole = gel::analyse(grey.view());
    ASSERT_GE(whole.lanes.size(), 5u);
    std::vector<gel::LanePlacement> inner;
    for (size_t l = 1; l + 1 < whole.lanes.size(); ++l)
        inner.push_back(gel::LanePlacement::of(whole.lanes[l]));
    const gel::Analysis a =
        gel::analyseLanes(prepared, whole.tiers, gel::placeLanes(prepared, whole.tiers, inner));
    ASSERT_EQ(a.lanes.size(), inner.size());
    for (size_t l = 0; l < a.lanes.size(); ++l) {
        const std::vector<gel::Band>& row = whole.lanes[l + 1].bands;
        ASSERT_FALSE(row.empty());
        EXPECT_NE(bandNear(a.lanes[l], row.back().peakY, 3), nullptr) << "lane " << l + 2;
    }
}

// A gel narrower than half its scan: the glow of its right edge and corner gives the black frame
// beside it signal, but no lane lies beyond that edge (column 1086 by eye).
TEST(GelLanesScan, NoLaneOnTheFrameBesideANarrowGel) {
    LOAD_OR_SKIP(image, "external-gels/images/gg-q1-pair12-wk9-gelred.jpg");
    const gel::Analysis a = gel::analyse(*image);
    for (const gel::Lane& l : a.lanes)
        EXPECT_LT(l.centre, 1086) << "lane " << l.index + 1;
}
