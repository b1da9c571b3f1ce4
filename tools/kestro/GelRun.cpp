#include "GelRun.h"

#include "Channels.h"
#include "Commands.h"
#include "Overlay.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace kestro {

namespace fs = std::filesystem;

namespace {

std::vector<LadderRef> ladderRefs(const std::vector<std::string>& items) {
    std::vector<LadderRef> refs;
    for (const std::string& item : items) {
        LadderRef r;
        const size_t colon = item.find(':');
        try {
            size_t used = 0;
            if (colon != std::string::npos) {
                r.tier = std::stoi(item.substr(0, colon), &used);
                if (used != colon || r.tier < 1) throw std::invalid_argument(item);
                --r.tier;
            }
            const std::string lane = colon == std::string::npos ? item : item.substr(colon + 1);
            r.lane = std::stoi(lane, &used);
            if (used != lane.size() || r.lane < 1) throw std::invalid_argument(item);
        } catch (const std::logic_error&) {
            throw ToolError("--ladder takes lanes counted from 1 in each tier (1,12) or TIER:LANE (2:1): '" +
                            item + "'");
        }
        refs.push_back(r);
    }
    return refs;
}

// Lanes a file places by hand: "tier centre width" a line, '#' starting a comment.
std::vector<gel::LanePlacement> readLanesFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ToolError(path + ": cannot open the lanes file");
    std::vector<gel::LanePlacement> lanes;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (n > 100000 || line.size() > 4096)
            throw ToolError(path + ":" + std::to_string(n) + ": too long for a lanes file");
        line = line.substr(0, line.find('#'));
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream fields(line);
        std::string first;
        if (!(fields >> first)) continue;
        std::istringstream all(line);
        double tier = 0, centre = 0, width = 0;
        std::string extra;
        if (!(all >> tier >> centre >> width) || (all >> extra))
            throw ToolError(path + ":" + std::to_string(n) + ": expected three numbers: tier, centre, width");
        if (tier < 1 || tier > 64 || tier != std::floor(tier))
            throw ToolError(path + ":" + std::to_string(n) + ": the tier counts from 1");
        if (!(std::fabs(centre) < 1e7) || !(width > 0) || !(width < 1e7))
            throw ToolError(path + ":" + std::to_string(n) +
                            ": the centre must be a number and the width above 0");
        lanes.push_back(gel::LanePlacement::centred(static_cast<int>(tier) - 1, centre, width));
    }
    return lanes;
}

RowLimits rowLimits(const GelArgs& a) {
    RowLimits l;
    if (!a.rows.empty()) {
        const RowRange r = parseRows(a.rows, "--rows");
        l.limited = true;
        l.top = r.top;
        l.bottom = r.bottom;
    }
    for (const std::string& e : a.exclude) {
        const RowRange r = parseRows(e, "--exclude");
        l.excluded.push_back({r.top, r.bottom});
    }
    return l;
}

// The band of another lane that matches a band: the nearest peak row.
const gel::Band* matching(const gel::Lane& lane, double row) {
    const gel::Band* best = nullptr;
    for (const gel::Band& b : lane.bands)
        if (!best || std::fabs(b.peakY - row) < std::fabs(best->peakY - row)) best = &b;
    return best;
}

// Whether two bands of a tier's lanes stand in the same row: a smile moves a row of bands by tens
// of pixels across a blot, so the nearest band within a tenth of the tier's height is the same row.
bool sameRow(const gel::Tier& tier, const gel::Band* a, double row) {
    return a && std::fabs(a->peakY - row) <= std::max(3.0, 0.1 * (tier.bottom - tier.top));
}

// The lane LANE (counted from 1) of a tier, or none.
const gel::Lane* laneOfTier(const GelRun& r, int tier, int lane) {
    for (size_t i = 0; i < r.analysis.lanes.size(); ++i)
        if (r.analysis.lanes[i].tier == tier && r.laneInTier[i] == lane - 1) return &r.analysis.lanes[i];
    return nullptr;
}

