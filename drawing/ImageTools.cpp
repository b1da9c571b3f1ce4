// Mouse tools that work on image objects: a cross-cursor image tool, crop, and copy of a rectangle.
#include "drawing/ImageTools.h"

#include "drawing/CDrawImage.h"
#include "platform/drawlib/DrawDocument.h"
#include "platform/drawlib/DrawView.h"

#include <memory>

namespace {

void showCross() {
    SetCursor(LoadCursor(nullptr, IDC_CROSS));
}

// The press and move that the crop and copy tools share.
void rectanglePress(CDrawTool& tool, CDrawDocument* pDoc, CDrawView* pView, UINT nFlags,
                    const CPoint& point) {
    tool.CDrawTool::OnLButtonDown(pDoc, pView, nFlags, point);
    pView->m_bRubberBand = TRUE;
}

void rectangleMove(CSelectTool* pSelectTool, CDrawDocument* pDoc, CDrawView* pView, UINT nFlags,
                   const CPoint& point) {
    pSelectTool->OnMouseMove(pDoc, pView, nFlags, point);
    showCross();
}

CRect selectionRectangle(const CPoint& point) {
    CRect rect(CDrawTool::c_pntDown, point);
    rect.NormalizeRect();
    return rect;
}

// The one selected object, else the document's first; null when there is neither.
CDrawObject* targetObject(CDrawDocument* pDoc, CDrawView* pView) {
    CDrawObjectList* pSelection = pView->GetSelectedObjects();
    if (pSelection->GetCount() == 1) return pSelection->GetHead();
    CDrawObjectList* pObjects = pDoc->GetObjectList();
    return pObjects->IsEmpty() ? nullptr : pObjects->GetHead();
}

CRect overlap(const CRect& selection, const CRect& bounds) {
    CRect rect;
    rect.IntersectRect(&selection, &bounds);
    return rect;
}

} // namespace

// ---- CImageTool ----------------------------------------------------------------------------

CImageTool::CImageTool(CSelectTool*) : CDrawTool(image), m_pSelectTool(nullptr) {}

void CImageTool::OnLButtonDown(CDrawDocument*, CDrawView* pView, UINT, const CPoint& point) {
    c_pntLast = point;
    pView->m_bDragging = FALSE;
}

void CImageTool::OnLButtonDblClk(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) {
    CDrawTool::OnLButtonDblClk(pDoc, pView, nFlags, point);
}

void CImageTool::OnLButtonUp(CDrawDocument*, CDrawView*, UINT, const CPoint&) {}

void CImageTool::OnMouseMove(CDrawDocument*, CDrawView*, UINT, const CPoint&) {
    showCross();
}

// ---- CCropImageTool ------------------------------------------------------------------------

CCropImageTool::CCropImageTool(CSelectTool* pSelectTool) : CDrawTool(cropImage), m_pSelectTool(pSelectTool) {}

void CCropImageTool::OnLButtonDown(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) {
    rectanglePress(*this, pDoc, pView, nFlags, point);
}

void CCropImageTool::OnLButtonDblClk(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags,
                                     const CPoint& point) {
    CDrawTool::OnLButtonDblClk(pDoc, pView, nFlags, point);
}

void CCropImageTool::OnMouseMove(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) {
    rectangleMove(m_pSelectTool, pDoc, pView, nFlags, point);
}

void CCropImageTool::OnLButtonUp(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) {
    CRect rect = selectionRectangle(point);
    CDrawObject* pTarget = targetObject(pDoc, pView);
    if (pTarget && !pTarget->IsKindOf(RUNTIME_CLASS(CDrawImage))) {
        AfxMessageBox(L"You can only crop an image!", 0, 0);
        return;
    }
    if (pTarget) {
        if (!pTarget->Intersects(rect)) {
            AfxMessageBox(L"Could not crop and invalid selection!", 0, 0);
        } else {
            auto* pImage = static_cast<CDrawImage*>(pTarget);
            pDoc->NoteChange(L"CCropImageTool::OnLButtonUp");
            pImage->GetImage()->crop(overlap(rect, pImage->m_rcBounds));
            pImage->SizeToImage();
            pDoc->SetModifiedFlag(TRUE);
        }
        pView->InvalidateRect(nullptr, TRUE);
    }
    m_pSelectTool->FinishGesture(pDoc, pView, nFlags, point, TRUE);
    pView->m_bDragging = FALSE;
}

// ---- CCopyImageRectTool --------------------------------------------------------------------

CCopyImageRectTool::CCopyImageRectTool(CSelectTool* pSelectTool)
    : CDrawTool(copyImageRect), m_pSelectTool(pSelectTool) {}

void CCopyImageRectTool::OnLButtonDown(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags,
                                       const CPoint& point) {
    rectanglePress(*this, pDoc, pView, nFlags, point);
}

void CCopyImageRectTool::OnLButtonDblClk(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags,
                                         const CPoint& point) {
    CDrawTool::OnLButtonDblClk(pDoc, pView, nFlags, point);
}

void CCopyImageRectTool::OnMouseMove(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags,
                                     const CPoint& point) {
    rectangleMove(m_pSelectTool, pDoc, pView, nFlags, point);
}

void CCopyImageRectTool::OnLButtonUp(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags,
                                     const CPoint& point) {
    CRect rect = selectionRectangle(point);
    CDrawObject* pTarget = targetObject(pDoc, pView);
    const bool isImage = pTarget && pTarget->IsKindOf(RUNTIME_CLASS(CDrawImage));
    if (isImage) {
        auto* pSource = static_cast<CDrawImage*>(pTarget);
        if (!pSource->Intersects(rect)) {
            AfxMessageBox(L"Copied nothing!", 0, 0);
        } else {
            pDoc->NoteChange(L"CCopyImageRectTool::OnLButtonUp");
            const CRect crop = overlap(rect, pSource->m_rcBounds);
            std::unique_ptr<CDrawImage> pCopy(pSource->Clone(nullptr));
            pCopy->GetImage()->crop(crop);
            pCopy->SizeToImage();
            pDoc->NoteChange(L"CCopyImageRectTool::OnLButtonUp");
            pDoc->AddObject(pCopy.get(), 0);
            CDrawImage* pAdded = pCopy.release();
            pView->SetSelection(nullptr, FALSE);
            pView->SetSelection(pAdded, FALSE);
        }
        pView->InvalidateRect(nullptr, TRUE);
    }
    pView->m_bRubberBand = FALSE;
    m_pSelectTool->FinishGesture(pDoc, pView, nFlags, point, TRUE);
    pView->m_bDragging = FALSE;
}
