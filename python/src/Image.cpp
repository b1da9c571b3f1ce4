#include "Module.h"

#include "platform/framework/Archive.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/File.h"
#include "image/DalvoImage.h"
#include "image/Messages.h"

#include <pybind11/stl.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kestro::python {

namespace {

namespace fs = std::filesystem;

std::string pathOf(const py::handle& path) {
    return py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>();
}

std::string lastMessage() {
    const std::vector<Message> messages = recentMessages();
    return messages.empty() ? std::string() : " (" + messages.back().text + ")";
}

// A stand-alone image archive starts with a new class (FFFF), any schema, then the class name
// with its length.
bool isImageArchive(const std::string& path) {
    static const char name[] = "DalvoImage";
    unsigned char head[6 + sizeof name - 1] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return false;
    return head[0] == 0xFF && head[1] == 0xFF && head[4] == sizeof name - 1 && head[5] == 0 &&
           std::memcmp(head + 6, name, sizeof name - 1) == 0;
}

// Null when the archive cannot be read; runs without the interpreter's lock, so raises nothing.
std::unique_ptr<DalvoImage> loadArchive(const std::string& path) {
    CFile file;
    if (!file.Open(CString::FromUtf8(path), CFile::modeRead | CFile::typeBinary)) return nullptr;
    std::unique_ptr<DalvoImage> image;
    try {
        CArchive ar(&file, CArchive::load);
        image.reset(static_cast<DalvoImage*>(ar.ReadObject(RUNTIME_CLASS(DalvoImage))));
    } catch (const CException&) {
        image.reset();
    }
    if (image && !image->isValid()) image.reset();
    return image;
}

Image load(const py::handle& file, bool acceptDamaged) {
    Image im;
    im.path = pathOf(file);
    const std::string& path = im.path;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) raiseOSError(PyExc_FileNotFoundError, ENOENT, path + ": no such file", path);
    if (fs::is_directory(status))
        raiseOSError(PyExc_IsADirectoryError, EISDIR, path + ": is a folder, not an image file", path);
    if (isImageArchive(path)) {
        std::unique_ptr<DalvoImage> image;
        {
            py::gil_scoped_release unlocked;
            image = loadArchive(path);
        }
        if (!image) raiseOSError(PyExc_OSError, EIO, path + ": not an image archive that can be read", path);
        im.image = std::move(image);
        return im;
    }
    im.image = std::make_unique<DalvoImage>();
    BOOL loaded = FALSE;
    std::string why;
    {
        py::gil_scoped_release unlocked;
        clearRecentMessages();
        loaded = im.image->load(path.c_str());
        if (!loaded) why = lastMessage();
    }
    if (!loaded || !im.image->isValid())
        raiseOSError(PyExc_OSError, EIO, path + ": not an image that can be read" + why, path);
    im.damage = im.image->getLoadDamage();
    if (!im.damage.empty() && !acceptDamaged)
        throw DamagedLoad(path + ": damaged (" + im.damage.front() +
                          "); load(..., accept_damaged=True) reads it anyway");
    return im;
}

Image fromArray(const py::handle& source) {
    const Pixels p = pixelsOf(source, UInt8 | UInt16 | Float32 | Rgb8, "Image.from_array");
    Image im;
    const auto w = static_cast<unsigned>(p.width), h = static_cast<unsigned>(p.height);
    {
        py::gil_scoped_release unlocked;
        switch (p.sample) {
        case UInt8:
            im.image = std::make_unique<DalvoImage>(w, h, 8u);
            break;
        case Rgb8:
            im.image = std::make_unique<DalvoImage>(w, h, 24u);
            break;
        case UInt16:
            im.image = std::make_unique<DalvoImage>(FIT_UINT16, w, h, 16u);
            break;
        case Float32:
            im.image = std::make_unique<DalvoImage>(FIT_FLOAT, w, h, 32u);
            break;
        }
        if (!im.image->isValid()) throw std::bad_alloc();
        const size_t rowBytes = static_cast<size_t>(p.width) * p.channels *
                                (p.sample == UInt16    ? 2
                                 : p.sample == Float32 ? 4
                                                       : 1);
        for (int y = 0; y < p.height; ++y) {
            BYTE* line = im.image->getScanLine(h - 1 - static_cast<unsigned>(y));
            const unsigned char* row = p.top + y * p.stride;
            if (p.sample != Rgb8) {
                std::memcpy(line, row, rowBytes);
                continue;
            }
            for (int x = 0; x < p.width; ++x, row += 3, line += 3) {
                line[FI_RGBA_RED] = row[0];
                line[FI_RGBA_GREEN] = row[p.channelStep];
                line[FI_RGBA_BLUE] = row[2 * p.channelStep];
            }
        }
    }
    return im;
}

void save(const Image& im, const py::handle& file) {
    const std::string path = pathOf(file);
    if (!im.image->canSave(path.c_str()))
        throw py::value_error(path + ": the format of this name cannot hold a " +
                              std::to_string(im.image->getBitsPerPixel()) + "-bit image of this type");
    BOOL saved = FALSE;
    std::string why;
    {
        py::gil_scoped_release unlocked;
        clearRecentMessages();
        saved = im.image->fipImage::save(path.c_str());
        if (!saved) why = lastMessage();
    }
    if (!saved) raiseOSError(PyExc_OSError, EIO, path + ": cannot write" + why, path);
}

