// fipWinImage: display state defaults, copying, assignment, the display bitmap's ownership,
// setters, tone-mapping rules and pixel inversion.
#include "ImageTestKit.h"

using namespace imagetest;

namespace {

using WinProbe = DisplayProbe<fipWinImage>;

void expectDefaultDisplayState(const WinProbe& image) {
    EXPECT_EQ(image.getAutoContrastLow(), 0);
    EXPECT_EQ(image.getAutoContrastHigh(), 255);
    EXPECT_EQ(image.getBrightness(), 0.0);
    EXPECT_EQ(image.getContrast(), 0.0);
    EXPECT_EQ(image.getGamma(), 1.0);
    EXPECT_EQ(image.getPaletteType(), PaletteNormal);
    FREE_IMAGE_TMO tmo = FITMO_FATTAL02;
    double p[4] = {-1, -1, -1, -1};
    image.getToneMappingOperator(&tmo, &p[0], &p[1], &p[2], &p[3]);
    EXPECT_EQ(tmo, FITMO_DRAGO03);
    EXPECT_EQ(p[0], 0.0);
    EXPECT_EQ(p[1], 0.0);
    EXPECT_EQ(p[2], 1.0);
    EXPECT_EQ(p[3], 0.0);
    EXPECT_EQ(image.display(), nullptr);
    EXPECT_FALSE(image.ownsDisplay());
}

// Distinct, non-default display settings.
void setOddSettings(WinProbe& image) {
    image.setImageAdjustmentValues(10, 20, 2.2);
    image.setLimits(12, 200);
    image.setPaletteTypeRaw(PaletteShadesOfGreen);
    image.setToneMappingOperator(FITMO_REINHARD05, 0.5, 0.25, 0.75, 0.125);
}

void expectOddSettings(const WinProbe& image) {
    EXPECT_EQ(image.getBrightness(), 10.0);
    EXPECT_EQ(image.getContrast(), 20.0);
    EXPECT_EQ(image.getGamma(), 2.2);
    EXPECT_EQ(image.getAutoContrastLow(), 12);
    EXPECT_EQ(image.getAutoContrastHigh(), 200);
    EXPECT_EQ(image.getPaletteType(), PaletteShadesOfGreen);
    FREE_IMAGE_TMO tmo = FITMO_DRAGO03;
    double p[4] = {};
    image.getToneMappingOperator(&tmo, &p[0], &p[1], &p[2], &p[3]);
    EXPECT_EQ(tmo, FITMO_REINHARD05);
    EXPECT_EQ(p[0], 0.5);
    EXPECT_EQ(p[1], 0.25);
    EXPECT_EQ(p[2], 0.75);
    EXPECT_EQ(p[3], 0.125);
}

} // namespace

TEST(fipWinImage, NewImagesHaveTheDefaultDisplayStateAndRunTimeClass) {
    WinProbe empty;
    expectDefaultDisplayState(empty);
    EXPECT_FALSE(empty.isValid());
    WinProbe sized(FIT_UINT16, 5, 4, 16);
    expectDefaultDisplayState(sized);
    EXPECT_EQ(sized.getImageType(), FIT_UINT16);
    WinProbe unsized(FIT_UINT16, 5, 0, 16);
    EXPECT_FALSE(unsized.isValid());

    const CRuntimeClass* rc = RUNTIME_CLASS(fipWinImage);
    EXPECT_STREQ(rc->m_lpszClassName, "fipWinImage");
    EXPECT_EQ(rc->m_wSchema, VERSIONABLE_SCHEMA | 1);
    EXPECT_EQ(rc->m_pBaseClass, RUNTIME_CLASS(CObject));
    CObject* made = CRuntimeClass::CreateObject("fipWinImage");
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(fipWinImage)));
    EXPECT_FALSE(static_cast<fipWinImage*>(made)->isValid());
    delete made;
}

