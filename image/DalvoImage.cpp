#include "image/DalvoImage.h"

#include "raster/RasterImage.h"

#include <cstring>

IMPLEMENT_SERIAL(DalvoImage, fipWinImage, VERSIONABLE_SCHEMA | 1)

DalvoImage::DalvoImage() { init(); }

DalvoImage::DalvoImage(FREE_IMAGE_TYPE type, unsigned width, unsigned height, unsigned bpp)
    : fipWinImage(type, width, height, bpp) {
    init();
}

DalvoImage::DalvoImage(unsigned width, unsigned height, unsigned bpp, RGBQUAD* palette)
    : fipWinImage(FIT_BITMAP, width, height, bpp) {
    init();
    RGBQUAD* own = getPalette();
    if (palette && own && bpp <= 8) std::memcpy(own, palette, getPaletteSize());
}

DalvoImage::DalvoImage(const DalvoImage& src) : fipWinImage(src) {
    init();
    preprocessStr = src.preprocessStr;
    paletteState = src.paletteState;
    recordHistory = src.recordHistory;
}

DalvoImage& DalvoImage::operator=(const DalvoImage& src) {
    if (this == &src) return *this;
    fipWinImage::operator=(src);
    copy(src);
    return *this;
}

DalvoImage::~DalvoImage() {
    preprocessStr.Empty();
    paletteState = 0;
    recordHistory = 1;
    dropRasterCache();
}

void DalvoImage::init() {
    preprocessStr.Empty();
    rasterImage = nullptr;
    paletteState = 0;
    recordHistory = 1;
}

void DalvoImage::copy(const DalvoImage& src) {
    preprocessStr = src.preprocessStr;
    paletteState = src.paletteState;
    recordHistory = src.recordHistory;
    dropRasterCache();
}

void DalvoImage::dropRasterCache() {
    delete rasterImage;
    rasterImage = nullptr;
}

void DalvoImage::Serialize(CArchive&) {}

// ---------------------------------------------------------------------------------------------
// Loading

BOOL DalvoImage::CreateFromFile(CFile* file) { return file ? CreateFromFileName(file->GetFilePath()) : FALSE; }

BOOL DalvoImage::CreateFromFileName(CString path) { return loadU(path, 0); }

BOOL DalvoImage::Load(BYTE* data, DWORD size) {
    // A size without bytes would make FreeImage hand out a stream over nothing.
    if (!data && size) return FALSE;
    fipMemoryIO stream(data, size);
    if (!stream.isValid()) return FALSE;
    return loadFromMemory(stream, 0);
}

BOOL DalvoImage::Create(BYTE* data, DWORD size) { return Load(data, size); }

// ---------------------------------------------------------------------------------------------
// File types, saving and queries

FREE_IMAGE_FORMAT DalvoImage::GetFileType(CFile* file) {
    return file ? identifySignature(CT2A(file->GetFilePath())) : FIF_UNKNOWN;
}

FREE_IMAGE_FORMAT DalvoImage::GetFileType(CString fileName) {
    static const struct {
        const wchar_t* extension;
        FREE_IMAGE_FORMAT format;
    } table[] = {{L"TIF", FIF_TIFF}, {L"TIFF", FIF_TIFF}, {L"BMP", FIF_BMP},   {L"JPG", FIF_JPEG},
                 {L"PCX", FIF_PCX},  {L"TGA", FIF_TARGA}, {L"RAS", FIF_RAS}, {L"PSD", FIF_PSD},
                 {L"PNG", FIF_PNG},  {L"GIF", FIF_GIF}};
    const int dot = fileName.ReverseFind(L'.');
    if (dot < 0) return FIF_UNKNOWN;
    const CString extension = fileName.Mid(dot + 1);
    for (const auto& entry : table) {
        if (extension.CompareNoCase(entry.extension) == 0) return entry.format;
    }
    return FIF_UNKNOWN;
}

BOOL DalvoImage::canSave(CString fileName) const { return fipImage::canSave(CT2A(fileName)); }

BOOL DalvoImage::save(CString fileName) const { return saveU(fileName, 0); }

BOOL DalvoImage::Combine(CString, CString) { return FALSE; }

CSize DalvoImage::GetSize() { return CSize(static_cast<int>(getWidth()), static_cast<int>(getHeight())); }

BOOL DalvoImage::IsAvailable() const { return isValid(); }

unsigned DalvoImage::GetBytesPerLine() const { return getLine(); }

int DalvoImage::SetPaletteState(int state) {
    const int previous = paletteState;
    paletteState = state;
    return previous;
}

// ---------------------------------------------------------------------------------------------
// Processing history

void DalvoImage::AddPreprocessStr(const CString& entry) {
    if (recordHistory) {
        preprocessStr += L'{';
        preprocessStr += entry;
        preprocessStr += L'}';
    } else {
        recordHistory = 1;
    }
}

void DalvoImage::SetPreprocessStr(const CString& text) { preprocessStr = text; }

CString DalvoImage::GetPreprocessStr() const { return preprocessStr; }
