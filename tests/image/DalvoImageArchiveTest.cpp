// The archive body of an image: bytes by hand, what reading keeps, hostile bodies, round trips.
#include "ImageTestKit.h"
#include "framework/ArchiveTestSupport.h"

using namespace imagetest;

namespace {

/// The version-0 body around image bytes: a history already spelled, N, the bytes.
Bytes Body(const Bytes& history, const Bytes& image) {
    return history + Le32(image.size()) + image;
}

/// A display block: brightness 12.5, contrast -3.25, gamma 2.2, limits 10 and 200, the palette code.
Bytes Block(unsigned palette) {
    return Hx("0000000000002940 0000000000000AC0 9A99999999990140 0A000000 C8000000") + Le32(palette);
}

const Bytes kEnvelope1 = Hx(Cls(1, "DalvoImage")), kEnvelope0 = Hx(Cls(0, "DalvoImage"));
const Bytes kCropHistory = Hx("FF FEFF 06") + Units({'{', 'C', 'r', 'o', 'p', '}'});

/// A 2 x 2 24-bit BMP: bottom row blue, red; top row green, white (rows padded to 8 bytes).
const Bytes kBmp = Hx("'BM' 46000000 00000000 36000000 28000000 02000000 02000000 0100 1800 00000000"
                      "10000000 130B0000 130B0000 00000000 00000000"
                      "FF0000 0000FF 0000  00FF00 FFFFFF 0000");

/// The image an archive holds, read through the framework's envelope; null when reading raised.
std::unique_ptr<DalvoImage> readImage(const Bytes& bytes, ULONGLONG* left = nullptr) {
    std::unique_ptr<DalvoImage> image;
    const ULONGLONG rest = LoadBytes(bytes, [&](CArchive& ar) {
        image.reset(static_cast<DalvoImage*>(ar.ReadObject(RUNTIME_CLASS(DalvoImage))));
    });
    if (left) *left = rest;
    return image;
}

Bytes storeImage(const DalvoImage& image) {
    return StoreBytes([&](CArchive& ar) { ar.WriteObject(&image); });
}

/// Reads a body straight into an existing image, as a host that reuses its object would.
void readInto(DalvoImage& image, const Bytes& body, int schema) {
    LoadBytes(body, [&](CArchive& ar) {
        ar.SetObjectSchema(schema);
        image.Serialize(ar);
    });
}

/// The settings the display block holds or, with tones, the tone mapping, which it does not.
std::vector<double> storedSettings(const fipWinImage& image, bool tones = false) {
    const std::vector<double> all = displaySettings(image);
    return tones ? std::vector<double>(all.begin() + 6, all.end())
                 : std::vector<double>(all.begin(), all.begin() + 6);
}

} // namespace

