// The library's load and unload: its classes registered, FreeImage set up, the decoders' messages caught.
#include "platform/framework/Module.h"
#include "image/Messages.h"

#include <FreeImage.h>

#include <dlfcn.h>

#include <memory>

// Loading the library registers its serialisable classes (each class's AFX_CLASSINIT object
// does that for itself), initialises FreeImage and makes the library an extension module of
// the host's framework; unloading undoes it in reverse. The host calls nothing.
namespace {

AFX_EXTENSION_MODULE g_kestroImageModule = {FALSE, nullptr, nullptr};

// The base address at which this shared object is mapped stands in for its module handle.
HMODULE thisModule() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&thisModule), &info)) return nullptr;
    return info.dli_fbase;
}

class LibraryLifetime {
public:
    LibraryLifetime() {
        FreeImage_Initialise(FALSE);
        kestro::installMessageReceivers();
        // On Windows a failing initialisation makes the load fail; a shared object cannot
        // refuse to load, so the library then stays out of the chain of extension libraries.
        if (AfxInitExtensionModule(g_kestroImageModule, thisModule()))
            m_chainLink = std::make_unique<CDynLinkLibrary>(g_kestroImageModule);
    }
    ~LibraryLifetime() {
        m_chainLink.reset();
        AfxTermExtensionModule(g_kestroImageModule);
        FreeImage_DeInitialise();
    }
    LibraryLifetime(const LibraryLifetime&) = delete;
    LibraryLifetime& operator=(const LibraryLifetime&) = delete;

private:
    std::unique_ptr<CDynLinkLibrary> m_chainLink;
};

const LibraryLifetime g_libraryLifetime;

} // namespace
