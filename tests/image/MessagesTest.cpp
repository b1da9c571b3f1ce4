// The library prints nothing: what the decoders say reaches the caller's handler and the thread's
// recent messages.
#include "image/DalvoImage.h"
#include "image/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

TEST(Messages, ACutTiffSpeaksToTheHandlerNotToStderr) {
    fipImage gel(FIT_UINT16, 64, 64, 16);
    fipMemoryIO stream;
    ASSERT_TRUE(gel.saveToMemory(FIF_TIFF, stream));
    BYTE* data = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(stream.acquire(&data, &size));
    std::vector<BYTE> cut(data, data + size);
    cut.erase(cut.begin() + 4096, cut.end() - 200); // strips gone, directory kept at the end

    std::vector<kestro::Message> seen;
    kestro::setMessageHandler([&](const kestro::Message& m) { seen.push_back(m); });
    kestro::clearRecentMessages();
    testing::internal::CaptureStderr();
    DalvoImage image;
    image.Load(cut.data(), static_cast<DWORD>(cut.size()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    kestro::setMessageHandler(nullptr);

    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().format, FIF_TIFF);
    const std::vector<kestro::Message> recent = kestro::recentMessages();
    ASSERT_EQ(recent.size(), std::min<size_t>(seen.size(), 32));
    EXPECT_EQ(recent.back().text, seen.back().text);
}
