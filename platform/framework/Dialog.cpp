// Stands in for the application framework (MFC) on this platform: dialogs, property pages, list boxes and
// message boxes.
#include "platform/framework/Dialog.h"

#include "platform/framework/Exceptions.h"
#include "platform/framework/Module.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>

// ---- Resources -----------------------------------------------------------------------------

namespace {
struct ResourceBlock {
    HMODULE hModule;
    const DLGTEMPLATEEX_DATA* templates;
    int count;
};
std::vector<ResourceBlock>& resourceBlocks() {
    static std::vector<ResourceBlock> blocks;
    return blocks;
}

HMODULE moduleOf(const void* anchor) {
    Dl_info info{};
    return ::dladdr(anchor, &info) ? info.dli_fbase : nullptr;
}

std::mutex g_handlerMutex;
AfxMessageBoxHandler g_messageBoxHandler;
AfxModalDialogHandler g_modalHandler;
} // namespace

AFX_RESOURCE_INIT::AFX_RESOURCE_INIT(const DLGTEMPLATEEX_DATA* templates, int count, const void* anchor)
    : m_templates(templates) {
    resourceBlocks().push_back({moduleOf(anchor), templates, count});
}

AFX_RESOURCE_INIT::~AFX_RESOURCE_INIT() {
    auto& blocks = resourceBlocks();
    blocks.erase(std::remove_if(blocks.begin(), blocks.end(),
                                [this](const ResourceBlock& b) { return b.templates == m_templates; }),
                 blocks.end());
}

const DLGTEMPLATEEX_DATA* AfxFindDialogTemplate(UINT nID) {
    for (CDynLinkLibrary* link = CDynLinkLibrary::GetFirst(); link; link = link->m_pNextDLL)
        for (const ResourceBlock& b : resourceBlocks())
            if (b.hModule && b.hModule == link->m_hResource)
                for (int i = 0; i < b.count; ++i)
                    if (b.templates[i].nIDResource == nID) return &b.templates[i];
    return nullptr;
}

CString AfxGetSystemClassName(WORD atom) {
    switch (atom) {
    case 0x0080:
        return L"Button";
    case 0x0081:
        return L"Edit";
    case 0x0082:
        return L"Static";
    case AFX_WNDCLASS_LISTBOX:
        return L"ListBox";
    case 0x0084:
        return L"ScrollBar";
    case 0x0085:
        return L"ComboBox";
    default:
        return CString();
    }
}

// ---- Message boxes and modal dialogs -------------------------------------------------------

AfxMessageBoxHandler AfxSetMessageBoxHandler(AfxMessageBoxHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    std::swap(handler, g_messageBoxHandler);
    return handler;
}

AfxModalDialogHandler AfxSetModalDialogHandler(AfxModalDialogHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    std::swap(handler, g_modalHandler);
    return handler;
}

int AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT nIDHelp) {
    AfxMessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_messageBoxHandler;
    }
    if (handler) return handler(lpszText ? lpszText : L"", nType, nIDHelp);
    switch (nType & 0xFu) {
    case MB_OKCANCEL:
        return IDCANCEL;
    case MB_YESNO:
        return IDNO;
    default:
        return IDOK;
    }
}

static INT_PTR runModal(CDialog& dialog) {
    AfxModalDialogHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_modalHandler;
    }
    return handler ? handler(dialog) : IDCANCEL;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.IsWindow()) return;
    if (!pDX || !rControl.SubclassDlgItem(static_cast<UINT>(nIDC), pDX->m_pDlgWnd))
        AfxThrowNotSupportedException();
}

// ---- Dialogs -------------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CDialog, CWnd)
BEGIN_MESSAGE_MAP(CDialog, CWnd)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    DestroyWindow();
}

BOOL CDialog::CreateControls(CWnd* pParentWnd) {
    const DLGTEMPLATEEX_DATA* t = AfxFindDialogTemplate(m_nIDTemplate);
    if (!t) return FALSE;
    if (!Create(L"#32770", t->title, t->style, CRect(t->x, t->y, t->x + t->cx, t->y + t->cy), pParentWnd,
                m_nIDTemplate))
        return FALSE;
    for (int i = 0; i < t->cDlgItems; ++i) {
        const DLGITEMTEMPLATEEX_DATA& item = t->items[i];
        const CRect rect(item.x, item.y, item.x + item.cx, item.y + item.cy);
        CWnd* pControl = item.windowClassAtom == AFX_WNDCLASS_LISTBOX ? new CListBox : new CWnd;
        AdoptChild(pControl);
        pControl->Create(AfxGetSystemClassName(item.windowClassAtom), item.title, item.style, rect, this,
                         item.id);
    }
    return TRUE;
}

BOOL CDialog::CreateFromTemplate(CWnd* pParentWnd) {
    if (IsWindow() || !CreateControls(pParentWnd)) return FALSE;
    OnInitDialog();
    return TRUE;
}

