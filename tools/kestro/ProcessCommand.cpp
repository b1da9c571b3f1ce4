#include "Commands.h"
#include "Records.h"
#include "Support.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>

namespace kestro {

namespace {

enum class Step { Rotate, Median, Contrast, Brighten, FlipH, FlipV, Rescale, Crop, Invert };

struct ProcessArgs {
    std::string file;
    std::string out;
    // The steps in command-line order, each with the values it was given.
    std::map<const CLI::Option*, Step> steps;
};

long toInteger(const std::string& text, const std::string& what) {
    const std::optional<int> value = wholeNumber(text);
    if (!value) throw ToolError(what + ": '" + text + "' is not a whole number");
    return *value;
}

std::string describe(const DalvoImage& image) {
    return std::to_string(image.getWidth()) + " x " + std::to_string(image.getHeight()) + " " +
           imageTypeName(image.getImageType()) + " " + std::to_string(image.getBitsPerPixel()) + "-bit";
}

// Runs one step; a refusal ends the command before anything is written.
void apply(DalvoImage& image, Step step, const std::vector<std::string>& v) {
    const auto refuse = [&](const std::string& what, const std::string& hint = "") {
        throw ToolError(what + ": refused by the " + describe(image) + " image" + hint);
    };
    switch (step) {
    case Step::Rotate: {
        double degrees = 0;
        try {
            size_t used = 0;
            degrees = std::stod(v[0], &used);
            if (used != v[0].size() || !std::isfinite(degrees) || std::fabs(degrees) > 2e7)
                throw std::invalid_argument("");
        } catch (const std::exception&) {
            throw ToolError("--rotate: '" + v[0] + "' is not an angle in degrees");
        }
        // The image takes hundredths of a degree.
        if (!image.rotate(static_cast<int>(std::floor(degrees * 100.0 + 0.5)), 0ul))
            refuse("--rotate " + v[0]);
        break;
    }
    case Step::Median: {
        const int size = static_cast<int>(toInteger(v[0], "--median"));
        try {
            image.Median(size);
        } catch (const cv::Exception&) {
            refuse("--median " + v[0], " (sizes are odd; above 5 only for 8 and 24-bit images)");
        }
        break;
    }
    case Step::Contrast:
        if (image.ContrastAve(static_cast<int>(toInteger(v[0], "--contrast"))) != 1)
            refuse("--contrast " + v[0]);
        break;
    case Step::Brighten:
        if (!image.Intensity(static_cast<int>(toInteger(v[0], "--brighten")))) refuse("--brighten " + v[0]);
        break;
    case Step::FlipH:
        if (!image.flipHorizontal()) refuse("--flip-h");
        break;
    case Step::FlipV:
        if (!image.flipVertical()) refuse("--flip-v");
        break;
    case Step::Rescale: {
        const size_t x = v[0].find_first_of("xX");
        if (x == std::string::npos) throw ToolError("--rescale: '" + v[0] + "' is not WIDTHxHEIGHT");
        const long w = toInteger(v[0].substr(0, x), "--rescale width");
        const long h = toInteger(v[0].substr(x + 1), "--rescale height");
        // Larger images than this would not fit the memory of the machines gels are read on.
        if (w < 1 || h < 1 || w > 65535 || h > 65535 || w * h > (1L << 28))
            throw ToolError(
                "--rescale: width and height must be 1 to 65535, at most 268435456 pixels in all");
        if (!image.rescale(static_cast<unsigned>(w), static_cast<unsigned>(h))) refuse("--rescale " + v[0]);
        break;
    }
    case Step::Crop: {
        const CRect r(static_cast<int>(toInteger(v[0], "--crop left")),
                      static_cast<int>(toInteger(v[1], "--crop top")),
                      static_cast<int>(toInteger(v[2], "--crop right")),
                      static_cast<int>(toInteger(v[3], "--crop bottom")));
        const std::string size = describe(image);
        if (image.crop(r) != 1)
            throw ToolError("--crop " + v[0] + " " + v[1] + " " + v[2] + " " + v[3] +
                            ": not a rectangle inside the " + size +
                            " image (right and bottom are exclusive)");
        break;
    }
    case Step::Invert:
        if (!image.invertPixels()) refuse("--invert");
        break;
    }
}

// The history's entries, each from a "{" to the first "}" after it.
std::vector<std::string> historyEntries(const CString& history) {
    const std::string text = history.ToUtf8();
    std::vector<std::string> entries;
    for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
        const size_t close = text.find('}', open + 1);
        if (close == std::string::npos) break;
        entries.push_back(text.substr(open + 1, close - open - 1));
        open = close;
    }
    return entries;
}

int runProcess(const CLI::App& app, const ProcessArgs& a, bool json) {
    const long long start = nowNanos();
    checkOutputs({a.file}, {{a.out, a.file}});
    LoadedImage li = loadImage(a.file);
    DalvoImage& image = *li.image;
    const std::string before = describe(image);
    // The parser lists an option once for every value it takes: a step runs at its last value.
    std::map<const CLI::Option*, size_t> seen;
    for (const CLI::Option* option : app.parse_order()) {
        const auto step = a.steps.find(option);
        if (step == a.steps.end()) continue;
        const size_t per = static_cast<size_t>(std::max(option->get_items_expected_min(), 0));
        const size_t count = ++seen[option];
        if (per > 0 && count % per != 0) continue;
        const std::vector<std::string>& all = option->results();
        if (count > all.size() && per > 0) throw ToolError(option->get_name() + ": missing values");
        const std::vector<std::string> values(all.begin() + static_cast<long>(per ? count - per : 0),
                                              all.begin() + static_cast<long>(per ? count : 0));
        apply(image, step->second, values);
    }
    saveImage(image, a.out);

    const std::vector<std::string> history = historyEntries(image.GetPreprocessStr());
    if (json) {
        printJson({{"file", a.file},
                   {"output", a.out},
                   {"before", before},
                   {"after", describe(image)},
                   {"history", history},
                   {"milliseconds", millisecondsSince(start)}});
        return 0;
    }
    std::cout << "wrote " << a.out << ": " << describe(image) << " (was " << before << ")\n"
              << "processing history:\n";
    for (size_t i = 0; i < history.size(); ++i)
        std::cout << "  " << i + 1 << ". " << history[i] << '\n';
    return 0;
}

} // namespace

