#include "Module.h"

#include "image/DalvoImage.h"

#include <cstdlib>
#include <cstring>

namespace kestro::python {

namespace {

std::string kinds(unsigned accepted) {
    std::string s;
    const auto add = [&](unsigned bit, const char* name) {
        if (accepted & bit) s += (s.empty() ? "" : ", ") + std::string(name);
    };
    add(UInt8, "uint8");
    add(UInt16, "uint16");
    add(Float32, "float32");
    add(Rgb8, "uint8 H x W x 3 colour");
    return s;
}

py::dtype dtypeOf(Accept sample) {
    switch (sample) {
    case UInt16:
        return py::dtype::of<std::uint16_t>();
    case Float32:
        return py::dtype::of<float>();
    default:
        return py::dtype::of<std::uint8_t>();
    }
}

// A view on the bitmap from its top scan line upwards in memory (FreeImage stores rows bottom-up).
py::array view(const py::object& self, const DalvoImage& image, const py::dtype& dtype, int channels,
               std::ptrdiff_t pixelStride, std::ptrdiff_t channelStride, std::ptrdiff_t offset) {
    const auto height = static_cast<py::ssize_t>(image.getHeight()),
               width = static_cast<py::ssize_t>(image.getWidth());
    const auto pitch = static_cast<py::ssize_t>(image.getScanWidth());
    BYTE* top = image.getScanLine(image.getHeight() - 1) + offset;
    std::vector<py::ssize_t> shape = {height, width}, strides = {-pitch, pixelStride};
    if (channels > 1) {
        shape.push_back(channels);
        strides.push_back(channelStride);
    }
    return py::array(dtype, shape, strides, top, self);
}

// A copy for layouts no view can show: bits packed below a byte, BGRA, 16-bit RGB bitmaps.
py::array copied(const DalvoImage& image) {
    const unsigned bpp = image.getBitsPerPixel();
    const int width = static_cast<int>(image.getWidth()), height = static_cast<int>(image.getHeight());
    if (bpp == 1 || bpp == 4) {
        py::array out = newArray(UInt8, width, height);
        auto* dst = static_cast<BYTE*>(out.mutable_data());
        for (int y = 0; y < height; ++y) {
            const BYTE* line = image.getScanLine(static_cast<unsigned>(height - 1 - y));
            for (int x = 0; x < width; ++x)
                *dst++ =
                    bpp == 1 ? (line[x >> 3] >> (7 - (x & 7))) & 1 : (line[x >> 1] >> (x & 1 ? 0 : 4)) & 15;
        }
        return out;
    }
    FIBITMAP* rgba = bpp == 32 ? nullptr : FreeImage_ConvertTo32Bits(const_cast<DalvoImage&>(image));
    const FIBITMAP* source = bpp == 32 ? const_cast<DalvoImage&>(image).operator FIBITMAP*() : rgba;
    if (!source) throw std::bad_alloc();
    const int channels = bpp == 32 ? 4 : 3;
    py::array out = newArray(UInt8, width, height, channels);
    auto* dst = static_cast<BYTE*>(out.mutable_data());
    for (int y = 0; y < height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(const_cast<FIBITMAP*>(source), height - 1 - y);
        for (int x = 0; x < width; ++x, line += 4) {
            *dst++ = line[FI_RGBA_RED];
            *dst++ = line[FI_RGBA_GREEN];
            *dst++ = line[FI_RGBA_BLUE];
            if (channels == 4) *dst++ = line[FI_RGBA_ALPHA];
        }
    }
    if (rgba) FreeImage_Unload(rgba);
    return out;
}

} // namespace

py::array newArray(Accept sample, int width, int height, int channels) {
    std::vector<py::ssize_t> shape = {height, width};
    if (channels > 1) shape.push_back(channels);
    return py::array(dtypeOf(sample), shape);
}

py::array imageArray(const py::object& self) {
    const Image& im = self.cast<const Image&>();
    const DalvoImage& image = *im.image;
    const unsigned bpp = image.getBitsPerPixel();
    static_assert(FI_RGBA_GREEN - FI_RGBA_RED == FI_RGBA_BLUE - FI_RGBA_GREEN, "colour bytes evenly spaced");
    const std::ptrdiff_t colourStep = FI_RGBA_GREEN - FI_RGBA_RED;
    switch (image.getImageType()) {
    case FIT_BITMAP:
        if (bpp == 8) return view(self, image, py::dtype::of<std::uint8_t>(), 1, 1, 0, 0);
        if (bpp == 24) return view(self, image, py::dtype::of<std::uint8_t>(), 3, 3, colourStep, FI_RGBA_RED);
        return copied(image);
    case FIT_UINT16:
        return view(self, image, py::dtype::of<std::uint16_t>(), 1, 2, 0, 0);
    case FIT_INT16:
        return view(self, image, py::dtype::of<std::int16_t>(), 1, 2, 0, 0);
    case FIT_UINT32:
        return view(self, image, py::dtype::of<std::uint32_t>(), 1, 4, 0, 0);
    case FIT_INT32:
        return view(self, image, py::dtype::of<std::int32_t>(), 1, 4, 0, 0);
    case FIT_FLOAT:
        return view(self, image, py::dtype::of<float>(), 1, 4, 0, 0);
    case FIT_DOUBLE:
        return view(self, image, py::dtype::of<double>(), 1, 8, 0, 0);
    case FIT_COMPLEX:
        return view(self, image, py::dtype::of<std::complex<double>>(), 1, 16, 0, 0);
    case FIT_RGB16:
        return view(self, image, py::dtype::of<std::uint16_t>(), 3, 6, 2, 0);
    case FIT_RGBA16:
        return view(self, image, py::dtype::of<std::uint16_t>(), 4, 8, 2, 0);
    case FIT_RGBF:
        return view(self, image, py::dtype::of<float>(), 3, 12, 4, 0);
    case FIT_RGBAF:
        return view(self, image, py::dtype::of<float>(), 4, 16, 4, 0);
    default:
        throw std::invalid_argument("an image of this type has no array form");
    }
}

Pixels pixelsOf(const py::handle& source, unsigned accepted, const char* what) {
    py::object object = py::reinterpret_borrow<py::object>(source);
    if (py::isinstance<Image>(object)) object = imageArray(object);
    if (!py::isinstance<py::array>(object))
        throw py::type_error(std::string(what) + " takes a NumPy array or a kestroimage.Image, not " +
                             std::string(py::str(py::type::of(object).attr("__name__"))));
    const auto a = object.cast<py::array>();
    const py::dtype dt = a.dtype();
    Pixels p;
    p.owner = object;
    if (!dt.attr("isnative").cast<bool>())
        throw py::value_error(
            std::string(what) +
            " needs samples in the machine's byte order (use a.astype(a.dtype.newbyteorder('=')))");
    const char kind = dt.kind();
    const auto size = dt.itemsize();
    if (kind == 'u' && size == 1)
        p.sample = UInt8;
    else if (kind == 'u' && size == 2)
        p.sample = UInt16;
    else if (kind == 'f' && size == 4)
        p.sample = Float32;
    else
        throw py::value_error(std::string(what) + " takes " + kinds(accepted) + " samples, not " +
                              py::str(py::handle(dt)).cast<std::string>());
    if (a.ndim() == 3) {
        if (p.sample != UInt8 || !(accepted & Rgb8))
            throw py::value_error(std::string(what) + " takes 2-D arrays of " + kinds(accepted & ~Rgb8) +
                                  " samples; this one is 3-D");
        if (a.shape(2) != 3)
            throw py::value_error(std::string(what) +
                                  " takes colour as H x W x 3 (red, green, blue); this array has " +
                                  std::to_string(a.shape(2)) + " samples a pixel");
        p.channels = 3;
        p.sample = Rgb8;
    } else if (a.ndim() != 2) {
        throw py::value_error(std::string(what) + " takes a 2-D array (rows, columns); this one has " +
                              std::to_string(a.ndim()) + " dimensions");
    }
    if (!(accepted & p.sample))
        throw py::value_error(
            std::string(what) + " takes " + kinds(accepted) + " samples, not " +
            (p.sample == Rgb8 ? std::string("uint8 colour") : py::str(py::handle(dt)).cast<std::string>()));
    if (a.shape(0) < 1 || a.shape(1) < 1) throw py::value_error(std::string(what) + ": the array is empty");
    if (a.shape(0) > 0x7fffffff || a.shape(1) > 0x7fffffff)
        throw py::value_error(std::string(what) + ": the array is too large for an image");
    p.height = static_cast<int>(a.shape(0));
    p.width = static_cast<int>(a.shape(1));
    const py::ssize_t pixel = size * p.channels, row = pixel * p.width;
    if (p.channels > 1) p.channelStep = a.strides(2) == -size ? -1 : 1;
    if ((p.width > 1 && a.strides(1) != pixel) || (p.channels > 1 && a.strides(2) != p.channelStep * size))
        throw py::value_error(std::string(what) +
                              " needs the samples of each row side by side; this array steps " +
                              "over them (use np.ascontiguousarray)");
    p.stride = p.height > 1 ? a.strides(0) : row;
    if (std::abs(p.stride) < row)
        throw py::value_error(std::string(what) + ": the rows of the array overlap");
    p.top = static_cast<const unsigned char*>(a.data());
    return p;
}

} // namespace kestro::python
