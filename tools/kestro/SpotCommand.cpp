#include "Channels.h"
#include "Commands.h"
#include "Overlay.h"
#include "Support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <numeric>
#include <sstream>

namespace kestro {

namespace {

namespace fs = std::filesystem;

struct SpotArgs {
    std::string file;
    std::vector<int> rect;
    std::string rectsFile;
    std::vector<int> centre;
    float fraction = 0.5f;
    std::string method = "rays";
    bool invert = false;
    bool noInvert = false;
    bool points = false;
    bool strict = false;
    bool csv = false;
    std::string png;
};

/// A rectangle to measure and where it was given: "--rect" or "FILE:LINE".
struct Request {
    std::array<int, 4> r;
    std::string origin;
};

struct Spot {
    std::array<int, 4> r;
    bool dark = false;
    bool detected = false;
    CPoint mass, start;
    int threshold = 0;  ///< in the image's values
    int background = 0; ///< in the image's values
    int peak = 0;       ///< in the image's values: the largest, or for a dark spot the smallest
    long long area = 0;
    long long volume = 0;
    long long saturated = 0;
    std::vector<CPoint> outline;
    std::vector<std::string> warnings;
    bool outlineWarning = false; ///< collapsed or at the rectangle's edge: what --strict fails on
};

// The rounding the boundary searches use for their thresholds: in float, plus 0.5, floored.
int roundLikeSearch(float v) {
    return static_cast<int>(std::floor(static_cast<double>(v + 0.5f)));
}

std::string rectText(const std::array<int, 4>& r) {
    return std::to_string(r[0]) + " " + std::to_string(r[1]) + " " + std::to_string(r[2]) + " " +
           std::to_string(r[3]);
}

std::vector<Request> readRects(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ToolError(path + ": cannot open the rectangle file");
    std::vector<Request> rects;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        const std::string text = line.substr(0, line.find('#'));
        std::istringstream words(text);
        Request q{{}, path + ":" + std::to_string(n)};
        std::string extra;
        if (!(words >> q.r[0])) {
            if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
        } else if (words >> q.r[1] >> q.r[2] >> q.r[3] && !(words >> extra)) {
            rects.push_back(q);
            continue;
        }
        std::string shown = text.substr(0, text.find_last_not_of(" \t\r") + 1);
        throw ToolError(q.origin + ": expected four whole numbers: left top right bottom, found '" + shown +
                        "'");
    }
    if (rects.empty()) throw ToolError(path + ": no rectangles in the file");
    return rects;
}

// Pixels whose centre lies strictly inside the closed outline (even-odd rule). Pixels on the
// outline count as outside: the searches put it on the first pixels beyond the spot.
std::vector<CPoint> insideOutline(const std::vector<CPoint>& outline, int width, int height) {
    std::vector<CPoint> inside;
    if (outline.size() < 3) return inside;
    int x0 = outline[0].x, x1 = x0, y0 = outline[0].y, y1 = y0;
    for (const CPoint& p : outline) {
        x0 = std::min(x0, int(p.x));
        x1 = std::max(x1, int(p.x));
        y0 = std::min(y0, int(p.y));
        y1 = std::max(y1, int(p.y));
    }
    x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, width - 1), y1 = std::min(y1, height - 1);
    if (x1 < x0 || y1 < y0) return inside;
    const int boxWidth = x1 - x0 + 1;
    std::vector<unsigned char> mask(static_cast<size_t>(boxWidth) * (y1 - y0 + 1), 0);
    std::vector<double> crossings;
    const size_t n = outline.size();
    for (int y = y0; y <= y1; ++y) {
        crossings.clear();
        for (size_t i = 0; i < n; ++i) {
            const CPoint& a = outline[i];
            const CPoint& b = outline[(i + 1) % n];
            if ((a.y > y) != (b.y > y))
                crossings.push_back(a.x + static_cast<double>(y - a.y) * (b.x - a.x) / (b.y - a.y));
        }
        std::sort(crossings.begin(), crossings.end());
        for (size_t k = 0; k + 1 < crossings.size(); k += 2)
            for (int x = std::max(x0, static_cast<int>(std::floor(crossings[k])) + 1);
                 x < crossings[k + 1] && x <= x1; ++x)
                mask[static_cast<size_t>(y - y0) * boxWidth + (x - x0)] = 1;
    }
    for (size_t i = 0; i < n; ++i) {
        const CPoint& a = outline[i];
        const CPoint& b = outline[(i + 1) % n];
        const int dx = b.x - a.x, dy = b.y - a.y, steps = std::max(1, std::gcd(std::abs(dx), std::abs(dy)));
        for (int s = 0; s <= steps; ++s) {
            const int x = a.x + dx / steps * s, y = a.y + dy / steps * s;
            if (x >= x0 && x <= x1 && y >= y0 && y <= y1)
                mask[static_cast<size_t>(y - y0) * boxWidth + (x - x0)] = 0;
        }
    }
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (mask[static_cast<size_t>(y - y0) * boxWidth + (x - x0)]) inside.emplace_back(x, y);
    return inside;
}

