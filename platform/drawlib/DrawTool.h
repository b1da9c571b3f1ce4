// Stands in for the maker's drawing library on this platform: the mouse tools of a drawing view.
#pragma once

#include "platform/framework/afx.h"

class CDrawDocument;
class CDrawView;

/// What a tool makes or does. The numbers are the drawing library's own.
enum ToolType {
    selection = 0,
    line = 1,
    rect = 2,
    roundRect = 3,
    ellipse = 4,
    poly = 5,
    image = 6,
    text = 7,
    rotate = 8,
    cropImage = 9,
    copyImageRect = 10
};

/// A mouse tool. The view hands the active tool its mouse and key events with points in
/// document coordinates. The base tool keeps the press point and the last point of the
/// gesture in the statics, which all tools share as there is one mouse.
/// Not polymorphically deleted (no virtual destructor): tools live as long as their view.
class KESTRO_API CDrawTool {
public:
    explicit CDrawTool(ToolType type);
    CDrawTool(const CDrawTool&) = default;
    CDrawTool(CDrawTool&&) = default;
    CDrawTool& operator=(const CDrawTool&) = default;
    CDrawTool& operator=(CDrawTool&&) = default;

    /// Starts a gesture: c_pntDown and c_pntLast become the point, c_nDownFlags the flags, and
    /// the view is dragging.
    virtual void OnLButtonDown(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point);
    /// Opens the one selected object (CDrawObject::OnOpen).
    virtual void OnLButtonDblClk(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point);
    /// Ends the gesture: the view is no longer dragging.
    virtual void OnLButtonUp(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point);
    /// Cancels a gesture under way.
    virtual void OnRButtonDown(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point);
    /// c_pntLast becomes the point; the cursor is the arrow.
    virtual void OnMouseMove(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point);
    /// Escape (key 0x1B) cancels.
    virtual void OnKeyDown(CDrawDocument* pDoc, CDrawView* pView, UINT nChar, UINT nRepCnt, UINT nFlags);
    /// Edits the properties of the one selected object; nothing with none or several.
    virtual void OnEditProperties(CDrawView* pView);
    /// Ends a gesture without effect: the view neither drags nor draws a rubber band.
    virtual void OnCancel(CDrawView* pView);

    ToolType GetToolType() const { return m_drawShape; }

    static CPoint c_pntDown;
    static CPoint c_pntLast;
    static UINT c_nDownFlags;

protected:
    ToolType m_drawShape;
};

/// The selection tool. A press on an object selects it (with MK_SHIFT, adds it); a press on
/// empty space clears the selection and starts a rubber band that follows the gesture; the
/// release ends it with FinishGesture.
class KESTRO_API CSelectTool : public CDrawTool {
public:
    CSelectTool();

    void OnLButtonDown(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    void OnLButtonUp(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    /// While dragging a rubber band, the band runs from c_pntDown to the point (the view
    /// repaints the old and the new band). Then as the base tool.
    void OnMouseMove(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;

    /// Ends the gesture at a point: a rubber band on the view is taken down (its place
    /// repainted) and, when bSelect and the view still counts the gesture as a rubber band
    /// (m_bRubberBand), every object the band meets is added to the selection; the view no
    /// longer drags. m_bRubberBand is left to the caller.
    virtual void FinishGesture(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point,
                               BOOL bSelect);
};

/// Key-state flags of mouse events.
#define MK_LBUTTON 0x0001u
#define MK_SHIFT 0x0004u
#define MK_CONTROL 0x0008u