std::pair<int, int> parseControlLane(const std::string& text) {
    const size_t colon = text.find(':');
    const std::string_view all(text);
    const std::optional<int> lane = wholeNumber(all.substr(0, colon));
    const std::optional<int> band =
        colon == std::string::npos ? std::nullopt : wholeNumber(all.substr(colon + 1));
    if (!lane || !band || *lane < 1 || *band < 1)
        throw ToolError(
            "--control-lane takes LANE:BAND, the loading control's band number in one lane of each tier "
            "(counted from 1), e.g. 1:2");
    return {*lane, *band};
}

void normalise(GelRun& r, const GelArgs& a) {
    if (!a.normalising()) return;
    const gel::Analysis& an = r.analysis;
    r.norm.assign(an.lanes.size(), {});
    const bool total = a.normalise == "total";
    RowRange rows;
    std::pair<int, int> control{0, 0};
    if (!a.controlLane.empty()) {
        control = parseControlLane(a.controlLane);
        r.normalisedBy = "the lane's band in the row of band " + std::to_string(control.second) +
                         " of lane " + std::to_string(control.first) + " of its tier (the loading control)";
    } else if (!total) {
        rows = parseRows(a.normalise, "--normalise");
        r.normalisedBy = "the lane's band with its peak in rows " + std::to_string(rows.top) + " .. " +
                         std::to_string(rows.bottom - 1) + " (the loading control)";
    } else {
        r.normalisedBy = "the lane's total band volume";
    }
    for (size_t k = 0; k < an.lanes.size(); ++k) {
        const gel::Lane& l = an.lanes[k];
        double divisor = std::numeric_limits<double>::quiet_NaN();
        if (total) {
            double sum = 0;
            for (const gel::Band& b : l.bands)
                sum += std::max(0.0, b.correctedVolume);
            if (sum > 0) divisor = sum;
        } else if (control.first > 0) {
            const gel::Lane* marked = laneOfTier(r, l.tier, control.first);
            if (!marked || static_cast<int>(marked->bands.size()) < control.second)
                throw ToolError(r.file + ": tier " + std::to_string(l.tier + 1) + " has no band " +
                                std::to_string(control.second) + " in lane " + std::to_string(control.first) +
                                " for --control-lane");
            const double row = marked->bands[static_cast<size_t>(control.second - 1)].peakY;
            const gel::Band* own = matching(l, row);
            if (sameRow(an.tiers[static_cast<size_t>(l.tier)], own, row) && own->correctedVolume > 0)
                divisor = own->correctedVolume;
            else
                r.analysis.warnings.push_back(
                    {"no-control", "lane " + std::to_string(k + 1) +
                                       " has no band in the loading control's row " +
                                       std::to_string(std::lround(row)) + " to normalise by"});
        } else {
            const gel::Band* best = nullptr;
            for (const gel::Band& b : l.bands)
                if (rows.contains(b.peakY) && (!best || b.correctedVolume > best->correctedVolume)) best = &b;
            if (best && best->correctedVolume > 0)
                divisor = best->correctedVolume;
            else
                r.analysis.warnings.push_back({"no-control", "lane " + std::to_string(k + 1) +
                                                                 " has no band in rows " + a.normalise +
                                                                 " to normalise by"});
        }
        for (const gel::Band& b : l.bands) {
            BandNorm n;
            n.dividedBy = divisor;
            n.value = b.correctedVolume / divisor;
            r.norm[k].push_back(n);
        }
    }
    if (a.referenceLane > 0) {
        for (size_t k = 0; k < an.lanes.size(); ++k) {
            const gel::Lane& l = an.lanes[k];
            const gel::Lane* refLane = laneOfTier(r, l.tier, a.referenceLane);
            if (!refLane)
                throw ToolError(r.file + ": tier " + std::to_string(l.tier + 1) + " has no reference lane " +
                                std::to_string(a.referenceLane));
            const size_t ref = static_cast<size_t>(refLane - an.lanes.data());
            for (size_t j = 0; j < l.bands.size(); ++j) {
                const gel::Band* m = matching(*refLane, l.bands[j].peakY);
                if (sameRow(an.tiers[static_cast<size_t>(l.tier)], m, l.bands[j].peakY))
                    r.norm[k][j].relative =
                        r.norm[k][j].value / r.norm[ref][static_cast<size_t>(m->index)].value;
            }
        }
        r.normalisedBy += ", then relative to the matching band (nearest peak row) of lane " +
                          std::to_string(a.referenceLane) + " of its tier";
    }
}

} // namespace

