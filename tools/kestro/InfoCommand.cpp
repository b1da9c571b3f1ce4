#include "Commands.h"
#include "Support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

namespace kestro {

namespace {

struct InfoArgs {
    std::vector<std::string> files;
};

struct Stats {
    bool valid = false;
    long long min = 0;
    long long max = 0;
    double mean = 0;
    int bitsUsed = 0;        ///< bits from the highest to the lowest that any sample sets
    int saturationLevel = 0; ///< the band side's end of the depth: its largest value, or 0 for dark bands
    long long saturated = 0; ///< pixels with a sample at that level
    bool darkBands = false;  ///< bands darker than the gel, as the histogram tells
};

// Bits between the highest and the lowest bit any sample sets: a 12-bit camera's values use 12
// of 16, whether written low (0..4095) or shifted up (multiples of 16).
int bitSpan(unsigned bits) {
    if (bits == 0) return 0;
    int high = 31, low = 0;
    while (!(bits >> high & 1u))
        --high;
    while (!(bits >> low & 1u))
        ++low;
    return high - low + 1;
}

// Colour rasters have no statistics of their own: min, max and mean over every red, green and
// blue sample.
Stats rasterStats(RasterImage* raster) {
    Stats s;
    if (!raster) return s;
    if (raster->IsKindOf(RUNTIME_CLASS(RasterImageGS16))) {
        const auto* gs = static_cast<RasterImageGS16*>(raster);
        const size_t n =
            static_cast<size_t>(std::max(gs->width, 0)) * static_cast<size_t>(std::max(gs->height, 0));
        if (n == 0 || !gs->pixels) return s;
        s = {true, gs->minValue, gs->maxValue, gs->mean};
        // Bands saturate on their own side: a dark band on a light gel at 0, not at the top.
        s.darkBands = gel::detectPolarity(gs->pixels, gs->width, gs->height, gs->maxPixelValue) ==
                      gel::Polarity::DarkBands;
        s.saturationLevel = s.darkBands ? 0 : gs->maxPixelValue;
        unsigned bits = 0;
        for (size_t i = 0; i < n; ++i) {
            bits |= static_cast<unsigned>(gs->pixels[i]);
            s.saturated += s.darkBands ? gs->pixels[i] <= 0 : gs->pixels[i] >= s.saturationLevel;
        }
        s.bitsUsed = bitSpan(bits);
        return s;
    }
    if (raster->IsKindOf(RUNTIME_CLASS(RasterImageRGB))) {
        const auto* rgb = static_cast<RasterImageRGB*>(raster);
        const size_t n =
            static_cast<size_t>(std::max(rgb->width, 0)) * static_cast<size_t>(std::max(rgb->height, 0));
        if (n == 0 || !rgb->pixels) return s;
        int lo = 255, hi = 0;
        double sum = 0;
        unsigned bits = 0;
        long long full = 0, empty = 0;
        std::vector<int> luma(n);
        for (size_t i = 0; i < n; ++i) {
            const RGBQUAD& q = rgb->pixels[i];
            bool top = false, bottom = false;
            for (int v : {int(q.rgbRed), int(q.rgbGreen), int(q.rgbBlue)}) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
                sum += v;
                bits |= static_cast<unsigned>(v);
                top = top || v == 255;
                bottom = bottom || v == 0;
            }
            full += top;
            empty += bottom;
            luma[i] = (299 * q.rgbRed + 587 * q.rgbGreen + 114 * q.rgbBlue + 500) / 1000;
        }
        const bool dark =
            gel::detectPolarity(luma.data(), rgb->width, rgb->height, 255) == gel::Polarity::DarkBands;
        const long long saturated = dark ? empty : full;
        s = {true, lo, hi, sum / (3.0 * static_cast<double>(n))};
        s.bitsUsed = bitSpan(bits);
        s.darkBands = dark;
        s.saturationLevel = dark ? 0 : 255;
        s.saturated = saturated;
    }
    return s;
}

// The image's pixels in words, e.g. "16-bit grayscale", "24-bit RGB".
std::string pixelType(DalvoImage& image) {
    const std::string bits = std::to_string(image.getBitsPerPixel()) + "-bit ";
    switch (image.getImageType()) {
    case FIT_BITMAP:
        switch (image.getColorType()) {
        case FIC_MINISBLACK:
        case FIC_MINISWHITE:
            return bits + (image.getBitsPerPixel() == 1 ? "black and white" : "grayscale");
        case FIC_PALETTE:
            return bits + "palette colour";
        case FIC_RGBALPHA:
            return bits + "RGBA";
        case FIC_CMYK:
            return bits + "CMYK";
        default:
            return bits + "RGB";
        }
    case FIT_UINT16:
    case FIT_UINT32:
        return bits + "grayscale";
    case FIT_INT16:
    case FIT_INT32:
        return bits + "signed grayscale";
    case FIT_FLOAT:
    case FIT_DOUBLE:
        return bits + "floating-point grayscale";
    case FIT_COMPLEX:
        return bits + "complex";
    case FIT_RGB16:
        return bits + "RGB (16 bits a channel)";
    case FIT_RGBA16:
        return bits + "RGBA (16 bits a channel)";
    case FIT_RGBF:
        return bits + "floating-point RGB";
    case FIT_RGBAF:
        return bits + "floating-point RGBA";
    default:
        return bits + "unknown";
    }
}

// What the first directory of a TIFF says about photometric interpretation and resolution;
// FreeImage keeps neither of them for us to ask (photometric not at all, resolution defaulted).
struct TiffTags {
    bool read = false;
    int photometric = -1;
    double xResolution = 0, yResolution = 0;
    int resolutionUnit = 2; // inch, the TIFF default
};

TiffTags readTiffTags(const std::string& path) {
    TiffTags t;
    std::ifstream in(path, std::ios::binary);
    unsigned char head[8];
    if (!in.read(reinterpret_cast<char*>(head), 8)) return t;
    const bool little = head[0] == 'I' && head[1] == 'I';
    if (!little && !(head[0] == 'M' && head[1] == 'M')) return t;
    const auto number = [little](const unsigned char* p, int size) {
        unsigned long v = 0;
        for (int i = 0; i < size; ++i)
            v |= static_cast<unsigned long>(p[i]) << (8 * (little ? i : size - 1 - i));
        return v;
    };
    if (number(head + 2, 2) != 42) return t;
    in.seekg(static_cast<std::streamoff>(number(head + 4, 4)));
    unsigned char countBytes[2];
    if (!in.read(reinterpret_cast<char*>(countBytes), 2)) return t;
    const unsigned long count = number(countBytes, 2);
    std::vector<unsigned char> entries(count * 12);
    if (!in.read(reinterpret_cast<char*>(entries.data()), static_cast<std::streamsize>(entries.size())))
        return t;
    const auto rational = [&](unsigned long offset) {
        unsigned char r[8];
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        if (!in.read(reinterpret_cast<char*>(r), 8) || number(r + 4, 4) == 0) return 0.0;
        return static_cast<double>(number(r, 4)) / static_cast<double>(number(r + 4, 4));
    };
    t.read = true;
    for (unsigned long i = 0; i < count; ++i) {
        const unsigned char* e = entries.data() + 12 * i;
        const unsigned long tag = number(e, 2), type = number(e + 2, 2);
        const unsigned long shortValue = type == 3 ? number(e + 8, 2) : number(e + 8, 4);
        if (tag == 262)
            t.photometric = static_cast<int>(shortValue);
        else if (tag == 296)
            t.resolutionUnit = static_cast<int>(shortValue);
        else if ((tag == 282 || tag == 283) && type == 5)
            (tag == 282 ? t.xResolution : t.yResolution) = rational(number(e + 8, 4));
    }
    return t;
}

// An information line's value as a number where it is one.
nlohmann::ordered_json infoValue(const std::string& text) {
    if (text.empty()) return text;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v)) return text;
    if (v == std::floor(v) && std::fabs(v) < 9e15) return static_cast<long long>(v);
    return v;
}

