// Lanes, bands, volumes, saturation and size calibration measured against the answer key of
// synthetic gels.
#include "KestroRun.h"

#include <climits>

using namespace kestro;

namespace {

struct Score {
    int truthBands = 0, found = 0, detected = 0, falseBands = 0;
    int saturatedTruth = 0, saturatedFlagged = 0, wronglyFlagged = 0, diffuseMistaken = 0;
    std::vector<double> volumeErrors;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Scores one gel; lanes must all be found, each within 2 px of its true centre at every band.
void score(const SyntheticGel& gel, const gel::Analysis& a, double volumeScale, Score& s) {
    const GelTruth& t = gel.truth();
    ASSERT_EQ(a.lanes.size(), t.lanes.size()) << "seed " << t.options.seed;
    for (const GelBand& tb : t.bands) {
        EXPECT_NEAR(a.lanes[tb.lane].centreAt(tb.y), tb.x, 2.0)
            << "seed " << t.options.seed << " lane " << tb.lane;
        ++s.truthBands;
        s.saturatedTruth += tb.saturated;
        for (const gel::Band& b : a.lanes[tb.lane].bands) {
            if (std::fabs(b.peakY - tb.y) > 3) continue;
            ++s.found;
            s.saturatedFlagged += tb.saturated && b.saturated;
            s.wronglyFlagged += !tb.saturated && b.saturated;
            s.diffuseMistaken += b.diffuse != tb.diffuse;
            if (!tb.saturated && !tb.diffuse) // a cloud spreads past the lane's box
                s.volumeErrors.push_back(std::fabs(b.correctedVolume / volumeScale - tb.integratedIntensity) /
                                         tb.integratedIntensity);
            break;
        }
    }
    for (const gel::Lane& l : a.lanes)
        for (const gel::Band& b : l.bands) {
            ++s.detected;
            s.falseBands += std::none_of(t.bands.begin(), t.bands.end(), [&](const GelBand& tb) {
                return tb.lane == l.index && std::fabs(b.peakY - tb.y) <= 3;
            });
        }
}

// Six lanes 24 px wide every 40 px, pixels of value(x, y, inLane) (1 in a lane, 0 between), as one tier.
gel::Analysis sixLanes(int height, const std::function<double(int, int, double)>& value,
                       bool shoulders = true) {
    RasterImageGS16 raster(260, height);
    raster.maxPixelValue = 65535;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 260; ++x) {
            const double inLane = 1 / (1 + std::exp(std::fabs(std::fmod(x, 40.0) - 20) - 12));
            raster.pixels[y * 260 + x] = static_cast<int>(std::min(value(x, y, inLane), 65535.0));
        }
    gel::Options o;
    o.tiers = 1;
    o.shoulders = shoulders;
    const gel::Analysis a = gel::analyse(raster, o);
    EXPECT_EQ(a.lanes.size(), 6u);
    return a;
}

} // namespace

TEST(GelAnalysis, MeasuresSyntheticGelsAgainstTheirAnswerKeys) {
    const std::vector<std::string> rows = TableRows("tools/data/synthetic-gels.txt");
    for (const std::string& row : rows) {
        SCOPED_TRACE(row);
        std::istringstream in(row);
        GelOptions o;
        std::string depth;
        bool invert = false;
        in >> o.width >> o.height >> o.lanes >> o.bandsPerLane >> depth >> o.noise >> o.saturatedBands >>
            invert >> o.laneJitter >> o.bend >> o.diffuseBands;
        o.depth = depth == "8" ? GelDepth::Gray8 : depth == "rgb" ? GelDepth::Rgb24 : GelDepth::Gray16;
        ASSERT_EQ(gelDepthName(o.depth), depth);
        Score s;
        for (o.seed = 1; o.seed <= 4; ++o.seed) {
            const SyntheticGel gel = SyntheticGel::generate(o);
            const std::unique_ptr<DalvoImage> image(gel.toImage());
            if (invert) image->invert(); // dark bands on a light gel
            const gel::Analysis a = gel::analyse(*image);
            const bool dark = invert || o.depth == GelDepth::Rgb24;
            EXPECT_EQ(a.polarity, dark ? gel::Polarity::DarkBands : gel::Polarity::BrightBands);
            // Colour gels: the luma of the stain's colour falls linearly with its density.
            const double paper = (299 * 226 + 587 * 232 + 114 * 238) / 1000.0;
            const double dye = (299 * 22 + 587 * 38 + 114 * 120) / 1000.0;
            score(gel, a, o.depth == GelDepth::Rgb24 ? (paper - dye) / 255 : 1.0, s);
        }
        EXPECT_GE(s.found, 0.98 * s.truthBands);
        EXPECT_LE(s.falseBands, 0.02 * s.detected);
        EXPECT_EQ(s.saturatedFlagged, s.saturatedTruth);
        EXPECT_EQ(s.wronglyFlagged, 0);
        EXPECT_EQ(s.diffuseMistaken, 0);
        EXPECT_LE(median(s.volumeErrors), o.noise ? 0.06 : 0.03);
        std::printf("%2d lanes %s noise %d: recall %d/%d, false %d/%d, median volume error %.4f\n", o.lanes,
                    gelDepthName(o.depth), o.noise, s.found, s.truthBands, s.falseBands, s.detected,
                    median(s.volumeErrors));
    }
    EXPECT_EQ(rows.size(), 10u);
}

