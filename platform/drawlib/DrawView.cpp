// Stands in for the maker's drawing library on this platform: the view of a drawing document.
#include "platform/drawlib/DrawView.h"

#include "platform/drawlib/DrawDocument.h"

IMPLEMENT_DYNAMIC(CDrawView, CWnd)

CDrawView::CDrawView(CDrawDocument* pDoc, const CSize& clientSize) : m_pDocument(pDoc) {
    Create(L"CDrawView", nullptr, WS_CHILD | WS_VISIBLE, CRect(CPoint(0, 0), clientSize), nullptr, 0);
    if (m_pDocument) m_pDocument->AddView(this);
}

CDrawView::~CDrawView() {
    if (m_pDocument) m_pDocument->RemoveView(this);
}

void CDrawView::DocumentToView(CRect& rect, BOOL bNormalize) {
    if (bNormalize) rect.NormalizeRect();
}

void CDrawView::SetSelection(CDrawObject* pObject, BOOL bAdd) {
    if (!pObject || !bAdd) {
        while (!m_selection.IsEmpty())
            Deselect(m_selection.GetHead());
        if (!pObject) return;
    }
    if (IsSelected(pObject) || !pObject->CanBeSelected()) return;
    m_selection.AddTail(pObject);
    InvalidateObject(pObject);
}

void CDrawView::Deselect(CDrawObject* pObject) {
    if (m_selection.Remove(pObject)) InvalidateObject(pObject);
}

BOOL CDrawView::IsSelected(const CDrawObject* pObject) const {
    return m_selection.Find(pObject) != nullptr;
}

CDrawObject* CDrawView::ObjectAt(const CPoint& point) {
    if (!m_pDocument) return nullptr;
    CDrawObject* pHit = nullptr;
    CDrawObjectList* pObjects = m_pDocument->GetObjectList();
    for (POSITION pos = pObjects->GetHeadPosition(); pos;) {
        CDrawObject* pObject = pObjects->GetNext(pos);
        if (pObject->HitTest(point, 0)) pHit = pObject;
    }
    return pHit;
}

void CDrawView::InvalidateObject(CDrawObject* pObject) {
    CRect area = pObject->GetAreaToBeRepainted();
    DocumentToView(area, TRUE);
    InvalidateRect(&area, FALSE);
}

void CDrawView::SetRubberBand(const CRect* pBand) {
    auto repaint = [this](CRect band) {
        band.NormalizeRect();
        band.InflateRect(1, 1);
        DocumentToView(band, TRUE);
        InvalidateRect(&band, FALSE);
    };
    if (m_bHasBand) repaint(m_band);
    m_bHasBand = pBand != nullptr;
    m_band = pBand ? *pBand : CRect();
    if (m_bHasBand) repaint(m_band);
}

void CDrawView::OnLButtonDown(UINT nFlags, CPoint point) {
    if (m_pTool) m_pTool->OnLButtonDown(m_pDocument, this, nFlags, point);
}

void CDrawView::OnLButtonDblClk(UINT nFlags, CPoint point) {
    if (m_pTool) m_pTool->OnLButtonDblClk(m_pDocument, this, nFlags, point);
}

void CDrawView::OnLButtonUp(UINT nFlags, CPoint point) {
    if (m_pTool) m_pTool->OnLButtonUp(m_pDocument, this, nFlags, point);
}

void CDrawView::OnRButtonDown(UINT nFlags, CPoint point) {
    if (m_pTool) m_pTool->OnRButtonDown(m_pDocument, this, nFlags, point);
}

void CDrawView::OnMouseMove(UINT nFlags, CPoint point) {
    if (m_pTool) m_pTool->OnMouseMove(m_pDocument, this, nFlags, point);
}

void CDrawView::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
    if (m_pTool) m_pTool->OnKeyDown(m_pDocument, this, nChar, nRepCnt, nFlags);
}

void CDrawView::OnDraw(CDC* pDC) {
    if (!m_pDocument) return;
    CDrawObjectList* pObjects = m_pDocument->GetObjectList();
    for (POSITION pos = pObjects->GetHeadPosition(); pos;)
        pObjects->GetNext(pos)->Draw(pDC, this);
    for (POSITION pos = m_selection.GetHeadPosition(); pos;)
        m_selection.GetNext(pos)->DrawTracker(pDC, this, selected);
}
