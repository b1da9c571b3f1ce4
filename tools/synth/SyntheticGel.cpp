#include "synth/SyntheticGel.h"

#include <KestroImage.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace kestro {

namespace {

constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kSqrtPi = 1.7724538509055159;
constexpr double kSqrt2Pi = 2.5066282746310002;

// Noise of a gel camera: shot noise of this many photons at full scale, plus read noise.
constexpr double kPhotonsAtFullScale = 20000.0;
constexpr double kReadNoiseFraction = 0.002;

// Coomassie-like colours: a pale gel and the dye at full density.
constexpr int kPaper[3] = {226, 232, 238};
constexpr int kDye[3] = {22, 38, 120};

// Keeps a centre at least 0.1 pixel away from a half-pixel position, so that a centre measured
// to the nearest pixel has one right answer.
double awayFromHalfPixel(double v) {
    const double f = v - std::floor(v);
    if (std::fabs(f - 0.5) < 0.1) v += (f < 0.5) ? -0.1 : 0.1;
    return v;
}

// An antiderivative of erf.
double erfIntegral(double t) {
    return t * std::erf(t) + std::exp(-t * t) / kSqrtPi;
}

// Mean over the pixel [x - 0.5, x + 0.5) of the flat top from a to b whose edges are blurred
// by a Gaussian of sigma s: 0.5 * (erf((u - a) / (s sqrt 2)) - erf((u - b) / (s sqrt 2))).
// Summed over all pixels it gives b - a exactly.
double flatTopPixel(double x, double a, double b, double s) {
    const double k = kSqrt2 * s;
    auto rise = [&](double edge) {
        return k * (erfIntegral((x + 0.5 - edge) / k) - erfIntegral((x - 0.5 - edge) / k));
    };
    return 0.5 * (rise(a) - rise(b));
}

// Integral over the pixel [y - 0.5, y + 0.5) of exp(-(u - c)^2 / (2 s^2)): 1 at most (for a
// wide Gaussian), summing to s sqrt(2 pi) over all pixels. Works on the side of the tail that
// keeps precision.
double gaussianPixel(double y, double c, double s) {
    const double lo = (y - 0.5 - c) / (s * kSqrt2);
    const double hi = (y + 0.5 - c) / (s * kSqrt2);
    double mass;
    if (lo >= 0)
        mass = 0.5 * (std::erfc(lo) - std::erfc(hi));
    else if (hi <= 0)
        mass = 0.5 * (std::erfc(-hi) - std::erfc(-lo));
    else
        mass = 1.0 - 0.5 * std::erfc(hi) - 0.5 * std::erfc(-lo);
    return mass * s * kSqrt2Pi;
}

// Column and row span outside which a band adds less than 1e-9 of its amplitude.
void bandSpan(const GelBand& b, int width, int height, int& x0, int& x1, int& y0, int& y1) {
    const double halfX = b.width / 2 + 7 * b.edgeSigma + 1;
    const double halfY = 7 * b.sigmaY + 1;
    x0 = std::max(0, static_cast<int>(std::floor(b.x - halfX)));
    x1 = std::min(width - 1, static_cast<int>(std::ceil(b.x + halfX)));
    y0 = std::max(0, static_cast<int>(std::floor(b.y - halfY)));
    y1 = std::min(height - 1, static_cast<int>(std::ceil(b.y + halfY)));
}

double bandAt(const GelBand& b, int x, int y) {
    const double a = b.x - b.width / 2;
    return b.amplitude * flatTopPixel(x, a, a + b.width, b.edgeSigma) * gaussianPixel(y, b.y, b.sigmaY);
}

int depthMax(GelDepth depth) {
    return depth == GelDepth::Gray16 ? 65535 : 255;
}

std::string lowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

double rounded(double v, double scale = 1e4) {
    return std::round(v * scale) / scale;
}

// Lays out lanes, bands and background from the seed; renders nothing.
GelTruth drawLayout(const GelOptions& o) {
    if (o.width < 32 || o.height < 32) throw std::invalid_argument("a gel must be at least 32 x 32 pixels");
    if (o.width > 16384 || o.height > 16384)
        throw std::invalid_argument("a gel can be at most 16384 x 16384 pixels");
    if (o.lanes < 1) throw std::invalid_argument("a gel needs at least one lane");
    if (o.bandsPerLane < 1) throw std::invalid_argument("a lane needs at least one band");
    if (!(o.laneJitter >= 0 && o.laneJitter <= 0.3))
        throw std::invalid_argument("the lane jitter must lie between 0 and 0.3");
    if (!(o.bend >= 0 && o.bend <= 50))
        throw std::invalid_argument("the lane bend must lie between 0 and 50 pixels");

    const double marginX = std::max(2.0, 0.03 * o.width);
    const double pitch = (o.width - 2 * marginX) / o.lanes;
    if (pitch < 12) {
        const int most = static_cast<int>((o.width - 2 * marginX) / 12);
        throw std::invalid_argument(std::to_string(o.lanes) + " lanes do not fit in a gel " +
                                    std::to_string(o.width) + " pixels wide (at most " +
                                    std::to_string(most) + ")");
    }
    const double marginY = std::max(4.0, 0.08 * o.height);

    GelTruth t;
    t.options = o;
    t.maxValue = depthMax(o.depth);
    const double full = t.maxValue;
    SplitMix64 rng(o.seed);

    // Background: a tilted plane plus one broad glow, drawn even when switched off so that the
    // rest of the layout does not depend on it.
    GelBackground& bg = t.background;
    bg.width = o.width;
    bg.height = o.height;
    bg.base = rng.uniform(0.05, 0.10) * full;
    bg.gradientX = rng.uniform(-0.03, 0.03) * full;
    bg.gradientY = rng.uniform(0.01, 0.05) * full;
    bg.blobAmplitude = rng.uniform(0.03, 0.08) * full;
    bg.blobX = rng.uniform(0.25, 0.75) * o.width;
    bg.blobY = rng.uniform(0.25, 0.75) * o.height;
    bg.blobSigmaX = rng.uniform(0.25, 0.45) * o.width;
    bg.blobSigmaY = rng.uniform(0.25, 0.45) * o.height;
    if (!o.background) {
        const int w = bg.width, h = bg.height;
        bg = GelBackground();
        bg.width = w;
        bg.height = h;
    }

    t.smileDepth = std::min(0.015 * o.height, 8.0) * rng.uniform(0.7, 1.0);
    const double usable = o.height - 2 * marginY - t.smileDepth;
    const double slot = usable / o.bandsPerLane;
    if (slot < 10) {
        const int most = std::max(0, static_cast<int>(usable / 10));
        throw std::invalid_argument(std::to_string(o.bandsPerLane) + " bands do not fit in a lane " +
                                    std::to_string(o.height) + " pixels long (at most " +
                                    std::to_string(most) + ")");
    }
    const int bandCount = o.lanes * o.bandsPerLane;
    if (o.saturatedBands < 0 || o.saturatedBands > bandCount)
        throw std::invalid_argument(
            "the number of saturated bands must lie between 0 and the number of bands");
    if (o.diffuseBands < 0 || o.diffuseBands > bandCount - o.saturatedBands)
        throw std::invalid_argument(
            "the number of diffuse bands must lie between 0 and the number of bands that are "
            "not saturated");

    t.photonsAtFullScale = kPhotonsAtFullScale;
    t.readNoise = kReadNoiseFraction * full;

    const double edgeSigma = std::max(0.5, 0.03 * pitch);
    const double sigmaMax = std::min(std::max(slot / 9, 0.8), 5.0);
    for (int l = 0; l < o.lanes; ++l) {
        GelLane lane;
        lane.index = l;
        lane.centreX =
            awayFromHalfPixel(marginX + pitch * (l + 0.5) + rng.uniform(-o.laneJitter, o.laneJitter) * pitch);
        lane.width =
            pitch * rng.uniform(0.5, 0.6) * (o.laneJitter > 0.04 ? (1 - 2 * o.laneJitter) / 0.92 : 1.0);
        // The smile: lanes in the middle of the gel run furthest.
        const double u = (lane.centreX - o.width / 2.0) / (o.width / 2.0);
        lane.smileOffset = t.smileDepth * (1 - u * u);
        lane.bend = o.bend * u;
        t.lanes.push_back(lane);

        for (int j = 0; j < o.bandsPerLane; ++j) {
            GelBand b;
            b.lane = l;
            b.index = j;
            b.x = lane.centreX;
            b.width = lane.width;
            b.edgeSigma = edgeSigma;
            b.sigmaY = sigmaMax * rng.uniform(0.7, 1.0);
            const double room = std::max(0.0, slot / 2 - 4 * sigmaMax - 0.5);
            b.y = awayFromHalfPixel(marginY + lane.smileOffset + slot * (j + 0.5) + rng.uniform(-room, room));
            // A band is short enough along the lane to take the bend at its own centre row.
            const double down = b.y / o.height;
            b.x = awayFromHalfPixel(lane.centreX + lane.bend * down * down);
            b.amplitude = rng.uniform(0.12, 0.55) * full;
            t.bands.push_back(b);
        }
    }

    // The saturated bands: a few picked at random and pushed well past full scale.
    std::vector<int> order(bandCount);
    for (int i = 0; i < bandCount; ++i)
        order[i] = i;
    for (int i = 0; i < o.saturatedBands; ++i) {
        const int k = i + static_cast<int>(rng.uniform() * (bandCount - i));
        std::swap(order[i], order[std::min(k, bandCount - 1)]);
        t.bands[order[i]].amplitude = rng.uniform(1.4, 1.8) * full;
    }
    // The diffuse ones from the rest of the same shuffle, drawn after everything else so that a
    // gel without them keeps its bytes.
    for (int i = o.saturatedBands; i < o.saturatedBands + o.diffuseBands; ++i) {
        const int k = i + static_cast<int>(rng.uniform() * (bandCount - i));
        std::swap(order[i], order[std::min(k, bandCount - 1)]);
        GelBand& b = t.bands[order[i]];
        b.diffuse = true;
        b.edgeSigma = std::max(b.edgeSigma, 0.2 * b.width);
    }

    for (GelBand& b : t.bands) {
        b.integratedIntensity = b.amplitude * b.width * b.sigmaY * kSqrt2Pi;
        const int px = static_cast<int>(std::floor(b.x + 0.5));
        const int py = static_cast<int>(std::floor(b.y + 0.5));
        b.peak = bandAt(b, px, py);
    }
    return t;
}

} // namespace

