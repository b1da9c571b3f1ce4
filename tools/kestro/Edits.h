// A user's corrections to a gel's lanes and bands, kept in a small JSON file so that a corrected
// analysis can be run again and come out the same. The format is written in the README; numbers
// in the file count from 1 as the tables do, the structs below count from 0.
#pragma once

#include <KestroImage.h>

#include <string>
#include <vector>

namespace kestro {

struct GelEdits {
    struct LaneRef {
        int tier = 0;
        int lane = 0; ///< within its tier, left to right
    };
    struct BandRows {
        int tier = 0;
        int lane = 0; ///< within its tier
        int top = 0;
        int bottom = 0; ///< one past the last row
    };
    struct BandAt {
        int tier = 0;
        int lane = 0;
        double row = 0;
    };
    bool replaceLanes = false;             ///< "lanes" given: these lanes, not the ones found
    std::vector<gel::LanePlacement> lanes; ///< with the path of a lane the analysis found
    std::vector<LaneRef> removedLanes;     ///< numbered as before they are removed
    bool replaceBands = false;             ///< "bands" given: these bands, not the ones found
    std::vector<BandRows> bands;
    std::vector<BandRows> addedBands; ///< lanes numbered after removals, as the results show them
    std::vector<BandAt> removedBands; ///< the band whose rows hold the row
};

/// Reads an edits file. The file may be anything: raises ToolError with the file's name and the
/// line and column of a syntax error, or the field (e.g. "lanes[2].width") that is wrong.
GelEdits readEdits(const std::string& path);
/// The same from text; `name` stands for the file in messages.
GelEdits parseEdits(const std::string& text, const std::string& name);
/// The file's text: what readEdits reads back as the same edits.
std::string editsText(const GelEdits& edits);
/// Edits that give back an analysis's lanes and bands as they are: a file for the user to correct.
GelEdits editsOf(const gel::Analysis& analysis);

/// Which rows bands are kept from: the band search's own bands outside `rows` (when set) or
/// inside an excluded range are dropped; bands the user adds are kept wherever they are.
struct RowLimits {
    bool limited = false;
    int top = 0, bottom = 0;
    std::vector<std::pair<int, int>> excluded; ///< half-open row ranges
    bool keeps(double row) const;
};

/// A ladder lane as --ladder names it: its number within its tier, in one tier or in each.
struct LadderRef {
    int tier = -1; ///< -1: every tier
    int lane = 0;  ///< within the tier, from 1
};

/// The analysis after the lanes, replaying the edits on the lanes given (found or placed): lanes
/// replaced and removed, bands found (or listed) and kept within the limits, bands removed and
/// added, bands renumbered. No calibration: the caller sizes the bands after. Raises ToolError
/// (naming the edit) for an edit that does not fit the gel, such as a tier or lane it lacks.
/// The search seeks the ladder lanes' missing sizes (options.ladderSizes) among the lanes
/// replayed.
gel::Analysis replayEdits(const gel::PreparedGel& gel, const std::vector<gel::Tier>& tiers,
                          std::vector<gel::Lane> lanes, const GelEdits& edits, const RowLimits& limits,
                          const gel::Options& options, const std::vector<LadderRef>& ladders);

} // namespace kestro
