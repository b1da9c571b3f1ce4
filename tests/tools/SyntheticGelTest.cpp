// The synthetic gels against their own answer key.
#include "KestroRun.h"

using namespace kestro;
using namespace kestrorun;

namespace {

// A window around a band that holds it whole, with background on every side.
CRect bandWindow(const GelBand& b) {
    const double hx = b.width / 2 + 4 * b.edgeSigma + 2, hy = 5 * b.sigmaY + 1;
    return CRect(int(std::floor(b.x - hx)), int(std::floor(b.y - hy)), int(std::ceil(b.x + hx)) + 1,
                 int(std::ceil(b.y + hy)) + 1);
}

const GelDepth kDepths[] = {GelDepth::Gray16, GelDepth::Gray8, GelDepth::Rgb24};

} // namespace

// (The image a gel gives, upright and in its depth, is checked through the band centres and the
// analysis measured against the truth.)
TEST(SyntheticGel, TheSeedAloneDecidesTheGelInEveryDepth) {
    const fs::path dir = scratch("synth-seed");
    const std::string pa = (dir / "a.tif").string(), pb = (dir / "b.tif").string();
    for (GelDepth depth : kDepths) {
        SCOPED_TRACE(gelDepthName(depth));
        GelOptions o = gelOptions(200, 160, 4, 3, 42);
        o.depth = depth;
        const SyntheticGel a = SyntheticGel::generate(o);
        a.save(pa);
        SyntheticGel::generate(o).save(pb);
        EXPECT_GT(readFile(pa).size(), 1000u);
        EXPECT_EQ(readFile(pa), readFile(pb));
        EXPECT_EQ(readFile(SyntheticGel::truthPathFor(pa)), readFile(SyntheticGel::truthPathFor(pb)));
        o.seed = 43;
        EXPECT_NE(a.values(), SyntheticGel::generate(o).values());
    }
}

// The truth is the same gel.
TEST(SyntheticGel, SwitchingTheNoiseOffKeepsTheLayout) {
    GelOptions o = gelOptions(200, 160, 4, 3, 42);
    const auto noisy = SyntheticGel::generate(o).truthJson()["bands"];
    o.noise = false;
    EXPECT_EQ(SyntheticGel::generate(o).truthJson()["bands"], noisy);
}

TEST(SyntheticGel, BandCentresRecoveredByCentreOfMassWithinHalfAPixel) {
    ImageProcessing processing;
    GelOptions o;
    o.noise = false;
    o.seed = 11;
    o.saturatedBands = 2;
    for (GelDepth depth : kDepths)
        for (bool background : {false, true}) {
            o.depth = depth;
            o.background = background;
            const SyntheticGel gel = SyntheticGel::generate(o);
            const GelTruth& t = gel.truth();
            // The grayscale gels go through the library's image and raster; a colour gel's bands
            // were drawn in its stain density.
            std::unique_ptr<DalvoImage> image(gel.toImage());
            RasterImageGS16 raster(gel.width(), gel.height()), bg(gel.width(), gel.height());
            if (depth != GelDepth::Rgb24) raster = RasterImageGS16(image.get());
            for (int y = 0; y < gel.height(); ++y)
                for (int x = 0; x < gel.width(); ++x) {
                    if (depth == GelDepth::Rgb24) raster.setPixel(x, y, gel.value(x, y));
                    bg.setPixel(x, y, background ? int(std::floor(t.background.at(x, y) + 0.5)) : 0);
                }
            raster.subtractImage(&bg); // the background the truth describes, rounded as the pixels were
            for (const GelBand& b : t.bands) {
                const CRect w = bandWindow(b);
                const CPoint c = processing.findCenterOfMass3D(&raster, w);
                SCOPED_TRACE(::testing::Message() << gelDepthName(depth) << " bg " << background << " band "
                                                  << b.lane << "/" << b.index);
                EXPECT_LE(std::fabs(c.x - b.x), 0.5);
                EXPECT_LE(std::fabs(c.y - b.y), 0.5);
                if (depth != GelDepth::Gray16 || background || b.saturated) continue;
                // The pixels sum to the band's intensity, less what rounding each pixel moves.
                double sum = 0;
                for (int y = w.top; y < w.bottom; ++y)
                    for (int x = w.left; x < w.right; ++x)
                        sum += gel.value(x, y);
                EXPECT_NEAR(sum, b.integratedIntensity, 0.5 * w.Width() * w.Height());
            }
        }
}

TEST(SyntheticGel, TruthFileDescribesTheImage) {
    GelOptions o;
    o.seed = 3;
    o.noise = false;
    const SyntheticGel gel = SyntheticGel::generate(o);
    const fs::path dir = scratch("synth-truth");
    EXPECT_EQ(gel.save((dir / "truth.tif").string()), (dir / "truth.truth.json").string());
    const json j = readJson(dir / "truth.truth.json");
    ASSERT_EQ(j["lanes"].size(), 8u);
    for (const auto& k : j["saturatedBands"])
        EXPECT_TRUE(j["bands"][k.get<size_t>()]["saturated"].get<bool>());

    // The background between the lanes is the recorded formula, evaluated here from the JSON.
    const auto& bg = j["background"];
    auto formula = [&](double x, double y) {
        const double dx = x - bg["blobX"].get<double>(), dy = y - bg["blobY"].get<double>();
        const double sx = bg["blobSigmaX"], sy = bg["blobSigmaY"];
        return bg["base"].get<double>() + bg["gradientX"].get<double>() * x / 640 +
               bg["gradientY"].get<double>() * y / 480 +
               bg["blobAmplitude"].get<double>() *
                   std::exp(-(dx * dx / (2 * sx * sx) + dy * dy / (2 * sy * sy)));
    };
    const int gapX =
        int((j["lanes"][0]["centreX"].get<double>() + j["lanes"][1]["centreX"].get<double>()) / 2);
    for (int y : {0, 240, 479}) {
        EXPECT_NEAR(gel.value(gapX, y), formula(gapX, y), 1.0) << y;
        EXPECT_NEAR(gel.value(0, y), formula(0, y), 1.0) << y;
    }
}
