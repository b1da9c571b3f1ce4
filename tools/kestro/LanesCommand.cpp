#include "Channels.h"
#include "Commands.h"
#include "Overlay.h"
#include "Support.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace kestro {

namespace {

namespace fs = std::filesystem;

struct LanesArgs {
    std::vector<std::string> files;
    std::string out = ".";
    int lanes = 0;
    bool invert = false;
    bool noInvert = false;
    int ladder = 0;
    std::vector<double> sizes;
    int tiers = 0;
    std::string fit = "spline";
    std::vector<int> region;
    std::string background = "valleys";
    double prominence = 0.03;
};

// The gel with saturated pixels in red, lane boxes in yellow with their numbers, band boxes in
// green (diffuse bands in orange) with the peak row in cyan.
void drawAnnotation(const gel::GreyImage& g, const gel::Analysis& a, const std::string& path)
{
    Overlay m(g, a.polarity == gel::Polarity::DarkBands ? 0 : g.maxValue);
    const COLORREF yellow = RGB(255, 220, 0), green = RGB(0, 230, 60), orange = RGB(255, 140, 0),
                   cyan = RGB(0, 200, 255);
    const int scale = m.markScale();
    for (const gel::Lane& l : a.lanes) {
        // The lane's box and centre line follow its path row by row.
        m.hline(l.boxLeft, l.boxRight, l.top, yellow);
        m.hline(l.boxLeft, l.boxRight, l.bottom, yellow);
        for (int y = l.top; y <= l.bottom; ++y) {
            const int d = static_cast<int>(std::lround(l.centreAt(y) - l.centre));
            m.set(l.boxLeft + d, y, yellow);
            m.set(l.boxRight + d, y, yellow);
            if ((y / (4 * scale)) % 2 == 0)
                m.set(static_cast<int>(std::lround(l.centreAt(y))), y, yellow);
        }
        m.number(l.index + 1, l.boxLeft + 2, l.top + 2, scale, yellow);
        for (const gel::Band& b : l.bands) {
            m.rect(b.left + 1, b.top, b.right - 1, b.bottom, b.diffuse ? orange : green);
            m.hline(b.left + 1, b.right - 1, static_cast<int>(std::lround(b.peakY)), cyan);
        }
    }
    m.save(path);
}

std::string csvNumber(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

nlohmann::ordered_json bandJson(const gel::Band& b, bool calibrated)
{
    nlohmann::ordered_json j = {{"band", b.index + 1},
                                {"x", b.x},
                                {"peakY", b.peakY},
                                {"top", b.top},
                                {"bottom", b.bottom},
                                {"box", {b.left, b.top, b.right + 1, b.bottom + 1}},
                                {"prominence", b.prominence},
                                {"width", b.width},
                                {"rawVolume", b.rawVolume},
                                {"backgroundVolume", b.backgroundVolume},
                                {"correctedVolume", b.correctedVolume},
                                {"relativeVolume", b.relativeVolume},
                                {"saturatedPixels", b.saturatedPixels},
                                {"volumeIsLowerBound", b.saturated},
                                {"edgeWidth", b.edgeWidth},
                                {"diffuse", b.diffuse},
                                {"shoulder", b.shoulder}};
    if (calibrated) {
        j["size"] = b.size;
        j["extrapolated"] = b.extrapolated;
    }
    return j;
}

nlohmann::ordered_json processOne(const std::string& file, const LanesArgs& a, const gel::Options& o,
                                  std::ostream& csv)
{
    const long long start = nowNanos();
    const LoadedImage li = loadImage(file);
    // The grey values every measuring command uses, so that --channel and equal-channel colour
    // images mean the same here as in spot and background.
    const GreyRaster grey = grayscaleRaster(li, "lanes");
    const RasterImageGS16& r = *grey.raster;
    gel::GreyImage g;
    g.width = r.width;
    g.height = r.height;
    g.maxValue = r.maxPixelValue;
    g.pixels.assign(r.pixels, r.pixels + static_cast<size_t>(r.width) * r.height);
    gel::Analysis an;
    try {
        an = gel::analyse(r, o);
    } catch (const std::invalid_argument& e) {
        throw ToolError(file + ": " + e.what());
    }
    an.greyConversion = g.conversion = grey.conversion;
    const double ms = millisecondsSince(start);
    const std::string stem = fs::path(file).stem().string();
    const std::string jsonPath = (fs::path(a.out) / (stem + ".lanes.json")).string();
    const std::string pngPath = (fs::path(a.out) / (stem + ".lanes.png")).string();
    drawAnnotation(g, an, pngPath);

    const bool calibrated = an.calibration.valid();
    int bands = 0, saturated = 0, diffuse = 0;
    nlohmann::ordered_json lanes = nlohmann::ordered_json::array();
    for (const gel::Lane& l : an.lanes) {
        nlohmann::ordered_json bj = nlohmann::ordered_json::array();
        for (const gel::Band& b : l.bands) {
            bj.push_back(bandJson(b, calibrated));
            ++bands;
            saturated += b.saturated;
            diffuse += b.diffuse;
            csv << csvText(file) << ',' << l.index + 1 << ',' << b.index + 1 << ',' << csvNumber(b.x) << ','
                << csvNumber(b.peakY) << ',' << b.top << ',' << b.bottom << ',' << csvNumber(b.rawVolume) << ','
                << csvNumber(b.correctedVolume) << ',' << csvNumber(b.relativeVolume) << ',' << b.saturatedPixels
                << ',' << (calibrated ? csvNumber(b.size) : std::string()) << ','
                << (calibrated ? (b.extrapolated ? "yes" : "no") : "") << ',' << (b.saturated ? "yes" : "no")
                << ',' << (b.diffuse ? "yes" : "no") << '\n';
        }
        lanes.push_back({{"lane", l.index + 1},
                         {"tier", l.tier + 1},
                         {"centre", l.centre},
                         {"left", l.left},
                         {"right", l.right},
                         {"middle", l.middle},
                         {"tilt", l.tilt},
                         {"bow", l.bow},
                         {"pathRows", {l.pathTop, l.pathBottom}},
                         {"box", {l.boxLeft, l.top, l.boxRight + 1, l.bottom + 1}},
                         {"bands", bj}});
    }
    nlohmann::ordered_json report = {{"file", file},
                                     {"width", an.width},
                                     {"height", an.height},
                                     {"grey", an.greyConversion},
                                     {"polarity", gel::polarityName(an.polarity)},
                                     {"polarityDetected", an.polarityDetected},
                                     {"saturationLevel", an.polarity == gel::Polarity::DarkBands ? 0 : an.maxValue},
                                     {"background", a.background == "minimum" ? "moving minimum under the box"
                                                                              : "line between the box's top and bottom rows"},
                                     {"laneCount", an.lanes.size()},
                                     {"bandCount", bands},
                                     {"saturatedBands", saturated},
                                     {"diffuseBands", diffuse},
                                     {"warnings", an.warnings}};
    if (calibrated)
        report["calibration"] = {{"ladderLane", an.calibration.ladderLane + 1},
                                 {"fit", an.calibration.fit == gel::SizeFit::PiecewiseLinear
                                             ? "log10(size) piecewise linear in the migration distance"
                                             : "log10(size) monotone cubic (Fritsch-Carlson) in the migration distance"},
                                 {"positions", an.calibration.positions},
                                 {"sizes", an.calibration.sizes},
                                 {"leaveOneOut", an.calibration.leaveOneOut()}};
    report["lanes"] = lanes;
    report["milliseconds"] = ms;
    writeTextFileAtomically(jsonPath, formatJson(report));

    return {{"file", file},
            {"lanes", an.lanes.size()},
            {"bands", bands},
            {"saturatedBands", saturated},
            {"diffuseBands", diffuse},
            {"polarity", gel::polarityName(an.polarity)},
            {"json", jsonPath},
            {"png", pngPath},
            {"warnings", an.warnings},
            {"milliseconds", ms}};
}

int runLanes(const LanesArgs& a, bool json)
{
    if (a.invert && a.noInvert)
        throw ToolError("--invert and --no-invert exclude each other");
    if (!a.sizes.empty() && a.ladder < 1)
        throw ToolError("--sizes needs --ladder LANE (lanes count from 1)");
    if (a.ladder >= 1 && a.sizes.size() < 2)
        throw ToolError("--ladder needs --sizes with two sizes at least, largest first");
    if (!a.region.empty() && a.region.size() != 4)
        throw ToolError("--region needs four numbers: x y width height");
    gel::Options o;
    o.laneCount = a.lanes;
    o.polarity = a.invert ? gel::Polarity::DarkBands : a.noInvert ? gel::Polarity::BrightBands : gel::Polarity::Auto;
    o.tiers = a.tiers;
    o.minProminence = a.prominence;
    o.background = a.background == "minimum" ? gel::VolumeBackground::MovingMinimum : gel::VolumeBackground::LaneValleys;
    if (a.region.size() == 4)
        o.region = gel::Region{a.region[0], a.region[1], a.region[2], a.region[3]};
    o.ladderLane = a.ladder - 1;
    o.ladderSizes = a.sizes;
    o.sizeFit = a.fit == "linear" ? gel::SizeFit::PiecewiseLinear : gel::SizeFit::MonotoneSpline;

    std::error_code ec;
    fs::create_directories(a.out, ec);
    if (!fs::is_directory(a.out, ec))
        throw ToolError(a.out + ": cannot create the output folder");
    const std::string csvPath = (fs::path(a.out) / "bands.csv").string();
    std::ostringstream csv;
    csv << "file,lane,band,centre x,peak y,top,bottom,raw volume,corrected volume,relative volume,saturated pixels,"
           "size,size extrapolated,volume is lower bound,diffuse\n";

    const auto work = [&](const std::string& file) { return processOne(file, a, o, csv); };
    const auto print = [&](const nlohmann::ordered_json& j, size_t) {
        std::cout << j["file"].get<std::string>() << ": " << j["lanes"] << " lanes, " << j["bands"] << " bands ("
                  << j["saturatedBands"] << " saturated, " << j["diffuseBands"] << " diffuse), " << j["polarity"].get<std::string>() << "; wrote "
                  << j["json"].get<std::string>() << ", " << j["png"].get<std::string>() << '\n';
        for (const auto& w : j["warnings"])
            std::cout << "  note: " << w.get<std::string>() << '\n';
    };
    const std::vector<std::string> files = expandInputs(a.files);
    std::vector<PlannedOutput> outputs = {{csvPath, "the table"}};
    for (const std::string& file : files)
        for (const char* suffix : {".lanes.json", ".lanes.png"})
            outputs.push_back({(fs::path(a.out) / (fs::path(file).stem().string() + suffix)).string(), file});
    checkOutputs(files, outputs);
    const int code = forEachFile(files, "lanes", json, work, print);
    if (code == 0) writeTextFileAtomically(csvPath, csv.str());
    if (!json && code == 0)
        std::cout << "wrote " << csvPath << '\n';
    return code;
}

} // namespace

Command addLanesCommand(CLI::App& root, const bool& json)
{
    auto a = std::make_shared<LanesArgs>();
    CLI::App* app = root.add_subcommand(
        "lanes", "Find lanes and bands, measure band volumes and sizes; write bands.csv and per file a JSON report "
                 "and an annotated PNG");
    app->add_option("FILE", a->files, "Gel images (grey, or colour with --channel)")->required();
    addChannelOption(*app);
    app->add_option("-o,--output", a->out, "Folder for the table, reports and pictures")->capture_default_str();
    app->add_option("--lanes", a->lanes, "Lanes per tier (default: found)")->check(CLI::Range(1, 1000));
    app->add_flag("--invert", a->invert, "Dark bands on a light gel (default: detected)");
    app->add_flag("--no-invert", a->noInvert, "Bright bands on a dark gel (default: detected)");
    app->add_option("--ladder", a->ladder, "Ladder lane for the size calibration, counted from 1")
        ->check(CLI::Range(1, 1000));
    app->add_option("--sizes", a->sizes, "Ladder band sizes, largest first")->delimiter(',')->check(CLI::PositiveNumber & finiteNumber());
    app->add_option("--tiers", a->tiers, "Rows of wells (default: found)")->check(CLI::Range(1, 8));
    app->add_option("--fit", a->fit,
                    "Size calibration: spline (monotone cubic of log size) or linear (piecewise linear)")
        ->check(CLI::IsMember({"spline", "linear"}))
        ->capture_default_str();
    app->add_option("--region", a->region, "Analyse only this part: x y width height")->expected(4);
    app->add_option("--background", a->background,
                    "Band background: valleys (line between the box's ends) or minimum (moving minimum)")
        ->check(CLI::IsMember({"valleys", "minimum"}))
        ->capture_default_str();
    app->add_option("--prominence", a->prominence, "Least band prominence, fraction of the gel's profile range")
        ->check(CLI::Range(0.0, 1.0) & finiteNumber())
        ->capture_default_str();
    return {app, [a, &json] { return runLanes(*a, json); }};
}

} // namespace kestro
