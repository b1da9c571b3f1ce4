#include "image/Messages.h"

#include "image/detail/MessageCapture.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include <dlfcn.h>

namespace kestro {
namespace {

constexpr size_t kKept = 32;

std::mutex g_handlerLock;
std::shared_ptr<const MessageHandler> g_handler;
thread_local std::deque<Message> t_recent;
thread_local detail::MessageCapture* t_capture = nullptr;

void deliver(Message message) {
    std::shared_ptr<const MessageHandler> handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerLock);
        handler = g_handler;
    }
    if (handler && *handler) (*handler)(message);
    if (message.source != MessageSource::TiffWarning) detail::noteError(message.text);
    if (t_recent.size() == kKept) t_recent.pop_front();
    t_recent.push_back(std::move(message));
}

void DLL_CALLCONV fromFreeImage(FREE_IMAGE_FORMAT fif, const char* text) {
    deliver({MessageSource::FreeImage, fif, text ? text : ""});
}

void fromTiff(MessageSource source, const char* module, const char* format, va_list args) {
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, format ? format : "", args);
    deliver(
        {source, FIF_TIFF, module && *module ? std::string(module) + ": " + buffer : std::string(buffer)});
}

void tiffWarning(const char* module, const char* format, va_list args) {
    fromTiff(MessageSource::TiffWarning, module, format, args);
}

// FreeImage asks libtiff about every EXIF tag it knows, each time it opens a TIFF, and libtiff
// answers each one it does not know with an "error" that says nothing about the file. Some sixty
// of them a file would push the file's own words out of the recent messages, and formatting them
// took a third of the time of reading a document of many small images: they are dropped.
void tiffError(const char* module, const char* format, va_list args) {
    if (module && std::strcmp(module, "TIFFFieldWithTag") == 0) return;
    fromTiff(MessageSource::TiffError, module, format, args);
}

} // namespace

namespace detail {

MessageCapture::MessageCapture() : m_outer(t_capture) {
    t_capture = this;
}

MessageCapture::~MessageCapture() {
    t_capture = m_outer;
}

void noteError(const std::string& text) {
    for (MessageCapture* capture = t_capture; capture; capture = capture->m_outer)
        capture->m_errors.push_back(text);
}

} // namespace detail

void setMessageHandler(MessageHandler handler) {
    auto shared = handler ? std::make_shared<const MessageHandler>(std::move(handler)) : nullptr;
    std::lock_guard<std::mutex> lock(g_handlerLock);
    g_handler = std::move(shared);
}

std::vector<Message> recentMessages() {
    return std::vector<Message>(t_recent.begin(), t_recent.end());
}

void clearRecentMessages() {
    t_recent.clear();
}

void installMessageReceivers() {
    FreeImage_SetOutputMessage(fromFreeImage);
    // libtiff comes into the process with FreeImage, which reads TIFF files through it; its
    // default handlers print to stderr (a line for every private tag of an imager's file).
    using Handler = void (*)(const char*, const char*, va_list);
    using SetHandler = Handler (*)(Handler);
    if (void* symbol = dlsym(RTLD_DEFAULT, "TIFFSetWarningHandler"))
        reinterpret_cast<SetHandler>(symbol)(tiffWarning);
    if (void* symbol = dlsym(RTLD_DEFAULT, "TIFFSetErrorHandler"))
        reinterpret_cast<SetHandler>(symbol)(tiffError);
}

} // namespace kestro
