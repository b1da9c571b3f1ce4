#include "ViewServer.h"

#include "../Records.h"
#include "Assets.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>

namespace kestro::view {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using OJson = nlohmann::ordered_json;

namespace {

constexpr size_t kMostBodyBytes = 4u << 20;
constexpr int kMostNesting = 16;
constexpr size_t kMostLoaded = 3; // gels kept in memory at once
constexpr long long kMostImagePixels = 4096LL * 4096;
constexpr int kPreviewSide = 2048;

// A request that cannot be served as asked: its status and a sentence for the page.
struct Refusal {
    int status;
    std::string message;
};

std::string randomToken() {
    std::random_device device;
    std::string token;
    static const char* hex = "0123456789abcdef";
    for (int i = 0; i < 32; ++i)
        token += hex[device() % 16];
    return token;
}

bool sameText(const std::string& a, const std::string& b) {
    // Compared whole, so that the time taken says nothing about where a guess went wrong.
    unsigned diff = static_cast<unsigned>(a.size() ^ b.size());
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    return diff == 0;
}

// Deep nesting would take the JSON reader's stack far before the size limit: refused unread.
bool shallow(const std::string& text) {
    int depth = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMostNesting) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

// What a page asks for: its edits and the ladder, which the page picks and the command line
// names with --ladder and --sizes.
struct Request {
    GelEdits edits;
    GelArgs args;
};

Request parseRequest(const std::string& body, const GelArgs& base) {
    if (!shallow(body)) throw Refusal{400, "the request is nested too deeply"};
    Json root;
    try {
        root = Json::parse(body);
    } catch (const Json::exception& e) {
        throw Refusal{400, std::string("the request is not JSON: ") + e.what()};
    }
    if (!root.is_object()) throw Refusal{400, "the request must be a JSON object"};
    for (const auto& item : root.items())
        if (item.key() != "edits" && item.key() != "ladder" && item.key() != "sizes" && item.key() != "fit")
            throw Refusal{400, "unknown field '" + item.key() + "'"};
    if (!root.contains("edits")) throw Refusal{400, "the request has no edits"};
    Request r;
    r.args = base;
    try {
        // The edits go through the reader of --edits files, word for word.
        r.edits = parseEdits(root["edits"].dump(), "edits");
    } catch (const ToolError& e) {
        throw Refusal{400, e.what()};
    }
    if (root.contains("ladder")) {
        const Json& l = root["ladder"];
        if (!l.is_array() || l.size() > 64)
            throw Refusal{400, "ladder: must be a list of at most 64 lanes such as \"1:1\""};
        r.args.ladder.clear();
        for (const Json& item : l) {
            if (!item.is_string() || item.get<std::string>().size() > 16)
                throw Refusal{400, "ladder: each lane is text such as \"1:1\" (tier:lane)"};
            r.args.ladder.push_back(item.get<std::string>());
        }
    }
    if (root.contains("sizes")) {
        const Json& s = root["sizes"];
        if (!s.is_array() || s.size() > 1000)
            throw Refusal{400, "sizes: must be a list of at most 1000 numbers"};
        r.args.sizes.clear();
        for (const Json& item : s) {
            if (!item.is_number() || !std::isfinite(item.get<double>()) || !(item.get<double>() > 0) ||
                item.get<double>() > 1e12)
                throw Refusal{400, "sizes: each size is a number above 0"};
            r.args.sizes.push_back(item.get<double>());
        }
    }
    if (root.contains("fit")) {
        if (!root["fit"].is_string() || (root["fit"] != "spline" && root["fit"] != "linear"))
            throw Refusal{400, "fit: spline or linear"};
        r.args.fit = root["fit"].get<std::string>();
    }
    if (r.args.ladder.empty()) r.args.sizes.clear();
    if (!r.args.masses.empty() && r.args.masses.size() != r.args.sizes.size()) r.args.masses.clear();
    try {
        r.args.check();
    } catch (const ToolError& e) {
        throw Refusal{400, e.what()};
    }
    return r;
}

// How the picture is shown: the library's display settings.
struct Display {
    std::string palette = "normal";
    double brightness = 0, contrast = 0, gamma = 1;
    bool operator==(const Display& o) const {
        return palette == o.palette && brightness == o.brightness && contrast == o.contrast &&
               gamma == o.gamma;
    }
};

const std::map<std::string, enPalette> kPalettes = {{"normal", PaletteNormal},
                                                    {"green", PaletteShadesOfGreen},
                                                    {"red", PaletteShadesOfRed},
                                                    {"blue", PaletteShadesOfBlue},
                                                    {"auto", PaletteAutoContrast}};

// A gel in memory: the stages no edit changes, and the picture the display pass draws from.
struct Loaded {
    GelStage stage;
    int saturation = 0; // the grey value at which a pixel is saturated
    std::mutex drawing; // the display image is drawn by one request at a time
    std::unique_ptr<DalvoImage> display;
    Display shown;
    bool drawn = false;
};

struct Gel {
    std::string file;
    std::string name;
    fs::path out;
    std::string stem;
    std::mutex mutex; // guards what follows
    std::shared_ptr<Loaded> loaded;
    std::string error;
    unsigned long long lastUse = 0;

