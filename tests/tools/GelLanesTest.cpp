// Lanes, bands, volumes, saturation and size calibration measured against the answer key of
// synthetic gels.
#include "synth/SyntheticGel.h"

#include <KestroImage.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

using namespace kestro;

namespace {

struct Case {
    int width, height, lanes, bands;
    GelDepth depth;
    bool noise;
    int saturated;
    bool invert; // dark bands on a light gel
    double jitter = 0.04; // unequal lane spacing
};

// The gel as an image; inverted gels become dark bands on a light gel.
std::unique_ptr<DalvoImage> imageOf(const SyntheticGel& gel, bool invert)
{
    std::unique_ptr<DalvoImage> image(gel.toImage());
    if (invert)
        image->invert();
    return image;
}

struct Score {
    int truthBands = 0, found = 0, detected = 0, falseBands = 0;
    int saturatedTruth = 0, saturatedFlagged = 0, wronglyFlagged = 0;
    std::vector<double> volumeErrors;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Scores one gel; lanes must all be found, each within 2 px of its true centre.
void score(const SyntheticGel& gel, const gel::Analysis& a, double volumeScale, Score& s)
{
    const GelTruth& t = gel.truth();
    ASSERT_EQ(a.lanes.size(), t.lanes.size()) << "seed " << t.options.seed;
    for (size_t l = 0; l < t.lanes.size(); ++l)
        EXPECT_NEAR(a.lanes[l].centre, t.lanes[l].centreX, 2.0) << "seed " << t.options.seed << " lane " << l;
    for (const GelBand& tb : t.bands) {
        ++s.truthBands;
        s.saturatedTruth += tb.saturated;
        for (const gel::Band& b : a.lanes[tb.lane].bands) {
            if (std::fabs(b.peakY - tb.y) > 3)
                continue;
            ++s.found;
            s.saturatedFlagged += tb.saturated && b.saturated;
            s.wronglyFlagged += !tb.saturated && b.saturated;
            if (!tb.saturated)
                s.volumeErrors.push_back(std::fabs(b.correctedVolume / volumeScale - tb.integratedIntensity) /
                                         tb.integratedIntensity);
            break;
        }
    }
    for (const gel::Lane& l : a.lanes)
        for (const gel::Band& b : l.bands) {
            ++s.detected;
            bool matched = false;
            for (const GelBand& tb : t.bands)
                matched = matched || (tb.lane == l.index && std::fabs(b.peakY - tb.y) <= 3);
            s.falseBands += !matched;
        }
}

} // namespace

TEST(GelAnalysis, FindsLanesBandsAndVolumesOfSyntheticGels)
{
    const Case cases[] = {
        {640, 480, 4, 6, GelDepth::Gray16, false, 1, false},
        {640, 480, 8, 6, GelDepth::Gray16, true, 1, false},
        {800, 600, 12, 8, GelDepth::Gray8, true, 2, false},
        {1000, 500, 24, 5, GelDepth::Gray16, true, 3, false},
        {640, 480, 8, 6, GelDepth::Gray16, false, 2, true},
        {720, 540, 10, 7, GelDepth::Gray8, true, 1, true},
        {640, 480, 6, 5, GelDepth::Rgb24, false, 0, false},
        {800, 480, 10, 5, GelDepth::Gray16, true, 1, false, 0.25},
    };
    for (const Case& c : cases) {
        Score s;
        for (std::uint64_t seed = 1; seed <= 4; ++seed) {
            GelOptions o = gelOptions(c.width, c.height, c.lanes, c.bands, seed);
            o.depth = c.depth;
            o.noise = c.noise;
            o.saturatedBands = c.saturated;
            o.laneJitter = c.jitter;
            const SyntheticGel gel = SyntheticGel::generate(o);
            const auto image = imageOf(gel, c.invert);
            const gel::Analysis a = gel::analyse(*image);
            const bool dark = c.invert || c.depth == GelDepth::Rgb24;
            EXPECT_EQ(a.polarity, dark ? gel::Polarity::DarkBands : gel::Polarity::BrightBands);
            // Colour gels: the luma of the stain's colour falls linearly with its density.
            const double paper = (299 * 226 + 587 * 232 + 114 * 238) / 1000.0;
            const double dye = (299 * 22 + 587 * 38 + 114 * 120) / 1000.0;
            score(gel, a, c.depth == GelDepth::Rgb24 ? (paper - dye) / 255 : 1.0, s);
        }
        SCOPED_TRACE(testing::Message() << c.lanes << " lanes, depth " << gelDepthName(c.depth) << ", noise "
                                        << c.noise << ", inverted " << c.invert);
        EXPECT_GE(s.found, 0.98 * s.truthBands);
        EXPECT_LE(s.falseBands, 0.02 * s.detected);
        EXPECT_EQ(s.saturatedFlagged, s.saturatedTruth);
        EXPECT_EQ(s.wronglyFlagged, 0);
        EXPECT_LE(median(s.volumeErrors), c.noise ? 0.06 : 0.03);
        std::printf("%2d lanes %s noise %d: recall %d/%d, false %d/%d, median volume error %.4f\n", c.lanes,
                    gelDepthName(c.depth), c.noise, s.found, s.truthBands, s.falseBands, s.detected,
                    median(s.volumeErrors));
    }
}

TEST(GelAnalysis, SizesFollowTheLadderPiecewiseInLogSize)
{
    gel::Analysis a;
    a.lanes.resize(2);
    a.lanes[1].top = 10;
    for (double y : {100.0, 200.0, 300.0}) {
        gel::Band b;
        b.peakY = y;
        a.lanes[0].bands.push_back(b);
    }
    for (double y : {160.0, 360.0, 60.0}) {
        gel::Band b;
        b.peakY = y;
        a.lanes[1].bands.push_back(b);
    }
    gel::calibrate(a, 0, {1000, 500, 100});
    // Hand-computed: halfway between 1000 and 500 in log size; 50 rows past the last band on
    // the last segment's line; 50 rows above the first on the first segment's line.
    const gel::Lane& l = a.lanes[1];
    EXPECT_NEAR(l.bands[0].size, std::sqrt(1000.0 * 500.0), 1e-9);
    EXPECT_FALSE(l.bands[0].extrapolated);
    EXPECT_NEAR(l.bands[1].size, 100 / std::sqrt(5.0), 1e-9);
    EXPECT_TRUE(l.bands[1].extrapolated);
    EXPECT_NEAR(l.bands[2].size, 1000 * std::sqrt(2.0), 1e-9);
    EXPECT_TRUE(l.bands[2].extrapolated);
    EXPECT_DOUBLE_EQ(a.lanes[0].bands[1].size, 500);

    EXPECT_THROW(gel::calibrate(a, 0, {1000, 1000, 100}), std::invalid_argument);
    EXPECT_THROW(gel::calibrate(a, 2, {1000, 500}), std::invalid_argument);
    EXPECT_THROW(gel::calibrate(a, 0, {1000}), std::invalid_argument);
}
