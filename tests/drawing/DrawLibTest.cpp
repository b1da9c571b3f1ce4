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
    EXPECT_EQ(Hex(bytes), Hex(Hx("01000000 FFFFFFFF 02000000 2C010000 04000000 01000000 00000000 00000000 "
                                 "00000000 C0B0A000")));
    std::vector<BYTE> future = bytes;
    future[0] = 2;
    CDrawObject back;
    EXPECT_EQ(ArchiveCause([&] { LoadBytes(future, [&](CArchive& ar) { back.Serialize(ar); }); }),
              CArchiveException::badSchema);
    LoadBytes(bytes, [&](CArchive& ar) { back.Serialize(ar); });
    EXPECT_EQ(back != o, 0);
}
