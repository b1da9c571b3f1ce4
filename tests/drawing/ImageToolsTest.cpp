// The image tools driven headless: a document, a view, mouse events, message boxes captured.
#include "DrawingTestKit.h"

using drawtest::patterned;
using drawtest::pixel;
using drawtest::utf8;

namespace {

/// Keeps the changes announced to it, as a host's undo history would.
struct NotedDocument : CDrawDocument {
    void NoteChange(CString strWho) override { notes.push_back(utf8(strWho)); }
    std::vector<std::string> notes;
};

/// Remembers whether it was asked to repaint whole with the background erased.
struct RepaintedView : CDrawView {
    using CDrawView::CDrawView;
    void InvalidateRect(const RECT* lpRect, BOOL bErase) override { whole |= !lpRect && bErase; }
    bool whole = false;
};

struct Scene {
    NotedDocument doc;
    RepaintedView view{&doc};
    CSelectTool select;
    CImageTool image{&select};
    CCropImageTool crop{&select};
    CCopyImageRectTool copy{&select};
    drawtest::Captured captured;

    CDrawImage* add(CDrawObject* o) {
        doc.AddObject(o, 0);
        doc.SetModifiedFlag(FALSE);
        return dynamic_cast<CDrawImage*>(o);
    }
    void drag(CDrawTool& tool, CPoint from, CPoint to) {
        view.SetTool(&tool);
        doc.notes.clear();
        view.whole = false;
        view.OnLButtonDown(0, from);
        view.OnMouseMove(MK_LBUTTON, to);
        view.OnLButtonUp(0, to);
    }
};

} // namespace

TEST(ImageTools, TheImageToolOnlyRecordsTheClick) {
    Scene s;
    s.view.SetTool(&s.image);
    CDrawTool::c_pntDown = CPoint(-5, -5);
    s.view.m_bDragging = TRUE;
    s.view.OnLButtonDown(0, CPoint(3, 4));
    EXPECT_EQ(CDrawTool::c_pntLast, CPoint(3, 4));
    EXPECT_EQ(CDrawTool::c_pntDown, CPoint(-5, -5));
    EXPECT_FALSE(s.view.m_bDragging);
    SetCursor(nullptr);
    s.view.OnMouseMove(0, CPoint(1, 1));
    EXPECT_EQ(AfxGetCursorId(GetCursor()), 32515u);
}

TEST(ImageTools, TheRectangleToolsDragABandUnderTheCross) {
    Scene s;
    s.view.SetTool(&s.crop);
    s.view.OnLButtonDown(0, CPoint(2, 2));
    EXPECT_TRUE(s.view.m_bRubberBand);
    s.view.OnMouseMove(MK_LBUTTON, CPoint(9, 8));
    EXPECT_EQ(s.view.GetRubberBand(), CRect(2, 2, 9, 8));
    EXPECT_EQ(AfxGetCursorId(GetCursor()), 32515u);
}

TEST(ImageTools, TheRectangleToolsTakeThePartInsideTheDragInEitherDirection) {
    const struct {
        bool crop;
        CPoint from, to;
        CRect kept; // in source pixels
    } cases[] = {
        {true, {5, 4}, {25, 14}, {5, 4, 25, 14}},     {true, {25, 14}, {5, 4}, {5, 4, 25, 14}},
        {true, {30, 20}, {60, 50}, {30, 20, 40, 30}}, // beyond the image: the overlap
        {true, {-9, 25}, {3, -2}, {0, 0, 3, 25}},     {false, {5, 4}, {25, 14}, {5, 4, 25, 14}},
        {false, {25, 14}, {5, 4}, {5, 4, 25, 14}},    {false, {30, 20}, {60, 50}, {30, 20, 40, 30}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.crop ? "crop " : "copy ") << c.from.x << "," << c.from.y);
        Scene s;
        CDrawImage* src = s.add(patterned(40, 30));
        s.view.SetSelection(src, FALSE);
        s.drag(c.crop ? static_cast<CDrawTool&>(s.crop) : s.copy, c.from, c.to);
        ASSERT_EQ(s.doc.GetObjectList()->GetCount(), c.crop ? 1 : 2);
        auto* made = dynamic_cast<CDrawImage*>(s.doc.GetObjectList()->GetTail());
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(made->m_rcBounds, CRect(0, 0, c.kept.Width(), c.kept.Height()));
        EXPECT_EQ(pixel(*made->GetImage(), 0, 0), (c.kept.left + 7 * c.kept.top) % 256);
        EXPECT_EQ(utf8(made->GetImage()->GetPreprocessStr()), "{Flip Vertically}{Crop}");
        EXPECT_EQ(s.view.GetSelectedObjects()->GetCount(), 1);
        EXPECT_EQ(s.view.GetSelectedObjects()->GetHead(), made);
        EXPECT_EQ(s.doc.notes, c.crop ? std::vector<std::string>{"CCropImageTool::OnLButtonUp"}
                                      : std::vector<std::string>(2, "CCopyImageRectTool::OnLButtonUp"));
        EXPECT_TRUE(s.doc.IsModified());
        EXPECT_TRUE(s.view.whole);
        EXPECT_FALSE(s.view.m_bDragging);
        EXPECT_TRUE(s.captured.boxes.empty());
        if (c.crop) continue;
        // The copy ends the band and leaves its source alone.
        EXPECT_FALSE(s.view.m_bRubberBand);
        EXPECT_EQ(src->m_rcBounds, CRect(0, 0, 40, 30));
        EXPECT_EQ(utf8(src->GetImage()->GetPreprocessStr()), "{Flip Vertically}");
        EXPECT_EQ(pixel(*src->GetImage(), 39, 29), (39 + 7 * 29) % 256);
    }
}

