#include "Channels.h"

#include "analysis/GelAnalysis.h"

#include <algorithm>
#include <functional>

namespace kestro {

void addChannelOption(CLI::App& app) {
    app.add_option("--channel", settings().channel,
                   "What is measured in a colour image: the r, g or b channel, or luma, "
                   "(299 R + 587 G + 114 B + 500) / 1000 (Rec. 601 weights), which is also what is measured "
                   "without it")
        ->check(CLI::IsMember({"r", "g", "b", "luma"}));
}

namespace {

std::unique_ptr<RasterImageGS16> newRaster(int width, int height, int bpp) {
    auto raster = std::make_unique<RasterImageGS16>(width, height);
    raster->bpp = bpp;
    raster->maxPixelValue = RasterImage::maxPixelValueForDepth(bpp);
    return raster;
}

bool isGreyRamp(const RGBQUAD* palette, unsigned entries) {
    if (!palette || entries < 256) return palette == nullptr;
    for (int i = 0; i < 256; ++i)
        if (palette[i].rgbRed != i || palette[i].rgbGreen != i || palette[i].rgbBlue != i) return false;
    return true;
}

std::string notMeasurable(const LoadedImage& loaded, const char* command) {
    return loaded.path + ": " + command +
           " needs a grayscale or RGB image of 8 or 16 bits a sample, this one is " +
           std::to_string(loaded.image->getBitsPerPixel()) + "-bit " +
           imageTypeName(loaded.image->getImageType());
}

} // namespace

GreyRaster grayscaleRaster(const LoadedImage& loaded, const char* command) {
    GreyRaster grey;
    const DalvoImage& image = *loaded.image;
    const FREE_IMAGE_TYPE type = image.getImageType();
    const unsigned bpp = image.getBitsPerPixel();
    const int width = static_cast<int>(image.getWidth()), height = static_cast<int>(image.getHeight());
    RasterImage* own = loaded.raster;
    const bool ownGrey = own && own->IsKindOf(RUNTIME_CLASS(RasterImageGS16));
    const RGBQUAD* palette = image.getPalette();
    const unsigned paletteEntries = image.getPaletteSize() / sizeof(RGBQUAD);

    // The image's own raster already holds these values: no copy.
    if (ownGrey &&
        (type == FIT_UINT16 || (type == FIT_BITMAP && bpp == 8 && isGreyRamp(palette, paletteEntries)))) {
        grey.raster = static_cast<RasterImageGS16*>(own);
        grey.conversion = type == FIT_UINT16 ? "16-bit grayscale" : "8-bit grayscale";
        return grey;
    }

    const std::string& channel = settings().channel;
    std::string source;
    std::function<int(const BYTE* line, int x)> pick;
    if (channel == "r" || channel == "g" || channel == "b") {
        const int c = channel == "r" ? 0 : channel == "g" ? 1 : 2;
        const char* name = c == 0 ? "red" : c == 1 ? "green" : "blue";
        if (type == FIT_BITMAP && bpp == 8 && palette && paletteEntries >= 256) {
            source = "an 8-bit palette image";
            pick = [palette, c](const BYTE* line, int x) {
                const RGBQUAD& q = palette[line[x]];
                return c == 0 ? q.rgbRed : c == 1 ? q.rgbGreen : q.rgbBlue;
            };
        } else if (type == FIT_BITMAP && (bpp == 24 || bpp == 32)) {
            source = "8-bit RGB";
            const int step = static_cast<int>(bpp / 8);
            const int at = c == 0 ? FI_RGBA_RED : c == 1 ? FI_RGBA_GREEN : FI_RGBA_BLUE;
            pick = [step, at](const BYTE* line, int x) { return int(line[x * step + at]); };
        } else if (type == FIT_RGB16) {
            source = "16-bit RGB";
            pick = [c](const BYTE* line, int x) {
                return int(reinterpret_cast<const WORD*>(line)[3 * x + c]);
            };
        }
        if (pick) grey.conversion = std::string(name) + " channel of " + source;
    }

    if (!pick) {
        // The gel analysis's grey values, so that every command measures what the library does.
        gel::GreyImage g;
        try {
            g = gel::greyImage(image);
        } catch (const gel::ArgumentError&) {
            throw ToolError(notMeasurable(loaded, command));
        }
        grey.owned = newRaster(g.width, g.height, g.maxValue > 255 ? 16 : 8);
        std::copy(g.pixels.begin(), g.pixels.end(), grey.owned->pixels);
        grey.conversion = g.conversion;
    } else {
        if (width <= 0 || height <= 0) throw ToolError(notMeasurable(loaded, command));
        grey.owned = newRaster(width, height, type == FIT_RGB16 ? 16 : 8);
        for (int y = 0; y < height; ++y) {
            const BYTE* line = image.getScanLine(static_cast<unsigned>(height - 1 - y));
            int* out = grey.owned->pixels + static_cast<size_t>(width) * y;
            for (int x = 0; x < width; ++x)
                out[x] = pick(line, x);
        }
    }
    grey.owned->calculateStatistics();
    grey.raster = grey.owned.get();
    return grey;
}

} // namespace kestro
