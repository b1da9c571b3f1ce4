// The archive body of an image inside a host document: history, pixels as a TIFF file, and
// the display block. Byte-compatible with documents of the Windows host in both versions.
#include "image/DalvoImage.h"

#include <memory>

namespace {

// Values of the stored palette code that name a palette; any other code is read as "none".
constexpr DWORD kLastPaletteCode = PaletteAutoContrast;

// What GetObjectSchema says when Serialize was not reached through ReadObject.
constexpr UINT kNoSchema = 0xFFFFFFFF;

} // namespace

// Both classes are versionable: the framework hands every stored schema to Serialize, which
// decides. fipWinImage's own data travels inside DalvoImage's body.
void fipWinImage::Serialize(CArchive&) {}

void fipWinImage::saveV1ExtraData(CArchive& ar) const {
    const auto code = static_cast<DWORD>(paletteType);
    ar << brightness << contrast << gamma << autoContrastLow << autoContrastHigh
       << (code <= kLastPaletteCode ? code : DWORD(0));
}

void fipWinImage::loadV1ExtraData(CArchive& ar) {
    // All six fields first, so that a block cut short changes nothing.
    double storedBrightness, storedContrast, storedGamma;
    int low, high;
    DWORD code;
    ar >> storedBrightness >> storedContrast >> storedGamma >> low >> high >> code;
    brightness = storedBrightness;
    contrast = storedContrast;
    gamma = storedGamma;
    autoContrastLow = low;
    autoContrastHigh = high;
    if (code <= kLastPaletteCode) paletteType = static_cast<enPalette>(code);
}

void DalvoImage::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        saveV0(ar);
        saveV1ExtraData(ar);
        return;
    }
    const UINT schema = ar.GetObjectSchema();
    switch (schema) {
    case 0:
        loadV0(ar);
        break;
    case 1:
        loadV0(ar);
        loadV1ExtraData(ar);
        break;
    case kNoSchema:
        // Called directly rather than through ReadObject: no stored schema says what follows.
        break;
    default:
        // A newer writer's layout. Reading nothing would leave the host reading this image's
        // bytes as its own next fields; refusing tells it what went wrong.
        AfxThrowArchiveException(CArchiveException::badSchema, ar.m_strFileName);
    }
}

void DalvoImage::saveV0(CArchive& ar) const {
    ar << preprocessStr;
    fipMemoryIO stream;
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!stream.isValid() || !m_dib || !FreeImage_SaveToMemory(FIF_TIFF, m_dib, stream, 0) ||
        !stream.acquire(&data, &size)) {
        AfxThrowArchiveException(CArchiveException::genericException);
    }
    ar << size;
    ar.Write(data, size);
}

void DalvoImage::loadV0(CArchive& ar) {
    ar >> preprocessStr;
    DWORD size = 0;
    ar >> size;
    // The count comes from the bytes: nothing is allocated for more than the archive holds.
    if (size > ar.BytesLeft()) AfxThrowArchiveException(CArchiveException::endOfFile, ar.m_strFileName);
    std::unique_ptr<BYTE[]> bytes;
    AfxGuardAllocation([&] { bytes.reset(new BYTE[size ? size : 1]); });
    ar.ReadExact(bytes.get(), size);

    // A read-only stream over the bytes themselves: FreeImage reads them where they are, so
    // the image bytes are held once while the bitmap is decoded.
    FIBITMAP* dib = nullptr;
    if (size) {
        fipMemoryIO stream(bytes.get(), size);
        const FREE_IMAGE_FORMAT fif = identifyFIFFromMemory(stream);
        if (fif != FIF_UNKNOWN && FreeImage_FIFSupportsReading(fif)) dib = FreeImage_LoadFromMemory(fif, stream, 0);
    }
    if (m_dib) FreeImage_Unload(m_dib);
    m_dib = dib;
    m_modified = TRUE;
    if (!dib) AfxThrowArchiveException(CArchiveException::genericException);
}