    std::string path(const char* suffix) const { return (out / (stem + suffix)).string(); }
};

std::string encodePng(const std::vector<BYTE>& rgb, int width, int height) {
    FIBITMAP* dib = FreeImage_Allocate(width, height, 24);
    if (!dib) throw Refusal{500, "no memory for the picture"};
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, height - 1 - y);
        const BYTE* from = &rgb[static_cast<size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x) {
            line[3 * x + FI_RGBA_RED] = from[3 * x];
            line[3 * x + FI_RGBA_GREEN] = from[3 * x + 1];
            line[3 * x + FI_RGBA_BLUE] = from[3 * x + 2];
        }
    }
    FIMEMORY* memory = FreeImage_OpenMemory();
    std::string png;
    if (memory && FreeImage_SaveToMemory(FIF_PNG, dib, memory, PNG_Z_BEST_SPEED)) {
        BYTE* data = nullptr;
        DWORD size = 0;
        if (FreeImage_AcquireMemory(memory, &data, &size))
            png.assign(reinterpret_cast<const char*>(data), size);
    }
    if (memory) FreeImage_CloseMemory(memory);
    FreeImage_Unload(dib);
    if (png.empty()) throw Refusal{500, "the picture could not be encoded"};
    return png;
}

int integerParam(const httplib::Request& req, const char* name, int lo, int hi, int fallback) {
    if (!req.has_param(name)) return fallback;
    const std::optional<int> number = wholeNumber(req.get_param_value(name));
    if (!number) throw Refusal{400, std::string(name) + ": a whole number"};
    const int v = *number;
    if (v < lo || v > hi)
        throw Refusal{400, std::string(name) + ": from " + std::to_string(lo) + " to " + std::to_string(hi)};
    return v;
}

double numberParam(const httplib::Request& req, const char* name, double lo, double hi, double fallback) {
    if (!req.has_param(name)) return fallback;
    const std::string text = req.get_param_value(name);
    char* end = nullptr;
    const double v = text.size() > 32 ? NAN : std::strtod(text.c_str(), &end);
    if (text.empty() || !end || *end || !std::isfinite(v) || v < lo || v > hi)
        throw Refusal{400, std::string(name) + ": a number from " + fullNumber(lo) + " to " + fullNumber(hi)};
    return v;
}

void sendJson(httplib::Response& res, const OJson& j, int status = 200) {
    res.status = status;
    // With its charset the type is not one httplib compresses: its Brotli at full quality takes
    // seconds over a gel's profiles, far longer than sending them over the loopback or a tunnel.
    res.set_content(j.dump(-1, ' ', false, Json::error_handler_t::replace),
                    "application/json; charset=utf-8");
}

} // namespace

