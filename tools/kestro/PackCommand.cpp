#include "Commands.h"
#include "Support.h"

#include <filesystem>
#include <iostream>
#include <memory>

namespace kestro {

namespace {

struct PackArgs {
    std::string file;
    std::string output;
};

int runPack(const PackArgs& a, bool json) {
    checkOutputs({a.file}, {{a.output, a.file}});
    const LoadedImage li = loadImage(a.file);
    writeImageArchive(*li.image, a.output);
    const auto bytes = std::filesystem::file_size(a.output);
    if (json) {
        printJson({{"file", li.path},
                   {"output", a.output},
                   {"bytes", bytes},
                   {"imageType", imageTypeName(li.image->getImageType())},
                   {"width", li.image->getWidth()},
                   {"height", li.image->getHeight()},
                   {"bpp", li.image->getBitsPerPixel()}});
    } else {
        std::cout << "wrote " << a.output << ": " << li.image->getWidth() << " x " << li.image->getHeight()
                  << ", " << li.image->getBitsPerPixel() << "-bit " << imageTypeName(li.image->getImageType())
                  << ", " << bytes << " bytes\n";
    }
    return 0;
}

} // namespace

Command addPackCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<PackArgs>();
    CLI::App* app = root.add_subcommand(
        "pack",
        "Store one image as an image archive (.kimg): the image object exactly as a host document holds it");
    app->footer("Example:\n  kestro pack gel.tif -o gel.kimg");
    app->add_option("FILE", a->file, "Image file (or image archive)")->required();
    app->add_option("-o,--output", a->output, "The image archive to write, e.g. gel.kimg")->required();
    return {app, [a, &json] { return runPack(*a, json); }};
}

} // namespace kestro
