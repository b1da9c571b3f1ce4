// DalvoImage: construction, copies, history, file types, loading from files and memory, saving.
#include "ImageTestKit.h"

#include "raster/RasterImage.h"

#include <cstdio>

using namespace imagetest;

namespace {

const char* const kNonAsciiName = "Gel \xCE\xA9 \xC3\xA4 2026.tif"; // "Gel Ω ä 2026.tif" in UTF-8

// A small 16-bit gel-like image: dark background, one bright band.
void makeBlot(fipImage& image) {
    makePatterned(image, FIT_UINT16, 16, 21, 9);
    WORD* line = reinterpret_cast<WORD*>(image.getScanLine(4));
    for (unsigned x = 3; x < 18; ++x) line[x] = 60000;
}

} // namespace

TEST(DalvoImage, PaletteArgumentReplacesTheRampAndBytesPerLineLeaveOutTheFill) {
    RGBQUAD palette[16] = {};
    for (int i = 0; i < 16; ++i) palette[i].rgbGreen = static_cast<BYTE>(i * 17);
    DalvoImage withPalette(5, 5, 4, palette), withoutPalette(5, 5, 4), rgb(5, 5, 24, palette);
    ASSERT_EQ(withPalette.getImageType(), FIT_BITMAP);
    EXPECT_TRUE(withPalette.getPalette()[15].rgbGreen == 255 && withPalette.getPalette()[15].rgbRed == 0);
    EXPECT_EQ(withoutPalette.getPalette()[15].rgbGreen, 15); // setSize's index ramp
    EXPECT_EQ(rgb.getPalette(), nullptr);                     // no palette to replace

    // Bytes per line leave out the fill to 4 bytes.
    EXPECT_TRUE(rgb.GetBytesPerLine() == 15 && rgb.getScanWidth() == 16);
    EXPECT_EQ(DalvoImage(FIT_BITMAP, 9, 1, 1).GetBytesPerLine(), 2u);
    EXPECT_EQ(DalvoImage().GetBytesPerLine(), 0u);
}

TEST(DalvoImage, CopiesCarryHistoryStateFlagAndDisplaySettingsButNoRasterOrDisplayBitmap) {
    ImageProbe source(FIT_UINT16, 8, 3, 16), target(FIT_BITMAP, 2, 2, 8), empty;
    fill(source);
    source.SetPreprocessStr(L"{Crop}{Flip Vertically}");
    source.SetPaletteState(7);
    source.SetHistoryRecording(0);
    source.setOddSettings();
    source.plantCache(new RasterImage(8, 3, 16));
    source.makePrivateDisplay();
    source.setModified(FALSE);
    auto expectCarried = [](const ImageProbe& copy) {
        EXPECT_EQ(copy.GetPreprocessStr(), CString(L"{Crop}{Flip Vertically}"));
        EXPECT_TRUE(copy.GetPaletteState() == 7 && copy.GetHistoryRecording() == 0 && !copy.cache());
        EXPECT_EQ(displaySettings(copy), kOddSettings);
    };
    {
        ImageProbe copy(source);
        expectCarried(copy);
        EXPECT_TRUE(copy.isModified() && samePixels(copy, source) && !copy.display() && !copy.ownsDisplay());
        copy.makePrivateDisplay();
    } // the copy's own display bitmap goes with it, the source's stays (ASan watches both)
    EXPECT_TRUE(source.cache() && FreeImage_GetWidth(source.display()) == 8); // the source keeps its own

    // Assignment drops the target's raster (ASan reports it if it is not destroyed).
    target.plantCache(new RasterImage(2, 2, 8));
    target = source;
    expectCarried(target);
    EXPECT_EQ(target.getImageType(), FIT_UINT16);
    // Self-assignment keeps bitmap, history and settings, and drops the cache like any other.
    FIBITMAP* own = source;
    ImageProbe& alias = source;
    source = alias;
    expectCarried(source);
    EXPECT_EQ(static_cast<FIBITMAP*>(source), own);

    // An empty source: its copy is empty and unmodified; assigning it keeps the target's bitmap.
    empty.AddPreprocessStr(L"Crop");
    ImageProbe emptyCopy(empty);
    EXPECT_FALSE(emptyCopy.IsAvailable() || emptyCopy.isModified());
    EXPECT_EQ(emptyCopy.GetPreprocessStr(), CString(L"{Crop}"));
    FIBITMAP* before = target;
    target = empty;
    EXPECT_EQ(handle(target), before);
    EXPECT_EQ(target.GetPreprocessStr(), CString(L"{Crop}"));
}

