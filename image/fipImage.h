// The base image wrapper: one FreeImage bitmap per object, its modified flag, memory streams and tags.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/framework/afx.h"

#include <FreeImage.h>

/// Results and ownership, once for the whole family:
/// - Methods that report success return an int used as a boolean (nonzero = success). Nothing
///   throws; failure is only ever the FALSE (or null) result.
/// - Checks come first: an empty image, a format that cannot be detected, read or written, or a
///   type outside a method's gate gives FALSE with the image untouched.
/// - Four rules recur below:
///   replace      the new bitmap FreeImage returns takes the place of the old one and sets the
///                modified flag; a null result keeps the old bitmap and gives FALSE;
///   assign into  a destination image takes a new handle (null or its own handle: untouched);
///   empty guard  an empty image gives FALSE (or null) without calling FreeImage;
///   in place     the modified flag is set before FreeImage runs, whatever FreeImage reports.
/// - An image owns its bitmap; handles returned by queries stay the image's.
/// - File names given as wide strings go to FreeImage as UTF-8, the narrow encoding of file
///   names on this platform (FreeImage's own wide entry points do nothing here).
/// - Detection by signature reads a TIFF that FreeImage's camera-raw plugin claims, and that
///   holds a grayscale first image, as a TIFF: gel imagers write such files.

/// Root of the wrapper family: run-time class information and a virtual destructor from
/// CObject, and an abstract validity test.
class KESTRO_API fipObject : public CObject {
public:
    ~fipObject() override = default;
    /// Nonzero when the object holds its FreeImage resource.
    virtual BOOL isValid() const = 0;
};

/// Owner of one FreeImage memory stream. The bytes given to the constructor stay the caller's
/// and must outlive the stream.
class KESTRO_API fipMemoryIO : public fipObject {
public:
    /// Opens a stream over size bytes at data; no data and no size give an empty, growable stream.
    explicit fipMemoryIO(BYTE* data = nullptr, DWORD size = 0);
    ~fipMemoryIO() override;
    fipMemoryIO(const fipMemoryIO&) = delete;
    fipMemoryIO& operator=(const fipMemoryIO&) = delete;

    BOOL isValid() const override;
    /// The stream handle; it stays this object's.
    operator FIMEMORY*() { return m_hmem; }

    /// Reads up to count items of size bytes; returns the number of whole items read.
    unsigned read(void* buffer, unsigned size, unsigned count) const;
    /// Writes count items of size bytes at the current position (growable streams only).
    unsigned write(const void* buffer, unsigned size, unsigned count);
    long tell() const;
    /// Moves the position (origin SEEK_SET, SEEK_CUR or SEEK_END); FALSE when it cannot.
    BOOL seek(long offset, int origin);
    /// The stream's bytes and length, valid until the next write or the stream's end.
    BOOL acquire(BYTE** data, DWORD* size);

private:
    FIMEMORY* m_hmem;
};

/// Holder of one FreeImage metadata tag, used by fipImage::getMetadata and setMetadata.
class KESTRO_API fipTag : public fipObject {
public:
    /// A new, empty tag.
    fipTag();
    ~fipTag() override;
    /// Copies clone the tag; a copy of an empty holder is empty.
    fipTag(const fipTag& src);
    fipTag& operator=(const fipTag& src);
    /// Takes ownership of a tag handle (null empties the holder).
    fipTag& operator=(FITAG* tag);

    BOOL isValid() const override;
    /// The tag handle; it stays this holder's.
    operator FITAG*() { return m_tag; }

    /// Makes the tag an ASCII tag with the given key and text (the terminating NUL included in
    /// its count, as FreeImage stores ASCII tags). FALSE on an empty holder or null arguments.
    BOOL setKeyValue(const char* key, const char* value);
    /// Key of the tag, or null.
    const char* getKey() const;
    FREE_IMAGE_MDTYPE getType() const;
    /// Number of values and their length in bytes (0 on an empty holder).
    DWORD getCount() const;
    DWORD getLength() const;
    /// The raw value bytes, or null.
    const void* getValue() const;

private:
    FITAG* m_tag;
};

