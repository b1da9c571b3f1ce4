#include "Commands.h"
#include "Support.h"

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>

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
};

// Colour rasters have no statistics of their own: min, max and mean over every red, green and
// blue sample.
Stats rasterStats(RasterImage* raster)
{
    Stats s;
    if (!raster)
        return s;
    if (raster->IsKindOf(RUNTIME_CLASS(RasterImageGS16))) {
        const auto* gs = static_cast<RasterImageGS16*>(raster);
        if (static_cast<long long>(gs->width) * gs->height <= 0)
            return s;
        s = {true, gs->minValue, gs->maxValue, gs->mean};
        return s;
    }
    if (raster->IsKindOf(RUNTIME_CLASS(RasterImageRGB))) {
        const auto* rgb = static_cast<RasterImageRGB*>(raster);
        const size_t n = static_cast<size_t>(rgb->width) * static_cast<size_t>(rgb->height);
        if (n == 0 || !rgb->pixels)
            return s;
        int lo = 255, hi = 0;
        double sum = 0;
        for (size_t i = 0; i < n; ++i) {
            const RGBQUAD& q = rgb->pixels[i];
            for (int v : {int(q.rgbRed), int(q.rgbGreen), int(q.rgbBlue)}) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
                sum += v;
            }
        }
        s = {true, lo, hi, sum / (3.0 * static_cast<double>(n))};
    }
    return s;
}

std::string formatMean(double mean)
{
    std::ostringstream os;
    os << std::fixed << std::setprecision(2) << mean;
    return os.str();
}

// The display settings that travel with an image in an archive.
nlohmann::ordered_json displayJson(const DalvoImage& image)
{
    return {{"brightness", image.getBrightness()},
            {"contrast", image.getContrast()},
            {"gamma", image.getGamma()},
            {"low", image.getAutoContrastLow()},
            {"high", image.getAutoContrastHigh()},
            {"palette", static_cast<int>(image.getPaletteType())}};
}

nlohmann::ordered_json describe(const std::string& path)
{
    const LoadedImage li = loadImage(path);
    CStringArray info;
    li.image->getImageInfo(info);
    nlohmann::ordered_json infoLines = nlohmann::ordered_json::array();
    for (INT_PTR i = 0; i < info.GetSize(); ++i)
        infoLines.push_back(info.GetAt(i).ToUtf8());
    const Stats s = rasterStats(li.raster);
    nlohmann::ordered_json j = {{"file", li.path},
                                {"fileType", static_cast<int>(li.fileType)},
                                {"imageType", imageTypeName(li.image->getImageType())},
                                {"width", li.image->getWidth()},
                                {"height", li.image->getHeight()},
                                {"bpp", li.image->getBitsPerPixel()},
                                {"raster", rasterKind(li.raster)},
                                {"min", nullptr},
                                {"max", nullptr},
                                {"mean", nullptr},
                                {"info", infoLines},
                                {"archive", li.archive},
                                {"history", li.image->GetPreprocessStr().ToUtf8()},
                                {"display", displayJson(*li.image)}};
    if (s.valid) {
        j["min"] = s.min;
        j["max"] = s.max;
        j["mean"] = s.mean;
    }
    return j;
}

const char* paletteName(int palette)
{
    static const char* const names[] = {"normal", "saturated", "shades of green", "shades of red", "shades of blue",
                                        "auto contrast"};
    return palette >= 0 && palette <= 5 ? names[palette] : "none";
}

void printText(const nlohmann::ordered_json& j, size_t index)
{
    auto row = [](const std::string& label, const std::string& value) {
        std::cout << "  " << std::left << std::setw(18) << label << value << '\n';
    };
    if (index > 0)
        std::cout << '\n';
    const int fif = j["fileType"].get<int>();
    std::cout << j["file"].get<std::string>() << '\n';
    if (j["archive"].get<bool>())
        row("file type", "image archive (.kimg)");
    else
        row("file type", fileTypeName(static_cast<FREE_IMAGE_FORMAT>(fif)) + " (" + std::to_string(fif) + ")");
    // The information lines come as "label|value".
    for (const auto& line : j["info"]) {
        const std::string text = line.get<std::string>();
        const size_t bar = text.find('|');
        row(text.substr(0, bar), bar == std::string::npos ? std::string() : text.substr(bar + 1));
    }
    row("image type", j["imageType"].get<std::string>() + ", " + std::to_string(j["bpp"].get<unsigned>()) +
                          " bits per pixel");
    row("raster", j["raster"].get<std::string>());
    if (j["min"].is_null())
        row("min / max / mean", "- (no raster)");
    else
        row("min / max / mean", std::to_string(j["min"].get<long long>()) + " / " +
                                    std::to_string(j["max"].get<long long>()) + " / " +
                                    formatMean(j["mean"].get<double>()));
    if (!j["archive"].get<bool>())
        return;
    // The history's entries one per line, as the processing list shows them.
    const std::string history = j["history"].get<std::string>();
    if (history.empty())
        row("history", "(none)");
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

Command addInfoCommand(CLI::App& root, const bool& json)
{
    auto a = std::make_shared<InfoArgs>();
    CLI::App* app = root.add_subcommand("info", "Describe image files and image archives: type, information lines, depth, raster, min, max, mean; "
        "for archives also the history and display settings");
    app->add_option("FILE", a->files, "Image files")->required();
    return {app, [a, &json] { return forEachFile(a->files, "reading", json, describe, printText); }};
}

} // namespace kestro
