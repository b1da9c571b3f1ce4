// Stands in for the application framework (MFC) on this platform: dialogs, property pages, list boxes and
// message boxes.
#pragma once

#include "platform/framework/Window.h"

#include <functional>
#include <vector>

// ---- Dialog templates ---------------------------------------------------------------------

/// Atom of the system's list box window class.
#define AFX_WNDCLASS_LISTBOX 0x0083

/// One control of an extended dialog template; positions and sizes in dialog units.
struct DLGITEMTEMPLATEEX_DATA {
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
    short x, y, cx, cy;
    DWORD id;
    WORD windowClassAtom; ///< a system class (AFX_WNDCLASS_LISTBOX ...)
    LPCTSTR title;        ///< null: no text
};

/// An extended dialog template held as data, with the resource number it is found by.
struct DLGTEMPLATEEX_DATA {
    UINT nIDResource;
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
    short x, y, cx, cy;
    LPCTSTR title;
    WORD pointsize;
    WORD weight;
    BYTE italic;
    BYTE charset;
    LPCTSTR typeface;
    WORD cDlgItems;
    const DLGITEMTEMPLATEEX_DATA* items;
};

/// Adds a module's dialog templates to the resources of the module that holds `anchor` (any
/// object of that module) for as long as the registering object lives.
class KESTRO_API AFX_RESOURCE_INIT {
public:
    AFX_RESOURCE_INIT(const DLGTEMPLATEEX_DATA* templates, int count, const void* anchor);
    ~AFX_RESOURCE_INIT();
    AFX_RESOURCE_INIT(const AFX_RESOURCE_INIT&) = delete;
    AFX_RESOURCE_INIT& operator=(const AFX_RESOURCE_INIT&) = delete;

private:
    const DLGTEMPLATEEX_DATA* m_templates;
};

/// The dialog template nID of the first module in the chain of extension libraries that has
/// one (as the framework looks up resources); null when none has.
KESTRO_API const DLGTEMPLATEEX_DATA* AfxFindDialogTemplate(UINT nID);
/// The window class name of a system class atom ("ListBox"); empty for an unknown atom.
KESTRO_API CString AfxGetSystemClassName(WORD atom);

// ---- Message boxes and modal dialogs ------------------------------------------------------

class CDialog;

/// Who answers message boxes: given the text, the type (MB_...) and the help context, returns
/// the button pressed (IDOK ...).
using AfxMessageBoxHandler = std::function<int(LPCTSTR lpszText, UINT nType, UINT nIDHelp)>;
/// Who runs modal dialogs: given the dialog, made and initialised, returns its result
/// (IDOK, IDCANCEL ...). The dialog's window is ended after the handler returns.
using AfxModalDialogHandler = std::function<INT_PTR(CDialog& dialog)>;

/// Replaces the message box handler and returns the previous one. An empty handler restores
/// the default, which shows nothing (there is no screen) and answers as a user who dismisses
/// the box would: IDOK for MB_OK, IDCANCEL for MB_OKCANCEL, IDNO for MB_YESNO.
KESTRO_API AfxMessageBoxHandler AfxSetMessageBoxHandler(AfxMessageBoxHandler handler);
/// Replaces the modal dialog handler and returns the previous one. The default ends every
/// dialog at once with IDCANCEL.
KESTRO_API AfxModalDialogHandler AfxSetModalDialogHandler(AfxModalDialogHandler handler);

/// Shows a modal message box through the handler and returns its answer.
KESTRO_API int AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// ---- Dialogs -------------------------------------------------------------------------------

/// What DoDataExchange is given: the dialog and the direction (FALSE: into the controls).
class KESTRO_API CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

/// Binds a control object to the dialog's control nIDC (made from the template): the object
/// takes the control's place. Raises CNotSupportedException when the dialog has no such control.
KESTRO_API void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

/// A dialog: a window made from a dialog template (or, for dialogs without one, by
/// CreateControls), initialised by OnInitDialog with dialog data exchange. Positions are kept
/// in dialog units.
class KESTRO_API CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
    DECLARE_MESSAGE_MAP()
