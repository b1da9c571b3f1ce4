// Stands in for the application framework (MFC) on this platform: windows, cursors and repainting.
#include "platform/framework/Window.h"

#include <algorithm>
#include <atomic>

namespace {
// The standard cursors of the system, one object each, so that a handle stays the same for
// the life of the process as on Windows.
struct StandardCursor {
    UINT id;
};
const StandardCursor g_standardCursors[] = {{32512}, {32513}, {32514}, {32515}, {32516}, {32640},
                                            {32641}, {32642}, {32643}, {32644}, {32645}, {32646},
                                            {32648}, {32649}, {32650}, {32651}};
std::atomic<HCURSOR> g_currentCursor{nullptr};
} // namespace

HCURSOR LoadCursor(HINSTANCE hInstance, LPCTSTR lpCursorName) {
    if (hInstance || !IS_INTRESOURCE(lpCursorName)) return nullptr;
    const UINT id = static_cast<UINT>(reinterpret_cast<UINT_PTR>(lpCursorName));
    for (const StandardCursor& c : g_standardCursors)
        if (c.id == id) return reinterpret_cast<HCURSOR>(const_cast<StandardCursor*>(&c));
    return nullptr;
}

HCURSOR SetCursor(HCURSOR hCursor) {
    return g_currentCursor.exchange(hCursor);
}

HCURSOR GetCursor() {
    return g_currentCursor.load();
}

UINT AfxGetCursorId(HCURSOR hCursor) {
    return hCursor ? reinterpret_cast<const StandardCursor*>(hCursor)->id : 0;
}

IMPLEMENT_DYNAMIC(CWnd, CObject)

CWnd::CWnd() = default;

CWnd::CWnd(HWND window) : m_hWnd(window) {}

CWnd::~CWnd() {
    DestroyWindow();
}

BOOL CWnd::Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT nID) {
    if (m_bCreated) return FALSE;
    m_strClass = lpszClassName ? lpszClassName : L"";
    m_strText = lpszWindowName ? lpszWindowName : L"";
    m_dwStyle = dwStyle;
    m_rect = rect;
    m_nID = nID;
    m_pParent = pParentWnd;
    m_bCreated = TRUE;
    if (m_pParent) m_pParent->AddChild(this);
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
    if (m_bCreated || !pParent) return FALSE;
    CWnd* pStandIn = pParent->GetDlgItem(static_cast<int>(nID));
    auto owned = pStandIn ? std::find(pParent->m_owned.begin(), pParent->m_owned.end(), pStandIn)
                          : pParent->m_owned.end();
    if (owned == pParent->m_owned.end()) return FALSE;
    pParent->m_owned.erase(owned);
    const CString strClass = pStandIn->m_strClass, strText = pStandIn->m_strText;
    const DWORD dwStyle = pStandIn->m_dwStyle;
    const CRect rect = pStandIn->m_rect;
    delete pStandIn; // ends the window and leaves the parent's list
    return Create(strClass, strText, dwStyle, rect, pParent, nID);
}

BOOL CWnd::DestroyWindow() {
    if (!m_bCreated) return FALSE;
    OnDestroy();
    while (!m_children.empty())
        m_children.back()->DestroyWindow();
    for (CWnd* pOwned : m_owned)
        delete pOwned;
    m_owned.clear();
    if (m_pParent) m_pParent->RemoveChild(this);
    m_pParent = nullptr;
    m_bCreated = FALSE;
    return TRUE;
}

CWnd* CWnd::GetDlgItem(int nID) const {
    for (CWnd* pChild : m_children)
        if (static_cast<int>(pChild->m_nID) == nID) return pChild;
    return nullptr;
}

LRESULT CWnd::SendMessage(UINT, WPARAM, LPARAM) {
    return 0;
}

void CWnd::AddChild(CWnd* pChild) {
    m_children.push_back(pChild);
}

void CWnd::RemoveChild(CWnd* pChild) {
    m_children.erase(std::remove(m_children.begin(), m_children.end(), pChild), m_children.end());
}

const AFX_MSGMAP* PASCAL CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}
