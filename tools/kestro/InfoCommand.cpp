#include "Commands.h"
#include "Support.h"

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <limits>
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

nlohmann::ordered_json describe(const LoadedImage& li, std::vector<std::pair<std::string, std::string>>& lines)
{
    CStringArray info;
    li.image->getImageInfo(info);
    nlohmann::ordered_json infoLines = nlohmann::ordered_json::array();
    for (INT_PTR i = 0; i < info.GetSize(); ++i) {
        const std::string line = info.GetAt(i).ToUtf8();
        infoLines.push_back(line);
        const size_t bar = line.find('|');
        lines.emplace_back(bar == std::string::npos ? line : line.substr(0, bar),
                           bar == std::string::npos ? std::string() : line.substr(bar + 1));
    }
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
                        {"info", infoLines}};
    if (s.valid) {
        j["min"] = s.min;
        j["max"] = s.max;
        j["mean"] = s.mean;
    }
    return j;
}

void printText(const nlohmann::ordered_json& j, const std::vector<std::pair<std::string, std::string>>& lines)
{
    const int fif = j["fileType"].get<int>();
    std::cout << j["file"].get<std::string>() << '\n';
    auto row = [](const std::string& label, const std::string& value) {
        std::cout << "  " << std::left << std::setw(18) << label << value << '\n';
    };
    row("file type", fileTypeName(static_cast<FREE_IMAGE_FORMAT>(fif)) + " (" + std::to_string(fif) + ")");
    for (const auto& l : lines)
        row(l.first, l.second);
    row("image type", j["imageType"].get<std::string>() + ", " + std::to_string(j["bpp"].get<unsigned>()) +
                          " bits per pixel");
    row("raster", j["raster"].get<std::string>());
    if (j["min"].is_null())
        row("min / max / mean", "- (no raster)");
    else
        row("min / max / mean", std::to_string(j["min"].get<long long>()) + " / " +
                                    std::to_string(j["max"].get<long long>()) + " / " +
                                    formatMean(j["mean"].get<double>()));
}

int runInfo(const InfoArgs& a, bool json)
{
    Progress progress(static_cast<int>(a.files.size()), "reading");
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    int failures = 0;
    for (size_t i = 0; i < a.files.size(); ++i) {
        const std::string& path = a.files[i];
        progress.show(static_cast<int>(i), path);
        try {
            const LoadedImage li = loadImage(path);
            std::vector<std::pair<std::string, std::string>> lines;
            nlohmann::ordered_json j = describe(li, lines);
            progress.clear();
            if (json) {
                all.push_back(j);
            } else {
                if (i > 0)
                    std::cout << '\n';
                printText(j, lines);
            }
        } catch (const ToolError& e) {
            progress.clear();
            ++failures;
            std::cerr << "kestro: error: " << e.what() << '\n';
            all.push_back({{"file", path}, {"error", e.what()}});
        }
    }
    progress.clear();
    if (json)
        printJson(all);
    return failures ? 1 : 0;
}

} // namespace

Command addInfoCommand(CLI::App& root, const bool& json)
{
    auto a = std::make_shared<InfoArgs>();
    CLI::App* app = root.add_subcommand("info", "Describe image files: type, information lines, depth, raster, min, max, mean");
    app->add_option("FILE", a->files, "Image files")->required();
    return {app, [a, &json] { return runInfo(*a, json); }};
}

} // namespace kestro