void GelArgs::check() const {
    if (invert && noInvert) throw ToolError("--invert and --no-invert exclude each other");
    if (!sizes.empty() && ladder.empty()) throw ToolError("--sizes needs --ladder LANE (lanes count from 1)");
    if (!ladder.empty() && sizes.size() < 2)
        throw ToolError("--ladder needs --sizes with two sizes at least, largest first");
    ladderRefs(ladder);
    if (!masses.empty() && masses.size() != sizes.size())
        throw ToolError("--ladder-mass needs one mass per ladder size: " + std::to_string(masses.size()) +
                        " masses for " + std::to_string(sizes.size()) + " sizes");
    if (!region.empty() && region.size() != 4)
        throw ToolError("--region needs four numbers: x y width height");
    if (!laneAt.empty() && !(laneWidth > 0)) throw ToolError("--lane-at needs --lane-width W (columns)");
    for (double x : laneAt)
        if (!(std::fabs(x) < 1e7) || !(laneWidth < 1e7))
            throw ToolError("--lane-at and --lane-width take columns of the image");
    if (!laneAt.empty() && !lanesFile.empty())
        throw ToolError("--lane-at and --lanes-file exclude each other");
    if ((!laneAt.empty() || !lanesFile.empty()) && lanes > 0)
        throw ToolError("--lanes counts lanes to find; lanes placed by hand are counted already");
    if (!tierRows.empty() && tiers > 0) throw ToolError("--tiers and --tier-rows exclude each other");
    rowLimits(*this);
    if (!normalise.empty() && normalise != "total") parseRows(normalise, "--normalise");
    if (!controlLane.empty() && !normalise.empty())
        throw ToolError("--control-lane and --normalise exclude each other");
    if (!controlLane.empty()) parseControlLane(controlLane);
    if (referenceLane > 0 && !normalising())
        throw ToolError(
            "--reference-lane needs --normalise ROWS, --normalise total or --control-lane LANE:BAND");
}

nlohmann::ordered_json GelArgs::parameters() const {
    return {{"lanes", lanes},
            {"laneAt", laneAt},
            {"laneWidth", laneWidth},
            {"lanesFile", lanesFile},
            {"tiers", tiers},
            {"tierRows", tierRows},
            {"polarity", invert     ? "dark bands"
                         : noInvert ? "bright bands"
                                    : "auto"},
            {"region", region},
            {"rows", rows},
            {"exclude", exclude},
            {"edits", edits},
            {"prominence", prominence},
            {"background", background},
            {"ladder", ladder},
            {"sizes", sizes},
            {"ladderMass", masses},
            {"fit", fit},
            {"normalise", normalise},
            {"controlLane", controlLane},
            {"referenceLane", referenceLane},
            {"channel", settings().channel},
            {"acceptDamaged", settings().acceptDamaged}};
}

