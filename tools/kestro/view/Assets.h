// The page of kestro view, built into the program: it needs no network and no files beside it.
#pragma once

#include <cstddef>

namespace kestro::view {

struct Asset {
    const char* name;
    const char* type; ///< the Content-Type it is served with
    const unsigned char* data;
    std::size_t size;
};

/// The asset of that name (index.html, view.js, view.css); null for any other.
const Asset* findAsset(const char* name);

} // namespace kestro::view