struct ViewServer::Impl {
    ViewOptions options;
    std::string token = randomToken();
    std::vector<std::unique_ptr<Gel>> gels;
    httplib::Server server;
    std::string host = "127.0.0.1";
    int port = 0;
    std::mutex loading; // one gel is loaded at a time: loads take memory and both cores
    std::mutex saving;  // saves one after the other, so tables and report always agree
    std::atomic<unsigned long long> clock{0};

    // The gel of an index from a request; 404 for any other.
    Gel& gelAt(const std::string& digits) {
        if (digits.empty() || digits.size() > 6) throw Refusal{404, "no such gel"};
        const size_t k = std::stoul(digits);
        if (k >= gels.size()) throw Refusal{404, "no such gel"};
        return *gels[k];
    }

    // The gel in memory, loaded on first use; a gel that cannot be loaded says why (422), and
    // says it again on every later request without trying again.
    std::shared_ptr<Loaded> load(Gel& g) {
        {
            std::lock_guard<std::mutex> lock(g.mutex);
            g.lastUse = ++clock;
            if (g.loaded) return g.loaded;
            if (!g.error.empty()) throw Refusal{422, g.error};
        }
        std::lock_guard<std::mutex> one(loading);
        {
            std::lock_guard<std::mutex> lock(g.mutex);
            if (g.loaded) return g.loaded;
            if (!g.error.empty()) throw Refusal{422, g.error};
        }
        auto l = std::make_shared<Loaded>();
        std::string error;
        try {
            l->stage = stageGel(g.file, options.gel);
            l->saturation =
                l->stage.prepared->polarity() == gel::Polarity::DarkBands ? 0 : l->stage.grey->maxValue;
            l->display = spreadTo16Bits(l->stage.grey->pixels.data(), l->stage.grey->width,
                                        l->stage.grey->height, "the picture of the gel");
        } catch (const ToolError& e) {
            error = e.what();
        } catch (const std::bad_alloc&) {
            error = g.file + ": out of memory";
        } catch (const CException& e) {
            error = g.file + ": " + e.GetErrorMessage().ToUtf8();
        }
        {
            std::lock_guard<std::mutex> lock(g.mutex);
            if (!error.empty()) {
                g.error = error;
                throw Refusal{422, error};
            }
            g.loaded = l;
        }
        evict();
        return l;
    }

