// Synthetic gel images with a known answer: lanes, bands, background and noise drawn from a
// seed, rendered to pixels and described by a ground-truth record.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

class DalvoImage;

namespace kestro {

/// Pixel depth of a synthetic gel.
enum class GelDepth {
    Gray8,  ///< 8-bit grayscale (FIT_BITMAP, 8 bits per pixel)
    Gray16, ///< 16-bit grayscale (FIT_UINT16)
    Rgb24,  ///< 24-bit colour: dark blue bands on a pale gel, a stained-gel look
};

/// What to draw. Every field has a sensible default; the seed decides everything else.
struct GelOptions {
    int width = 640;
    int height = 480;
    int lanes = 8;
    int bandsPerLane = 6;
    GelDepth depth = GelDepth::Gray16;
    std::uint64_t seed = 1;
    bool noise = true;      ///< Poisson-like shot noise plus a little read noise
    bool background = true; ///< the smooth uneven background; off gives 0 between bands
    int saturatedBands = 1; ///< bands pushed well past the depth's largest value
    /// Bands drawn as diffuse clouds (primer dimers, degraded DNA): their sides blurred over a
    /// fifth of the lane's width instead of the well's sharp edge. Never saturated ones.
    int diffuseBands = 0;
    /// Lane centres move by up to this fraction of the even spacing. Beyond the usual 0.04 the
    /// lanes narrow, so that lanes of unequal spacing never touch; at most 0.3.
    double laneJitter = 0.04;
    /// Lanes that bend sideways, as on a gel that ran warm at its sides: a lane's centre moves
    /// out from the gel's middle by bend * u * (y / height)^2 at row y, u the lane's place
    /// across the gel from -1 (left edge) to 1 (right edge). Pixels; at most 50.
    double bend = 0;
};

/// The usual options with another size, lane and band count and seed (16-bit, noise, background).
GelOptions gelOptions(int width, int height, int lanes, int bandsPerLane, std::uint64_t seed = 1);

/// One lane as drawn. Coordinates put pixel centres at integer positions: pixel x covers
/// [x - 0.5, x + 0.5), so a centre of 10.0 is the middle of column 10.
struct GelLane {
    int index = 0;
    double centreX = 0;     ///< middle of the lane
    double width = 0;       ///< width of the flat top of its bands
    double smileOffset = 0; ///< how far down this lane's bands were shifted (the smile)
    double bend = 0;        ///< sideways shift at the gel's bottom row; at row y, bend * (y / height)^2
};

/// One band as drawn. Its profile is separable: across the lane a flat top of `width` with
/// Gaussian-blurred edges (`edgeSigma`), along the lane a Gaussian of `sigmaY`.
/// Both profiles are integrated over each pixel, so the pixels of a band that lies inside the
/// image sum to `integratedIntensity` (before rounding, clipping and noise).
struct GelBand {
    int lane = 0;
    int index = 0;                  ///< 0 for the band nearest the top of its lane
    double x = 0;                   ///< centre column
    double y = 0;                   ///< centre row
    double width = 0;               ///< flat-top width across the lane, pixels
    double edgeSigma = 0;           ///< blur of the band's left and right edges, pixels
    double sigmaY = 0;              ///< Gaussian sigma along the lane, pixels
    double amplitude = 0;           ///< height of the continuous profile, image units above background
    double peak = 0;                ///< largest pixel value of the band alone, image units
    double integratedIntensity = 0; ///< sum of the band alone over all pixels, image units
    bool saturated = false;         ///< the noiseless band plus background reaches the depth's largest value
    bool diffuse = false;           ///< drawn as a diffuse cloud (a wide edgeSigma)
};

/// The smooth uneven background in image units:
/// base + gradientX * x / width + gradientY * y / height
///      + blobAmplitude * exp(-((x - blobX)^2 / (2 blobSigmaX^2) + (y - blobY)^2 / (2 blobSigmaY^2))).
struct GelBackground {
    double base = 0;
    double gradientX = 0;
    double gradientY = 0;
    double blobAmplitude = 0;
    double blobX = 0;
    double blobY = 0;
    double blobSigmaX = 1;
    double blobSigmaY = 1;
    int width = 1;
    int height = 1;

    double at(double x, double y) const;
};

/// Everything the generator decided: the answer key of a synthetic gel.
struct GelTruth {
    GelOptions options;
    int maxValue = 65535;          ///< largest value of the depth (255 for 8-bit and colour)
    double smileDepth = 0;         ///< smile offset of a lane in the middle of the gel, pixels
    double photonsAtFullScale = 0; ///< noise: variance of a value v is v * maxValue / this + readNoise^2
    double readNoise = 0;          ///< noise: image units
    GelBackground background;
    std::vector<GelLane> lanes;
    std::vector<GelBand> bands; ///< lane by lane, top to bottom within each lane

    /// The noiseless value of the model at a pixel, image units, before rounding and clipping.
    double modelAt(int x, int y) const;
};

/// A generated gel: its truth and its pixels. The same options give the same bytes.
class SyntheticGel {
public:
    /// Draws and renders a gel. Raises std::invalid_argument with a one-line reason when the
    /// options cannot make a gel (sizes too small, more lanes or bands than fit).
    static SyntheticGel generate(const GelOptions& options);

    const GelTruth& truth() const { return m_truth; }
    int width() const { return m_truth.options.width; }
    int height() const { return m_truth.options.height; }

    /// Gray value of pixel (x, y), top row first; for colour gels the stain density (0..255)
    /// from which the colour was made.
    int value(int x, int y) const { return m_values[static_cast<size_t>(y) * width() + x]; }
    const std::vector<std::uint16_t>& values() const { return m_values; }
    /// Colour gels only: red, green, blue bytes per pixel, top row first; empty otherwise.
    const std::vector<std::uint8_t>& rgb() const { return m_rgb; }

    /// A new image holding the pixels, owned by the caller: FIT_UINT16, 8-bit FIT_BITMAP or
    /// 24-bit FIT_BITMAP by depth.
    DalvoImage* toImage() const;

    /// The ground truth as JSON (format documented in the README).
    nlohmann::ordered_json truthJson() const;

    /// Writes the image (format from the file name's extension) and the truth beside it as
    /// "<name without extension>.truth.json". Raises std::runtime_error with a one-line
    /// reason when either cannot be written. Returns the truth file's path.
    std::string save(const std::string& imagePath) const;

    /// "<path without extension>.truth.json".
    static std::string truthPathFor(const std::string& imagePath);

    /// The colour of stain density d (0..255) in a colour gel: red, green, blue.
    static void stainColour(int density, std::uint8_t rgbOut[3]);

private:
    GelTruth m_truth;
    std::vector<std::uint16_t> m_values;
    std::vector<std::uint8_t> m_rgb;
};

/// Name of a depth as the command line writes it: "8", "16" or "rgb".
const char* gelDepthName(GelDepth depth);

/// Small, fast, fully specified generator (splitmix64), so that a seed gives the same gel
/// with every compiler and standard library.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next();
    /// Uniform in [0, 1) with 53 random bits.
    double uniform();
    /// Uniform in [lo, hi).
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    /// Standard normal by the Box-Muller transform (one value per two draws).
    double normal();

private:
    std::uint64_t m_state;
};

} // namespace kestro