class Measurer {
public:
    Measurer(const SpotArgs& a, RasterImageGS16& raster) : m_a(a), m_raster(raster) {}

    Spot measure(const Request& q) {
        const int w = m_raster.width, h = m_raster.height, top = m_raster.maxPixelValue;
        const std::array<int, 4>& r = q.r;
        const std::string where = q.origin == "--rect" ? "" : q.origin + ": ";
        if (r[2] <= r[0] || r[3] <= r[1])
            throw ToolError(where + "bad rectangle " + rectText(r) +
                            ": right must exceed left and bottom must exceed top");
        if (r[0] < 0 || r[1] < 0 || r[2] > w || r[3] > h)
            throw ToolError(where + "bad rectangle " + rectText(r) + ": it must lie inside the image (0 0 " +
                            std::to_string(w) + " " + std::to_string(h) + ")");
        // The searches lower right and bottom to the last column and row, which then count as outside.
        const CRect rect(r[0], r[1], std::min(r[2], w - 1), std::min(r[3], h - 1));
        if (rect.right - rect.left < 2 || rect.bottom - rect.top < 2)
            throw ToolError(where + "bad rectangle " + rectText(r) +
                            ": it must be at least 2 x 2 pixels inside the image");

        Spot s;
        s.r = r;
        s.detected = !m_a.invert && !m_a.noInvert;
        s.dark = m_a.invert || (s.detected && darkAround(r));
        RasterImageGS16* search = s.dark ? inverted() : &m_raster;
        // Values as measured: distances from black, or for dark spots from white.
        const auto toImage = [&](int v) { return s.dark ? top - v : v; };

        double sum = 0;
        for (int y = rect.top; y < rect.bottom; ++y)
            for (int x = rect.left; x < rect.right; ++x)
                sum += search->getPixel(x, y);
        if (sum <= 0)
            throw ToolError(where + "rectangle " + rectText(r) + " holds no intensity" +
                            (s.dark ? " below white" : "") + ", so it has no centre of mass");

        ImageProcessing processing;
        s.mass = processing.findCenterOfMass3D(search, rect);
        s.start = s.mass;
        if (!m_a.centre.empty()) {
            s.start = CPoint(m_a.centre[0], m_a.centre[1]);
            if (s.start.x < rect.left || s.start.x >= rect.right || s.start.y < rect.top ||
                s.start.y >= rect.bottom)
                throw ToolError(where + "centre " + std::to_string(s.start.x) + " " +
                                std::to_string(s.start.y) + " lies outside the rectangle " + rectText(r));
        }
        // The column search reads upwards from the row above the centre and stops one row short
        // of the top; nearer the top it would have nothing to read.
        const bool rays = m_a.method == "rays";
        if (!rays && s.start.y < rect.top + 2)
            throw ToolError(where + "centre " + std::to_string(s.start.x) + " " + std::to_string(s.start.y) +
                            " is too near the top of the rectangle for --method rows (2 rows at least)");

        CPointArray points;
        int threshold = 0;
        if (rays) {
            const int base = std::min(
                {search->getPixel(rect.left, rect.top), search->getPixel(rect.right, rect.top),
                 search->getPixel(rect.left, rect.bottom), search->getPixel(rect.right, rect.bottom)});
            threshold = std::max(
                0,
                roundLikeSearch(static_cast<float>(search->getPixel(s.start) - base) * m_a.fraction) + base);
            processing.findBroundryPoints(search, rect, s.start, m_a.fraction, &points);
        } else {
            int lo = search->getPixel(rect.left, s.start.y), hi = lo;
            for (int x = rect.left; x < rect.right; ++x) {
                lo = std::min(lo, search->getPixel(x, s.start.y));
                hi = std::max(hi, search->getPixel(x, s.start.y));
            }
            threshold = roundLikeSearch(static_cast<float>(hi - lo) * m_a.fraction) + lo;
            processing.findBroundryPointsUpDown(search, rect, s.start, m_a.fraction, &points);
        }
        s.threshold = toImage(threshold);
        for (INT_PTR i = 0; i < points.GetSize(); ++i)
            s.outline.push_back(points.GetAt(i));

        // The background is the median of the rectangle's border pixels: the user draws the
        // rectangle around the spot, so its border lies on the gel around it.
        std::vector<int> border;
        for (int x = r[0]; x < r[2]; ++x) {
            border.push_back(search->getPixel(x, r[1]));
            border.push_back(search->getPixel(x, r[3] - 1));
        }
        for (int y = r[1] + 1; y < r[3] - 1; ++y) {
            border.push_back(search->getPixel(r[0], y));
            border.push_back(search->getPixel(r[2] - 1, y));
        }
        std::nth_element(border.begin(), border.begin() + border.size() / 2, border.end());
        const int background = border[border.size() / 2];
        s.background = toImage(background);

        int peak = search->getPixel(s.start);
        for (const CPoint& p : insideOutline(s.outline, w, h)) {
            const int v = search->getPixel(p);
            ++s.area;
            s.volume += v - background;
            peak = std::max(peak, v);
            s.saturated += v == top;
        }
        s.peak = toImage(peak);

        bool collapsed = true, atEdge = false;
        for (const CPoint& p : s.outline) {
            collapsed = collapsed && std::abs(p.x - s.start.x) <= 1 && std::abs(p.y - s.start.y) <= 1;
            // A ray that ran out of steps ends inside on a pixel still above the threshold.
            atEdge = atEdge || (rays ? p.x <= rect.left || p.x >= rect.right - 1 || p.y <= rect.top ||
                                           p.y >= rect.bottom - 1 || search->getPixel(p) >= threshold
                                     : p.x <= rect.left + 2 || p.x >= rect.right - 1 || p.y <= rect.top + 2 ||
                                           p.y >= rect.bottom - 1);
        }
        if (collapsed)
            s.warnings.push_back(
                "the outline collapsed onto the centre: nothing around it passes the threshold "
                "(another polarity, --fraction or rectangle may find the spot)");
        else if (atEdge)
            s.warnings.push_back("the outline reaches the rectangle's edge: the spot may extend beyond it");
        s.outlineWarning = collapsed || atEdge;
        if (s.saturated)
            s.warnings.push_back(std::to_string(s.saturated) + " saturated pixel" +
                                 (s.saturated > 1 ? "s" : "") + " inside the outline (value " +
                                 std::to_string(toImage(top)) + "): the volume is a lower bound");
        return s;
    }

private:
    // The rectangle widened by its own width and height on every side (within the image): around
    // a spot most of that is the gel, so the longer tail of its histogram is the spot's side,
    // even when the rectangle is drawn tight around the spot.
    bool darkAround(const std::array<int, 4>& r) const {
        const int mx = r[2] - r[0], my = r[3] - r[1];
        const int x0 = std::max(0, r[0] - mx), x1 = std::min(m_raster.width, r[2] + mx);
        const int y0 = std::max(0, r[1] - my), y1 = std::min(m_raster.height, r[3] + my);
        std::vector<int> values;
        values.reserve(static_cast<size_t>(x1 - x0) * (y1 - y0));
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                values.push_back(m_raster.getPixel(x, y));
        return gel::detectPolarity(values.data(), x1 - x0, y1 - y0, m_raster.maxPixelValue) ==
               gel::Polarity::DarkBands;
    }

