// The desktop behind Screen.h and DeviceContext.h: screen canvas, windows, the state of their
// contexts and of memory contexts, and device bitmaps.
#include "platform/winsys/DeviceContext.h"
#include "platform/winsys/Screen.h"

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

// Pixels are kept as the canvases of WinGdi.h keep them: red, green, blue, rows from the top.
struct Bitmap {
    int width, height, bpp;
    std::vector<BYTE> rgb; // while selected, the context's canvas holds the current pixels
    HDC selectedInto;
};

enum class DcKind { Screen, Window, Memory };

struct Context {
    DcKind kind;
    HWND window;
    std::vector<BYTE> taken; // screen and window contexts: the canvas as it was taken
    HBITMAP bitmap;          // memory contexts: the one selected
    HBITMAP own;             // and the monochrome one it was made with
};

struct Desktop {
    int width = 1024, height = 768, bpp = 32;
    std::vector<COLORREF> pixels = std::vector<COLORREF>(std::size_t(1024) * 768, 0);
    // One series of serial numbers for windows and bitmaps: a window is never taken for a bitmap.
    std::uintptr_t last = 0x100;
    std::unordered_map<HWND, Window> windows;
    std::vector<HWND> order; // uppermost first; topmost windows before the others
    std::unordered_map<HDC, Context> contexts;
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

Context* findContext(HDC dc) {
    auto it = desktop().contexts.find(dc);
    return it == desktop().contexts.end() ? nullptr : &it->second;
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

void send(HWND window, UINT message, WPARAM wParam) {
    if (const Window* w = findWindow(window))
        if (w->proc) w->proc(window, message, wParam, 0);
}

// Puts the window back into the order: at the top of its group, at the bottom, or right after
// another window.
void place(HWND window, Window& w, HWND after) {
    std::vector<HWND>& order = desktop().order;
    order.erase(std::find(order.begin(), order.end(), window));
    if (after == HWND_BOTTOM) {
        w.topmost = false;
        order.push_back(window);
    } else if (const Window* other = findWindow(after)) {
        w.topmost = other->topmost;
        order.insert(std::find(order.begin(), order.end(), after) + 1, window);
    } else if (w.topmost) {
        order.insert(order.begin(), window);
    } else {
        order.insert(
            std::find_if(order.begin(), order.end(), [](HWND h) { return !desktop().windows.at(h).topmost; }),
            window);
    }
}

// A canvas context showing the screen from (left, top) on.
HDC screenContext(DcKind kind, HWND window, int left, int top, int width, int height) {
    HDC dc = CreateCanvasDC(width, height, 0);
    if (!dc) return nullptr;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            SetPixel(dc, x, y, screenAt(left + x, top + y));
    desktop().contexts.emplace(dc, Context{kind, window, dc->rgb, nullptr, nullptr});
    return dc;
}

HBITMAP newBitmap(int width, int height, int bpp) {
    if (width < 1 || height < 1 || (bpp != 1 && bpp != 24 && bpp != 32) || width > 0x7FFF || height > 0x7FFF)
        return nullptr;
    Desktop& d = desktop();
    HBITMAP handle = d.next<HBITMAP>();
    d.bitmaps.emplace(handle,
                      Bitmap{width, height, bpp,
                             std::vector<BYTE>(std::size_t(width) * std::size_t(height) * 3, 0), nullptr});
    return handle;
}

// Takes the current pixels of a selected bitmap back from its context's canvas; a monochrome
// bitmap keeps black as black and makes every other colour white.
void syncFromContext(Bitmap& b) {
    if (!b.selectedInto) return;
    b.rgb = b.selectedInto->rgb;
    if (b.bpp == 1)
        for (std::size_t i = 0; i < b.rgb.size(); i += 3) {
            const BYTE v = (b.rgb[i] | b.rgb[i + 1] | b.rgb[i + 2]) ? 255 : 0;
            b.rgb[i] = b.rgb[i + 1] = b.rgb[i + 2] = v;
        }
}

void deselect(HDC dc, Context& c) {
    if (Bitmap* b = findBitmap(c.bitmap)) {
        syncFromContext(*b);
        b->selectedInto = nullptr;
    }
    c.bitmap = nullptr;
    dc->width = dc->height = 0;
    dc->rgb.clear();
}

} // namespace

// Called by DeleteDC before a context goes: a memory context gives its bitmap back and takes its
// own monochrome one with it.
void forgetDesktopContext(HDC dc) {
    Context* c = findContext(dc);
    if (!c) return;
    if (c->kind == DcKind::Memory) {
        deselect(dc, *c);
        const Bitmap* own = findBitmap(c->own);
        if (own && !own->selectedInto) desktop().bitmaps.erase(c->own);
    }
    desktop().contexts.erase(dc);
}

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
    w.pixels.assign(std::size_t(w.width()) * std::size_t(w.height()), color & 0xFFFFFF);
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

BOOL SetWindowPos(HWND window, HWND insertAfter, int, int, int, int, UINT flags) {
    Window* w = findWindow(window);
    if (!w || (flags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE)) return FALSE;
    if (insertAfter == HWND_TOPMOST) w->topmost = true;
    if (insertAfter == HWND_NOTOPMOST) w->topmost = false;
    place(window, *w, insertAfter);
    send(window, WM_WINDOWPOSCHANGED, 0);
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---------------------------------------------------------------------------------------------
// Device contexts and bitmaps

HDC GetDC(HWND window) {
    const Desktop& d = desktop();
    if (d.width == 0) return nullptr;
    if (!window) return screenContext(DcKind::Screen, nullptr, 0, 0, d.width, d.height);
    const Window* w = findWindow(window);
    return w ? screenContext(DcKind::Window, window, w->rect.left, w->rect.top, w->width(), w->height())
             : nullptr;
}

HDC GetWindowDC(HWND window) {
    return window ? GetDC(window) : nullptr;
}

int ReleaseDC(HWND, HDC dc) {
    const Context* c = findContext(dc);
    if (!c || c->kind == DcKind::Memory) return 0;
    // What was painted reaches the desktop or the window; the rest stays as it is now.
    Desktop& d = desktop();
    Window* w = c->kind == DcKind::Window ? findWindow(c->window) : nullptr;
    for (int y = 0; y < dc->height; ++y)
        for (int x = 0; x < dc->width; ++x) {
            const std::size_t at = (std::size_t(y) * std::size_t(dc->width) + std::size_t(x)) * 3;
            if (std::equal(&dc->rgb[at], &dc->rgb[at] + 3, &c->taken[at])) continue;
            const COLORREF colour = GetPixel(dc, x, y);
            if (c->kind == DcKind::Screen)
                d.pixels[std::size_t(y) * std::size_t(d.width) + std::size_t(x)] = colour;
            else if (w && x < w->width() && y < w->height())
                w->pixels[std::size_t(y) * std::size_t(w->width()) + std::size_t(x)] = colour;
        }
    DeleteDC(dc);
    return 1;
}

HDC CreateCompatibleDC(HDC) {
    HBITMAP mono = newBitmap(1, 1, 1);
    HDC dc = CreateCanvasDC(0, 0, 0);
    if (!dc || !mono) {
        DeleteDC(dc);
        desktop().bitmaps.erase(mono);
        return nullptr;
    }
    desktop().contexts.emplace(dc, Context{DcKind::Memory, nullptr, {}, nullptr, mono});
    SelectObject(dc, mono);
    return dc;
}

int GetDeviceCaps(HDC dc, int index) {
    if (!dc || index != BITSPIXEL) return 0;
    const Context* c = findContext(dc);
    if (!c) return 24;
    if (c->kind != DcKind::Memory) return desktop().bpp;
    const Bitmap* b = findBitmap(c->bitmap);
    return b ? b->bpp : 0;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    Context* c = findContext(dc);
    Bitmap* b = findBitmap(object);
    if (!c || c->kind != DcKind::Memory || !b || (b->selectedInto && b->selectedInto != dc)) return nullptr;
    HBITMAP old = c->bitmap;
    if (old == object) return old;
    deselect(dc, *c);
    c->bitmap = static_cast<HBITMAP>(object);
    b->selectedInto = dc;
    dc->width = b->width;
    dc->height = b->height;
    dc->rgb = b->rgb;
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
    const LONG widthBytes = (b->width * b->bpp + 15) / 16 * 2;
    const BITMAP description{0, b->width, b->height, widthBytes, 1, WORD(b->bpp), nullptr};
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
    if (!handle || !bits) return handle;
    Bitmap& b = *findBitmap(handle);
    const std::size_t stride = (std::size_t(width) * bitsPerPixel + 15) / 16 * 2;
    for (int y = 0; y < height; ++y) {
        const BYTE* row = static_cast<const BYTE*>(bits) + std::size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
            BYTE* p = &b.rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
            if (bitsPerPixel == 1) {
                p[0] = p[1] = p[2] = (row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
            } else {
                const BYTE* q = row + std::size_t(x) * (bitsPerPixel / 8);
                p[0] = q[2];
                p[1] = q[1];
                p[2] = q[0];
            }
        }
    }
    return handle;
}

BOOL BitBlt(HDC dest, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop) {
    if (!dest || !src || rop != SRCCOPY) return FALSE;
    for (int j = 0; j < cy; ++j)
        for (int i = 0; i < cx; ++i) {
            const COLORREF c = GetPixel(src, x1 + i, y1 + j);
            SetPixel(dest, x + i, y + j, c == CLR_INVALID ? 0 : c);
        }
    return TRUE;
}

int GetDIBits(HDC dc, HBITMAP bitmap, UINT first, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage) {
    Bitmap* b = findBitmap(bitmap);
    if (!dc || !b || !info || usage != DIB_RGB_COLORS || (b->bpp != 24 && b->bpp != 32)) return 0;
    BITMAPINFOHEADER& h = info->bmiHeader;
    const std::size_t stride = (std::size_t(b->width) * (bits ? h.biBitCount : b->bpp) + 31) / 32 * 4;
    if (!bits) {
        h = BITMAPINFOHEADER{};
        h.biSize = sizeof h;
        h.biWidth = b->width;
        h.biHeight = b->height;
        h.biPlanes = 1;
        h.biBitCount = WORD(b->bpp);
        h.biSizeImage = DWORD(stride * std::size_t(b->height));
        return b->height;
    }
    const long long height = h.biHeight < 0 ? -static_cast<long long>(h.biHeight) : h.biHeight;
    if (h.biWidth != b->width || height != b->height || (h.biBitCount != 24 && h.biBitCount != 32) ||
        h.biCompression != BI_RGB)
        return 0;
    syncFromContext(*b);
    const std::size_t bytesPerPixel = h.biBitCount / 8;
    int copied = 0;
    for (UINT k = first; k < first + lines && k < UINT(b->height); ++k, ++copied) {
        const int row = h.biHeight > 0 ? b->height - 1 - int(k) : int(k); // bitmap rows are top first
        BYTE* out = static_cast<BYTE*>(bits) + std::size_t(k - first) * stride;
        for (int x = 0; x < b->width; ++x) {
            const BYTE* p = &b->rgb[(std::size_t(row) * std::size_t(b->width) + std::size_t(x)) * 3];
            BYTE* q = out + std::size_t(x) * bytesPerPixel;
            q[0] = p[2];
            q[1] = p[1];
            q[2] = p[0];
            if (bytesPerPixel == 4) q[3] = 0;
        }
    }
    h.biSizeImage = DWORD(stride * std::size_t(b->height));
    return copied;
}
