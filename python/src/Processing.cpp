#include "Module.h"

#include "analysis/ImageProcessing.h"

#include <pybind11/stl.h>

#include <array>
#include <cstdint>

namespace kestro::python {

namespace {

// The raster the operations work on: the library's ints, copied from the array's samples.
std::unique_ptr<RasterImageGS16> rasterOf(const Pixels& p) {
    auto r = std::make_unique<RasterImageGS16>(p.width, p.height);
    r->bpp = p.sample == UInt8 ? 8 : 16;
    r->maxPixelValue = RasterImage::maxPixelValueForDepth(r->bpp);
    for (int y = 0; y < p.height; ++y) {
        const unsigned char* row = p.top + y * p.stride;
        int* out = r->pixels + static_cast<size_t>(p.width) * y;
        if (p.sample == UInt8)
            for (int x = 0; x < p.width; ++x)
                out[x] = row[x];
        else
            for (int x = 0; x < p.width; ++x)
                out[x] = reinterpret_cast<const std::uint16_t*>(row)[x];
    }
    return r;
}

// Values stay within the depth: minima and means of the samples.
template <typename T> void copyOut(const RasterImageGS16& r, T* out) {
    const size_t n = static_cast<size_t>(r.width) * r.height;
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<T>(r.pixels[i]);
}

py::array arrayOf(const RasterImageGS16& r, Accept sample) {
    py::array out = newArray(sample, r.width, r.height);
    void* data = out.mutable_data();
    py::gil_scoped_release unlocked;
    if (sample == UInt8)
        copyOut(r, static_cast<std::uint8_t*>(data));
    else
        copyOut(r, static_cast<std::uint16_t*>(data));
    return out;
}

CRect rectOf(const std::array<int, 4>& box) {
    return CRect(box[0], box[1], box[2], box[3]);
}

py::array background(const py::handle& source, int halfWidth, int halfHeight) {
    if (halfWidth < 1 || halfHeight < 1)
        throw py::value_error(
            "background needs half sizes of at least 1 (the window is 2 half_width x 2 half_height)");
    const Pixels p = pixelsOf(source, UInt8 | UInt16, "background");
    std::unique_ptr<RasterImageGS16> raster, result;
    {
        py::gil_scoped_release unlocked;
        raster = rasterOf(p);
        result = std::make_unique<RasterImageGS16>(p.width, p.height);
        result->bpp = raster->bpp;
        result->maxPixelValue = raster->maxPixelValue;
        ImageProcessing().generateBGViaMinFilter(raster.get(), result.get(), halfWidth, halfHeight);
    }
    return arrayOf(*result, p.sample);
}

py::array smooth(const py::handle& source, int radius) {
    if (radius < 0) throw py::value_error("smooth needs a radius of 0 or more");
    const Pixels p = pixelsOf(source, UInt8 | UInt16, "smooth");
    std::unique_ptr<RasterImageGS16> raster;
    {
        py::gil_scoped_release unlocked;
        raster = rasterOf(p);
        ImageProcessing().smoothenViaAverageFilter(raster.get(), radius);
    }
    return arrayOf(*raster, p.sample);
}

std::pair<int, int> centreOfMass(const py::handle& source, const std::array<int, 4>& box) {
    const Pixels p = pixelsOf(source, UInt8 | UInt16, "centre_of_mass");
    py::gil_scoped_release unlocked;
    const std::unique_ptr<RasterImageGS16> raster = rasterOf(p);
    const CPoint c = ImageProcessing().findCenterOfMass3D(raster.get(), rectOf(box));
    return {c.x, c.y};
}

py::array outline(const py::handle& source, const std::array<int, 4>& box, const std::pair<int, int>& centre,
                  float fraction, const std::string& method) {
    if (method != "rays" && method != "rows")
        throw py::value_error("outline's method is 'rays' or 'rows', not '" + method + "'");
    const Pixels p = pixelsOf(source, UInt8 | UInt16, "outline");
    CPointArray points;
    {
        py::gil_scoped_release unlocked;
        const std::unique_ptr<RasterImageGS16> raster = rasterOf(p);
        const CPoint c(centre.first, centre.second);
        if (method == "rays")
            ImageProcessing().findBroundryPoints(raster.get(), rectOf(box), c, fraction, &points);
        else
            ImageProcessing().findBroundryPointsUpDown(raster.get(), rectOf(box), c, fraction, &points);
    }
    py::array_t<std::int32_t> out({static_cast<py::ssize_t>(points.GetSize()), py::ssize_t(2)});
    auto o = out.mutable_unchecked<2>();
    for (INT_PTR i = 0; i < points.GetSize(); ++i) {
        o(i, 0) = points.GetAt(i).x;
        o(i, 1) = points.GetAt(i).y;
    }
    return out;
}

} // namespace

void bindProcessing(py::module_& m) {
    m.def("background", &background, py::arg("image"), py::arg("half_width"), py::arg("half_height"),
          "The background by a moving minimum, the library's generateBGViaMinFilter: each pixel\n"
          "becomes the smallest value in a window of 2 half_width x 2 half_height pixels reaching\n"
          "half_width - 1 to its right and half_height - 1 below it, clamped to the image. Takes a\n"
          "2-D uint8 or uint16 array or a grey Image; gives a new array of the same dtype.\n"
          "For lanes that run down, a flat window (wide, few rows) keeps the bands out of it.");
    m.def("smooth", &smooth, py::arg("image"), py::arg("radius"),
          "A moving average, the library's smoothenViaAverageFilter: each pixel at least radius from\n"
          "the edges becomes the mean (truncated) of the 2 radius x 2 radius pixels from radius above\n"
          "and left of it; the pixels at the edges keep their values. A new array of the input's dtype\n"
          "(uint8 or uint16); a radius of 0 or one too large for the image changes nothing.");
    m.def("centre_of_mass", &centreOfMass, py::arg("image"), py::arg("box"),
          "The intensity-weighted centre (x, y) of a box (left, top, right, bottom), half-open and\n"
          "clamped to the image, rounded half up; the box's middle when its pixels sum to 0.\n"
          "The library's findCenterOfMass3D, on a 2-D uint8 or uint16 array or a grey Image.");
    m.def("outline", &outline, py::arg("image"), py::arg("box"), py::arg("centre"),
          py::arg("fraction") = 0.5f, py::arg("method") = "rays",
          "The outline of a spot around centre (x, y) inside box (left, top, right, bottom), as an\n"
          "N x 2 int32 array of (x, y) points. method 'rays': 360 points, one ray a degree walking out\n"
          "until the pixel drops below fraction of the way from the box's lowest corner to the\n"
          "centre's value (findBroundryPoints). method 'rows': a closed clockwise outline from the\n"
          "runs of the centre's row and of each column (findBroundryPointsUpDown).");
}

} // namespace kestro::python
