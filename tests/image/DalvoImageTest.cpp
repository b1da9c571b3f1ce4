// DalvoImage: construction, copies, history, file types, loading from files and memory, saving.
#include "ImageTestKit.h"

#include "raster/RasterImage.h"

using namespace imagetest;

const char* const kNonAsciiName = "Gel \xCE\xA9 \xC3\xA4 2026.tif"; // "Gel Ω ä 2026.tif" in UTF-8

TEST(DalvoImage, APaletteArgumentReplacesTheRamp) {
    RGBQUAD palette[16] = {};
    palette[15].rgbGreen = 255;
    DalvoImage withPalette(5, 5, 4, palette), rgb(5, 5, 24, palette);
    EXPECT_EQ(withPalette.getPalette()[15].rgbGreen, 255); // not setSize's index ramp
    EXPECT_EQ(rgb.getPalette(), nullptr);                  // no palette to replace
}

TEST(DalvoImage, BytesPerLineLeaveOutThePadding) {
    EXPECT_EQ((std::vector<unsigned>{DalvoImage(5, 5, 24).GetBytesPerLine(),
                                     DalvoImage(FIT_BITMAP, 9, 1, 1).GetBytesPerLine(),
                                     DalvoImage().GetBytesPerLine()}),
              (std::vector<unsigned>{15, 2, 0}));
}

TEST(DalvoImage, CopiesCarryHistoryFlagsSettingsButNoRasterOrDisplayBitmap) {
    ImageProbe source = patterned<ImageProbe>(8, 3, 16, FIT_UINT16), target(FIT_BITMAP, 2, 2, 8), empty;
    source.SetPreprocessStr(L"{Crop}{Flip Vertically}");
    source.SetPaletteState(7);
    source.SetHistoryRecording(0);
    source.setOddSettings();
    source.plantCache(new RasterImage(8, 3, 16));
    source.makePrivateDisplay();
    auto expectCarried = [](const ImageProbe& copy) {
        EXPECT_EQ(copy.GetPreprocessStr(), CString(L"{Crop}{Flip Vertically}"));
        EXPECT_EQ((std::vector<int>{copy.GetPaletteState(), copy.GetHistoryRecording()}),
                  (std::vector<int>{7, 0}));
        EXPECT_EQ(copy.cache(), nullptr);
        EXPECT_EQ(displaySettings(copy), kOddSettings);
    };
    {
        ImageProbe copy(source);
        expectCarried(copy);
        EXPECT_TRUE(samePixels(copy, source));
        EXPECT_EQ(copy.display(), nullptr);
        copy.makePrivateDisplay();
    } // the copy's own display bitmap goes with it, the source's stays (ASan watches both)
    EXPECT_EQ(FreeImage_GetWidth(source.display()), 8u);

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
    EXPECT_EQ(bitmapState(emptyCopy, nullptr), "kept, unmodified");
    EXPECT_EQ(emptyCopy.GetPreprocessStr(), CString(L"{Crop}"));
    FIBITMAP* before = target;
    target = empty;
    EXPECT_EQ(static_cast<FIBITMAP*>(target), before);
    EXPECT_EQ(target.GetPreprocessStr(), CString(L"{Crop}"));
}

// ...and turns recording on again; SetPreprocessStr sets the text as given and leaves the flag alone.
TEST(DalvoImageHistory, RecordingOffSkipsExactlyTheNextEntry) {
    DalvoImage image;
    image.SetHistoryRecording(0);
    image.SetPreprocessStr(L"loaded from scanner");
    EXPECT_EQ(image.GetHistoryRecording(), 0);
    image.AddPreprocessStr(L"A");
    EXPECT_EQ(image.GetHistoryRecording(), 1);
    image.AddPreprocessStr(L"B");
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"loaded from scanner{B}"));
}