INT_PTR CDialog::DoModal() {
    if (!CreateFromTemplate(m_pParentWnd)) return -1;
    INT_PTR result = IDCANCEL;
    try {
        result = runModal(*this);
    } catch (...) {
        DestroyWindow();
        throw;
    }
    DestroyWindow();
    return result;
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

IMPLEMENT_DYNAMIC(CPropertyPage, CDialog)

CPropertyPage::CPropertyPage(UINT nIDTemplate, UINT nIDCaption)
    : CDialog(nIDTemplate), m_nIDCaption(nIDCaption) {}
CPropertyPage::~CPropertyPage() = default;

CString CPropertyPage::GetCaption() const {
    // No string table here: a caption number other than 0 names no text.
    if (m_nIDCaption != 0) return CString();
    const DLGTEMPLATEEX_DATA* t = AfxFindDialogTemplate(m_nIDTemplate);
    return t && t->title ? CString(t->title) : CString();
}

IMPLEMENT_DYNAMIC(CMFCPropertyPage, CPropertyPage)

CMFCPropertyPage::CMFCPropertyPage(UINT nIDTemplate, UINT nIDCaption)
    : CPropertyPage(nIDTemplate, nIDCaption) {}
CMFCPropertyPage::~CMFCPropertyPage() = default;

IMPLEMENT_DYNAMIC(CPropertySheet, CWnd)

CPropertySheet::CPropertySheet(LPCTSTR pszCaption, CWnd* pParentWnd)
    : m_strCaption(pszCaption ? pszCaption : L""), m_pParentWnd(pParentWnd) {}
CPropertySheet::~CPropertySheet() {
    DestroyWindow();
}

void CPropertySheet::AddPage(CPropertyPage* pPage) {
    if (pPage) m_pages.push_back(pPage);
}

BOOL CPropertySheet::SetActivePage(int nPage) {
    if (!IsWindow() || nPage < 0 || nPage >= GetPageCount()) return FALSE;
    CPropertyPage* pPage = m_pages[static_cast<size_t>(nPage)];
    return pPage->IsWindow() || pPage->CreateFromTemplate(this);
}

INT_PTR CPropertySheet::DoModal() {
    if (m_pages.empty()) return IDCANCEL;
    Create(L"#32770", m_strCaption, WS_CAPTION | WS_VISIBLE, CRect(), m_pParentWnd, 0);
    INT_PTR result = -1;
    try {
        if (SetActivePage(0)) result = runModal(*m_pages.front());
    } catch (...) {
        DestroyWindow();
        throw;
    }
    DestroyWindow();
    return result;
}

// ---- List box ------------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CListBox, CWnd)

CListBox::CListBox() = default;
CListBox::~CListBox() = default;

BOOL CListBox::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create(L"ListBox", nullptr, dwStyle, rect, pParentWnd, nID);
}

int CListBox::AddString(LPCTSTR lpszItem) {
    return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lpszItem)));
}
int CListBox::GetCount() const {
    return static_cast<int>(const_cast<CListBox*>(this)->SendMessage(LB_GETCOUNT));
}
int CListBox::GetTextLen(int nIndex) const {
    return static_cast<int>(
        const_cast<CListBox*>(this)->SendMessage(LB_GETTEXTLEN, static_cast<WPARAM>(nIndex)));
}
int CListBox::GetText(int nIndex, CString& text) const {
    const int len = GetTextLen(nIndex);
    if (len == LB_ERR) return LB_ERR;
    std::vector<wchar_t> buffer(static_cast<size_t>(len) + 1);
    const_cast<CListBox*>(this)->SendMessage(LB_GETTEXT, static_cast<WPARAM>(nIndex),
                                             reinterpret_cast<LPARAM>(buffer.data()));
    text = CString(buffer.data(), len);
    return len;
}

LRESULT CListBox::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsWindow()) return LB_ERR;
    const size_t index = static_cast<size_t>(wParam);
    const LPCTSTR text = reinterpret_cast<LPCTSTR>(lParam);
    switch (message) {
    case LB_ADDSTRING: {
        size_t at = m_lines.size();
        if (GetStyle() & LBS_SORT)
            at = static_cast<size_t>(
                std::upper_bound(m_lines.begin(), m_lines.end(), CString(text ? text : L""),
                                 [](const CString& a, const CString& b) { return a.CompareNoCase(b) < 0; }) -
                m_lines.begin());
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), CString(text ? text : L""));
        return static_cast<LRESULT>(at);
    }
    case LB_GETCOUNT:
        return static_cast<LRESULT>(m_lines.size());
    case LB_GETTEXTLEN:
        return index < m_lines.size() ? m_lines[index].GetLength() : LB_ERR;
    case LB_GETTEXT:
        if (index >= m_lines.size() || !lParam) return LB_ERR;
        std::copy_n(m_lines[index].GetString(), m_lines[index].GetLength() + 1,
                    reinterpret_cast<wchar_t*>(lParam));
        return m_lines[index].GetLength();
    default:
        return CWnd::SendMessage(message, wParam, lParam);
    }
}
