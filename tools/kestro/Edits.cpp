#include "Edits.h"

#include "Records.h"
#include "Support.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>

namespace kestro {

namespace {

using Json = nlohmann::json;

constexpr size_t kMaxEditsBytes = 16u << 20;
constexpr int kMaxRow = 1 << 24;

struct Reader {
    const std::string& name;

    [[noreturn]] void fail(const std::string& field, const std::string& why) const {
        throw ToolError(name + ": " + field + ": " + why);
    }
    const Json& object(const Json& j, const std::string& field,
                       const std::vector<const char*>& allowed) const {
        if (!j.is_object()) fail(field, "must be an object");
        for (const auto& item : j.items()) {
            const std::string key = item.key();
            if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return key == a; }))
                fail(field, "unknown field '" + key + "'");
        }
        return j;
    }
    bool has(const Json& j, const char* key) const { return j.contains(key); }
    double number(const Json& j, const std::string& field, const char* key, double lo, double hi) const {
        const std::string f = field + "." + key;
        if (!j.contains(key)) fail(f, "is missing");
        const Json& v = j.at(key);
        if (!v.is_number()) fail(f, "must be a number");
        const double d = v.get<double>();
        if (!std::isfinite(d) || d < lo || d > hi)
            fail(f, "must lie between " + fullNumber(lo) + " and " + fullNumber(hi));
        return d;
    }
    int integer(const Json& j, const std::string& field, const char* key, int lo, int hi) const {
        const double d = number(j, field, key, lo, hi);
        if (d != std::floor(d)) fail(field + "." + key, "must be a whole number");
        return static_cast<int>(d);
    }
    const Json& list(const Json& root, const char* key) const {
        const Json& v = root.at(key);
        if (!v.is_array()) fail(key, "must be a list");
        return v;
    }
    GelEdits::BandRows bandRows(const Json& j, const std::string& f) const {
        object(j, f, {"tier", "lane", "top", "bottom"});
        GelEdits::BandRows b{integer(j, f, "tier", 1, 64) - 1, integer(j, f, "lane", 1, 10000) - 1,
                             integer(j, f, "top", 0, kMaxRow), integer(j, f, "bottom", 0, kMaxRow)};
        if (b.bottom <= b.top) fail(f, "bottom must be greater than top (rows top .. bottom - 1)");
        return b;
    }
};

std::string at(const char* list, size_t k) {
    return std::string(list) + "[" + std::to_string(k + 1) + "]";
}

} // namespace

