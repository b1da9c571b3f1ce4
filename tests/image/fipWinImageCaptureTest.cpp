// Window captures on the stand-in screen: clipping, the application window, a failed pixel read.
#include "DibBlocks.h"

#include "image/DalvoImage.h"
#include "platform/winsys/DeviceContext.h"
#include "platform/winsys/Screen.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace dibtest;

namespace {

std::vector<std::tuple<HWND, UINT, WPARAM>> sent;
LRESULT record(HWND window, UINT message, WPARAM wParam, LPARAM) {
    sent.emplace_back(window, message, wParam);
    return 0;
}

COLORREF colourAt(int x, int y) {
    return RGB(BYTE(x * 3), BYTE(y * 5), 77);
}

HWND paintedWindow(const RECT& rect) {
    HWND window = CreateScreenWindow(rect, 0, record);
    HDC dc = GetWindowDC(window);
    for (int y = 0; y < rect.bottom - rect.top; ++y)
        for (int x = 0; x < rect.right - rect.left; ++x)
            SetPixel(dc, x, y, colourAt(x, y));
    ReleaseDC(window, dc);
    return window;
}

std::vector<std::string> messages;

} // namespace

TEST(WindowCapture, ClippedToTheScreenWhileTheApplicationIsHidden) {
    // The window, the screen's depth, and the part of the window captured: no width, nothing on the screen.
    const std::tuple<RECT, int, int, int, int, int> cases[] = {
        {{-5, -3, 20, 10}, 32, 5, 3, 20, 10}, // over the left and top edges
        {{50, 40, 80, 60}, 24, 0, 0, 14, 8},  // over the right and bottom edges
        {{64, 0, 80, 10}, 32, 0, 0, 0, 0},    {{0, 48, 10, 60}, 32, 0, 0, 0, 0},
        {{-20, 0, 0, 10}, 32, 0, 0, 0, 0},    {{0, -10, 10, 0}, 32, 0, 0, 0, 0},
    };
    for (const auto& [window, screenBits, left, top, width, height] : cases) {
        ASSERT_TRUE(SetScreen(64, 48, screenBits));
        HWND captured = paintedWindow(window);
        HWND application = CreateScreenWindow({0, 0, 64, 48}, 0, record);
        sent.clear();
        DalvoImage image;
        paint(image, depth("8"));
        const Bytes before = blockOf(image);
        EXPECT_EQ(!!image.captureWindow(application, captured), width > 0);
        if (width) {
            EXPECT_EQ(image.getBitsPerPixel(), 24u);
            EXPECT_EQ(image.getWidth(), unsigned(width));
            EXPECT_EQ(image.getHeight(), unsigned(height));
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    RGBQUAD q{}; // scan lines run bottom-up
                    image.getPixelColor(x, height - 1 - y, &q);
                    ASSERT_EQ(RGB(q.rgbRed, q.rgbGreen, q.rgbBlue), colourAt(left + x, top + y))
                        << x << "," << y;
                }
            // Hidden, shown again and put above the captured window, which is topmost no more.
            const decltype(sent) expected = {{application, WM_SHOWWINDOW, FALSE},
                                             {captured, WM_WINDOWPOSCHANGED, 0},
                                             {application, WM_SHOWWINDOW, TRUE},
                                             {captured, WM_WINDOWPOSCHANGED, 0},
                                             {application, WM_WINDOWPOSCHANGED, 0}};
            EXPECT_EQ(sent, expected);
        } else {
            EXPECT_TRUE(sent.empty());
            EXPECT_EQ(blockOf(image), before);
            EXPECT_FALSE(image.captureWindow(application, nullptr));
        }
        DestroyWindow(captured);
        DestroyWindow(application);
    }
}

TEST(DeviceBitmap, ReportedWhenThePixelsCannotBeRead) {
    // Reading a bitmap upright is checked through the captures above.
    const Bytes bits(20, 0xAB); // two rows of 9 bytes, padded to 2
    HBITMAP bitmap = CreateBitmap(3, 2, 1, 24, bits.data());
    fipWinImage image;
    // Without a display nothing reads the pixels: the new bitmap stays, unfilled.
    FreeImage_SetOutputMessage(
        [](FREE_IMAGE_FORMAT f, const char* text) { messages.push_back(std::to_string(f) + " " + text); });
    ASSERT_TRUE(SetScreen(0, 0, 0));
    paint(image, depth("8"));
    EXPECT_FALSE(image.copyFromBitmap(bitmap));
    EXPECT_EQ(messages, std::vector<std::string>{std::to_string(FIF_UNKNOWN) + " Error : GetDIBits failed"});
    EXPECT_EQ(image.getBitsPerPixel(), 24u);
    EXPECT_EQ(Bytes(image.getScanLine(1), image.getScanLine(1) + 9), Bytes(9, 0));
    const Bytes unfilled = blockOf(image);
    EXPECT_FALSE(image.copyFromBitmap(nullptr));
    EXPECT_EQ(blockOf(image), unfilled);
    FreeImage_SetOutputMessage(nullptr);
    SetScreen(1024, 768, 32);
    EXPECT_TRUE(DeleteObject(bitmap));
}
