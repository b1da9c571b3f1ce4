#include "platform/framework/DC.h"
#include "platform/framework/ReplaceFile.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstdio>

IMPLEMENT_DYNAMIC(CDC, CObject)

CDC::~CDC() {
    DeleteDC();
}

BOOL CDC::CreateCanvas(int width, int height, COLORREF background) {
    DeleteDC();
    m_hDC = CreateCanvasDC(width, height, background);
    return m_hDC != nullptr;
}

BOOL CDC::DeleteDC() {
    const BOOL had = ::DeleteDC(m_hDC);
    m_hDC = nullptr;
    return had;
}

CSize CDC::GetCanvasSize() const {
    return m_hDC ? CSize(m_hDC->width, m_hDC->height) : CSize();
}

const BYTE* CDC::GetCanvasBits() const {
    return m_hDC && !m_hDC->rgb.empty() ? m_hDC->rgb.data() : nullptr;
}

namespace {

// The canvas as a 24-bit FreeImage bitmap (scan lines bottom-up, bytes in FreeImage's order).
FIBITMAP* canvasBitmap(const HDC__& canvas) {
    FIBITMAP* dib = FreeImage_Allocate(canvas.width, canvas.height, 24);
    if (!dib) return nullptr;
    for (int y = 0; y < canvas.height; ++y) {
        const BYTE* src = &canvas.rgb[static_cast<size_t>(y) * canvas.width * 3];
        BYTE* dst = FreeImage_GetScanLine(dib, canvas.height - 1 - y);
        for (int x = 0; x < canvas.width; ++x, src += 3, dst += 3) {
            dst[FI_RGBA_RED] = src[0];
            dst[FI_RGBA_GREEN] = src[1];
            dst[FI_RGBA_BLUE] = src[2];
        }
    }
    return dib;
}

} // namespace

BOOL CDC::SaveCanvas(const CString& path) const {
    if (!m_hDC || m_hDC->width == 0 || m_hDC->height == 0) return FALSE;
    FIBITMAP* dib = canvasBitmap(*m_hDC);
    if (!dib) return FALSE;
    bool saved = false;
    if (FIMEMORY* memory = FreeImage_OpenMemory()) {
        BYTE* data = nullptr;
        DWORD size = 0;
        // The fastest deflate: at zlib's default level, writing the annotated picture of a large
        // scan took longer than analysing it (files are about a quarter larger).
        if (FreeImage_SaveToMemory(FIF_PNG, dib, memory, PNG_Z_BEST_SPEED) &&
            FreeImage_AcquireMemory(memory, &data, &size))
            saved = kestro::replaceFile(path.ToUtf8(), data, size);
        FreeImage_CloseMemory(memory);
    }
    FreeImage_Unload(dib);
    return saved;
}
