// A program that uses the installed library only through its umbrella header.
#include <KestroImage.h>

#include <cstdio>

int main() {
    CString name(L"consumer");
    CArray<int, int> values;
    values.Add(3);
    values.Add(4);
    if (values.GetSize() != 2 || name.GetLength() != 8) return 1;
    if (!CRuntimeClass::FromName("CObject") && CRuntimeClass::GetRegisteredCount() < 0) return 2;
    // Draw a 16-bit image into a canvas in shades of green and save what it shows.
    DalvoImage image(FIT_UINT16, 2, 1, 16);
    reinterpret_cast<WORD*>(image.getScanLine(0))[1] = 65535;
    image.setPalette(PaletteShadesOfGreen);
    CDC dc;
    const CRect rect(0, 0, 4, 2);
    if (!dc.CreateCanvas(4, 2)) return 3;
    image.draw(&dc, &rect);
    if (dc.GetPixel(3, 1) != RGB(0, 255, 0) || dc.GetPixel(0, 0) != RGB(0, 0, 0)) return 4;
    if (!dc.SaveCanvas(L"consumer-canvas.png")) return 5;
    std::printf("consumer ok\n");
    return 0;
}
