// Memory DIBs and the clipboard: bytes spelled by hand, round trips of every depth, hostile blocks.
#include "DibBlocks.h"

#include "image/DalvoImage.h"
#include "framework/ArchiveTestSupport.h"
#include "platform/framework/Window.h"
#include "platform/winsys/Clipboard.h"
#include "platform/winsys/Screen.h"

#include <gtest/gtest.h>

using namespace dibtest;

namespace {

void clearClipboard() {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
}

} // namespace

// Two rows of 16-bit then 8-bit pixels, bottom row first, and the blocks they give spelled by hand.
TEST(MemoryDib, LayoutByHand) {
    fipWinImage sixteen(FIT_UINT16, 3, 2, 16), eight(FIT_BITMAP, 2, 2, 8);
    const WORD words[2][3] = {{0x0102, 0x0304, 0x0506}, {0xA0B0, 0xC0D0, 0xFFFF}};
    const BYTE bytes[2][2] = {{7, 9}, {200, 1}};
    for (unsigned y = 0; y < 2; ++y) {
        std::memcpy(sixteen.getScanLine(y), words[y], sizeof words[y]);
        std::memcpy(eight.getScanLine(y), bytes[y], 2);
    }
    EXPECT_EQ(blockOf(sixteen),
              Hx("28000000 03000000 02000000 0100 1000 01010000 00000000 130B0000 130B0000 00000000"
                 "00000000 0201040306050000 B0A0D0C0FFFF0000"));
    Bytes expected =
        Hx("28000000 02000000 02000000 0100 0800 00000000 00000000 130B0000 130B0000 00010000 00010000");
    for (unsigned i = 0; i < 256; ++i)
        expected.insert(expected.end(), {BYTE(i), BYTE(i), BYTE(i), 0});
    EXPECT_EQ(blockOf(eight), expected + Hx("07090000 C8010000"));
}

TEST(MemoryDib, EveryDepthRoundTrips) {
    EXPECT_EQ(fipWinImage().copyToHandle(), nullptr);
    for (const Depth& d : depths()) {
        SCOPED_TRACE(d.name);
        const Bytes block = blockOfDepth(d);
        DalvoImage copy;
        // A 16-bit RGB block says BI_BITFIELDS but holds no masks, which would take its first pixels.
        if (d.type == FIT_BITMAP && d.bpp == 16) {
            EXPECT_EQ(block.size(), 40u + 3 * 12); // header, then 3 rows of 10 bytes padded to 12
            EXPECT_FALSE(readBlock(copy, block));
            continue;
        }
        ASSERT_TRUE(readBlock(copy, block)); // an empty block is refused
        EXPECT_EQ(copy.getImageType(), d.type);
        EXPECT_EQ(blockOf(copy), block);
    }
}

TEST(MemoryDib, HostileBlocks) {
    const std::vector<Hostile> blocks = hostileBlocks();
    ASSERT_EQ(blocks.size(), 35u) << "the table image/data/dib-blocks.txt";
    for (const Hostile& h : blocks) {
        SCOPED_TRACE(h.name);
        fipWinImage image;
        paint(image, depth("4"), 2, 2);
        const Bytes before = blockOf(image);
        image.setModified(FALSE);
        EXPECT_EQ(readBlock(image, h.block), !h.expected.empty());
        EXPECT_EQ(blockOf(image), h.expected.empty() ? before : h.expected);
        EXPECT_EQ(image.isModified(), !h.expected.empty());
    }
}

TEST(MemoryDib, TruncatedBlocksOrUnknownHandlesAreRefused) {
    fipWinImage image;
    for (const Depth& d : depths()) {
        const Bytes block = blockOfDepth(d);
        for (std::size_t n = 0; n < block.size(); ++n)
            ASSERT_FALSE(readBlock(image, Bytes(block.begin(), block.begin() + n))) << d.name << " " << n;
    }
    HGLOBAL freed = GlobalAlloc(GHND, 2000);
    GlobalFree(freed);
    for (HANDLE h : {HANDLE(nullptr), HANDLE(freed), reinterpret_cast<HANDLE>(&image)})
        EXPECT_FALSE(image.copyFromHandle(h));
    EXPECT_FALSE(image.isValid());
}

TEST(Clipboard, CopyThenPasteRestoresTheImage) {
    DalvoImage source, target;
    paint(source, depth("UINT16"), 7, 4);
    paint(target, depth("24"));
    CWnd owner(CreateScreenWindow({0, 0, 1, 1}, 0));
    ASSERT_TRUE(source.CopyToClipboard(&owner));
    EXPECT_EQ(GetClipboardOwner(), owner.GetSafeHwnd());
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE placed = GetClipboardData(CF_DIB);
    CloseClipboard();
    EXPECT_TRUE(target.pasteFromClipboard());
    EXPECT_EQ(blockOf(target), blockOf(source));
    // The clipboard owns the block and frees it when something takes its place.
    ASSERT_TRUE(target.copyToClipboard(nullptr));
    EXPECT_EQ(GlobalSize(placed), 0u);
    clearClipboard();
    DestroyWindow(owner.GetSafeHwnd());
}

TEST(Clipboard, NothingToPasteOrClipboardBusyKeepsTheImage) {
    fipWinImage image;
    paint(image, depth("8"));
    const Bytes before = blockOf(image);
    clearClipboard();
    EXPECT_FALSE(image.pasteFromClipboard());
    EXPECT_TRUE(fipWinImage().copyToClipboard(nullptr)); // succeeds, placing nothing
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_DIB));

    ASSERT_TRUE(image.copyToClipboard(nullptr));
    HWND other = reinterpret_cast<HWND>(&image);
    ASSERT_TRUE(OpenClipboard(other));
    EXPECT_TRUE(image.copyToClipboard(nullptr)); // busy: the block is freed, and still success
    EXPECT_FALSE(image.pasteFromClipboard());
    EXPECT_EQ(blockOf(image), before);
    CloseClipboard();
    clearClipboard();
}
