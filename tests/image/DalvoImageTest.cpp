// DalvoImage: fields and lifecycle, loading from files and memory, file types, saving, history.
#include "ImageTestKit.h"

#include "raster/RasterImage.h"

using namespace imagetest;

namespace {

const char* const kNonAsciiName = "Gel \xCE\xA9 \xC3\xA4 2026.tif"; // "Gel Ω ä 2026.tif" in UTF-8

// A small 16-bit gel-like image: dark background, one bright band.
void makeBlot(fipImage& image) {
    makePatterned(image, FIT_UINT16, 16, 21, 9);
    WORD* line = reinterpret_cast<WORD*>(image.getScanLine(4));
    for (unsigned x = 3; x < 18; ++x) line[x] = 60000;
}

std::vector<BYTE> pngBytes(fipImage& image) {
    fipMemoryIO stream;
    EXPECT_TRUE(image.saveToMemory(FIF_PNG, stream));
    BYTE* data = nullptr;
    DWORD size = 0;
    stream.acquire(&data, &size);
    return std::vector<BYTE>(data, data + size);
}

} // namespace

TEST(DalvoImage, NewImagesStartWithEmptyHistoryAndRecordingOn) {
    ImageProbe image;
    EXPECT_FALSE(image.IsAvailable());
    EXPECT_TRUE(image.GetPreprocessStr().IsEmpty());
    EXPECT_EQ(image.GetHistoryRecording(), 1);
    EXPECT_EQ(image.GetPaletteState(), 0);
    EXPECT_EQ(image.cache(), nullptr);
    EXPECT_EQ(image.getGamma(), 1.0);
    EXPECT_EQ(image.GetSize(), CSize(0, 0));

    ImageProbe sized(FIT_UINT16, 12, 5, 16);
    EXPECT_EQ(sized.GetSize(), CSize(12, 5));
    EXPECT_EQ(sized.GetHistoryRecording(), 1);
    ImageProbe unsized(FIT_UINT16, 12, 0, 16);
    EXPECT_FALSE(unsized.IsAvailable());

    const CRuntimeClass* rc = RUNTIME_CLASS(DalvoImage);
    EXPECT_STREQ(rc->m_lpszClassName, "DalvoImage");
    EXPECT_EQ(rc->m_wSchema, VERSIONABLE_SCHEMA | 1);
    EXPECT_EQ(rc->m_pBaseClass, RUNTIME_CLASS(fipWinImage));
    CObject* made = CRuntimeClass::CreateObject("DalvoImage");
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(fipWinImage)));
    EXPECT_EQ(static_cast<DalvoImage*>(made)->GetHistoryRecording(), 1);
    delete made;
}

TEST(DalvoImage, PaletteArgumentReplacesTheRampForPalettisedDepths) {
    RGBQUAD palette[16] = {};
    for (int i = 0; i < 16; ++i) palette[i].rgbGreen = static_cast<BYTE>(i * 17);
    DalvoImage withPalette(5, 5, 4, palette);
    ASSERT_TRUE(withPalette.IsAvailable());
    EXPECT_EQ(withPalette.getImageType(), FIT_BITMAP);
    EXPECT_EQ(withPalette.getPalette()[15].rgbGreen, 255);
    EXPECT_EQ(withPalette.getPalette()[15].rgbRed, 0);

    DalvoImage withoutPalette(5, 5, 4);
    EXPECT_EQ(withoutPalette.getPalette()[15].rgbGreen, 15); // setSize's index ramp
    DalvoImage rgb(5, 5, 24, palette);                       // no palette to replace
    EXPECT_EQ(rgb.getPalette(), nullptr);
}

