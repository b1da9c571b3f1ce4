// What the parts of the Python module share: the image object, the pixels an array hands over,
// and the errors raised with the library's words.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class DalvoImage;

namespace kestro::python {

namespace py = pybind11;

/// ki.Image: the library's image and the file it came from. Its bitmap is never replaced, so that
/// the arrays viewing it stay valid while they keep it alive.
struct Image {
    std::unique_ptr<DalvoImage> image;
    std::string path;
    std::vector<std::string> damage;
};

/// A load that decoded with errors: ki.DamagedImageError, an OSError.
struct DamagedLoad : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The sample types an operation takes from an array.
enum Accept : unsigned { UInt8 = 1, UInt16 = 2, Float32 = 4, Rgb8 = 8 };

/// Samples an array hands over without a copy: rows may lie any distance apart (an upside-down
/// view of a bitmap included), but the samples of a row must be adjacent.
struct Pixels {
    py::object owner;                   ///< keeps the buffer alive
    const unsigned char* top = nullptr; ///< the first sample of the top row
    int width = 0;
    int height = 0;
    int channels = 1;
    std::ptrdiff_t stride = 0;      ///< bytes from one row to the next
    std::ptrdiff_t channelStep = 1; ///< red to green and green to blue: -1 in a view on a BGR bitmap
    Accept sample = UInt8;
};

/// The pixels of an array, or of a ki.Image through its array(); ValueError with the reason when
/// they are not of an accepted kind, TypeError for anything that is neither.
Pixels pixelsOf(const py::handle& source, unsigned accepted, const char* what);
/// The array of an image's pixels, top row first: a view where the bitmap's layout allows one.
py::array imageArray(const py::object& self);
/// An array of the given sample type, height x width, C order.
py::array newArray(Accept sample, int width, int height, int channels = 1);

[[noreturn]] void raiseOSError(PyObject* type, int error, const std::string& text, const std::string& path);

void bindImage(py::module_& m);
void bindProcessing(py::module_& m);
void bindGel(py::module_& m);

} // namespace kestro::python
