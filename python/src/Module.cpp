#include "Module.h"

#include "platform/framework/Exceptions.h"

namespace kestro::python {

void raiseOSError(PyObject* type, int error, const std::string& text, const std::string& path) {
    const py::object exception = py::handle(type)(error, text, path);
    PyErr_SetObject(type, exception.ptr());
    throw py::error_already_set();
}

} // namespace kestro::python

PYBIND11_MODULE(_core, m) {
    namespace kp = kestro::python;
    m.doc() = "KestroImage's image library and gel analysis; import it as kestroimage.";
    kp::py::register_exception<kp::DamagedLoad>(m, "DamagedImageError", PyExc_OSError);
    // The framework's exceptions carry a short text; memory is MemoryError as in Python itself.
    kp::py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const CMemoryException&) {
            PyErr_SetString(PyExc_MemoryError, "out of memory");
        } catch (const CException& e) {
            PyErr_SetString(PyExc_RuntimeError, e.GetErrorMessage().ToUtf8().c_str());
        }
    });
    kp::bindImage(m);
    kp::bindProcessing(m);
    kp::py::module_ gel = m.def_submodule("gel", "Gel analysis: tiers, lanes, bands, volumes and sizes.");
    kp::bindGel(gel);
}