TEST(DalvoImage, CopiesCarryHistoryStateFlagAndDisplaySettingsButNoRaster) {
    ImageProbe source(FIT_UINT16, 8, 3, 16);
    fill(source);
    source.SetPreprocessStr(L"{Crop}{Flip Vertically}");
    source.SetPaletteState(7);
    source.SetHistoryRecording(0);
    source.setImageAdjustmentValues(5, 6, 0.5);
    source.setLimits(30, 90);
    source.setPaletteTypeRaw(PaletteAutoContrast);
    source.plantCache(new RasterImage(8, 3, 16));

    auto expectCarried = [](const ImageProbe& copy) {
        EXPECT_EQ(copy.GetPreprocessStr(), CString(L"{Crop}{Flip Vertically}"));
        EXPECT_EQ(copy.GetPaletteState(), 7);
        EXPECT_EQ(copy.GetHistoryRecording(), 0);
        EXPECT_EQ(copy.getBrightness(), 5.0);
        EXPECT_EQ(copy.getContrast(), 6.0);
        EXPECT_EQ(copy.getGamma(), 0.5);
        EXPECT_EQ(copy.getAutoContrastLow(), 30);
        EXPECT_EQ(copy.getAutoContrastHigh(), 90);
        EXPECT_EQ(copy.getPaletteType(), PaletteAutoContrast);
        EXPECT_EQ(copy.cache(), nullptr);
    };

    ImageProbe copy(source);
    expectCarried(copy);
    EXPECT_TRUE(samePixels(copy, source));
    EXPECT_EQ(copy.fileFormatField(), FIF_UNKNOWN);
    EXPECT_NE(source.cache(), nullptr); // the source keeps its own raster

    // Assignment drops the target's raster (ASan reports it if it is not destroyed).
    ImageProbe target(FIT_BITMAP, 2, 2, 8);
    target.plantCache(new RasterImage(2, 2, 8));
    target = source;
    expectCarried(target);
    EXPECT_EQ(target.getImageType(), FIT_UINT16);

    // Self-assignment keeps everything, the cache included.
    ImageProbe& alias = source;
    source = alias;
    EXPECT_NE(source.cache(), nullptr);

    // The protected copy takes the three fields only: bitmap and display settings stay.
    ImageProbe fields(FIT_BITMAP, 4, 4, 24);
    fields.plantCache(new RasterImage(4, 4, 24));
    fields.copyFields(source);
    EXPECT_EQ(fields.GetPreprocessStr(), source.GetPreprocessStr());
    EXPECT_EQ(fields.GetPaletteState(), 7);
    EXPECT_EQ(fields.GetHistoryRecording(), 0);
    EXPECT_EQ(fields.cache(), nullptr);
    EXPECT_EQ(fields.getBitsPerPixel(), 24u);
    EXPECT_EQ(fields.getGamma(), 1.0);
}

TEST(DalvoImage, CopyAndAssignmentOfAnEmptyImage) {
    ImageProbe empty;
    empty.AddPreprocessStr(L"Crop");
    ImageProbe copy(empty);
    EXPECT_FALSE(copy.IsAvailable());
    EXPECT_FALSE(copy.isModified());
    EXPECT_EQ(copy.GetPreprocessStr(), CString(L"{Crop}"));

    ImageProbe target(FIT_BITMAP, 3, 3, 8);
    FIBITMAP* before = target;
    target = empty;
    EXPECT_EQ(static_cast<FIBITMAP*>(target), before); // the bitmap stays
    EXPECT_EQ(target.GetPreprocessStr(), CString(L"{Crop}"));
}

TEST(DalvoImageHistory, EntriesAreBracedAndOneCanBeSkipped) {
    DalvoImage image;
    image.AddPreprocessStr(L"Crop");
    image.AddPreprocessStr(L"Crop");
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{Crop}{Crop}"));
    image.AddPreprocessStr(L"");
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{Crop}{Crop}{}"));

    // Recording off skips exactly the next entry and turns recording back on.
    image.SetPreprocessStr(L"");
    image.SetHistoryRecording(0);
    image.AddPreprocessStr(L"A");
    EXPECT_EQ(image.GetHistoryRecording(), 1);
    image.AddPreprocessStr(L"B");
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{B}"));

    // SetPreprocessStr replaces the text as given and leaves the flag alone.
    image.SetHistoryRecording(0);
    image.SetPreprocessStr(L"loaded from scanner");
    EXPECT_EQ(image.GetHistoryRecording(), 0);
    image.SetHistoryRecording(1);
    image.AddPreprocessStr(L"y");
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"loaded from scanner{y}"));

    EXPECT_EQ(image.SetPaletteState(7), 0);
    EXPECT_EQ(image.SetPaletteState(-3), 7);
    EXPECT_EQ(image.GetPaletteState(), -3);
}

