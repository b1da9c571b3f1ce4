// Fuzz target of image loading from memory: the input is an image file in any format FreeImage
// reads. Whatever loads must give its raster and information lines; nothing may crash, leak or
// touch memory outside its buffers. The load limit keeps claimed sizes from exhausting memory.
#include "FuzzDriver.h"

#include "image/DalvoImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fipImage::setLoadMemoryLimit(64u << 20);
    FuzzInput copy(data, data + size);
    DalvoImage image;
    if (image.Load(copy.empty() ? nullptr : copy.data(), static_cast<DWORD>(copy.size()))) {
        try {
            image.getRasterImage();
        } catch (CMemoryException&) {
        }
        CStringArray lines;
        image.getImageInfo(lines);
    }
    return 0;
}

// The seeds are files in corpus/image: small images of every depth in the formats gel files come in
// (not PSD: FreeImage's PSD writer leaks a few bytes a save), and footer-only.tga, twenty bytes
// for which FreeImage asks malloc for nearly 2^64 bytes.
