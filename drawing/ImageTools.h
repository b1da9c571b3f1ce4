// Mouse tools that work on image objects: a cross-cursor image tool, crop, and copy of a rectangle.
#pragma once

#include "platform/drawlib/DrawTool.h"

class CDrawDocument;
class CDrawView;
class CSelectTool;

/// Shows a cross cursor over the view and records the last press point; its release does
/// nothing.
class KESTRO_API CImageTool : public CDrawTool {
public:
    /// Tool type 6; the selection tool is not used (m_pSelectTool stays null).
    explicit CImageTool(CSelectTool* pSelectTool);

    /// c_pntLast becomes the point; the view does not drag. The base press is not run.
    void OnLButtonDown(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    void OnLButtonDblClk(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    void OnLButtonUp(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    /// The cross cursor.
    void OnMouseMove(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;

    CSelectTool* m_pSelectTool;
};

/// Drag a rectangle over an image; the release cuts the image down to the part inside it.
///
/// The target is the one selected object, else (none or several selected) the document's
/// first object. With no target at all (nothing selected, empty document) the release only
/// ends the gesture: no message, no change.
class KESTRO_API CCropImageTool : public CDrawTool {
public:
    /// Tool type 9; the selection tool follows the drag and must outlive this tool's use.
    explicit CCropImageTool(CSelectTool* pSelectTool);

    void OnLButtonDown(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    void OnLButtonDblClk(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    void OnLButtonUp(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    void OnMouseMove(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;

    CSelectTool* m_pSelectTool;
};

/// Drag a rectangle over an image; the release makes the part inside it a new image object
/// at the document origin, added to the document and selected alone. The source is not
/// changed.
///
/// Target as for CCropImageTool. A target that is not an image, and no target at all, only
/// end the gesture: no message (the library shows only its three), no change.
class KESTRO_API CCopyImageRectTool : public CDrawTool {
public:
    /// Tool type 10; the selection tool follows the drag and must outlive this tool's use.
    explicit CCopyImageRectTool(CSelectTool* pSelectTool);

    void OnLButtonDown(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    void OnLButtonDblClk(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    void OnLButtonUp(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;
    void OnMouseMove(CDrawDocument* pDoc, CDrawView* pView, UINT nFlags, const CPoint& point) override;

    CSelectTool* m_pSelectTool;
};
