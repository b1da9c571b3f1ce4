// The window-system stand-in: nearest-colour stretching into a canvas, saving it, and MulDiv.
#include <KestroImage.h>
#include <gtest/gtest.h>

#include "TestTables.h"

#include <climits>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

namespace {

using Dib = std::unique_ptr<FIBITMAP, decltype(&FreeImage_Unload)>;

// A bitmap header with its colour table, laid out as BITMAPINFO is.
struct Info {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

// A 3 x 2 8-bit bitmap showing "abc" over "def"; palette entry i is (10 i + 10, 0, 0).
Dib letters(Info& info) {
    Dib dib(FreeImage_Allocate(3, 2, 8), &FreeImage_Unload);
    for (int i = 0; i < 256; ++i)
        FreeImage_GetPalette(dib.get())[i] = RGBQUAD{0, 0, BYTE(10 * i + 10), 0};
    for (unsigned i = 0; i < 6; ++i)
        FreeImage_GetScanLine(dib.get(), i < 3)[i % 3] = BYTE(i); // bottom-up
    info = *reinterpret_cast<const Info*>(FreeImage_GetInfo(dib.get()));
    return dib;
}

// The canvas as rows of letters: '.' for the white background.
std::string picture(CDC& dc) {
    std::string out;
    for (int y = 0; y < dc.GetCanvasSize().cy; ++y)
        for (int x = 0; x < dc.GetCanvasSize().cx; ++x) {
            const COLORREF c = dc.GetPixel(x, y);
            out += (x == 0 && y) ? "/" : "";
            out += c == RGB(255, 255, 255) ? '.' : char('a' + (GetRValue(c) - 10) / 10);
        }
    return out;
}

} // namespace

TEST(StretchDIBits, DrawsNearestPixelsAsItsTableSays) {
    Info info;
    Dib dib = letters(info);
    const std::vector<std::string> rows = TableRows("winsys/data/stretch-dibits.txt");
    for (const std::string& row : rows) {
        std::istringstream fields(row);
        int x, y, w, h, sx, sy, sw, sh, lines;
        std::string order, bar, canvas;
        fields >> x >> y >> w >> h >> sx >> sy >> sw >> sh >> order >> bar >> lines >> bar >> canvas;
        CDC dc;
        ASSERT_TRUE(dc.CreateCanvas(5, 3));
        info.header.biHeight = order == "top" ? -2 : 2;
        EXPECT_EQ(StretchDIBits(dc, x, y, w, h, sx, sy, sw, sh, FreeImage_GetBits(dib.get()),
                                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY),
                  lines)
            << row;
        EXPECT_EQ(picture(dc), canvas) << row;
    }
    EXPECT_EQ(rows.size(), 12u);
}

TEST(StretchDIBits, ReadsEveryDepth) {
    RGBQUAD colours[2] = {{30, 20, 10, 0}, {60, 50, 40, 0}};
    for (int bpp : {1, 4, 8, 24, 32}) {
        Dib dib(FreeImage_Allocate(2, 1, bpp), &FreeImage_Unload);
        for (unsigned x = 0; x < 2; ++x) {
            BYTE index = BYTE(1 - x);
            if (bpp <= 8) FreeImage_GetPalette(dib.get())[x] = colours[x];
            (bpp <= 8) ? FreeImage_SetPixelIndex(dib.get(), x, 0, &index)
                       : FreeImage_SetPixelColor(dib.get(), x, 0, &colours[1 - x]);
        }
        CDC dc;
        dc.CreateCanvas(2, 1);
        EXPECT_EQ(StretchDIBits(dc, 0, 0, 2, 1, 0, 0, 2, 1, FreeImage_GetBits(dib.get()),
                                FreeImage_GetInfo(dib.get()), DIB_RGB_COLORS, SRCCOPY),
                  1);
        EXPECT_EQ(dc.GetPixel(0, 0), RGB(40, 50, 60)) << bpp;
        EXPECT_EQ(dc.GetPixel(1, 0), RGB(10, 20, 30)) << bpp;
    }
}

// What a saved canvas shows is checked through the tools that render into one.
TEST(CDC, KeepsAnOldFileWhenItCannotSave) {
    const std::string path = std::string(KESTRO_TEST_TMP) + "/canvas.png";
    CDC dc, empty;
    ASSERT_TRUE(dc.CreateCanvas(3, 2, RGB(1, 2, 3)));
    ASSERT_TRUE(dc.SaveCanvas(CString::FromUtf8(path)));
    const auto bytes = [&] {
        return std::string(std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {});
    };
    const std::string saved = bytes();
    EXPECT_FALSE(empty.SaveCanvas(CString::FromUtf8(path)));
    EXPECT_EQ(bytes(), saved);
    EXPECT_FALSE(dc.SaveCanvas(CString::FromUtf8(std::string(KESTRO_TEST_TMP) + "/no-such-dir/canvas.png")));
}

TEST(MulDiv, RoundsHalvesAwayFromZeroWithA64BitProduct) {
    const int cases[][4] = {{1001, 256, 65536, 4}, {1, 1, 2, 1},       {-1, 1, 2, -1},
                            {-3, 1, 2, -2},        {7, 3, -2, -11},    {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
                            {5, 1, 0, -1},         {INT_MAX, 2, 1, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(MulDiv(c[0], c[1], c[2]), c[3]) << c[0] << "*" << c[1] << "/" << c[2];
}
