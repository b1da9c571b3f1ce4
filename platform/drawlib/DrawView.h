// Stands in for the maker's drawing library on this platform: the view of a drawing document.
#pragma once

#include "platform/drawlib/DrawObject.h"
#include "platform/drawlib/DrawTool.h"

class CDC;
class CDrawDocument;

/// A window that shows a drawing document, keeps the selection and hands mouse and key
/// events to its active tool in document coordinates. Drawing coordinates are document
/// coordinates: the view neither scrolls nor zooms (the host's own views do).
/// Repaint requests go to the window's InvalidateRect; the cursor is the process's GetCursor().
class KESTRO_API CDrawView : public CWnd {
    DECLARE_DYNAMIC(CDrawView)
public:
    /// A view of pDoc, made a window at once with a client area of the given size.
    explicit CDrawView(CDrawDocument* pDoc, const CSize& clientSize = CSize(1024, 768));
    ~CDrawView() override;

    CDrawDocument* GetDocument() const { return m_pDocument; }

    /// Converts a document rectangle in place into drawing coordinates (the same here); when
    /// bNormalize the result is normalised (left <= right, top <= bottom).
    void DocumentToView(CRect& rect, BOOL bNormalize);

    // Selection.
    /// NULL clears the selection; otherwise the object becomes the selection (bAdd FALSE) or is
    /// added to it (bAdd TRUE). An object that cannot be selected or is already selected is not
    /// added twice. Every object whose state changes is repainted.
    void SetSelection(CDrawObject* pObject, BOOL bAdd);
    /// Takes one object out of the selection.
    void Deselect(CDrawObject* pObject);
    BOOL IsSelected(const CDrawObject* pObject) const;
    CDrawObjectList* GetSelectedObjects() { return &m_selection; }
    /// The topmost object under a document point, or null.
    CDrawObject* ObjectAt(const CPoint& point);

    /// Repaints the object's area (with room for its handles), without erasing.
    void InvalidateObject(CDrawObject* pObject);

    // The rubber band a selection gesture draws, in document coordinates.
    /// Shows the band (null: takes it down); the old and the new places are repainted.
    void SetRubberBand(const CRect* pBand);
    BOOL HasRubberBand() const { return m_bHasBand; }
    CRect GetRubberBand() const { return m_band; }

    // Tools and events (points in drawing coordinates, as the window system gives them, which are document
    // coordinates here).
    /// The active tool; null makes the view ignore the mouse. The tool stays the caller's.
    void SetTool(CDrawTool* pTool) { m_pTool = pTool; }
    CDrawTool* GetTool() const { return m_pTool; }
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonDblClk(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnRButtonDown(UINT nFlags, CPoint point);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);

    /// Paints the document: every object in order, then the marks of the selected ones.
    virtual void OnDraw(CDC* pDC);

    BOOL m_bDragging = FALSE;
    BOOL m_bRubberBand = FALSE;

private:
    friend class CDrawDocument;
    CDrawDocument* m_pDocument;
    CDrawObjectList m_selection;
    CDrawTool* m_pTool = nullptr;
    BOOL m_bHasBand = FALSE;
    CRect m_band;
};
