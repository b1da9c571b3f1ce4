// Fuzz target of the archive reader: one object envelope (any registered class, so the
// library's own Serialize code is fuzzed too), then counted strings and counts until the
// bytes run out. Anything but CArchiveException, CMemoryException or a clean return is a bug;
// the sanitizers report crashes and leaks. An image that comes out is stored again and read
// back: it must return with the same history, type, size and pixels (abort otherwise).
#include "FuzzDriver.h"

#include "framework/afx.h"
#include "image/DalvoImage.h"
#include "raster/RasterImageGS16.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

bool samePixels(DalvoImage& a, DalvoImage& b) {
    if (a.getImageType() != b.getImageType() || a.getWidth() != b.getWidth() || a.getHeight() != b.getHeight() ||
        a.getBitsPerPixel() != b.getBitsPerPixel())
        return false;
    // Bits past the last pixel of 1 and 4-bit lines are not pixels: TIFF does not keep them.
    const size_t bits = size_t(a.getWidth()) * a.getBitsPerPixel(), whole = bits / 8;
    const BYTE tail = static_cast<BYTE>(0xFF00 >> (bits % 8));
    for (unsigned y = 0; y < a.getHeight(); ++y) {
        const BYTE *p = a.getScanLine(y), *q = b.getScanLine(y);
        if (std::memcmp(p, q, whole) != 0 || (bits % 8 && ((p[whole] ^ q[whole]) & tail))) return false;
    }
    return true;
}

// Stores the image as a host would and reads it back through the envelope of its class.
void checkRoundTrip(DalvoImage& image) {
    CMemFile stored;
    {
        CArchive ar(&stored, CArchive::store);
        try {
            ar.WriteObject(&image);
        } catch (CArchiveException& e) {
            // Bitmaps that TIFF cannot take are refused, nothing else.
            if (e.m_cause != CArchiveException::genericException) std::abort();
            return;
        }
        ar.Close();
    }
    stored.SeekToBegin();
    CArchive ar(&stored, CArchive::load);
    std::unique_ptr<CObject> back;
    try {
        back.reset(ar.ReadObject(RUNTIME_CLASS(DalvoImage)));
    } catch (CArchiveException&) {
        std::abort(); // what we wrote must read
    }
    auto* again = static_cast<DalvoImage*>(back.get());
    if (!again || ar.BytesLeft() != 0 || again->GetPreprocessStr() != image.GetPreprocessStr() ||
        !samePixels(*again, image))
        std::abort();
}

FuzzInput operator+(FuzzInput a, const FuzzInput& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

FuzzInput le32(size_t v) { return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}; }

FuzzInput encoded(fipImage& image, FREE_IMAGE_FORMAT fif) {
    fipMemoryIO stream;
    BYTE* bytes = nullptr;
    DWORD length = 0;
    if (!image.saveToMemory(fif, stream) || !stream.acquire(&bytes, &length)) return {};
    return FuzzInput(bytes, bytes + length);
}

} // namespace
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<BYTE> copy(data, data + size);
    CMemFile file(copy.empty() ? nullptr : copy.data(), static_cast<UINT>(copy.size()));
    CArchive ar(&file, CArchive::load);
    try {
        // The first envelope cannot refer back to anything, so the object is new and ours.
        std::unique_ptr<CObject> object(ar.ReadObject(nullptr));
        if (object && object->IsKindOf(RUNTIME_CLASS(DalvoImage))) checkRoundTrip(*static_cast<DalvoImage*>(object.get()));
        while (ar.BytesLeft() > 0) {
            BYTE what;
            ar >> what;
            if (what & 1) {
                CString s;
                ar >> s;
            } else {
                ar.ReadCount();
            }
        }
    } catch (CArchiveException&) {
    } catch (CMemoryException&) {
    } catch (CFileException&) {
    }
    return 0;
}

// Envelopes of the library's serialisable classes followed by strings and counts.
std::vector<FuzzInput> fuzzSeeds() {
    std::vector<FuzzInput> seeds;
    DalvoImage image(FIT_UINT16, 5, 3, 16);
    image.AddPreprocessStr(L"Crop");
    fipWinImage display(FIT_BITMAP, 4, 2, 8);
    RasterImageGS16 raster(3, 2);
    const CObject* objects[] = {&image, &display, &raster};
    for (const CObject* object : objects) {
        CMemFile file;
        {
            CArchive ar(&file, CArchive::store);
            ar.WriteObject(object);
            ar << BYTE(1) << CString(L"{Crop}\u00e4") << BYTE(0);
            ar.WriteCount(70000);
            ar.Close();
        }
        const BYTE* bytes = file.GetBuffer();
        seeds.emplace_back(bytes, bytes + file.GetLength());
    }

    // Image bodies as the archive tests spell them: both schemas, an 8-bit history, other
    // formats in the byte block, a byte count past the end, a newer writer's schema.
    const FuzzInput schema1 = {0xFF, 0xFF, 0x01, 0x00, 0x0A, 0x00, 'D', 'a', 'l', 'v', 'o', 'I', 'm', 'a', 'g', 'e'};
    FuzzInput schema0 = schema1, schema2 = schema1;
    schema0[2] = 0, schema2[2] = 2;
    const FuzzInput wideHistory = {0xFF, 0xFE, 0xFF, 0x03, '{', 0, 'a', 0, '}', 0}, ansiHistory = {0x03, '{', 0x80, '}'};
    FuzzInput block(36, 0);
    block[15] = 0x40, block[32] = 5; // contrast 2, palette 5
    fipImage gray(FIT_UINT16, 6, 4, 16), colour(FIT_BITMAP, 5, 3, 24);
    for (fipImage* image : {&gray, &colour})
        for (unsigned y = 0; y < image->getHeight(); ++y)
            for (unsigned i = 0; i < image->getLine(); ++i) image->getScanLine(y)[i] = static_cast<BYTE>(i * 29 + y * 7);
    const FuzzInput tiff = encoded(gray, FIF_TIFF), png = encoded(colour, FIF_PNG), bmp = encoded(colour, FIF_BMP);
    seeds.push_back(schema1 + wideHistory + le32(tiff.size()) + tiff + block);
    seeds.push_back(schema0 + ansiHistory + le32(tiff.size()) + tiff + FuzzInput{0, 0});
    seeds.push_back(schema1 + wideHistory + le32(png.size()) + png + block);
    seeds.push_back(schema1 + ansiHistory + le32(bmp.size()) + bmp + block);
    seeds.push_back(schema1 + wideHistory + le32(0xFFFFFFF0) + tiff);
    seeds.push_back(schema2 + wideHistory + le32(tiff.size()) + tiff + block);
    return seeds;
}