void addGelOptions(CLI::App& app, GelArgs& a) {
    addChannelOption(app);
    app.add_option("--lanes", a.lanes, "Exactly this many lanes per tier (default: as many as found)")
        ->check(CLI::Range(1, 1000));
    app.add_option("--lane-at", a.laneAt,
                   "Lanes placed by hand: their centre columns X1,X2,... in every tier")
        ->delimiter(',')
        ->allow_extra_args(false);
    app.add_option("--lane-width", a.laneWidth, "Width in columns of the lanes of --lane-at")
        ->check(CLI::PositiveNumber & finiteNumber());
    app.add_option("--lanes-file", a.lanesFile,
                   "Lanes placed by hand: a text file, one 'tier centre width' a line");
    app.add_option("--tiers", a.tiers, "Rows of wells (default: found)")->check(CLI::Range(1, 8));
    app.add_option("--tier-rows", a.tierRows, "Tiers placed by hand: the rows Y1,Y2,... at which each starts")
        ->delimiter(',')
        ->allow_extra_args(false)
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--invert", a.invert, "Dark bands on a light gel (default: detected)");
    app.add_flag("--no-invert", a.noInvert, "Bright bands on a dark gel (default: detected)");
    app.add_option("--rows", a.rows, "Look for bands only in rows Y0 to Y1 - 1, e.g. 120-480");
    app.add_option("--exclude", a.exclude,
                   "Drop bands found in rows Y0 to Y1 - 1 (wells, dye front); repeatable")
        ->allow_extra_args(false);
    app.add_option("--edits", a.edits, "Corrections to replay: a JSON edits file (see the README)");
    app.add_option(
           "--ladder", a.ladder,
           "Ladder lanes, counted from 1 in each tier: one (1), or two for a smile (1,12), or TIER:LANE")
        ->delimiter(',')
        ->allow_extra_args(false);
    app.add_option("--sizes", a.sizes, "Ladder band sizes, largest first")
        ->delimiter(',')
        ->allow_extra_args(false)
        ->check(CLI::PositiveNumber & finiteNumber());
    app.add_option("--ladder-mass", a.masses, "Mass of each ladder band (e.g. ng), in the order of --sizes")
        ->delimiter(',')
        ->allow_extra_args(false)
        ->check(CLI::NonNegativeNumber & finiteNumber());
    app.add_option("--fit", a.fit,
                   "Size calibration: spline (monotone cubic of log size) or linear (piecewise linear)")
        ->check(CLI::IsMember({"spline", "linear"}))
        ->capture_default_str();
    app.add_option(
        "--normalise", a.normalise,
        "Divide each band by its lane's loading control, the band in rows Y0-Y1, or by the lane's total "
        "('total', for stain-free gels)");
    app.add_option(
        "--control-lane", a.controlLane,
        "Divide each band by its lane's loading control, the band in the row of band BAND of lane LANE "
        "of its tier: LANE:BAND, e.g. 1:2");
    app.add_option("--reference-lane", a.referenceLane,
                   "Give normalised values relative to this lane of each tier (counted from 1)")
        ->check(CLI::Range(1, 1000));
    app.add_option(
           "--region", a.region,
           "Analyse only this part: x y width height (default: the image less a black or white margin)")
        ->expected(4);
    app.add_option("--background", a.background,
                   "Band background: valleys (line between the box's ends) or minimum (moving minimum)")
        ->check(CLI::IsMember({"valleys", "minimum"}))
        ->capture_default_str();
    app.add_option("--prominence", a.prominence, "Least band prominence, fraction of the gel's profile range")
        ->check(CLI::Range(0.0, 1.0) & finiteNumber())
        ->capture_default_str();
}

namespace {

// Failures of a stage name the file once, whichever stage raised them.
template <typename F> void namingFile(const std::string& file, const F& stage) {
    try {
        stage();
    } catch (const gel::ArgumentError& e) {
        throw ToolError(file + ": " + e.what());
    } catch (const ToolError& e) {
        const std::string what = e.what();
        throw ToolError(what.rfind(file, 0) == 0 ? what : file + ": " + what);
    }
}

} // namespace

