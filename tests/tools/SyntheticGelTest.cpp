// The synthetic gels against their own answer key.
#include "synth/SyntheticGel.h"

#include <KestroImage.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

using namespace kestro;
namespace fs = std::filesystem;

namespace {

std::string scratch(const std::string& name)
{
    const fs::path dir = fs::path(KESTRO_TEST_TMP) / "synth";
    fs::create_directories(dir);
    return (dir / name).string();
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A window around a band that holds it whole, with background on every side.
CRect bandWindow(const GelBand& b)
{
    const double hx = b.width / 2 + 4 * b.edgeSigma + 2;
    const double hy = 5 * b.sigmaY + 1;
    return CRect(static_cast<int>(std::floor(b.x - hx)), static_cast<int>(std::floor(b.y - hy)),
                 static_cast<int>(std::ceil(b.x + hx)) + 1, static_cast<int>(std::ceil(b.y + hy)) + 1);
}

// The gel's values (gray, or stain density for colour gels) as a grayscale raster.
std::unique_ptr<RasterImageGS16> valuesRaster(const SyntheticGel& gel)
{
    auto r = std::make_unique<RasterImageGS16>(gel.width(), gel.height());
    for (int y = 0; y < gel.height(); ++y)
        for (int x = 0; x < gel.width(); ++x)
            r->setPixel(x, y, gel.value(x, y));
    return r;
}

GelOptions noiseless(GelDepth depth, bool background)
{
    GelOptions o;
    o.depth = depth;
    o.noise = false;
    o.background = background;
    o.seed = 11;
    o.saturatedBands = 2;
    return o;
}

} // namespace

TEST(SyntheticGel, SameSeedGivesSameBytesAndOtherSeedsDiffer)
{
    GelOptions o = gelOptions(200, 160, 4, 3, 42);
    for (GelDepth depth : {GelDepth::Gray16, GelDepth::Gray8, GelDepth::Rgb24}) {
        o.depth = depth;
        const SyntheticGel a = SyntheticGel::generate(o);
        const SyntheticGel b = SyntheticGel::generate(o);
        EXPECT_EQ(a.values(), b.values());
        EXPECT_EQ(a.rgb(), b.rgb());
        const std::string pa = scratch(std::string("same-a-") + gelDepthName(depth) + ".tif");
        const std::string pb = scratch(std::string("same-b-") + gelDepthName(depth) + ".tif");
        a.save(pa);
        b.save(pb);
        const std::string bytes = readBytes(pa);
        EXPECT_GT(bytes.size(), 1000u);
        EXPECT_EQ(bytes, readBytes(pb)) << gelDepthName(depth);
        EXPECT_EQ(readBytes(SyntheticGel::truthPathFor(pa)), readBytes(SyntheticGel::truthPathFor(pb)));

        GelOptions other = o;
        other.seed = 43;
        EXPECT_NE(a.values(), SyntheticGel::generate(other).values());
    }
    // Switching the noise off keeps the layout: the truth is the same gel.
    GelOptions quiet = o;
    quiet.noise = false;
    EXPECT_EQ(SyntheticGel::generate(o).truthJson()["bands"], SyntheticGel::generate(quiet).truthJson()["bands"]);
}

TEST(SyntheticGel, BandCentresRecoveredByCentreOfMassWithinHalfAPixel)
{
    ImageProcessing processing;
    for (GelDepth depth : {GelDepth::Gray16, GelDepth::Gray8, GelDepth::Rgb24}) {
        for (bool background : {false, true}) {
            const SyntheticGel gel = SyntheticGel::generate(noiseless(depth, background));
            const GelTruth& t = gel.truth();
            // The grayscale gels go through the library's own image and raster; the colour gel's
            // stain density is what its bands were drawn in.
            std::unique_ptr<DalvoImage> image(gel.toImage());
            std::unique_ptr<RasterImageGS16> raster;
            if (depth == GelDepth::Rgb24)
                raster = valuesRaster(gel);
            else
                raster = std::make_unique<RasterImageGS16>(image.get());
            ASSERT_EQ(raster->width, gel.width());

            if (background) {
                // Take away the background the truth describes, rounded as the pixels were.
                RasterImageGS16 bg(gel.width(), gel.height());
                for (int y = 0; y < gel.height(); ++y)
                    for (int x = 0; x < gel.width(); ++x)
                        bg.setPixel(x, y, static_cast<int>(std::floor(t.background.at(x, y) + 0.5)));
                raster->subtractImage(&bg);
            }
            for (const GelBand& b : t.bands) {
                const CPoint c = processing.findCenterOfMass3D(raster.get(), bandWindow(b));
                EXPECT_LE(std::fabs(c.x - b.x), 0.5) << gelDepthName(depth) << " bg " << background << " lane "
                                                     << b.lane << " band " << b.index;
                EXPECT_LE(std::fabs(c.y - b.y), 0.5) << gelDepthName(depth) << " bg " << background << " lane "
                                                     << b.lane << " band " << b.index;
            }
        }
    }
}

TEST(SyntheticGel, SaturationWhereTheTruthSaysSoAndNowhereElse)
{
    for (GelDepth depth : {GelDepth::Gray16, GelDepth::Gray8, GelDepth::Rgb24}) {
        GelOptions o;
        o.depth = depth;
        o.seed = 5;
        o.saturatedBands = 3;
        const SyntheticGel gel = SyntheticGel::generate(o);
        const GelTruth& t = gel.truth();
        int saturated = 0;
        for (const GelBand& b : t.bands) {
            const CRect w = bandWindow(b);
            int top = 0;
            for (int y = w.top; y < w.bottom; ++y)
                for (int x = w.left; x < w.right; ++x)
                    top = std::max(top, gel.value(x, y));
            EXPECT_EQ(top == t.maxValue, b.saturated) << gelDepthName(depth) << " lane " << b.lane << " band " << b.index;
            saturated += b.saturated ? 1 : 0;
        }
        EXPECT_EQ(saturated, 3);
        if (depth == GelDepth::Rgb24) {
            // Full density shows as the dye's own colour.
            std::uint8_t dye[3];
            SyntheticGel::stainColour(255, dye);
            bool seen = false;
            for (size_t i = 0; i < gel.values().size() && !seen; ++i)
                seen = gel.values()[i] == 255 && gel.rgb()[3 * i] == dye[0] && gel.rgb()[3 * i + 1] == dye[1] &&
                       gel.rgb()[3 * i + 2] == dye[2];
            EXPECT_TRUE(seen);
        }
    }
}

TEST(SyntheticGel, PixelsOfABandSumToItsIntegratedIntensity)
{
    const SyntheticGel gel = SyntheticGel::generate(noiseless(GelDepth::Gray16, false));
    for (const GelBand& b : gel.truth().bands) {
        if (b.saturated)
            continue;
        const CRect w = bandWindow(b);
        double sum = 0;
        int peak = 0;
        for (int y = w.top; y < w.bottom; ++y)
            for (int x = w.left; x < w.right; ++x) {
                sum += gel.value(x, y);
                peak = std::max(peak, gel.value(x, y));
            }
        // Rounding each pixel moves the sum by at most half a unit per pixel.
        EXPECT_NEAR(sum, b.integratedIntensity, 0.5 * w.Width() * w.Height()) << b.lane << "/" << b.index;
        EXPECT_NEAR(peak, b.peak, 0.5);
    }
}

TEST(SyntheticGel, TruthFileDescribesTheImage)
{
    GelOptions o;
    o.seed = 3;
    o.noise = false;
    const SyntheticGel gel = SyntheticGel::generate(o);
    const std::string path = scratch("truth.tif");
    const std::string truthPath = gel.save(path);
    EXPECT_EQ(truthPath, scratch("truth.truth.json"));

    std::ifstream in(truthPath);
    const nlohmann::json j = nlohmann::json::parse(in);
    EXPECT_EQ(j["width"], 640);
    EXPECT_EQ(j["imageType"], "FIT_UINT16");
    EXPECT_EQ(j["maxValue"], 65535);
    ASSERT_EQ(j["lanes"].size(), 8u);
    ASSERT_EQ(j["bands"].size(), 48u);
    int flagged = 0;
    for (const auto& b : j["bands"])
        flagged += b["saturated"].get<bool>() ? 1 : 0;
    ASSERT_EQ(j["saturatedBands"].size(), static_cast<size_t>(flagged));
    for (const auto& k : j["saturatedBands"])
        EXPECT_TRUE(j["bands"][k.get<size_t>()]["saturated"].get<bool>());

    // The background between the lanes is the recorded formula, evaluated here from the JSON.
    const auto& bg = j["background"];
    auto formula = [&](double x, double y) {
        const double dx = x - bg["blobX"].get<double>(), dy = y - bg["blobY"].get<double>();
        const double sx = bg["blobSigmaX"].get<double>(), sy = bg["blobSigmaY"].get<double>();
        return bg["base"].get<double>() + bg["gradientX"].get<double>() * x / 640 +
               bg["gradientY"].get<double>() * y / 480 +
               bg["blobAmplitude"].get<double>() * std::exp(-(dx * dx / (2 * sx * sx) + dy * dy / (2 * sy * sy)));
    };
    const double gapX = (j["lanes"][0]["centreX"].get<double>() + j["lanes"][1]["centreX"].get<double>()) / 2;
    for (int y : {0, 100, 240, 479}) {
        const int x = static_cast<int>(gapX);
        EXPECT_NEAR(gel.value(x, y), formula(x, y), 1.0) << "y " << y;
        EXPECT_NEAR(gel.value(0, y), formula(0, y), 1.0) << "y " << y;
    }

    // The smile: the middle lanes run furthest, the outer ones least.
    const auto& lanes = j["lanes"];
    EXPECT_GT(lanes[3]["smileOffset"].get<double>(), lanes[0]["smileOffset"].get<double>());
    EXPECT_GT(lanes[4]["smileOffset"].get<double>(), lanes[7]["smileOffset"].get<double>());
    EXPECT_GT(j["smile"]["depth"].get<double>(), 0);

    // The image read back holds the same pixels.
    CFile file(CString::FromUtf8(path), CFile::modeRead);
    DalvoImage image;
    ASSERT_TRUE(image.CreateFromFile(&file));
    ASSERT_EQ(image.getImageType(), FIT_UINT16);
    const auto* line = reinterpret_cast<const WORD*>(image.getScanLine(479 - 240));
    for (int x = 0; x < 640; x += 37)
        EXPECT_EQ(line[x], gel.value(x, 240));
}

TEST(SyntheticGel, ImagesHaveTheDepthAsked)
{
    GelOptions o = gelOptions(64, 48, 2, 2);
    struct Case {
        GelDepth depth;
        FREE_IMAGE_TYPE type;
        unsigned bpp;
    };
    for (const Case& c : {Case{GelDepth::Gray16, FIT_UINT16, 16}, Case{GelDepth::Gray8, FIT_BITMAP, 8},
                          Case{GelDepth::Rgb24, FIT_BITMAP, 24}}) {
        o.depth = c.depth;
        const SyntheticGel gel = SyntheticGel::generate(o);
        std::unique_ptr<DalvoImage> image(gel.toImage());
        EXPECT_EQ(image->getImageType(), c.type);
        EXPECT_EQ(image->getBitsPerPixel(), c.bpp);
        EXPECT_EQ(image->getWidth(), 64u);
        // Top-left pixel of the picture lives in the last scan line.
        const BYTE* top = image->getScanLine(47);
        if (c.depth == GelDepth::Rgb24) {
            EXPECT_EQ(top[FI_RGBA_RED], gel.rgb()[0]);
            EXPECT_EQ(top[FI_RGBA_GREEN], gel.rgb()[1]);
            EXPECT_EQ(top[FI_RGBA_BLUE], gel.rgb()[2]);
        } else if (c.depth == GelDepth::Gray8) {
            EXPECT_EQ(top[0], gel.value(0, 0));
        } else {
            EXPECT_EQ(reinterpret_cast<const WORD*>(top)[0], gel.value(0, 0));
        }
    }
    // A 16-bit gel cannot be written as JPEG; the reason names the way out.
    o.depth = GelDepth::Gray16;
    try {
        SyntheticGel::generate(o).save(scratch("deep.jpg"));
        FAIL() << "a 16-bit JPEG was written";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(".tif"), std::string::npos);
    }
}

TEST(SyntheticGel, RejectsGelsThatDoNotFit)
{
    GelOptions o;
    o.lanes = 60; // 640 pixels hold at most 50 lanes of 12 pixels
    EXPECT_THROW(SyntheticGel::generate(o), std::invalid_argument);
    o.lanes = 50;
    EXPECT_NO_THROW(SyntheticGel::generate(o));
    o = GelOptions();
    o.bandsPerLane = 45;
    EXPECT_THROW(SyntheticGel::generate(o), std::invalid_argument);
    o = GelOptions();
    o.width = 31;
    EXPECT_THROW(SyntheticGel::generate(o), std::invalid_argument);
    o = GelOptions();
    o.saturatedBands = 49;
    EXPECT_THROW(SyntheticGel::generate(o), std::invalid_argument);
    o.saturatedBands = 0;
    const SyntheticGel calm = SyntheticGel::generate(o);
    for (const GelBand& b : calm.truth().bands)
        EXPECT_FALSE(b.saturated);
}