GelEdits parseEdits(const std::string& text, const std::string& name) {
    const Reader r{name};
    if (text.size() > kMaxEditsBytes)
        throw ToolError(name + ": too large for an edits file (" + std::to_string(text.size()) + " bytes)");
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::parse_error& e) {
        // nlohmann says "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
        std::string what = e.what();
        const size_t p = what.find("at line");
        throw ToolError(name + ": not JSON, " + (p == std::string::npos ? what : what.substr(p)));
    }
    r.object(root, "the file",
             {"kestroEdits", "lanes", "removedLanes", "bands", "addedBands", "removedBands"});
    if (!root.contains("kestroEdits") || root["kestroEdits"] != 1)
        r.fail("kestroEdits", "must be 1 (the version of the format)");
    GelEdits e;
    if (root.contains("lanes")) {
        e.replaceLanes = true;
        const Json& l = r.list(root, "lanes");
        for (size_t k = 0; k < l.size(); ++k) {
            const std::string f = at("lanes", k);
            r.object(l[k], f, {"tier", "centre", "width", "left", "right", "path"});
            gel::LanePlacement a;
            a.tier = r.integer(l[k], f, "tier", 1, 64) - 1;
            const bool centred = l[k].contains("centre") || l[k].contains("width");
            if (centred == (l[k].contains("left") || l[k].contains("right")))
                r.fail(f, "give either centre and width or left and right");
            if (centred) {
                const double c = r.number(l[k], f, "centre", -1e7, 1e7),
                             w = r.number(l[k], f, "width", 0, 1e7);
                a.left = c - w / 2;
                a.right = c + w / 2;
            } else {
                a.left = r.number(l[k], f, "left", -1e7, 1e7);
                a.right = r.number(l[k], f, "right", -1e7, 1e7);
            }
            if (!(a.right > a.left)) r.fail(f, "a lane must be wider than 0 columns");
            if (l[k].contains("path")) {
                const Json& p =
                    r.object(l[k]["path"], f + ".path", {"centre", "tilt", "bow", "top", "bottom"});
                const std::string fp = f + ".path";
                a.centre = r.number(p, fp, "centre", a.left, a.right);
                a.tilt = r.number(p, fp, "tilt", -1, 1);
                a.bow = r.number(p, fp, "bow", -1, 1);
                a.pathTop = r.number(p, fp, "top", 0, kMaxRow);
                a.pathBottom = r.number(p, fp, "bottom", a.pathTop, kMaxRow);
            }
            e.lanes.push_back(a);
        }
    }
    if (root.contains("removedLanes")) {
        const Json& l = r.list(root, "removedLanes");
        for (size_t k = 0; k < l.size(); ++k) {
            const std::string f = at("removedLanes", k);
            r.object(l[k], f, {"tier", "lane"});
            e.removedLanes.push_back(
                {r.integer(l[k], f, "tier", 1, 64) - 1, r.integer(l[k], f, "lane", 1, 10000) - 1});
        }
    }
    if (root.contains("bands")) {
        e.replaceBands = true;
        const Json& l = r.list(root, "bands");
        for (size_t k = 0; k < l.size(); ++k)
            e.bands.push_back(r.bandRows(l[k], at("bands", k)));
    }
    if (root.contains("addedBands")) {
        const Json& l = r.list(root, "addedBands");
        for (size_t k = 0; k < l.size(); ++k)
            e.addedBands.push_back(r.bandRows(l[k], at("addedBands", k)));
    }
    if (root.contains("removedBands")) {
        const Json& l = r.list(root, "removedBands");
        for (size_t k = 0; k < l.size(); ++k) {
            const std::string f = at("removedBands", k);
            r.object(l[k], f, {"tier", "lane", "row"});
            e.removedBands.push_back({r.integer(l[k], f, "tier", 1, 64) - 1,
                                      r.integer(l[k], f, "lane", 1, 10000) - 1,
                                      r.number(l[k], f, "row", 0, kMaxRow)});
        }
    }
    return e;
}

GelEdits readEdits(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError(path + ": cannot open the edits file");
    std::string text;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxEditsBytes) throw ToolError(path + ": too large for an edits file");
    }
    return parseEdits(text, path);
}

std::string editsText(const GelEdits& e) {
    // Plain numbers and one entry per line: a file people edit by hand and diff.
    std::string s = "{\n  \"kestroEdits\": 1";
    const auto list = [&](const char* key, size_t n, const auto& entry) {
        s += ",\n  \"" + std::string(key) + "\": [";
        for (size_t k = 0; k < n; ++k)
            s += std::string(k ? ",\n    " : "\n    ") + entry(k);
        s += n ? "\n  ]" : "]";
    };
    const auto n = [](double v) { return fullNumber(v); };
    const auto i = [](int v) { return std::to_string(v); };
    if (e.replaceLanes)
        list("lanes", e.lanes.size(), [&](size_t k) {
            const auto& l = e.lanes[k];
            // Edges, not centre and width: they replay to the very same columns. A lane found
            // where the profile's peak is not midway between its edges, or bent, keeps its path.
            std::string path;
            if (!std::isnan(l.centre))
                path = ", \"path\": {\"centre\": " + n(l.centre) + ", \"tilt\": " + n(l.tilt) +
                       ", \"bow\": " + n(l.bow) + ", \"top\": " + n(l.pathTop) +
                       ", \"bottom\": " + n(l.pathBottom) + "}";
            return "{\"tier\": " + i(l.tier + 1) + ", \"left\": " + n(l.left) + ", \"right\": " + n(l.right) +
                   path + "}";
        });
    list("removedLanes", e.removedLanes.size(), [&](size_t k) {
        return "{\"tier\": " + i(e.removedLanes[k].tier + 1) +
               ", \"lane\": " + i(e.removedLanes[k].lane + 1) + "}";
    });
    const auto rows = [&](const GelEdits::BandRows& b) {
        return "{\"tier\": " + i(b.tier + 1) + ", \"lane\": " + i(b.lane + 1) + ", \"top\": " + i(b.top) +
               ", \"bottom\": " + i(b.bottom) + "}";
    };
    if (e.replaceBands) list("bands", e.bands.size(), [&](size_t k) { return rows(e.bands[k]); });
    list("addedBands", e.addedBands.size(), [&](size_t k) { return rows(e.addedBands[k]); });
    list("removedBands", e.removedBands.size(), [&](size_t k) {
        const auto& b = e.removedBands[k];
        return "{\"tier\": " + i(b.tier + 1) + ", \"lane\": " + i(b.lane + 1) + ", \"row\": " + n(b.row) +
               "}";
    });
    return s + "\n}\n";
}

