#include "image/fipImage.h"

#include "image/detail/InPlace.h"
#include "image/detail/LoadLimit.h"
#include "image/detail/MessageCapture.h"
#include "image/detail/ReplaceFile.h"

#include <algorithm>
#include <iterator>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

// A null-terminated wide name as the narrow name FreeImage opens files by (UTF-8 here).
struct NarrowName {
    explicit NarrowName(const wchar_t* path) : text(path ? CT2A(path).c_str() : std::string()), valid(path) {}
    std::string text;
    bool valid;
};

// FreeImage finds the format of a name with strtok over each plugin's extensions, and strtok keeps
// its place in one pointer for the whole process: two threads naming files at once (a batch saving
// its results) walk each other's lists, into freed memory. One lookup at a time.
FREE_IMAGE_FORMAT formatOfName(const char* path) {
    static std::mutex lookup;
    const std::lock_guard<std::mutex> hold(lookup);
    return FreeImage_GetFIFFromFilename(path);
}

// Readers at an offset from where a load starts; each leaves the source's position as it was.
kestro::detail::ReadAt readerOfFile(const char* path) {
    return [path](unsigned long long at, BYTE* to, size_t n) -> size_t {
        std::FILE* file = std::fopen(path, "rb");
        if (!file) return 0;
        size_t got = 0;
        if (at <= static_cast<unsigned long long>(std::numeric_limits<off_t>::max()) &&
            fseeko(file, static_cast<off_t>(at), SEEK_SET) == 0)
            got = std::fread(to, 1, n, file);
        std::fclose(file);
        return got;
    };
}

kestro::detail::ReadAt readerOfHandle(FreeImageIO* io, fi_handle handle, long start) {
    return [io, handle, start](unsigned long long at, BYTE* to, size_t n) -> size_t {
        if (start < 0 || at > static_cast<unsigned long long>(LONG_MAX - start) || n > UINT_MAX) return 0;
        size_t got = 0;
        if (io->seek_proc(handle, start + static_cast<long>(at), SEEK_SET) == 0)
            got = io->read_proc(to, 1, static_cast<unsigned>(n), handle);
        io->seek_proc(handle, start, SEEK_SET);
        return got;
    };
}

kestro::detail::ReadAt readerOfMemory(FIMEMORY* hmem, long start) {
    return [hmem, start](unsigned long long at, BYTE* to, size_t n) -> size_t {
        if (start < 0 || at > static_cast<unsigned long long>(LONG_MAX - start) || n > UINT_MAX) return 0;
        size_t got = 0;
        if (FreeImage_SeekMemory(hmem, start + static_cast<long>(at), SEEK_SET))
            got = FreeImage_ReadMemory(to, 1, static_cast<unsigned>(n), hmem);
        FreeImage_SeekMemory(hmem, start, SEEK_SET);
        return got;
    };
}

// Grayscale means one sample per pixel: what the first directory of a gel imager's TIFF holds,
// while the first directory of a camera-raw file is a colour preview. The header goes to keep
// when it is grayscale and keep is given (the load that follows needs the same header read).
bool headerIsGrayscale(FIBITMAP* header, FIBITMAP** keep) {
    if (!header) return false;
    const FREE_IMAGE_COLOR_TYPE colorType = FreeImage_GetColorType(header);
    const bool gray = colorType == FIC_MINISBLACK || colorType == FIC_MINISWHITE;
    if (gray && keep)
        *keep = header;
    else
        FreeImage_Unload(header);
    return gray;
}

// FreeImage's camera-raw plugin claims any TIFF that LibRaw can parse, so detection by signature
// says FIF_RAW for plain 16-bit grayscale TIFFs written by some gel imagers, and the raw decoder
// then returns a 48-bit colour demosaic. Such a file is a TIFF when its header is a TIFF header
// and FreeImage's TIFF reader sees a grayscale image in it. That is asked first: FreeImage's
// detection runs the camera-raw parser on every TIFF (most of the time of reading a document of
// many small images), and for a grayscale TIFF its answer would be overruled anyway. A TIFF whose
// layout the TIFF reader cannot take stays a TIFF, to be refused before any reader sees it: even
// the header-only read dies on some. detect is FreeImage's detection, readAt reads the source,
// tiffHeader is the TIFF plugin's header-only load; all leave the source's position.
template <typename Detect, typename LoadTiffHeader>
FREE_IMAGE_FORMAT correctCameraRaw(Detect detect, const kestro::detail::ReadAt& readAt,
                                   LoadTiffHeader tiffHeader, FIBITMAP** keep) {
    if (kestro::detail::startsAsTiff(readAt) &&
        (!kestro::detail::tiffLayoutRefusal(readAt).empty() || headerIsGrayscale(tiffHeader(), keep)))
        return FIF_TIFF;
    return detect();
}

FREE_IMAGE_FORMAT signatureOfFile(const char* path, FIBITMAP** keep = nullptr) {
    if (!path) return FIF_UNKNOWN;
    return correctCameraRaw([path] { return FreeImage_GetFileType(path, 0); }, readerOfFile(path),
                            [path] { return FreeImage_Load(FIF_TIFF, path, FIF_LOAD_NOPIXELS); }, keep);
}