Command addProcessCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<ProcessArgs>();
    CLI::App* app = root.add_subcommand(
        "process",
        "Apply image operations in the order given, save the result and print its processing history");
    app->footer("Example:\n  kestro process blot.tif -o straight.tif --rotate -1.25 --median 3");
    app->add_option("FILE", a->file, "Image file")->required();
    app->add_option("-o,--output", a->out, "Output image (format from the extension; .tif holds every depth)")
        ->required();
    const auto step = [&](const std::string& name, Step kind, const std::string& type, int values,
                          const std::string& help) {
        CLI::Option* option =
            values ? app->add_option(name)->description(help)->type_name(type)->expected(values)
                   : app->add_flag(name, help);
        option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        a->steps[option] = kind;
    };
    step("--rotate", Step::Rotate, "DEG", 1, "Rotate counter-clockwise by DEG degrees (two decimals)");
    step("--median", Step::Median, "N", 1,
         "Median filter of N x N pixels (odd; above 5 only for 8-bit samples)");
    step("--contrast", Step::Contrast, "P", 1, "Contrast about mid-grey by P percent (-100 flattens)");
    step("--brighten", Step::Brighten, "P", 1, "Scale the brightness by P percent");
    step("--flip-h", Step::FlipH, "", 0, "Flip left to right");
    step("--flip-v", Step::FlipV, "", 0, "Flip top to bottom");
    step("--rescale", Step::Rescale, "WxH", 1, "Resample bilinearly to W x H pixels");
    step("--crop", Step::Crop, "L T R B", 4, "Keep columns L..R-1 and rows T..B-1 (0 is the top row)");
    step("--invert", Step::Invert, "", 0, "Invert the pixel values");
    return {app, [a, app, &json] { return runProcess(*app, *a, json); }};
}

} // namespace kestro