TEST(DalvoImageHistory, EntriesAreBracedAndOneCanBeSkipped) {
    DalvoImage image;
    for (const wchar_t* entry : {L"Crop", L"Crop", L""}) image.AddPreprocessStr(entry);
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

    EXPECT_TRUE(image.SetPaletteState(7) == 0 && image.SetPaletteState(-3) == 7 && image.GetPaletteState() == -3);
}

TEST(DalvoImageFileTypes, ExtensionTableIsTheOnlyGuide) {
    const std::pair<const wchar_t*, FREE_IMAGE_FORMAT> cases[] = {
        {L"gel.tif", FIF_TIFF}, {L"gel.TiFf", FIF_TIFF}, {L"C:\\scans\\blot.BMP", FIF_BMP}, {L"a.b.jpg", FIF_JPEG},
        {L"x.pcx", FIF_PCX}, {L"x.tga", FIF_TARGA}, {L"x.ras", FIF_RAS}, {L"x.psd", FIF_PSD}, {L"x.Png", FIF_PNG},
        {L"x.gif", FIF_GIF},
        // Only JPG is in the table; the text after a folder's dot is no extension.
        {L"gel.jpeg", FIF_UNKNOWN}, {L"gel.j2k", FIF_UNKNOWN}, {L"gel", FIF_UNKNOWN}, {L"/data/run.2024/gel", FIF_UNKNOWN},
        {L"/data/run.tif/gel", FIF_UNKNOWN}, {L"gel.", FIF_UNKNOWN}, {L"gel.tif.bak", FIF_UNKNOWN}, {L"", FIF_UNKNOWN}};
    for (const auto& c : cases) EXPECT_EQ(DalvoImage::GetFileType(CString(c.first)), c.second) << CT2A(c.first).c_str();
}

TEST(DalvoImageFileTypes, OpenFileTypeComesFromTheSignatureAlone) {
    fipImage blot;
    makeBlot(blot);
    const std::string pngNamedTif = scratch("filetype-png-named.tif"), junkNamedTif = scratch("filetype-junk.tif");
    const std::string nonAscii = scratch(kNonAsciiName), imager = scratch("filetype-imager.tif");
    writeBytes(pngNamedTif, encoded(fipImage(FIT_BITMAP, 4, 4, 8), FIF_PNG));
    writeBytes(junkNamedTif, {'n', 'o', 'p', 'e'});
    writeBytes(imager, handWrittenTiff({{64, 48, 1, 16, "Bio-Rad Laboratories"}}));
    ASSERT_TRUE(blot.save(nonAscii.c_str()));
    const std::pair<std::string, FREE_IMAGE_FORMAT> cases[] = {
        {pngNamedTif, FIF_PNG}, {junkNamedTif, FIF_UNKNOWN}, // no fallback to ".tif"
        {nonAscii, FIF_TIFF}, {imager, FIF_TIFF}};           // camera raw by FreeImage's signature
    for (const auto& c : cases) {
        CFile file(wide(c.first), CFile::modeRead);
        EXPECT_EQ(DalvoImage::GetFileType(&file), c.second) << c.first;
    }
    EXPECT_EQ(DalvoImage::GetFileType(static_cast<CFile*>(nullptr)), FIF_UNKNOWN);
}

