// Annotated pictures of a gel: the gel as the library draws it, with marks of single pixels over it.
#pragma once

#include <KestroImage.h>

#include <string>

namespace kestro {

/// A canvas holding the grey values that were measured, drawn by the library's drawing path with
/// percentile auto contrast (the 0.1 % and 99.9 % points of their histogram stretched to black
/// and white), with the pixels at `saturation` painted red, and simple marks drawn on top.
/// Raises ToolError when no canvas can be made.
class Overlay {
public:
    Overlay(const gel::GreyImage& grey, int saturation);

    void set(int x, int y, COLORREF c) { m_dc.SetPixel(x, y, c); }
    void hline(int x0, int x1, int y, COLORREF c);
    void vline(int x, int y0, int y1, COLORREF c, int dash = 0);
    void rect(int x0, int y0, int x1, int y1, COLORREF c);
    /// A straight line between two points, both included.
    void line(int x0, int y0, int x1, int y1, COLORREF c);
    /// A number in a 3 x 5 pixel font, each font pixel `scale` pixels wide.
    void number(int value, int x, int y, int scale, COLORREF c);
    /// A scale for marks that stays readable on large gels: 1 up to 600 pixels, then growing.
    int markScale() const;

    /// Writes the picture as PNG, replacing the file only once it is complete; raises ToolError.
    void save(const std::string& path);

private:
    CDC m_dc;
    int m_width, m_height;
};

} // namespace kestro