TEST(GelAnalysis, SizesFollowTheLadderInLogSize) {
    // Ladder at 0, 100 and 300 rows: log10 sizes 3, 2, 1. Hand-computed: linear halfway is the
    // mean of the logs; the Fritsch-Carlson tangents are -0.01, -0.0075, -0.005 per row, so at
    // t = 1/2 the Hermite cubic gives 2.5 - 0.125 + 0.09375 and 1.5 - 0.1875 + 0.125; beyond the
    // ends both fits follow the end secants. Left out in turn (linear), the middle band is read
    // off the line through the end bands, an end band off the remaining segment extended.
    const struct {
        gel::SizeFit fit;
        double distance, log10Size;
    } rows[] = {{gel::SizeFit::PiecewiseLinear, 50, 2.5},    {gel::SizeFit::PiecewiseLinear, 200, 1.5},
                {gel::SizeFit::MonotoneSpline, 50, 2.46875}, {gel::SizeFit::MonotoneSpline, 200, 1.4375},
                {gel::SizeFit::MonotoneSpline, 400, 0.5},    {gel::SizeFit::MonotoneSpline, -50, 3.5}};
    gel::SizeCalibration c;
    c.positions = {0, 100, 300};
    c.sizes = {1000, 100, 10};
    for (const auto& r : rows) {
        c.fit = r.fit;
        bool extrapolated = false;
        EXPECT_NEAR(std::log10(c.sizeAt(r.distance, &extrapolated)), r.log10Size, 1e-12) << r.distance;
        EXPECT_EQ(extrapolated, r.distance < 0 || r.distance > 300) << r.distance;
    }
    c.fit = gel::SizeFit::PiecewiseLinear;
    const std::vector<double> loo = c.leaveOneOut(), hand = {2.5, 3 - 2.0 / 3, 0.0};
    for (size_t k = 0; k < 3; ++k)
        EXPECT_NEAR(std::log10(loo.at(k)), hand[k], 1e-12);

    // Random ladders: the spline passes through its bands and never lets size rise with distance.
    SplitMix64 rng(5);
    c.fit = gel::SizeFit::MonotoneSpline;
    for (int trial = 0; trial < 200; ++trial) {
        c.positions = {0};
        c.sizes = {rng.uniform(1000, 20000)};
        for (int k = 0; k < 6; ++k) {
            c.positions.push_back(c.positions.back() + rng.uniform(1, 80));
            c.sizes.push_back(c.sizes.back() * rng.uniform(0.2, 0.95));
        }
        for (size_t k = 0; k < c.positions.size(); ++k)
            ASSERT_NEAR(c.sizeAt(c.positions[k]) / c.sizes[k], 1.0, 1e-12);
        for (double d = -4; d <= c.positions.back() + 5; d += 0.5)
            ASSERT_LE(c.sizeAt(d), c.sizeAt(d - 0.5) * (1 + 1e-12)) << "trial " << trial << " at " << d;
    }

    // Migration distances count from the top of each lane's tier.
    gel::Analysis a;
    a.lanes.resize(2);
    a.lanes[1].box.top = 10;
    for (double row : {0.0, 100.0, 200.0})
        a.lanes[0].bands.emplace_back().peakY = row;
    a.lanes[1].bands.emplace_back().peakY = 110;
    gel::calibrate(a, 0, {1000, 100, 10});
    EXPECT_NEAR(a.lanes[1].bands[0].size, 100, 1e-9);
    EXPECT_THROW(gel::calibrate(a, 0, {1000, 1000, 100}), gel::ArgumentError);
    EXPECT_THROW(gel::calibrate(a, 2, {1000, 500}), gel::ArgumentError);
    EXPECT_THROW(gel::calibrate(a, 0, {1000}), gel::ArgumentError);
    EXPECT_THROW(gel::calibrate(a, 0, {HUGE_VAL, 100, 10}), gel::ArgumentError);
    EXPECT_THROW(gel::calibrate(a, INT_MAX, {1000, 500}), gel::ArgumentError);

    // A ladder whose 1500 and 300 bands were missed, on a curved migration law: each band still
    // gets its own size, and a warning names the sizes left out.
    const std::vector<double> ladder = {10000, 8000, 6000, 5000, 4000, 3000, 2000, 1500, 1000, 700, 500, 300};
    std::vector<double> truth;
    gel::Analysis g;
    g.lanes.resize(1);
    for (double size : ladder)
        if (size != 1500 && size != 300) {
            g.lanes[0].bands.emplace_back().peakY = 60 * std::pow(4.2 - std::log10(size), 1.4);
            truth.push_back(size);
        }
    gel::calibrate(g, 0, ladder);
    for (size_t k = 0; k < truth.size(); ++k)
        EXPECT_NEAR(g.lanes[0].bands[k].size, truth[k], 1e-9 * truth[k]);
    ASSERT_EQ(g.warnings.size(), 1u);
    EXPECT_EQ(g.warnings[0].code, "ladder-count");
    EXPECT_TRUE(kestrorun::has(g.warnings[0].text, "without the sizes 1500, 300"));
}