TEST(DalvoImageFileTypes, ANameIsTypedByTheExtensionTableOnly) {
    const std::vector<std::string> rows = TableRows("image/data/file-types.txt");
    for (const std::string& row : rows) {
        const size_t bar = row.find(" | ");
        EXPECT_EQ(DalvoImage::GetFileType(wide(row.substr(0, bar))),
                  FreeImage_GetFIFFromFormat(row.substr(bar + 3).c_str()))
            << row;
    }
    EXPECT_EQ(rows.size(), 18u);
}

TEST(DalvoImageFileTypes, AnOpenFileIsTypedBySignature) {
    const std::tuple<std::string, std::vector<BYTE>, FREE_IMAGE_FORMAT> files[] = {
        {"filetype-png-named.tif", encoded(fipImage(FIT_BITMAP, 4, 4, 8), FIF_PNG), FIF_PNG},
        {"filetype-junk.tif", {'n', 'o', 'p', 'e'}, FIF_UNKNOWN}, // no fallback to ".tif"
        {kNonAsciiName, encoded(fipImage(FIT_UINT16, 4, 4, 16), FIF_TIFF), FIF_TIFF}};
    for (const auto& [name, bytes, fif] : files) {
        writeBytes(scratch(name), bytes);
        CFile file(wide(scratch(name)), CFile::modeRead);
        EXPECT_EQ(DalvoImage::GetFileType(&file), fif) << name;
    }
    EXPECT_EQ(DalvoImage::GetFileType(static_cast<CFile*>(nullptr)), FIF_UNKNOWN);
}

TEST(DalvoImageLoading, LoadsTouchTheBitmapOnly) {
    fipImage blot = patterned(13, 7, 16, FIT_UINT16);
    const std::string path = saved(blot, kNonAsciiName);
    // A load replaces the bitmap only: history, palette state and display settings stay.
    ImageProbe image;
    image.AddPreprocessStr(L"Crop");
    image.SetPaletteState(3);
    image.setOddSettings();
    EXPECT_TRUE(createFromFile(image, path));
    EXPECT_TRUE(samePixels(image, blot));
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{Crop}"));
    EXPECT_EQ(image.GetPaletteState(), 3);
    EXPECT_EQ(displaySettings(image), kOddSettings);

    // No format FreeImage reads, or no file or bytes: the image stays (junk files take fipImage's path).
    BYTE bytes[] = {'J', 'U', 'N', 'K', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    FIBITMAP* before = unmodified(image);
    EXPECT_EQ((std::vector<BOOL>{image.CreateFromFile(nullptr), image.Load(bytes, sizeof bytes),
                                 image.Load(nullptr, 0), image.Load(nullptr, 100)}),
              std::vector<BOOL>(4, FALSE));
    EXPECT_EQ(bitmapState(image, before), "kept, unmodified");

    // From memory the bytes stay the caller's; a truncated file leaves the image empty with its history.
    std::vector<BYTE> png = encoded(blot, FIF_PNG);
    const std::vector<BYTE> untouched = png;
    DalvoImage other;
    EXPECT_TRUE(other.Create(png.data(), static_cast<DWORD>(png.size())));
    EXPECT_TRUE(samePixels(other, blot));
    EXPECT_EQ(png, untouched);
    EXPECT_FALSE(image.Load(png.data(), 40));
    EXPECT_FALSE(image.IsAvailable());
    EXPECT_EQ(image.GetPreprocessStr(), CString(L"{Crop}"));
}

TEST(DalvoImageSaving, AWideNameIsWrittenUnderItsUtf8Spelling) {
    DalvoImage image = patterned<DalvoImage>(13, 7, 16, FIT_UINT16);
    fipImage back;
    const std::string nonAscii = scratch(std::string("saving ") + kNonAsciiName);
    EXPECT_TRUE(image.save(wide(nonAscii)));
    ASSERT_TRUE(back.load(nonAscii.c_str()));
    EXPECT_TRUE(samePixels(back, image));
}