namespace {

// Each lane's number within its tier, left to right.
std::vector<int> numbersInTier(const std::vector<gel::Lane>& lanes) {
    std::vector<int> n(lanes.size());
    std::map<int, int> next;
    for (size_t k = 0; k < lanes.size(); ++k)
        n[k] = next[lanes[k].tier]++;
    return n;
}

} // namespace

GelEdits editsOf(const gel::Analysis& a) {
    GelEdits e;
    e.replaceLanes = e.replaceBands = true;
    const std::vector<int> n = numbersInTier(a.lanes);
    for (size_t k = 0; k < a.lanes.size(); ++k) {
        const gel::Lane& l = a.lanes[k];
        e.lanes.push_back(gel::LanePlacement::of(l));
        for (const gel::Band& b : l.bands)
            e.bands.push_back({l.tier, n[k], b.box.top, b.box.bottom});
    }
    return e;
}

bool RowLimits::keeps(double row) const {
    if (limited && !(row >= top && row < bottom)) return false;
    return std::none_of(excluded.begin(), excluded.end(),
                        [&](const std::pair<int, int>& r) { return row >= r.first && row < r.second; });
}

gel::Analysis replayEdits(const gel::PreparedGel& gel, const std::vector<gel::Tier>& tiers,
                          std::vector<gel::Lane> lanes, const GelEdits& e, const RowLimits& limits,
                          const gel::Options& options, const std::vector<LadderRef>& ladders) {
    const int tierCount = static_cast<int>(tiers.size());
    const auto checkTier = [&](int tier, const std::string& field) {
        if (tier >= tierCount)
            throw ToolError("edits: " + field + ": tier " + std::to_string(tier + 1) + ", but the gel has " +
                            std::to_string(tierCount) + (tierCount == 1 ? " tier" : " tiers"));
    };
    try {
        if (e.replaceLanes) {
            for (size_t k = 0; k < e.lanes.size(); ++k)
                checkTier(e.lanes[k].tier, at("lanes", k));
            std::vector<gel::LanePlacement> placed = e.lanes;
            std::stable_sort(
                placed.begin(), placed.end(), [](const gel::LanePlacement& a, const gel::LanePlacement& b) {
                    return a.tier != b.tier ? a.tier < b.tier : a.left + a.right < b.left + b.right;
                });
            lanes = gel::placeLanes(gel, tiers, placed);
        }
        if (!e.removedLanes.empty()) {
            const std::vector<int> n = numbersInTier(lanes);
            std::vector<bool> drop(lanes.size(), false);
            for (size_t k = 0; k < e.removedLanes.size(); ++k) {
                const auto& r = e.removedLanes[k];
                checkTier(r.tier, at("removedLanes", k));
                bool found = false;
                for (size_t i = 0; i < lanes.size(); ++i)
                    if (lanes[i].tier == r.tier && n[i] == r.lane) found = drop[i] = true;
                if (!found)
                    throw ToolError("edits: " + at("removedLanes", k) + ": tier " +
                                    std::to_string(r.tier + 1) + " has no lane " +
                                    std::to_string(r.lane + 1));
            }
            std::vector<gel::Lane> kept;
            for (size_t i = 0; i < lanes.size(); ++i)
                if (!drop[i]) kept.push_back(lanes[i]);
            lanes = std::move(kept);
        }
        gel::Options o = options;
        o.ladderLane = -1;
        const std::vector<int> numbers = numbersInTier(lanes);
        for (size_t k = 0; k < lanes.size(); ++k)
            for (const LadderRef& ref : ladders)
                if ((ref.tier < 0 || ref.tier == lanes[k].tier) && numbers[k] == ref.lane - 1)
                    o.ladderLanes.push_back(static_cast<int>(k));
        gel::Analysis a = gel::analyseLanes(gel, tiers, std::move(lanes), o);
        const std::vector<int> n = numbersInTier(a.lanes);
        const auto laneOf = [&](int tier, int lane, const std::string& field) -> gel::Lane& {
            checkTier(tier, field);
            for (size_t i = 0; i < a.lanes.size(); ++i)
                if (a.lanes[i].tier == tier && n[i] == lane) return a.lanes[i];
            throw ToolError("edits: " + field + ": tier " + std::to_string(tier + 1) + " has no lane " +
                            std::to_string(lane + 1));
        };
        const auto measure = [&](const GelEdits::BandRows& b, const std::string& field) {
            gel::Lane& l = laneOf(b.tier, b.lane, field);
            try {
                l.bands.push_back(gel::measureBand(gel, l, b.top, b.bottom, o));
            } catch (const gel::ArgumentError& x) {
                throw ToolError("edits: " + field + ": " + x.what());
            }
        };
        if (e.replaceBands) {
            // A band listed with the very rows the search gave it is that band, measured as the
            // search measured it (its own baseline, shoulders, flags): a file written from an
            // analysis replays to the same analysis, and a drawn box only where the user drew one.
            std::vector<std::vector<gel::Band>> found(a.lanes.size());
            for (size_t i = 0; i < a.lanes.size(); ++i)
                found[i].swap(a.lanes[i].bands);
            for (size_t k = 0; k < e.bands.size(); ++k) {
                const GelEdits::BandRows& b = e.bands[k];
                gel::Lane& l = laneOf(b.tier, b.lane, at("bands", k));
                std::vector<gel::Band>& mine = found[static_cast<size_t>(&l - a.lanes.data())];
                const auto same = std::find_if(mine.begin(), mine.end(), [&](const gel::Band& f) {
                    return f.box.top == b.top && f.box.bottom == b.bottom;
                });
                if (same != mine.end())
                    l.bands.push_back(*same);
                else
                    measure(b, at("bands", k));
            }
        } else {
            for (gel::Lane& l : a.lanes)
                l.bands.erase(std::remove_if(l.bands.begin(), l.bands.end(),
                                             [&](const gel::Band& b) { return !limits.keeps(b.peakY); }),
                              l.bands.end());
        }
        for (size_t k = 0; k < e.removedBands.size(); ++k) {
            const auto& r = e.removedBands[k];
            gel::Lane& l = laneOf(r.tier, r.lane, at("removedBands", k));
            const auto hit = std::find_if(l.bands.begin(), l.bands.end(), [&](const gel::Band& b) {
                return r.row >= b.box.top && r.row < b.box.bottom;
            });
            if (hit == l.bands.end())
                throw ToolError("edits: " + at("removedBands", k) + ": lane " + std::to_string(r.lane + 1) +
                                " of tier " + std::to_string(r.tier + 1) + " has no band at row " +
                                fullNumber(r.row));
            l.bands.erase(hit);
        }
        for (size_t k = 0; k < e.addedBands.size(); ++k)
            measure(e.addedBands[k], at("addedBands", k));
        return gel::finishAnalysis(gel, tiers, std::move(a.lanes), o);
    } catch (const gel::ArgumentError& x) {
        throw ToolError(std::string("edits: ") + x.what());
    }
}

} // namespace kestro
