#include "Channels.h"
#include "Commands.h"
#include "Support.h"

#include "synth/SyntheticGel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

namespace kestro {

namespace {

namespace fs = std::filesystem;

struct DemoArgs {
    std::string out = "kestro-demo";
    std::uint64_t seed = 1;
};

struct Found {
    CRect window;
    CPoint centre;
    double distance = 0;
    bool clipped = false; // some pixel of the window holds the depth's largest value
    CPointArray outline;
};

// A window around a true band that holds all of it and some background on every side.
CRect windowAround(const GelBand& b, int width, int height) {
    const double halfX = b.width / 2 + 3 * b.edgeSigma + 2;
    const double halfY = 4 * b.sigmaY + 1;
    return CRect(std::max(0, static_cast<int>(std::floor(b.x - halfX))),
                 std::max(0, static_cast<int>(std::floor(b.y - halfY))),
                 std::min(width, static_cast<int>(std::ceil(b.x + halfX)) + 1),
                 std::min(height, static_cast<int>(std::ceil(b.y + halfY)) + 1));
}

// An 8-bit colour view of the subtracted gel with each outline in red and each centre in green.
void writeOutlineView(const RasterImageGS16& sub, const std::vector<Found>& found, const std::string& path) {
    RasterImageRGB view(sub.width, sub.height);
    const double top = std::max(1, sub.maxValue);
    for (int y = 0; y < sub.height; ++y)
        for (int x = 0; x < sub.width; ++x) {
            // A square root brings faint bands up next to the bright ones.
            const double v = std::sqrt(std::max(0, sub.getPixel(x, y)) / top);
            const BYTE g = static_cast<BYTE>(std::min(255.0, std::floor(v * 255 + 0.5)));
            view.setPixel(x, y, RGBQUAD{g, g, g, 0});
        }
    for (const Found& f : found) {
        for (INT_PTR i = 0; i < f.outline.GetSize(); ++i) {
            const CPoint& p = f.outline.GetAt(i);
            if (p.x >= 0 && p.x < sub.width && p.y >= 0 && p.y < sub.height)
                view.setPixel(p.x, p.y, RGBQUAD{40, 40, 255, 0});
        }
        if (f.centre.x >= 0 && f.centre.x < sub.width && f.centre.y >= 0 && f.centre.y < sub.height)
            view.setPixel(f.centre.x, f.centre.y, RGBQUAD{40, 255, 40, 0});
    }
    std::unique_ptr<DalvoImage> image(view.convert2DalvoImage());
    saveImage(*image, path);
}

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

int runDemo(const DemoArgs& a, bool json) {
    std::error_code ec;
    fs::create_directories(a.out, ec);
    if (ec || !fs::is_directory(a.out, ec)) throw ToolError(a.out + ": cannot create the folder");
    const fs::path dir(a.out);
    const std::string gelPath = (dir / "gel.tif").string();
    nlohmann::ordered_json timings;

    // 1. Generate a 16-bit gel with noise, background, smile and a saturated band.
    long long t = nowNanos();
    GelOptions options;
    options.seed = a.seed;
    const SyntheticGel gel = SyntheticGel::generate(options);
    timings["generate"] = millisecondsSince(t);
    t = nowNanos();
    std::string truthPath;
    try {
        truthPath = gel.save(gelPath);
    } catch (const std::runtime_error& e) {
        throw ToolError(e.what());
    }
    timings["write"] = millisecondsSince(t);
    const GelTruth& truth = gel.truth();

    // 2. Load it back as the application does, which also builds the raster.
    t = nowNanos();
    const LoadedImage li = loadImage(gelPath);
    timings["load"] = millisecondsSince(t);
    t = nowNanos();
    const GreyRaster grey = grayscaleRaster(li, "demo");
    RasterImageGS16* raster = grey.raster;
    timings["raster"] = millisecondsSince(t);

    // 3. Background by moving minimum: the window must reach from a lane's middle past its edge.
    double widest = 0, edge = 0;
    for (const GelBand& b : truth.bands) {
        widest = std::max(widest, b.width);
        edge = std::max(edge, b.edgeSigma);
    }
    const int halfWidth = static_cast<int>(std::ceil(widest / 2 + 3 * edge)) + 3;
    const int halfHeight = 3;
    ImageProcessing processing;
    t = nowNanos();
    RasterImageGS16 background(*raster);
    processing.generateBGViaMinFilter(raster, &background, halfWidth, halfHeight);
    background.calculateStatistics();
    timings["background"] = millisecondsSince(t);

    // 4. Subtraction.
    t = nowNanos();
    RasterImageGS16 sub(*raster);
    sub.subtractImage(&background);
    timings["subtract"] = millisecondsSince(t);

    // 5. Every true band: centre of mass and outline in a window around it.
    t = nowNanos();
    std::vector<Found> found(truth.bands.size());
    for (size_t i = 0; i < truth.bands.size(); ++i) {
        const GelBand& b = truth.bands[i];
        Found& f = found[i];
        f.window = windowAround(b, sub.width, sub.height);
        f.centre = processing.findCenterOfMass3D(&sub, f.window);
        f.distance = std::hypot(f.centre.x - b.x, f.centre.y - b.y);
        if (f.window.PtInRect(f.centre))
            processing.findBroundryPoints(&sub, f.window, f.centre, 0.5f, &f.outline);
        for (int y = f.window.top; y < f.window.bottom && !f.clipped; ++y)
            for (int x = f.window.left; x < f.window.right; ++x)
                if (raster->getPixel(x, y) >= raster->maxPixelValue) {
                    f.clipped = true;
                    break;
                }
    }
    timings["centres"] = millisecondsSince(t);

    // 6. Write the images and the report.
    std::unique_ptr<DalvoImage> bgImage(background.convert2DalvoImage());
    saveImage(*bgImage, (dir / "background.tif").string());
    std::unique_ptr<DalvoImage> subImage(sub.convert2DalvoImage());
    saveImage(*subImage, (dir / "subtracted.tif").string());
    writeOutlineView(sub, found, (dir / "outlines.png").string());

    int within = 0, saturated = 0, clippedSaturated = 0;
    nlohmann::ordered_json bands = nlohmann::ordered_json::array();
    for (size_t i = 0; i < found.size(); ++i) {
        const GelBand& b = truth.bands[i];
        const Found& f = found[i];
        within += f.distance <= 1.0 ? 1 : 0;
        saturated += b.saturated ? 1 : 0;
        clippedSaturated += (b.saturated && f.clipped) ? 1 : 0;
        nlohmann::ordered_json pts = nlohmann::ordered_json::array();
        for (INT_PTR k = 0; k < f.outline.GetSize(); ++k)
            pts.push_back({f.outline.GetAt(k).x, f.outline.GetAt(k).y});
        bands.push_back({{"lane", b.lane},
                         {"index", b.index},
                         {"true", {b.x, b.y}},
                         {"window", {f.window.left, f.window.top, f.window.right, f.window.bottom}},
                         {"found", {f.centre.x, f.centre.y}},
                         {"distance", std::round(f.distance * 1000) / 1000},
                         {"saturated", b.saturated},
                         {"clipped", f.clipped},
                         {"outline", pts}});
    }
    const nlohmann::ordered_json report = {{"gel", gelPath},
                                           {"truth", truthPath},
                                           {"images",
                                            {{"background", (dir / "background.tif").string()},
                                             {"subtracted", (dir / "subtracted.tif").string()},
                                             {"outlines", (dir / "outlines.png").string()}}},
                                           {"width", gel.width()},
                                           {"height", gel.height()},
                                           {"seed", a.seed},
                                           {"backgroundHalf", {halfWidth, halfHeight}},
                                           {"bands", bands},
                                           {"summary",
                                            {{"bands", found.size()},
                                             {"withinOnePixel", within},
                                             {"saturated", saturated},
                                             {"saturatedAndClipped", clippedSaturated}}},
                                           {"milliseconds", timings}};
    const std::string reportPath = (dir / "report.json").string();
    writeTextFileAtomically(reportPath, formatJson(report));

    if (json) {
        printJson(report);
        return 0;
    }
    std::cout << "synthetic 16-bit gel " << gel.width() << " x " << gel.height() << ", " << truth.lanes.size()
              << " lanes, " << truth.bands.size() << " bands, seed " << a.seed << " -> " << a.out << "/\n";
    std::cout << "background by moving minimum, half window " << halfWidth << " x " << halfHeight
              << "; centres of mass on the subtracted image\n\n";
    std::cout << "lane band   true x   true y  found x  found y  distance\n";
    for (size_t i = 0; i < found.size(); ++i) {
        const GelBand& b = truth.bands[i];
        const Found& f = found[i];
        char line[160];
        std::snprintf(line, sizeof line, "%4d %4d %8.2f %8.2f %8d %8d %9.2f%s%s\n", b.lane, b.index, b.x, b.y,
                      int(f.centre.x), int(f.centre.y), f.distance, f.distance <= 1.0 ? "" : "  off",
                      b.saturated ? "  saturated" : "");
        std::cout << line;
    }
    std::cout << '\n'
              << within << " of " << found.size() << " bands found within 1 pixel of the truth; " << saturated
              << " saturated band" << (saturated == 1 ? "" : "s") << " (" << clippedSaturated
              << " clipped in the image); timings: generate " << fixed(timings["generate"], 1)
              << " ms, write " << fixed(timings["write"], 1) << " ms, load with raster "
              << fixed(timings["load"].get<double>() + timings["raster"].get<double>(), 1)
              << " ms, background " << fixed(timings["background"], 1) << " ms, subtract "
              << fixed(timings["subtract"], 1) << " ms, centres and outlines " << fixed(timings["centres"], 1)
              << " ms\n";
    return 0;
}

} // namespace

Command addDemoCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<DemoArgs>();
    CLI::App* app = root.add_subcommand("demo", "The typical road on a synthetic 16-bit gel: generate, load, "
                                                "background, subtract, centres, outlines");
    app->footer("Example:\n  kestro demo --out demo");
    app->add_option("--out", a->out, "Folder for the images and report.json")->capture_default_str();
    app->add_option("--seed", a->seed, "Seed of the synthetic gel")->capture_default_str();
    return {app, [a, &json] { return runDemo(*a, json); }};
}

} // namespace kestro