TEST(DalvoImageArchive, ReadsHandBuiltBodiesOfBothSchemas) {
    const Bytes gray8 = handWrittenTiff({{4, 3, 1, 8, ""}});
    const Bytes imager16 = handWrittenTiff({{6, 5, 1, 16, "Bio-Rad Laboratories"}});
    const Bytes tail = Hx("'next'");
    const std::vector<double> stored = {12.5, -3.25, 2.2, 10, 200, PaletteShadesOfRed};
    const std::vector<double> code9 = {12.5, -3.25, 2.2, 10, 200, PaletteNormal}; // no such palette
    const std::vector<double> fresh = {0, 0, 1, 0, 255, PaletteNormal};
    const auto body = [](const Bytes& image) { return Body(kCropHistory, image); };
    const struct {
        const char* what;
        Bytes bytes;
        FREE_IMAGE_TYPE type;
        unsigned width;
        std::vector<double> settings;
        ULONGLONG left;
    } cases[] = {
        {"schema 1", kEnvelope1 + body(gray8) + Block(3), FIT_BITMAP, 4, stored, 0},
        {"palette code 9", kEnvelope1 + body(gray8) + Block(9), FIT_BITMAP, 4, code9, 0},
        {"schema 0, then the host's bytes", kEnvelope0 + body(gray8) + tail, FIT_BITMAP, 4, fresh, 4},
        {"BMP bytes", kEnvelope1 + body(kBmp) + Block(3), FIT_BITMAP, 2, stored, 0},
        {"imager TIFF", kEnvelope1 + body(imager16) + Block(3), FIT_UINT16, 6, stored, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ULONGLONG left = 99;
        std::unique_ptr<DalvoImage> image;
        ASSERT_EQ(ArchiveCause([&] { image = readImage(c.bytes, &left); }), -1);
        EXPECT_EQ(image->GetPreprocessStr().str(), L"{Crop}");
        EXPECT_EQ(image->getImageType(), c.type);
        EXPECT_EQ(image->getWidth(), c.width);
        EXPECT_EQ(storedSettings(*image), c.settings);
        EXPECT_EQ(left, c.left);
        EXPECT_TRUE(image->isModified());
    }

    // The pixels are the stored file's: the hand-written TIFF's byte i is i * 7, top row first.
    std::unique_ptr<DalvoImage> image = readImage(cases[0].bytes);
    BYTE value = 0;
    ASSERT_TRUE(image->getPixelIndex(1, 2, &value)); // row 2 from the bottom is the top row
    EXPECT_EQ(value, 7);
}

TEST(DalvoImageArchive, ReadingKeepsWhatTheArchiveDoesNotHold) {
    ImageProbe image(FIT_UINT16, 8, 8, 16);
    image.SetHistoryRecording(0);
    image.SetPaletteState(7);
    image.setToneMappingOperator(FITMO_REINHARD05, 0.5, 0.25, 0.75, 0.125);
    RasterImage* raster = image.getRasterImage();
    image.setModified(FALSE);
    const Bytes body = Body(kCropHistory, handWrittenTiff({{4, 3, 1, 8, ""}})) + Block(1);
    readInto(image, body, 1);
    EXPECT_EQ(image.getWidth(), 4u);
    EXPECT_EQ(image.GetPreprocessStr().str(), L"{Crop}");
    EXPECT_EQ(image.GetHistoryRecording(), 0);
    EXPECT_EQ(image.GetPaletteState(), 7);
    EXPECT_EQ(storedSettings(image, true), std::vector<double>({FITMO_REINHARD05, 0.5, 0.25, 0.75, 0.125}));
    EXPECT_EQ(image.cache(), raster);
    EXPECT_TRUE(image.isModified());

    // Without a stored schema (Serialize called directly) nothing is read.
    EXPECT_EQ(LoadBytes(body, [&](CArchive& ar) { image.Serialize(ar); }), body.size());

    // A new image read from the archive has a new image's defaults, and no raster until analysis asks.
    ImageProbe fresh;
    readInto(fresh, body, 1);
    EXPECT_EQ(fresh.GetHistoryRecording(), 1);
    EXPECT_EQ(fresh.GetPaletteState(), 0);
    EXPECT_EQ(storedSettings(fresh, true), std::vector<double>({FITMO_DRAGO03, 0, 0, 1, 0}));
    EXPECT_EQ(fresh.cache(), nullptr);
}

TEST(DalvoImageArchive, WritesTheBodyByteForByte) {
    auto image = patterned<DisplayProbe<DalvoImage>>(10, 10, 8);
    image.setOddSettings();
    // Envelope, empty history, N, N bytes of TIFF, the block of 10, 20, 2.2, 12, 200 and palette 2. The
    // LZW output is compared decoded: FreeImage's writer leaves a padding bit of its last code unset.
    const Bytes bytes = storeImage(image),
                block = Hx("0000000000002440 0000000000003440 9A99999999990140 0C000000 C8000000 02000000");
    ASSERT_GT(bytes.size(), kEnvelope1.size() + 8 + 36);
    const size_t n = bytes.size() - kEnvelope1.size() - 8 - 36;
    EXPECT_EQ(Hex(Bytes(bytes.begin(), bytes.begin() + kEnvelope1.size() + 12)),
              Hex(kEnvelope1 + Hx("FF FEFF 00") + Le32(n) + Hx("'II' 2A00")));
    EXPECT_EQ(Hex(Bytes(bytes.end() - 36, bytes.end())), Hex(block));
    fipImage tiff = decoded(Bytes(bytes.begin() + kEnvelope1.size() + 8, bytes.end() - 36));
    EXPECT_TRUE(samePixels(tiff, image));

    // A palette code outside 0..5 is written as 0.
    DalvoImage odd(FIT_BITMAP, 2, 2, 8);
    odd.setPalette(enPalette(9));
    const Bytes oddBytes = storeImage(odd);
    EXPECT_EQ(Hex(Bytes(oddBytes.end() - 4, oddBytes.end())), "00 00 00 00");

    // Empty, or 565 (FreeImage's TIFF writer would leave the pixels out): history, then genericException.
    DalvoImage empty, rgb565;
    rgb565.setSize(FIT_BITMAP, 4, 4, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK);
    for (DalvoImage* refused : {&empty, &rgb565}) {
        refused->SetPreprocessStr(L"{a}");
        CMemFile file;
        CArchive ar(&file, CArchive::store);
        EXPECT_EQ(ArchiveCause([&] { ar.WriteObject(refused); }), CArchiveException::genericException);
        EXPECT_EQ(Hex(Bytes(file.GetBuffer(), file.GetBuffer() + file.GetLength())),
                  Hex(kEnvelope1 + Hx("FF FEFF 03") + Units({'{', 'a', '}'})));
    }
}

TEST(DalvoImageArchive, HostileBodiesRaiseTheirCause) {
    const Bytes tiff = handWrittenTiff({{4, 3, 1, 8, ""}});
    const auto stored = [](const Bytes& image) { return kEnvelope1 + Body(kCropHistory, image) + Block(0); };
    const Bytes whole = stored(tiff);
    const struct {
        const char* what;
        Bytes bytes;
        int cause;
    } cases[] = {
        {"history cut short", kEnvelope1 + Hx("FF FEFF 06 7B00 4300"), CArchiveException::endOfFile},
        {"no byte count", kEnvelope1 + kCropHistory + Hx("0400"), CArchiveException::endOfFile},
        {"count past the end", kEnvelope1 + kCropHistory + Le32(tiff.size() + 1) + tiff,
         CArchiveException::endOfFile},
        {"count of 4 GB", kEnvelope1 + kCropHistory + Hx("F0FFFFFF") + tiff, CArchiveException::endOfFile},
        {"no image bytes", stored({}), CArchiveException::genericException},
        {"bytes no format takes", stored(Hx("'not an image'")), CArchiveException::genericException},
        {"TIFF cut short", stored(Bytes(tiff.begin(), tiff.begin() + 40)),
         CArchiveException::genericException},
        {"block cut short", Bytes(whole.begin(), whole.end() - 16), CArchiveException::endOfFile},
        {"schema of a newer writer", Hx(Cls(2, "DalvoImage")) + Body(kCropHistory, tiff) + Block(0),
         CArchiveException::badSchema},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ArchiveCause([&] { readImage(c.bytes); }), c.cause) << c.what;

    // Undecodable bytes leave the image empty, and the old bitmap is gone.
    DalvoImage image(FIT_BITMAP, 4, 4, 8);
    EXPECT_EQ(ArchiveCause([&] { readInto(image, Body(kCropHistory, Hx("'not an image'")), 0); }),
              CArchiveException::genericException);
    EXPECT_FALSE(image.isValid());
}

TEST(DalvoImageArchive, ByteCountIsCheckedBeforeAnythingIsAllocated) {
    // In a child with 256 MB to spare, allocating the 4 GB claimed would raise CMemoryException, which
    // ends the child abnormally.
    auto child = [] {
        const Bytes bytes = kEnvelope1 + kCropHistory + Hx("F0FFFFFF") + Block(0);
        if (!capAddressSpace(256ull << 20)) _exit(11);
        _exit(ArchiveCause([&] { readImage(bytes); }) == CArchiveException::endOfFile ? 0 : 13);
    };
    EXPECT_CHILD_EXITS_CLEANLY(child);
}

TEST(DalvoImageArchive, EveryKindOfScanComesBackWithItsHistory) {
    // A history with a character outside the Basic Multilingual Plane and unpaired surrogates.
    std::wstring history = L"{Rotate 90\u00B0}{\U0001F9EC}{";
    history += wchar_t(0xDC00), history += L"x", history += wchar_t(0xD800), history += L"}";
    // The kinds of scan a gel comes as; what TIFF keeps of other types is FreeImage's affair.
    const std::pair<FREE_IMAGE_TYPE, unsigned> types[] = {
        {FIT_BITMAP, 1}, {FIT_BITMAP, 8}, {FIT_UINT16, 16}, {FIT_BITMAP, 24}};
    for (const auto& [type, bpp] : types) {
        SCOPED_TRACE(::testing::Message() << type << "/" << bpp);
        DisplayProbe<DalvoImage> image;
        makePatterned(image, type, bpp);
        image.SetPreprocessStr(CString(history));
        image.setOddSettings();
        std::unique_ptr<DalvoImage> back = readImage(storeImage(image));
        ASSERT_TRUE(back && back->isValid());
        EXPECT_EQ(back->getBitsPerPixel(), bpp);
        EXPECT_TRUE(samePixels(*back, image));
        EXPECT_EQ(back->GetPreprocessStr().str(), history);
        EXPECT_EQ(storedSettings(*back), storedSettings(image));
    }
}
