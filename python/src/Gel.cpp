#include "Module.h"

#include "analysis/GelAnalysis.h"
#include "image/DalvoImage.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <optional>

namespace kestro::python {

namespace {

namespace gel = kestro::gel;

py::tuple boxTuple(const gel::Box& b) {
    return py::make_tuple(b.left, b.top, b.right, b.bottom);
}

const char* polarityWord(gel::Polarity p) {
    return p == gel::Polarity::DarkBands ? "dark" : p == gel::Polarity::BrightBands ? "bright" : "auto";
}

// The result with where it came from: records() names the file.
struct Result {
    gel::Analysis analysis;
    std::optional<std::string> file;
};

// Grey values for the analysis: a view on an array or on a grey bitmap, a converted copy of a
// colour or palette image.
struct Grey {
    Pixels pixels;
    gel::GreyImage converted;
    gel::GreyView view;
    std::string conversion;
    std::optional<std::string> file;
};

bool greyRamp(const DalvoImage& image) {
    const RGBQUAD* palette = image.getPalette();
    if (!palette) return true;
    if (image.getPaletteSize() < 256 * sizeof(RGBQUAD)) return false;
    for (int i = 0; i < 256; ++i)
        if (palette[i].rgbRed != i || palette[i].rgbGreen != i || palette[i].rgbBlue != i) return false;
    return true;
}

Grey greyOf(const py::handle& source) {
    Grey g;
    if (py::isinstance<Image>(source)) {
        const Image& im = source.cast<const Image&>();
        if (!im.path.empty()) g.file = im.path;
        const DalvoImage& image = *im.image;
        const bool grey16 = image.getImageType() == FIT_UINT16;
        const bool grey8 =
            image.getImageType() == FIT_BITMAP && image.getBitsPerPixel() == 8 && greyRamp(image);
        if (!grey16 && !grey8) {
            py::gil_scoped_release unlocked;
            g.converted = gel::greyImage(image);
            g.view = g.converted.view();
            g.conversion = g.converted.conversion;
            return g;
        }
        g.conversion = grey16 ? "16-bit grey values as stored" : "8-bit grey values as stored";
    }
    g.pixels = pixelsOf(source, UInt8 | UInt16, "gel.analyse");
    const Pixels& p = g.pixels;
    g.view = p.sample == UInt8 ? gel::GreyView::of(p.top, p.width, p.height, p.stride)
                               : gel::GreyView::of(reinterpret_cast<const std::uint16_t*>(p.top), p.width,
                                                   p.height, p.stride);
    if (g.conversion.empty())
        g.conversion = p.sample == UInt8 ? "8-bit grey values as stored" : "16-bit grey values as stored";
    return g;
}

template <typename T>
T choice(const std::string& word, const char* what, std::initializer_list<std::pair<const char*, T>> words) {
    std::string known;
    for (const auto& w : words) {
        if (word == w.first) return w.second;
        known += (known.empty() ? "'" : ", '") + std::string(w.first) + "'";
    }
    throw py::value_error(std::string(what) + " is one of " + known + ", not '" + word + "'");
}

// A lane the caller places: (left, right) in the first tier, (tier, left, right), or anything
// with tier, left and right attributes (a Lane of an earlier result).
gel::LanePlacement placementOf(const py::handle& item) {
    if (py::hasattr(item, "left") && py::hasattr(item, "right"))
        return {py::hasattr(item, "tier") ? item.attr("tier").cast<int>() : 0,
                item.attr("left").cast<double>(), item.attr("right").cast<double>()};
    const auto v = item.cast<std::vector<double>>();
    if (v.size() == 2) return {0, v[0], v[1]};
    if (v.size() == 3 && v[0] == static_cast<int>(v[0])) return {static_cast<int>(v[0]), v[1], v[2]};
    throw py::value_error("a lane is placed as (left, right) or (tier, left, right)");
}

struct BandBox {
    int lane, top, bottom;
};

Result analyse(const py::handle& source, const py::object& lanes, const std::optional<int>& ladder,
               const std::optional<std::vector<double>>& sizes, const py::object& bands, int tiers,
               const std::string& polarity, const std::optional<std::array<int, 4>>& region,
               double minProminence, double minLaneProminence, double diffuseEdge,
               const std::string& background, const std::optional<std::pair<int, int>>& backgroundHalf,
               const std::string& fit, bool shoulders) {
    gel::Options o;
    std::vector<gel::LanePlacement> placements;
    if (!lanes.is_none() && PyIndex_Check(lanes.ptr())) {
        o.laneCount = py::int_(lanes).cast<int>();
        if (o.laneCount < 1) throw py::value_error("lanes: a lane count is 1 or more");
    } else if (!lanes.is_none()) {
        for (const py::handle item : lanes)
            placements.push_back(placementOf(item));
        if (placements.empty())
            throw py::value_error("lanes: place one lane at least, or give None to find them");
    }
    if (ladder.has_value() != sizes.has_value())
        throw py::value_error(ladder ? "ladder needs sizes, largest first"
                                     : "sizes need the ladder lane (ladder=)");
    if (ladder) {
        o.ladderLane = *ladder;
        o.ladderSizes = *sizes;
        if (o.ladderLane < 0)
            throw py::value_error("ladder is the index of a lane in result.lanes, 0 or more");
    }
    std::vector<BandBox> boxes;
    if (!bands.is_none())
        for (const py::handle item : bands) {
            const auto b = item.cast<std::array<int, 3>>();
            boxes.push_back({b[0], b[1], b[2]});
        }
    o.tiers = tiers;
    o.polarity = choice<gel::Polarity>(polarity, "polarity",
                                       {{"auto", gel::Polarity::Auto},
                                        {"bright", gel::Polarity::BrightBands},
                                        {"dark", gel::Polarity::DarkBands}});
    if (region) o.region = gel::Region{(*region)[0], (*region)[1], (*region)[2], (*region)[3]};
    o.minProminence = minProminence;
    o.minLaneProminence = minLaneProminence;
    o.diffuseEdge = diffuseEdge;
    o.background = choice<gel::VolumeBackground>(
        background, "background",
        {{"valleys", gel::VolumeBackground::LaneValleys}, {"minimum", gel::VolumeBackground::MovingMinimum}});
    if (backgroundHalf) {
        o.backgroundHalfWidth = backgroundHalf->first;
        o.backgroundHalfHeight = backgroundHalf->second;
    }
    o.sizeFit = choice<gel::SizeFit>(
        fit, "fit", {{"spline", gel::SizeFit::MonotoneSpline}, {"linear", gel::SizeFit::PiecewiseLinear}});
    o.shoulders = shoulders;

    Grey grey = greyOf(source);
    Result result;
    result.file = grey.file;
    gel::Analysis& an = result.analysis;
    {
        py::gil_scoped_release unlocked;
        if (placements.empty() && boxes.empty()) {
            an = gel::analyse(grey.view, o);
        } else {
            const gel::PreparedGel prepared(grey.view, o);
            // Found tiers come with their lanes, unless the lanes are placed by hand.
            gel::Layout layout = placements.empty() ? gel::findLayout(prepared, o)
                                                    : gel::Layout{gel::findTiers(prepared, o), {}};
            const std::vector<gel::Tier>& found = layout.tiers;
            std::vector<gel::Lane> ls =
                placements.empty() ? std::move(layout.lanes) : gel::placeLanes(prepared, found, placements);
            if (boxes.empty()) {
                an = gel::analyseLanes(prepared, found, std::move(ls), o);
            } else {
                for (gel::Lane& l : ls)
                    l.bands.clear();
                for (const BandBox& b : boxes) {
                    if (b.lane < 0 || static_cast<size_t>(b.lane) >= ls.size())
                        throw gel::ArgumentError("a band box names lane " + std::to_string(b.lane) + " of " +
                                                 std::to_string(ls.size()) + " lanes (0-based)");
                    ls[b.lane].bands.push_back(gel::measureBand(prepared, ls[b.lane], b.top, b.bottom, o));
                }
                an = gel::finishAnalysis(prepared, found, std::move(ls), o);
            }
        }
    }
    an.greyConversion = grey.conversion;
    return result;
}

std::pair<int, py::array> laneProfile(const py::handle& source, const gel::Lane& lane,
                                      const std::string& polarity,
                                      const std::optional<std::array<int, 4>>& region) {
    gel::Options o;
    o.polarity = choice<gel::Polarity>(polarity, "polarity",
                                       {{"auto", gel::Polarity::Auto},
                                        {"bright", gel::Polarity::BrightBands},
                                        {"dark", gel::Polarity::DarkBands}});
    if (region) o.region = gel::Region{(*region)[0], (*region)[1], (*region)[2], (*region)[3]};
    const Grey grey = greyOf(source);
    gel::LaneProfile profile;
    {
        py::gil_scoped_release unlocked;
        profile = gel::laneProfile(gel::PreparedGel(grey.view, o), lane);
    }
    return {profile.top,
            py::array_t<double>(static_cast<py::ssize_t>(profile.values.size()), profile.values.data())};
}

py::object optionalNumber(bool present, double value) {
    return present ? py::object(py::float_(value)) : py::object(py::none());
}

py::list records(const Result& r) {
    py::list out;
    const bool calibrated = r.analysis.calibration.valid();
    const py::object file = r.file ? py::object(py::str(*r.file)) : py::object(py::none());
    int tier = -1, inTier = 0;
    for (const gel::Lane& l : r.analysis.lanes) {
        inTier = l.tier == tier ? inTier + 1 : 1;
        tier = l.tier;
        for (const gel::Band& b : l.bands) {
            py::dict d;
            d["file"] = file;
            d["tier"] = l.tier + 1;
            d["lane"] = l.index + 1;
            d["lane in tier"] = inTier;
            d["band"] = b.index + 1;
            d["centre x"] = b.x;
            d["peak y"] = b.peakY;
            d["top"] = b.box.top;
            d["bottom"] = b.box.bottom - 1;
            d["raw volume"] = b.rawVolume;
            d["corrected volume"] = b.correctedVolume;
            d["relative volume"] = b.relativeVolume;
            d["saturated pixels"] = b.saturatedPixels;
            d["size"] = optionalNumber(calibrated, b.size);
            d["size extrapolated"] =
                calibrated ? py::object(py::bool_(b.extrapolated)) : py::object(py::none());
            d["volume is lower bound"] = b.saturated;
            d["diffuse"] = b.diffuse;
            out.append(d);
        }
    }
    return out;
}

} // namespace

void bindGel(py::module_& m) {
    py::class_<gel::Tier>(m, "Tier", "A row of wells and the lanes below it, down to the next tier.")
        .def_readonly("index", &gel::Tier::index)
        .def_readonly("top", &gel::Tier::top, "First row.")
        .def_readonly("bottom", &gel::Tier::bottom, "One past the last row.")
        .def_readonly("first_band_row", &gel::Tier::firstBandRow,
                      "The row below the wells: no band lies above it.")
        .def_readonly("wells_top", &gel::Tier::wellsTop, "First row of the wells' slots.")
        .def_readonly("wells_bottom", &gel::Tier::wellsBottom,
                      "One past their last row; equal to wells_top when the slots cannot be seen.")
        .def_readonly("slope", &gel::Tier::slope,
                      "Rows its rows fall per column to the right in a turned scan or photograph; the "
                      "rows above hold at `column`.")
        .def_readonly("column", &gel::Tier::column)
        .def_readonly("drift", &gel::Tier::drift,
                      "Columns its lanes run to the right per row down in a turned scan; they hold at "
                      "`drift_row` (each lane's tilt includes it).")
        .def_readonly("drift_row", &gel::Tier::driftRow)
        .def("row_at", &gel::Tier::rowAt, py::arg("row"), py::arg("x"),
             "Where a row of the tier lies at column x.")
        .def("__repr__", [](const gel::Tier& t) {
            return "<Tier " + std::to_string(t.index) + ": rows " + std::to_string(t.top) + ".." +
                   std::to_string(t.bottom) + ">";
        });

    py::class_<gel::Band>(m, "Band",
                          "A band: its place, box, volumes and flags. Positions are sub-pixel image\n"
                          "coordinates (x the column, y the row from the top); boxes are half-open.")
        .def_readonly("lane", &gel::Band::lane, "Index of its lane in result.lanes.")
        .def_readonly("index", &gel::Band::index, "0 for the band nearest the top of its lane.")
        .def_readonly("x", &gel::Band::x, "Lane centre at the peak row.")
        .def_readonly("peak_y", &gel::Band::peakY, "Row of the peak, sub-pixel.")
        .def_property_readonly(
            "box", [](const gel::Band& b) { return boxTuple(b.box); },
            "(left, top, right, bottom), half-open.")
        .def_property_readonly(
            "rows",
            [](const gel::Band& b) {
                py::list l;
                for (const gel::RowSpan& s : b.rows)
                    l.append(py::make_tuple(s.left, s.right));
                return l;
            },
            "The (left, right) columns summed in each row of the box, top first; they follow a bent lane.")
        .def_readonly("prominence", &gel::Band::prominence)
        .def_readonly("width", &gel::Band::width, "Rows between the half-prominence crossings.")
        .def_readonly("raw_volume", &gel::Band::rawVolume)
        .def_readonly("background_volume", &gel::Band::backgroundVolume)
        .def_readonly("corrected_volume", &gel::Band::correctedVolume)
        .def_readonly("relative_volume", &gel::Band::relativeVolume)
        .def_readonly("saturated_pixels", &gel::Band::saturatedPixels)
        .def_readonly("saturated", &gel::Band::saturated, "The volumes are lower bounds.")
        .def_readonly("size", &gel::Band::size, "Estimated size; 0 without a calibration.")
        .def_readonly("extrapolated", &gel::Band::extrapolated)
        .def_readonly("edge_width", &gel::Band::edgeWidth)
        .def_readonly("diffuse", &gel::Band::diffuse)
        .def_readonly("shoulder", &gel::Band::shoulder)
        .def_readonly("from_ladder", &gel::Band::fromLadder)
        .def("__repr__", [](const gel::Band& b) {
            return "<Band " + std::to_string(b.index) + " of lane " + std::to_string(b.lane) + " at y " +
                   std::to_string(b.peakY) + ">";
        });

    py::class_<gel::Lane>(m, "Lane",
                          "A lane: its tier, centre and edges (sub-pixel columns), path and bands.")
        .def_readonly("index", &gel::Lane::index, "Its index in result.lanes.")
        .def_readonly("tier", &gel::Lane::tier)
        .def_readonly("centre", &gel::Lane::centre)
        .def_readonly("left", &gel::Lane::left)
        .def_readonly("right", &gel::Lane::right)
        .def_property_readonly(
            "box", [](const gel::Lane& l) { return boxTuple(l.box); },
            "(left, top, right, bottom), half-open.")
        .def_readonly("prominence", &gel::Lane::prominence, "0 for a lane the caller placed.")
        .def_readonly("tilt", &gel::Lane::tilt)
        .def_readonly("bow", &gel::Lane::bow)
        .def_readonly("bands", &gel::Lane::bands)
        .def("centre_at", &gel::Lane::centreAt, py::arg("row"),
             "The lane's centre column at a row (lanes may bend).")
        .def("__repr__", [](const gel::Lane& l) {
            return "<Lane " + std::to_string(l.index) + ": centre " + std::to_string(l.centre) + ", " +
                   std::to_string(l.bands.size()) + " bands>";
        });

    py::class_<gel::Warning>(m, "Warning", "Something to know about a result: a code and a sentence.")
        .def_readonly("code", &gel::Warning::code)
        .def_readonly("text", &gel::Warning::text)
        .def("__repr__", [](const gel::Warning& w) { return "<Warning " + w.code + ": " + w.text + ">"; });

    py::class_<gel::SizeCalibration>(m, "Calibration",
                                     "Sizes from a ladder lane: log10(size) against migration distance.")
        .def_readonly("ladder_lane", &gel::SizeCalibration::ladderLane)
        .def_property_readonly("fit",
                               [](const gel::SizeCalibration& c) {
                                   return c.fit == gel::SizeFit::PiecewiseLinear ? "linear" : "spline";
                               })
        .def_readonly("positions", &gel::SizeCalibration::positions,
                      "Migration distances of the ladder bands used.")
        .def_readonly("sizes", &gel::SizeCalibration::sizes)
        .def(
            "size_at",
            [](const gel::SizeCalibration& c, double d) {
                bool extrapolated = false;
                const double s = c.sizeAt(d, &extrapolated);
                return py::make_tuple(s, extrapolated);
            },
            py::arg("distance"), "(size, extrapolated) at a migration distance.")
        .def("leave_one_out", &gel::SizeCalibration::leaveOneOut,
             "For each ladder band, the size the fit gives it from the other bands alone.");

    py::class_<Result>(m, "Result", "What gel.analyse found.")
        .def_property_readonly("width", [](const Result& r) { return r.analysis.width; })
        .def_property_readonly("height", [](const Result& r) { return r.analysis.height; })
        .def_property_readonly("saturation_level", [](const Result& r) { return r.analysis.maxValue; })
        .def_property_readonly(
            "polarity", [](const Result& r) { return polarityWord(r.analysis.polarity); },
            "'bright' or 'dark' bands, as used.")
        .def_property_readonly("polarity_detected",
                               [](const Result& r) { return r.analysis.polarityDetected; })
        .def_property_readonly(
            "grey", [](const Result& r) { return r.analysis.greyConversion; },
            "How the pixels became grey values.")
        .def_property_readonly(
            "file", [](const Result& r) { return r.file; }, "The image's file, or None.")
        .def_property_readonly("tiers", [](const Result& r) { return r.analysis.tiers; })
        .def_property_readonly(
            "lanes", [](const Result& r) { return r.analysis.lanes; }, "Tier by tier, left to right.")
        .def_property_readonly(
            "bands", [](const Result& r) { return r.analysis.bands(); }, "All bands, lane by lane.")
        .def_property_readonly("warnings", [](const Result& r) { return r.analysis.warnings; })
        .def_property_readonly(
            "calibration",
            [](const Result& r) {
                return r.analysis.calibration.valid() ? py::cast(r.analysis.calibration)
                                                      : py::object(py::none());
            },
            "The size calibration, or None without a ladder.")
        .def("records", &records,
             "One dict a band, the columns of kestro lanes' bands.csv: file, tier, lane, lane in tier, band "
             "(from 1),\n"
             "centre x, peak y, top, bottom (rows, inclusive), raw volume, corrected volume, relative\n"
             "volume, saturated pixels, size, size extrapolated (None without a calibration), volume\n"
             "is lower bound, diffuse. pandas.DataFrame(result.records()) takes it as it is.")
        .def("__repr__", [](const Result& r) {
            return "<gel.Result " + std::to_string(r.analysis.lanes.size()) + " lanes, " +
                   std::to_string(r.analysis.bands().size()) + " bands, " +
                   std::to_string(r.analysis.warnings.size()) + " warnings>";
        });

    m.def("lane_profile", &laneProfile, py::arg("image"), py::arg("lane"), py::kw_only(),
          py::arg("polarity") = "auto", py::arg("region") = py::none(),
          "(top, values): a lane's profile as the analysis reads it, row by row from row top over its\n"
          "tier, the mean of the middle half of its columns (following its path), with bright bands.\n"
          "Give the polarity and region the analysis was given.");

    m.def("analyse", &analyse, py::arg("image"), py::arg("lanes") = py::none(),
          py::arg("ladder") = py::none(), py::arg("sizes") = py::none(), py::kw_only(),
          py::arg("bands") = py::none(), py::arg("tiers") = 0, py::arg("polarity") = "auto",
          py::arg("region") = py::none(), py::arg("min_prominence") = 0.03,
          py::arg("min_lane_prominence") = 0.12, py::arg("diffuse_edge") = 1.4,
          py::arg("background") = "valleys", py::arg("background_half") = py::none(),
          py::arg("fit") = "spline", py::arg("shoulders") = true,
          "Finds the tiers, lanes and bands of a gel and measures the bands.\n\n"
          "image: a kestroimage.Image (grey, palette or colour; colour by luma) or a 2-D uint8 or\n"
          "uint16 array (read in place, without a copy).\n"
          "lanes: None to find them, a number of lanes per tier, or the lanes to use: (left, right)\n"
          "  columns in the first tier, (tier, left, right), or Lane objects of an earlier result.\n"
          "ladder, sizes: the index of the ladder lane in result.lanes (0-based) and its band sizes,\n"
          "  largest first, for the size calibration.\n"
          "bands: band boxes to measure instead of finding bands: (lane index, top row, bottom row\n"
          "  excluded) each.\n"
          "tiers: rows of wells, 0 to find them. polarity: 'auto', 'bright' (bands brighter than\n"
          "the gel) or 'dark'. region: (x, y, width, height) to analyse only part of the image\n"
          "  (by default the image less a black or white margin along its edges).\n"
          "min_prominence: least band prominence, a fraction of the gel's profile range.\n"
          "min_lane_prominence: least lane prominence, a fraction of the strongest lane's.\n"
          "diffuse_edge: bands whose sides spread over this many times the median band's are\n"
          "flagged diffuse (0: none). background: 'valleys' (a line between the box's top and bottom\n"
          "rows) or 'minimum' (the moving minimum under the box), background_half its window's half\n"
          "sizes. fit: 'spline' (monotone cubic of log10 size) or 'linear'. shoulders: also find\n"
          "bands that are only shoulders on a brighter band.\n\n"
          "ValueError with the library's reason for arguments it cannot use. The interpreter's lock\n"
          "is released while it works, so threads analyse gels in parallel.");
}

} // namespace kestro::python
