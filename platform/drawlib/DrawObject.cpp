// Stands in for the maker's drawing library on this platform: drawing objects and the list that holds them.
#include "platform/drawlib/DrawObject.h"

#include "platform/drawlib/DrawDocument.h"
#include "platform/drawlib/DrawView.h"

#include <cmath>

IMPLEMENT_SERIAL(CDrawObject, CObject, 0)

namespace {
const unsigned kBaseDataFormat = 1;
const int kHandleRadius = 3;
} // namespace

CDrawObject::CDrawObject() = default;

CDrawObject::CDrawObject(const CRect& position) : m_rcBounds(position) {}

CDrawObject::CDrawObject(const CDrawObject& src)
    : CObject(), m_rcBounds(src.m_rcBounds), m_bOption1(src.m_bOption1), m_bOption2(src.m_bOption2),
      m_bTranslucent(src.m_bTranslucent), m_clrLine(src.m_clrLine), m_clrFill(src.m_clrFill) {}

CDrawObject::~CDrawObject() = default;

void CDrawObject::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << kBaseDataFormat << static_cast<int>(m_rcBounds.left) << static_cast<int>(m_rcBounds.top)
           << static_cast<int>(m_rcBounds.right) << static_cast<int>(m_rcBounds.bottom)
           << static_cast<int>(m_bOption1) << static_cast<int>(m_bOption2) << static_cast<int>(m_bTranslucent)
           << static_cast<unsigned>(m_clrLine) << static_cast<unsigned>(m_clrFill);
        return;
    }
    unsigned format = 0;
    ar >> format;
    if (format != kBaseDataFormat) AfxThrowArchiveException(CArchiveException::badSchema, ar.m_strFileName);
    int l, t, r, b, option1, option2, translucent;
    unsigned line, fill;
    ar >> l >> t >> r >> b >> option1 >> option2 >> translucent >> line >> fill;
    m_rcBounds.SetRect(l, t, r, b);
    m_bOption1 = option1;
    m_bOption2 = option2;
    m_bTranslucent = translucent;
    m_clrLine = line;
    m_clrFill = fill;
}

CDrawObject& CDrawObject::operator=(const CDrawObject& src) {
    m_rcBounds = src.m_rcBounds;
    m_bOption1 = src.m_bOption1;
    m_bOption2 = src.m_bOption2;
    m_bTranslucent = src.m_bTranslucent;
    m_clrLine = src.m_clrLine;
    m_clrFill = src.m_clrFill;
    return *this;
}

int CDrawObject::operator==(const CDrawObject& other) const {
    return m_rcBounds == other.m_rcBounds && m_bOption1 == other.m_bOption1 &&
           m_bOption2 == other.m_bOption2 && m_bTranslucent == other.m_bTranslucent &&
           m_clrLine == other.m_clrLine && m_clrFill == other.m_clrFill;
}

int CDrawObject::operator!=(const CDrawObject& other) const {
    return !CDrawObject::operator==(other);
}

void CDrawObject::MoveTo(const CRect& position, CDrawView* pView) {
    if (position == m_rcBounds) return;
    if (pView) pView->InvalidateObject(this);
    m_rcBounds = position;
    if (pView) pView->InvalidateObject(this);
    if (m_pDocument) m_pDocument->SetModifiedFlag(TRUE);
}

int CDrawObject::GetHandleCount() {
    return 0;
}
CPoint CDrawObject::GetHandleCoordinate(int) {
    return m_rcBounds.CenterPoint();
}
CRect CDrawObject::GetHandleRect(int nHandle) {
    return CRect(GetHandleCoordinate(nHandle), CSize(0, 0));
}
HCURSOR CDrawObject::GetHandleCursor(int) {
    return LoadCursor(nullptr, IDC_ARROW);
}

void CDrawObject::SetLineColor(COLORREF color, BOOL) {
    m_clrLine = color;
}
void CDrawObject::SetFillColor(COLORREF color, BOOL) {
    m_clrFill = color;
}
void CDrawObject::SetTranslucent(BOOL bTranslucent) {
    m_bTranslucent = bTranslucent;
}
BOOL CDrawObject::CanBeSelected() {
    return TRUE;
}
void CDrawObject::Draw(CDC*, CDrawView*) {}
void CDrawObject::DrawSolidRect(CDC*, CDrawView*, CRect&) {}

void CDrawObject::Rotate(CPoint&, double) {}
void CDrawObject::FillInPositionInfo(CStringArray&) {}

void CDrawObject::MoveDelta(const CPoint& delta, CDrawView* pView) {
    CRect position = m_rcBounds;
    position.OffsetRect(delta);
    MoveTo(position, pView);
}

void CDrawObject::DrawTracker(CDC*, CDrawView*, TrackerState) {}

