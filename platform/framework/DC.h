// Stands in for the application framework (MFC) on this platform: the device context, here one
// that owns a canvas in memory, so that drawing can be looked at and saved without a screen.
#pragma once

#include "platform/wintypes/Geometry.h"
#include "platform/framework/Object.h"
#include "platform/framework/String.h"
#include "platform/winsys/WinGdi.h"

/// A device context. m_hDC is the handle the window-system calls take; a CDC made by
/// CreateCanvas owns its context and releases it in DeleteDC or the destructor. A CDC without a
/// canvas has a null handle, and drawing into it draws nothing.
class KESTRO_API CDC : public CObject {
    DECLARE_DYNAMIC(CDC)
public:
    HDC m_hDC = nullptr;

    CDC() = default;
    ~CDC() override;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    /// Replaces the canvas by a new one of width x height pixels filled with background; FALSE
    /// (and no canvas) for a negative size or when memory runs out.
    BOOL CreateCanvas(int width, int height, COLORREF background = RGB(255, 255, 255));
    /// Releases the canvas; FALSE when there was none.
    BOOL DeleteDC();

    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }
    /// Width and height of the canvas; (0, 0) without one.
    CSize GetCanvasSize() const;
    /// The canvas rows from the top, 3 bytes per pixel (red, green, blue); null without a canvas.
    const BYTE* GetCanvasBits() const;

    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    COLORREF GetPixel(POINT point) const { return ::GetPixel(m_hDC, point.x, point.y); }
    COLORREF SetPixel(int x, int y, COLORREF colour) { return ::SetPixel(m_hDC, x, y, colour); }

    /// Writes the canvas as a 24-bit PNG file. The file is written whole or not at all: on
    /// failure (no canvas, encoder or disk error) an existing file keeps its old content.
    BOOL SaveCanvas(const CString& path) const;
};
