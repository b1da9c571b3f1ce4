// The window-system stand-in: nearest-colour stretching into a canvas, and MulDiv.
#include <KestroImage.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

namespace {

using Dib = std::unique_ptr<FIBITMAP, decltype(&FreeImage_Unload)>;

// Palette entry i is the colour (10 * i + 10, 0, 0), drawn as the letter 'a' + i.
COLORREF letterColour(char c) { return RGB(10 * (c - 'a') + 10, 0, 0); }

// A 3 x 2 8-bit bitmap showing "abc" over "def" (FreeImage keeps it bottom-up).
Dib letters() {
    Dib dib(FreeImage_Allocate(3, 2, 8), &FreeImage_Unload);
    RGBQUAD* palette = FreeImage_GetPalette(dib.get());
    for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{0, 0, static_cast<BYTE>(10 * i + 10), 0};
    const char* rows[] = {"abc", "def"};
    for (unsigned y = 0; y < 2; ++y)
        for (unsigned x = 0; x < 3; ++x) {
            BYTE index = static_cast<BYTE>(rows[y][x] - 'a');
            FreeImage_SetPixelIndex(dib.get(), x, 1 - y, &index);
        }
    return dib;
}

// The canvas as rows of letters, '.' for the white background and '?' for anything else.
std::string picture(CDC& dc) {
    std::string out;
    const CSize size = dc.GetCanvasSize();
    for (int y = 0; y < size.cy; ++y) {
        if (y) out += '/';
        for (int x = 0; x < size.cx; ++x) {
            const COLORREF c = dc.GetPixel(x, y);
            char letter = c == RGB(255, 255, 255) ? '.' : '?';
            for (char l = 'a'; l <= 'f'; ++l)
                if (c == letterColour(l)) letter = l;
            out += letter;
        }
    }
    return out;
}

} // namespace

TEST(StretchDIBits, PlacesScalesMirrorsAndClipsNearestPixels) {
    struct Case {
        int x, y, w, h, sx, sy, sw, sh;
        bool topDown;
        int result;
        const char* expected;
    } cases[] = {
        {1, 1, 3, 2, 0, 0, 3, 2, false, 2, "...../.abc./.def."},
        {4, 0, -3, 2, 0, 0, 3, 2, false, 2, ".cba./.fed./....."},   // mirrored across
        {0, 2, 3, -2, 0, 0, 3, 2, false, 2, "def../abc../....."},   // mirrored upside down
        {0, 0, 5, 3, 0, 0, 3, 2, false, 2, "aabcc/ddeff/ddeff"},    // enlarged, centre sampling
        {0, 0, 2, 1, 0, 0, 3, 2, false, 2, "df.../...../....."},    // reduced
        {-2, -1, 3, 2, 0, 0, 3, 2, false, 2, "f..../...../....."},  // clipped at the canvas
        {3, 2, 3, 2, 0, 0, 3, 2, false, 2, "...../...../...ab"},
        {0, 0, 2, 1, 1, 0, 2, 1, false, 1, "ef.../...../....."},    // bottom-up source origin
        {0, 0, 3, 2, 0, 0, 3, 2, true, 2, "def../abc../....."},     // the same bytes top-down
        {0, 0, 0, 2, 0, 0, 3, 2, false, 0, "...../...../....."},
        {0, 0, 3, 2, 0, 0, 3, 0, false, 0, "...../...../....."},
        {0, 0, 5, 3, -1, 0, 3, 2, false, 2, "..abb/..dee/..dee"},   // samples outside the bitmap skipped
    };
    Dib dib = letters();
    for (const Case& c : cases) {
        CDC dc;
        ASSERT_TRUE(dc.CreateCanvas(5, 3));
        std::unique_ptr<BYTE[]> block(new BYTE[sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD)]);
        std::memcpy(block.get(), FreeImage_GetInfo(dib.get()), sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
        auto* header = reinterpret_cast<BITMAPINFO*>(block.get());
        if (c.topDown) header->bmiHeader.biHeight = -header->bmiHeader.biHeight;
        EXPECT_EQ(StretchDIBits(dc, c.x, c.y, c.w, c.h, c.sx, c.sy, c.sw, c.sh, FreeImage_GetBits(dib.get()), header,
                                DIB_RGB_COLORS, SRCCOPY),
                  c.result);
        EXPECT_EQ(picture(dc), c.expected) << c.x << "," << c.y << " " << c.w << "x" << c.h;
    }
}

