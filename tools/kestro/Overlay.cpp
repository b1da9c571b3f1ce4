#include "Overlay.h"
#include "Support.h"

#include <algorithm>

namespace kestro {

namespace {

// Digits 0-9 in a 3 x 5 font, one row of three bits per number, top row first.
constexpr unsigned char kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

} // namespace

Overlay::Overlay(DalvoImage& image, const gel::GreyImage& g, int saturation) : m_width(g.width), m_height(g.height)
{
    if (!m_dc.CreateCanvas(g.width, g.height, RGB(0, 0, 0)))
        throw ToolError("no memory for a canvas of " + std::to_string(g.width) + "x" + std::to_string(g.height));
    // The display bitmap is rebuilt from the image as it is now, whatever was drawn before.
    image.setModified(TRUE);
    const CRect whole(0, 0, g.width, g.height);
    image.draw(&m_dc, &whole);
    const COLORREF red = RGB(255, 0, 0);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            if (g.pixels[static_cast<size_t>(y) * g.width + x] == saturation)
                set(x, y, red);
}

void Overlay::hline(int x0, int x1, int y, COLORREF c)
{
    for (int x = x0; x <= x1; ++x)
        set(x, y, c);
}

void Overlay::vline(int x, int y0, int y1, COLORREF c, int dash)
{
    for (int y = y0; y <= y1; ++y)
        if (dash == 0 || (y / dash) % 2 == 0)
            set(x, y, c);
}

void Overlay::rect(int x0, int y0, int x1, int y1, COLORREF c)
{
    hline(x0, x1, y0, c);
    hline(x0, x1, y1, c);
    vline(x0, y0, y1, c);
    vline(x1, y0, y1, c);
}

void Overlay::number(int value, int x, int y, int scale, COLORREF c)
{
    const std::string s = std::to_string(value);
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            continue;
        for (int r = 0; r < 5; ++r)
            for (int b = 0; b < 3; ++b)
                if (kDigits[s[i] - '0'][r] & (4 >> b))
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx)
                            set(x + (static_cast<int>(i) * 4 + b) * scale + dx, y + r * scale + dy, c);
    }
}

int Overlay::markScale() const
{
    return std::max(1, std::min(m_width, m_height) / 300);
}

void Overlay::save(const std::string& path)
{
    if (!m_dc.SaveCanvas(CString::FromUtf8(path)))
        throw ToolError(path + ": cannot write the annotated picture");
}

} // namespace kestro