TEST(ImageTools, MessagesLeaveTheDocumentUnchanged) {
    { // A click crops nothing; copying one copies nothing.
        Scene s;
        CDrawImage* img = s.add(patterned(40, 30));
        s.drag(s.crop, CPoint(5, 5), CPoint(5, 5));
        s.drag(s.copy, CPoint(5, 5), CPoint(5, 5));
        ASSERT_EQ(s.captured.boxes.size(), 2u);
        EXPECT_EQ(s.captured.boxes[0].text, "Could not crop and invalid selection!");
        EXPECT_EQ(s.captured.boxes[1].text, "Copied nothing!");
        EXPECT_EQ(s.captured.boxes[1].type, 0u);
        EXPECT_EQ(s.captured.boxes[1].help, 0u);
        EXPECT_EQ(img->m_rcBounds, CRect(0, 0, 40, 30));
        EXPECT_EQ(s.doc.GetObjectList()->GetCount(), 1);
        EXPECT_FALSE(s.doc.IsModified());
        EXPECT_TRUE(s.doc.notes.empty());
        EXPECT_TRUE(s.view.whole);
    }
    { // A selected object that is not an image: the crop says so and repaints nothing.
        Scene s;
        s.add(patterned(40, 30));
        CDrawObject* shape = new CDrawObject(CRect(0, 0, 50, 50));
        s.add(shape);
        s.view.SetSelection(shape, FALSE);
        s.drag(s.crop, CPoint(1, 1), CPoint(20, 20));
        ASSERT_EQ(s.captured.boxes.size(), 1u);
        EXPECT_EQ(s.captured.boxes[0].text, "You can only crop an image!");
        EXPECT_FALSE(s.view.whole);
        EXPECT_TRUE(s.view.m_bDragging); // the release returned at once
        EXPECT_FALSE(s.doc.IsModified());
        // The copy tool does not take it for an image and says nothing.
        s.drag(s.copy, CPoint(1, 1), CPoint(20, 20));
        EXPECT_EQ(s.captured.boxes.size(), 1u);
        EXPECT_EQ(s.doc.GetObjectList()->GetCount(), 2);
        EXPECT_FALSE(s.view.m_bDragging);
    }
}

TEST(ImageTools, SeveralOrNoSelectedObjectsMeanTheFirst) {
    Scene s;
    CDrawImage* first = s.add(patterned(40, 30));
    CDrawImage* second = s.add(patterned(20, 20));
    s.view.SetSelection(first, FALSE);
    s.view.SetSelection(second, TRUE);
    s.drag(s.crop, CPoint(0, 0), CPoint(10, 10));
    EXPECT_EQ(first->m_rcBounds, CRect(0, 0, 10, 10));
    EXPECT_EQ(second->m_rcBounds, CRect(0, 0, 20, 20));
    s.view.SetSelection(nullptr, FALSE);
    s.drag(s.copy, CPoint(0, 0), CPoint(5, 5));
    EXPECT_EQ(s.doc.GetObjectList()->GetCount(), 3);
    EXPECT_EQ(utf8(s.view.GetSelectedObjects()->GetHead()->GetRuntimeClass()->m_lpszClassName), "CDrawImage");
}

TEST(ImageTools, AnEmptyDocumentIsLeftAlone) {
    Scene empty;
    empty.drag(empty.crop, CPoint(0, 0), CPoint(10, 10));
    empty.drag(empty.copy, CPoint(0, 0), CPoint(10, 10));
    EXPECT_TRUE(empty.captured.boxes.empty());
    EXPECT_TRUE(empty.doc.GetObjectList()->IsEmpty());
    EXPECT_FALSE(empty.doc.IsModified());
    EXPECT_FALSE(empty.view.m_bDragging);
}
