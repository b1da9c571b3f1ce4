// kestro render: images drawn through the library's own drawing path into a canvas, saved as PNG.
#include "Commands.h"
#include "Records.h"
#include "Support.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <regex>

namespace kestro {

namespace {

const std::map<std::string, enPalette> kPalettes = {
    {"normal", PaletteNormal},   {"saturated", PaletteSaturated}, {"green", PaletteShadesOfGreen},
    {"red", PaletteShadesOfRed}, {"blue", PaletteShadesOfBlue},   {"auto", PaletteAutoContrast}};

struct RenderArgs {
    std::vector<std::string> files;
    std::string out;
    std::optional<std::string> palette;
    std::optional<double> brightness, contrast, gamma;
    bool maxRange = false;
    std::optional<std::string> size;
};

struct CanvasSize {
    int width = 0, height = 0;
};

std::optional<CanvasSize> parseSize(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::smatch m;
    static const std::regex pattern("([0-9]{1,5})x([0-9]{1,5})");
    if (!std::regex_match(*text, m, pattern))
        throw ToolError("--size takes WxH, e.g. 800x600: '" + *text + "'");
    const CanvasSize s{std::stoi(m[1]), std::stoi(m[2])};
    if (s.width < 1 || s.height < 1 || s.width > kMostCanvasSide || s.height > kMostCanvasSide)
        throw ToolError("--size: width and height go from 1 to 16384: '" + *text + "'");
    return s;
}

// The history entries as a list: each one from a "{" to the first "}" after it.
nlohmann::ordered_json historyEntries(const std::string& history) {
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (size_t open = history.find('{'); open != std::string::npos; open = history.find('{', open + 1)) {
        const size_t close = history.find('}', open);
        if (close == std::string::npos) break;
        entries.push_back(history.substr(open + 1, close - open - 1));
        open = close;
    }
    return entries;
}

nlohmann::ordered_json render(const RenderArgs& a, const std::optional<CanvasSize>& size,
                              const std::string& file, const std::string& out) {
    const LoadedImage li = loadImage(file);
    DalvoImage& image = *li.image;
    // Full-range limits show through the auto-contrast palette, which --max-range implies.
    const std::optional<std::string> palette = a.palette    ? a.palette
                                               : a.maxRange ? std::optional<std::string>("auto")
                                                            : std::nullopt;
    // The display stretches a 16-bit image from its darkest to its brightest pixel, while the
    // auto-contrast limits are taken on the scale of the whole depth: on a gel that uses 14 bits
    // the limits land near the bottom of the stretched range and the picture is blown out. A copy
    // whose values span the whole depth puts both on one scale.
    RasterImage* raster = image.getRasterImage();
    auto* grey = raster && raster->IsKindOf(RUNTIME_CLASS(RasterImageGS16))
                     ? static_cast<RasterImageGS16*>(raster)
                     : nullptr;
    std::unique_ptr<DalvoImage> spread;
    // 8-bit grey images get the palette through the same copy: the display writes none for them.
    const bool grey8 = image.getImageType() == FIT_BITMAP && image.getBitsPerPixel() == 8;
    if (palette && *palette == "auto" && grey && (image.getImageType() == FIT_UINT16 || grey8))
        spread = spreadTo16Bits(grey->pixels, grey->width, grey->height, "a copy of the image to draw");
    for (DalvoImage* shown : {&image, spread.get()}) {
        if (!shown) continue;
        if (palette) shown->setPalette(kPalettes.at(*palette));
        if (a.brightness || a.contrast || a.gamma)
            shown->setImageAdjustmentValues(a.brightness.value_or(0), a.contrast.value_or(0),
                                            a.gamma.value_or(1.0));
        if (a.maxRange) shown->autoContrastMaxRange(1);
        shown->setModified();
    }

    const CanvasSize canvas =
        size ? *size : CanvasSize{static_cast<int>(image.getWidth()), static_cast<int>(image.getHeight())};
    CDC dc;
    if (!dc.CreateCanvas(canvas.width, canvas.height))
        throw ToolError(file + ": no memory for a canvas of " + std::to_string(canvas.width) + "x" +
                        std::to_string(canvas.height));
    const CRect whole(0, 0, canvas.width, canvas.height);
    (spread ? *spread : image).draw(&dc, &whole);
    // The display writes palettes for 16-bit images only; the saturated pixels of an 8-bit grey
    // image are marked here, in the command's own drawing, nearest pixel to the canvas.
    if (palette && *palette == "saturated" && grey && grey8) {
        for (int y = 0; y < canvas.height; ++y)
            for (int x = 0; x < canvas.width; ++x) {
                const long long sx = static_cast<long long>(x) * grey->width / canvas.width;
                const long long sy = static_cast<long long>(y) * grey->height / canvas.height;
                if (grey->pixels[sy * grey->width + sx] >= 255) dc.SetPixel(x, y, RGB(255, 0, 0));
            }
    }
    if (!dc.SaveCanvas(CString::FromUtf8(out))) throw ToolError(out + ": cannot write the PNG file");
    return {{"file", file},
            {"output", out},
            {"width", canvas.width},
            {"height", canvas.height},
            {"palette", palette.value_or("normal")},
            {"history", historyEntries(image.GetPreprocessStr().ToUtf8())}};
}

void printText(const nlohmann::ordered_json& j, size_t) {
    std::cout << j["file"].get<std::string>() << " -> " << j["output"].get<std::string>() << " ("
              << j["width"].get<int>() << "x" << j["height"].get<int>() << ", "
              << j["palette"].get<std::string>() << ")\n";
    for (const auto& entry : j["history"])
        std::cout << "  {" << entry.get<std::string>() << "}\n";
}

int runRender(const RenderArgs& a, bool json) {
    const std::optional<CanvasSize> size = parseSize(a.size);
    if (a.maxRange && a.palette && *a.palette != "auto")
        throw ToolError("--max-range shows through the auto palette only, not '" + *a.palette + "'");
    const std::vector<std::string> files = expandInputs(a.files);
    // One input: OUT is the PNG file. Several, or a folder: OUT is a folder, one NAME.png per input.
    std::vector<PlannedOutput> outputs;
    if (files.size() == 1 && !anyFolder(a.files)) {
        outputs.push_back({a.out, files[0]});
    } else {
        for (const std::string& file : files)
            outputs.push_back(
                {(std::filesystem::path(a.out) / std::filesystem::path(file).stem()).string() + ".png",
                 file});
    }
    refuseExistingOutputs(files, outputs);
    // The canvas is saved as PNG whatever the name says: a name that promises another format is
    // refused rather than filled with PNG bytes.
    std::string ext = std::filesystem::path(outputs[0].path).extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".png")
        throw ToolError(outputs[0].path + ": render writes PNG pictures only; name the output .png");
    if (outputs.size() > 1 || outputs[0].path != a.out) {
        std::error_code ec;
        std::filesystem::create_directories(a.out, ec);
        if (!std::filesystem::is_directory(a.out)) throw ToolError(a.out + ": cannot make the output folder");
    }
    size_t next = 0;
    return forEachFile(
        files, "rendering", json,
        [&](const std::string& file) { return render(a, size, file, outputs[next++].path); }, printText);
}

} // namespace

