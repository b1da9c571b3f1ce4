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

// Small images of every depth in the formats gel files come in (not PSD: FreeImage's PSD writer
// leaks a few bytes a save).
std::vector<FuzzInput> fuzzSeeds() {
    struct Seed {
        FREE_IMAGE_TYPE type;
        unsigned bpp;
        FREE_IMAGE_FORMAT format;
    };
    const Seed seeds[] = {{FIT_UINT16, 16, FIF_TIFF}, {FIT_UINT16, 16, FIF_PNG}, {FIT_BITMAP, 8, FIF_TIFF},
                          {FIT_BITMAP, 8, FIF_GIF},   {FIT_BITMAP, 8, FIF_BMP},  {FIT_BITMAP, 24, FIF_JPEG},
                          {FIT_BITMAP, 24, FIF_PNG},  {FIT_BITMAP, 8, FIF_PGMRAW}, {FIT_BITMAP, 32, FIF_TARGA},
                          {FIT_BITMAP, 1, FIF_TIFF},  {FIT_FLOAT, 32, FIF_TIFF}};
    std::vector<FuzzInput> out;
    for (const Seed& s : seeds) {
        fipImage image(s.type, 13, 7, s.bpp);
        for (unsigned y = 0; y < image.getHeight(); ++y)
            for (unsigned i = 0; i < image.getLine(); ++i) image.getScanLine(y)[i] = static_cast<BYTE>(i * 29 + y * 7);
        fipMemoryIO stream;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        if (image.saveToMemory(s.format, stream) && stream.acquire(&bytes, &length))
            out.emplace_back(bytes, bytes + length);
    }
    // Twenty bytes ending in a Targa footer: FreeImage asks malloc for nearly 2^64 bytes.
    const char targaFooter[] = "\0\0TRUEVISION-XFILE.";
    out.emplace_back(targaFooter, targaFooter + sizeof targaFooter);
    return out;
}
