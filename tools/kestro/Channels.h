// The grey values the analysis commands measure, from grey images and colour photos alike.
#pragma once

#include "Support.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

namespace kestro {

/// The grayscale raster a command measures, and how it was made from the image.
struct GreyRaster {
    RasterImageGS16* raster = nullptr;      ///< the image's own raster, or `owned`
    std::unique_ptr<RasterImageGS16> owned; ///< made here when the image had to be converted
    std::string conversion;                 ///< in words, for the reports
};

/// The grey values of an image, 8-bit or 16-bit as the image holds them, as the gel analysis
/// reads them (gel::greyImage), so that a command and the library measure the same numbers:
/// grayscale images as stored, palettes other than the grey ramp looked up and colour images
/// (8-bit RGB with or without alpha, 16-bit RGB) by luma, (299 R + 587 G + 114 B + 500) / 1000.
/// --channel r, g or b measures that channel of a colour image instead; grayscale images ignore it.
/// Raises ToolError naming the command for an image without a grey form (1-bit, 4-bit, 16-bit
/// RGBA, floating point...).
GreyRaster grayscaleRaster(const LoadedImage& loaded, const char* command);

/// Adds --channel, which sets settings().channel: to the whole command, and to the commands
/// that measure grey values, so that it may follow their name as well.
void addChannelOption(CLI::App& app);

} // namespace kestro
