// The grey values the analysis commands measure, from grey images and colour photos alike.
#pragma once

#include "Support.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

namespace kestro {

/// The grayscale raster a command measures, and how it was made from the image.
struct GreyRaster {
    RasterImageGS16* raster = nullptr;       ///< the image's own raster, or `owned`
    std::unique_ptr<RasterImageGS16> owned;  ///< made here when the image had to be converted
    std::string conversion;                  ///< in words, for the reports
    bool equalChannels = false;              ///< a colour image whose three channels are equal
};

/// The grey values of an image, 8-bit or 16-bit as the image holds them:
/// - 8-bit and 16-bit grayscale images as stored (an 8-bit palette other than the grey ramp is
///   looked up and then read as colour);
/// - colour images (8-bit or 16-bit RGB, with or without alpha) whose red, green and blue are
///   equal everywhere as grayscale, whatever --channel says;
/// - other colour images through the channel of --channel: r, g, b, or luma, the Rec. 601
///   weights in integers, (299 R + 587 G + 114 B + 500) / 1000, the conversion the lanes
///   analysis applies as well.
/// Raises ToolError naming the command when a colour image comes without --channel, or the
/// image has no grey form (1-bit, 4-bit, floating point...).
GreyRaster grayscaleRaster(const LoadedImage& loaded, const char* command);

/// Adds --channel, which sets settings().channel: to the whole command, and to the commands
/// that measure grey values, so that it may follow their name as well.
void addChannelOption(CLI::App& app);

/// "(299 R + 587 G + 114 B + 500) / 1000", the luma of --channel luma.
int lumaOf(int r, int g, int b);

} // namespace kestro
