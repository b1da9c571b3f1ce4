// The drawing library stand-in: document ownership and storage, selection, the selection
// tool's band (view coordinates are checked through the image object's drawing).
#include "DrawingTestKit.h"

namespace {

CDrawObject* addRect(CDrawDocument& doc, int l, int t, int r, int b) {
    auto* o = new CDrawObject(CRect(l, t, r, b));
    EXPECT_TRUE(doc.AddObject(o, 0));
    return o;
}

} // namespace

TEST(DrawLib, DocumentOwnsItsObjectsOnTopOrBeneath) {
    CDrawDocument doc;
    CDrawObject* a = addRect(doc, 0, 0, 10, 10);
    auto* b = new CDrawObject(CRect(1, 1, 2, 2));
    EXPECT_TRUE(doc.AddObject(b, 1));
    EXPECT_FALSE(doc.AddObject(a, 0));
    EXPECT_FALSE(doc.AddObject(nullptr, 0));
    EXPECT_EQ(doc.GetObjectList()->GetHead(), b);
    EXPECT_EQ(a->GetDocument(), &doc);
    EXPECT_TRUE(doc.IsModified());
}

TEST(DrawLib, SelectionReplacesAddsOnceClearsAndRepaintsWhatChanged) {
    CDrawDocument doc;
    CDrawView view(&doc);
    CDrawObject* a = addRect(doc, 0, 0, 10, 10);
    CDrawObject* b = addRect(doc, 20, 0, 30, 10);
    view.ClearInvalidations();
    view.SetSelection(a, FALSE);
    view.SetSelection(b, TRUE);
    view.SetSelection(b, TRUE);
    EXPECT_EQ(view.GetSelectedObjects()->GetCount(), 2);
    ASSERT_EQ(view.GetInvalidations().size(), 2u);
    // The repainted area holds the object with room for its handles, not erased.
    EXPECT_EQ(view.GetInvalidations()[0].rect, CRect(-4, -4, 14, 14));
    EXPECT_FALSE(view.GetInvalidations()[0].bErase);
    view.SetSelection(a, FALSE);
    EXPECT_EQ(view.GetSelectedObjects()->GetHead(), a);
    EXPECT_EQ(view.GetSelectedObjects()->GetCount(), 1);
    view.SetSelection(nullptr, FALSE);
    EXPECT_TRUE(view.GetSelectedObjects()->IsEmpty());
}

TEST(DrawLib, SelectToolDragsARubberBandThatSelectsWhatItMeets) {
    CDrawDocument doc;
    CDrawView view(&doc);
    CSelectTool tool;
    view.SetTool(&tool);
    CDrawObject* a = addRect(doc, 0, 0, 10, 10);
    addRect(doc, 50, 50, 60, 60); // outside the band
    // From empty space: a band from the press point, selecting what it meets on release.
    view.OnLButtonDown(0, CPoint(40, 40));
    EXPECT_TRUE(view.m_bRubberBand);
    EXPECT_TRUE(view.m_bDragging);
    EXPECT_EQ(CDrawTool::c_pntDown, CPoint(40, 40));
    view.OnMouseMove(MK_LBUTTON, CPoint(5, 5));
    EXPECT_EQ(view.GetRubberBand(), CRect(40, 40, 5, 5));
    EXPECT_EQ(AfxGetCursorId(GetCursor()), 32512u);
    view.OnLButtonUp(0, CPoint(5, 5));
    EXPECT_FALSE(view.HasRubberBand());
    EXPECT_FALSE(view.m_bDragging);
    ASSERT_EQ(view.GetSelectedObjects()->GetCount(), 1);
    EXPECT_EQ(view.GetSelectedObjects()->GetHead(), a);
}

TEST(DrawLib, BaseDataAreStoredInTheirDocumentedBytes) {
    CDrawObject o(CRect(-1, 2, 300, 4));
    o.m_bOption1 = TRUE;
    o.m_clrFill = 0x00A0B0C0;
    const std::vector<BYTE> bytes = StoreBytes([&](CArchive& ar) { o.Serialize(ar); });
    const std::vector<BYTE> expected = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 0x2C, 1, 0, 0, 4, 0, 0, 0,
                                        1, 0, 0, 0, 0,    0,    0,    0,    0, 0, 0, 0, 0,    0, 0, 0, 0xC0, 0xB0, 0xA0, 0};
    EXPECT_EQ(bytes, expected);
    std::vector<BYTE> future = bytes;
    future[0] = 2;
    CDrawObject back;
    EXPECT_EQ(ArchiveCause([&] { LoadBytes(future, [&](CArchive& ar) { back.Serialize(ar); }); }),
              CArchiveException::badSchema);
    LoadBytes(bytes, [&](CArchive& ar) { back.Serialize(ar); });
    EXPECT_EQ(back != o, 0);
}
