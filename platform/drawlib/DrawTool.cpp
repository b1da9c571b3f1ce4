// Stands in for the maker's drawing library on this platform: the mouse tools of a drawing view.
#include "platform/drawlib/DrawTool.h"

#include "platform/drawlib/DrawDocument.h"
#include "platform/drawlib/DrawView.h"

CPoint CDrawTool::c_pntDown;
CPoint CDrawTool::c_pntLast;
UINT CDrawTool::c_nDownFlags = 0;

CDrawTool::CDrawTool(ToolType type) : m_drawShape(type) {}

void CDrawTool::OnLButtonDown(CDrawDocument*, CDrawView* pView, UINT nFlags, const CPoint& point) {
    c_pntDown = point;
    c_pntLast = point;
    c_nDownFlags = nFlags;
    if (pView) pView->m_bDragging = TRUE;
}

void CDrawTool::OnLButtonDblClk(CDrawDocument*, CDrawView* pView, UINT, const CPoint&) {
    if (pView && pView->GetSelectedObjects()->GetCount() == 1)
        pView->GetSelectedObjects()->GetHead()->OnOpen(pView);
}

void CDrawTool::OnLButtonUp(CDrawDocument*, CDrawView* pView, UINT, const CPoint& point) {
    c_pntLast = point;
    if (pView) pView->m_bDragging = FALSE;
}

void CDrawTool::OnRButtonDown(CDrawDocument*, CDrawView* pView, UINT, const CPoint&) {
    OnCancel(pView);
}

void CDrawTool::OnMouseMove(CDrawDocument*, CDrawView*, UINT, const CPoint& point) {
    c_pntLast = point;
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
}

void CDrawTool::OnKeyDown(CDrawDocument*, CDrawView* pView, UINT nChar, UINT, UINT) {
    if (nChar == 0x1B) OnCancel(pView);
}

void CDrawTool::OnEditProperties(CDrawView* pView) {
    if (pView && pView->GetSelectedObjects()->GetCount() == 1)
        pView->GetSelectedObjects()->GetHead()->OnEditProperties(pView);
}

void CDrawTool::OnCancel(CDrawView* pView) {
    if (!pView) return;
    if (pView->m_bRubberBand) pView->SetRubberBand(nullptr);
    pView->m_bDragging = FALSE;
    pView->m_bRubberBand = FALSE;
}

CSelectTool::CSelectTool() : CDrawTool(selection) {}

void CSelectTool::OnLButtonDown(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) {
    CDrawObject* pHit = pView ? pView->ObjectAt(point) : nullptr;
    if (pHit) {
        if (!pView->IsSelected(pHit)) pView->SetSelection(pHit, (nFlags & MK_SHIFT) != 0);
        pView->m_bRubberBand = FALSE;
    } else if (pView) {
        if (!(nFlags & MK_SHIFT)) pView->SetSelection(nullptr, FALSE);
        pView->m_bRubberBand = TRUE;
    }
    CDrawTool::OnLButtonDown(pDoc, pView, nFlags, point);
}

void CSelectTool::OnLButtonUp(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) {
    FinishGesture(pDoc, pView, nFlags, point, TRUE);
    CDrawTool::OnLButtonUp(pDoc, pView, nFlags, point);
    if (pView) pView->m_bRubberBand = FALSE;
}

void CSelectTool::OnMouseMove(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) {
    // A drag from an object selects it and moves nothing: the tools built on this one use the
    // band, and the image object cannot move.
    if (pView && pView->m_bDragging && pView->m_bRubberBand) {
        const CRect band(c_pntDown, point);
        pView->SetRubberBand(&band);
    }
    CDrawTool::OnMouseMove(pDoc, pView, nFlags, point);
}

void CSelectTool::FinishGesture(CDrawDocument* pDoc, CDrawView* pView, UINT, const CPoint& point,
                                BOOL bSelect) {
    c_pntLast = point;
    if (!pView) return;
    if (pView->HasRubberBand()) {
        CRect band = pView->GetRubberBand();
        band.NormalizeRect();
        pView->SetRubberBand(nullptr);
        if (bSelect && pView->m_bRubberBand && pDoc) {
            CDrawObjectList* pObjects = pDoc->GetObjectList();
            for (POSITION pos = pObjects->GetHeadPosition(); pos;) {
                CDrawObject* pObject = pObjects->GetNext(pos);
                if (pObject->CanBeSelected() && pObject->Intersects(band)) pView->SetSelection(pObject, TRUE);
            }
        }
    }
    pView->m_bDragging = FALSE;
}