FREE_IMAGE_FORMAT signatureOfHandle(FreeImageIO* io, fi_handle handle, FIBITMAP** keep = nullptr) {
    const long start = io->tell_proc(handle);
    return correctCameraRaw([io, handle] { return FreeImage_GetFileTypeFromHandle(io, handle, 16); },
                            readerOfHandle(io, handle, start),
                            [io, handle, start] {
                                FIBITMAP* header =
                                    FreeImage_LoadFromHandle(FIF_TIFF, io, handle, FIF_LOAD_NOPIXELS);
                                io->seek_proc(handle, start, SEEK_SET);
                                return header;
                            },
                            keep);
}

FREE_IMAGE_FORMAT signatureOfMemory(FIMEMORY* hmem, FIBITMAP** keep = nullptr) {
    const long start = FreeImage_TellMemory(hmem);
    return correctCameraRaw(
        [hmem] { return FreeImage_GetFileTypeFromMemory(hmem, 0); }, readerOfMemory(hmem, start),
        [hmem, start] {
            FIBITMAP* header = FreeImage_LoadFromMemory(FIF_TIFF, hmem, FIF_LOAD_NOPIXELS);
            FreeImage_SeekMemory(hmem, start, SEEK_SET);
            return header;
        },
        keep);
}

bool readable(FREE_IMAGE_FORMAT fif) {
    return fif != FIF_UNKNOWN && FreeImage_FIFSupportsReading(fif);
}