/// An image holding at most one FreeImage bitmap, with FreeImage's operations as methods.
/// Virtual slots after CObject's: isValid, clear, crop, save, canSave, rotateEx, rotate,
/// flipHorizontal, flipVertical, rescale.
class KESTRO_API fipImage : public fipObject {
public:
    /// Empty with the modified flag cleared; allocates (setSize) when width, height and bpp are
    /// all nonzero.
    explicit fipImage(FREE_IMAGE_TYPE type = FIT_BITMAP, unsigned width = 0, unsigned height = 0,
                      unsigned bpp = 0);
    /// Holds a clone of src's bitmap, modified; a copy of an empty image is empty and unmodified.
    fipImage(const fipImage& src);
    ~fipImage() override;
    /// Clones src's bitmap and replaces this one's; an empty src leaves this image as it was.
    fipImage& operator=(const fipImage& src);
    /// Assign-into rule: takes ownership of dib unless it is null or already this image's.
    fipImage& operator=(FIBITMAP* dib);
    /// The bitmap handle (null when empty); ownership stays with the image.
    operator FIBITMAP*() { return m_dib; }

    BOOL isValid() const override;
    /// Unloads the bitmap: the image is empty and modified.
    virtual void clear();
    /// Allocates a new bitmap in place of the old one; palettised FIT_BITMAPs (1, 4, 8 bits) get
    /// the ramp red = green = blue = index. FALSE leaves the image empty.
    BOOL setSize(FREE_IMAGE_TYPE type, unsigned width, unsigned height, unsigned bpp, unsigned red_mask = 0,
                 unsigned green_mask = 0, unsigned blue_mask = 0);

    // Queries: direct FreeImage calls on the handle (zero or null on an empty image).
    FREE_IMAGE_TYPE getImageType() const;
    unsigned getWidth() const;
    unsigned getHeight() const;
    /// Bytes from one scan line to the next, the fill to 4 bytes included.
    unsigned getScanWidth() const;
    /// Bytes of the pixels of one scan line, without the fill.
    unsigned getLine() const;
    unsigned getBitsPerPixel() const;
    /// Bytes of header, palette and pixels.
    unsigned getImageSize() const;
    BITMAPINFO* getInfo() const;
    BITMAPINFOHEADER* getInfoHeader() const;
    RGBQUAD* getPalette() const;
    unsigned getColorsUsed() const;
    /// The palette size in bytes (4 per colour).
    unsigned getPaletteSize() const;
    FREE_IMAGE_COLOR_TYPE getColorType() const;
    BYTE* accessPixels() const;
    /// Scan line y (0 = bottom row of the picture); null when y is not below the height.
    BYTE* getScanLine(unsigned y) const;
    BOOL getPixelIndex(unsigned x, unsigned y, BYTE* value) const;
    BOOL getPixelColor(unsigned x, unsigned y, RGBQUAD* value) const;
    BOOL isTransparent() const;
    unsigned getTransparencyCount() const;
    BYTE* getTransparencyTable() const;
    BOOL hasFileBkColor() const;
    BOOL getFileBkColor(RGBQUAD* bkcolor) const;
    unsigned getMetadataCount(FREE_IMAGE_MDMODEL model) const;
    /// TRUE for FIT_UINT16 and FIT_INT16.
    BOOL isHighResGrayscale() const;
    /// TRUE for 8 or 16 bits per pixel without a palette: a palettised 8-bit image is not grayscale.
    BOOL isGrayscale() const;
    /// Empty guard; FreeImage's histogram of one channel into 256 bins.
    BOOL getHistogram(DWORD* histo, FREE_IMAGE_COLOR_CHANNEL channel = FICC_BLACK) const;
    /// Resolution in pixels per centimetre.
    double getHorizontalResolution() const;
    double getVerticalResolution() const;

    // Setters.
    /// Pixels per centimetre, stored as whole dots per metre rounded to nearest (0.004 stores 0).
    /// The modified flag is left alone.
    void setHorizontalResolution(double value);
    void setVerticalResolution(double value);
    /// In place; no empty guard.
    BOOL setPixelIndex(unsigned x, unsigned y, BYTE* value);
    BOOL setPixelColor(unsigned x, unsigned y, RGBQUAD* value);
    /// Sets the table, then the modified flag.
    void setTransparencyTable(BYTE* table, int count);
    /// In place; no empty guard.
    BOOL setFileBkColor(RGBQUAD* bkcolor);
    BOOL isModified() const { return m_modified; }
    void setModified(BOOL modified = TRUE) { m_modified = modified; }

