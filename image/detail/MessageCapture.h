// Hears the errors the decoders report on this thread while a load runs.
#pragma once

#include <string>
#include <vector>

namespace kestro::detail {

/// Collects the error messages (not libtiff's warnings) delivered on the constructing thread
/// during its lifetime. Captures nest; each hears everything said while it is alive.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    const std::vector<std::string>& errors() const { return m_errors; }

private:
    friend void noteError(const std::string& text);
    MessageCapture* m_outer;
    std::vector<std::string> m_errors;
};

void noteError(const std::string& text);

} // namespace kestro::detail
