// Untrusted files: a header that claims a huge image is refused before its pixels are allocated.
#include "image/DalvoImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

void le16(Bytes& b, unsigned v) { b.insert(b.end(), {BYTE(v), BYTE(v >> 8)}); }
void le32(Bytes& b, unsigned v) { b.insert(b.end(), {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}); }
void be32(Bytes& b, unsigned v) { b.insert(b.end(), {BYTE(v >> 24), BYTE(v >> 16), BYTE(v >> 8), BYTE(v)}); }

unsigned crc32(const BYTE* data, size_t n) {
    unsigned crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

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

Bytes pngClaiming(unsigned side) {
    Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes chunk = {'I', 'H', 'D', 'R'};
    be32(chunk, side);
    be32(chunk, side);
    chunk.insert(chunk.end(), {8, 0, 0, 0, 0});
    be32(b, 13);
    b.insert(b.end(), chunk.begin(), chunk.end());
    be32(b, crc32(chunk.data(), chunk.size()));
    // The decoder allocates the image once it reaches the first data chunk.
    for (const Bytes& next : {Bytes{'I', 'D', 'A', 'T', 0x78, 0x9C, 0x63, 0x60, 0, 0}, Bytes{'I', 'E', 'N', 'D'}}) {
        be32(b, static_cast<unsigned>(next.size() - 4));
        b.insert(b.end(), next.begin(), next.end());
        be32(b, crc32(next.data(), next.size()));
    }
    return b;
}

Bytes pgmClaiming(unsigned side) {
    const std::string header = "P5\n" + std::to_string(side) + " " + std::to_string(side) + "\n65535\n";
    Bytes b(header.begin(), header.end());
    b.resize(b.size() + 64, 7);
    return b;
}

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

// 100 bytes that claim a 16-bit grayscale image, uncompressed, and hold none of it.
Bytes psdClaiming(unsigned side) {
    Bytes b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
    be32(b, side);
    be32(b, side);
    b.insert(b.end(), {0, 16, 0, 1});
    b.resize(100, 0);
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
// refusal comes from the limit (its message), not from a failed allocation.
TEST(LoadLimit, HeadersClaimingHugeImagesAreRefusedBeforeTheirPixels) {
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {{"tiff 65535^2", tiffClaiming(65535)}, {"png 100000^2", pngClaiming(100000)},
                 {"pgm 65535^2", pgmClaiming(65535)},   {"gif 65535^2", gifClaiming(65535)},
                 {"psd 30000^2", psdClaiming(30000)},   {"tiff 30000^2 in 220 bytes", tiffClaiming(30000)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            FreeImage_SetOutputMessage(keepMessage);
            Bytes bytes = c.bytes;
            DalvoImage image(FIT_BITMAP, 3, 3, 8);
            const BOOL loaded = image.Load(bytes.data(), static_cast<DWORD>(bytes.size()));
            const bool limited = g_message.find("load limit") != std::string::npos ||
                                 g_message.find("data is missing") != std::string::npos;
            const bool untouched = image.getWidth() == 3;
            _exit(loaded ? 1 : !limited ? 2 : !untouched ? 3 : 0);
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
    fipImage gel(FIT_UINT16, 100, 50, 16);
    fipMemoryIO stream;
    ASSERT_TRUE(gel.saveToMemory(FIF_PNG, stream));
    BYTE* data = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(stream.acquire(&data, &size));
    Bytes png(data, data + size);

    const unsigned long long footprint = 100 * 50 * 2 + 100 * 50 * 4;
    DalvoImage image(FIT_BITMAP, 3, 3, 8);
    fipImage::setLoadMemoryLimit(footprint - 1);
    EXPECT_FALSE(image.Load(png.data(), size));
    EXPECT_EQ(image.getWidth(), 3u);
    fipImage::setLoadMemoryLimit(footprint);
    EXPECT_TRUE(image.Load(png.data(), size));
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
