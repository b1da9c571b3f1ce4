// The desktop behind Screen.h and DeviceContext.h: screen canvas, windows, contexts and bitmaps.
#include "winsys/DeviceContext.h"
#include "winsys/Screen.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

struct Window {
    RECT rect;
    bool visible;
    bool topmost;
    std::vector<COLORREF> pixels; // its own, row by row from the top
    WNDPROC proc;
    int width() const { return rect.right - rect.left; }
    int height() const { return rect.bottom - rect.top; }
};

struct Bitmap {
    int width, height, bpp, stride; // rows top first, padded to 2 bytes
    std::vector<BYTE> bits;
    HDC selectedInto;
};

enum class DcKind { Screen, Window, Memory };

struct Dc {
    DcKind kind;
    HWND window;
    HBITMAP bitmap; // memory contexts only: the one selected
    HBITMAP own;    // and the monochrome one it was made with
};

struct Desktop {
    int width = 1024, height = 768, bpp = 32;
    std::vector<COLORREF> pixels = std::vector<COLORREF>(std::size_t(1024) * 768, 0);
    // One series of serial numbers for every kind of handle: a window is never taken for a bitmap.
    std::uintptr_t last = 0x100;
    std::unordered_map<HWND, Window> windows;
    std::vector<HWND> order; // uppermost first; topmost windows before the others
    std::unordered_map<HDC, Dc> dcs;
    std::unordered_map<HGDIOBJ, Bitmap> bitmaps;

    template <typename Handle> Handle next() { return reinterpret_cast<Handle>(++last); }
};

Desktop& desktop() {
    static Desktop* d = new Desktop; // never destroyed, like the system's desktop
    return *d;
}

Window* findWindow(HWND window) {
    auto it = desktop().windows.find(window);
    return it == desktop().windows.end() ? nullptr : &it->second;
}

Dc* findDc(HDC dc) {
    auto it = desktop().dcs.find(dc);
    return it == desktop().dcs.end() ? nullptr : &it->second;
}

Bitmap* findBitmap(HGDIOBJ object) {
    auto it = desktop().bitmaps.find(object);
    return it == desktop().bitmaps.end() ? nullptr : &it->second;
}

