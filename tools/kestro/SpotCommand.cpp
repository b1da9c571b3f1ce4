#include "Commands.h"
#include "Support.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>

namespace kestro {

namespace {

struct SpotArgs {
    std::string file;
    std::vector<int> rect;
    std::vector<int> centre;
    float fraction = 0.5f;
    std::string method = "rays";
};

// The rounding the boundary searches use for their thresholds: in float, plus 0.5, floored.
int roundLikeSearch(float v)
{
    return static_cast<int>(std::floor(static_cast<double>(v + 0.5f)));
}

std::string rectText(const std::vector<int>& r)
{
    return std::to_string(r[0]) + " " + std::to_string(r[1]) + " " + std::to_string(r[2]) + " " + std::to_string(r[3]);
}

int runSpot(const SpotArgs& a, bool json)
{
    const LoadedImage li = loadImage(a.file);
    RasterImageGS16* raster = grayscaleRaster(li, "spot");
    const int w = raster->width, h = raster->height;

    const std::vector<int>& r = a.rect;
    if (r[2] <= r[0] || r[3] <= r[1])
        throw ToolError("bad rectangle " + rectText(r) + ": right must exceed left and bottom must exceed top");
    if (r[0] < 0 || r[1] < 0 || r[2] > w || r[3] > h)
        throw ToolError("bad rectangle " + rectText(r) + ": it must lie inside the image (0 0 " + std::to_string(w) +
                        " " + std::to_string(h) + ")");
    // The searches lower right and bottom to the last column and row, which then count as outside.
    const CRect rect(r[0], r[1], std::min(r[2], w - 1), std::min(r[3], h - 1));
    if (rect.right - rect.left < 2 || rect.bottom - rect.top < 2)
        throw ToolError("bad rectangle " + rectText(r) + ": it must be at least 2 x 2 pixels inside the image");

    double sum = 0;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            sum += raster->getPixel(x, y);
    if (sum <= 0)
        throw ToolError("rectangle " + rectText(r) + " holds no intensity, so it has no centre of mass");

    ImageProcessing processing;
    const CPoint mass = processing.findCenterOfMass3D(raster, rect);
    CPoint start = mass;
    if (!a.centre.empty()) {
        start = CPoint(a.centre[0], a.centre[1]);
        if (start.x < rect.left || start.x >= rect.right || start.y < rect.top || start.y >= rect.bottom)
            throw ToolError("centre " + std::to_string(start.x) + " " + std::to_string(start.y) +
                            " lies outside the rectangle " + rectText(r));
    }

    // The column search reads upwards from the row above the centre and stops one row short
    // of the top; nearer the top it would have nothing to read.
    if (a.method == "rows" && start.y < rect.top + 2)
        throw ToolError("centre " + std::to_string(start.x) + " " + std::to_string(start.y) +
                        " is too near the top of the rectangle for --method rows (2 rows at least)");

    CPointArray points;
    int threshold = 0;
    const bool rays = a.method == "rays";
    if (rays) {
        const int base = std::min({raster->getPixel(rect.left, rect.top), raster->getPixel(rect.right, rect.top),
                                   raster->getPixel(rect.left, rect.bottom), raster->getPixel(rect.right, rect.bottom)});
        threshold = std::max(0, roundLikeSearch(static_cast<float>(raster->getPixel(start) - base) * a.fraction) + base);
        processing.findBroundryPoints(raster, rect, start, a.fraction, &points);
    } else {
        int lo = raster->getPixel(rect.left, start.y), hi = lo;
        for (int x = rect.left; x < rect.right; ++x) {
            lo = std::min(lo, raster->getPixel(x, start.y));
            hi = std::max(hi, raster->getPixel(x, start.y));
        }
        threshold = roundLikeSearch(static_cast<float>(hi - lo) * a.fraction) + lo;
        processing.findBroundryPointsUpDown(raster, rect, start, a.fraction, &points);
    }

    nlohmann::ordered_json pts = nlohmann::ordered_json::array();
    for (INT_PTR i = 0; i < points.GetSize(); ++i)
        pts.push_back({points.GetAt(i).x, points.GetAt(i).y});

    if (json) {
        printJson({{"file", a.file},
                   {"rect", {r[0], r[1], r[2], r[3]}},
                   {"method", a.method},
                   {"fraction", a.fraction},
                   {"centre", {mass.x, mass.y}},
                   {"outlineCentre", {start.x, start.y}},
                   {"threshold", threshold},
                   {"points", pts}});
        return 0;
    }
    std::cout << "centre of mass   " << mass.x << " " << mass.y << '\n';
    if (!a.centre.empty())
        std::cout << "outline centre   " << start.x << " " << start.y << '\n';
    std::cout << "threshold        " << threshold << " (" << (rays ? "rays" : "rows") << ", fraction " << a.fraction
              << ")\n";
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    for (INT_PTR i = 0; i < points.GetSize(); ++i) {
        const CPoint& p = points.GetAt(i);
        x0 = i ? std::min(x0, int(p.x)) : p.x;
        x1 = i ? std::max(x1, int(p.x)) : p.x;
        y0 = i ? std::min(y0, int(p.y)) : p.y;
        y1 = i ? std::max(y1, int(p.y)) : p.y;
    }
    std::cout << "outline          " << points.GetSize() << " points, x " << x0 << ".." << x1 << ", y " << y0 << ".."
              << y1 << '\n';
    for (INT_PTR i = 0; i < points.GetSize(); ++i)
        std::cout << (i % 12 == 0 ? "  " : " ") << points.GetAt(i).x << "," << points.GetAt(i).y
                  << ((i % 12 == 11 || i + 1 == points.GetSize()) ? "\n" : "");
    return 0;
}

} // namespace

Command addSpotCommand(CLI::App& root, const bool& json)
{
    auto a = std::make_shared<SpotArgs>();
    CLI::App* app = root.add_subcommand("spot", "Centre of mass of a rectangle and the outline of the spot around it");
    app->add_option("FILE", a->file, "Grayscale image file (8 or 16 bit)")->required();
    app->add_option("--rect", a->rect, "Rectangle: left top right bottom (right and bottom excluded)")
        ->expected(4)
        ->required();
    app->add_option("--centre", a->centre, "Start of the outline search (default: the centre of mass)")->expected(2);
    app->add_option("--fraction", a->fraction, "Threshold between the local base (0) and the centre's value (1)")
        ->check(CLI::Range(0.0, 1.0))
        ->capture_default_str();
    app->add_option("--method", a->method, "rays: 360 rays out of the centre; rows: the centre row, then columns")
        ->check(CLI::IsMember({"rays", "rows"}))
        ->capture_default_str();
    return {app, [a, &json] { return runSpot(*a, json); }};
}

} // namespace kestro
