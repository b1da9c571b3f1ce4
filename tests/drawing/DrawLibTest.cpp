// The drawing library stand-in: document ownership and storage, view coordinates and
// selection, the selection tool's gesture.
#include "DrawingTestKit.h"

#include <memory>

namespace {

CDrawObject* addRect(CDrawDocument& doc, int l, int t, int r, int b) {
    auto* o = new CDrawObject(CRect(l, t, r, b));
    EXPECT_TRUE(doc.AddObject(o, 0));
    return o;
}

} // namespace

TEST(DrawLib, DocumentOwnsItsObjectsOnTopOrBeneathAndHandsRemovedOnesBack) {
    CDrawDocument doc;
    CDrawView view(&doc);
    CDrawObject* a = addRect(doc, 0, 0, 10, 10);
    auto* b = new CDrawObject(CRect(1, 1, 2, 2));
    EXPECT_TRUE(doc.AddObject(b, 1));
    EXPECT_FALSE(doc.AddObject(a, 0));
    EXPECT_FALSE(doc.AddObject(nullptr, 0));
    EXPECT_EQ(doc.GetObjectList()->GetHead(), b);
    EXPECT_EQ(a->GetDocument(), &doc);
    EXPECT_TRUE(doc.IsModified());

    view.SetSelection(a, FALSE);
    EXPECT_TRUE(doc.RemoveObject(a));
    EXPECT_EQ(view.GetSelectedObjects()->GetCount(), 0);
    EXPECT_EQ(a->GetDocument(), nullptr);
    EXPECT_FALSE(doc.RemoveObject(a));
    delete a;
    b->Remove(); // leaves the document and is deleted
    EXPECT_TRUE(doc.GetObjectList()->IsEmpty());
    EXPECT_THROW(doc.GetObjectList()->GetHead(), CInvalidArgException);
}

TEST(DrawLib, ViewMapsDocumentToDrawingCoordinatesAndBack) {
    CDrawDocument doc;
    CDrawView view(&doc);
    const struct {
        CPoint scroll;
        int num, den;
        CRect doc, drawn;
    } cases[] = {
        {{0, 0}, 1, 1, {3, 4, 30, 40}, {3, 4, 30, 40}},
        {{10, 20}, 1, 1, {3, 4, 30, 40}, {-7, -16, 20, 20}},
        {{0, 0}, 2, 1, {30, 40, 3, 4}, {60, 80, 6, 8}},
        {{0, 0}, 1, 4, {-8, 0, 8, 9}, {-2, 0, 2, 2}},
    };
    for (const auto& c : cases) {
        view.SetScrollPosition(c.scroll);
        view.SetZoom(c.num, c.den);
        CRect r = c.doc;
        view.DocumentToView(r, FALSE);
        EXPECT_EQ(r, c.drawn);
        r = c.doc;
        view.DocumentToView(r, TRUE);
        CRect normal = c.drawn;
        normal.NormalizeRect();
        EXPECT_EQ(r, normal);
        if (c.den == 1) {
            CPoint p = c.drawn.TopLeft();
            view.ViewToDocument(p);
            EXPECT_EQ(p, c.doc.TopLeft());
        }
    }
    EXPECT_FALSE(view.SetZoom(0, 1));
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

TEST(DrawLib, SelectToolDragsARubberBandOrMovesTheSelection) {
    CDrawDocument doc;
    CDrawView view(&doc);
    CSelectTool tool;
    view.SetTool(&tool);
    CDrawObject* a = addRect(doc, 0, 0, 10, 10);
    CDrawObject* b = addRect(doc, 50, 50, 60, 60);

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

    // On an object: it is selected and moves with the mouse.
    view.OnLButtonDown(0, CPoint(55, 55));
    view.OnMouseMove(MK_LBUTTON, CPoint(57, 54));
    view.OnMouseMove(MK_LBUTTON, CPoint(60, 50));
    view.OnLButtonUp(0, CPoint(60, 50));
    EXPECT_EQ(b->m_rcBounds, CRect(55, 45, 65, 55));
    EXPECT_EQ(a->m_rcBounds, CRect(0, 0, 10, 10));
    EXPECT_TRUE(view.IsSelected(b));
    EXPECT_FALSE(view.IsSelected(a));
}

TEST(DrawLib, BaseDataAreStoredInTheirDocumentedBytes) {
    CDrawObject o(CRect(-1, 2, 300, 4));
    o.m_bOption1 = TRUE;
    o.m_clrFill = 0x00A0B0C0;
    const std::vector<BYTE> bytes = StoreBytes([&](CArchive& ar) { o.Serialize(ar); });
    const std::vector<BYTE> expected = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 0x2C, 1, 0, 0, 4, 0, 0, 0,
                                        1, 0, 0, 0, 0,    0,    0,    0,    0, 0, 0, 0, 0,    0, 0, 0, 0xC0, 0xB0, 0xA0, 0};
    EXPECT_EQ(bytes, expected);
    for (size_t cut : {size_t(0), size_t(3), bytes.size() - 1}) {
        CDrawObject back(CRect(7, 7, 7, 7));
        EXPECT_EQ(ArchiveCause([&] {
                      LoadBytes(std::vector<BYTE>(bytes.begin(), bytes.begin() + cut),
                                     [&](CArchive& ar) { back.Serialize(ar); });
                  }),
                  CArchiveException::endOfFile);
        EXPECT_EQ(back.m_rcBounds, CRect(7, 7, 7, 7));
    }
    std::vector<BYTE> future = bytes;
    future[0] = 2;
    CDrawObject back;
    EXPECT_EQ(ArchiveCause([&] { LoadBytes(future, [&](CArchive& ar) { back.Serialize(ar); }); }),
              CArchiveException::badSchema);
    LoadBytes(bytes, [&](CArchive& ar) { back.Serialize(ar); });
    EXPECT_EQ(back != o, 0);
}