bool contains(const RECT& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// What the screen shows at (x, y): black outside it.
COLORREF screenAt(int x, int y) {
    Desktop& d = desktop();
    if (x < 0 || y < 0 || x >= d.width || y >= d.height) return 0;
    for (HWND h : d.order) {
        const Window& w = d.windows.at(h);
        if (w.visible && contains(w.rect, x, y))
            return w
                .pixels[std::size_t(y - w.rect.top) * std::size_t(w.width()) + std::size_t(x - w.rect.left)];
    }
    return d.pixels[std::size_t(y) * std::size_t(d.width) + std::size_t(x)];
}

BYTE* rowOf(Bitmap& b, int y) {
    return b.bits.data() + std::size_t(y) * std::size_t(b.stride);
}

COLORREF bitmapAt(Bitmap& b, int x, int y) {
    if (x < 0 || y < 0 || x >= b.width || y >= b.height) return CLR_INVALID;
    const BYTE* row = rowOf(b, y);
    switch (b.bpp) {
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1 ? RGB(255, 255, 255) : 0;
    case 24:
        return RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    case 32:
        return RGB(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
    default:
        return CLR_INVALID; // no palette device here
    }
}

bool setBitmapAt(Bitmap& b, int x, int y, COLORREF c) {
    if (x < 0 || y < 0 || x >= b.width || y >= b.height) return false;
    BYTE* row = rowOf(b, y);
    const BYTE red = BYTE(c), green = BYTE(c >> 8), blue = BYTE(c >> 16);
    switch (b.bpp) {
    case 1: {
        const BYTE bit = BYTE(0x80 >> (x % 8));
        row[x / 8] = (c & 0xFFFFFF) ? BYTE(row[x / 8] | bit) : BYTE(row[x / 8] & ~bit);
        return true;
    }
    case 24:
    case 32: {
        BYTE* p = row + std::size_t(x) * std::size_t(b.bpp / 8);
        p[0] = blue;
        p[1] = green;
        p[2] = red;
        return true;
    }
    default:
        return false;
    }
}

COLORREF readDc(const Dc& dc, int x, int y) {
    switch (dc.kind) {
    case DcKind::Screen:
        return screenAt(x, y);
    case DcKind::Window: {
        const Window* w = findWindow(dc.window);
        return w ? screenAt(w->rect.left + x, w->rect.top + y) : CLR_INVALID;
    }
    case DcKind::Memory: {
        Bitmap* b = findBitmap(dc.bitmap);
        return b ? bitmapAt(*b, x, y) : CLR_INVALID;
    }
    }
    return CLR_INVALID;
}

void send(HWND window, UINT message, WPARAM wParam) {
    if (const Window* w = findWindow(window))
        if (w->proc) w->proc(window, message, wParam, 0);
}

// Puts the window back into the order: at the top of its group, or right after another window.
void place(HWND window, Window& w, HWND after) {
    std::vector<HWND>& order = desktop().order;
    order.erase(std::find(order.begin(), order.end(), window));
    auto groupTop =
        std::find_if(order.begin(), order.end(), [](HWND h) { return !desktop().windows.at(h).topmost; });
    if (after == HWND_BOTTOM) {
        w.topmost = false;
        order.push_back(window);
    } else if (const Window* other = findWindow(after)) {
        w.topmost = other->topmost;
        order.insert(std::find(order.begin(), order.end(), after) + 1, window);
    } else if (w.topmost) {
        order.insert(order.begin(), window);
    } else {
        order.insert(groupTop, window);
    }
}

HDC newDc(DcKind kind, HWND window, HBITMAP bitmap) {
    Desktop& d = desktop();
    HDC dc = d.next<HDC>();
    d.dcs.emplace(dc, Dc{kind, window, bitmap, bitmap});
    return dc;
}

HBITMAP newBitmap(int width, int height, int bpp) {
    if (width < 1 || height < 1 || bpp < 1 || bpp > 32 || width > 0x7FFF || height > 0x7FFF) return nullptr;
    Desktop& d = desktop();
    const int stride = (width * bpp + 15) / 16 * 2;
    HBITMAP handle = d.next<HBITMAP>();
    d.bitmaps.emplace(handle,
                      Bitmap{width, height, bpp, stride,
                             std::vector<BYTE>(std::size_t(stride) * std::size_t(height), 0), nullptr});
    return handle;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Screen and windows

BOOL SetScreen(int width, int height, int bitsPerPixel) {
    const bool none = width == 0 && height == 0;
    if (!none && (width < 1 || height < 1 || (bitsPerPixel != 24 && bitsPerPixel != 32))) return FALSE;
    Desktop& d = desktop();
    d.width = width;
    d.height = height;
    d.bpp = none ? 0 : bitsPerPixel;
    d.pixels.assign(std::size_t(width) * std::size_t(height), 0);
    return TRUE;
}

int GetSystemMetrics(int index) {
    if (index == SM_CXSCREEN) return desktop().width;
    if (index == SM_CYSCREEN) return desktop().height;
    return 0;
}

HWND CreateScreenWindow(const RECT& rect, COLORREF color, WNDPROC proc) {
    if (rect.right <= rect.left || rect.bottom <= rect.top) return nullptr;
    Desktop& d = desktop();
    HWND handle = d.next<HWND>();
    Window w{rect, true, false, {}, proc};
    w.pixels.assign(std::size_t(w.width()) * std::size_t(w.height()), color);
    Window& stored = d.windows.emplace(handle, std::move(w)).first->second;
    d.order.push_back(handle);
    place(handle, stored, HWND_TOP);
    return handle;
}

BOOL DestroyWindow(HWND window) {
    Desktop& d = desktop();
    if (!findWindow(window)) return FALSE;
    d.order.erase(std::find(d.order.begin(), d.order.end(), window));
    d.windows.erase(window);
    return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    const Window* w = findWindow(window);
    if (!w || !rect) return FALSE;
    *rect = w->rect;
    return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
    Window* w = findWindow(window);
    if (!w) return FALSE;
    const bool was = w->visible;
    const bool show = command != SW_HIDE;
    w->visible = show;
    if (was != show) send(window, WM_SHOWWINDOW, show);
    return was;
}

BOOL IsWindowVisible(HWND window) {
    const Window* w = findWindow(window);
    return w && w->visible;
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    Window* w = findWindow(window);
    if (!w) return FALSE;
    if (!(flags & SWP_NOSIZE) && (cx < 1 || cy < 1)) return FALSE;
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) r = RECT{x, y, x + (r.right - r.left), y + (r.bottom - r.top)};
    if (!(flags & SWP_NOSIZE)) r.right = r.left + cx, r.bottom = r.top + cy;
    if (r.right - r.left != w->width() || r.bottom - r.top != w->height()) {
        // Resized windows keep their pixels where they overlap; the rest is black.
        std::vector<COLORREF> pixels(std::size_t(r.right - r.left) * std::size_t(r.bottom - r.top), 0);
        for (int row = 0; row < std::min(w->height(), int(r.bottom - r.top)); ++row)
            std::copy_n(&w->pixels[std::size_t(row) * std::size_t(w->width())],
                        std::min(w->width(), int(r.right - r.left)),
                        &pixels[std::size_t(row) * std::size_t(r.right - r.left)]);
        w->pixels.swap(pixels);
    }
    w->rect = r;
    if (!(flags & SWP_NOZORDER)) {
        if (insertAfter == HWND_TOPMOST) w->topmost = true;
        if (insertAfter == HWND_NOTOPMOST) w->topmost = false;
        place(window, *w, insertAfter);
    }
    send(window, WM_WINDOWPOSCHANGED, 0);
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---------------------------------------------------------------------------------------------
// Device contexts and bitmaps

HDC GetDC(HWND window) {
    if (desktop().width == 0) return nullptr;
    if (!window) return newDc(DcKind::Screen, nullptr, nullptr);
    return findWindow(window) ? newDc(DcKind::Window, window, nullptr) : nullptr;
}

HDC GetWindowDC(HWND window) {
    return window ? GetDC(window) : nullptr;
}

int ReleaseDC(HWND, HDC dc) {
    const Dc* c = findDc(dc);
    if (!c || c->kind == DcKind::Memory) return 0;
    desktop().dcs.erase(dc);
    return 1;
}

HDC CreateCompatibleDC(HDC) {
    HBITMAP mono = newBitmap(1, 1, 1);
    HDC dc = newDc(DcKind::Memory, nullptr, mono);
    findBitmap(mono)->selectedInto = dc;
    return dc;
}

BOOL DeleteDC(HDC dc) {
    const Dc* c = findDc(dc);
    if (!c || c->kind != DcKind::Memory) return FALSE;
    // Its own monochrome bitmap goes with it; one the caller selected stays the caller's.
    if (Bitmap* b = findBitmap(c->bitmap)) b->selectedInto = nullptr;
    const Bitmap* own = findBitmap(c->own);
    if (own && !own->selectedInto) desktop().bitmaps.erase(c->own);
    desktop().dcs.erase(dc);
    return TRUE;
}

int GetDeviceCaps(HDC dc, int index) {
    const Dc* c = findDc(dc);
    if (!c || index != BITSPIXEL) return 0;
    if (c->kind != DcKind::Memory) return desktop().bpp;
    const Bitmap* b = findBitmap(c->bitmap);
    return b ? b->bpp : 0;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    Dc* c = findDc(dc);
    Bitmap* b = findBitmap(object);
    if (!c || c->kind != DcKind::Memory || !b || (b->selectedInto && b->selectedInto != dc)) return nullptr;
    HBITMAP old = c->bitmap;
    if (Bitmap* previous = findBitmap(old)) previous->selectedInto = nullptr;
    c->bitmap = static_cast<HBITMAP>(object);
    b->selectedInto = dc;
    return old;
}

BOOL DeleteObject(HGDIOBJ object) {
    const Bitmap* b = findBitmap(object);
    if (!b || b->selectedInto) return FALSE;
    desktop().bitmaps.erase(object);
    return TRUE;
}

int GetObject(HGDIOBJ object, int size, LPVOID out) {
    const Bitmap* b = findBitmap(object);
    if (!b || !out || size < int(sizeof(BITMAP))) return 0;
    const BITMAP description{0, b->width, b->height, b->stride, 1, WORD(b->bpp), nullptr};
    std::memcpy(out, &description, sizeof description);
    return sizeof description;
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    const int bpp = GetDeviceCaps(dc, BITSPIXEL);
    return bpp ? newBitmap(width, height, bpp) : nullptr;
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
    if (planes != 1) return nullptr;
    HBITMAP handle = newBitmap(width, height, int(bitsPerPixel));
    if (handle && bits) {
        Bitmap* b = findBitmap(handle);
        std::memcpy(b->bits.data(), bits, b->bits.size());
    }
    return handle;
}

COLORREF GetPixel(HDC dc, int x, int y) {
    const Dc* c = findDc(dc);
    if (!c) return CLR_INVALID;
    if (c->kind == DcKind::Window) {
        const Window* w = findWindow(c->window);
        if (!w || x < 0 || y < 0 || x >= w->width() || y >= w->height()) return CLR_INVALID;
    } else if (c->kind == DcKind::Screen &&
               (x < 0 || y < 0 || x >= desktop().width || y >= desktop().height)) {
        return CLR_INVALID;
    }
    return readDc(*c, x, y);
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) {
    const Dc* c = findDc(dc);
    if (!c) return CLR_INVALID;
    color &= 0xFFFFFF;
    switch (c->kind) {
    case DcKind::Screen: {
        Desktop& d = desktop();
        if (x < 0 || y < 0 || x >= d.width || y >= d.height) return CLR_INVALID;
        d.pixels[std::size_t(y) * std::size_t(d.width) + std::size_t(x)] = color;
        return color;
    }
    case DcKind::Window: {
        Window* w = findWindow(c->window);
        if (!w || x < 0 || y < 0 || x >= w->width() || y >= w->height()) return CLR_INVALID;
        w->pixels[std::size_t(y) * std::size_t(w->width()) + std::size_t(x)] = color;
        return color;
    }
    case DcKind::Memory: {
        Bitmap* b = findBitmap(c->bitmap);
        return b && setBitmapAt(*b, x, y, color) ? bitmapAt(*b, x, y) : CLR_INVALID;
    }
    }
    return CLR_INVALID;
}

BOOL BitBlt(HDC dest, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop) {
    const Dc* to = findDc(dest);
    const Dc* from = findDc(src);
    if (!to || !from || to->kind != DcKind::Memory || rop != SRCCOPY) return FALSE;
    Bitmap* b = findBitmap(to->bitmap);
    if (!b) return FALSE;
    for (int j = 0; j < cy; ++j)
        for (int i = 0; i < cx; ++i) {
            const COLORREF c = readDc(*from, x1 + i, y1 + j);
            setBitmapAt(*b, x + i, y + j, c == CLR_INVALID ? 0 : c);
        }
    return TRUE;
}

int GetDIBits(HDC dc, HBITMAP bitmap, UINT first, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage) {
    Bitmap* b = findBitmap(bitmap);
    if (!findDc(dc) || !b || !info || usage != DIB_RGB_COLORS || (b->bpp != 24 && b->bpp != 32)) return 0;
    BITMAPINFOHEADER& h = info->bmiHeader;
    if (!bits) {
        h = BITMAPINFOHEADER{};
        h.biSize = sizeof h;
        h.biWidth = b->width;
        h.biHeight = b->height;
        h.biPlanes = 1;
        h.biBitCount = WORD(b->bpp);
        h.biSizeImage = DWORD((b->width * b->bpp + 31) / 32 * 4 * b->height);
        return b->height;
    }
    const long long height = h.biHeight < 0 ? -(long long)h.biHeight : h.biHeight;
    if (h.biWidth != b->width || height != b->height || (h.biBitCount != 24 && h.biBitCount != 32) ||
        h.biCompression != 0)
        return 0;
    const std::size_t bytesPerPixel = h.biBitCount / 8;
    const std::size_t stride = (std::size_t(b->width) * h.biBitCount + 31) / 32 * 4;
    int copied = 0;
    for (UINT k = first; k < first + lines && k < UINT(b->height); ++k, ++copied) {
        const int row = h.biHeight > 0 ? b->height - 1 - int(k) : int(k); // device rows are top first
        BYTE* out = static_cast<BYTE*>(bits) + std::size_t(k - first) * stride;
        for (int x = 0; x < b->width; ++x) {
            const COLORREF c = bitmapAt(*b, x, row);
            BYTE* p = out + std::size_t(x) * bytesPerPixel;
            p[0] = BYTE(c >> 16);
            p[1] = BYTE(c >> 8);
            p[2] = BYTE(c);
            if (bytesPerPixel == 4) p[3] = 0;
        }
    }
    h.biSizeImage = DWORD(stride * std::size_t(b->height));
    return copied;
}
