// What the decoders say: the library prints nothing; FreeImage's and libtiff's messages reach the caller
// here.
#pragma once

#include "platform/wintypes/Export.h"

#include <FreeImage.h>

#include <functional>
#include <string>
#include <vector>

namespace kestro {

enum class MessageSource { FreeImage, TiffWarning, TiffError };

struct Message {
    MessageSource source;
    /// The plugin that spoke for FreeImage's messages; FIF_TIFF for libtiff's.
    FREE_IMAGE_FORMAT format;
    std::string text;
};

using MessageHandler = std::function<void(const Message&)>;

/// Replaces the process's message handler; an empty one restores the default, which shows
/// nothing. The handler runs on the thread that produced the message, possibly on several
/// threads at once. Messages are also kept for recentMessages whatever the handler.
KESTRO_API void setMessageHandler(MessageHandler handler);
/// The calling thread's newest messages, oldest first (at most 32): why a load failed.
KESTRO_API std::vector<Message> recentMessages();
KESTRO_API void clearRecentMessages();
/// Points FreeImage's message output and libtiff's warning and error handlers at the library
/// again. Loading the library does this; call it after replacing FreeImage's handler yourself.
KESTRO_API void installMessageReceivers();

} // namespace kestro
