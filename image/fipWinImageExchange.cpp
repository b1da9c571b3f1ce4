// fipWinImage's exchange of bitmaps with the window system: memory DIBs, the clipboard, device
// bitmaps and window captures.
#include "image/fipWinImage.h"

#include "platform/framework/Window.h"
#include "image/DalvoImage.h"

#include "platform/winsys/Clipboard.h"
#include "platform/winsys/DeviceContext.h"
#include "platform/winsys/GlobalMemory.h"
#include "platform/winsys/Screen.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr DWORD kBiRgb = 0;
constexpr DWORD kBiBitfields = 3;
// Types other than FIT_BITMAP travel as 255 + the type in biCompression.
constexpr DWORD kTypeBase = 255;
constexpr std::uint64_t kHeaderBytes = sizeof(BITMAPINFOHEADER);
static_assert(sizeof(BITMAPINFOHEADER) == 40, "the DIB header is 40 bytes");

unsigned bitsOfType(FREE_IMAGE_TYPE type) {
    switch (type) {
    case FIT_UINT16:
    case FIT_INT16:
        return 16;
    case FIT_UINT32:
    case FIT_INT32:
    case FIT_FLOAT:
        return 32;
    case FIT_DOUBLE:
    case FIT_RGBA16:
        return 64;
    case FIT_RGB16:
        return 48;
    case FIT_RGBF:
        return 96;
    case FIT_COMPLEX:
    case FIT_RGBAF:
        return 128;
    default:
        return 0;
    }
}

// Where everything of a memory DIB stands, worked out from its header and checked against the
// block before anything is allocated or copied.
struct DibLayout {
    FREE_IMAGE_TYPE type = FIT_BITMAP;
    unsigned width = 0, height = 0, bpp = 0;
    bool topDown = false;
    unsigned masks[3] = {0, 0, 0};    // red, green, blue
    std::uint64_t paletteEntries = 0; // to copy into the bitmap's palette
    std::uint64_t pixelOffset = 0;
    std::uint64_t stride = 0;
};

bool readLayout(const BYTE* block, std::uint64_t size, const BITMAPINFOHEADER& h, DibLayout& out) {
    if (h.biSize != kHeaderBytes) return false;
    const std::int64_t height = h.biHeight;
    if (h.biWidth < 1 || h.biWidth > 65535 || height == 0 || height > 65535 || height < -65535) return false;
    out.width = static_cast<unsigned>(h.biWidth);
    out.height = static_cast<unsigned>(height < 0 ? -height : height);
    out.topDown = height < 0;
    out.bpp = h.biBitCount;

    const DWORD compression = h.biCompression;
    if (compression > kTypeBase + FIT_BITMAP && compression <= kTypeBase + FIT_RGBAF) {
        out.type = static_cast<FREE_IMAGE_TYPE>(compression - kTypeBase);
        if (out.bpp != bitsOfType(out.type)) return false;
    } else if (compression == kBiRgb) {
        if (out.bpp != 1 && out.bpp != 4 && out.bpp != 8 && out.bpp != 16 && out.bpp != 24 && out.bpp != 32)
            return false;
    } else if (compression == kBiBitfields) {
        if (out.bpp != 16 && out.bpp != 32) return false;
    } else {
        return false; // run-length, JPEG and PNG bodies are not rows of pixels
    }

    // Only palettised bitmaps keep a table; for deeper pixels it is a hint that is skipped.
    std::uint64_t tableEntries = h.biClrUsed;
    if (out.type == FIT_BITMAP && out.bpp <= 8) {
        const unsigned full = 1u << out.bpp;
        if (tableEntries == 0) tableEntries = full;
        if (tableEntries > full) return false;
        out.paletteEntries = tableEntries;
    }
    std::uint64_t offset = kHeaderBytes + tableEntries * 4;
    if (compression == kBiBitfields) {
        if (offset + 12 > size) return false;
        std::memcpy(out.masks, block + offset, 12);
        offset += 12;
        // FreeImage keeps 32-bit pixels in its own channel order only.
        if (out.bpp == 32 && (out.masks[0] != FI_RGBA_RED_MASK || out.masks[1] != FI_RGBA_GREEN_MASK ||
                              out.masks[2] != FI_RGBA_BLUE_MASK))
            return false;
    } else if (out.type == FIT_BITMAP && out.bpp == 16) {
        // A 16-bit DIB without masks is 5-5-5.
        out.masks[0] = FI16_555_RED_MASK;
        out.masks[1] = FI16_555_GREEN_MASK;
        out.masks[2] = FI16_555_BLUE_MASK;
    }
    out.pixelOffset = offset;
    out.stride = (std::uint64_t(out.width) * out.bpp + 31) / 32 * 4;
    return offset <= size && out.stride * out.height <= size - offset;
}

} // namespace

