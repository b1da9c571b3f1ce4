#include "Commands.h"
#include "Support.h"

#include "synth/SyntheticGel.h"

#include <filesystem>
#include <iostream>
#include <memory>

namespace kestro {

namespace {

struct SynthArgs {
    std::string out;
    GelOptions options;
    std::string depth = "16";
    bool noNoise = false;
    bool noBackground = false;
};

GelDepth parseDepth(const std::string& s) {
    if (s == "8") return GelDepth::Gray8;
    if (s == "rgb") return GelDepth::Rgb24;
    return GelDepth::Gray16;
}

int runSynth(const SynthArgs& a, bool json) {
    GelOptions o = a.options;
    o.depth = parseDepth(a.depth);
    o.noise = !a.noNoise;
    o.background = !a.noBackground;

    const std::filesystem::path parent = std::filesystem::path(a.out).parent_path();
    std::error_code ec;
    if (!parent.empty() && !std::filesystem::is_directory(parent, ec))
        throw ToolError(a.out + ": folder " + parent.string() + " does not exist");

    SyntheticGel gel = [&] {
        try {
            return SyntheticGel::generate(o);
        } catch (const std::invalid_argument& e) {
            throw ToolError(e.what());
        }
    }();
    std::string truthPath;
    try {
        truthPath = gel.save(a.out);
    } catch (const std::runtime_error& e) {
        throw ToolError(e.what());
    }

    const GelTruth& t = gel.truth();
    int saturated = 0;
    for (const GelBand& b : t.bands)
        saturated += b.saturated ? 1 : 0;
    if (json) {
        printJson({{"image", a.out},
                   {"truth", truthPath},
                   {"width", o.width},
                   {"height", o.height},
                   {"depth", gelDepthName(o.depth)},
                   {"seed", o.seed},
                   {"lanes", o.lanes},
                   {"bands", t.bands.size()},
                   {"saturatedBands", saturated},
                   {"noise", o.noise},
                   {"background", o.background}});
    } else {
        std::cout << "wrote " << a.out << ": " << o.width << " x " << o.height << ", "
                  << (o.depth == GelDepth::Rgb24 ? "24-bit colour"
                                                 : std::string(gelDepthName(o.depth)) + "-bit")
                  << ", " << o.lanes << " lanes, " << t.bands.size() << " bands (" << saturated
                  << " saturated), seed " << o.seed << (o.noise ? "" : ", no noise")
                  << (o.background ? "" : ", no background") << '\n'
                  << "wrote " << truthPath << ": the ground truth\n";
    }
    return 0;
}

} // namespace

Command addSynthCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<SynthArgs>();
    CLI::App* app =
        root.add_subcommand("synth", "Write a synthetic gel and its ground truth (OUT.truth.json)");
    app->footer("Example:\n  kestro synth gel.tif --lanes 6 --bands 4 --seed 7");
    app->add_option("OUT", a->out, "Image to write; the extension picks the format (.tif, .png, ...)")
        ->required();
    app->add_option("--lanes", a->options.lanes, "Number of lanes")
        ->check(CLI::Range(1, 1000))
        ->capture_default_str();
    app->add_option("--bands", a->options.bandsPerLane, "Bands per lane")
        ->check(CLI::Range(1, 1000))
        ->capture_default_str();
    app->add_option("--width", a->options.width, "Width in pixels")
        ->check(CLI::Range(32, 16384))
        ->capture_default_str();
    app->add_option("--height", a->options.height, "Height in pixels")
        ->check(CLI::Range(32, 16384))
        ->capture_default_str();
    app->add_option("--depth", a->depth, "8 or 16-bit grayscale, or rgb (a stained gel)")
        ->check(CLI::IsMember({"8", "16", "rgb"}))
        ->capture_default_str();
    app->add_option("--seed", a->options.seed, "Seed: the same seed gives the same bytes")
        ->capture_default_str();
    app->add_option("--saturated", a->options.saturatedBands, "Number of bands pushed past full scale")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app->add_option("--diffuse", a->options.diffuseBands,
                    "Number of bands drawn as diffuse clouds (sides blurred over a fifth of the lane)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app->add_option("--jitter", a->options.laneJitter,
                    "Lane centres move by up to this fraction of the spacing")
        ->check(CLI::Range(0.0, 0.3) & finiteNumber())
        ->capture_default_str();
    app->add_option("--bend", a->options.bend,
                    "Lanes bend sideways: the outermost lanes lie this many pixels further out at the bottom")
        ->check(CLI::Range(0.0, 50.0) & finiteNumber())
        ->capture_default_str();
    app->add_flag("--no-noise", a->noNoise, "Leave out the noise");
    app->add_flag("--no-background", a->noBackground, "Leave out the background");
    return {app, [a, &json] { return runSynth(*a, json); }};
}

} // namespace kestro
