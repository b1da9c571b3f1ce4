#include "Channels.h"

#include <functional>

namespace kestro {

int lumaOf(int r, int g, int b)
{
    return (299 * r + 587 * g + 114 * b + 500) / 1000;
}

void addChannelOption(CLI::App& app)
{
    app.add_option("--channel", settings().channel,
                   "What is measured in a colour photo: the r, g or b channel, or luma, "
                   "(299 R + 587 G + 114 B + 500) / 1000 (Rec. 601 weights); colour images whose three channels "
                   "are equal are read as grayscale without it")
        ->check(CLI::IsMember({"r", "g", "b", "luma"}));
}

namespace {

struct Rgb {
    int r, g, b;
};

std::unique_ptr<RasterImageGS16> newRaster(int width, int height, int bpp)
{
    auto raster = std::make_unique<RasterImageGS16>(width, height);
    raster->bpp = bpp;
    raster->maxPixelValue = RasterImage::maxPixelValueForDepth(bpp);
    return raster;
}

bool isGreyRamp(const RGBQUAD* palette, unsigned entries)
{
    if (!palette || entries < 256)
        return palette == nullptr;
    for (int i = 0; i < 256; ++i)
        if (palette[i].rgbRed != i || palette[i].rgbGreen != i || palette[i].rgbBlue != i)
            return false;
    return true;
}

std::string notMeasurable(const LoadedImage& loaded, const char* command)
{
    return loaded.path + ": " + command + " needs a grayscale or RGB image of 8 or 16 bits a sample, this one is " +
           std::to_string(loaded.image->getBitsPerPixel()) + "-bit " + imageTypeName(loaded.image->getImageType());
}

} // namespace

GreyRaster grayscaleRaster(const LoadedImage& loaded, const char* command)
{
    GreyRaster grey;
    const DalvoImage& image = *loaded.image;
    const FREE_IMAGE_TYPE type = image.getImageType();
    const unsigned bpp = image.getBitsPerPixel();
    const int width = static_cast<int>(image.getWidth()), height = static_cast<int>(image.getHeight());
    RasterImage* own = loaded.raster;
    const bool ownGrey = own && own->IsKindOf(RUNTIME_CLASS(RasterImageGS16));
    const RGBQUAD* palette = image.getPalette();
    const unsigned paletteEntries = image.getPaletteSize() / sizeof(RGBQUAD);

    if (ownGrey && (type == FIT_UINT16 || (type == FIT_BITMAP && bpp == 8 && isGreyRamp(palette, paletteEntries)))) {
        grey.raster = static_cast<RasterImageGS16*>(own);
        grey.conversion = type == FIT_UINT16 ? "16-bit grayscale" : "8-bit grayscale";
        return grey;
    }

    // Everything else is read as colour, sample by sample from the scan lines (bottom-up).
    std::function<Rgb(const BYTE* line, int x)> sample;
    std::string source;
    int depth = 8;
    if (type == FIT_BITMAP && bpp == 8 && palette && paletteEntries >= 256) {
        source = "an 8-bit palette image";
        sample = [palette](const BYTE* line, int x) {
            const RGBQUAD& c = palette[line[x]];
            return Rgb{c.rgbRed, c.rgbGreen, c.rgbBlue};
        };
    } else if (type == FIT_BITMAP && (bpp == 24 || bpp == 32)) {
        source = "8-bit RGB";
        const int step = static_cast<int>(bpp / 8);
        sample = [step](const BYTE* line, int x) {
            const BYTE* c = line + x * step;
            return Rgb{c[FI_RGBA_RED], c[FI_RGBA_GREEN], c[FI_RGBA_BLUE]};
        };
    } else if (type == FIT_RGB16 || type == FIT_RGBA16) {
        source = "16-bit RGB";
        depth = 16;
        const int step = type == FIT_RGB16 ? 3 : 4;
        sample = [step](const BYTE* line, int x) {
            const WORD* c = reinterpret_cast<const WORD*>(line) + x * step;
            return Rgb{c[0], c[1], c[2]};
        };
    } else {
        throw ToolError(notMeasurable(loaded, command));
    }
    if (width <= 0 || height <= 0)
        throw ToolError(notMeasurable(loaded, command));

    grey.equalChannels = true;
    for (int y = 0; y < height && grey.equalChannels; ++y) {
        const BYTE* line = image.getScanLine(static_cast<unsigned>(y));
        for (int x = 0; x < width; ++x) {
            const Rgb c = sample(line, x);
            if (c.r != c.g || c.g != c.b) {
                grey.equalChannels = false;
                break;
            }
        }
    }
    const std::string& channel = settings().channel;
    if (!grey.equalChannels && channel.empty())
        throw ToolError(loaded.path + ": a colour image (" + source + " whose channels differ); choose the channel " +
                        command + " measures with --channel r|g|b|luma");

    std::function<int(const Rgb&)> pick = [](const Rgb& c) { return c.r; };
    if (grey.equalChannels) {
        grey.conversion = source + " with three equal channels, read as grayscale";
    } else if (channel == "g") {
        pick = [](const Rgb& c) { return c.g; };
        grey.conversion = "green channel of " + source;
    } else if (channel == "b") {
        pick = [](const Rgb& c) { return c.b; };
        grey.conversion = "blue channel of " + source;
    } else if (channel == "luma") {
        pick = [](const Rgb& c) { return lumaOf(c.r, c.g, c.b); };
        grey.conversion = "luma of " + source + ": (299 R + 587 G + 114 B + 500) / 1000";
    } else {
        grey.conversion = "red channel of " + source;
    }

    grey.owned = newRaster(width, height, depth);
    for (int y = 0; y < height; ++y) {
        const BYTE* line = image.getScanLine(static_cast<unsigned>(height - 1 - y));
        int* out = grey.owned->pixels + static_cast<size_t>(width) * y;
        for (int x = 0; x < width; ++x)
            out[x] = pick(sample(line, x));
    }
    grey.owned->calculateStatistics();
    grey.raster = grey.owned.get();
    return grey;
}

} // namespace kestro