std::uint64_t SplitMix64::next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double SplitMix64::uniform() {
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
}

double SplitMix64::normal() {
    // 1 - uniform() lies in (0, 1], so the logarithm is finite.
    const double u1 = 1.0 - uniform();
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.14159265358979323846 * u2);
}

double GelBackground::at(double x, double y) const {
    const double dx = x - blobX, dy = y - blobY;
    return base + gradientX * x / width + gradientY * y / height +
           blobAmplitude *
               std::exp(-(dx * dx / (2 * blobSigmaX * blobSigmaX) + dy * dy / (2 * blobSigmaY * blobSigmaY)));
}

double GelTruth::modelAt(int x, int y) const {
    double v = background.at(x, y);
    for (const GelBand& b : bands) {
        int x0, x1, y0, y1;
        bandSpan(b, options.width, options.height, x0, x1, y0, y1);
        if (x >= x0 && x <= x1 && y >= y0 && y <= y1) v += bandAt(b, x, y);
    }
    return v;
}

GelOptions gelOptions(int width, int height, int lanes, int bandsPerLane, std::uint64_t seed) {
    GelOptions o;
    o.width = width;
    o.height = height;
    o.lanes = lanes;
    o.bandsPerLane = bandsPerLane;
    o.seed = seed;
    return o;
}

