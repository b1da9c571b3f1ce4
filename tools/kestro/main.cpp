// kestro: the KestroImage library from the command line.
// Every failure ends as one line on stderr and a non-zero exit: 1 for a failed job,
// 2 for a command line that cannot be understood.
#include "Channels.h"
#include "Commands.h"
#include "Records.h"
#include "Support.h"

#include <climits>
#include <iostream>
#include <iterator>
#include <new>
#include <set>
#include <sstream>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A scan's rasters are tens of megabytes each, and the analysis makes and frees several. glibc
// maps each such block afresh and unmaps it when freed, so every raster's pages are faulted in
// and zeroed again: on a virtual machine, 3.5 ms a megabyte, more than the work done on them. The
// command keeps its freed memory in the heap for the next raster instead (its peak stays
// reserved until it ends).
void keepFreedMemory() {
#ifdef __GLIBC__
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
#endif
}

int fail(const std::string& message, int code = 1) {
    std::cerr << "kestro: error: " << message << '\n';
    return code;
}

// The long and short names of the options of app and of its subcommands that were named.
void optionNames(const CLI::App& app, std::vector<std::string>& names) {
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& n : option->get_lnames())
            names.push_back("--" + n);
        for (const std::string& n : option->get_snames())
            names.push_back("-" + n);
    }
    for (const CLI::App* sub : app.get_subcommands())
        optionNames(*sub, names);
}

// "unknown option --jsn; did you mean --json?" for the first unexpected option of the command line.
std::string unknownOption(const CLI::App& app, const CLI::ExtrasError& e, int argc, char** argv) {
    // CLI11 lists the unexpected arguments after a colon, separated by spaces.
    const std::string what = e.what();
    const size_t colon = what.find(": ");
    std::istringstream listed(colon == std::string::npos ? std::string() : what.substr(colon + 2));
    const std::set<std::string> extras{std::istream_iterator<std::string>(listed),
                                       std::istream_iterator<std::string>()};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() < 2 || arg[0] != '-' || !extras.count(arg)) continue;
        const std::string name = arg.substr(0, arg.find('='));
        std::vector<std::string> names;
        optionNames(app, names);
        const std::string close = kestro::closestOption(name, names);
        return "unknown option " + name + (close.empty() ? std::string() : "; did you mean " + close + "?");
    }
    return what;
}

int run(int argc, char** argv) {
    using namespace kestro;
    commandLine().assign(argv, argv + argc);
    CLI::App app{"kestro: gel images from the command line (KestroImage " KESTRO_VERSION ")", "kestro"};
    app.require_subcommand(1);
    // Options of kestro itself (--force, --channel, ...) are also taken after the command.
    app.fallthrough();
    app.set_version_flag("--version", "kestro " KESTRO_VERSION);
    bool json = false;
    app.add_flag("--json", json, "Print reports as JSON on stdout");
    bool verbose = false;
    app.add_flag("--verbose", verbose, "Show what the image decoders say on stderr");
    app.add_flag("--accept-damaged", settings().acceptDamaged,
                 "Read image files whose decoder reported errors or whose data is missing");
    addChannelOption(app);
    app.add_flag("--force", settings().force, "Write outputs even over a file that is also an input");
    unsigned long long maxPixels = 0;
    app.add_option(
           "--max-pixels", maxPixels,
           "Refuse input images that need more memory than a 16-bit grayscale image of this many pixels "
           "with its raster (6 bytes a pixel); default: 8 GiB of image and raster")
        ->check(CLI::PositiveNumber);
    int threads = 0;
    app.add_option("--threads", threads,
                   "Threads each image operation may use (default: one per core; 1 runs strictly one after "
                   "the other)")
        ->check(CLI::PositiveNumber);

    // Lab users come for lanes and report: they head the list.
    const std::vector<Command> commands = {
        addLanesCommand(app, json),  addReportCommand(app, json), addViewCommand(app, json),
        addSynthCommand(app, json),  addInfoCommand(app, json),   addBackgroundCommand(app, json),
        addSpotCommand(app, json),   addDemoCommand(app, json),   addProcessCommand(app, json),
        addRenderCommand(app, json), addPackCommand(app, json),   addDocCommand(app, json)};
    for (const Command& c : commands)
        c.app->add_flag("--json", json, "Print the report as JSON on stdout");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string where = "kestro";
        for (const Command& c : commands)
            if (c.app->parsed()) where += " " + c.app->get_name();
        // A misspelt command reaches CLI11 as a stray argument; say what it is.
        if (where == "kestro" && argc > 1 && argv[1][0] != '-')
            return fail(std::string("unknown command '") + argv[1] + "' (see kestro --help)", 2);
        const auto* extras = dynamic_cast<const CLI::ExtrasError*>(&e);
        const std::string message = extras ? unknownOption(app, *extras, argc, argv) : std::string(e.what());
        return fail(message + " (see " + where + " --help)", 2);
    }
    if (verbose)
        kestro::setMessageHandler([](const kestro::Message& m) {
            std::cerr << "kestro: decoder: " << kestro::oneLine(m.text) << '\n';
        });
    if (threads) kestro::setThreadCount(threads);
    if (maxPixels) fipImage::setLoadMemoryLimit(maxPixels > ~0ULL / 6 ? ~0ULL : maxPixels * 6);
    for (const Command& c : commands)
        if (c.app->parsed()) return c.run();
    return fail("no command given (see kestro --help)", 2);
}

} // namespace

int main(int argc, char** argv) {
    keepFreedMemory();
    try {
        return run(argc, argv);
    } catch (const kestro::ToolError& e) {
        return fail(e.what());
    } catch (const CException& e) {
        return fail(e.GetErrorMessage().ToUtf8());
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    } catch (const std::exception& e) {
        return fail(e.what());
    } catch (...) {
        return fail("unexpected failure");
    }
}
