// The subcommands of kestro. Each adds itself to the command line and returns what to run
// once the command line has been read.
#pragma once

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

namespace kestro {

struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run; ///< the exit code on success; failures raise ToolError
};

/// Refuses NaN and the infinities, which CLI11 reads as numbers and its ranges let through (every
/// comparison with NaN is false). Text that is no number is left to the option's own conversion.
inline CLI::Validator finiteNumber() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end) return {};
            return std::isfinite(value) ? std::string() : "'" + text + "' is not a finite number";
        },
        "");
}

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
Command addViewCommand(CLI::App& root, const bool& json);

} // namespace kestro
