// The gel analysis as lanes and report run it: the options a user sets, the run over one file
// (lanes found or placed, edits replayed, sizes, amounts, normalisation) and the tables made
// from it.
#pragma once

#include "Edits.h"
#include "Records.h"
#include "Support.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct GelArgs {
    std::vector<std::string> files;
    int lanes = 0;
    bool invert = false;
    bool noInvert = false;
    std::vector<std::string> ladder;
    std::vector<double> sizes;
    std::vector<double> masses;
    int tiers = 0;
    std::vector<int> tierRows;
    std::vector<double> laneAt;
    double laneWidth = 0;
    std::string lanesFile;
    std::string rows;
    std::vector<std::string> exclude;
    std::string edits;
    std::string fit = "spline";
    std::vector<int> region;
    std::string background = "valleys";
    double prominence = 0.03;
    std::string normalise;
    std::string controlLane; ///< LANE:BAND, the loading control's band in one lane of each tier
    int referenceLane = 0;

    bool normalising() const { return !normalise.empty() || !controlLane.empty(); }

    /// Checks what can be checked before any file is read; raises ToolError.
    void check() const;
    /// Every parameter in force, for the run record.
    nlohmann::ordered_json parameters() const;
};

/// Adds the analysis options shared by lanes and report.
void addGelOptions(CLI::App& app, GelArgs& a);

/// What a band was divided by and what came of it; NaN where nothing.
struct BandNorm {
    double value = std::numeric_limits<double>::quiet_NaN();
    double dividedBy = std::numeric_limits<double>::quiet_NaN();
    double relative = std::numeric_limits<double>::quiet_NaN();
};

struct GelRun {
    std::string file;
    std::shared_ptr<const gel::GreyImage> grey;
    std::optional<gel::PreparedGel> prepared;
    gel::Analysis analysis;
    std::vector<int> laneInTier;             ///< per lane, from 0
    std::vector<std::vector<BandNorm>> norm; ///< per lane, per band; empty without normalisation
    std::string normalisedBy;                ///< in words
    double milliseconds = 0;
};

/// A gel taken through the stages that no edit changes: loaded, prepared, its tiers and its lanes
/// (found or placed). A viewer keeps it and replays edit after edit on it.
struct GelStage {
    std::string file;
    std::shared_ptr<const gel::GreyImage> grey;
    std::optional<gel::PreparedGel> prepared;
    gel::Options options;
    std::vector<gel::Tier> tiers;
    std::vector<gel::Lane> lanes;
    double milliseconds = 0;
};

/// The stages before the edits; raises ToolError naming the file.
GelStage stageGel(const std::string& file, const GelArgs& a);
/// The rest of the run on a staged gel: the edits replayed, sizes, amounts, normalisation
/// (a.edits is not read: the edits are given); raises ToolError naming the file.
GelRun finishGel(const GelStage& stage, const GelArgs& a, const GelEdits& edits);
/// Runs the analysis on one file, reading a.edits when set; raises ToolError naming the file.
GelRun runGel(const std::string& file, const GelArgs& a);

/// The header and rows of the band table (bands.csv) and the lane table (lanes.csv).
std::string bandTableHeader(const GelArgs& a);
std::string bandTableRows(const GelRun& r, const GelArgs& a);
std::string laneTableHeader();
std::string laneTableRows(const GelRun& r);

/// The JSON report of one file, with the run record.
nlohmann::ordered_json gelReport(const GelRun& r, const GelArgs& a, const nlohmann::ordered_json& record);

/// The annotated picture: saturated pixels red, lanes yellow, bands green (diffuse orange),
/// peak rows cyan.
void drawAnnotation(const GelRun& r, const std::string& path);

/// The inputs of a batch without the command's own outputs lying beside them.
std::vector<std::string> analysisInputs(const std::vector<std::string>& arguments);

} // namespace kestro