std::string formatMean(double mean) {
    std::ostringstream os;
    os << std::fixed << std::setprecision(2) << mean;
    return os.str();
}

// The display settings that travel with an image in an archive.
nlohmann::ordered_json displayJson(const DalvoImage& image) {
    return {{"brightness", image.getBrightness()}, {"contrast", image.getContrast()},
            {"gamma", image.getGamma()},           {"low", image.getAutoContrastLow()},
            {"high", image.getAutoContrastHigh()}, {"palette", static_cast<int>(image.getPaletteType())}};
}

nlohmann::ordered_json describe(const std::string& path) {
    const LoadedImage li = loadImage(path);
    DalvoImage& image = *li.image;
    CStringArray info;
    image.getImageInfo(info);
    nlohmann::ordered_json infoLines = nlohmann::ordered_json::object();
    for (INT_PTR i = 0; i < info.GetSize(); ++i) {
        const std::string line = info.GetAt(i).ToUtf8();
        const size_t bar = line.find('|');
        infoLines[line.substr(0, bar)] =
            infoValue(bar == std::string::npos ? std::string() : line.substr(bar + 1));
    }
    const Stats s = rasterStats(li.raster);
    nlohmann::ordered_json j = {
        {"file", li.path},
        {"format", li.archive ? std::string("image archive") : fileTypeName(li.fileType)},
        {"pixelType", pixelType(image)},
        {"imageType", imageTypeName(image.getImageType())},
        {"width", image.getWidth()},
        {"height", image.getHeight()},
        {"bpp", image.getBitsPerPixel()},
        {"bitsUsed", nullptr},
        {"raster", rasterKind(li.raster)},
        {"min", nullptr},
        {"max", nullptr},
        {"mean", nullptr},
        {"saturationLevel", nullptr},
        {"saturated", nullptr}};
    if (s.valid) {
        j["bitsUsed"] = s.bitsUsed;
        j["min"] = s.min;
        j["max"] = s.max;
        j["mean"] = s.mean;
        j["saturationLevel"] = s.saturationLevel;
        j["saturated"] = s.saturated;
        j["bands"] = s.darkBands ? "dark" : "bright";
    }
    // The TIFF's own tags where it is one; else what the decoder kept, absent when nothing was stored.
    const TiffTags tiff = li.archive ? TiffTags{} : readTiffTags(li.path);
    const double perInch = tiff.resolutionUnit == 3 ? 2.54 : 1.0;
    // Other decoders give 72 dpi (2835 dots a metre) when the file stores none, so that value
    // counts as not stored.
    const double dpmX = image.getHorizontalResolution() * 100, dpmY = image.getVerticalResolution() * 100;
    const auto tenths = [](double dpi) { return std::round(dpi * 10) / 10; };
    if (tiff.read && tiff.xResolution > 0 && tiff.yResolution > 0 && tiff.resolutionUnit != 1)
        j["dpi"] = {tenths(tiff.xResolution * perInch), tenths(tiff.yResolution * perInch)};
    else if (!tiff.read && dpmX > 0 && dpmY > 0 && !(std::lround(dpmX) == 2835 && std::lround(dpmY) == 2835))
        j["dpi"] = {tenths(dpmX * 0.0254), tenths(dpmY * 0.0254)};
    if (tiff.read && tiff.photometric >= 0) {
        j["minIsWhite"] = tiff.photometric == 0;
        // FreeImage reverses the grey palette of a min-is-white image of 8 bits or less; deeper
        // samples it leaves as stored.
        j["invertedOnLoad"] = image.getColorType() == FIC_MINISWHITE;
    }
    j["info"] = infoLines;
    j["archive"] = li.archive;
    j["history"] = image.GetPreprocessStr().ToUtf8();
    j["display"] = displayJson(image);
    return j;
}

