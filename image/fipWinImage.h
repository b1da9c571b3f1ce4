// The displayable image: a fipImage with the settings it is shown with and the bitmap that is drawn.
#pragma once

#include "platform/framework/afx.h"
#include "image/fipImage.h"
#include "platform/winsys/WinHandles.h"

/// False-colour palette of the display pass. Any other value can be stored; it selects none.
enum enPalette : int {
    PaletteNormal = 0,
    PaletteSaturated = 1,
    PaletteShadesOfGreen = 2,
    PaletteShadesOfRed = 3,
    PaletteShadesOfBlue = 4,
    PaletteAutoContrast = 5
};

/// An image with a display state: brightness, contrast, gamma, a false-colour palette, two
/// display limits and tone mapping. The display state is a view setting: setters store what they
/// are given (nothing is clamped), never touch the image bitmap and never mark it modified; the
/// host calls setModified when the display must follow.
/// Virtual slots appended to fipImage's: invertPixels, setImageAdjustmentValues.
class KESTRO_API fipWinImage : public fipImage {
    DECLARE_SERIAL(fipWinImage)
public:
    /// Default display state; allocates the bitmap (setSize) when width, height and bpp are all nonzero.
    explicit fipWinImage(FREE_IMAGE_TYPE type = FIT_BITMAP, unsigned width = 0, unsigned height = 0,
                         unsigned bpp = 0);
    /// Clones the bitmap and copies the display settings; the copy builds its own display bitmap.
    fipWinImage(const fipWinImage& src);
    ~fipWinImage() override;
    /// Drops the display bitmap, takes src's display settings, then clones src's bitmap (a failed
    /// clone keeps this image's bitmap).
    fipWinImage& operator=(const fipWinImage& src);
    /// Drops the display bitmap and clones src's bitmap; the display settings stay.
    fipWinImage& operator=(const fipImage& src);

    /// Reads and writes nothing: the display block travels with DalvoImage's archive body.
    void Serialize(CArchive& ar) override;
    /// Drops the display bitmap and unloads the image bitmap; the display settings stay.
    void clear() override;

    /// Complements the pixels of 1, 4, 8, 24 and 32-bit bitmaps (palettised images invert their
    /// indices) and of FIT_UINT16, FIT_RGB16 and FIT_RGBA16; 0 for anything else. Does not mark
    /// the image modified.
    virtual BOOL invertPixels();
    /// Stores the three values, nothing else.
    virtual void setImageAdjustmentValues(double brightness, double contrast, double gamma);

    // Drawing. While the image is marked modified, a draw first rebuilds the display bitmap from
    // the image bitmap and runs the display pass on it (applyPalette), then clears the flag;
    // otherwise it only blits the display bitmap it kept. The blit scales the display bitmap into
    // the destination rectangle with nearest-colour sampling; a null context blits nothing.
    // Drawing never changes the image bitmap: a standard bitmap is shown from a private copy
    // whenever the adjustment is not the neutral (0, 0, 1.0).
    // A 16-bit grayscale image is shown through FreeImage's linear conversion, which stretches
    // the image's own smallest..largest value to 0..255; the auto-contrast limits, though, are on
    // the scale of the full depth (0..65535 -> 0..255), so the two scales differ unless the image
    // uses the full range.
    /// drawEx with no file background, application background or background bitmap.
    void draw(HDC dc, RECT& destination) const;
    /// Rebuilds the display bitmap if needed and stretches it into destination. A transparent
    /// standard bitmap, or one with a file background when useFileBackground is set, is composited
    /// first (FreeImage_Composite with the three background arguments), as is FIT_RGBA16 after
    /// its conversion to 32 bits. When a conversion fails there is no display bitmap and nothing
    /// is drawn.
    void drawEx(HDC dc, RECT& destination, BOOL useFileBackground = FALSE,
                RGBQUAD* applicationBackground = nullptr, FIBITMAP* backgroundBitmap = nullptr) const;

    double getBrightness() const { return brightness; }
    double getContrast() const { return contrast; }
    double getGamma() const { return gamma; }
    enPalette getPaletteType() const { return paletteType; }
    /// The display limits on the 0..255 display scale used by PaletteAutoContrast.
    int getAutoContrastLow() const { return autoContrastLow; }
    int getAutoContrastHigh() const { return autoContrastHigh; }

    /// Stores the operator and its parameters when any of them differs from the stored ones, and
    /// then marks FIT_RGB16, FIT_RGBA16, FIT_RGBF and FIT_RGBAF images modified (their display
    /// depends on tone mapping).
    void setToneMappingOperator(FREE_IMAGE_TMO tmo, double first_param = 0, double second_param = 0,
                                double third_param = 1, double fourth_param = 0);
    void getToneMappingOperator(FREE_IMAGE_TMO* tmo, double* first_param, double* second_param,
                                double* third_param, double* fourth_param) const;