    // Dark spots are searched as bright ones on the complement, made once for all rectangles.
    RasterImageGS16* inverted() {
        if (!m_inverted) {
            m_inverted = std::make_unique<RasterImageGS16>(m_raster);
            const size_t n = static_cast<size_t>(m_raster.width) * m_raster.height;
            for (size_t i = 0; i < n; ++i)
                m_inverted->pixels[i] = m_raster.maxPixelValue - m_raster.pixels[i];
            m_inverted->calculateStatistics();
        }
        return m_inverted.get();
    }

    const SpotArgs& m_a;
    RasterImageGS16& m_raster;
    std::unique_ptr<RasterImageGS16> m_inverted;
};

const char* polarityText(const Spot& s) {
    return s.dark ? "dark" : "bright";
}

// The picture: the measured grey values contrast-stretched, saturated pixels in red, each
// rectangle in yellow with its number, the outline in green and the centre of mass as a cyan cross.
void drawPicture(const RasterImageGS16& raster, const std::vector<Spot>& spots, const std::string& path) {
    gel::GreyImage g;
    g.width = raster.width;
    g.height = raster.height;
    g.maxValue = raster.maxPixelValue;
    g.pixels.assign(raster.pixels, raster.pixels + static_cast<size_t>(raster.width) * raster.height);
    const bool allDark = std::all_of(spots.begin(), spots.end(), [](const Spot& s) { return s.dark; });
    Overlay m(g, allDark ? 0 : g.maxValue);
    const COLORREF yellow = RGB(255, 220, 0), green = RGB(0, 230, 60), cyan = RGB(0, 200, 255);
    const int scale = m.markScale();
    for (size_t i = 0; i < spots.size(); ++i) {
        const Spot& s = spots[i];
        m.rect(s.r[0], s.r[1], s.r[2] - 1, s.r[3] - 1, yellow);
        m.number(static_cast<int>(i + 1), s.r[0] + 2, s.r[1] + 2, scale, yellow);
        for (size_t k = 0; k < s.outline.size(); ++k) {
            const CPoint& a = s.outline[k];
            const CPoint& b = s.outline[(k + 1) % s.outline.size()];
            m.line(a.x, a.y, b.x, b.y, green);
        }
        const int arm = 2 * scale;
        m.hline(s.mass.x - arm, s.mass.x + arm, s.mass.y, cyan);
        m.vline(s.mass.x, s.mass.y - arm, s.mass.y + arm, cyan);
    }
    m.save(path);
}

