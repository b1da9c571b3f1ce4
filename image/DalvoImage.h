// The gel image object: a displayable image with its processing history and its raster cache.
#pragma once

#include "framework/afx.h"
#include "image/fipWinImage.h"

class RasterImage;

/// The image object the host creates, loads, saves, draws and stores in its documents.
/// On top of fipWinImage (bitmap, modified flag, display state) it keeps a processing history,
/// a cached raster for the analysis code (owned; null until built), paletteState (the host's
/// value, only stored and copied) and the history recording flag.
/// Loading replaces the bitmap only: history, paletteState, recording flag and display state
/// live on across loads. Failures are FALSE results; nothing is shown to the user.
class KESTRO_API DalvoImage : public fipWinImage {
    DECLARE_SERIAL(DalvoImage)
public:
    /// Empty image; empty history, paletteState 0, recording flag 1, no cached raster.
    DalvoImage();
    /// As DalvoImage(), with a bitmap allocated when width, height and bpp are all nonzero.
    DalvoImage(FREE_IMAGE_TYPE type, unsigned width, unsigned height, unsigned bpp);
    /// A FIT_BITMAP. A palette given to a palettised depth (1, 4 or 8 bits) replaces the
    /// greyscale ramp: 2^bpp entries are read from it. Null keeps the ramp.
    DalvoImage(unsigned width, unsigned height, unsigned bpp, RGBQUAD* palette = nullptr);
    /// Bitmap and display state as fipWinImage's copy; history, paletteState and recording flag
    /// from src; the cache starts empty.
    DalvoImage(const DalvoImage& src);
    /// fipWinImage's assignment, then history, paletteState and recording flag from src; the
    /// cache is dropped. Self-assignment changes nothing (the cache stays too).
    DalvoImage& operator=(const DalvoImage& src);
    /// Resets the own fields, destroys the cached raster, then releases the bitmaps.
    ~DalvoImage() override;

    /// Reads and writes nothing yet.
    void Serialize(CArchive& ar) override;

    // Loading.
    /// Loads the file at file's full path, opened again by name (nothing is read through file),
    /// then builds the raster. FALSE for a null file, a format that cannot be detected or read
    /// (image untouched), a file that does not decode (image empty) and a bitmap without a
    /// raster form (bitmap kept). A raster cached before the load is kept and passes the check.
    BOOL CreateFromFile(CFile* file);
    /// Loads an image file held in memory; the bytes stay the caller's. FALSE when no format
    /// recognises them, with the image untouched. The history is left alone; no raster is built.
    BOOL Load(BYTE* data, DWORD size);
    /// Same as Load.
    BOOL Create(BYTE* data, DWORD size);

    // File types, saving and queries.
    /// Format from the file's signature alone (no fallback to the extension); FIF_UNKNOWN for a
    /// null file or a file FreeImage does not recognise.
    static FREE_IMAGE_FORMAT GetFileType(CFile* file);
    /// Format from the extension alone, the text after the last "." compared without regard to
    /// case: TIF, TIFF, BMP, JPG, PCX, TGA, RAS, PSD, PNG, GIF; anything else FIF_UNKNOWN.
    static FREE_IMAGE_FORMAT GetFileType(CString fileName);
    using fipImage::canSave;
    using fipImage::save;
    /// Whether the format of fileName's extension can take this image (writer, depth or type).
    BOOL canSave(CString fileName) const;
    /// Saves in the format of fileName's extension with default options; the modified flag and
    /// the history stay.
    BOOL save(CString fileName) const;
    /// Combines nothing; FALSE.
    BOOL Combine(CString first, CString second);
    /// Width and height in pixels (0, 0 when empty).
    CSize GetSize();
    /// Nonzero when the image holds a bitmap.
    BOOL IsAvailable() const;
    /// Bytes of one pixel row without the fill to 4 bytes.
    unsigned GetBytesPerLine() const;
    /// Stores state as paletteState and returns the previous value.
    int SetPaletteState(int state);
    /// The stored paletteState.
    int GetPaletteState() const { return paletteState; }