    // Loading: detect the format, check that FreeImage reads it, then unload and load. A failed
    // decode leaves the image empty and modified.
    // Files are untrusted: a load whose bitmap plus the raster it would need (four bytes a pixel
    // for 8-bit and wider bitmaps and FIT_UINT16) exceeds the load memory limit fails, with a
    // message through FreeImage's message handler. Where the format has a header-only read (and
    // for GIF's logical screen) the size is checked before decoding and the image stays
    // untouched; other formats are checked right after decoding and leave the image empty.
    BOOL load(const char* path, int flag = 0);
    BOOL loadU(const wchar_t* path, int flag = 0);
    BOOL loadFromHandle(FreeImageIO* io, fi_handle handle, int flag = 0);
    BOOL loadFromMemory(fipMemoryIO& stream, int flag = 0);
    /// Format by signature, else by extension; FIF_UNKNOWN when neither tells.
    static FREE_IMAGE_FORMAT identifyFIF(const char* path);
    static FREE_IMAGE_FORMAT identifyFIFU(const wchar_t* path);
    /// 8 GiB: a 30000 x 30000 16-bit scan (5.4 GB with its raster) loads; a header claiming
    /// 65535 x 65535 does not.
    static constexpr unsigned long long kDefaultLoadMemoryLimit = 8ULL << 30;
    /// The load memory limit in bytes, for every image of the process.
    static void setLoadMemoryLimit(unsigned long long bytes);
    static unsigned long long getLoadMemoryLimit();
    /// Whether the last load of this object gave a bitmap although the decoder reported errors
    /// (a TIFF cut short, for one) or the file was too small to hold the pixels it claims and they
    /// decoded as zeros: the load's result stays as FreeImage gives it, but the pixels are not
    /// what was scanned. Copies and other operations do not carry it.
    BOOL isLoadDamaged() const { return !m_loadDamage.empty(); }
    /// What the decoder said, and the missing data, for a damaged load; empty otherwise.
    const std::vector<std::string>& getLoadDamage() const { return m_loadDamage; }
    /// Format by signature from the handle's current position, which is kept.
    static FREE_IMAGE_FORMAT identifyFIFFromHandle(FreeImageIO* io, fi_handle handle);
    /// Format by signature from the stream's current position, which is kept.
    static FREE_IMAGE_FORMAT identifyFIFFromMemory(FIMEMORY* hmem);

    // Sub-images.
    /// Keeps the half-open rectangle [left, right) x [top, bottom); replace.
    virtual BOOL crop(int left, int top, int right, int bottom);
    /// Assigns a copy of the rectangle into dst; the result is dst's validity afterwards.
    BOOL copySubImage(fipImage& dst, int left, int top, int right, int bottom) const;
    /// Pastes src at (left, top); modified whatever FreeImage reports.
    BOOL pasteSubImage(fipImage& src, int left, int top, int alpha = 256);

    // Saving: the format comes from the name's extension or is given; the export test (writer
    // present, bits per pixel or image type supported) must pass. The modified flag stays.
    // 1-bit images fail the test for PSD: FreeImage's PSD writer corrupts memory on them.
    // Saving by name writes a temporary file beside the target and renames it over the target
    // only when the writer, every write and the close succeeded: a failed save leaves the old
    // file byte for byte as it was. A link is kept and what it points to is replaced; a target
    // without write permission, or that is not a regular file, gives FALSE.
    virtual BOOL save(const char* path, int flag = 0) const;
    BOOL saveU(const wchar_t* path, int flag = 0) const;
    BOOL saveToHandle(FREE_IMAGE_FORMAT fif, FreeImageIO* io, fi_handle handle, int flag = 0) const;
    BOOL saveToMemory(FREE_IMAGE_FORMAT fif, fipMemoryIO& stream, int flag = 0) const;
    /// The export test alone, for the format of the name's extension.
    virtual BOOL canSave(const char* path) const;

    // Conversions: empty guard, then replace.
    BOOL convertToType(FREE_IMAGE_TYPE type, BOOL scale_linear = TRUE);
    BOOL threshold(BYTE T);
    BOOL convertTo4Bits();
    BOOL convertTo8Bits();
    BOOL convertTo16Bits555();
    BOOL convertTo16Bits565();
    BOOL convertTo24Bits();
    BOOL convertTo32Bits();
    BOOL convertToGrayscale();
    BOOL colorQuantize(FREE_IMAGE_QUANTIZE algorithm);
    BOOL dither(FREE_IMAGE_DITHER algorithm);
    BOOL convertToFloat();
    BOOL convertToRGBF();
    BOOL convertToUINT16();
    BOOL convertToRGB16();
    /// FITMO_REINHARD05 takes all four parameters; the other operators the first two.
    BOOL toneMapping(FREE_IMAGE_TMO tmo, double first_param = 0, double second_param = 0,
                     double third_param = 1, double fourth_param = 0);

