// Untrusted files: a header that claims a huge image is refused before its pixels are allocated; a
// load that decodes with damage says so, and the decoders' words reach the caller's handler only.
#include "ImageTestKit.h"
#include "image/Messages.h"
#include "support/DamagedFiles.h"
#include "TestTables.h"

#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

using namespace imagetest;

namespace {

using Bytes = std::vector<BYTE>;

// The bytes of a row of the hostile-header table: name, file size, hex bytes then zeros.
Bytes headerOfRow(const std::string& row, std::string& name) {
    std::istringstream in(row);
    size_t size = 0;
    std::string hex;
    in >> name >> size >> hex;
    Bytes b(size, 0);
    for (size_t i = 0; i + 1 < hex.size() && i / 2 < size; i += 2)
        b[i / 2] = static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16));
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

// Each load runs in a child process whose peak memory is read afterwards: under 100 MB more than
// the resident pages it starts with (the parent's, large in a sanitized run), and the refusal
// comes from the limit or from the file's size (their messages), not from a failed allocation.
TEST(LoadLimit, HeadersClaimingHugeImagesAreRefusedBeforeTheirPixels) {
    const std::vector<std::string> rows = TableRows("image/data/hostile-headers.txt");
    ASSERT_EQ(rows.size(), 6u);
    for (const std::string& row : rows) {
        std::string name;
        const Bytes claim = headerOfRow(row, name);
        SCOPED_TRACE(name);
        long pages = 0, residentPages = 0;
        std::ifstream("/proc/self/statm") >> pages >> residentPages;
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
        EXPECT_LT(usage.ru_maxrss - residentPages * (sysconf(_SC_PAGESIZE) / 1024), 100 * 1024) << "peak KiB";
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