    // Keeps the most recently used gels in memory; a request still at work keeps its own. Called
    // under the loading mutex; the gels' own mutexes are taken one at a time.
    void evict() {
        std::vector<std::pair<unsigned long long, Gel*>> held;
        for (auto& g : gels) {
            std::lock_guard<std::mutex> lock(g->mutex);
            if (g->loaded) held.push_back({g->lastUse, g.get()});
        }
        if (held.size() <= kMostLoaded) return;
        std::sort(held.begin(), held.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (size_t k = kMostLoaded; k < held.size(); ++k) {
            std::lock_guard<std::mutex> lock(held[k].second->mutex);
            held[k].second->loaded.reset();
        }
    }

    std::string image(Gel& g, const httplib::Request& req) {
        const std::shared_ptr<Loaded> l = load(g);
        const gel::GreyImage& grey = *l->stage.grey;
        const int step = integerParam(req, "step", 1, 256, 1);
        const int x = integerParam(req, "x", 0, grey.width - 1, 0),
                  y = integerParam(req, "y", 0, grey.height - 1, 0);
        const int w = integerParam(req, "w", 1, grey.width - x, grey.width - x);
        const int h = integerParam(req, "h", 1, grey.height - y, grey.height - y);
        if (x % step || y % step) throw Refusal{400, "x and y must be multiples of step"};
        const int cw = (w + step - 1) / step, ch = (h + step - 1) / step;
        if (static_cast<long long>(cw) * ch > kMostImagePixels)
            throw Refusal{400, "the picture asked for is too large; give a larger step"};
        Display d;
        d.palette = req.has_param("palette") ? req.get_param_value("palette") : "normal";
        if (!kPalettes.count(d.palette)) throw Refusal{400, "palette: normal, green, red, blue or auto"};
        d.brightness = numberParam(req, "brightness", -100, 100, 0);
        d.contrast = numberParam(req, "contrast", -100, 100, 0);
        d.gamma = numberParam(req, "gamma", 0.05, 20, 1);
        const bool red = integerParam(req, "saturated", 0, 1, 1) == 1;

        CDC dc;
        std::vector<BYTE> rgb;
        {
            std::lock_guard<std::mutex> lock(l->drawing);
            if (!l->drawn || !(l->shown == d)) {
                l->display->setPalette(kPalettes.at(d.palette));
                l->display->setImageAdjustmentValues(d.brightness, d.contrast, d.gamma);
                l->display->setModified();
                l->shown = d;
                l->drawn = true;
            }
            if (!dc.CreateCanvas(cw, ch)) throw Refusal{500, "no memory for the picture"};
            // The whole gel drawn at the step's scale, shifted so that the region asked for
            // lands on the canvas; what falls outside is clipped, not drawn.
            const int left = -x / step, top = -y / step;
            const CRect whole(left, top, left + (grey.width + step - 1) / step,
                              top + (grey.height + step - 1) / step);
            l->display->draw(&dc, &whole);
            rgb = dc.GetSafeHdc()->rgb;
        }
        if (red) {
            // A saturated pixel anywhere in the block a canvas pixel stands for shows red.
            for (int j = 0; j < ch; ++j)
                for (int i = 0; i < cw; ++i) {
                    bool hit = false;
                    for (int sy = y + j * step; !hit && sy < std::min(grey.height, y + (j + 1) * step); ++sy)
                        for (int sx = x + i * step; sx < std::min(grey.width, x + (i + 1) * step); ++sx)
                            if (grey.pixels[static_cast<size_t>(sy) * grey.width + sx] == l->saturation) {
                                hit = true;
                                break;
                            }
                    if (hit) {
                        BYTE* p = &rgb[(static_cast<size_t>(j) * cw + i) * 3];
                        p[0] = 255;
                        p[1] = p[2] = 0;
                    }
                }
        }
        return encodePng(rgb, cw, ch);
    }

    OJson gelInfo(Gel& g) {
        const std::shared_ptr<Loaded> l = load(g);
        const gel::GreyImage& grey = *l->stage.grey;
        GelEdits edits;
        std::string note;
        std::error_code ec;
        if (fs::exists(g.path(".edits.json"), ec)) {
            try {
                edits = readEdits(g.path(".edits.json"));
                note = "resumed from " + g.path(".edits.json");
            } catch (const ToolError& e) {
                note = std::string(e.what()) + "; starting from the lanes found";
            }
        }
        int step = 1;
        while ((grey.width + step - 1) / step > kPreviewSide ||
               (grey.height + step - 1) / step > kPreviewSide)
            ++step;
        return {{"index", indexOf(g)},
                {"name", g.name},
                {"file", g.file},
                {"width", grey.width},
                {"height", grey.height},
                {"maxValue", grey.maxValue},
                {"previewStep", step},
                {"edits", OJson::parse(editsText(edits))},
                {"ladder", options.gel.ladder},
                {"sizes", options.gel.sizes},
                {"fit", options.gel.fit},
                {"note", note},
                {"output", g.out.string()},
                {"loadMilliseconds", l->stage.milliseconds}};
    }

    size_t indexOf(const Gel& g) const {
        for (size_t k = 0; k < gels.size(); ++k)
            if (gels[k].get() == &g) return k;
        return 0;
    }

    OJson analyse(Gel& g, const std::string& body) {
        const Request r = parseRequest(body, options.gel);
        const std::shared_ptr<Loaded> l = load(g);
        GelRun run;
        try {
            run = finishGel(l->stage, r.args, r.edits);
        } catch (const ToolError& e) {
            throw Refusal{422, e.what()};
        }
        OJson report = gelReport(run, r.args, OJson());
        report.erase("run");
        // Each lane's path and profile, so that the page draws what the analysis used.
        OJson& lanes = report["lanes"];
        for (size_t k = 0; k < run.analysis.lanes.size(); ++k) {
            const gel::Lane& lane = run.analysis.lanes[k];
            OJson path = OJson::array();
            const int top = lane.box.top, bottom = lane.box.bottom;
            const int every = std::max(1, (bottom - top) / 48);
            for (int row = top; row < bottom + every; row += every) {
                const int at = std::min(row, bottom);
                path.push_back({at, lane.centreAt(at) - lane.centre});
            }
            lanes[k]["path"] = path;
            const gel::LaneProfile p = gel::laneProfile(*run.prepared, lane);
            // A tenth of a grey level is finer than the plot can show, and keeps the answer short.
            std::vector<double> values(p.values.size());
            std::transform(p.values.begin(), p.values.end(), values.begin(),
                           [](double v) { return std::round(v * 10) / 10; });
            lanes[k]["profile"] = {{"top", p.top}, {"values", values}};
        }
        report["tiers"] = OJson::array();
        for (const gel::Tier& t : run.analysis.tiers)
            report["tiers"].push_back({{"tier", t.index + 1},
                                       {"top", t.top},
                                       {"bottom", t.bottom},
                                       {"slope", t.slope},
                                       {"column", t.column},
                                       {"drift", t.drift},
                                       {"driftRow", t.driftRow}});
        report["bandTable"] = bandTableHeader(r.args) + bandTableRows(run, r.args);
        report["laneTable"] = laneTableHeader() + laneTableRows(run);
        return report;
    }

    // The command line of kestro lanes that writes the same files from the edits file saved.
    std::vector<std::string> lanesCommand(const Gel& g, const GelArgs& a) const {
        std::vector<std::string> line = {options.program, "lanes", g.file, "-o", g.out.string()};
        const auto add = [&](const std::string& option, const std::string& value) {
            line.push_back(option);
            line.push_back(value);
        };
        const auto joined = [](const auto& values, const auto& text) {
            std::string s;
            for (const auto& v : values)
                s += (s.empty() ? "" : ",") + text(v);
            return s;
        };
        const auto number = [](double v) { return fullNumber(v); };
        const auto whole = [](int v) { return std::to_string(v); };
        const auto same = [](const std::string& v) { return v; };
        if (a.lanes > 0) add("--lanes", whole(a.lanes));
        if (!a.laneAt.empty()) add("--lane-at", joined(a.laneAt, number));
        if (a.laneWidth > 0) add("--lane-width", number(a.laneWidth));
        if (!a.lanesFile.empty()) add("--lanes-file", a.lanesFile);
        if (a.tiers > 0) add("--tiers", whole(a.tiers));
        if (!a.tierRows.empty()) add("--tier-rows", joined(a.tierRows, whole));
        if (a.invert) line.push_back("--invert");
        if (a.noInvert) line.push_back("--no-invert");
        if (!a.rows.empty()) add("--rows", a.rows);
        for (const std::string& e : a.exclude)
            add("--exclude", e);
        add("--edits", a.edits);
        if (a.prominence != GelArgs().prominence) add("--prominence", number(a.prominence));
        if (a.background != GelArgs().background) add("--background", a.background);
        if (!a.ladder.empty()) {
            add("--ladder", joined(a.ladder, same));
            add("--sizes", joined(a.sizes, number));
        }
        if (!a.masses.empty()) add("--ladder-mass", joined(a.masses, number));
        if (a.fit != GelArgs().fit) add("--fit", a.fit);
        if (!a.normalise.empty()) add("--normalise", a.normalise);
        if (!a.controlLane.empty()) add("--control-lane", a.controlLane);
        if (a.referenceLane > 0) add("--reference-lane", whole(a.referenceLane));
        if (a.region.size() == 4) {
            line.push_back("--region");
            for (int v : a.region)
                line.push_back(whole(v));
        }
        if (!settings().channel.empty()) add("--channel", settings().channel);
        if (settings().acceptDamaged) line.push_back("--accept-damaged");
        // The saved results are replaced by the same bytes when the line is run again.
        line.push_back("--force");
        return line;
    }

    OJson save(Gel& g, const std::string& body) {
        Request r = parseRequest(body, options.gel);
        const std::shared_ptr<Loaded> l = load(g);
        std::lock_guard<std::mutex> one(saving);
        r.args.edits = g.path(".edits.json");
        GelRun run;
        OJson report;
        try {
            run = finishGel(l->stage, r.args, r.edits);
            OJson record = runRecord(r.args.parameters(), {g.file});
            record["commandLine"] = lanesCommand(g, r.args);
            report = gelReport(run, r.args, record);
        } catch (const ToolError& e) {
            throw Refusal{422, e.what()};
        }
        std::error_code ec;
        fs::create_directories(g.out, ec);
        const std::string bands = (g.out / "bands.csv").string(), lanes = (g.out / "lanes.csv").string();
        try {
            // The edits first: whatever else fails, the corrections are kept.
            writeTextFileAtomically(r.args.edits, editsText(r.edits));
            drawAnnotation(run, g.path(".lanes.png"));
            writeTextFileAtomically(g.path(".lanes.json"), formatJson(report));
            writeTextFileAtomically(bands, bandTableHeader(r.args) + bandTableRows(run, r.args));
            writeTextFileAtomically(lanes, laneTableHeader() + laneTableRows(run));
        } catch (const ToolError& e) {
            throw Refusal{500, e.what()};
        }
        return {{"written", {r.args.edits, g.path(".lanes.png"), g.path(".lanes.json"), bands, lanes}},
                {"commandLine", report["run"]["commandLine"]}};
    }

    // Runs a handler, turning refusals and failures into statuses with a sentence.
    template <typename F> void guarded(httplib::Response& res, const F& handler) {
        try {
            handler();
        } catch (const Refusal& r) {
            sendJson(res, {{"error", r.message}}, r.status);
        } catch (const ToolError& e) {
            sendJson(res, {{"error", e.what()}}, 422);
        } catch (const std::bad_alloc&) {
            sendJson(res, {{"error", "out of memory"}}, 500);
        } catch (const CException& e) {
            sendJson(res, {{"error", e.GetErrorMessage().ToUtf8()}}, 500);
        } catch (const std::exception& e) {
            sendJson(res, {{"error", e.what()}}, 500);
        }
    }

    void routes() {
        server.set_payload_max_length(kMostBodyBytes);
        server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            res.set_header("Cache-Control", "no-store");
            res.set_header("Referrer-Policy", "no-referrer");
            res.set_header("X-Content-Type-Options", "nosniff");
            res.set_header("X-Frame-Options", "DENY");
            const std::string given = req.has_param("token") ? req.get_param_value("token")
                                                             : req.get_header_value("X-Kestro-Token");
            if (sameText(given, token)) return httplib::Server::HandlerResponse::Unhandled;
            sendJson(res, {{"error", "the address lacks the token kestro view printed"}}, 403);
            return httplib::Server::HandlerResponse::Handled;
        });
        server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
            const Asset* page = findAsset("index.html");
            std::string html(reinterpret_cast<const char*>(page->data), page->size);
            for (size_t p = html.find("{{TOKEN}}"); p != std::string::npos; p = html.find("{{TOKEN}}", p))
                html.replace(p, 9, token);
            res.set_header(
                "Content-Security-Policy",
                "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob: data:; "
                "connect-src 'self'; base-uri 'none'; form-action 'none'");
            res.set_content(html, "text/html; charset=utf-8");
        });
        for (const char* name : {"view.js", "view.css"})
            server.Get(std::string("/") + name, [name](const httplib::Request&, httplib::Response& res) {
                const Asset* a = findAsset(name);
                res.set_content(std::string(reinterpret_cast<const char*>(a->data), a->size), a->type);
            });
        server.Get("/api/gels", [this](const httplib::Request&, httplib::Response& res) {
            OJson list = OJson::array();
            for (size_t k = 0; k < gels.size(); ++k)
                list.push_back({{"index", k}, {"name", gels[k]->name}});
            sendJson(res,
                     {{"gels", list}, {"output", options.output}, {"program", "kestro " KESTRO_VERSION}});
        });
        server.Get(R"(/api/gels/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
            guarded(res, [&] { sendJson(res, gelInfo(gelAt(req.matches[1]))); });
        });
        server.Get(R"(/api/gels/(\d+)/image)", [this](const httplib::Request& req, httplib::Response& res) {
            guarded(res, [&] { res.set_content(image(gelAt(req.matches[1]), req), "image/png"); });
        });
        server.Post(R"(/api/gels/(\d+)/analyse)",
                    [this](const httplib::Request& req, httplib::Response& res) {
                        guarded(res, [&] { sendJson(res, analyse(gelAt(req.matches[1]), req.body)); });
                    });
        server.Post(R"(/api/gels/(\d+)/save)", [this](const httplib::Request& req, httplib::Response& res) {
            guarded(res, [&] { sendJson(res, save(gelAt(req.matches[1]), req.body)); });
        });
    }
};

