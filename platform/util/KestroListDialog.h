// Stands in for KestroUtil, the maker's utility library, on this platform: its modal list dialog.
#pragma once

#include "platform/framework/afx.h"

/// A modal dialog that shows lines of text in a list, one per line, under a title. The lines
/// stay the caller's and are read when the dialog is shown.
class KESTRO_API KestroListDialog : public CDialog {
    DECLARE_DYNAMIC(KestroListDialog)
public:
    KestroListDialog(CString title, CWnd* parent, CStringArray* lines);
    ~KestroListDialog() override;

    /// Fills the list from the lines.
    BOOL OnInitDialog() override;

    const CString& GetTitle() const { return m_strTitle; }
    /// The list while the dialog is shown (for the modal handler).
    CListBox& GetList() { return m_list; }

protected:
    BOOL CreateControls(CWnd* pParentWnd) override;

private:
    CString m_strTitle;
    CStringArray* m_pLines;
    CListBox m_list;
};
