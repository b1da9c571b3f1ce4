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

class DocCommand : public ToolTest {};

} // namespace

TEST_F(DocCommand, EveryDocumentCommandOnASyntheticGel) {
    ok("synth gel.tif --width 120 --height 90");
    ok("doc new d.kdoc gel.tif");
    ok("doc crop d.kdoc 0 60 40 10 10"); // dragged up and to the left
    ok("doc copy d.kdoc 0 45 25 5 5");
    const auto j = nlohmann::json::parse(ok("doc show d.kdoc --json").out);
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
    ASSERT_TRUE(source.loadU(CString::FromUtf8((dir / "gel.tif").string())));
    CDrawDocument back;
    ASSERT_TRUE(back.OnOpenDocument(CString::FromUtf8((dir / "d.kdoc").string())));
    for (int i = 0; i < 2; ++i) {
        DalvoImage& image = *static_cast<CDrawImage*>(back.GetObjectList()->GetAt(i))->GetImage();
        const int offset = i == 0 ? 10 : 15, width = static_cast<int>(image.getWidth());
        for (int y = 0; y < static_cast<int>(image.getHeight()); ++y)
            ASSERT_EQ(rowBytes(image, y, 0, width), rowBytes(source, y + offset, offset, offset + width))
                << i;
    }

    ok("doc render d.kdoc -o view.png");
    fipImage view;
    ASSERT_TRUE(view.loadU(CString::FromUtf8((dir / "view.png").string())));
    EXPECT_EQ(view.getWidth() * 100 + view.getHeight(), 5030u);

    const Result r = run("doc copy d.kdoc 0 7 7 7 7", dir);
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "kestro: error: Copied nothing!\n");
}
