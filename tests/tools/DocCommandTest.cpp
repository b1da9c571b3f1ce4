// kestro doc as a program: a document made from a gel, cropped and copied through the tools,
// shown and rendered, checked against the gel file itself.
#include "KestroRun.h"

#include <KestroImage.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using namespace kestrorun;

namespace {

// The bytes of row y (from the top), columns [x0, x1), of an image of 8 bits or more.
std::string rowBytes(fipImage& image, int y, int x0, int x1) {
    const unsigned bytes = image.getBitsPerPixel() / 8;
    const BYTE* row = image.getScanLine(image.getHeight() - 1 - static_cast<unsigned>(y));
    return std::string(reinterpret_cast<const char*>(row) + x0 * bytes, (x1 - x0) * bytes);
}

void roundTrip(const fs::path& dir, const std::string& gel) {
    SCOPED_TRACE(gel);
    ASSERT_EQ(run("doc new d.kdoc " + quote(gel), dir).exit, 0);
    ASSERT_EQ(run("doc crop d.kdoc 0 60 40 10 10", dir).exit, 0); // dragged up and to the left
    ASSERT_EQ(run("doc copy d.kdoc 0 45 25 5 5", dir).exit, 0);
    Result r = run("doc show d.kdoc --json", dir);
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["objects"].size(), 2u);
    EXPECT_EQ(j["objects"][0]["position"], nlohmann::json({0, 0, 50, 30}));
    EXPECT_EQ(j["objects"][1]["position"], nlohmann::json({0, 0, 40, 20}));
    auto steps = j["objects"][0]["history"].get<std::vector<std::string>>();
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), "{Crop}");
    steps.push_back("{Crop}");
    EXPECT_EQ(j["objects"][1]["history"].get<std::vector<std::string>>(), steps);

    // The objects hold the gel's own pixels: rows 10.. columns 10.. and rows 15.. columns 15...
    fipImage source;
    ASSERT_TRUE(source.loadU(CString::FromUtf8(gel)));
    CDrawDocument back;
    ASSERT_TRUE(back.OnOpenDocument(CString::FromUtf8((dir / "d.kdoc").string())));
    for (int i = 0; i < 2; ++i) {
        DalvoImage& image = *static_cast<CDrawImage*>(back.GetObjectList()->GetAt(i))->GetImage();
        const int offset = i == 0 ? 10 : 15, width = static_cast<int>(image.getWidth());
        if (image.getBitsPerPixel() < 8) continue;
        for (int y = 0; y < static_cast<int>(image.getHeight()); ++y)
            ASSERT_EQ(rowBytes(image, y, 0, width), rowBytes(source, y + offset, offset, offset + width))
                << i;
    }

    r = run("doc render d.kdoc -o view.png", dir);
    ASSERT_EQ(r.exit, 0) << r.err;
    fipImage view;
    ASSERT_TRUE(view.loadU(CString::FromUtf8((dir / "view.png").string())));
    EXPECT_EQ(view.getWidth() * 100 + view.getHeight(), 5030u);

    r = run("doc copy d.kdoc 0 7 7 7 7", dir);
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "kestro: error: Copied nothing!\n");
}

class DocCommand : public ToolTest {};

} // namespace

TEST_F(DocCommand, EveryDocumentCommandOnASyntheticThenARealGel) {
    ASSERT_EQ(run("synth gel.tif --width 120 --height 90", dir).exit, 0);
    roundTrip(dir, (dir / "gel.tif").string());
    const fs::path real = fs::path(KESTRO_SHARED_DIR) / "gels" / "agarose-dna-16bit-le-saturated-01.tif";
    if (!fs::exists(real)) GTEST_SKIP() << "no real gels at " << real.parent_path();
    roundTrip(dir, real.string());
}
