// Stands in for the maker's drawing library on this platform: drawing objects and the list that holds them.
#pragma once

#include "platform/framework/afx.h"

#include <vector>

class CDC;
class CDrawView;
class CDrawDocument;

/// How an object's selection marks are drawn.
enum TrackerState { normal, selected, active };

/// A shape of a drawing document: a position in document coordinates and a few display
/// options. A plain CDrawObject has no look of its own (it draws nothing) and serves as the
/// base of the shapes that do. Serialisable, schema 0; its base data are stored as described
/// at Serialize.
class KESTRO_API CDrawObject : public CObject {
    DECLARE_SERIAL(CDrawObject)
public:
    CDrawObject();
    explicit CDrawObject(const CRect& position);
    /// Copies the base data; the copy belongs to no document.
    CDrawObject(const CDrawObject& src);
    ~CDrawObject() override;

    /// Stores or loads the base data: a 32-bit format number (1), the position as four signed
    /// 32-bit numbers (left, top, right, bottom), m_bOption1, m_bOption2 and m_bTranslucent as
    /// signed 32-bit numbers, the line and fill colours as unsigned 32-bit numbers. Loading a
    /// format number other than 1 raises the archive's badSchema error; a short archive its
    /// endOfFile error; the object is changed only when everything was read.
    void Serialize(CArchive& ar) override;

    /// Takes the base data; the document stays this object's.
    virtual CDrawObject& operator=(const CDrawObject& src);
    /// Nonzero when the base data are the same.
    virtual int operator==(const CDrawObject& other) const;
    /// Nonzero when the base data differ.
    virtual int operator!=(const CDrawObject& other) const;

    /// Moves the object to a new position and repaints the old and new places in the view.
    virtual void MoveTo(const CRect& position, CDrawView* pView);
    /// No resize handles: nothing here resizes an object by hand (the image object keeps to its
    /// image's size). The coordinate and the mark of any handle are the centre of the position.
    virtual int GetHandleCount();
    virtual CPoint GetHandleCoordinate(int nHandle);
    virtual CRect GetHandleRect(int nHandle);
    virtual HCURSOR GetHandleCursor(int nHandle);
    virtual void SetLineColor(COLORREF color, BOOL bRepaint);
    virtual void SetFillColor(COLORREF color, BOOL bRepaint);
    virtual void SetTranslucent(BOOL bTranslucent);
    virtual BOOL CanBeSelected();

    /// A plain object draws nothing.
    virtual void Draw(CDC* pDC, CDrawView* pView);

    virtual void DrawSolidRect(CDC* pDC, CDrawView* pView, CRect& rect);
    /// Does nothing: objects here stay upright where they are.
    virtual void Rotate(CPoint& centre, double angle);
    /// Appends nothing: a plain object shows no properties.
    virtual void FillInPositionInfo(CStringArray& lines);

    /// Moves the object by a distance.
    virtual void MoveDelta(const CPoint& delta, CDrawView* pView);
    virtual void DrawTracker(CDC* pDC, CDrawView* pView, TrackerState state);
    virtual void Offset(int dx, int dy);

    /// Nonzero when the point lies within the normalised position grown by nTolerance units
    /// on every side.
    virtual int HitTest(const CPoint& point, int nTolerance);
    /// Nonzero when the rectangle and the normalised position share at least one unit of area
    /// (an empty rectangle meets nothing).
    virtual BOOL Intersects(CRect& rect);
    /// Nonzero when the normalised position lies wholly inside the rectangle.
    virtual BOOL IsInside(CRect& rect);
    /// Does nothing, as there are no handles.
    virtual void MoveHandleTo(int nHandle, const CPoint& point, CDrawView* pView);
    /// Double click: edits the properties.
    virtual void OnOpen(CDrawView* pView);

    /// Shows nothing: a plain object has no properties of its own; objects that have some override it.
    virtual void OnEditProperties(CDrawView* pView);
    virtual void AddPropertyPages(CPropertySheet* pSheet);
    virtual void DeletePropertyPages(CPropertySheet* pSheet);
    /// A copy made with the copy constructor, added to pDoc when it is not null.
    virtual CDrawObject* Clone(CDrawDocument* pDoc);

    /// Takes the object out of its document and deletes it (an object of no document is
    /// deleted all the same). The caller must not use it afterwards.
    virtual void Remove();
    /// There are no menus here; nothing is shown.
    virtual void LoadPopupMenu(const CPoint& point, CDrawView* pView);
    /// The normalised position with room for the handles.
    virtual CRect GetAreaToBeRepainted();
    virtual void DrawTextW(CDC* pDC, CDrawView* pView, CString text, CPoint at);
    virtual BOOL CanChangeFillColor() const;
    virtual BOOL CanChangeLineColor() const;
    virtual BOOL CanChangeLineWeight() const;
    virtual BOOL CanHaveArrowEnd();

    /// The document the object belongs to (set by CDrawDocument::AddObject), or null.
    CDrawDocument* GetDocument() const { return m_pDocument; }

    CRect m_rcBounds;
    BOOL m_bOption1 = FALSE;
    BOOL m_bOption2 = FALSE;
    BOOL m_bTranslucent = FALSE;
    COLORREF m_clrLine = 0x000000;
    COLORREF m_clrFill = 0xFFFFFF;

private:
    friend class CDrawDocument;
    CDrawDocument* m_pDocument = nullptr;
};

/// A position in a CDrawObjectList, as the framework's lists hand them out: null past the end.
typedef struct __POSITION* POSITION;

/// The objects of a document or of a selection, in order; it owns none of them.
class KESTRO_API CDrawObjectList {
public:
    INT_PTR GetCount() const { return static_cast<INT_PTR>(m_objects.size()); }
    BOOL IsEmpty() const { return m_objects.empty(); }
    /// The first object; raises CInvalidArgException for an empty list.
    CDrawObject* GetHead() const;
    CDrawObject* GetTail() const;
    POSITION GetHeadPosition() const;
    /// The object at pos, and pos moved to the next one (null after the last).
    CDrawObject* GetNext(POSITION& pos) const;
    /// The position of the object, or null.
    POSITION Find(const CDrawObject* pObject) const;
    /// The object at an index; raises CInvalidArgException outside 0..count-1.
    CDrawObject* GetAt(INT_PTR index) const;
    void AddTail(CDrawObject* pObject);
    void AddHead(CDrawObject* pObject);
    /// Takes the object out; FALSE when it is not in the list.
    BOOL Remove(const CDrawObject* pObject);
    void RemoveAll() { m_objects.clear(); }

private:
    std::vector<CDrawObject*> m_objects;
};