TEST(StretchDIBits, ReadsEveryDepthAndRefusesWhatItCannotDraw) {
    const RGBQUAD first{30, 20, 10, 0}, second{60, 50, 40, 0};
    for (unsigned bpp : {1u, 4u, 8u, 24u, 32u}) {
        Dib dib(FreeImage_Allocate(2, 1, static_cast<int>(bpp)), &FreeImage_Unload);
        if (bpp <= 8) {
            RGBQUAD* palette = FreeImage_GetPalette(dib.get());
            palette[0] = first;
            palette[1] = second;
            BYTE zero = 0, one = 1;
            FreeImage_SetPixelIndex(dib.get(), 0, 0, &one);
            FreeImage_SetPixelIndex(dib.get(), 1, 0, &zero);
        } else {
            RGBQUAD a = second, b = first;
            FreeImage_SetPixelColor(dib.get(), 0, 0, &a);
            FreeImage_SetPixelColor(dib.get(), 1, 0, &b);
        }
        CDC dc;
        dc.CreateCanvas(2, 1);
        EXPECT_EQ(StretchDIBits(dc, 0, 0, 2, 1, 0, 0, 2, 1, FreeImage_GetBits(dib.get()), FreeImage_GetInfo(dib.get()),
                                DIB_RGB_COLORS, SRCCOPY),
                  1);
        EXPECT_EQ(dc.GetPixel(0, 0), RGB(40, 50, 60)) << bpp;
        EXPECT_EQ(dc.GetPixel(1, 0), RGB(10, 20, 30)) << bpp;
        // Palette indices of the context, other raster operations and a null context draw nothing.
        const int refused = StretchDIBits(dc, 0, 0, 2, 1, 0, 0, 2, 1, FreeImage_GetBits(dib.get()),
                                          FreeImage_GetInfo(dib.get()), DIB_RGB_COLORS, 0x00EE0086UL) +
                            StretchDIBits(nullptr, 0, 0, 2, 1, 0, 0, 2, 1, FreeImage_GetBits(dib.get()),
                                          FreeImage_GetInfo(dib.get()), DIB_RGB_COLORS, SRCCOPY);
        EXPECT_EQ(refused, 0);
    }
    Dib grey(FreeImage_Allocate(1, 1, 8), &FreeImage_Unload);
    CDC dc;
    dc.CreateCanvas(1, 1);
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 1, 1, 0, 0, 1, 1, FreeImage_GetBits(grey.get()), FreeImage_GetInfo(grey.get()),
                            DIB_PAL_COLORS, SRCCOPY),
              0);
}

TEST(StretchDIBits, StretchModeIsKeptPerContext) {
    CDC dc;
    dc.CreateCanvas(1, 1);
    EXPECT_EQ(dc.SetStretchBltMode(COLORONCOLOR), BLACKONWHITE);
    EXPECT_EQ(dc.SetStretchBltMode(99), 0);
    EXPECT_EQ(dc.GetStretchBltMode(), COLORONCOLOR);
}

TEST(CDC, SavesItsCanvasAsPngAndKeepsAnOldFileWhenItCannot) {
    const std::string path = std::string(KESTRO_TEST_TMP) + "/canvas.png";
    CDC dc;
    ASSERT_TRUE(dc.CreateCanvas(3, 2, RGB(1, 2, 3)));
    dc.SetPixel(2, 0, RGB(200, 100, 50));
    ASSERT_TRUE(dc.SaveCanvas(CString::FromUtf8(path)));
    Dib back(FreeImage_Load(FIF_PNG, path.c_str(), 0), &FreeImage_Unload);
    ASSERT_TRUE(back);
    RGBQUAD corner, other;
    FreeImage_GetPixelColor(back.get(), 2, 1, &corner); // top right: scan lines are bottom-up
    FreeImage_GetPixelColor(back.get(), 0, 0, &other);
    EXPECT_EQ(RGB(corner.rgbRed, corner.rgbGreen, corner.rgbBlue), RGB(200, 100, 50));
    EXPECT_EQ(RGB(other.rgbRed, other.rgbGreen, other.rgbBlue), RGB(1, 2, 3));

    CDC empty;
    EXPECT_FALSE(empty.SaveCanvas(CString::FromUtf8(path)));
    EXPECT_FALSE(dc.SaveCanvas(CString::FromUtf8(std::string(KESTRO_TEST_TMP) + "/no-such-dir/canvas.png")));
    EXPECT_EQ(FreeImage_GetFileType(path.c_str(), 0), FIF_PNG);
}

TEST(MulDiv, RoundsHalvesAwayFromZeroWithA64BitProduct) {
    struct {
        int a, b, c, expected;
    } cases[] = {{1001, 256, 65536, 4}, {1, 1, 2, 1},          {-1, 1, 2, -1},       {3, 1, 2, 2},
                 {-3, 1, 2, -2},        {7, 3, -2, -11},       {65536, 256, 65536, 256}, {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
                 {5, 1, 0, -1},         {INT_MAX, 2, 1, -1}};
    for (const auto& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
}
