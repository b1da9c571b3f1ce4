// Untrusted files: a header that claims a huge image is refused before its pixels are allocated; a
// load that decodes with damage says so, and the decoders' words reach the caller's handler only.
#include "ImageTestKit.h"
#include "image/Messages.h"
#include "support/DamagedFiles.h"

#include <sys/wait.h>

using namespace imagetest;

namespace {

using Bytes = std::vector<BYTE>;

void le16(Bytes& b, unsigned v) { b.insert(b.end(), {BYTE(v), BYTE(v >> 8)}); }
void le32(Bytes& b, unsigned v) { b.insert(b.end(), {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}); }

Bytes tiffClaiming(unsigned side) {
    Bytes b = {'I', 'I', 42, 0};
    le32(b, 8);
    const unsigned entries[][3] = {{256, 4, side}, {257, 4, side}, {258, 3, 16}, {259, 3, 1}, {262, 3, 1},
                                   {273, 4, 200}, {277, 3, 1}, {278, 4, side}, {279, 4, 0x7FFFFFFF}};
    le16(b, 9);
    for (const auto& e : entries) {
        le16(b, e[0]);
        le16(b, e[1]);
        le32(b, 1);
        if (e[1] == 3) le16(b, e[2]), le16(b, 0);
        else le32(b, e[2]);
    }
    le32(b, 0);
    b.resize(220, 0);
    return b;
}

// GIF has no header-only read: its logical screen is checked by hand.
Bytes gifClaiming(unsigned side) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    le16(b, side);
    le16(b, side);
    b.insert(b.end(), {0, 0, 0, ','});
    le32(b, 0);
    le16(b, side);
    le16(b, side);
    b.insert(b.end(), {0, 8, 2, 0x4C, 0x01, 0, ';'});
    return b;
}

// SGI has no header-only read: 512 bytes of header claiming 8-bit pixels stored plainly.
Bytes sgiClaiming(unsigned side) {
    Bytes b = {0x01, 0xDA, 0, 1, 0, 2, BYTE(side >> 8), BYTE(side), BYTE(side >> 8), BYTE(side), 0, 1, 0, 0, 0, 0, 0, 0, 0, 255};
    b.resize(512, 0);
    return b;
}

std::string g_message;
void keepMessage(FREE_IMAGE_FORMAT, const char* message) { g_message = message; }

} // namespace

// Each load runs in a child process whose peak memory is read afterwards: under 100 MB, and the
// refusal comes from the limit or from the file's size (their messages), not from a failed
// allocation. 30000^2 pixels fit the limit but not the 220 bytes of the file that claims them.
TEST(LoadLimit, HeadersClaimingHugeImagesAreRefusedBeforeTheirPixels) {
    for (const Bytes& claim : {tiffClaiming(65535), gifClaiming(65535), tiffClaiming(30000)}) {
        SCOPED_TRACE(std::string(claim.begin(), claim.begin() + 3) + " of " + std::to_string(claim.size()) + " bytes");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            FreeImage_SetOutputMessage(keepMessage);
            Bytes bytes = claim;
            DalvoImage image(FIT_BITMAP, 3, 3, 8);
            const BOOL loaded = image.Load(bytes.data(), static_cast<DWORD>(bytes.size()));
            const bool limited = g_message.find("load limit") != std::string::npos ||
                                 g_message.find("data is missing") != std::string::npos;
            _exit(loaded ? 1 : !limited ? 2 : image.getWidth() != 3 ? 3 : 0);
        }
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1 loaded, 2 not refused by the limit, 3 image changed";
        EXPECT_LT(usage.ru_maxrss, 100 * 1024) << "peak KiB";
    }
}

TEST(LoadLimit, TheLimitIsTheCallersAndCountsTheRaster) {
    Bytes png = encoded(fipImage(FIT_UINT16, 100, 50, 16), FIF_PNG);
    const unsigned long long footprint = 100 * 50 * 2 + 100 * 50 * 4;
    DalvoImage image(FIT_BITMAP, 3, 3, 8);
    fipImage::setLoadMemoryLimit(footprint - 1);
    EXPECT_FALSE(image.Load(png.data(), static_cast<DWORD>(png.size())));
    EXPECT_EQ(image.getWidth(), 3u);
    fipImage::setLoadMemoryLimit(footprint);
    EXPECT_TRUE(image.Load(png.data(), static_cast<DWORD>(png.size())));
    EXPECT_EQ(image.getWidth(), 100u);
    fipImage::setLoadMemoryLimit(fipImage::kDefaultLoadMemoryLimit);
}

TEST(LoadLimit, AHeaderWithoutItsDataIsADamagedLoad) {
    Bytes header = sgiClaiming(3000);
    DalvoImage image;
    ASSERT_TRUE(image.Load(header.data(), static_cast<DWORD>(header.size())));
    ASSERT_TRUE(image.isLoadDamaged());
    EXPECT_NE(image.getLoadDamage().back().find("missing"), std::string::npos);
}

TEST(Messages, ACutTiffIsADamagedLoadThatSpeaksToTheHandlerNotToStderr) {
    const std::vector<BYTE> cut = damaged::cutTiff();
    ASSERT_FALSE(cut.empty());
    std::vector<BYTE> whole = encoded(fipImage(FIT_UINT16, 8, 8, 16), FIF_TIFF);

    std::vector<kestro::Message> seen;
    kestro::setMessageHandler([&](const kestro::Message& m) { seen.push_back(m); });
    kestro::clearRecentMessages();
    testing::internal::CaptureStderr();
    DalvoImage image;
    EXPECT_TRUE(image.Load(const_cast<BYTE*>(cut.data()), static_cast<DWORD>(cut.size())));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(image.isLoadDamaged());
    ASSERT_TRUE(image.Load(whole.data(), static_cast<DWORD>(whole.size())));
    EXPECT_FALSE(image.isLoadDamaged()) << image.getLoadDamage().front();
    kestro::setMessageHandler(nullptr);

    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().format, FIF_TIFF);
    const std::vector<kestro::Message> recent = kestro::recentMessages();
    ASSERT_EQ(recent.size(), std::min<size_t>(seen.size(), 32));
    EXPECT_EQ(recent.back().text, seen.back().text);
}