std::string typeName(const DalvoImage& image) {
    const unsigned bpp = image.getBitsPerPixel();
    switch (image.getImageType()) {
    case FIT_BITMAP: {
        const std::string bits = std::to_string(bpp) + "-bit ";
        switch (image.getColorType()) {
        case FIC_MINISBLACK:
            return bits + "grayscale";
        case FIC_MINISWHITE:
            return bits + "grayscale, white at 0";
        case FIC_PALETTE:
            return bits + "palette";
        case FIC_RGB:
            return bpp == 24 || bpp == 32 ? "8-bit RGB" : bits + "RGB";
        case FIC_RGBALPHA:
            return "8-bit RGBA";
        default:
            return bits + "colour";
        }
    }
    case FIT_UINT16:
        return "16-bit grayscale";
    case FIT_INT16:
        return "16-bit signed grayscale";
    case FIT_UINT32:
        return "32-bit grayscale";
    case FIT_INT32:
        return "32-bit signed grayscale";
    case FIT_FLOAT:
        return "32-bit float grayscale";
    case FIT_DOUBLE:
        return "64-bit float grayscale";
    case FIT_COMPLEX:
        return "complex";
    case FIT_RGB16:
        return "16-bit RGB";
    case FIT_RGBA16:
        return "16-bit RGBA";
    case FIT_RGBF:
        return "32-bit float RGB";
    case FIT_RGBAF:
        return "32-bit float RGBA";
    default:
        return "unknown";
    }
}

} // namespace

void bindImage(py::module_& m) {
    py::class_<Image>(m, "Image",
                      "A gel scan as the library holds it: pixels, type and processing history.\n\n"
                      "Made by kestroimage.load or Image.from_array.")
        .def_static("from_array", &fromArray, py::arg("array"),
                    "An image holding a copy of a 2-D array: uint8 (8-bit grayscale), uint16 (16-bit\n"
                    "grayscale), float32 (32-bit float grayscale), or a uint8 H x W x 3 array of red,\n"
                    "green and blue (8-bit RGB). Row 0 is the top row. Rows may lie any distance apart,\n"
                    "but the samples of a row must be side by side; ValueError otherwise.")
        .def_property_readonly(
            "width", [](const Image& im) { return im.image->getWidth(); }, "Columns.")
        .def_property_readonly(
            "height", [](const Image& im) { return im.image->getHeight(); }, "Rows.")
        .def_property_readonly(
            "bits", [](const Image& im) { return im.image->getBitsPerPixel(); },
            "Bits per pixel, all samples of a pixel together (24 for 8-bit RGB).")
        .def_property_readonly(
            "type", [](const Image& im) { return typeName(*im.image); },
            "The pixel type in words, such as '16-bit grayscale' or '8-bit RGB'.")
        .def_property_readonly(
            "path",
            [](const Image& im) { return im.path.empty() ? py::object(py::none()) : py::str(im.path); },
            "The file the image was loaded from, or None.")
        .def_property_readonly(
            "damage", [](const Image& im) { return im.damage; },
            "What the decoder reported for a damaged load (accept_damaged=True); empty otherwise.")
        .def_property(
            "history", [](const Image& im) { return im.image->GetPreprocessStr().ToUtf8(); },
            [](Image& im, const std::string& text) { im.image->SetPreprocessStr(CString::FromUtf8(text)); },
            "The processing history: each step '{' text '}' after the other. Assigning replaces it.")
        .def(
            "add_history",
            [](Image& im, const std::string& entry) { im.image->AddPreprocessStr(CString::FromUtf8(entry)); },
            py::arg("entry"), "Appends a step to the history, in braces.")
        .def("array", &imageArray,
             "The pixels, top row first: (height, width) for grey and palette images (palette\n"
             "indices), (height, width, 3 or 4) for colour, samples in red, green, blue (alpha) order.\n\n"
             "A view on the image's bitmap, without a copy, for 8-bit grey and palette, 24-bit RGB,\n"
             "16 and 32-bit integer, float, double, complex, 16-bit RGB(A) and float RGB(A) images:\n"
             "the rows run upwards in memory (negative row stride), writing to the array writes to\n"
             "the image, and the array keeps the image alive. A copy for 1 and 4-bit images (indices),\n"
             "32-bit RGBA and 16-bit 555/565 bitmaps.")
        .def("save", &save, py::arg("path"),
             "Saves in the format of the name's extension (.tif, .png, .bmp, .jpg, ...). The file is\n"
             "written beside the target and renamed over it only when complete, so a failed save\n"
             "leaves what was there. ValueError when the format cannot hold the image, OSError when\n"
             "it cannot be written.")
        .def("__repr__", [](const Image& im) {
            return "<kestroimage.Image " + std::to_string(im.image->getWidth()) + " x " +
                   std::to_string(im.image->getHeight()) + ", " + typeName(*im.image) +
                   (im.path.empty() ? std::string() : ", from " + im.path) + ">";
        });

    m.def("load", &load, py::arg("path"), py::kw_only(), py::arg("accept_damaged") = false,
          "Loads an image file of any format the library reads (detected by its signature, else its\n"
          "extension) or an image archive.\n\n"
          "Files whose pixels would need more memory than load_memory_limit() are refused before\n"
          "decoding where the header tells. A file that decodes with errors raises DamagedImageError\n"
          "unless accept_damaged is true (then Image.damage says what was wrong). OSError\n"
          "(FileNotFoundError for a missing file) when it cannot be read.");
    m.def(
        "set_load_memory_limit", [](unsigned long long bytes) { fipImage::setLoadMemoryLimit(bytes); },
        py::arg("bytes"),
        "Sets the most memory a load may take for its bitmap and raster, for the whole process.");
    m.def("load_memory_limit", &fipImage::getLoadMemoryLimit,
          "The most memory a load may take, in bytes (8 GiB by default).");
}

} // namespace kestro::python
