// The display settings of the image object as history entries, and drawing in framework terms.
#include "image/DalvoImage.h"

void DalvoImage::setImageAdjustmentValues(double brightness, double contrast, double gamma) {
    CString entry;
    entry.Format(L"adjustDisplayValue: Brightness %0.2f,Contrast %0.2f,Gamma %0.2f", brightness, contrast, gamma);
    AddPreprocessStr(entry);
    fipWinImage::setImageAdjustmentValues(brightness, contrast, gamma);
}

void DalvoImage::setPalette(enPalette type) {
    static const wchar_t* const entries[] = {
        L"setting palette to normal",          L"setting palette to show saturated pixel",
        L"setting palette to Shades of Green", L"setting palette to Shades of Red",
        L"setting palette to Shades of Blue",  L"setting palette to auto contrast"};
    paletteType = type;
    if (type < PaletteNormal || type > PaletteAutoContrast) return;
    if (type == PaletteAutoContrast) calcuateAutoContrastLimitsUsingHistogram();
    AddPreprocessStr(entries[type]);
}

void DalvoImage::draw(CDC* dc, const CRect* destination) {
    RECT rect = destination ? static_cast<RECT>(*destination) : RECT{0, 0, 0, 0};
    drawEx(dc ? dc->GetSafeHdc() : nullptr, rect, FALSE, nullptr, nullptr);
}