    // Raster cache.
    /// The cached raster, built on first request under the application's wait cursor:
    /// RasterImageGS16 for FIT_UINT16 and 8-bit FIT_BITMAP (palette ignored), RasterImageRGB for
    /// other FIT_BITMAP depths of colour type FIC_RGB or FIC_RGBALPHA; null for anything else
    /// (no bitmap, a bitmap without pixels, 1 and 4 bits, other types), and then each call tries
    /// again. The raster is a copy of the pixels when it was built and stays the image's: it is
    /// valid until crop, assignment, copy or destruction; never delete it. Raises
    /// CMemoryException when the raster cannot be allocated (cache left empty).
    RasterImage* getRasterImage();

    // Information and pixel readout.
    /// Appends "Width (pixels)|w", "Height (pixels)|h", "Bits Per Pixel|bpp" and
    /// "Image Size (MB)|size" to what lines holds. Size is FreeImage's DIB size (header, palette
    /// and pixels) in MB of 1024 x 1024 bytes with three decimals. An empty image gives 0, 0, 0
    /// and 0.000.
    void getImageInfo(CStringArray& lines);
    /// Writes "(x,y)=[v]" (grayscale raster) or "(x,y)=[r,g,b]" (colour raster) for the pixel at
    /// point (column x, row y from the top), each number at least three digits. text is left
    /// unchanged for an image without a raster form, a point outside the raster and null
    /// arguments. Builds the raster if needed. Always TRUE.
    BOOL GetFormatedPixelString(CPoint* point, CString* text);

    // Processing history: entries "{" text "}" appended one after the other.
    /// Appends "{" entry "}" while the recording flag is set; when it is 0, appends nothing and
    /// sets the flag back to 1, so exactly one entry is skipped.
    void AddPreprocessStr(const CString& entry);
    /// Replaces the whole history with text as given (no braces added; the flag stays).
    void SetPreprocessStr(const CString& text);
    /// A copy of the history.
    CString GetPreprocessStr() const;
    /// The recording flag: 0 makes the next recorded entry stay out of the history. The library
    /// itself never clears it.
    void SetHistoryRecording(int recording) { recordHistory = recording; }
    int GetHistoryRecording() const { return recordHistory; }

    // Display: settings recorded in the history, auto contrast and drawing. None of them marks
    // the image modified: the host calls setModified when the display must follow.
    /// Records "adjustDisplayValue: Brightness %0.2f,Contrast %0.2f,Gamma %0.2f", then stores
    /// the three values.
    void setImageAdjustmentValues(double brightness, double contrast, double gamma) override;
    /// Stores type whatever its value. For PaletteNormal..PaletteAutoContrast it then records
    /// the palette's entry ("setting palette to normal", ...), PaletteAutoContrast after
    /// computing the percentile limits; any other value records nothing.
    virtual void setPalette(enPalette type);
    /// Percentile limits of a grayscale image (8-bit or 16-bit, from its cached raster): the
    /// bins one past the 0.1 % and 99.9 % points of the histogram, scaled by 256 / (M + 1) to the
    /// 0..255 display scale (M the largest value of the depth). Colour images and images without
    /// a raster keep their limits. Records nothing.
    void calcuateAutoContrastLimitsUsingHistogram();
    /// With enable nonzero, full-range limits of a grayscale image: the smallest and largest
    /// pixel value scaled by 255 / M, truncated. Always records "autoContrastMaxRange".
    void autoContrastMaxRange(int enable);
    using fipWinImage::draw;
    /// Draws into dc's context (nothing is blitted for a null dc, but the display bitmap is
    /// rebuilt as usual) in the destination rectangle; a null rectangle is an empty one.
    void draw(CDC* dc, const CRect* destination);

protected:
    /// Detects the format by signature, else by extension, and loads the file (as loadU).
    BOOL CreateFromFileName(CString path);
    /// Copies history, paletteState and recording flag only; drops the cache.
    void copy(const DalvoImage& src);
    /// The construction-time reset of the own fields; destroys nothing, so the cache must be empty.
    void init();
    /// Destroys the cached raster, if any, and leaves the cache empty.
    void dropRasterCache();

    /// The processing history.
    CString preprocessStr;
    /// The cached raster, owned; null until built.
    RasterImage* rasterImage;
    /// The host's value, stored and copied only.
    int paletteState;
    /// Nonzero: recorded entries are appended. 0: the next one is skipped.
    int recordHistory;
};