    // Rotation, flips and scaling.
    /// Types: FIT_BITMAP of 1, 8, 24 or 32 bits, FIT_UINT16, FIT_FLOAT, FIT_RGB16, FIT_RGBA16,
    /// FIT_RGBF, FIT_RGBAF; replace.
    virtual BOOL rotateEx(double angle, double x_shift, double y_shift, double x_origin, double y_origin,
                          BOOL use_mask);
    virtual BOOL rotate(double angle, const void* bkcolor = nullptr);
    /// In place.
    virtual BOOL flipHorizontal();
    virtual BOOL flipVertical();
    /// Types: any FIT_BITMAP, FIT_UINT16, FIT_FLOAT, FIT_RGB16, FIT_RGBA16, FIT_RGBF, FIT_RGBAF.
    virtual BOOL rescale(unsigned new_width, unsigned new_height, FREE_IMAGE_FILTER filter);
    /// Same type gate as rescale; replace.
    BOOL makeThumbnail(unsigned max_size, BOOL convert = TRUE);

    // Pixel adjustments: empty guard, then in place.
    BOOL invert();
    BOOL adjustCurve(BYTE* LUT, FREE_IMAGE_COLOR_CHANNEL channel);
    BOOL adjustGamma(double gamma);
    BOOL adjustBrightness(double percentage);
    BOOL adjustContrast(double percentage);
    BOOL adjustBrightnessContrastGamma(double brightness, double contrast, double gamma);

    // Channels.
    /// Assigns the channel into image; the result is image's validity afterwards.
    BOOL getChannel(fipImage& image, FREE_IMAGE_COLOR_CHANNEL channel) const;
    /// In place.
    BOOL setChannel(fipImage& image, FREE_IMAGE_COLOR_CHANNEL channel);
    /// TRUE only when all three destinations are valid afterwards.
    BOOL splitChannels(fipImage& RedChannel, fipImage& GreenChannel, fipImage& BlueChannel);
    /// An empty image first becomes 24-bit of red's size; all three channels are always set.
    BOOL combineChannels(fipImage& red, fipImage& green, fipImage& blue);

    // Thumbnails and metadata; none of these touches the modified flag.
    /// Assigns a clone of the embedded thumbnail into image; the result is image's validity.
    BOOL getThumbnail(fipImage& image) const;
    BOOL setThumbnail(const fipImage& image);
    BOOL hasThumbnail() const;
    BOOL clearThumbnail();
    /// tag receives a clone of the tag found (TRUE), or is emptied (FALSE).
    BOOL getMetadata(FREE_IMAGE_MDMODEL model, const char* key, fipTag& tag) const;
    /// An empty tag removes the key.
    BOOL setMetadata(FREE_IMAGE_MDMODEL model, const char* key, fipTag& tag);

protected:
    /// Format by the file's signature alone (no extension); FIF_UNKNOWN for a null path.
    static FREE_IMAGE_FORMAT identifySignature(const char* path);
    /// The replace rule on its own: a non-null new_dib takes the place of the bitmap (TRUE).
    BOOL replace(FIBITMAP* new_dib);

    FIBITMAP* m_dib;
    /// Set to FIF_UNKNOWN by the constructors; loads and saves detect the format afresh.
    FREE_IMAGE_FORMAT m_fif;
    BOOL m_modified;

private:
    BOOL replaceBy(FIBITMAP* (*convert)(FIBITMAP*));
    BOOL adjustInPlace(BOOL (*adjust)(FIBITMAP*, double), double value);
    BOOL storeLoaded(FIBITMAP* dib);
    BOOL loadBounded(FREE_IMAGE_FORMAT fif, int flag, unsigned long long sourceBytes,
                     const std::function<FIBITMAP*(int)>& decode,
                     const std::function<size_t(unsigned long long, BYTE*, size_t)>& readAt);

    std::vector<std::string> m_loadDamage;
    BOOL passesExportTest(FREE_IMAGE_FORMAT fif) const;
};