// A faint band on the trailing flank of a bright one makes no peak of its own, only a shoulder:
// found as a band of its own (and missed without the shoulder search).
TEST(GelAnalysis, FindsFaintBandOnBrightFlank) {
    const double bands[][2] = {{40, 1500}, {80, 3000}, {96, 300}, {140, 1200}, {180, 900}}; // row, height
    const auto value = [&](int, int y, double inLane) {
        double v =
            600 * std::exp(-(y - 80) / 10.0) / (1 + std::exp(-(y - 80) / 2.0)); // the bright band's trail
        for (const auto& b : bands)
            v += b[1] * std::exp(-(y - b[0]) * (y - b[0]) / 32.0);
        return 500 + inLane * v;
    };
    for (bool shoulders : {true, false})
        for (const gel::Lane& l : sixLanes(220, value, shoulders).lanes) {
            const auto faint = std::find_if(l.bands.begin(), l.bands.end(),
                                            [](const gel::Band& b) { return std::fabs(b.peakY - 96) <= 2; });
            EXPECT_EQ(faint != l.bands.end(), shoulders) << "lane " << l.index;
            EXPECT_EQ(l.bands.size(), shoulders ? 5u : 4u) << "lane " << l.index;
        }
}

// A lane count given is the count got: too few drops the faintest lanes, too many adds lanes on
// the grid of the found ones; the found lanes keep their places either way.
TEST(GelAnalysis, GivesTheLaneCountAskedFor) {
    const SyntheticGel gel = SyntheticGel::generate(gelOptions(800, 600, 10, 6, 2));
    const std::unique_ptr<DalvoImage> image(gel.toImage());
    const double pitch = gel.truth().lanes[1].centreX - gel.truth().lanes[0].centreX;
    for (int count : {6, 10, 13}) {
        gel::Options o;
        o.laneCount = count;
        const gel::Analysis a = gel::analyse(*image, o);
        ASSERT_EQ(a.lanes.size(), static_cast<size_t>(count));
        int onTruth = 0;
        for (const gel::Lane& l : a.lanes) {
            onTruth += std::any_of(gel.truth().lanes.begin(), gel.truth().lanes.end(),
                                   [&](const GelLane& t) { return std::fabs(l.centre - t.centreX) <= 2; });
            // Added lanes squeeze in where the gel has no room, but never onto another lane.
            if (l.index > 0) {
                EXPECT_GE(l.centre - a.lanes[static_cast<size_t>(l.index) - 1].centre, 0.4 * pitch)
                    << "count " << count;
            }
        }
        EXPECT_EQ(onTruth, std::min(count, 10)) << "count " << count;
    }
}

// A line across the whole gel (a dye front) is as bright between the lanes as in them: no band in a
// lane with neighbours on both sides. A saturated band clipped flat and wide is a band, flagged saturated.
TEST(GelAnalysis, LinesAcrossTheGelAreNoBandsSaturatedPlateausAre) {
    const gel::Analysis a = sixLanes(240, [](int x, int y, double inLane) {
        double lane = 0;
        for (double row : {50.0, 90.0, 190.0})
            lane += 3000 * std::exp(-(y - row) * (y - row) / 32.0);
        const double line = 3000 * std::exp(-(y - 130) * (y - 130) / 32.0);
        const double plateau = 200000 * std::exp(-std::pow((y - 160) / 14.0, 4));
        return 500 + line + inLane * (lane + (x / 40 == 2 ? plateau : 0));
    });
    for (const gel::Lane& l : a.lanes) {
        const auto near = [&](double row) {
            return std::find_if(l.bands.begin(), l.bands.end(),
                                [&](const gel::Band& b) { return std::fabs(b.peakY - row) <= 3; });
        };
        for (double row : {50.0, 90.0, 190.0})
            EXPECT_NE(near(row), l.bands.end()) << "lane " << l.index << " row " << row;
        if (l.index > 0 && l.index < 5) { // the outer lanes have the gel between lanes on one side only
            EXPECT_EQ(near(130), l.bands.end()) << "lane " << l.index;
        }
        const bool plateau = l.index == 2;
        EXPECT_EQ(near(160) != l.bands.end() && near(160)->saturated, plateau) << "lane " << l.index;
    }
}