    // Exchange with the window system. The memory DIB is one global memory block: the
    // BITMAPINFOHEADER as FreeImage holds it (for types other than FIT_BITMAP, biCompression is
    // 255 + the type), then FreeImage's palette (GetColorsUsed entries) or, for BI_BITFIELDS, the
    // red, green and blue masks in that order, then the scan lines bottom-up at FreeImage's pitch.
    /// A new memory DIB of the image (GHND); the caller owns it. Null without a bitmap with pixels
    /// or when memory runs out.
    HANDLE copyToHandle() const;
    /// Replaces the image by a memory DIB, which stays the caller's and is only read. Accepts a
    /// 40-byte BITMAPINFOHEADER of 1..65535 columns and rows, either row order (negative height:
    /// top row first), BI_RGB, BI_BITFIELDS (16 or 32 bits; at 32 only FreeImage's own masks) or
    /// 255 + a FreeImage type with that type's depth; biClrUsed 0 at 8 bits or fewer means the
    /// full table. The rest of the header travels but for the fields FreeImage lays its bitmap out
    /// by. FALSE, with the image as it was, for an invalid handle, a block that header, table and
    /// pixels overrun, anything else, and when the bitmap cannot be allocated.
    BOOL copyFromHandle(HANDLE memory);
    /// Places a memory DIB of the image on the clipboard as CF_DIB, opened for owner and emptied
    /// first; the clipboard owns the block from then on. FALSE without a bitmap or while the
    /// clipboard is open for another owner (nothing is left allocated).
    BOOL copyToClipboard(HWND owner) const;
    /// Replaces the image by the clipboard's CF_DIB; FALSE when there is none or the clipboard is
    /// open for another owner. TRUE once the DIB was handed to copyFromHandle, whatever it made of it.
    BOOL pasteFromClipboard();
    /// Replaces the image by a device bitmap: a FIT_BITMAP of its size and depth read through the
    /// screen context. FALSE for a null or unknown bitmap or one over 65535 pixels a side (image
    /// as it was). When the pixels cannot be read, reports "Error : GetDIBits failed" through
    /// FreeImage's message handler and returns FALSE, holding the new, unfilled bitmap.
    BOOL copyFromBitmap(HBITMAP bitmap);
    /// Replaces the image by what the screen shows of capturedWindow, clipped to the screen; 24
    /// bits from a 32-bit screen. applicationWindow is hidden meanwhile and then shown again at
    /// the top, capturedWindow made topmost for the capture only; waits 500 ms for the screen to
    /// settle. FALSE, touching no window, when nothing of capturedWindow is on the screen.
    BOOL captureWindow(HWND applicationWindow, HWND capturedWindow);

protected:
    /// The display pass on target: the false-colour palette of paletteType, written into the
    /// target's palette when the image is 8 or 16 bits without palette colours or FIT_UINT16 /
    /// FIT_INT16 (rgbReserved kept), then FreeImage's colour adjustment with brightness, contrast
    /// and gamma. Nonzero when that adjustment succeeded; 0 for a target without pixels.
    BOOL applyPalette(FIBITMAP* target) const;
    /// The display block of the archive, 36 bytes: brightness, contrast and gamma as doubles,
    /// the two limits as signed 32-bit numbers, then the palette code (0 for a paletteType
    /// outside 0..5).
    void saveV1ExtraData(CArchive& ar) const;
    /// Reads the display block and stores it as it stands (no history, no palette work); a
    /// palette code outside 0..5 leaves paletteType alone. An archive that ends inside the
    /// block raises endOfFile and changes nothing.
    void loadV1ExtraData(CArchive& ar);
    /// Unloads an owned display bitmap and forgets a shared one.
    void releaseDisplayBitmap();
    /// Copies the display settings (limits, tone mapping, brightness, contrast, gamma, palette).
    void copyDisplaySettings(const fipWinImage& src);

    int autoContrastLow = 0;
    int autoContrastHigh = 255;
    /// The bitmap that is drawn: the image bitmap itself (shared, not owned) or a private one
    /// derived from it (owned). A shared handle is stale once the image bitmap is replaced; every
    /// replacement marks the image modified, which makes the next draw rebuild it first.
    /// Both change while drawing, which is const: they cache what is drawn.
    mutable FIBITMAP* displayBitmap = nullptr;
    mutable BOOL ownsDisplayBitmap = FALSE;
    FREE_IMAGE_TMO toneMappingOperator = FITMO_DRAGO03;
    double toneMappingParam1 = 0;
    double toneMappingParam2 = 0;
    double toneMappingParam3 = 1.0;
    double toneMappingParam4 = 0;
    double brightness = 0;
    double contrast = 0;
    double gamma = 1.0;
    enPalette paletteType = PaletteNormal;
};
