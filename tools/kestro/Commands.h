// The subcommands of kestro. Each adds itself to the command line and returns what to run
// once the command line has been read.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>

namespace kestro {

struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run; ///< the exit code on success; failures raise ToolError
};

/// `json` is shared by all subcommands: set by --json before or after the subcommand's name.
Command addSynthCommand(CLI::App& root, const bool& json);
Command addInfoCommand(CLI::App& root, const bool& json);
Command addBackgroundCommand(CLI::App& root, const bool& json);
Command addSpotCommand(CLI::App& root, const bool& json);
Command addDemoCommand(CLI::App& root, const bool& json);
Command addProcessCommand(CLI::App& root, const bool& json);
Command addRenderCommand(CLI::App& root, const bool& json);
Command addPackCommand(CLI::App& root, const bool& json);
Command addDocCommand(CLI::App& root, const bool& json);
Command addLanesCommand(CLI::App& root, const bool& json);
Command addReportCommand(CLI::App& root, const bool& json);

} // namespace kestro