void CDrawObject::Offset(int dx, int dy) {
    m_rcBounds.OffsetRect(dx, dy);
}

int CDrawObject::HitTest(const CPoint& point, int nTolerance) {
    CRect r = m_rcBounds;
    r.NormalizeRect();
    r.InflateRect(nTolerance, nTolerance);
    return r.PtInRect(point) ? 1 : 0;
}

BOOL CDrawObject::Intersects(CRect& rect) {
    CRect mine = m_rcBounds, theirs = rect, overlap;
    mine.NormalizeRect();
    theirs.NormalizeRect();
    return overlap.IntersectRect(&mine, &theirs);
}

BOOL CDrawObject::IsInside(CRect& rect) {
    CRect mine = m_rcBounds, theirs = rect;
    mine.NormalizeRect();
    theirs.NormalizeRect();
    return mine.left >= theirs.left && mine.top >= theirs.top && mine.right <= theirs.right &&
           mine.bottom <= theirs.bottom;
}

void CDrawObject::MoveHandleTo(int, const CPoint&, CDrawView*) {}

void CDrawObject::OnOpen(CDrawView* pView) {
    OnEditProperties(pView);
}

void CDrawObject::OnEditProperties(CDrawView*) {}

void CDrawObject::AddPropertyPages(CPropertySheet*) {}
void CDrawObject::DeletePropertyPages(CPropertySheet*) {}

CDrawObject* CDrawObject::Clone(CDrawDocument* pDoc) {
    CDrawObject* pClone = new CDrawObject(*this);
    if (pDoc) pDoc->AddObject(pClone, 0);
    return pClone;
}

void CDrawObject::Remove() {
    if (m_pDocument) m_pDocument->RemoveObject(this);
    delete this;
}

void CDrawObject::LoadPopupMenu(const CPoint&, CDrawView*) {}

CRect CDrawObject::GetAreaToBeRepainted() {
    CRect r = m_rcBounds;
    r.NormalizeRect();
    r.InflateRect(kHandleRadius + 1, kHandleRadius + 1);
    return r;
}

void CDrawObject::DrawTextW(CDC*, CDrawView*, CString, CPoint) {}
BOOL CDrawObject::CanChangeFillColor() const {
    return TRUE;
}
BOOL CDrawObject::CanChangeLineColor() const {
    return TRUE;
}
BOOL CDrawObject::CanChangeLineWeight() const {
    return TRUE;
}
BOOL CDrawObject::CanHaveArrowEnd() {
    return FALSE;
}

// ---- CDrawObjectList -----------------------------------------------------------------------
// A position is the index of its object plus one, so that null means past the end.

namespace {
POSITION toPosition(size_t index) {
    return reinterpret_cast<POSITION>(index + 1);
}
size_t toIndex(POSITION pos) {
    return reinterpret_cast<size_t>(pos) - 1;
}
} // namespace

CDrawObject* CDrawObjectList::GetHead() const {
    if (m_objects.empty()) AfxThrowInvalidArgException();
    return m_objects.front();
}

CDrawObject* CDrawObjectList::GetTail() const {
    if (m_objects.empty()) AfxThrowInvalidArgException();
    return m_objects.back();
}

POSITION CDrawObjectList::GetHeadPosition() const {
    return m_objects.empty() ? nullptr : toPosition(0);
}

CDrawObject* CDrawObjectList::GetNext(POSITION& pos) const {
    const size_t i = toIndex(pos);
    if (!pos || i >= m_objects.size()) AfxThrowInvalidArgException();
    pos = i + 1 < m_objects.size() ? toPosition(i + 1) : nullptr;
    return m_objects[i];
}

POSITION CDrawObjectList::Find(const CDrawObject* pObject) const {
    for (size_t i = 0; i < m_objects.size(); ++i)
        if (m_objects[i] == pObject) return toPosition(i);
    return nullptr;
}

CDrawObject* CDrawObjectList::GetAt(INT_PTR index) const {
    if (index < 0 || index >= GetCount()) AfxThrowInvalidArgException();
    return m_objects[static_cast<size_t>(index)];
}

void CDrawObjectList::AddTail(CDrawObject* pObject) {
    AfxGuardAllocation([&] { m_objects.push_back(pObject); });
}

void CDrawObjectList::AddHead(CDrawObject* pObject) {
    AfxGuardAllocation([&] { m_objects.insert(m_objects.begin(), pObject); });
}

BOOL CDrawObjectList::Remove(const CDrawObject* pObject) {
    for (auto it = m_objects.begin(); it != m_objects.end(); ++it)
        if (*it == pObject) {
            m_objects.erase(it);
            return TRUE;
        }
    return FALSE;
}
