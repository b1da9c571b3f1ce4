// kestro report: the whole analysis of gels in one HTML file that needs nothing else to be read:
// the annotated gel, lane profiles, the calibration, the tables, warnings and the run record.
#include "Commands.h"
#include "GelRun.h"

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

namespace kestro {

namespace {

namespace fs = std::filesystem;

struct ReportArgs {
    GelArgs gel;
    std::string out;
};

std::string esc(const std::string& s) {
    std::string o;
    for (char c : s)
        switch (c) {
        case '<':
            o += "&lt;";
            break;
        case '>':
            o += "&gt;";
            break;
        case '&':
            o += "&amp;";
            break;
        case '"':
            o += "&quot;";
            break;
        default:
            o += c;
        }
    return o;
}

std::string base64(const std::string& bytes) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string o;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16 |
                           unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        o += {abc[v >> 18], abc[(v >> 12) & 63], abc[(v >> 6) & 63], abc[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16;
        o += {abc[v >> 18], abc[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16 |
                           unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8;
        o += {abc[v >> 18], abc[(v >> 12) & 63], abc[(v >> 6) & 63], '='};
    }
    return o;
}

std::string num(double v, int digits = 1) {
    std::ostringstream s;
    s.setf(std::ios::fixed);
    s.precision(digits);
    s << v;
    return s.str();
}

// A lane's profile along its tier, rows to the right, with its bands shaded and peaks marked.
std::string profileSvg(const GelRun& r, const gel::Lane& lane, int laneInTier) {
    gel::LaneProfile p = gel::laneProfile(*r.prepared, lane);
    // Nothing above the tier's wells is a band: the plot starts below them, so that the bands
    // fill its width.
    const gel::Tier& tier = r.analysis.tiers[static_cast<size_t>(lane.tier)];
    const int first = static_cast<int>(std::lround(tier.rowAt(tier.firstBandRow, lane.centre))) - p.top;
    if (first > 0 && first < static_cast<int>(p.values.size()) - 1) {
        p.values.erase(p.values.begin(), p.values.begin() + first);
        p.top += first;
    }
    const double W = 320, H = 120, pad = 4;
    double lo = 0, hi = 0;
    for (size_t k = 0; k < p.values.size(); ++k) {
        lo = k ? std::min(lo, p.values[k]) : p.values[k];
        hi = k ? std::max(hi, p.values[k]) : p.values[k];
    }
    const double n = std::max<double>(1, static_cast<double>(p.values.size()) - 1),
                 span = hi > lo ? hi - lo : 1;
    const auto X = [&](double row) { return pad + (row - p.top) / n * (W - 2 * pad); };
    const auto Y = [&](double v) { return H - pad - (v - lo) / span * (H - 2 * pad); };
    std::string s = "<figure class=\"profile\"><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    num(W, 0) + "\" height=\"" + num(H, 0) + "\" viewBox=\"0 0 " + num(W, 0) + " " +
                    num(H, 0) + "\" role=\"img\" aria-label=\"profile of lane " +
                    std::to_string(lane.index + 1) +
                    "\"><rect width=\"100%\" height=\"100%\" fill=\"#ffffff\" stroke=\"#bbbbbb\"/>";
    for (const gel::Band& b : lane.bands) {
        s += "<rect class=\"band\" x=\"" + num(X(b.box.top)) + "\" y=\"0\" width=\"" +
             num(std::max(1.0, X(b.box.bottom) - X(b.box.top))) + "\" height=\"" + num(H, 0) + "\" fill=\"" +
             (b.saturated ? "#f4a3a3" : "#a8e6b4") + "\"/>";
        s += "<line x1=\"" + num(X(b.peakY)) + "\" x2=\"" + num(X(b.peakY)) + "\" y1=\"0\" y2=\"" +
             num(H, 0) + "\" stroke=\"#00a0d0\" stroke-width=\"1\"/>";
    }
    s += "<polyline fill=\"none\" stroke=\"#1f3f9f\" stroke-width=\"1.5\" points=\"";
    for (size_t k = 0; k < p.values.size(); ++k)
        s += num(X(p.top + static_cast<double>(k))) + "," + num(Y(p.values[k])) + " ";
    s += "\"/></svg><figcaption>lane " + std::to_string(lane.index + 1) + " (tier " +
         std::to_string(lane.tier + 1) + ", lane " + std::to_string(laneInTier + 1) + "): rows " +
         std::to_string(p.top) + " to " + std::to_string(p.top + static_cast<int>(p.values.size()) - 1) +
         ", " + std::to_string(lane.bands.size()) + " bands</figcaption></figure>";
    return s;
}

// log10(size) against the migration distance: the ladder bands and the fitted curve.
std::string calibrationSvg(const gel::SizeCalibration& c) {
    const double W = 420, H = 260, left = 50, bottom = 30, pad = 10;
    const double d0 = c.positions.front(), d1 = c.positions.back();
    const double x0 = d0 - 0.05 * (d1 - d0), x1 = d1 + 0.05 * (d1 - d0);
    double y0 = std::log10(c.sizes.back()), y1 = std::log10(c.sizes.front());
    const double m = 0.08 * (y1 - y0 > 0 ? y1 - y0 : 1);
    y0 -= m;
    y1 += m;
    const auto X = [&](double d) { return left + (d - x0) / (x1 - x0) * (W - left - pad); };
    const auto Y = [&](double l) { return H - bottom - (l - y0) / (y1 - y0) * (H - bottom - pad); };
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(W, 0) + "\" height=\"" +
                    num(H, 0) +
                    "\" role=\"img\" aria-label=\"size calibration\"><rect width=\"100%\" height=\"100%\" "
                    "fill=\"#ffffff\" stroke=\"#bbbbbb\"/>";
    s += "<line x1=\"" + num(left) + "\" y1=\"" + num(H - bottom) + "\" x2=\"" + num(W - pad) + "\" y2=\"" +
         num(H - bottom) + "\" stroke=\"#444\"/><line x1=\"" + num(left) + "\" y1=\"" + num(pad) +
         "\" x2=\"" + num(left) + "\" y2=\"" + num(H - bottom) + "\" stroke=\"#444\"/>";
    s += "<text x=\"" + num(W / 2) + "\" y=\"" + num(H - 6) +
         "\" font-size=\"11\" text-anchor=\"middle\">migration "
         "distance (rows below the tier's top)</text>";
    for (double v : c.sizes)
        s += "<text x=\"" + num(left - 4) + "\" y=\"" + num(Y(std::log10(v)) + 4) +
             "\" font-size=\"10\" text-anchor=\"end\">" + esc(fullNumber(v)) + "</text>";
    s += "<polyline fill=\"none\" stroke=\"#d04010\" stroke-width=\"1.5\" points=\"";
    for (int k = 0; k <= 200; ++k) {
        const double d = x0 + (x1 - x0) * k / 200.0;
        s += num(X(d)) + "," + num(Y(std::log10(c.sizeAt(d)))) + " ";
    }
    s += "\"/>";
    for (size_t k = 0; k < c.positions.size(); ++k)
        s += "<circle cx=\"" + num(X(c.positions[k])) + "\" cy=\"" + num(Y(std::log10(c.sizes[k]))) +
             "\" r=\"4\" fill=\"#1f3f9f\"/>";
    return s + "</svg>";
}

std::string csvTable(const std::string& csv) {
    std::string html = "<table>";
    std::istringstream in(csv);
    std::string line;
    for (bool head = true; std::getline(in, line); head = false) {
        html += "<tr>";
        // Fields hold no newline; a quoted field may hold commas.
        std::string cell;
        bool quoted = false;
        const auto flush = [&] {
            html += (head ? "<th>" : "<td>") + esc(cell) + (head ? "</th>" : "</td>");
            cell.clear();
        };
        for (size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (c == ',' && !quoted) {
                flush();
            } else {
                cell += c;
            }
        }
        flush();
        html += "</tr>";
    }
    return html + "</table>";
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string section(const GelRun& r, const GelArgs& a, const nlohmann::ordered_json& report,
                    const std::string& picture) {
    const gel::Analysis& an = r.analysis;
    std::string s = "<section><h2>" + esc(r.file) + "</h2><p>" + std::to_string(an.width) + " × " +
                    std::to_string(an.height) + " pixels, " + esc(an.greyConversion) + ", " +
                    esc(gel::polarityName(an.polarity)) + "; " + std::to_string(an.tiers.size()) +
                    (an.tiers.size() == 1 ? " tier, " : " tiers, ") + std::to_string(an.lanes.size()) +
                    " lanes, " + std::to_string(report["bandCount"].get<int>()) + " bands.</p>";
    s += "<figure class=\"gel\"><img alt=\"the gel with its lanes and bands\" src=\"data:image/png;base64," +
         base64(picture) + "\" width=\"" + std::to_string(an.width) + "\" height=\"" +
         std::to_string(an.height) +
         "\"><figcaption>Lanes in yellow with their numbers, bands in green (diffuse bands in orange), each "
         "band's "
         "peak row in cyan, saturated pixels in red.</figcaption></figure>";
    s += "<h3>Warnings</h3>";
    if (an.warnings.empty())
        s += "<p>None.</p>";
    else {
        s += "<ul class=\"warnings\">";
        for (const gel::Warning& w : an.warnings)
            s += "<li>" + esc(w.text) + " <code>" + esc(w.code) + "</code></li>";
        s += "</ul>";
    }
    s += "<h3>Lane profiles</h3><p>Mean of the middle half of each lane's columns, row by row (rows to the "
         "right); bands shaded green (saturated ones red), peaks in cyan.</p><div class=\"profiles\">";
    for (size_t k = 0; k < an.lanes.size(); ++k)
        s += profileSvg(r, an.lanes[k], r.laneInTier[k]);
    s += "</div>";
    if (!an.calibrations.empty()) {
        s += "<h3>Size calibration</h3><div class=\"profiles\">";
        const auto& cals = report["calibrations"];
        for (size_t k = 0; k < an.calibrations.size(); ++k) {
            const gel::SizeCalibration& c = an.calibrations[k];
            const auto& worst = cals[k]["worstLeaveOneOutError"];
            s += "<figure>" + calibrationSvg(c) + "<figcaption>tier " + std::to_string(c.tier + 1) +
                 ", ladder lane " + std::to_string(c.ladderLane + 1) + ": " +
                 esc(cals[k]["fit"].get<std::string>()) +
                 (worst.is_null() ? std::string()
                                  : "; worst leave-one-out error " + num(100 * worst.get<double>()) + "%") +
                 "</figcaption></figure>";
        }
        s += "</div>";
    }
    if (!an.massCurves.empty()) {
        s += "<h3>Amounts</h3><ul>";
        for (const gel::MassCurve& m : an.massCurves)
            s += "<li>tier " + std::to_string(m.tier + 1) + ": mass = " + esc(fullNumber(m.slope)) +
                 " × corrected volume, through the origin and " + std::to_string(m.points) +
                 " ladder bands (" + std::to_string(m.saturatedLeftOut) + " saturated left out), r² " +
                 num(m.rSquared, 3) + "</li>";
        s += "</ul>";
    }
    if (!r.norm.empty()) s += "<p>Normalised by " + esc(r.normalisedBy) + ".</p>";
    s += "<h3>Bands</h3><p>Relative volume: a band's corrected volume divided by the sum of its lane's.</p>" +
         csvTable(bandTableHeader(a) + bandTableRows(r, a));
    s += "<h3>Lanes</h3>" + csvTable(laneTableHeader() + laneTableRows(r));
    s += "<h3>Run record</h3><pre>" + esc(formatJson(report["run"])) + "</pre></section>";
    return s;
}

int runReport(const ReportArgs& a, bool json) {
    a.gel.check();
    const std::vector<std::string> files = analysisInputs(a.gel.files);
    refuseExistingOutputs(files, {{a.out, "the report"}});
    const nlohmann::ordered_json parameters = a.gel.parameters();
    // Each file's section waits in its own slot, so that files worked at once join in order.
    std::vector<std::string> sections(files.size());
    std::atomic<size_t> done{0};
    const auto work = [&](const std::string& file, size_t index) {
        const std::string picture = a.out + "." + std::to_string(index) + ".picture.part";
        const GelRun r = runGel(file, a.gel);
        const nlohmann::ordered_json report = gelReport(r, a.gel, runRecord(parameters, {file}));
        drawAnnotation(r, picture);
        const std::string png = readBytes(picture);
        std::error_code ec;
        fs::remove(picture, ec);
        sections[index] = section(r, a.gel, report, png);
        ++done;
        return nlohmann::ordered_json{{"file", file},
                                      {"lanes", report["laneCount"]},
                                      {"bands", report["bandCount"]},
                                      {"warnings", report["warnings"]}};
    };
    const auto print = [&](const nlohmann::ordered_json& j, size_t) {
        std::cout << j["file"].get<std::string>() << ": " << j["lanes"] << " lanes, " << j["bands"]
                  << " bands\n";
        for (const auto& w : j["warnings"])
            std::cout << "  note: " << w["text"].get<std::string>() << '\n';
    };
    const int code = forEachFileAtOnce(files, "report", json, work, print);
    if (done == 0) return code;
    std::string body;
    for (const std::string& s : sections)
        body += s;
    const std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Gel report</title><style>"
        "body{font-family:sans-serif;margin:16px;color:#222;background:#fff}"
        "figure{margin:8px;display:inline-block;vertical-align:top}figcaption{font-size:12px;color:#555}"
        ".gel img{image-rendering:pixelated;max-width:100%;height:auto}"
        "table{border-collapse:collapse;font-size:12px;margin:8px 0}td,th{border:1px solid #ccc;padding:2px "
        "6px;"
        "text-align:right}th{background:#eee}pre{font-size:11px;background:#f6f6f6;padding:8px;overflow:auto}"
        ".warnings li{color:#8a4b00}"
        "</style></head><body><h1>Gel report</h1><p>Made by kestro " KESTRO_VERSION ".</p>\n" +
        body + "\n</body></html>\n";
    writeTextFileAtomically(a.out, html);
    if (!json) std::cout << "wrote " << a.out << '\n';
    return code;
}

} // namespace

Command addReportCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<ReportArgs>();
    CLI::App* app = root.add_subcommand(
        "report",
        "Analyse gels as lanes does and write one HTML file to open in a browser: the annotated gel, "
        "lane profiles, calibration, tables, warnings and the run record");
    app->footer("Example:\n  kestro report gel.tif -o report.html --ladder 1 --sizes "
                "10000,5000,3000,2000,1000,500\n\n"
                "The file holds everything (pictures included) and loads nothing from elsewhere.");
    app->add_option("FILE", a->gel.files, "Gel images, or folders of them")->required();
    app->add_option("-o,--output", a->out, "The HTML file to write")->required();
    addGelOptions(*app, a->gel);
    addJobsOption(*app);
    return {app, [a, &json] { return runReport(*a, json); }};
}

} // namespace kestro
