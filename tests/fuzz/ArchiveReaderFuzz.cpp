// Fuzz target of the archive reader: one object envelope (any registered class, so the
// library's own Serialize code is fuzzed too), then counted strings and counts until the
// bytes run out. Anything but CArchiveException, CMemoryException or a clean return is a bug;
// the sanitizers report crashes and leaks. An image that comes out is stored again and read
// back: it must return with the same history, type, size and pixels (abort otherwise). The load
// limit keeps claimed sizes from exhausting memory.
#include "FuzzDriver.h"

#include "platform/framework/afx.h"
#include "image/DalvoImage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

bool samePixels(DalvoImage& a, DalvoImage& b) {
    if (a.getImageType() != b.getImageType() || a.getWidth() != b.getWidth() ||
        a.getHeight() != b.getHeight() || a.getBitsPerPixel() != b.getBitsPerPixel())
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fipImage::setLoadMemoryLimit(64u << 20);
    std::vector<BYTE> copy(data, data + size);
    CMemFile file(copy.empty() ? nullptr : copy.data(), static_cast<UINT>(copy.size()));
    CArchive ar(&file, CArchive::load);
    try {
        // The first envelope cannot refer back to anything, so the object is new and ours.
        std::unique_ptr<CObject> object(ar.ReadObject(nullptr));
        if (object && object->IsKindOf(RUNTIME_CLASS(DalvoImage)))
            checkRoundTrip(*static_cast<DalvoImage*>(object.get()));
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

// The seeds are files in corpus/archive: envelopes of the library's serialisable classes followed by
// strings and counts, and image bodies (both schemas and a newer one, wide and 8-bit histories, TIFF,
// PNG and BMP in the byte block, a byte count past the end).