public:
    explicit CDialog(UINT nIDTemplate = 0, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    /// Makes the window and runs OnInitDialog through the modal handler's hands: returns the
    /// handler's result, or -1 when the window could not be made (no such template).
    virtual INT_PTR DoModal();
    /// Makes the window (modeless) and runs OnInitDialog; FALSE when it could not be made.
    BOOL CreateFromTemplate(CWnd* pParentWnd);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);

    UINT m_nIDHelp = 0;
    CWnd* GetParentWnd() const { return m_pParentWnd; }

protected:
    /// Makes the window and its controls; the base builds them from the template.
    virtual BOOL CreateControls(CWnd* pParentWnd);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
};

/// A page of a property sheet: a dialog made from a child-window template. Its caption is
/// the string nIDCaption or, for 0, the template's caption.
class KESTRO_API CPropertyPage : public CDialog {
    DECLARE_DYNAMIC(CPropertyPage)
public:
    explicit CPropertyPage(UINT nIDTemplate = 0, UINT nIDCaption = 0);
    ~CPropertyPage() override;
    CString GetCaption() const;

protected:
    UINT m_nIDCaption;
};

/// The framework's newer property page; here as its base.
class KESTRO_API CMFCPropertyPage : public CPropertyPage {
    DECLARE_DYNAMIC(CMFCPropertyPage)
public:
    explicit CMFCPropertyPage(UINT nIDTemplate = 0, UINT nIDCaption = 0);
    ~CMFCPropertyPage() override;
};

/// A sheet of property pages; the pages stay their owners'. A page's window is made when the
/// page first becomes active (the first page when the sheet is shown).
class KESTRO_API CPropertySheet : public CWnd {
    DECLARE_DYNAMIC(CPropertySheet)
public:
    explicit CPropertySheet(LPCTSTR pszCaption = nullptr, CWnd* pParentWnd = nullptr);
    ~CPropertySheet() override;
    void AddPage(CPropertyPage* pPage);
    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    /// Makes the page's window if it has none yet; FALSE for a bad index or no sheet window.
    BOOL SetActivePage(int nPage);
    /// Makes the sheet and its first page, hands the sheet to the modal dialog handler as
    /// the first page (IDCANCEL without pages) and ends the windows.
    INT_PTR DoModal();

private:
    CString m_strCaption;
    CWnd* m_pParentWnd;
    std::vector<CPropertyPage*> m_pages;
};

// ---- List box ------------------------------------------------------------------------------

#define LB_ADDSTRING 0x0180u
#define LB_GETCOUNT 0x018Bu
#define LB_GETTEXT 0x0189u
#define LB_GETTEXTLEN 0x018Au
#define LB_ERR (-1)
#define LBS_NOTIFY 0x0001u
#define LBS_SORT 0x0002u
#define LBS_NOINTEGRALHEIGHT 0x0100u
#define LBS_NODATA 0x2000u
#define LBS_NOSEL 0x4000u

/// The system list box: lines in the order added, or sorted without regard to case when the
/// window has LBS_SORT. Messages to an object that is not a window answer LB_ERR.
class KESTRO_API CListBox : public CWnd {
    DECLARE_DYNAMIC(CListBox)
public:
    CListBox();
    ~CListBox() override;
    using CWnd::Create;
    BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);

    int AddString(LPCTSTR lpszItem);
    int GetCount() const;
    /// LB_ERR for an index out of range (text then unchanged).
    int GetText(int nIndex, CString& text) const;
    int GetTextLen(int nIndex) const;

    /// LB_ADDSTRING takes the text in lParam (LPCTSTR); LB_GETTEXT copies
    /// the line with its terminating zero into the buffer in lParam, which must hold
    /// LB_GETTEXTLEN + 1 characters.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) override;

protected:
    void OnDestroy() override { m_lines.clear(); }

private:
    std::vector<CString> m_lines;
};
