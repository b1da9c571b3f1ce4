// Stands in for KestroUtil, the maker's utility library, on this platform: its modal list dialog.
#include "platform/util/KestroListDialog.h"

IMPLEMENT_DYNAMIC(KestroListDialog, CDialog)

namespace {
const UINT kListId = 1000;
}

KestroListDialog::KestroListDialog(CString title, CWnd* parent, CStringArray* lines)
    : CDialog(0, parent), m_strTitle(std::move(title)), m_pLines(lines) {}

KestroListDialog::~KestroListDialog() {
    DestroyWindow();
}

BOOL KestroListDialog::CreateControls(CWnd* pParentWnd) {
    // The utility library builds this dialog in code rather than from a template.
    if (!Create(L"#32770", m_strTitle, WS_CAPTION | WS_VISIBLE, CRect(0, 0, 200, 150), pParentWnd, 0))
        return FALSE;
    return m_list.Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL, CRect(7, 7, 193, 143), this,
                         kListId);
}

BOOL KestroListDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    if (m_pLines)
        for (INT_PTR i = 0; i < m_pLines->GetSize(); ++i)
            m_list.AddString(m_pLines->GetAt(i));
    return TRUE;
}