const char* gelDepthName(GelDepth depth) {
    switch (depth) {
    case GelDepth::Gray8:
        return "8";
    case GelDepth::Gray16:
        return "16";
    case GelDepth::Rgb24:
        return "rgb";
    }
    return "16";
}

void SyntheticGel::stainColour(int density, std::uint8_t rgbOut[3]) {
    const int d = std::clamp(density, 0, 255);
    for (int c = 0; c < 3; ++c)
        rgbOut[c] = static_cast<std::uint8_t>((kPaper[c] * (255 - d) + kDye[c] * d + 127) / 255);
}

SyntheticGel SyntheticGel::generate(const GelOptions& options) {
    SyntheticGel gel;
    gel.m_truth = drawLayout(options);
    const GelTruth& t = gel.m_truth;
    const int w = options.width, h = options.height;
    const size_t n = static_cast<size_t>(w) * h;

    std::vector<double> model(n);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            model[static_cast<size_t>(y) * w + x] = t.background.at(x, y);

    // Bands are separable: one column profile and one row profile each.
    std::vector<double> across, along;
    for (const GelBand& b : t.bands) {
        int x0, x1, y0, y1;
        bandSpan(b, w, h, x0, x1, y0, y1);
        const double a = b.x - b.width / 2;
        across.resize(x1 - x0 + 1);
        along.resize(y1 - y0 + 1);
        for (int x = x0; x <= x1; ++x)
            across[x - x0] = flatTopPixel(x, a, a + b.width, b.edgeSigma);
        for (int y = y0; y <= y1; ++y)
            along[y - y0] = b.amplitude * gaussianPixel(y, b.y, b.sigmaY);
        for (int y = y0; y <= y1; ++y) {
            double* row = &model[static_cast<size_t>(y) * w];
            for (int x = x0; x <= x1; ++x)
                row[x] += along[y - y0] * across[x - x0];
        }
    }

    // Noise from its own stream, so that switching it off leaves the layout as it was.
    SplitMix64 noise(options.seed ^ 0x6E6F697365ull);
    const double full = t.maxValue;
    const double shotScale = full / t.photonsAtFullScale;
    const double read2 = t.readNoise * t.readNoise;
    gel.m_values.resize(n);
    for (size_t i = 0; i < n; ++i) {
        double v = model[i];
        if (options.noise) v += std::sqrt(std::max(0.0, v) * shotScale + read2) * noise.normal();
        const double q = std::floor(v + 0.5);
        gel.m_values[i] = static_cast<std::uint16_t>(std::clamp(q, 0.0, full));
    }

    if (options.depth == GelDepth::Rgb24) {
        gel.m_rgb.resize(n * 3);
        for (size_t i = 0; i < n; ++i)
            stainColour(gel.m_values[i], &gel.m_rgb[i * 3]);
    }

    for (GelBand& b : gel.m_truth.bands) {
        const int px = static_cast<int>(std::floor(b.x + 0.5));
        const int py = static_cast<int>(std::floor(b.y + 0.5));
        b.saturated =
            px >= 0 && px < w && py >= 0 && py < h && model[static_cast<size_t>(py) * w + px] >= full - 0.5;
    }
    return gel;
}

