// The image drawing object: construction, comparison, making the image, properties and its archive record.
#include "DrawingTestKit.h"

#include <fstream>
#include <memory>

using drawtest::patterned;
using drawtest::pixel;
using drawtest::utf8;

TEST(CDrawImage, EveryWayOfMakingOneOwnsItsOwnImage) {
    CDrawImage plain, placed(CRect(1, 2, 3, 4));
    EXPECT_TRUE(plain.m_bOption1);
    EXPECT_FALSE(plain.m_bOption2);
    EXPECT_FALSE(plain.GetImage()->IsAvailable());
    EXPECT_EQ(placed.m_rcBounds, CRect(1, 2, 3, 4));

    std::unique_ptr<CDrawImage> src(patterned(6, 5));
    src->m_bOption1 = FALSE;
    CDrawImage copy(*src);
    EXPECT_NE(copy.GetImage(), src->GetImage());
    EXPECT_FALSE(copy.m_bOption1);
    EXPECT_EQ(utf8(copy.GetImage()->GetPreprocessStr()), "{Flip Vertically}");
    EXPECT_EQ(pixel(*copy.GetImage(), 5, 4), 5 + 28);

    DalvoImage* own = placed.GetImage();
    placed = *src;
    EXPECT_EQ(placed.GetImage(), own);
    EXPECT_EQ(placed.m_rcBounds, CRect(0, 0, 6, 5));
    EXPECT_EQ(pixel(*own, 1, 1), 8);

    CDrawDocument doc;
    std::unique_ptr<CDrawImage> loose(src->Clone(nullptr));
    EXPECT_EQ(loose->GetDocument(), nullptr);
    CDrawImage* added = src->Clone(&doc);
    EXPECT_EQ(doc.GetObjectList()->GetCount(), 1);
    EXPECT_EQ(doc.GetObjectList()->GetHead(), added);
    EXPECT_EQ(added->GetImage()->getWidth(), 6u);
}