GelStage stageGel(const std::string& file, const GelArgs& a) {
    const long long start = nowNanos();
    GelStage s;
    s.file = file;
    const LoadedImage li = loadImage(file);
    // The grey values every measuring command uses, so that --channel and colour images mean the
    // same here as in spot and background.
    const GreyRaster grey = grayscaleRaster(li, "lanes");
    const RasterImageGS16& raster = *grey.raster;
    auto image = std::make_shared<gel::GreyImage>();
    image->width = raster.width;
    image->height = raster.height;
    image->maxValue = raster.maxPixelValue;
    image->conversion = grey.conversion;
    image->pixels.assign(raster.pixels, raster.pixels + static_cast<size_t>(raster.width) * raster.height);
    s.grey = std::move(image);

    gel::Options& o = s.options;
    o.laneCount = a.lanes;
    o.polarity = a.invert     ? gel::Polarity::DarkBands
                 : a.noInvert ? gel::Polarity::BrightBands
                              : gel::Polarity::Auto;
    o.tiers = a.tiers;
    o.minProminence = a.prominence;
    o.background =
        a.background == "minimum" ? gel::VolumeBackground::MovingMinimum : gel::VolumeBackground::LaneValleys;
    o.ladderSizes = a.sizes;
    if (a.region.size() == 4) o.region = gel::Region{a.region[0], a.region[1], a.region[2], a.region[3]};
    namingFile(file, [&] {
        s.prepared.emplace(s.grey->view(), o);
        const gel::PreparedGel& g = *s.prepared;
        // Found tiers come with their lanes, unless the lanes are placed by hand.
        const bool foundAll = a.tierRows.empty() && a.lanesFile.empty() && a.laneAt.empty();
        if (foundAll) {
            gel::Layout found = gel::findLayout(g, o);
            s.tiers = std::move(found.tiers);
            s.lanes = std::move(found.lanes);
            return;
        }
        s.tiers = a.tierRows.empty() ? gel::findTiers(g, o) : gel::tiersAt(g, a.tierRows, o);
        std::vector<gel::LanePlacement> placed;
        if (!a.lanesFile.empty()) {
            placed = readLanesFile(a.lanesFile);
            for (const gel::LanePlacement& p : placed)
                if (p.tier >= static_cast<int>(s.tiers.size()))
                    throw ToolError(a.lanesFile + ": a lane in tier " + std::to_string(p.tier + 1) +
                                    ", but " + file + " has " + std::to_string(s.tiers.size()) + " tiers");
        }
        for (const gel::Tier& t : s.tiers)
            for (double x : a.laneAt)
                placed.push_back(gel::LanePlacement::centred(t.index, x, a.laneWidth));
        s.lanes = placed.empty() ? gel::findLanes(g, s.tiers, o) : gel::placeLanes(g, s.tiers, placed);
    });
    s.milliseconds = millisecondsSince(start);
    return s;
}

GelRun finishGel(const GelStage& s, const GelArgs& a, const GelEdits& edits) {
    const long long start = nowNanos();
    const std::string& file = s.file;
    GelRun r;
    r.file = file;
    r.grey = s.grey;
    r.prepared = s.prepared;
    const std::vector<gel::Tier>& tiers = s.tiers;
    namingFile(file, [&] {
        const gel::PreparedGel& g = *r.prepared;
        r.analysis = replayEdits(g, tiers, s.lanes, edits, rowLimits(a), s.options, ladderRefs(a.ladder));
        r.analysis.greyConversion = s.grey->conversion;
        std::map<int, int> next;
        for (const gel::Lane& l : r.analysis.lanes)
            r.laneInTier.push_back(next[l.tier]++);
        // A count the finder could not meet must not pass unnoticed into a table.
        if (a.lanes > 0)
            for (const gel::Tier& t : tiers)
                if (next[t.index] != a.lanes)
                    r.analysis.warnings.push_back(
                        {"lane-count", "tier " + std::to_string(t.index + 1) + ": " +
                                           std::to_string(a.lanes) + " lanes asked for, " +
                                           std::to_string(next[t.index]) + " found"});
        if (!a.ladder.empty()) {
            std::vector<int> ladders;
            for (const LadderRef& ref : ladderRefs(a.ladder)) {
                if (ref.tier >= static_cast<int>(tiers.size()))
                    throw ToolError(file + ": there is no tier " + std::to_string(ref.tier + 1) +
                                    " for the ladder " + std::to_string(ref.tier + 1) + ":" +
                                    std::to_string(ref.lane) + " (tiers: " + std::to_string(tiers.size()) +
                                    ")");
                for (const gel::Tier& t : tiers) {
                    if (ref.tier >= 0 && ref.tier != t.index) continue;
                    bool found = false;
                    for (size_t k = 0; k < r.analysis.lanes.size(); ++k)
                        if (r.analysis.lanes[k].tier == t.index && r.laneInTier[k] == ref.lane - 1) {
                            ladders.push_back(static_cast<int>(k));
                            found = true;
                        }
                    if (!found)
                        throw ToolError(
                            file + ": there is no ladder lane " + std::to_string(ref.lane) +
                            (tiers.size() > 1 ? " in tier " + std::to_string(t.index + 1) : std::string()) +
                            " (lanes found: " + std::to_string(next[t.index]) + ")");
                }
            }
            gel::calibrateTiers(
                r.analysis, ladders, a.sizes,
                a.fit == "linear" ? gel::SizeFit::PiecewiseLinear : gel::SizeFit::MonotoneSpline, a.masses);
        }
    });
    normalise(r, a);
    std::sort(r.analysis.warnings.begin(), r.analysis.warnings.end(),
              [](const gel::Warning& x, const gel::Warning& y) { return x.text < y.text; });
    r.milliseconds = s.milliseconds + millisecondsSince(start);
    return r;
}