HANDLE fipWinImage::copyToHandle() const {
    if (!FreeImage_HasPixels(m_dib)) return nullptr;
    BITMAPINFOHEADER header = *FreeImage_GetInfoHeader(m_dib);
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(m_dib);
    if (type != FIT_BITMAP) header.biCompression = kTypeBase + type;
    // Header, palette, pixels: FreeImage's colour masks of a 16-bit bitmap are not part of the
    // block, though its header says BI_BITFIELDS.
    const SIZE_T paletteBytes = SIZE_T(FreeImage_GetColorsUsed(m_dib)) * sizeof(RGBQUAD);
    const SIZE_T pixelBytes = SIZE_T(FreeImage_GetPitch(m_dib)) * FreeImage_GetHeight(m_dib);

    HGLOBAL memory = GlobalAlloc(GHND, sizeof header + paletteBytes + pixelBytes);
    BYTE* block = static_cast<BYTE*>(GlobalLock(memory));
    if (!block) {
        GlobalFree(memory);
        return nullptr;
    }
    std::memcpy(block, &header, sizeof header);
    if (paletteBytes) std::memcpy(block + sizeof header, FreeImage_GetPalette(m_dib), paletteBytes);
    // FreeImage keeps its scan lines one pitch apart in one run, bottom row first.
    std::memcpy(block + sizeof header + paletteBytes, FreeImage_GetBits(m_dib), pixelBytes);
    GlobalUnlock(memory);
    return memory;
}

BOOL fipWinImage::copyFromHandle(HANDLE memory) {
    const SIZE_T size = GlobalSize(memory);
    const BYTE* block = static_cast<const BYTE*>(GlobalLock(memory));
    if (!block) return FALSE;
    BOOL done = FALSE;
    BITMAPINFOHEADER header{};
    if (size >= sizeof header) std::memcpy(&header, block, sizeof header);
    DibLayout layout;
    fipWinImage fresh;
    if (size >= sizeof header && readLayout(block, size, header, layout) &&
        fresh.setSize(layout.type, layout.width, layout.height, layout.bpp, layout.masks[0], layout.masks[1],
                      layout.masks[2]) &&
        fresh.getScanWidth() == layout.stride) {
        if (layout.paletteEntries)
            std::memcpy(fresh.getPalette(), block + sizeof header, layout.paletteEntries * sizeof(RGBQUAD));
        const BYTE* rows = block + layout.pixelOffset;
        for (unsigned r = 0; r < layout.height; ++r) {
            const unsigned line = layout.topDown ? layout.height - 1 - r : r;
            std::memcpy(fresh.getScanLine(line), rows + r * layout.stride, layout.stride);
        }
        // The block's header becomes the bitmap's, but for the fields FreeImage finds its own
        // layout by: size, width, height (a top-down block's rows were turned), depth, and the
        // compression and colour count, from which it works out where its masks and pixels
        // stand. Important colours stay within the count.
        BITMAPINFOHEADER* own = fresh.getInfoHeader();
        const BITMAPINFOHEADER layoutFields = *own;
        *own = header;
        own->biSize = layoutFields.biSize;
        own->biWidth = layoutFields.biWidth;
        own->biHeight = layoutFields.biHeight;
        own->biBitCount = layoutFields.biBitCount;
        own->biCompression = layoutFields.biCompression;
        own->biClrUsed = layoutFields.biClrUsed;
        if (own->biClrImportant > own->biClrUsed) own->biClrImportant = own->biClrUsed;
        FIBITMAP* dib = fresh.m_dib;
        fresh.m_dib = nullptr;
        done = replace(dib);
    }
    GlobalUnlock(memory);
    return done;
}