TEST(fipWinImage, CopiesTakeSettingsButNeverTheDisplayBitmap) {
    WinProbe source(FIT_BITMAP, 6, 4, 24);
    fill(source);
    setOddSettings(source);
    source.makePrivateDisplay();
    FIBITMAP* sourceDisplay = source.display();
    source.setModified(FALSE);
    {
        WinProbe copy(source);
        expectOddSettings(copy);
        EXPECT_TRUE(copy.isModified());
        EXPECT_TRUE(samePixels(copy, source));
        EXPECT_EQ(copy.display(), nullptr);
        EXPECT_FALSE(copy.ownsDisplay());
        copy.makePrivateDisplay();
    } // the copy's own display bitmap goes with it; the source's stays (ASan watches both)
    EXPECT_EQ(source.display(), sourceDisplay);
    EXPECT_EQ(FreeImage_GetWidth(source.display()), 6u);

    // A copy of an empty image is empty and unmodified, with the settings copied.
    WinProbe empty;
    setOddSettings(empty);
    WinProbe emptyCopy(empty);
    EXPECT_FALSE(emptyCopy.isValid());
    EXPECT_FALSE(emptyCopy.isModified());
    expectOddSettings(emptyCopy);
}

TEST(fipWinImage, AssignmentDropsTheDisplayBitmapAndTakesSettingsFromAWinImageOnly) {
    WinProbe source(FIT_BITMAP, 3, 3, 8);
    setOddSettings(source);

    // From a fipWinImage: settings and a clone of the bitmap.
    WinProbe target(FIT_BITMAP, 9, 9, 24);
    target.makePrivateDisplay();
    target.setModified(FALSE);
    target = source;
    expectOddSettings(target);
    EXPECT_EQ(target.getWidth(), 3u);
    EXPECT_TRUE(target.isModified());
    EXPECT_EQ(target.display(), nullptr);

    // An empty source: the settings come along, the bitmap stays.
    WinProbe emptySource;
    WinProbe keeper(FIT_BITMAP, 7, 2, 8);
    keeper.makePrivateDisplay();
    keeper.setModified(FALSE);
    keeper = emptySource;
    expectDefaultDisplayState(keeper);
    EXPECT_EQ(keeper.getWidth(), 7u);
    EXPECT_FALSE(keeper.isModified());

    // Self-assignment keeps everything, the display bitmap included.
    target.makePrivateDisplay();
    FIBITMAP* display = target.display();
    WinProbe& alias = target;
    target = alias;
    EXPECT_EQ(target.display(), display);

    // From a plain fipImage: the bitmap only; the settings stay the target's.
    fipImage plain(FIT_UINT16, 4, 5, 16);
    target.setModified(FALSE);
    static_cast<fipWinImage&>(target) = plain;
    expectOddSettings(target);
    EXPECT_EQ(target.getImageType(), FIT_UINT16);
    EXPECT_TRUE(target.isModified());
    EXPECT_EQ(target.display(), nullptr);

    // Self-assignment as a fipImage only drops the display bitmap.
    target.makePrivateDisplay();
    target.setModified(FALSE);
    FIBITMAP* bitmap = target;
    static_cast<fipWinImage&>(target) = static_cast<const fipImage&>(target);
    EXPECT_EQ(target.display(), nullptr);
    EXPECT_EQ(static_cast<FIBITMAP*>(target), bitmap);
    EXPECT_FALSE(target.isModified());
}

TEST(fipWinImage, ClearDropsBitmapsAndKeepsSettings) {
    WinProbe image(FIT_BITMAP, 4, 4, 8);
    setOddSettings(image);
    image.makeSharedDisplay(); // a shared display bitmap is forgotten, not unloaded twice
    image.setModified(FALSE);
    image.clear();
    EXPECT_FALSE(image.isValid());
    EXPECT_TRUE(image.isModified());
    EXPECT_EQ(image.display(), nullptr);
    expectOddSettings(image);
}