TEST(DalvoImageFileTypes, ExtensionTableIsTheOnlyGuide) {
    const struct {
        const wchar_t* name;
        FREE_IMAGE_FORMAT expected;
    } cases[] = {
        {L"gel.tif", FIF_TIFF},
        {L"gel.TiFf", FIF_TIFF},
        {L"C:\\scans\\blot.BMP", FIF_BMP},
        {L"a.b.jpg", FIF_JPEG},
        {L"x.pcx", FIF_PCX},
        {L"x.tga", FIF_TARGA},
        {L"x.ras", FIF_RAS},
        {L"x.psd", FIF_PSD},
        {L"x.Png", FIF_PNG},
        {L"x.gif", FIF_GIF},
        {L"gel.jpeg", FIF_UNKNOWN}, // only JPG is in the table
        {L"gel.j2k", FIF_UNKNOWN},
        {L"gel", FIF_UNKNOWN},
        {L"/data/run.2024/gel", FIF_UNKNOWN}, // the text after the folder's dot is no extension
        {L"/data/run.tif/gel", FIF_UNKNOWN},
        {L"gel.", FIF_UNKNOWN},
        {L"gel.tif.bak", FIF_UNKNOWN},
        {L"", FIF_UNKNOWN},
    };
    for (const auto& c : cases) EXPECT_EQ(DalvoImage::GetFileType(CString(c.name)), c.expected) << CT2A(c.name).c_str();
    EXPECT_EQ(static_cast<int>(FIF_UNKNOWN), -1);
}

TEST(DalvoImageFileTypes, OpenFileTypeComesFromTheSignatureAlone) {
    fipImage png(FIT_BITMAP, 4, 4, 8);
    const std::string pngNamedTif = scratch("filetype-png-named.tif");
    writeBytes(pngNamedTif, pngBytes(png));
    const std::string junkNamedTif = scratch("filetype-junk.tif");
    writeBytes(junkNamedTif, {'n', 'o', 'p', 'e'});
    const std::string nonAscii = scratch(kNonAsciiName);
    fipImage blot;
    makeBlot(blot);
    ASSERT_TRUE(blot.save(nonAscii.c_str()));

    CFile pngFile(wide(pngNamedTif), CFile::modeRead);
    EXPECT_EQ(DalvoImage::GetFileType(&pngFile), FIF_PNG);
    CFile junkFile(wide(junkNamedTif), CFile::modeRead);
    EXPECT_EQ(DalvoImage::GetFileType(&junkFile), FIF_UNKNOWN); // no fallback to ".tif"
    CFile nonAsciiFile(wide(nonAscii), CFile::modeRead);
    EXPECT_EQ(DalvoImage::GetFileType(&nonAsciiFile), FIF_TIFF);
    EXPECT_EQ(DalvoImage::GetFileType(static_cast<CFile*>(nullptr)), FIF_UNKNOWN);

    const std::string imager = scratch("filetype-imager.tif");
    writeBytes(imager, handWrittenTiff({{64, 48, 1, 16, "Bio-Rad Laboratories"}}));
    CFile imagerFile(wide(imager), CFile::modeRead);
    EXPECT_EQ(DalvoImage::GetFileType(&imagerFile), FIF_TIFF);
}

TEST(DalvoImageLoading, CreateFromFileLoadsByNameAndKeepsTheImageStateOnFailure) {
    fipImage blot;
    makeBlot(blot);
    const std::string path = scratch(kNonAsciiName);
    ASSERT_TRUE(blot.save(path.c_str()));

    ImageProbe image;
    image.AddPreprocessStr(L"Crop");
    image.SetPaletteState(3);
    image.setImageAdjustmentValues(1, 2, 3);
    CFile file(wide(path), CFile::modeRead);
    EXPECT_TRUE(image.CreateFromFile(&file));
    EXPECT_TRUE(image.IsAvailable());
    EXPECT_TRUE(image.isModified());
    EXPECT_EQ(image.getImageType(), FIT_UINT16);
    EXPECT_TRUE(samePixels(image, blot));
    // A load replaces the bitmap only.
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{Crop}"));
    EXPECT_EQ(image.GetPaletteState(), 3);
    EXPECT_EQ(image.getGamma(), 3.0);
    EXPECT_TRUE(image.loadByName(wide(path)));

    // No format FreeImage reads: the image stays as it was.
    const std::string junk = scratch("loading-junk.dat");
    writeBytes(junk, {'J', 'U', 'N', 'K', 0, 1, 2, 3});
    image.setModified(FALSE);
    FIBITMAP* before = image;
    CFile junkFile(wide(junk), CFile::modeRead);
    EXPECT_FALSE(image.CreateFromFile(&junkFile));
    EXPECT_EQ(static_cast<FIBITMAP*>(image), before);
    EXPECT_FALSE(image.isModified());
    EXPECT_FALSE(image.CreateFromFile(nullptr));

    // A known format that does not decode: empty and modified.
    const std::string broken = scratch("loading-broken.png");
    writeBytes(broken, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 1});
    CFile brokenFile(wide(broken), CFile::modeRead);
    EXPECT_FALSE(image.CreateFromFile(&brokenFile));
    EXPECT_FALSE(image.IsAvailable());
    EXPECT_TRUE(image.isModified());
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{Crop}"));
}

