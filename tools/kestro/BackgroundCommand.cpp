#include "Channels.h"
#include "Commands.h"
#include "Support.h"

#include <filesystem>
#include <iostream>
#include <memory>

namespace kestro {

namespace {

namespace fs = std::filesystem;

struct BackgroundArgs {
    std::vector<std::string> files;
    std::string out;
    std::vector<int> half{16, 16};
    bool subtract = false;
};

std::string outputFor(const std::string& file, const fs::path& folder, bool subtract) {
    const std::string stem = fs::path(file).stem().string();
    return (folder / (stem + (subtract ? ".subtracted.tif" : ".background.tif"))).string();
}

nlohmann::ordered_json processOne(const std::string& file, const std::string& out, const BackgroundArgs& a) {
    const long long start = nowNanos();
    const LoadedImage li = loadImage(file);
    const GreyRaster grey = grayscaleRaster(li, "background");
    RasterImageGS16* source = grey.raster;
    // Scans are large: the bitmap is not needed once its raster is built, and the subtraction
    // works in the raster itself, so at most the raster, the background and the output live at once.
    li.image->clear();

    RasterImageGS16 background(source->width, source->height);
    background.bpp = source->bpp;
    background.maxPixelValue = source->maxPixelValue;
    ImageProcessing processing;
    processing.generateBGViaMinFilter(source, &background, a.half[0], a.half[1]);
    RasterImageGS16& result = a.subtract ? *source : background;
    if (a.subtract)
        source->subtractImage(&background);
    else
        background.calculateStatistics();
    std::unique_ptr<DalvoImage> image(result.convert2DalvoImage());
    if (!image || !image->isValid()) throw ToolError(file + ": cannot make the output image");
    saveImage(*image, out);

    return {{"file", file},
            {"output", out},
            {"grey", grey.conversion},
            {"mode", a.subtract ? "subtracted" : "background"},
            {"half", {a.half[0], a.half[1]}},
            {"width", result.width},
            {"height", result.height},
            {"bpp", image->getBitsPerPixel()},
            {"min", result.minValue},
            {"max", result.maxValue},
            {"mean", result.mean},
            {"milliseconds", millisecondsSince(start)}};
}

int runBackground(const BackgroundArgs& a, bool json) {
    if (a.half.size() != 2 || a.half[0] < 1 || a.half[1] < 1)
        throw ToolError("--half needs two numbers of at least 1 (half width and half height of the window)");

    const std::vector<std::string> files = expandInputs(a.files);
    // Several files, a folder of them, or an existing folder as OUT mean OUT is a folder to write into.
    std::error_code ec;
    const bool several = files.size() > 1 || anyFolder(a.files);
    const bool intoFolder = several || fs::is_directory(a.out, ec);
    std::vector<PlannedOutput> outputs;
    for (const std::string& file : files)
        outputs.push_back({intoFolder ? outputFor(file, a.out, a.subtract) : a.out, file});
    checkOutputs(files, outputs);
    if (several && !fs::is_directory(a.out, ec)) {
        if (fs::exists(a.out, ec)) throw ToolError(a.out + ": with several files -o must name a folder");
        fs::create_directories(a.out, ec);
        if (ec) throw ToolError(a.out + ": cannot create the folder (" + ec.message() + ")");
    }

    const auto work = [&](const std::string& file, size_t index) {
        return processOne(file, outputs[index].path, a);
    };
    const auto print = [&](const nlohmann::ordered_json& j, size_t) {
        std::cout << "wrote " << j["output"].get<std::string>() << ": "
                  << (a.subtract ? "image minus its background" : "background")
                  << " by moving minimum, half window " << a.half[0] << " x " << a.half[1] << ", "
                  << j["width"] << " x " << j["height"] << ", " << j["bpp"] << "-bit, values " << j["min"]
                  << ".." << j["max"] << " (" << j["grey"].get<std::string>() << ")\n";
    };
    return forEachFileAtOnce(files, "background", json, work, print);
}

} // namespace

Command addBackgroundCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<BackgroundArgs>();
    CLI::App* app = root.add_subcommand(
        "background",
        "Estimate the background by a moving minimum (or subtract it) and write it at the image's depth");
    app->footer(
        "Example:\n  kestro background gel.tif -o background.tif --half 40 3\n\n"
        "Choosing the window: the background at a pixel is the darkest value within the window of\n"
        "(2 x half width + 1) x (2 x half height + 1) pixels around it, so the window must be wider than\n"
        "the widest band or spot: a half width of at least the band's width (a window 2-3 times the widest\n"
        "band) lets it reach the gel between the lanes. Too small a window fits into a band and takes part\n"
        "of it as background: band centres are cut down or hollowed out. Too large a window misses a\n"
        "background that changes across the gel (a brighter middle, a smear) and leaves it in. Bands run\n"
        "across the lanes, so the window can be flat: e.g. --half 40 3 for bands 30 pixels wide; for\n"
        "round spots make both halves about the widest spot's diameter. Check the result with --subtract:\n"
        "the gel between the bands should come out near 0, and the bands whole.");
    app->add_option("FILE", a->files, "Grayscale image files (8 or 16 bit), or folders of them")->required();
    app->add_option("-o,--output", a->out, "Output image; a folder when several files or a folder are given")
        ->required();
    app->add_option(
           "--half", a->half,
           "Half width and half height of the minimum window, in pixels (see below how to choose them)")
        ->expected(2)
        ->capture_default_str();
    addChannelOption(*app);
    app->add_flag("--subtract", a->subtract, "Write the image minus its background instead");
    addJobsOption(*app);
    return {app, [a, &json] { return runBackground(*a, json); }};
}

} // namespace kestro