ViewServer::ViewServer(ViewOptions options) : m(std::make_unique<Impl>()) {
    m->options = std::move(options);
    ViewOptions& o = m->options;
    o.gel.check();
    if (!o.gel.edits.empty()) throw ToolError("kestro view makes its own edits; --edits is for kestro lanes");
    const bool folder = anyFolder(o.inputs);
    const std::vector<std::string> files = analysisInputs(o.inputs);
    std::set<std::string> stems;
    std::vector<PlannedOutput> planned;
    for (const std::string& file : files) {
        auto g = std::make_unique<Gel>();
        g->file = file;
        g->name = fs::path(file).filename().string();
        g->stem = fs::path(file).stem().string();
        // From a folder each gel gets a folder of its own: the tables of one run hold one gel.
        std::string sub = g->stem;
        for (int n = 2; folder && !stems.insert(sub).second; ++n)
            sub = g->stem + "-" + std::to_string(n);
        g->out = folder || files.size() > 1 ? fs::path(o.output) / sub : fs::path(o.output);
        const std::string edits = g->path(".edits.json");
        std::error_code ec;
        const bool resumed = fs::exists(edits, ec);
        for (const std::string& path : {edits, g->path(".lanes.json"), g->path(".lanes.png"),
                                        (g->out / "bands.csv").string(), (g->out / "lanes.csv").string()})
            planned.push_back({path, resumed ? std::string() : file});
        m->gels.push_back(std::move(g));
    }
    checkOutputs(files, planned);
    if (!settings().force)
        for (const PlannedOutput& p : planned) {
            std::error_code ec;
            if (!p.input.empty() && fs::exists(fs::symlink_status(p.path, ec)))
                throw ToolError(p.path +
                                ": exists; refusing to write over a result (--force writes anyway; a "
                                "folder holding the view's own edits file is taken up again)");
        }
    m->routes();
}

ViewServer::~ViewServer() = default;

int ViewServer::bind() {
    const int port = m->options.port;
    if (port < 0 || port > 65535) throw ToolError("--port takes 0 (any free port) to 65535");
    if (port == 0) {
        m->port = m->server.bind_to_any_port(m->host);
    } else if (m->server.bind_to_port(m->host, port)) {
        m->port = port;
    } else {
        m->port = -1;
    }
    if (m->port <= 0)
        throw ToolError("cannot listen on " + m->host + ":" + std::to_string(port) + " (is the port taken?)");
    return m->port;
}

std::string ViewServer::url() const {
    return "http://" + m->host + ":" + std::to_string(m->port) + "/?token=" + m->token;
}

void ViewServer::run() {
    m->server.listen_after_bind();
}

void ViewServer::stop() {
    m->server.stop();
}

} // namespace kestro::view