const char* paletteName(int palette) {
    static const char* const names[] = {"normal",        "saturated",      "shades of green",
                                        "shades of red", "shades of blue", "auto contrast"};
    return palette >= 0 && palette <= 5 ? names[palette] : "none";
}

void printText(const nlohmann::ordered_json& j, size_t index) {
    auto row = [](const std::string& label, const std::string& value) {
        std::cout << "  " << std::left << std::setw(18) << label << value << '\n';
    };
    auto text = [](const nlohmann::ordered_json& v) {
        return v.is_string() ? v.get<std::string>() : v.dump();
    };
    if (index > 0) std::cout << '\n';
    std::cout << j["file"].get<std::string>() << '\n';
    row("format", j["format"].get<std::string>());
    // Words a lab user reads: "16-bit grey", not the decoder's type names.
    std::string pixels = j["pixelType"].get<std::string>();
    if (const size_t g = pixels.find("grayscale"); g != std::string::npos) pixels.replace(g, 9, "grey");
    row("pixels", text(j["width"]) + " x " + text(j["height"]) + ", " + pixels);
    if (!j["bitsUsed"].is_null())
        row("bits used", text(j["bitsUsed"]) + " of " +
                             std::to_string(j["imageType"] == "FIT_BITMAP" && j["bpp"].get<int>() > 8
                                                ? 8
                                                : j["bpp"].get<int>()));
    if (j.contains("dpi")) row("resolution", text(j["dpi"][0]) + " x " + text(j["dpi"][1]) + " dpi");
    if (j.contains("minIsWhite") && j["minIsWhite"].get<bool>())
        row("min-is-white",
            j["invertedOnLoad"].get<bool>()
                ? "yes; FreeImage shows it inverted through its palette, the samples stay as stored"
                : "yes; read as stored, not inverted (see which way the bands go)");
    if (j["min"].is_null()) {
        row("min / max / mean", "- (no raster)");
    } else {
        row("min / max / mean",
            text(j["min"]) + " / " + text(j["max"]) + " / " + formatMean(j["mean"].get<double>()));
        const long long saturated = j["saturated"].get<long long>();
        const std::string side = j["bands"] == "dark" ? " (dark bands: they saturate at 0)" : "";
        row("saturated", saturated == 0 ? "none at " + text(j["saturationLevel"]) + side
                                        : text(j["saturated"]) + " pixels at " + text(j["saturationLevel"]) +
                                              side + "; their true values are unknown");
    }
    for (const auto& [label, value] : j["info"].items())
        row(label, text(value));
    if (!j["archive"].get<bool>()) return;
    // The history's entries one per line, as the processing list shows them.
    const std::string history = j["history"].get<std::string>();
    if (history.empty()) row("history", "(none)");
    for (size_t start = 0, n = 0; start < history.size(); ++n) {
        const size_t close = history.find('}', start);
        const size_t end = close == std::string::npos ? history.size() : close + 1;
        row(n == 0 ? "history" : "", history.substr(start, end - start));
        start = end;
    }
    const auto& d = j["display"];
    std::ostringstream display;
    display << "brightness " << d["brightness"].get<double>() << ", contrast " << d["contrast"].get<double>()
            << ", gamma " << d["gamma"].get<double>() << ", limits " << d["low"].get<int>() << ".."
            << d["high"].get<int>() << ", palette " << paletteName(d["palette"].get<int>());
    row("display", display.str());
}

} // namespace

Command addInfoCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<InfoArgs>();
    CLI::App* app = root.add_subcommand(
        "info", "Describe image files and image archives: format, pixel type, bits used, resolution, "
                "min-is-white, min, max, mean, saturated pixels (on the bands' side); "
                "for archives also the history and display settings");
    app->footer("Example:\n  kestro info gel.tif");
    app->add_option("FILE", a->files, "Image files, or folders of them")->required();
    return {app,
            [a, &json] { return forEachFile(expandInputs(a->files), "reading", json, describe, printText); }};
}

} // namespace kestro
