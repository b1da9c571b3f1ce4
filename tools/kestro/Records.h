// What a run leaves behind for the lab: numbers in full, a record of how the results were made,
// and outputs that never replace a result the user already had.
#pragma once

#include "Support.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

/// The command line as typed, kept by main for the run records.
std::vector<std::string>& commandLine();

/// A number in plain decimals with as many digits as it takes to read back the same double:
/// no exponent, so that spreadsheets and scripts read it alike. "" for NaN.
std::string fullNumber(double v);
/// A number for the tables: 15 significant digits, never an exponent; empty for NaN.
std::string tableNumber(double v);
/// A whole number as people type it on a command line or in a query: digits with an optional
/// leading minus, nothing else, within an int; none otherwise.
std::optional<int> wholeNumber(std::string_view text);

/// The SHA-256 of a file's bytes in lowercase hexadecimal, and its size; raises ToolError naming
/// the file when it cannot be read.
struct FileDigest {
    std::string sha256;
    unsigned long long bytes = 0;
};
FileDigest digestFile(const std::string& path);
/// The SHA-256 of bytes in memory.
std::string sha256Hex(const std::string& bytes);

/// The run record of a report: the program's version, the command line, the parameters in
/// force and each input's digest and size.
nlohmann::ordered_json runRecord(const nlohmann::ordered_json& parameters,
                                 const std::vector<std::string>& inputs);

/// Call before anything is written: refuses (ToolError naming it) an output that already exists
/// unless --force, after checkOutputs' own checks.
void refuseExistingOutputs(const std::vector<std::string>& inputs, const std::vector<PlannedOutput>& outputs);

/// Rows Y0-Y1 as typed on the command line (half-open: Y0 .. Y1 - 1); raises ToolError naming
/// the option.
struct RowRange {
    int top = 0;
    int bottom = 0;
    bool contains(double row) const { return row >= top && row < bottom; }
};
RowRange parseRows(const std::string& text, const std::string& option);

} // namespace kestro
