#include "Overlay.h"
#include "Support.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace kestro {

namespace {

// Digits 0-9 in a 3 x 5 font, one row of three bits per number, top row first.
constexpr unsigned char kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7},
                                          {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2},
                                          {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

// A 16-bit image of the grey values spread linearly over 0..65535, set to percentile auto
// contrast. The display draws 16-bit images stretched from their smallest to their largest value
// while the auto-contrast limits are on the scale of the full depth; spread over the full depth
// the two scales agree, and the histogram has enough bins for 8-bit gels as well.
std::unique_ptr<DalvoImage> stretchedImage(const gel::GreyImage& g) {
    const auto [lo, hi] = std::minmax_element(g.pixels.begin(), g.pixels.end());
    const long long low = lo == g.pixels.end() ? 0 : *lo, span = lo == g.pixels.end() ? 0 : *hi - low;
    RasterImageGS16 spread(g.width, g.height);
    spread.bpp = 16;
    spread.maxPixelValue = 65535;
    for (size_t i = 0; i < g.pixels.size(); ++i)
        spread.pixels[i] = span > 0 ? static_cast<int>((g.pixels[i] - low) * 65535 / span) : 0;
    std::unique_ptr<DalvoImage> image(spread.convert2DalvoImage());
    if (!image || !image->isValid())
        throw ToolError("no memory for a picture of " + std::to_string(g.width) + "x" +
                        std::to_string(g.height));
    // A flat image has no contrast to stretch (the ramp between equal limits is black).
    if (span > 0) image->setPalette(PaletteAutoContrast);
    image->setModified(TRUE);
    return image;
}

} // namespace

Overlay::Overlay(const gel::GreyImage& g, int saturation) : m_width(g.width), m_height(g.height) {
    if (!m_dc.CreateCanvas(g.width, g.height, RGB(0, 0, 0)))
        throw ToolError("no memory for a canvas of " + std::to_string(g.width) + "x" +
                        std::to_string(g.height));
    const CRect whole(0, 0, g.width, g.height);
    stretchedImage(g)->draw(&m_dc, &whole);
    const COLORREF red = RGB(255, 0, 0);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            if (g.pixels[static_cast<size_t>(y) * g.width + x] == saturation) set(x, y, red);
}

void Overlay::hline(int x0, int x1, int y, COLORREF c) {
    for (int x = x0; x <= x1; ++x)
        set(x, y, c);
}

void Overlay::vline(int x, int y0, int y1, COLORREF c, int dash) {
    for (int y = y0; y <= y1; ++y)
        if (dash == 0 || (y / dash) % 2 == 0) set(x, y, c);
}

void Overlay::rect(int x0, int y0, int x1, int y1, COLORREF c) {
    hline(x0, x1, y0, c);
    hline(x0, x1, y1, c);
    vline(x0, y0, y1, c);
    vline(x1, y0, y1, c);
}

void Overlay::line(int x0, int y0, int x1, int y1, COLORREF c) {
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0), sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    for (int err = dx + dy;;) {
        set(x0, y0, c);
        if (x0 == x1 && y0 == y1) return;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void Overlay::number(int value, int x, int y, int scale, COLORREF c) {
    const std::string s = std::to_string(value);
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') continue;
        for (int r = 0; r < 5; ++r)
            for (int b = 0; b < 3; ++b)
                if (kDigits[s[i] - '0'][r] & (4 >> b))
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx)
                            set(x + (static_cast<int>(i) * 4 + b) * scale + dx, y + r * scale + dy, c);
    }
}

int Overlay::markScale() const {
    return std::max(1, std::min(m_width, m_height) / 300);
}

void Overlay::save(const std::string& path) {
    if (!m_dc.SaveCanvas(CString::FromUtf8(path)))
        throw ToolError(path + ": cannot write the annotated picture");
}

} // namespace kestro
