// The library prints nothing: what the decoders say reaches the caller's handler and the thread's
// recent messages.
#include "ImageTestKit.h"
#include "image/Messages.h"
#include "support/DamagedFiles.h"

#include <algorithm>
#include <vector>

TEST(Messages, ACutTiffIsADamagedLoadThatSpeaksToTheHandlerNotToStderr) {
    const std::vector<BYTE> cut = damaged::cutTiff();
    ASSERT_FALSE(cut.empty());
    std::vector<BYTE> whole = imagetest::encoded(fipImage(FIT_UINT16, 8, 8, 16), FIF_TIFF);

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
