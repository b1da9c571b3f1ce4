#include "image/DalvoImage.h"

#include "platform/framework/App.h"
#include "raster/RasterImageGS16.h"
#include "raster/RasterImageRGB.h"

#include <cstring>

IMPLEMENT_SERIAL(DalvoImage, fipWinImage, VERSIONABLE_SCHEMA | 1)

DalvoImage::DalvoImage() {
    init();
}

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
    // Self-assignment too drops the cached raster: the base leaves the bitmap alone then.
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

// ---------------------------------------------------------------------------------------------
// Loading

BOOL DalvoImage::CreateFromFile(CFile* file) {
    return file ? CreateFromFileName(file->GetFilePath()) : FALSE;
}

BOOL DalvoImage::CreateFromFileName(CString path) {
    if (!loadU(path, 0)) return FALSE;
    // A bitmap without a raster form stays loaded, but the analysis code cannot use it.
    return getRasterImage() ? TRUE : FALSE;
}

BOOL DalvoImage::Load(BYTE* data, DWORD size) {
    // A size without bytes would make FreeImage hand out a stream over nothing.
    if (!data && size) return FALSE;
    fipMemoryIO stream(data, size);
    if (!stream.isValid()) return FALSE;
    return loadFromMemory(stream, 0);
}

BOOL DalvoImage::Create(BYTE* data, DWORD size) {
    return Load(data, size);
}

// ---------------------------------------------------------------------------------------------
// File types, saving and queries

FREE_IMAGE_FORMAT DalvoImage::GetFileType(CFile* file) {
    return file ? identifySignature(CT2A(file->GetFilePath())) : FIF_UNKNOWN;
}

FREE_IMAGE_FORMAT DalvoImage::GetFileType(CString fileName) {
    static const struct {
        const wchar_t* extension;
        FREE_IMAGE_FORMAT format;
    } table[] = {{L"TIF", FIF_TIFF}, {L"TIFF", FIF_TIFF}, {L"BMP", FIF_BMP}, {L"JPG", FIF_JPEG},
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

BOOL DalvoImage::canSave(CString fileName) const {
    return fipImage::canSave(CT2A(fileName));
}

BOOL DalvoImage::save(CString fileName) const {
    return saveU(fileName, 0);
}

BOOL DalvoImage::Combine(CString, CString) {
    return FALSE;
}

CSize DalvoImage::GetSize() {
    return CSize(static_cast<int>(getWidth()), static_cast<int>(getHeight()));
}

BOOL DalvoImage::IsAvailable() const {
    return isValid();
}

unsigned DalvoImage::GetBytesPerLine() const {
    return getLine();
}

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

void DalvoImage::SetPreprocessStr(const CString& text) {
    preprocessStr = text;
}

CString DalvoImage::GetPreprocessStr() const {
    return preprocessStr;
}

// ---------------------------------------------------------------------------------------------
// Raster cache

namespace {

enum class RasterKind { None, Gray, Colour };

RasterKind rasterKindOf(FIBITMAP* dib) {
    // A header-only bitmap has no scan lines to copy.
    if (!dib || !FreeImage_HasPixels(dib)) return RasterKind::None;
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
    if (type == FIT_UINT16) return RasterKind::Gray;
    if (type != FIT_BITMAP) return RasterKind::None;
    if (FreeImage_GetBPP(dib) == 8) return RasterKind::Gray;
    const FREE_IMAGE_COLOR_TYPE colorType = FreeImage_GetColorType(dib);
    return colorType == FIC_RGB || colorType == FIC_RGBALPHA ? RasterKind::Colour : RasterKind::None;
}

} // namespace

RasterImage* DalvoImage::getRasterImage() {
    if (rasterImage) return rasterImage;
    // Switched off again by the destructor, also when the raster cannot be allocated.
    CWaitCursor wait;
    switch (rasterKindOf(m_dib)) {
    case RasterKind::Gray:
        rasterImage = AfxGuardAllocation([this] { return new RasterImageGS16(this); });
        break;
    case RasterKind::Colour:
        rasterImage = AfxGuardAllocation([this] { return new RasterImageRGB(this); });
        break;
    case RasterKind::None:
        break;
    }
    return rasterImage;
}

// ---------------------------------------------------------------------------------------------
// Information and pixel readout

void DalvoImage::getImageInfo(CStringArray& lines) {
    // One megabyte here is 1024 x 1024 bytes, as file managers and memory figures count it.
    const float megabytes = static_cast<float>(FreeImage_GetDIBSize(m_dib)) / (1024.0f * 1024.0f);
    CString line;
    line.Format(L"Width (pixels)|%d", static_cast<int>(FreeImage_GetWidth(m_dib)));
    lines.Add(line);
    line.Format(L"Height (pixels)|%d", static_cast<int>(FreeImage_GetHeight(m_dib)));
    lines.Add(line);
    line.Format(L"Bits Per Pixel|%d", static_cast<int>(FreeImage_GetBPP(m_dib)));
    lines.Add(line);
    line.Format(L"Image Size (MB)|%0.3f", static_cast<double>(megabytes));
    lines.Add(line);
}

BOOL DalvoImage::GetFormatedPixelString(CPoint* point, CString* text) {
    if (!point || !text) return TRUE;
    RasterImage* raster = getRasterImage();
    if (!raster) return TRUE;
    const int x = point->x, y = point->y;
    // The raster is read unchecked, so a point outside it reads nothing and leaves the text.
    if (x < 0 || y < 0 || x >= raster->width || y >= raster->height) return TRUE;
    const size_t index = static_cast<size_t>(raster->width) * static_cast<size_t>(y) + static_cast<size_t>(x);
    if (raster->IsKindOf(RUNTIME_CLASS(RasterImageGS16))) {
        const RasterImageGS16* gray = static_cast<const RasterImageGS16*>(raster);
        if (gray->pixels) text->Format(L"(%.3d,%.3d)=[%.3d]", x, y, gray->pixels[index]);
    } else if (raster->IsKindOf(RUNTIME_CLASS(RasterImageRGB))) {
        const RasterImageRGB* colour = static_cast<const RasterImageRGB*>(raster);
        if (colour->pixels) {
            const RGBQUAD& quad = colour->pixels[index];
            text->Format(L"(%.3d,%.3d)=[%.3d,%.3d,%.3d]", x, y, static_cast<int>(quad.rgbRed),
                         static_cast<int>(quad.rgbGreen), static_cast<int>(quad.rgbBlue));
        }
    }
    return TRUE;
}