std::string joined(const std::vector<std::string>& parts) {
    std::string all;
    for (const std::string& p : parts)
        all += (all.empty() ? "" : "; ") + p;
    return all;
}

int runSpot(const SpotArgs& a, bool json) {
    if (a.invert && a.noInvert) throw ToolError("--invert and --no-invert exclude each other");
    if (a.csv && json) throw ToolError("--csv and --json exclude each other");
    std::vector<Request> requests;
    if (a.rect.size() == 4) requests.push_back({{a.rect[0], a.rect[1], a.rect[2], a.rect[3]}, "--rect"});
    if (!a.rectsFile.empty()) {
        const std::vector<Request> more = readRects(a.rectsFile);
        requests.insert(requests.end(), more.begin(), more.end());
    }
    if (requests.empty()) throw ToolError("no rectangle to measure: give --rect L T R B or --rects FILE");
    if (!a.png.empty()) checkOutputs({a.file}, {{a.png, a.file}});

    const LoadedImage li = loadImage(a.file);
    const GreyRaster grey = grayscaleRaster(li, "spot");
    Measurer measurer(a, *grey.raster);
    std::vector<Spot> spots;
    for (const Request& q : requests)
        spots.push_back(measurer.measure(q));
    if (!a.png.empty()) drawPicture(*grey.raster, spots, a.png);

    bool failed = false;
    for (size_t i = 0; i < spots.size(); ++i) {
        for (const std::string& w : spots[i].warnings)
            std::cerr << "kestro: warning: " << a.file << ": spot " << i + 1 << " (" << rectText(spots[i].r)
                      << "): " << w << '\n';
        failed = failed || (a.strict && spots[i].outlineWarning);
    }
    const int code = failed ? 1 : 0;

    if (json) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (const Spot& s : spots) {
            nlohmann::ordered_json j = {{"rect", s.r},
                                        {"polarity", polarityText(s)},
                                        {"polarityDetected", s.detected},
                                        {"method", a.method},
                                        {"fraction", a.fraction},
                                        {"centre", {s.mass.x, s.mass.y}},
                                        {"outlineCentre", {s.start.x, s.start.y}},
                                        {"threshold", s.threshold},
                                        {"background", s.background},
                                        {"area", s.area},
                                        {"volume", s.volume},
                                        {"peak", s.peak},
                                        {"saturatedPixels", s.saturated},
                                        {"warnings", s.warnings}};
            if (a.points) {
                nlohmann::ordered_json pts = nlohmann::ordered_json::array();
                for (const CPoint& p : s.outline)
                    pts.push_back({p.x, p.y});
                j["points"] = pts;
            }
            all.push_back(j);
        }
        nlohmann::ordered_json report = {{"file", a.file}, {"grey", grey.conversion}};
        if (!a.png.empty()) report["png"] = a.png;
        report["spots"] = all;
        printJson(report);
        return code;
    }
    if (a.csv) {
        std::cout
            << "file,spot,left,top,right,bottom,polarity,polarity detected,centre x,centre y,background,area,"
               "volume,peak,saturated pixels,threshold,warnings\n";
        for (size_t i = 0; i < spots.size(); ++i) {
            const Spot& s = spots[i];
            std::cout << csvText(a.file) << ',' << i + 1 << ',' << s.r[0] << ',' << s.r[1] << ',' << s.r[2]
                      << ',' << s.r[3] << ',' << polarityText(s) << ',' << (s.detected ? "yes" : "no") << ','
                      << s.mass.x << ',' << s.mass.y << ',' << s.background << ',' << s.area << ','
                      << s.volume << ',' << s.peak << ',' << s.saturated << ',' << s.threshold << ','
                      << csvText(joined(s.warnings)) << '\n';
        }
        return code;
    }
    std::cout << a.file << ": " << grey.conversion << '\n';
    for (size_t i = 0; i < spots.size(); ++i) {
        const Spot& s = spots[i];
        std::cout << "spot " << i + 1 << ", rectangle " << rectText(s.r) << '\n';
        std::cout << "  polarity         " << polarityText(s) << " spot "
                  << (s.dark ? "on a lighter" : "on a darker") << " background ("
                  << (s.detected ? "detected" : "as given") << ")\n";
        std::cout << "  centre of mass   " << s.mass.x << " " << s.mass.y << '\n';
        if (!a.centre.empty()) std::cout << "  outline centre   " << s.start.x << " " << s.start.y << '\n';
        std::cout << "  background       " << s.background << " (median of the rectangle's border)\n";
        std::cout << "  area             " << s.area << " pixels\n";
        std::cout << "  volume           " << s.volume << " ("
                  << (s.dark ? "background - value" : "value - background")
                  << ", summed inside the outline)\n";
        std::cout << "  peak             " << s.peak << '\n';
        std::cout << "  saturated pixels " << s.saturated << '\n';
        std::cout << "  threshold        " << s.threshold << " (" << a.method << ", fraction " << a.fraction
                  << ")\n";
        std::cout << "  outline          " << s.outline.size() << " points\n";
        if (a.points)
            for (size_t k = 0; k < s.outline.size(); ++k)
                std::cout << (k % 12 == 0 ? "   " : " ") << s.outline[k].x << "," << s.outline[k].y
                          << ((k % 12 == 11 || k + 1 == s.outline.size()) ? "\n" : "");
    }
    if (!a.png.empty()) std::cout << "wrote " << a.png << '\n';
    return code;
}

} // namespace