GelRun runGel(const std::string& file, const GelArgs& a) {
    const GelStage s = stageGel(file, a);
    GelEdits edits;
    if (!a.edits.empty()) namingFile(file, [&] { edits = readEdits(a.edits); });
    return finishGel(s, a, edits);
}

std::string bandTableHeader(const GelArgs& a) {
    std::string h = "file,tier,lane,lane in tier,band,centre x,peak y,top,bottom,raw volume,corrected volume,"
                    "relative volume,saturated pixels,size,size extrapolated,volume is lower bound,diffuse";
    if (!a.masses.empty()) h += ",mass";
    if (a.normalising()) h += ",normalised,divided by";
    if (a.referenceLane > 0) h += ",relative to reference";
    return h + "\n";
}

std::string bandTableRows(const GelRun& r, const GelArgs& a) {
    std::ostringstream csv;
    const gel::Analysis& an = r.analysis;
    const bool sized = !an.calibrations.empty();
    for (size_t k = 0; k < an.lanes.size(); ++k) {
        const gel::Lane& l = an.lanes[k];
        for (size_t j = 0; j < l.bands.size(); ++j) {
            const gel::Band& b = l.bands[j];
            const bool hasSize = sized && b.size > 0;
            csv << csvText(r.file) << ',' << l.tier + 1 << ',' << l.index + 1 << ',' << r.laneInTier[k] + 1
                << ',' << b.index + 1 << ',' << tableNumber(b.x) << ',' << tableNumber(b.peakY) << ','
                << b.box.top << ',' << b.box.bottom - 1 << ',' << tableNumber(b.rawVolume) << ','
                << tableNumber(b.correctedVolume) << ',' << tableNumber(b.relativeVolume) << ','
                << b.saturatedPixels << ',' << (hasSize ? tableNumber(b.size) : std::string()) << ','
                << (hasSize ? (b.extrapolated ? "yes" : "no") : "") << ',' << (b.saturated ? "yes" : "no")
                << ',' << (b.diffuse ? "yes" : "no");
            if (!a.masses.empty()) {
                bool curve = false;
                for (const gel::MassCurve& m : an.massCurves)
                    curve = curve || (m.tier == l.tier && m.slope > 0);
                csv << ',' << (curve ? tableNumber(b.mass) : std::string());
            }
            if (a.normalising())
                csv << ',' << tableNumber(r.norm[k][j].value) << ',' << tableNumber(r.norm[k][j].dividedBy);
            if (a.referenceLane > 0) csv << ',' << tableNumber(r.norm[k][j].relative);
            csv << '\n';
        }
    }
    return csv.str();
}

std::string laneTableHeader() {
    return "file,tier,lane,lane in tier,centre,width,total volume,bands,saturated bands\n";
}

std::string laneTableRows(const GelRun& r) {
    std::ostringstream csv;
    for (size_t k = 0; k < r.analysis.lanes.size(); ++k) {
        const gel::Lane& l = r.analysis.lanes[k];
        double total = 0;
        int saturated = 0;
        for (const gel::Band& b : l.bands) {
            total += b.correctedVolume;
            saturated += b.saturated;
        }
        csv << csvText(r.file) << ',' << l.tier + 1 << ',' << l.index + 1 << ',' << r.laneInTier[k] + 1 << ','
            << tableNumber(l.centre) << ',' << tableNumber(l.right - l.left) << ',' << tableNumber(total)
            << ',' << l.bands.size() << ',' << saturated << '\n';
    }
    return csv.str();
}