TEST(CDrawImage, InequalityIsNotTheNegationOfEquality) {
    auto make = [](int w, int h, int bpp, const wchar_t* history, BOOL moved = FALSE) {
        auto o = std::make_unique<CDrawImage>();
        o->Create(w, h, bpp, nullptr);
        o->GetImage()->SetPreprocessStr(history);
        o->m_bOption2 = moved;
        return o;
    };
    const auto base = make(10, 8, 8, L"{Crop}");
    const struct {
        const char* name;
        std::unique_ptr<CDrawImage> other;
        int eq, ne;
    } cases[] = {
        {"same", make(10, 8, 8, L"{Crop}"), 1, 0},
        {"bits per pixel only", make(10, 8, 24, L"{Crop}"), 0, 0},
        {"history in other case", make(10, 8, 8, L"{CROP}"), 1, 0},
        {"history", make(10, 8, 8, L"{Crop}{Crop}"), 0, 1},
        {"width", make(11, 8, 8, L"{Crop}"), 0, 1},
        {"height", make(10, 9, 8, L"{Crop}"), 0, 1},
        {"moved", make(10, 8, 8, L"{Crop}", TRUE), 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(*base == *c.other, c.eq);
        EXPECT_EQ(*base != *c.other, c.ne);
    }
    // Without a bitmap an object is never equal, not even to itself, nor different.
    CDrawImage empty;
    EXPECT_EQ(empty == empty, 0);
    EXPECT_EQ(empty != empty, 0);
}

TEST(CDrawImage, CreateFitsTheObjectToANewImageOnSuccessOnly) {
    CDrawImage o;
    EXPECT_EQ(o.Create(100, 50, 8, nullptr), 1);
    EXPECT_EQ(o.m_rcBounds, CRect(0, 0, 100, 50));
    EXPECT_EQ(o.Create(-1, 50, 8, nullptr), 1);
    EXPECT_EQ(o.m_rcBounds, CRect(0, 0, 0, 0));

    std::unique_ptr<CDrawImage> src(patterned(12, 9));
    fipMemoryIO png;
    ASSERT_TRUE(src->GetImage()->saveToMemory(FIF_PNG, png));
    BYTE* data = nullptr;
    DWORD size = 0;
    png.acquire(&data, &size);
    EXPECT_EQ(o.Create(data, size, L""), 1);
    EXPECT_EQ(o.m_rcBounds, CRect(0, 0, 12, 9));
    EXPECT_EQ(utf8(o.GetImage()->GetPreprocessStr()), "");
    EXPECT_EQ(o.Create(data, size, L"{Scan}"), 1);
    EXPECT_EQ(utf8(o.GetImage()->GetPreprocessStr()), "{Scan}");

    DalvoImage* before = o.GetImage();
    BYTE junk[16] = {1, 2, 3};
    EXPECT_LT(o.Create(junk, sizeof junk, L"{Scan}"), 1);
    EXPECT_NE(o.GetImage(), before);
    EXPECT_FALSE(o.GetImage()->IsAvailable());
    EXPECT_EQ(o.m_rcBounds, CRect(0, 0, 12, 9));

    const std::string path = std::string(KESTRO_TEST_TMP) + "/drawimage.png";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
    CFile file(CString::FromUtf8(path), CFile::modeRead);
    EXPECT_EQ(o.Create(&file), 1);
    EXPECT_EQ(o.m_rcBounds, CRect(0, 0, 12, 9));
    EXPECT_EQ(pixel(*o.GetImage(), 11, 8), 11 + 56);
}

TEST(CDrawImage, ResampleFitsTheObjectWhichNeverMovesByDeltaOrOffset) {
    std::unique_ptr<CDrawImage> o(patterned(20, 10));
    o->Offset(10, 10);
    o->MoveDelta(CPoint(3, 3), nullptr);
    EXPECT_EQ(o->m_rcBounds, CRect(0, 0, 20, 10));
    o->Resample(7, 3);
    EXPECT_EQ(o->m_rcBounds, CRect(0, 0, 7, 3));
    o->Resample(0, 3); // refused by the image: the object still fits the image
    EXPECT_EQ(o->m_rcBounds, CRect(0, 0, 7, 3));
}

TEST(CDrawImage, PropertiesShowTheImageInformationInAListDialog) {
    std::unique_ptr<CDrawImage> o(patterned(1024, 768));
    CDrawDocument doc;
    CDrawView view(&doc);
    drawtest::Captured captured;
    std::vector<std::string> shown;
    captured.inspect = [&](CDialog& d) {
        shown = drawtest::lines(static_cast<KestroListDialog&>(d).GetList());
        EXPECT_EQ(static_cast<KestroListDialog&>(d).GetParentWnd(), &view);
    };
    o->OnEditProperties(&view);
    EXPECT_EQ(captured.dialogTitles, std::vector<std::string>{"Image info"});
    EXPECT_EQ(shown.size(), 4u); // the information lines, checked with the image
    EXPECT_EQ(o->m_rcBounds, CRect(0, 0, 1024, 768));
}

TEST(CDrawImage, ArchiveRecordIsBaseDataPositionThenTheImageObject) {
    std::unique_ptr<CDrawImage> o(patterned(4, 3));
    const std::vector<BYTE> bytes = StoreBytes([&](CArchive& ar) { o->Serialize(ar); });
    ASSERT_GE(bytes.size(), 40u + 16 + 16);
    EXPECT_EQ(Hex(Bytes(bytes.begin() + 40, bytes.begin() + 72)),
              Hex(Hx("00000000 00000000 04000000 03000000" + Cls(1, "DalvoImage"))));

    // Cut inside the position bytes: end of file; another object where the image should be: the
    // framework's class error. Either way the object keeps its image and place.
    CDrawImage back;
    back.Create(2, 2, 8, nullptr);
    DalvoImage* kept = back.GetImage();
    const Bytes cut(bytes.begin(), bytes.begin() + 50),
        foreign = Bytes(bytes.begin(), bytes.begin() + 56) + StoreBytes([](CArchive&ar) {
                      CDrawObject o;
                      ar << &o;
                  });
    // The end of file inside the position names no file, though the archive has one.
    for (const auto& c : {std::tuple{cut, CArchiveException::endOfFile, ""},
                          {foreign, CArchiveException::badClass, "gel.kdoc"}}) {
        try {
            LoadBytes(std::get<0>(c), [&](CArchive& ar) {
                ar.m_strFileName = L"gel.kdoc";
                back.Serialize(ar);
            });
            ADD_FAILURE() << "no exception";
        } catch (CArchiveException& e) {
            EXPECT_EQ(e.m_cause, std::get<1>(c));
            EXPECT_EQ(utf8(e.m_strFileName), std::get<2>(c));
        }
        EXPECT_EQ(back.GetImage(), kept);
        EXPECT_EQ(back.m_rcBounds, CRect(0, 0, 2, 2));
    }
}

TEST(CDrawImage, DocumentsOfImagesRoundTripWholeOrNotAtAll) {
    CDrawDocument doc;
    CDrawImage* a = patterned(12, 9, L"{Crop}");
    doc.AddObject(a, 0);
    doc.AddObject(new CDrawObject(CRect(1, 2, 3, 4)), 0);
    doc.GetObjectList()->GetAt(1)->m_bOption2 = TRUE;
    CDrawImage* b = patterned(5, 7, L"{Flip Vertically}{Crop}");
    b->GetImage()->setImageAdjustmentValues(0.5, -0.25, 1.5);
    doc.AddObject(b, 0);
    const Bytes bytes = StoreBytes([&](CArchive& ar) { doc.Serialize(ar); });
    CDrawDocument back;
    LoadBytes(bytes, [&](CArchive& ar) { back.Serialize(ar); });
    EXPECT_FALSE(back.IsModified());
    ASSERT_EQ(back.GetObjectList()->GetCount(), 3);
    auto* a2 = dynamic_cast<CDrawImage*>(back.GetObjectList()->GetAt(0));
    auto* b2 = dynamic_cast<CDrawImage*>(back.GetObjectList()->GetAt(2));
    ASSERT_TRUE(a2 && b2);
    EXPECT_EQ(*a2 == *a, 1);
    EXPECT_EQ(*b2 == *b, 1);
    EXPECT_EQ(b2->GetImage()->getGamma(), 1.5);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(pixel(*b2->GetImage(), x, y), x + 7 * y);
    EXPECT_EQ(back.GetObjectList()->GetAt(1)->m_rcBounds, CRect(1, 2, 3, 4));
    EXPECT_TRUE(back.GetObjectList()->GetAt(1)->m_bOption2);

    // Cut anywhere, or a second object that is the first again or holds the first one's image
    // (one owner per object): refused, and the document keeps what it had.
    std::vector<Bytes> damaged;
    for (size_t cut = 0; cut < bytes.size(); cut += 7)
        damaged.emplace_back(bytes.begin(), bytes.begin() + cut);
    for (bool sameImage : {false, true})
        damaged.push_back(StoreBytes([&](CArchive& ar) {
            ar << 0x434F444Bu << 1u;
            ar.WriteCount(2);
            ar.WriteObject(a); // indices: 1 its class, 2 it, 3 the image class, 4 the image
            if (!sameImage) return void(ar << WORD(2));
            ar << WORD(0x8001); // a second CDrawImage
            CDrawObject().Serialize(ar);
            ar << 0 << 0 << 1 << 1 << WORD(4);
        }));
    for (const Bytes& bad : damaged) {
        CDrawDocument kept;
        kept.AddObject(new CDrawObject(CRect(1, 1, 2, 2)), 0);
        EXPECT_NE(ArchiveCause([&] { LoadBytes(bad, [&](CArchive& ar) { kept.Serialize(ar); }); }), -1)
            << bad.size();
        ASSERT_EQ(kept.GetObjectList()->GetCount(), 1);
        EXPECT_EQ(kept.GetObjectList()->GetHead()->m_rcBounds, CRect(1, 1, 2, 2));
    }
}

TEST(CDrawImage, DrawsTheWholeImageOntoItsPositionInDrawingCoordinates) {
    CDrawDocument doc;
    CDrawImage* o = patterned(6, 5);
    doc.AddObject(o, 0);
    o->m_rcBounds = CRect(2, 1, 14, 11); // twice the image's size, away from the origin
    CDrawView view(&doc);
    CDC dc;
    ASSERT_TRUE(dc.CreateCanvas(16, 12, RGB(1, 2, 3)));
    view.OnDraw(&dc);
    // Image pixel (x, y) lands on units 2 + 2x .. 3 + 2x, 1 + 2y .. 2 + 2y.
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const int v = x + 7 * y;
            EXPECT_EQ(dc.GetPixel(3 + 2 * x, 2 + 2 * y), RGB(v, v, v)) << x << "," << y;
        }
    EXPECT_EQ(dc.GetPixel(1, 0), RGB(1, 2, 3)); // outside the position: the background
    EXPECT_EQ(dc.GetPixel(14, 11), RGB(1, 2, 3));
}