TEST(DalvoImageLoading, CreateFromFileLoadsByNameAndKeepsTheImageStateOnFailure) {
    fipImage blot;
    makeBlot(blot);
    const std::string path = scratch(kNonAsciiName), junk = scratch("loading-junk.dat");
    ASSERT_TRUE(blot.save(path.c_str()));
    writeBytes(junk, {'J', 'U', 'N', 'K', 0, 1, 2, 3});

    // A load replaces the bitmap only: history, palette state and display settings stay.
    ImageProbe image;
    image.AddPreprocessStr(L"Crop");
    image.SetPaletteState(3);
    image.setOddSettings();
    CFile file(wide(path), CFile::modeRead), junkFile(wide(junk), CFile::modeRead);
    EXPECT_TRUE(image.CreateFromFile(&file) && image.isModified());
    EXPECT_TRUE(samePixels(image, blot));
    EXPECT_TRUE(image.GetPreprocessStr() == CString(L"{Crop}") && image.GetPaletteState() == 3);
    EXPECT_EQ(displaySettings(image), kOddSettings);
    EXPECT_TRUE(image.loadByName(wide(path)));

    // No format FreeImage reads, or no file: the image stays as it was.
    image.setModified(FALSE);
    FIBITMAP* before = image;
    EXPECT_FALSE(image.CreateFromFile(&junkFile) || image.CreateFromFile(nullptr));
    EXPECT_EQ(handle(image), before);
    EXPECT_FALSE(image.isModified());
}

TEST(DalvoImageLoading, MemoryLoadsKeepThePreviousBitmapWhenNoFormatMatches) {
    fipImage blot;
    makeBlot(blot);
    std::vector<BYTE> png = encoded(blot, FIF_PNG);
    const std::vector<BYTE> untouched = png;
    DalvoImage image, other;
    image.AddPreprocessStr(L"Median");
    EXPECT_TRUE(image.Load(png.data(), static_cast<DWORD>(png.size())) && samePixels(image, blot));
    EXPECT_EQ(png, untouched); // the bytes stay the caller's, unchanged
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{Median}"));
    EXPECT_TRUE(other.Create(png.data(), static_cast<DWORD>(png.size())) && samePixels(other, blot));

    BYTE junk[] = {'J', 'U', 'N', 'K', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    image.setModified(FALSE);
    FIBITMAP* before = image;
    EXPECT_FALSE(image.Load(junk, sizeof junk) || image.Create(junk, sizeof junk) || image.Load(nullptr, 0) ||
                 image.Load(nullptr, 100));
    EXPECT_EQ(handle(image), before);
    EXPECT_FALSE(image.isModified());

    // A truncated file has a signature but no pixels: the image ends up empty, the history stays.
    EXPECT_FALSE(image.Load(png.data(), 40) || image.IsAvailable());
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{Median}"));
}

TEST(DalvoImageSaving, ExtensionDecidesAndNothingIsWrittenOnRefusal) {
    DalvoImage image, back;
    makeBlot(image);
    image.AddPreprocessStr(L"Crop");
    image.setModified(FALSE);
    const std::string jpg = scratch("saving-uint16.jpg"), nonAscii = scratch(std::string("saving ") + kNonAsciiName);
    std::remove(jpg.c_str());
    std::remove(nonAscii.c_str());
    EXPECT_FALSE(image.canSave(wide(jpg)) || image.save(wide(jpg)) || exists(jpg));
    EXPECT_TRUE(image.canSave(wide(nonAscii)) && image.save(wide(nonAscii)));
    CFile file(wide(nonAscii), CFile::modeRead); // written under its UTF-8 name
    ASSERT_TRUE(back.CreateFromFile(&file));
    EXPECT_TRUE(samePixels(back, image));
    // The narrow overloads stay reachable beside the wide ones.
    EXPECT_TRUE(image.canSave(scratch("saving-narrow.png").c_str()) && image.save(scratch("saving-narrow.png").c_str()));

    // Neither saving nor Combine, which combines nothing, touches bitmap, history or flag.
    FIBITMAP* bitmap = image;
    EXPECT_FALSE(image.Combine(wide(nonAscii), wide(jpg)));
    EXPECT_TRUE(handle(image) == bitmap && image.GetPreprocessStr() == CString(L"{Crop}") && !image.isModified());
}