// The TIFF header that detection read, handed to the load's own header read once (a header-only
// read with no other flag is the same read) and freed if the load never asks for it.
struct DetectedHeader {
    FIBITMAP* header = nullptr;
    DetectedHeader() = default;
    DetectedHeader(const DetectedHeader&) = delete;
    DetectedHeader& operator=(const DetectedHeader&) = delete;
    ~DetectedHeader() {
        if (header) FreeImage_Unload(header);
    }
    FIBITMAP* take(int flag) {
        if (flag != FIF_LOAD_NOPIXELS || !header) return nullptr;
        FIBITMAP* taken = header;
        header = nullptr;
        return taken;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// fipMemoryIO

fipMemoryIO::fipMemoryIO(BYTE* data, DWORD size) : m_hmem(FreeImage_OpenMemory(data, size)) {}

fipMemoryIO::~fipMemoryIO() {
    if (m_hmem) FreeImage_CloseMemory(m_hmem);
}

BOOL fipMemoryIO::isValid() const {
    return m_hmem != nullptr;
}

unsigned fipMemoryIO::read(void* buffer, unsigned size, unsigned count) const {
    return m_hmem ? FreeImage_ReadMemory(buffer, size, count, m_hmem) : 0;
}

unsigned fipMemoryIO::write(const void* buffer, unsigned size, unsigned count) {
    return m_hmem ? FreeImage_WriteMemory(buffer, size, count, m_hmem) : 0;
}

long fipMemoryIO::tell() const {
    return m_hmem ? FreeImage_TellMemory(m_hmem) : -1;
}

BOOL fipMemoryIO::seek(long offset, int origin) {
    return m_hmem ? FreeImage_SeekMemory(m_hmem, offset, origin) : FALSE;
}

BOOL fipMemoryIO::acquire(BYTE** data, DWORD* size) {
    return m_hmem ? FreeImage_AcquireMemory(m_hmem, data, size) : FALSE;
}

// ---------------------------------------------------------------------------------------------
// fipTag

fipTag::fipTag() : m_tag(FreeImage_CreateTag()) {}

fipTag::~fipTag() {
    if (m_tag) FreeImage_DeleteTag(m_tag);
}

fipTag::fipTag(const fipTag& src) : fipObject(), m_tag(src.m_tag ? FreeImage_CloneTag(src.m_tag) : nullptr) {}

fipTag& fipTag::operator=(const fipTag& src) {
    if (this != &src) *this = src.m_tag ? FreeImage_CloneTag(src.m_tag) : nullptr;
    return *this;
}

fipTag& fipTag::operator=(FITAG* tag) {
    if (tag != m_tag) {
        if (m_tag) FreeImage_DeleteTag(m_tag);
        m_tag = tag;
    }
    return *this;
}

BOOL fipTag::isValid() const {
    return m_tag != nullptr;
}

BOOL fipTag::setKeyValue(const char* key, const char* value) {
    if (!m_tag || !key || !value) return FALSE;
    const DWORD length = static_cast<DWORD>(std::strlen(value) + 1);
    return FreeImage_SetTagKey(m_tag, key) && FreeImage_SetTagType(m_tag, FIDT_ASCII) &&
           FreeImage_SetTagCount(m_tag, length) && FreeImage_SetTagLength(m_tag, length) &&
           FreeImage_SetTagValue(m_tag, value);
}

const char* fipTag::getKey() const {
    return m_tag ? FreeImage_GetTagKey(m_tag) : nullptr;
}

FREE_IMAGE_MDTYPE fipTag::getType() const {
    return m_tag ? FreeImage_GetTagType(m_tag) : FIDT_NOTYPE;
}

DWORD fipTag::getCount() const {
    return m_tag ? FreeImage_GetTagCount(m_tag) : 0;
}

DWORD fipTag::getLength() const {
    return m_tag ? FreeImage_GetTagLength(m_tag) : 0;
}

const void* fipTag::getValue() const {
    return m_tag ? FreeImage_GetTagValue(m_tag) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// fipImage: construction and ownership

fipImage::fipImage(FREE_IMAGE_TYPE type, unsigned width, unsigned height, unsigned bpp)
    : m_dib(nullptr), m_fif(FIF_UNKNOWN), m_modified(FALSE) {
    if (width && height && bpp) setSize(type, width, height, bpp);
}

fipImage::fipImage(const fipImage& src) : fipObject(), m_dib(nullptr), m_fif(FIF_UNKNOWN), m_modified(FALSE) {
    if (src.m_dib) {
        m_dib = FreeImage_Clone(src.m_dib);
        m_modified = m_dib != nullptr;
    }
}

fipImage::~fipImage() {
    if (m_dib) FreeImage_Unload(m_dib);
}

fipImage& fipImage::operator=(const fipImage& src) {
    if (this != &src && src.m_dib) replace(FreeImage_Clone(src.m_dib));
    return *this;
}

fipImage& fipImage::operator=(FIBITMAP* dib) {
    if (dib != m_dib) replace(dib);
    return *this;
}

BOOL fipImage::replace(FIBITMAP* new_dib) {
    if (!new_dib) return FALSE;
    if (new_dib != m_dib) {
        if (m_dib) FreeImage_Unload(m_dib);
        m_dib = new_dib;
    }
    m_modified = TRUE;
    return TRUE;
}

BOOL fipImage::isValid() const {
    return m_dib != nullptr;
}

void fipImage::clear() {
    if (m_dib) FreeImage_Unload(m_dib);
    m_dib = nullptr;
    m_modified = TRUE;
}

BOOL fipImage::setSize(FREE_IMAGE_TYPE type, unsigned width, unsigned height, unsigned bpp, unsigned red_mask,
                       unsigned green_mask, unsigned blue_mask) {
    if (m_dib) FreeImage_Unload(m_dib);
    // FreeImage takes signed sizes; anything beyond them is a size it could never allocate.
    const unsigned limit = 0x7FFFFFFFu;
    m_dib = (width > limit || height > limit || bpp > limit)
                ? nullptr
                : FreeImage_AllocateT(type, static_cast<int>(width), static_cast<int>(height),
                                      static_cast<int>(bpp), red_mask, green_mask, blue_mask);
    if (!m_dib) return FALSE;
    if (type == FIT_BITMAP && (bpp == 1 || bpp == 4 || bpp == 8)) {
        // The ramp is the index itself, not spread over 0..255: a 1-bit image gets 0 and 1.
        RGBQUAD* palette = FreeImage_GetPalette(m_dib);
        const unsigned colors = FreeImage_GetColorsUsed(m_dib);
        for (unsigned i = 0; palette && i < colors; ++i) {
            palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
        }
    }
    m_modified = TRUE;
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Queries

FREE_IMAGE_TYPE fipImage::getImageType() const {
    return FreeImage_GetImageType(m_dib);
}
unsigned fipImage::getWidth() const {
    return FreeImage_GetWidth(m_dib);
}
unsigned fipImage::getHeight() const {
    return FreeImage_GetHeight(m_dib);
}
unsigned fipImage::getScanWidth() const {
    return FreeImage_GetPitch(m_dib);
}
unsigned fipImage::getLine() const {
    return FreeImage_GetLine(m_dib);
}
unsigned fipImage::getBitsPerPixel() const {
    return FreeImage_GetBPP(m_dib);
}
unsigned fipImage::getImageSize() const {
    return FreeImage_GetDIBSize(m_dib);
}
BITMAPINFO* fipImage::getInfo() const {
    return m_dib ? FreeImage_GetInfo(m_dib) : nullptr;
}
BITMAPINFOHEADER* fipImage::getInfoHeader() const {
    return m_dib ? FreeImage_GetInfoHeader(m_dib) : nullptr;
}
RGBQUAD* fipImage::getPalette() const {
    return FreeImage_GetPalette(m_dib);
}
unsigned fipImage::getColorsUsed() const {
    return FreeImage_GetColorsUsed(m_dib);
}
unsigned fipImage::getPaletteSize() const {
    return FreeImage_GetColorsUsed(m_dib) * sizeof(RGBQUAD);
}

FREE_IMAGE_COLOR_TYPE fipImage::getColorType() const {
    // FreeImage reads the header of whatever it is given; an empty image has no colour type of
    // its own, and FIC_MINISBLACK is what FreeImage reports for images without colour.
    return m_dib ? FreeImage_GetColorType(m_dib) : FIC_MINISBLACK;
}

BYTE* fipImage::accessPixels() const {
    return FreeImage_GetBits(m_dib);
}

BYTE* fipImage::getScanLine(unsigned y) const {
    return y < FreeImage_GetHeight(m_dib) ? FreeImage_GetScanLine(m_dib, static_cast<int>(y)) : nullptr;
}

BOOL fipImage::getPixelIndex(unsigned x, unsigned y, BYTE* value) const {
    return FreeImage_GetPixelIndex(m_dib, x, y, value);
}

BOOL fipImage::getPixelColor(unsigned x, unsigned y, RGBQUAD* value) const {
    return FreeImage_GetPixelColor(m_dib, x, y, value);
}

BOOL fipImage::isTransparent() const {
    return FreeImage_IsTransparent(m_dib);
}
unsigned fipImage::getTransparencyCount() const {
    return FreeImage_GetTransparencyCount(m_dib);
}
BYTE* fipImage::getTransparencyTable() const {
    return FreeImage_GetTransparencyTable(m_dib);
}
BOOL fipImage::hasFileBkColor() const {
    return FreeImage_HasBackgroundColor(m_dib);
}
BOOL fipImage::getFileBkColor(RGBQUAD* bkcolor) const {
    return FreeImage_GetBackgroundColor(m_dib, bkcolor);
}

unsigned fipImage::getMetadataCount(FREE_IMAGE_MDMODEL model) const {
    return FreeImage_GetMetadataCount(model, m_dib);
}

BOOL fipImage::isHighResGrayscale() const {
    const FREE_IMAGE_TYPE type = getImageType();
    return type == FIT_UINT16 || type == FIT_INT16;
}

BOOL fipImage::isGrayscale() const {
    const unsigned bpp = getBitsPerPixel();
    return (bpp == 8 || bpp == 16) && getColorsUsed() == 0;
}

BOOL fipImage::getHistogram(DWORD* histo, FREE_IMAGE_COLOR_CHANNEL channel) const {
    return m_dib ? FreeImage_GetHistogram(m_dib, histo, channel) : FALSE;
}

double fipImage::getHorizontalResolution() const {
    return FreeImage_GetDotsPerMeterX(m_dib) / 100.0;
}
double fipImage::getVerticalResolution() const {
    return FreeImage_GetDotsPerMeterY(m_dib) / 100.0;
}

// ---------------------------------------------------------------------------------------------
// Setters

void fipImage::setHorizontalResolution(double value) {
    FreeImage_SetDotsPerMeterX(m_dib, static_cast<unsigned>(value * 100 + 0.5));
}

void fipImage::setVerticalResolution(double value) {
    FreeImage_SetDotsPerMeterY(m_dib, static_cast<unsigned>(value * 100 + 0.5));
}

BOOL fipImage::setPixelIndex(unsigned x, unsigned y, BYTE* value) {
    m_modified = TRUE;
    return FreeImage_SetPixelIndex(m_dib, x, y, value);
}

BOOL fipImage::setPixelColor(unsigned x, unsigned y, RGBQUAD* value) {
    m_modified = TRUE;
    return FreeImage_SetPixelColor(m_dib, x, y, value);
}

void fipImage::setTransparencyTable(BYTE* table, int count) {
    FreeImage_SetTransparencyTable(m_dib, table, count);
    m_modified = TRUE;
}

BOOL fipImage::setFileBkColor(RGBQUAD* bkcolor) {
    m_modified = TRUE;
    return FreeImage_SetBackgroundColor(m_dib, bkcolor);
}

// ---------------------------------------------------------------------------------------------
// Loading

// The old bitmap is already gone: a load unloads it before decoding, so that two images never
// share the memory at once.
BOOL fipImage::storeLoaded(FIBITMAP* dib) {
    m_dib = dib;
    m_modified = TRUE;
    return m_dib != nullptr;
}

FREE_IMAGE_FORMAT fipImage::identifySignature(const char* path) {
    return signatureOfFile(path);
}

FREE_IMAGE_FORMAT fipImage::identifyFIF(const char* path) {
    if (!path) return FIF_UNKNOWN;
    const FREE_IMAGE_FORMAT fif = signatureOfFile(path);
    return fif != FIF_UNKNOWN ? fif : formatOfName(path);
}

FREE_IMAGE_FORMAT fipImage::identifyFIFU(const wchar_t* path) {
    const NarrowName name(path);
    return name.valid ? identifyFIF(name.text.c_str()) : FIF_UNKNOWN;
}

FREE_IMAGE_FORMAT fipImage::identifyFIFFromHandle(FreeImageIO* io, fi_handle handle) {
    return io && handle ? signatureOfHandle(io, handle) : FIF_UNKNOWN;
}

FREE_IMAGE_FORMAT fipImage::identifyFIFFromMemory(FIMEMORY* hmem) {
    return hmem ? signatureOfMemory(hmem) : FIF_UNKNOWN;
}

// A file refused before decoding leaves the image untouched, as any failure before the
// FreeImage load call does; one refused after decoding leaves it empty, as a failed decode does.
BOOL fipImage::loadBounded(FREE_IMAGE_FORMAT fif, int flag, unsigned long long sourceBytes,
                           const std::function<FIBITMAP*(int)>& decode,
                           const std::function<size_t(unsigned long long, BYTE*, size_t)>& readAt) {
    kestro::detail::MessageCapture capture;
    bool refused = false;
    bool decoding = false;
    const bool headerOnly = (flag & FIF_LOAD_NOPIXELS) != 0;
    FIBITMAP* dib = kestro::detail::decodeBounded(
        fif, flag, sourceBytes, refused,
        [&](int f) -> FIBITMAP* {
            if ((headerOnly || !(f & FIF_LOAD_NOPIXELS)) && !decoding) {
                decoding = true;
                if (m_dib) FreeImage_Unload(m_dib);
                m_dib = nullptr;
            }
            return decode(f);
        },
        readAt);
    if (!decoding) return FALSE;
    m_loadDamage.clear();
    if (dib) {
        m_loadDamage = capture.errors();
        const std::string missing = kestro::detail::missingData(fif, dib, sourceBytes);
        if (!missing.empty()) m_loadDamage.push_back(missing);
    }
    return storeLoaded(dib);
}

BOOL fipImage::load(const char* path, int flag) {
    if (!path) return FALSE;
    DetectedHeader detected;
    FREE_IMAGE_FORMAT fif = signatureOfFile(path, &detected.header);
    if (fif == FIF_UNKNOWN) fif = formatOfName(path);
    if (!readable(fif)) return FALSE;
    struct stat st;
    const unsigned long long bytes = stat(path, &st) == 0 ? static_cast<unsigned long long>(st.st_size) : 0;
    return loadBounded(
        fif, flag, bytes,
        [&](int f) {
            FIBITMAP* known = detected.take(f);
            return known ? known : FreeImage_Load(fif, path, f);
        },
        readerOfFile(path));
}

BOOL fipImage::loadU(const wchar_t* path, int flag) {
    const NarrowName name(path);
    return name.valid ? load(name.text.c_str(), flag) : FALSE;
}

BOOL fipImage::loadFromHandle(FreeImageIO* io, fi_handle handle, int flag) {
    if (!io || !handle) return FALSE;
    DetectedHeader detected;
    const FREE_IMAGE_FORMAT fif = signatureOfHandle(io, handle, &detected.header);
    if (!readable(fif)) return FALSE;
    const long start = io->tell_proc(handle);
    io->seek_proc(handle, 0, SEEK_END);
    const long end = io->tell_proc(handle);
    io->seek_proc(handle, start, SEEK_SET);
    return loadBounded(
        fif, flag, end > start ? static_cast<unsigned long long>(end - start) : 0,
        [&](int f) {
            if (FIBITMAP* known = detected.take(f)) return known;
            FIBITMAP* dib = FreeImage_LoadFromHandle(fif, io, handle, f);
            if (f & FIF_LOAD_NOPIXELS) io->seek_proc(handle, start, SEEK_SET);
            return dib;
        },
        readerOfHandle(io, handle, start));
}

BOOL fipImage::loadFromMemory(fipMemoryIO& stream, int flag) {
    FIMEMORY* hmem = stream;
    if (!hmem) return FALSE;
    DetectedHeader detected;
    const FREE_IMAGE_FORMAT fif = signatureOfMemory(hmem, &detected.header);
    if (!readable(fif)) return FALSE;
    const long start = FreeImage_TellMemory(hmem);
    FreeImage_SeekMemory(hmem, 0, SEEK_END);
    const long end = FreeImage_TellMemory(hmem);
    FreeImage_SeekMemory(hmem, start, SEEK_SET);
    return loadBounded(
        fif, flag, end > start ? static_cast<unsigned long long>(end - start) : 0,
        [&](int f) {
            if (FIBITMAP* known = detected.take(f)) return known;
            FIBITMAP* dib = FreeImage_LoadFromMemory(fif, hmem, f);
            if (f & FIF_LOAD_NOPIXELS) FreeImage_SeekMemory(hmem, start, SEEK_SET);
            return dib;
        },
        readerOfMemory(hmem, start));
}

// ---------------------------------------------------------------------------------------------
// Saving

BOOL fipImage::passesExportTest(FREE_IMAGE_FORMAT fif) const {
    if (fif == FIF_UNKNOWN || !m_dib) return FALSE;
    const FREE_IMAGE_TYPE type = getImageType();
    if (type == FIT_BITMAP) {
        const WORD bpp = static_cast<WORD>(getBitsPerPixel());
        // FreeImage's PSD writer writes outside its buffers for 1-bit images (and its PSD reader
        // cannot read what it wrote), so that combination counts as not exportable.
        if (fif == FIF_PSD && bpp == 1) return FALSE;
        return FreeImage_FIFSupportsWriting(fif) && FreeImage_FIFSupportsExportBPP(fif, bpp);
    }
    return FreeImage_FIFSupportsExportType(fif, type);
}

BOOL fipImage::canSave(const char* path) const {
    return path && passesExportTest(formatOfName(path));
}

namespace {

// The EXIF directory's own tags (and TIFF/EP's CFA pattern) that a TIFF reader keeps with the main
// directory's when a file holds them there. FreeImage's TIFF writer hands every such tag to
// libtiff as a main-directory tag, which libtiff does not know, and dies on it. Before a TIFF is
// written they move to the EXIF model, where FreeImage's readers put them from an EXIF directory.
constexpr WORD kExifDirectoryTags[] = {
    0x828E, 0x829A, 0x829D, 0x8822, 0x8824, 0x8827, 0x8828, 0x9000, 0x9003, 0x9004, 0x9101, 0x9102,
    0x9201, 0x9202, 0x9203, 0x9204, 0x9205, 0x9206, 0x9207, 0x9208, 0x9209, 0x920A, 0x9214, 0x927C,
    0x9286, 0x9290, 0x9291, 0x9292, 0xA000, 0xA001, 0xA002, 0xA003, 0xA004, 0xA20B, 0xA20C, 0xA20E,
    0xA20F, 0xA210, 0xA214, 0xA215, 0xA217, 0xA300, 0xA301, 0xA302, 0xA401, 0xA402, 0xA403, 0xA404,
    0xA405, 0xA406, 0xA407, 0xA408, 0xA409, 0xA40A, 0xA40B, 0xA40C, 0xA420};

void moveExifTagsOutOfMain(FREE_IMAGE_FORMAT fif, FIBITMAP* dib) {
    // A model emptied by deletion still gives a walk, over a freed tag: count first, and leave
    // no emptied model behind for a later walk.
    if (fif != FIF_TIFF || !dib || FreeImage_GetMetadataCount(FIMD_EXIF_MAIN, dib) == 0) return;
    std::vector<FITAG*> misplaced;
    FITAG* tag = nullptr;
    if (FIMETADATA* walk = FreeImage_FindFirstMetadata(FIMD_EXIF_MAIN, dib, &tag)) {
        do
            if (std::binary_search(std::begin(kExifDirectoryTags), std::end(kExifDirectoryTags),
                                   FreeImage_GetTagID(tag)))
                misplaced.push_back(FreeImage_CloneTag(tag));
        while (FreeImage_FindNextMetadata(walk, &tag));
        FreeImage_FindCloseMetadata(walk);
    }
    for (FITAG* t : misplaced) {
        if (t) {
            const std::string key = FreeImage_GetTagKey(t) ? FreeImage_GetTagKey(t) : "";
            FreeImage_SetMetadata(FIMD_EXIF_MAIN, dib, key.c_str(), nullptr);
            FreeImage_SetMetadata(FIMD_EXIF_EXIF, dib, key.c_str(), t);
            FreeImage_DeleteTag(t);
        }
    }
    if (FreeImage_GetMetadataCount(FIMD_EXIF_MAIN, dib) == 0)
        FreeImage_SetMetadata(FIMD_EXIF_MAIN, dib, nullptr, nullptr);
}

} // namespace

// Writers may refuse an image after the export test passed, or the disk may fill: the file the
// user had is replaced only by a complete new one.
BOOL fipImage::save(const char* path, int flag) const {
    if (!canSave(path)) return FALSE;
    const FREE_IMAGE_FORMAT fif = formatOfName(path);
    moveExifTagsOutOfMain(fif, m_dib);
    return kestro::detail::replaceFileWith(path, [&](FreeImageIO* io, fi_handle handle) {
        return FreeImage_SaveToHandle(fif, m_dib, io, handle, flag) != FALSE;
    });
}

BOOL fipImage::saveU(const wchar_t* path, int flag) const {
    const NarrowName name(path);
    return name.valid ? fipImage::save(name.text.c_str(), flag) : FALSE;
}

BOOL fipImage::saveToHandle(FREE_IMAGE_FORMAT fif, FreeImageIO* io, fi_handle handle, int flag) const {
    if (!io || !passesExportTest(fif)) return FALSE;
    moveExifTagsOutOfMain(fif, m_dib);
    return FreeImage_SaveToHandle(fif, m_dib, io, handle, flag);
}

BOOL fipImage::saveToMemory(FREE_IMAGE_FORMAT fif, fipMemoryIO& stream, int flag) const {
    FIMEMORY* hmem = stream;
    if (!hmem || !passesExportTest(fif)) return FALSE;
    moveExifTagsOutOfMain(fif, m_dib);
    return FreeImage_SaveToMemory(fif, m_dib, hmem, flag);
}

// ---------------------------------------------------------------------------------------------
// Conversions

BOOL fipImage::replaceBy(FIBITMAP* (*convert)(FIBITMAP*)) {
    return m_dib ? replace(convert(m_dib)) : FALSE;
}

BOOL fipImage::convertToType(FREE_IMAGE_TYPE type, BOOL scale_linear) {
    return m_dib ? replace(FreeImage_ConvertToType(m_dib, type, scale_linear)) : FALSE;
}

BOOL fipImage::threshold(BYTE T) {
    return m_dib ? replace(FreeImage_Threshold(m_dib, T)) : FALSE;
}
BOOL fipImage::convertTo4Bits() {
    // FreeImage allocates the 4-bit result before it looks at the type, and leaks it when it then
    // gives up (double, complex and the 16-bit and float colour types); those get FALSE here.
    switch (getImageType()) {
    case FIT_DOUBLE:
    case FIT_COMPLEX:
    case FIT_RGB16:
    case FIT_RGBA16:
    case FIT_RGBF:
    case FIT_RGBAF:
        return FALSE;
    default:
        return replaceBy(FreeImage_ConvertTo4Bits);
    }
}
BOOL fipImage::convertTo8Bits() {
    return replaceBy(FreeImage_ConvertTo8Bits);
}
BOOL fipImage::convertTo16Bits555() {
    return replaceBy(FreeImage_ConvertTo16Bits555);
}
BOOL fipImage::convertTo16Bits565() {
    return replaceBy(FreeImage_ConvertTo16Bits565);
}
BOOL fipImage::convertTo24Bits() {
    return replaceBy(FreeImage_ConvertTo24Bits);
}
BOOL fipImage::convertTo32Bits() {
    return replaceBy(FreeImage_ConvertTo32Bits);
}
BOOL fipImage::convertToGrayscale() {
    return replaceBy(FreeImage_ConvertToGreyscale);
}

BOOL fipImage::colorQuantize(FREE_IMAGE_QUANTIZE algorithm) {
    return m_dib ? replace(FreeImage_ColorQuantize(m_dib, algorithm)) : FALSE;
}

BOOL fipImage::dither(FREE_IMAGE_DITHER algorithm) {
    return m_dib ? replace(FreeImage_Dither(m_dib, algorithm)) : FALSE;
}

BOOL fipImage::convertToFloat() {
    return replaceBy(FreeImage_ConvertToFloat);
}
BOOL fipImage::convertToRGBF() {
    return replaceBy(FreeImage_ConvertToRGBF);
}
BOOL fipImage::convertToUINT16() {
    return replaceBy(FreeImage_ConvertToUINT16);
}
BOOL fipImage::convertToRGB16() {
    return replaceBy(FreeImage_ConvertToRGB16);
}

BOOL fipImage::toneMapping(FREE_IMAGE_TMO tmo, double first_param, double second_param, double third_param,
                           double fourth_param) {
    if (!m_dib) return FALSE;
    if (tmo == FITMO_REINHARD05) {
        return replace(
            FreeImage_TmoReinhard05Ex(m_dib, first_param, second_param, third_param, fourth_param));
    }
    return replace(FreeImage_ToneMapping(m_dib, tmo, first_param, second_param));
}

// ---------------------------------------------------------------------------------------------
// Geometry

namespace {

bool inRescaleGate(FREE_IMAGE_TYPE type) {
    switch (type) {
    case FIT_BITMAP:
    case FIT_UINT16:
    case FIT_FLOAT:
    case FIT_RGB16:
    case FIT_RGBA16:
    case FIT_RGBF:
    case FIT_RGBAF:
        return true;
    default:
        return false;
    }
}

bool inRotateGate(FREE_IMAGE_TYPE type, unsigned bpp) {
    if (type == FIT_BITMAP) return bpp == 1 || bpp == 8 || bpp == 24 || bpp == 32;
    return inRescaleGate(type);
}

// FreeImage's rescaler crashes when it scales a 4-bit image whose palette it classes as grey
// (FIC_MINISBLACK or FIC_MINISWHITE, such as the index ramp setSize writes) to a size other than
// its own. Only such a call is given the image widened to 8 bits, which FreeImage scales to the
// grey image the 4 bits show; every other call goes to FreeImage as it is.
template <typename Scale> FIBITMAP* scaleSafely(FIBITMAP* dib, bool resizes, Scale scale) {
    const FREE_IMAGE_COLOR_TYPE colour = FreeImage_GetColorType(dib);
    const bool greyNibbles = FreeImage_GetImageType(dib) == FIT_BITMAP && FreeImage_GetBPP(dib) == 4 &&
                             (colour == FIC_MINISBLACK || colour == FIC_MINISWHITE);
    if (!resizes || !greyNibbles) return scale(dib);
    FIBITMAP* wide = FreeImage_ConvertTo8Bits(dib);
    if (!wide) return nullptr;
    FIBITMAP* scaled = scale(wide);
    FreeImage_Unload(wide);
    return scaled;
}

} // namespace

BOOL fipImage::crop(int left, int top, int right, int bottom) {
    if (kestro::detail::cropInPlace(m_dib, left, top, right, bottom)) {
        m_modified = TRUE;
        return TRUE;
    }
    return m_dib ? replace(FreeImage_Copy(m_dib, left, top, right, bottom)) : FALSE;
}

BOOL fipImage::copySubImage(fipImage& dst, int left, int top, int right, int bottom) const {
    if (!m_dib) return FALSE;
    dst = FreeImage_Copy(m_dib, left, top, right, bottom);
    return dst.isValid();
}

BOOL fipImage::pasteSubImage(fipImage& src, int left, int top, int alpha) {
    if (!m_dib) return FALSE;
    const BOOL pasted = FreeImage_Paste(m_dib, src.m_dib, left, top, alpha);
    m_modified = TRUE;
    return pasted;
}

BOOL fipImage::rotateEx(double angle, double x_shift, double y_shift, double x_origin, double y_origin,
                        BOOL use_mask) {
    if (!m_dib || getBitsPerPixel() < 8) return FALSE;
    return replace(FreeImage_RotateEx(m_dib, angle, x_shift, y_shift, x_origin, y_origin, use_mask));
}

BOOL fipImage::rotate(double angle, const void* bkcolor) {
    if (!m_dib || !inRotateGate(getImageType(), getBitsPerPixel())) return FALSE;
    return replace(FreeImage_Rotate(m_dib, angle, bkcolor));
}

BOOL fipImage::flipHorizontal() {
    if (!m_dib) return FALSE;
    m_modified = TRUE;
    return FreeImage_FlipHorizontal(m_dib);
}

BOOL fipImage::flipVertical() {
    if (!m_dib) return FALSE;
    m_modified = TRUE;
    return FreeImage_FlipVertical(m_dib);
}

BOOL fipImage::rescale(unsigned new_width, unsigned new_height, FREE_IMAGE_FILTER filter) {
    if (!m_dib || !inRescaleGate(getImageType())) return FALSE;
    const bool resizes = new_width != getWidth() || new_height != getHeight();
    return replace(scaleSafely(m_dib, resizes, [=](FIBITMAP* dib) {
        return FreeImage_Rescale(dib, static_cast<int>(new_width), static_cast<int>(new_height), filter);
    }));
}

BOOL fipImage::makeThumbnail(unsigned max_size, BOOL convert) {
    if (!m_dib || !inRescaleGate(getImageType())) return FALSE;
    // FreeImage clones an image whose longer side fits into max_size and scales any other.
    const bool resizes = std::max(getWidth(), getHeight()) > max_size;
    return replace(scaleSafely(m_dib, resizes, [=](FIBITMAP* dib) {
        return FreeImage_MakeThumbnail(dib, static_cast<int>(max_size), convert);
    }));
}

// ---------------------------------------------------------------------------------------------
// Pixel adjustments

BOOL fipImage::adjustInPlace(BOOL (*adjust)(FIBITMAP*, double), double value) {
    if (!m_dib) return FALSE;
    m_modified = TRUE;
    return adjust(m_dib, value);
}

BOOL fipImage::invert() {
    if (!m_dib) return FALSE;
    m_modified = TRUE;
    return FreeImage_Invert(m_dib);
}

BOOL fipImage::adjustCurve(BYTE* LUT, FREE_IMAGE_COLOR_CHANNEL channel) {
    if (!m_dib) return FALSE;
    m_modified = TRUE;
    return FreeImage_AdjustCurve(m_dib, LUT, channel);
}

BOOL fipImage::adjustGamma(double gamma) {
    return adjustInPlace(FreeImage_AdjustGamma, gamma);
}
BOOL fipImage::adjustBrightness(double percentage) {
    return adjustInPlace(FreeImage_AdjustBrightness, percentage);
}
BOOL fipImage::adjustContrast(double percentage) {
    return adjustInPlace(FreeImage_AdjustContrast, percentage);
}

BOOL fipImage::adjustBrightnessContrastGamma(double brightness, double contrast, double gamma) {
    if (!m_dib) return FALSE;
    m_modified = TRUE;
    return FreeImage_AdjustColors(m_dib, brightness, contrast, gamma, FALSE);
}

// ---------------------------------------------------------------------------------------------
// Channels

BOOL fipImage::getChannel(fipImage& image, FREE_IMAGE_COLOR_CHANNEL channel) const {
    if (!m_dib) return FALSE;
    image = FreeImage_GetChannel(m_dib, channel);
    return image.isValid();
}

BOOL fipImage::setChannel(fipImage& image, FREE_IMAGE_COLOR_CHANNEL channel) {
    if (!m_dib) return FALSE;
    m_modified = TRUE;
    return FreeImage_SetChannel(m_dib, image.m_dib, channel);
}

BOOL fipImage::splitChannels(fipImage& RedChannel, fipImage& GreenChannel, fipImage& BlueChannel) {
    if (!m_dib) return FALSE;
    RedChannel = FreeImage_GetChannel(m_dib, FICC_RED);
    GreenChannel = FreeImage_GetChannel(m_dib, FICC_GREEN);
    BlueChannel = FreeImage_GetChannel(m_dib, FICC_BLUE);
    return RedChannel.isValid() && GreenChannel.isValid() && BlueChannel.isValid();
}

BOOL fipImage::combineChannels(fipImage& red, fipImage& green, fipImage& blue) {
    if (!m_dib) {
        const int width = static_cast<int>(red.getWidth());
        const int height = static_cast<int>(red.getHeight());
        m_dib = FreeImage_Allocate(width, height, 24, 0xFF0000, 0x00FF00, 0x0000FF);
    }
    if (!m_dib) return FALSE;
    // All three are set even when one fails, so a partial result is as complete as it can be.
    const BOOL r = FreeImage_SetChannel(m_dib, red.m_dib, FICC_RED);
    const BOOL g = FreeImage_SetChannel(m_dib, green.m_dib, FICC_GREEN);
    const BOOL b = FreeImage_SetChannel(m_dib, blue.m_dib, FICC_BLUE);
    m_modified = TRUE;
    return r && g && b;
}

// ---------------------------------------------------------------------------------------------
// Thumbnails and metadata

BOOL fipImage::getThumbnail(fipImage& image) const {
    FIBITMAP* thumbnail = m_dib ? FreeImage_GetThumbnail(m_dib) : nullptr;
    image = thumbnail ? FreeImage_Clone(thumbnail) : nullptr;
    return image.isValid();
}

BOOL fipImage::setThumbnail(const fipImage& image) {
    return FreeImage_SetThumbnail(m_dib, image.m_dib);
}

BOOL fipImage::hasThumbnail() const {
    return m_dib && FreeImage_GetThumbnail(m_dib) != nullptr;
}

BOOL fipImage::clearThumbnail() {
    return FreeImage_SetThumbnail(m_dib, nullptr);
}

BOOL fipImage::getMetadata(FREE_IMAGE_MDMODEL model, const char* key, fipTag& tag) const {
    FITAG* found = nullptr;
    if (m_dib && key && FreeImage_GetMetadata(model, m_dib, key, &found) && found) {
        tag = FreeImage_CloneTag(found);
        return TRUE;
    }
    tag = static_cast<FITAG*>(nullptr);
    return FALSE;
}

BOOL fipImage::setMetadata(FREE_IMAGE_MDMODEL model, const char* key, fipTag& tag) {
    return FreeImage_SetMetadata(model, m_dib, key, tag);
}