DalvoImage* SyntheticGel::toImage() const {
    const unsigned w = static_cast<unsigned>(width());
    const unsigned h = static_cast<unsigned>(height());
    DalvoImage* image = nullptr;
    switch (m_truth.options.depth) {
    case GelDepth::Gray16:
        image = new DalvoImage(FIT_UINT16, w, h, 16);
        break;
    case GelDepth::Gray8:
        image = new DalvoImage(FIT_BITMAP, w, h, 8);
        break;
    case GelDepth::Rgb24:
        image = new DalvoImage(FIT_BITMAP, w, h, 24);
        break;
    }
    if (!image->isValid()) {
        delete image;
        throw std::runtime_error("cannot allocate a " + std::to_string(w) + " x " + std::to_string(h) +
                                 " image");
    }
    // Scan lines run bottom-up: picture row y is scan line h - 1 - y.
    for (unsigned y = 0; y < h; ++y) {
        BYTE* line = image->getScanLine(h - 1 - y);
        const size_t row = static_cast<size_t>(y) * w;
        switch (m_truth.options.depth) {
        case GelDepth::Gray16: {
            WORD* p = reinterpret_cast<WORD*>(line);
            for (unsigned x = 0; x < w; ++x)
                p[x] = m_values[row + x];
            break;
        }
        case GelDepth::Gray8:
            for (unsigned x = 0; x < w; ++x)
                line[x] = static_cast<BYTE>(m_values[row + x]);
            break;
        case GelDepth::Rgb24:
            for (unsigned x = 0; x < w; ++x) {
                const std::uint8_t* c = &m_rgb[(row + x) * 3];
                line[x * 3 + FI_RGBA_RED] = c[0];
                line[x * 3 + FI_RGBA_GREEN] = c[1];
                line[x * 3 + FI_RGBA_BLUE] = c[2];
            }
            break;
        }
    }
    return image;
}