Command addSpotCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<SpotArgs>();
    CLI::App* app = root.add_subcommand(
        "spot",
        "Measure spots or bands inside rectangles: centre of mass, outline, area, background-corrected "
        "volume, "
        "peak and saturated pixels.\n"
        "Polarity: the rectangle widened by its own width and height on each side decides whether the spot "
        "is "
        "brighter or darker than the gel around it (the longer tail of its histogram); dark spots are "
        "searched "
        "on the complement (maximum - value).\n"
        "Background: the median of the rectangle's border pixels. Volume (integrated density): the sum of "
        "value - background (background - value for dark spots) over the pixels strictly inside the outline; "
        "area: their number. Saturated: pixels inside at the depth's maximum (at 0 for dark spots).");
    app->footer("Example:\n  kestro spot gel.tif --rect 105 195 165 235");
    app->add_option("FILE", a->file, "Gel image, grey or colour")->required();
    app->add_option("--rect", a->rect, "Rectangle: left top right bottom (right and bottom excluded)")
        ->expected(4);
    app->add_option(
        "--rects", a->rectsFile,
        "File of rectangles, one 'left top right bottom' a line; blank lines and # comments allowed");
    app->add_option("--centre", a->centre, "Start of the outline search (default: the centre of mass)")
        ->expected(2);
    app->add_option("--fraction", a->fraction,
                    "Threshold between the local base (0) and the centre's value (1)")
        ->check(CLI::Range(0.0, 1.0) & finiteNumber())
        ->capture_default_str();
    app->add_option("--method", a->method,
                    "rays: 360 rays out of the centre; rows: the centre row, then columns")
        ->check(CLI::IsMember({"rays", "rows"}))
        ->capture_default_str();
    addChannelOption(*app);
    app->add_flag("--invert", a->invert, "Dark spots on a light gel (default: detected)");
    app->add_flag("--no-invert", a->noInvert, "Bright spots on a dark gel (default: detected)");
    app->add_flag("--points", a->points, "Report the outline's points");
    app->add_flag("--strict", a->strict,
                  "Exit 1 when an outline collapses onto its centre or reaches its rectangle's edge");
    app->add_flag("--csv", a->csv, "Print one CSV row per rectangle");
    app->add_option(
        "--png", a->png,
        "Write a picture: the gel contrast-stretched, saturated pixels red, rectangles, outlines, centres");
    return {app, [a, &json] { return runSpot(*a, json); }};
}

} // namespace kestro