TEST(fipWinImage, SettersStoreWithoutMarkingTheImageModified) {
    WinProbe image(FIT_UINT16, 4, 4, 16);
    image.setModified(FALSE);
    image.setImageAdjustmentValues(10, 20, 2.2);
    image.setImageAdjustmentValues(-500, 1e6, -3); // nothing is clamped
    EXPECT_EQ(image.getBrightness(), -500.0);
    EXPECT_EQ(image.getContrast(), 1e6);
    EXPECT_EQ(image.getGamma(), -3.0);
    EXPECT_FALSE(image.isModified());

    // Tone mapping: the same values change nothing, new ones mark only tone-mapped types.
    image.setToneMappingOperator(FITMO_DRAGO03, 0, 0, 1, 0);
    EXPECT_FALSE(image.isModified());
    image.setToneMappingOperator(FITMO_FATTAL02, 0.5, 0.85);
    EXPECT_FALSE(image.isModified()); // FIT_UINT16 is not displayed through tone mapping
    FREE_IMAGE_TMO tmo = FITMO_DRAGO03;
    double p1 = 0, p4 = -1;
    image.getToneMappingOperator(&tmo, &p1, nullptr, nullptr, &p4);
    EXPECT_EQ(tmo, FITMO_FATTAL02);
    EXPECT_EQ(p1, 0.5);
    EXPECT_EQ(p4, 0.0);

    for (FREE_IMAGE_TYPE type : {FIT_RGBF, FIT_RGBAF, FIT_RGB16, FIT_RGBA16}) {
        const unsigned bpp = type == FIT_RGBF ? 96 : type == FIT_RGBAF ? 128 : type == FIT_RGB16 ? 48 : 64;
        WinProbe hdr(type, 2, 2, bpp);
        hdr.setModified(FALSE);
        hdr.setToneMappingOperator(FITMO_DRAGO03, 0, 0, 1, 0);
        EXPECT_FALSE(hdr.isModified()) << type;
        hdr.setToneMappingOperator(FITMO_DRAGO03, 0, 0, 1, 0.5); // one parameter differs
        EXPECT_TRUE(hdr.isModified()) << type;
    }
}

TEST(fipWinImage, InvertPixelsComplementsSamplesAndIsItsOwnInverse) {
    struct Case {
        FREE_IMAGE_TYPE type;
        unsigned bpp;
        bool supported;
    };
    const Case cases[] = {{FIT_BITMAP, 1, true},   {FIT_BITMAP, 4, true},  {FIT_BITMAP, 8, true},
                          {FIT_BITMAP, 16, false}, {FIT_BITMAP, 24, true}, {FIT_BITMAP, 32, true},
                          {FIT_UINT16, 16, true},  {FIT_RGB16, 48, true},  {FIT_RGBA16, 64, true},
                          {FIT_FLOAT, 32, false},  {FIT_INT16, 16, false}, {FIT_RGBF, 96, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.type << "/" << c.bpp);
        WinProbe image(c.type, 7, 3, c.bpp);
        fill(image);
        WinProbe original(image);
        image.setModified(FALSE);
        EXPECT_EQ(!!image.invertPixels(), c.supported);
        EXPECT_FALSE(image.isModified());
        // Literal reference: every byte of the pixel data (fill excluded) complemented, or none.
        for (unsigned y = 0; y < image.getHeight(); ++y) {
            const BYTE* now = image.getScanLine(y);
            const BYTE* was = original.getScanLine(y);
            for (unsigned i = 0; i < image.getLine(); ++i) {
                ASSERT_EQ(now[i], c.supported ? static_cast<BYTE>(~was[i]) : was[i]) << "byte " << i << " row " << y;
            }
        }
        if (c.type == FIT_BITMAP && c.bpp <= 8) {
            EXPECT_EQ(std::memcmp(image.getPalette(), original.getPalette(), original.getPaletteSize()), 0);
        }
        image.invertPixels();
        EXPECT_TRUE(samePixels(image, original));
    }
    WinProbe empty;
    EXPECT_FALSE(empty.invertPixels());
}