nlohmann::ordered_json SyntheticGel::truthJson() const {
    using json = nlohmann::ordered_json;
    const GelTruth& t = m_truth;
    const GelOptions& o = t.options;
    json j;
    j["generator"] = "kestro synth";
    j["seed"] = o.seed;
    j["width"] = o.width;
    j["height"] = o.height;
    j["depth"] = gelDepthName(o.depth);
    j["imageType"] = o.depth == GelDepth::Gray16 ? "FIT_UINT16" : "FIT_BITMAP";
    j["bpp"] = o.depth == GelDepth::Gray16 ? 16 : o.depth == GelDepth::Gray8 ? 8 : 24;
    j["maxValue"] = t.maxValue;
    j["coordinates"] = "x is the column, y the row from the top; pixel centres lie at integer positions";
    j["units"] = o.depth == GelDepth::Rgb24 ? "stain density 0..255 behind the colour (see colour)"
                                            : "pixel values of the image";
    if (o.depth == GelDepth::Rgb24)
        j["colour"] = {{"paper", {kPaper[0], kPaper[1], kPaper[2]}},
                       {"dye", {kDye[0], kDye[1], kDye[2]}},
                       {"formula", "rgb = (paper * (255 - d) + dye * d + 127) / 255 for density d"}};
    j["noise"] = {
        {"enabled", o.noise},
        {"model",
         "value + normal(0, sqrt(value * maxValue / photonsAtFullScale + readNoise^2)), rounded and clipped"},
        {"photonsAtFullScale", t.photonsAtFullScale},
        {"readNoise", rounded(t.readNoise)}};
    const GelBackground& bg = t.background;
    const char* formula = "base + gradientX*x/width + gradientY*y/height + "
                          "blobAmplitude*exp(-((x-blobX)^2/(2*blobSigmaX^2) + (y-blobY)^2/(2*blobSigmaY^2)))";
    j["background"] = {{"enabled", o.background},
                       {"formula", formula},
                       {"base", rounded(bg.base)},
                       {"gradientX", rounded(bg.gradientX)},
                       {"gradientY", rounded(bg.gradientY)},
                       {"blobAmplitude", rounded(bg.blobAmplitude)},
                       {"blobX", rounded(bg.blobX)},
                       {"blobY", rounded(bg.blobY)},
                       {"blobSigmaX", rounded(bg.blobSigmaX)},
                       {"blobSigmaY", rounded(bg.blobSigmaY)}};
    if (o.laneJitter != 0.04) j["laneJitter"] = o.laneJitter;
    if (o.bend != 0)
        j["bend"] = {
            {"depth", o.bend},
            {"formula", "a lane's centre at row y is centreX + bend * (y / height)^2, bend = depth * u"}};
    j["smile"] = {
        {"depth", rounded(t.smileDepth)},
        {"formula", "a lane's bands move down by depth * (1 - u^2), u = (centreX - width/2) / (width/2)"}};
    json lanes = json::array();
    for (const GelLane& l : t.lanes)
        lanes.push_back({{"index", l.index},
                         {"centreX", rounded(l.centreX)},
                         {"width", rounded(l.width)},
                         {"smileOffset", rounded(l.smileOffset)},
                         {"bend", rounded(l.bend)}});
    j["lanes"] = lanes;
    json bands = json::array();
    json saturated = json::array();
    for (size_t i = 0; i < t.bands.size(); ++i) {
        const GelBand& b = t.bands[i];
        bands.push_back({{"lane", b.lane},
                         {"index", b.index},
                         {"x", rounded(b.x)},
                         {"y", rounded(b.y)},
                         {"width", rounded(b.width)},
                         {"edgeSigma", rounded(b.edgeSigma)},
                         {"sigmaY", rounded(b.sigmaY)},
                         {"amplitude", rounded(b.amplitude, 100)},
                         {"peak", rounded(b.peak, 100)},
                         {"integratedIntensity", rounded(b.integratedIntensity, 10)},
                         {"saturated", b.saturated},
                         {"diffuse", b.diffuse}});
        if (b.saturated) saturated.push_back(i);
    }
    j["bands"] = bands;
    j["saturatedBands"] = saturated;
    return j;
}

std::string SyntheticGel::truthPathFor(const std::string& imagePath) {
    const std::string ext = lowerExtension(imagePath);
    return imagePath.substr(0, imagePath.size() - ext.size()) + ".truth.json";
}

std::string SyntheticGel::save(const std::string& imagePath) const {
    DalvoImage* image = toImage();
    const CString name = CString::FromUtf8(imagePath);
    const bool exportable = image->canSave(name) != FALSE;
    const bool written = exportable && image->save(name) != FALSE;
    delete image;
    if (!exportable) {
        const std::string ext = lowerExtension(imagePath);
        throw std::runtime_error("cannot write a " + std::string(gelDepthName(m_truth.options.depth)) +
                                 (m_truth.options.depth == GelDepth::Rgb24 ? "" : "-bit") + " gel as '" +
                                 (ext.empty() ? std::string("(no extension)") : ext) + "'; use .tif or .png");
    }
    if (!written) throw std::runtime_error("cannot write " + imagePath);

    const std::string truthPath = truthPathFor(imagePath);
    // A truth file cut short would pass for a gel's record: it replaces the old one only whole.
    const std::string text = truthJson().dump(2) + '\n';
    if (!kestro::replaceFile(truthPath, text.data(), text.size()))
        throw std::runtime_error("cannot write " + truthPath);
    return truthPath;
}

} // namespace kestro