TEST(DalvoImageLoading, MemoryLoadsKeepThePreviousBitmapWhenNoFormatMatches) {
    fipImage blot;
    makeBlot(blot);
    std::vector<BYTE> png = pngBytes(blot);
    const std::vector<BYTE> untouched = png;

    DalvoImage image;
    image.AddPreprocessStr(L"Median");
    EXPECT_TRUE(image.Load(png.data(), static_cast<DWORD>(png.size())));
    EXPECT_TRUE(samePixels(image, blot));
    EXPECT_EQ(png, untouched); // the bytes stay the caller's, unchanged
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{Median}"));

    BYTE junk[] = {'J', 'U', 'N', 'K', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    image.setModified(FALSE);
    FIBITMAP* before = image;
    EXPECT_FALSE(image.Load(junk, sizeof junk));
    EXPECT_FALSE(image.Create(junk, sizeof junk));
    EXPECT_FALSE(image.Load(nullptr, 0));
    EXPECT_FALSE(image.Load(nullptr, 100));
    EXPECT_EQ(static_cast<FIBITMAP*>(image), before);
    EXPECT_FALSE(image.isModified());

    DalvoImage other;
    EXPECT_TRUE(other.Create(png.data(), static_cast<DWORD>(png.size())));
    EXPECT_TRUE(samePixels(other, blot));

    // A truncated file has a signature but no pixels: the image ends up empty.
    EXPECT_FALSE(other.Load(png.data(), 40));
    EXPECT_FALSE(other.IsAvailable());
}

TEST(DalvoImageSaving, ExtensionDecidesAndNothingIsWrittenOnRefusal) {
    DalvoImage image;
    makeBlot(image);
    image.AddPreprocessStr(L"Crop");
    image.setModified(FALSE);

    const std::string jpg = scratch("saving-uint16.jpg");
    std::remove(jpg.c_str());
    EXPECT_FALSE(image.canSave(wide(jpg)));
    EXPECT_FALSE(image.save(wide(jpg)));
    EXPECT_FALSE(exists(jpg));

    const std::string nonAscii = scratch(std::string("saving ") + kNonAsciiName);
    std::remove(nonAscii.c_str());
    EXPECT_TRUE(image.canSave(wide(nonAscii)));
    EXPECT_TRUE(image.save(wide(nonAscii)));
    EXPECT_TRUE(exists(nonAscii)); // written under its UTF-8 name
    EXPECT_FALSE(image.isModified());
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{Crop}"));
    DalvoImage back;
    CFile file(wide(nonAscii), CFile::modeRead);
    ASSERT_TRUE(back.CreateFromFile(&file));
    EXPECT_TRUE(samePixels(back, image));

    // The narrow overloads stay reachable beside the wide ones.
    EXPECT_TRUE(image.canSave(scratch("saving-narrow.png").c_str()));
    EXPECT_TRUE(image.save(scratch("saving-narrow.png").c_str()));

    // Combine combines nothing.
    const CString history = image.GetPreprocessStr();
    FIBITMAP* bitmap = image;
    EXPECT_FALSE(image.Combine(wide(nonAscii), wide(jpg)));
    EXPECT_EQ(static_cast<FIBITMAP*>(image), bitmap);
    EXPECT_EQ(image.GetPreprocessStr(), history);
    EXPECT_FALSE(image.isModified());
}

TEST(DalvoImageQueries, SizeAndBytesPerLineExcludeFill) {
    DalvoImage rgb(FIT_BITMAP, 3, 2, 24);
    EXPECT_EQ(rgb.GetSize(), CSize(3, 2));
    EXPECT_EQ(rgb.GetBytesPerLine(), 9u); // the scan line itself is 12 bytes
    EXPECT_EQ(rgb.getScanWidth(), 12u);
    DalvoImage bits(FIT_BITMAP, 9, 1, 1);
    EXPECT_EQ(bits.GetBytesPerLine(), 2u);
    DalvoImage empty;
    EXPECT_EQ(empty.GetBytesPerLine(), 0u);
    EXPECT_FALSE(empty.IsAvailable());
}