// Succeeds whatever became of the block, as the host expects of it: an empty image or a busy
// clipboard places nothing, and the block no one took is freed.
BOOL fipWinImage::copyToClipboard(HWND owner) const {
    HANDLE memory = copyToHandle();
    if (!memory) return TRUE;
    if (!OpenClipboard(owner)) {
        GlobalFree(memory);
        return TRUE;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_DIB, memory)) GlobalFree(memory);
    CloseClipboard();
    return TRUE;
}

BOOL DalvoImage::CopyToClipboard(CWnd* owner) const {
    return copyToClipboard(owner ? owner->GetSafeHwnd() : nullptr);
}

BOOL fipWinImage::pasteFromClipboard() {
    if (!IsClipboardFormatAvailable(CF_DIB)) return FALSE;
    if (!OpenClipboard(nullptr)) {
        CloseClipboard();
        return FALSE;
    }
    copyFromHandle(GetClipboardData(CF_DIB));
    CloseClipboard();
    return TRUE;
}

BOOL fipWinImage::copyFromBitmap(HBITMAP bitmap) {
    BITMAP description;
    if (!bitmap || !GetObject(bitmap, sizeof description, &description)) return FALSE;
    if (description.bmWidth < 1 || description.bmWidth > 65535 || description.bmHeight < 1 ||
        description.bmHeight > 65535)
        return FALSE;
    fipWinImage fresh;
    if (!fresh.setSize(FIT_BITMAP, unsigned(description.bmWidth), unsigned(description.bmHeight),
                       description.bmBitsPixel))
        return FALSE;
    // GetDIBits may rewrite the colour counts; they are the bitmap's own.
    const DWORD colors = fresh.getColorsUsed();
    HDC screen = GetDC(nullptr);
    const int lines = GetDIBits(screen, bitmap, 0, fresh.getHeight(), fresh.accessPixels(), fresh.getInfo(),
                                DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    FIBITMAP* dib = fresh.m_dib;
    fresh.m_dib = nullptr;
    replace(dib);
    if (!lines) {
        FreeImage_OutputMessageProc(FIF_UNKNOWN, "Error : GetDIBits failed");
        return FALSE;
    }
    getInfoHeader()->biClrUsed = colors;
    getInfoHeader()->biClrImportant = colors;
    return TRUE;
}

BOOL fipWinImage::captureWindow(HWND applicationWindow, HWND capturedWindow) {
    RECT r;
    if (!GetWindowRect(capturedWindow, &r)) return FALSE;
    r.right = std::min<LONG>(r.right, GetSystemMetrics(SM_CXSCREEN));
    r.bottom = std::min<LONG>(r.bottom, GetSystemMetrics(SM_CYSCREEN));
    int xOffset = 0, yOffset = 0;
    if (r.left < 0) {
        xOffset = -r.left;
        r.left = 0;
    }
    if (r.top < 0) {
        yOffset = -r.top;
        r.top = 0;
    }
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width < 1 || height < 1) return FALSE;

    ShowWindow(applicationWindow, SW_HIDE);
    SetWindowPos(capturedWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    Sleep(500); // the screen repaints what the hidden window covered

    HDC screen = GetDC(nullptr);
    HDC window = GetWindowDC(capturedWindow);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, window, xOffset, yOffset, SRCCOPY);

    ShowWindow(applicationWindow, SW_SHOW);
    SetWindowPos(capturedWindow, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    SetWindowPos(applicationWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);

    copyFromBitmap(bitmap);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    ReleaseDC(capturedWindow, window);

    if (getBitsPerPixel() == 32) convertTo24Bits();
    return TRUE;
}
