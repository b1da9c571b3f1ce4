// The gel image object: a displayable image with its processing history and its raster cache.
#pragma once

#include "platform/framework/afx.h"
#include "image/fipWinImage.h"

class RasterImage;
class CWnd;
namespace cv {
class Mat;
}

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
    /// cache is dropped. Self-assignment keeps bitmap and display state but drops the cache too.
    DalvoImage& operator=(const DalvoImage& src);
    /// Resets the own fields, destroys the cached raster, then releases the bitmaps.
    ~DalvoImage() override;

    /// The archive body: the processing history (a wide counted string), a 32-bit byte count N,
    /// N bytes of the bitmap as a TIFF file, then the display block (fipWinImage). Storing
    /// writes schema 1; loading takes the stored schema from the archive: 0 (no display block)
    /// and 1 are read, a schema above 1 (a newer writer) raises badSchema, and no schema at all
    /// (Serialize called directly, not through ReadObject) reads nothing. Reading replaces the
    /// bitmap and the history and sets the modified flag; the recording flag, paletteState,
    /// tone mapping, the display bitmap and a cached raster stay as they were. Failures raise
    /// CArchiveException: endOfFile when the archive ends inside the body, genericException for
    /// an empty image or one TIFF cannot hold (after the history is written) and for stored
    /// bytes that do not decode (the image is then empty).
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

    /// fipWinImage::copyToClipboard for the owner's window (none for a null owner).
    BOOL CopyToClipboard(CWnd* owner) const;

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

    // Image operations. Each records its history entry (the recording rule above) after the
    // pixel work; ContrastAve and Intensity only when they succeed, Gamma, ConvolutionExt and
    // apply16BitLUT never. Only crop drops the cached raster: after every other operation a
    // raster handed out earlier keeps the old pixel values.
    using fipImage::crop;
    using fipImage::rescale;
    using fipImage::rotate;
    /// Rotates counter-clockwise (as shown on screen) about the centre by angle hundredths of a
    /// degree: rotate(9000, 0) turns the image by 90.00 degrees. The uncovered corners get the
    /// background: 0 means black (no colour), otherwise 0xAABBGGRR as Windows' RGB() builds it
    /// (alpha only for 32-bit images; 8 and 1-bit images take the palette entry nearest to it),
    /// the low 16 bits for FIT_UINT16, the value itself for FIT_FLOAT, each component times 257
    /// for FIT_RGB16 and FIT_RGBA16 and divided by 255 for FIT_RGBF and FIT_RGBAF. Records
    /// "Rotatation of %.2f Degrees" with angle / 100. The base rotation's result (replace rule).
    virtual int rotate(int angle, unsigned long background);
    /// Bilinear rescale to width x height; records "Resize to %d width by %d height".
    virtual int rescale(unsigned width, unsigned height);
    /// Inverts the pixels (fipWinImage::invertPixels, not marked modified) and records
    /// "invertPixels" whatever the result.
    BOOL invertPixels() override;
    /// In place, modified first; records "Flip Vertically" also without a bitmap (then FALSE).
    BOOL flipVertical() override;
    /// In place, modified first; records "Flip Horizontally" also without a bitmap (then FALSE).
    BOOL flipHorizontal() override;
    /// Keeps the half-open rectangle [left, right) x [top, bottom) (top = first row of the
    /// picture): 1 when the image was cropped; 0 without a bitmap or for a rectangle FreeImage
    /// cannot copy (outside the image), the bitmap kept. Drops the cached raster and records
    /// "Crop" whatever the result.
    int crop(const CRect& rectangle);
    /// Median of each size x size neighbourhood, rows at the edges repeated, exactly what
    /// cv::medianBlur gives on the image's matrix (copytoOpenCV). The bitmap is filtered in
    /// place, so its palette, resolution and metadata stay. Sizes and images OpenCV or the
    /// bridge refuse (even sizes, 0 and below, above 5 for anything but 8-bit samples, no
    /// bitmap, types outside the bridge) raise cv::Exception before pixels, modified flag or
    /// history change. Records "Noise Reduction: Median %dX%d"; returns 0.
    int Median(int size);
    /// Contrast about mid-grey by percent (-100 flattens, 100 doubles). FIT_UINT16 through a
    /// 65536-entry table, value v to (v - 32768) x (percent + 100) / 100 + 32768 clamped to
    /// 0..65535 and rounded half up; other images through FreeImage_AdjustContrast. 0 without
    /// pixels or when FreeImage fails; records "Contrast: Average %d" on success only.
    int ContrastAve(int percent);
    /// Brightness scaling by percent: as ContrastAve without the centring (v x factor) on
    /// FIT_UINT16, FreeImage_AdjustBrightness on other images; records "Brighten: %d" on
    /// success only.
    int Intensity(int percent);
    /// Maps every FIT_UINT16 pixel v to table[v] (65536 entries) and marks the image modified.
    /// Other types: 1, nothing changed. 0 without pixels or without a table. Records nothing.
    int apply16BitLUT(unsigned short* table);
    // Named filters whose pixel work is not defined: they change no pixel and return 0.
    /// Records "Blur: Average %dX%d".
    int Average(int size);
    /// Records "Contrast: Median %d" with value / 10 (truncated toward zero).
    int ContrastMed(int value);
    /// Records "Sharpen: %d" with value / 10 (truncated toward zero).
    int Sharpness(int value);
    /// Records nothing.
    int Gamma(double gamma);
    /// Records "Threshold - Low: %d  |  High: %d".
    int Threshold(int low, int high);
    /// Records "Gray Scale to %d Bits Per Pixel".
    int GrayScale(int bitsPerPixel);
    /// Records "Equalize".
    int HistoEqualize();
    /// Records "Emboss : %d - Light Direction " with direction; the first argument is unused.
    int Emboss(int unused, int direction);
    /// Records "Spatial filter"; the kernel is not read.
    int Convolution(void* kernel);
    /// Records nothing; the kernel is not read.
    int ConvolutionExt(void* kernel);

    // Matrix bridge. Matrix row y is scan line height - 1 - y (row 0 is the top of the picture);
    // each row copies element size x columns bytes, and the padding of rows on either side is
    // neither read nor written. Neither touches history, display settings or raster cache.
    /// Copies the pixels into matrix: 8 and 24-bit FIT_BITMAP to CV_8UC1 and CV_8UC3 (bytes in
    /// blue, green, red order), FIT_UINT16, FIT_INT16, FIT_INT32, FIT_FLOAT and FIT_DOUBLE to
    /// CV_16UC1, CV_16SC1, CV_32SC1, CV_32FC1 and CV_64FC1. A matrix of that size and type is
    /// filled in place; any other is created anew. 0 without a bitmap, for a bitmap without
    /// pixels and for any other type or depth (no conversion: 1, 4, 16 and 32-bit bitmaps,
    /// FIT_UINT32, complex and multi-channel types), the matrix then left as it was.
    int copytoOpenCV(cv::Mat& matrix) const;
    /// Replaces the bitmap by the pixels of a two-dimensional matrix of one of the seven types
    /// above (an 8-bit bitmap gets the grey ramp); 1 on success, modified. The old bitmap is
    /// released first: any other matrix (type, dimensions, no data) or a failed allocation
    /// gives 0 and leaves the image empty.
    int copyFromOpenCV(const cv::Mat& matrix);

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

private:
    void saveV0(CArchive& ar) const;
    void loadV0(CArchive& ar);

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
