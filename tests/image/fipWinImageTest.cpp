// fipWinImage: assignment of display state and bitmap (copies with DalvoImage's), tone mapping, inversion.
#include "ImageTestKit.h"

using namespace imagetest;

using WinProbe = DisplayProbe<fipWinImage>;

TEST(fipWinImage, AssignmentTakesSettingsFromAWinImageOnly) {
    WinProbe target(FIT_BITMAP, 9, 9, 24), keeper(FIT_BITMAP, 7, 2, 8), emptySource;
    emptySource.setOddSettings();
    keeper = emptySource; // from an empty one: the settings, and the bitmap stays
    EXPECT_EQ(displaySettings(keeper), kOddSettings);
    EXPECT_EQ(keeper.getWidth(), 7u);
    // Self-assignment keeps everything, the display bitmap included.
    target.makePrivateDisplay();
    FIBITMAP* display = target.display();
    WinProbe& alias = target;
    target = alias;
    EXPECT_EQ(target.display(), display);
    // From a plain fipImage the bitmap only, settings stay; as self-assignment it drops the display bitmap.
    keeper.setImageAdjustmentValues(1, 2, 3);
    const std::vector<double> keeperSettings = displaySettings(keeper);
    static_cast<fipWinImage&>(keeper) = fipImage(FIT_UINT16, 4, 5, 16);
    EXPECT_EQ(displaySettings(keeper), keeperSettings);
    EXPECT_EQ(keeper.getImageType(), FIT_UINT16);
    FIBITMAP* bitmap = unmodified(target);
    static_cast<fipWinImage&>(target) = static_cast<const fipImage&>(target);
    EXPECT_EQ(target.display(), nullptr);
    EXPECT_EQ(bitmapState(target, bitmap), "kept, unmodified");
}

// A shared display bitmap is forgotten, not unloaded twice.
TEST(fipWinImage, ClearDropsBothBitmapsButKeepsTheSettings) {
    WinProbe source(FIT_BITMAP, 3, 3, 8);
    source.setOddSettings();
    source.makeSharedDisplay();
    source.clear();
    EXPECT_EQ(source.display(), nullptr);
    EXPECT_EQ(displaySettings(source), kOddSettings);
}

TEST(fipWinImage, ToneMappingChangesMarkOnlyToneMappedTypes) {
    const std::pair<FREE_IMAGE_TYPE, unsigned> types[] = {
        {FIT_UINT16, 16}, {FIT_RGBF, 96}, {FIT_RGBAF, 128}, {FIT_RGB16, 48}, {FIT_RGBA16, 64}};
    for (const auto& [type, bpp] : types) {
        WinProbe image(type, 2, 2, bpp);
        image.setModified(FALSE);
        image.setToneMappingOperator(FITMO_DRAGO03, 0, 0, 1, 0); // the values it has
        EXPECT_FALSE(image.isModified()) << type;
        image.setToneMappingOperator(FITMO_DRAGO03, 0, 0, 1, 0.5); // one parameter differs
        EXPECT_EQ(!!image.isModified(), type != FIT_UINT16) << type;
    }
    // New values are stored whatever the type; null outputs are skipped.
    WinProbe image(FIT_UINT16, 2, 2, 16);
    image.setToneMappingOperator(FITMO_FATTAL02, 0.5, 0.85);
    FREE_IMAGE_TMO tmo = FITMO_DRAGO03;
    double p1 = 0, p4 = -1;
    image.getToneMappingOperator(&tmo, &p1, nullptr, nullptr, &p4);
    EXPECT_EQ((std::vector<double>{double(tmo), p1, p4}), (std::vector<double>{FITMO_FATTAL02, 0.5, 0.0}));
}

TEST(fipWinImage, InvertPixelsComplementsEverySampleOfTheTypesItTakes) {
    const std::tuple<FREE_IMAGE_TYPE, unsigned, bool> cases[] = {
        {FIT_BITMAP, 1, true},  {FIT_BITMAP, 4, true},  {FIT_BITMAP, 8, true},  {FIT_BITMAP, 16, false},
        {FIT_BITMAP, 24, true}, {FIT_BITMAP, 32, true}, {FIT_UINT16, 16, true}, {FIT_RGB16, 48, true},
        {FIT_RGBA16, 64, true}, {FIT_FLOAT, 32, false}, {FIT_INT16, 16, false}, {FIT_RGBF, 96, false}};
    for (const auto& [type, bpp, supported] : cases) {
        SCOPED_TRACE(::testing::Message() << type << "/" << bpp);
        WinProbe image = patterned<WinProbe>(7, 3, bpp, type);
        WinProbe expected(image);
        image.setModified(FALSE);
        EXPECT_EQ(!!image.invertPixels(), supported);
        EXPECT_FALSE(image.isModified()); // the display follows only when the host says so
        // Every byte of the pixel data (fill excluded) complemented, or none; a palette stays.
        for (unsigned y = 0; supported && y < expected.getHeight(); ++y)
            for (unsigned i = 0; i < expected.getLine(); ++i)
                expected.getScanLine(y)[i] = BYTE(~expected.getScanLine(y)[i]);
        EXPECT_TRUE(sameBitmap(image, expected));
    }
    EXPECT_FALSE(WinProbe().invertPixels());
}