Command addRenderCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<RenderArgs>();
    CLI::App* app =
        root.add_subcommand("render", "Draw images as the library shows them and save each as PNG; "
                                      "prints the history the display settings recorded");
    app->add_option("FILE", a->files, "Image files, or folders of them")->required();
    app->add_option("-o,--out", a->out, "PNG file for one image, folder for several or a folder")->required();
    app->footer(
        "Example:\n  kestro render gel.tif -o gel.png --palette saturated\n\n"
        "Palettes: normal; saturated (pixels at the top of the depth in red, 8-bit and 16-bit grey);\n"
        "green, red, blue (shades of one colour, 16-bit grey); auto (contrast stretched between the\n"
        "0.1% and 99.9% points of the histogram, 16-bit and 8-bit grey).");
    app->add_option("--palette", a->palette,
                    "Display palette: normal, saturated, green, red, blue or auto (see below)")
        ->check(CLI::IsMember({"normal", "saturated", "green", "red", "blue", "auto"}));
    app->add_option("--brightness", a->brightness, "Brightness in percent (-100..100)")
        ->check(CLI::Range(-100.0, 100.0) & finiteNumber());
    app->add_option("--contrast", a->contrast, "Contrast in percent (-100..100)")
        ->check(CLI::Range(-100.0, 100.0) & finiteNumber());
    app->add_option("--gamma", a->gamma, "Gamma (above 0; 1 leaves the tones)")
        ->check(CLI::PositiveNumber & finiteNumber());
    app->add_flag("--max-range", a->maxRange,
                  "Auto contrast from the darkest to the brightest pixel (implies --palette auto)");
    app->add_option("--size", a->size,
                    "Canvas WxH; the image is stretched to fill it (default: the image's size)");
    return {app, [a, &json] { return runRender(*a, json); }};
}

} // namespace kestro