namespace {

nlohmann::ordered_json warningsJson(const std::vector<gel::Warning>& warnings) {
    nlohmann::ordered_json j = nlohmann::ordered_json::array();
    for (const gel::Warning& w : warnings)
        j.push_back({{"code", w.code}, {"text", w.text}});
    return j;
}

const char* fitName(gel::SizeFit fit) {
    return fit == gel::SizeFit::PiecewiseLinear
               ? "log10(size) piecewise linear in the migration distance"
               : "log10(size) monotone cubic (Fritsch-Carlson) in the migration distance";
}

} // namespace

nlohmann::ordered_json gelReport(const GelRun& r, const GelArgs& a, const nlohmann::ordered_json& record) {
    const gel::Analysis& an = r.analysis;
    int bands = 0, saturated = 0, diffuse = 0;
    nlohmann::ordered_json lanes = nlohmann::ordered_json::array();
    for (size_t k = 0; k < an.lanes.size(); ++k) {
        const gel::Lane& l = an.lanes[k];
        nlohmann::ordered_json bj = nlohmann::ordered_json::array();
        for (size_t j = 0; j < l.bands.size(); ++j) {
            const gel::Band& b = l.bands[j];
            ++bands;
            saturated += b.saturated;
            diffuse += b.diffuse;
            nlohmann::ordered_json o = {{"band", b.index + 1},
                                        {"x", b.x},
                                        {"peakY", b.peakY},
                                        {"top", b.box.top},
                                        {"bottom", b.box.bottom - 1},
                                        {"box", {b.box.left, b.box.top, b.box.right, b.box.bottom}},
                                        {"prominence", b.prominence},
                                        {"width", b.width},
                                        {"rawVolume", b.rawVolume},
                                        {"backgroundVolume", b.backgroundVolume},
                                        {"correctedVolume", b.correctedVolume},
                                        {"relativeVolume", b.relativeVolume},
                                        {"saturatedPixels", b.saturatedPixels},
                                        {"volumeIsLowerBound", b.saturated},
                                        {"edgeWidth", b.edgeWidth},
                                        {"diffuse", b.diffuse},
                                        {"shoulder", b.shoulder},
                                        {"fromLadder", b.fromLadder}};
            if (!an.calibrations.empty()) {
                o["size"] = b.size;
                o["extrapolated"] = b.extrapolated;
            }
            if (!an.massCurves.empty()) o["mass"] = b.mass;
            if (!r.norm.empty()) {
                const BandNorm& n = r.norm[k][j];
                o["normalised"] =
                    std::isnan(n.value) ? nlohmann::ordered_json() : nlohmann::ordered_json(n.value);
                o["dividedBy"] =
                    std::isnan(n.dividedBy) ? nlohmann::ordered_json() : nlohmann::ordered_json(n.dividedBy);
                if (a.referenceLane > 0)
                    o["relativeToReference"] = std::isnan(n.relative) ? nlohmann::ordered_json()
                                                                      : nlohmann::ordered_json(n.relative);
            }
            bj.push_back(o);
        }
        lanes.push_back({{"lane", l.index + 1},
                         {"tier", l.tier + 1},
                         {"laneInTier", r.laneInTier[k] + 1},
                         {"centre", l.centre},
                         {"left", l.left},
                         {"right", l.right},
                         {"middle", l.middle},
                         {"tilt", l.tilt},
                         {"bow", l.bow},
                         {"pathRows", {l.pathTop, l.pathBottom}},
                         {"box", {l.box.left, l.box.top, l.box.right, l.box.bottom}},
                         {"bands", bj}});
    }
    nlohmann::ordered_json report = {
        {"file", r.file},
        {"width", an.width},
        {"height", an.height},
        {"grey", an.greyConversion},
        {"polarity", gel::polarityName(an.polarity)},
        {"polarityDetected", an.polarityDetected},
        {"saturationLevel", an.polarity == gel::Polarity::DarkBands ? 0 : an.maxValue},
        {"background", a.background == "minimum" ? "moving minimum under the box"
                                                 : "line between the box's top and bottom rows"},
        {"tierCount", an.tiers.size()},
        {"laneCount", an.lanes.size()},
        {"bandCount", bands},
        {"saturatedBands", saturated},
        {"diffuseBands", diffuse},
        {"warnings", warningsJson(an.warnings)}};
    if (!an.calibrations.empty()) {
        nlohmann::ordered_json cals = nlohmann::ordered_json::array();
        for (const gel::SizeCalibration& c : an.calibrations) {
            const std::vector<double> loo = c.leaveOneOut();
            nlohmann::ordered_json errors = nlohmann::ordered_json::array();
            double worst = 0;
            for (size_t k = 0; k < loo.size(); ++k) {
                const double e = std::fabs(loo[k] / c.sizes[k] - 1);
                worst = std::max(worst, e);
                errors.push_back(e);
            }
            cals.push_back({{"tier", c.tier + 1},
                            {"ladderLane", c.ladderLane + 1},
                            {"fit", fitName(c.fit)},
                            {"positions", c.positions},
                            {"sizes", c.sizes},
                            {"leaveOneOut", loo},
                            {"leaveOneOutError", errors},
                            {"worstLeaveOneOutError",
                             loo.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(worst)}});
        }
        report["calibration"] = cals.front();
        report["calibrations"] = cals;
        report["smile"] =
            "with two ladders in a tier, log(size) is interpolated between them by the lane's centre";
    }
    if (!an.massCurves.empty()) {
        nlohmann::ordered_json curves = nlohmann::ordered_json::array();
        for (const gel::MassCurve& m : an.massCurves)
            curves.push_back(
                {{"tier", m.tier + 1},
                 {"fit", "mass = slope x corrected volume, least squares through the origin and the "
                         "ladder bands that are not saturated"},
                 {"slope", m.slope},
                 {"points", m.points},
                 {"saturatedLeftOut", m.saturatedLeftOut},
                 {"rSquared", m.rSquared}});
        report["massCurves"] = curves;
    }
    if (!r.norm.empty()) report["normalisedBy"] = r.normalisedBy;
    report["lanes"] = lanes;
    report["run"] = record;
    report["milliseconds"] = r.milliseconds;
    return report;
}

