// The drawing library stand-in: document ownership and the stored bytes of an object. Selection,
// the band and view coordinates are checked through the image tools and the image object.
#include "DrawingTestKit.h"

TEST(DrawLib, DocumentOwnsItsObjectsOnTopOrBeneath) {
    CDrawDocument doc;
    auto *a = new CDrawObject(CRect(0, 0, 10, 10)), *b = new CDrawObject(CRect(1, 1, 2, 2));
    EXPECT_TRUE(doc.AddObject(a, 0));
    EXPECT_TRUE(doc.AddObject(b, 1));
    EXPECT_FALSE(doc.AddObject(a, 0));
    EXPECT_FALSE(doc.AddObject(nullptr, 0));
    EXPECT_EQ(doc.GetObjectList()->GetHead(), b);
    EXPECT_EQ(a->GetDocument(), &doc);
    EXPECT_TRUE(doc.IsModified());
}

TEST(DrawLib, BaseDataAreStoredInTheirDocumentedBytes) {
    CDrawObject o(CRect(-1, 2, 300, 4));
    o.m_bOption1 = TRUE;
    o.m_clrFill = 0x00A0B0C0;
    const std::vector<BYTE> bytes = StoreBytes([&](CArchive& ar) { o.Serialize(ar); });
    const std::vector<BYTE> expected = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 2,    0,    0,    0, 0x2C, 1,
                                        0, 0, 4, 0, 0,    0,    1,    0,    0,    0,    0,    0, 0,    0,
                                        0, 0, 0, 0, 0,    0,    0,    0,    0xC0, 0xB0, 0xA0, 0};
    EXPECT_EQ(bytes, expected);
    std::vector<BYTE> future = bytes;
    future[0] = 2;
    CDrawObject back;
    EXPECT_EQ(ArchiveCause([&] { LoadBytes(future, [&](CArchive& ar) { back.Serialize(ar); }); }),
              CArchiveException::badSchema);
    LoadBytes(bytes, [&](CArchive& ar) { back.Serialize(ar); });
    EXPECT_EQ(back != o, 0);
}