void drawAnnotation(const GelRun& r, const std::string& path) {
    const gel::Analysis& a = r.analysis;
    Overlay m(*r.grey, a.polarity == gel::Polarity::DarkBands ? 0 : r.grey->maxValue);
    const COLORREF yellow = RGB(255, 220, 0), green = RGB(0, 230, 60), orange = RGB(255, 140, 0),
                   cyan = RGB(0, 200, 255);
    const int scale = m.markScale();
    for (const gel::Lane& l : a.lanes) {
        // The lane's box and centre line follow its path row by row.
        const int boxRight = l.box.right - 1, bottom = l.box.bottom - 1;
        m.hline(l.box.left, boxRight, l.box.top, yellow);
        m.hline(l.box.left, boxRight, bottom, yellow);
        for (int y = l.box.top; y <= bottom; ++y) {
            const int d = static_cast<int>(std::lround(l.centreAt(y) - l.centre));
            m.set(l.box.left + d, y, yellow);
            m.set(boxRight + d, y, yellow);
            if ((y / (4 * scale)) % 2 == 0) m.set(static_cast<int>(std::lround(l.centreAt(y))), y, yellow);
        }
        m.number(l.index + 1, l.box.left + 2, l.box.top + 2, scale, yellow);
        for (const gel::Band& b : l.bands) {
            m.rect(b.box.left + 1, b.box.top, b.box.right - 2, b.box.bottom - 1, b.diffuse ? orange : green);
            m.hline(b.box.left + 1, b.box.right - 2, static_cast<int>(std::lround(b.peakY)), cyan);
        }
    }
    m.save(path);
}

std::vector<std::string> analysisInputs(const std::vector<std::string>& arguments) {
    // A rerun over a folder that holds an earlier run's pictures must not measure them.
    const bool folder = anyFolder(arguments);
    std::vector<std::string> files;
    for (const std::string& f : expandInputs(arguments)) {
        const std::string name = fs::path(f).filename().string();
        const bool ours = name.size() > 10 && name.compare(name.size() - 10, 10, ".lanes.png") == 0;
        if (ours && folder) {
            std::cerr << "kestro: note: " << f << ": an annotated picture of an earlier run, skipped\n";
            continue;
        }
        files.push_back(f);
    }
    if (files.empty()) throw ToolError("no gel images among the inputs (only pictures of earlier runs)");
    return files;
}

} // namespace kestro
