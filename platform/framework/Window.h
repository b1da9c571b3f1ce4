// Stands in for the application framework (MFC) on this platform: windows, cursors and repainting.
#pragma once

#include "platform/wintypes/AfxTypes.h"
#include "platform/wintypes/Export.h"
#include "platform/wintypes/Geometry.h"
#include "platform/framework/Object.h"
#include "platform/framework/String.h"
#include "platform/winsys/WinHandles.h"

#include <vector>

typedef UINT_PTR WPARAM;
typedef INT_PTR LPARAM;
typedef INT_PTR LRESULT;

/// A cursor of the window system. The system's standard cursors are known by their resource
/// numbers; a handle names one of them.
typedef struct HCURSOR__* HCURSOR;

#define MAKEINTRESOURCE(i) (reinterpret_cast<LPCTSTR>(static_cast<UINT_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<UINT_PTR>(p) >> 16) == 0)
#define IDC_ARROW MAKEINTRESOURCE(32512)
#define IDC_CROSS MAKEINTRESOURCE(32515)
#define IDC_SIZENWSE MAKEINTRESOURCE(32642)
#define IDC_SIZENESW MAKEINTRESOURCE(32643)
#define IDC_SIZEWE MAKEINTRESOURCE(32644)
#define IDC_SIZENS MAKEINTRESOURCE(32645)

/// One of the system's standard cursors (a null module), by resource number; null for a
/// named resource or a module of our own, which this platform does not have.
KESTRO_API HCURSOR LoadCursor(HINSTANCE hInstance, LPCTSTR lpCursorName);
/// Makes the cursor the current one of the process and returns the one before (null at first).
KESTRO_API HCURSOR SetCursor(HCURSOR hCursor);
KESTRO_API HCURSOR GetCursor();
/// The resource number of a standard cursor handle (32515 for the cross), 0 for null.
KESTRO_API UINT AfxGetCursorId(HCURSOR hCursor);

// Message box types and results, and the results of modal dialogs.
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_YESNO 0x00000004u
#define MB_ICONEXCLAMATION 0x00000030u
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

// Window styles that the dialog templates use.
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_VSCROLL 0x00200000u
#define WS_HSCROLL 0x00100000u
#define WS_TABSTOP 0x00010000u
#define DS_SETFONT 0x00000040u

// ---- Message maps ---------------------------------------------------------------------------

/// A class's message map: its own entries and its base's map. Messages here reach the
/// windows' virtual handlers directly; the maps tell which class handles what.
struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
};
struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries; ///< ends with an entry whose nMessage is 0
};

#define DECLARE_MESSAGE_MAP()                                                                                \
protected:                                                                                                   \
    static const AFX_MSGMAP* PASCAL GetThisMessageMap();                                                     \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                               \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                                                      \
        return GetThisMessageMap();                                                                          \
    }                                                                                                        \
    const AFX_MSGMAP* PASCAL theClass::GetThisMessageMap() {                                                 \
        using ThisClass = theClass;                                                                          \
        using TheBaseClass = baseClass;                                                                      \
        (void)sizeof(ThisClass);                                                                             \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                                    \
    { 0 }                                                                                                    \
    }                                                                                                        \
    ;                                                                                                        \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};            \
    return &messageMap;                                                                                      \
    }

/// A window. There is no window system here: a window is an object with a rectangle, a text, a
/// style, an identifier and child windows, and what the window system would do with it on a
/// screen (repaint requests) is recorded so that a host or a test can see it.
class KESTRO_API CWnd : public CObject {
    DECLARE_DYNAMIC(CWnd)
public:
    CWnd();
    /// An object attached to a window of the screen (the window system's handle), such as the
    /// owner of the clipboard.
    explicit CWnd(HWND window);
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    /// Takes the place of the child window nID of pParent (which must be a child the parent
    /// made itself, from a dialog template): the same class, text, style, rectangle and
    /// identifier; the stand-in is ended and deleted. FALSE when there is no such child or this
    /// object already is a window.
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);

    /// Makes this object a window with the given class name, text, style, rectangle, parent and
    /// identifier; FALSE when it already is one. A parent owns no C++ objects, it only lists
    /// its children.
    virtual BOOL Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID);
    /// Ends the window (its children first); the C++ object stays.
    virtual BOOL DestroyWindow();
    BOOL IsWindow() const { return m_bCreated; }
    /// The screen window this object is attached to; null when there is none.
    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND m_hWnd = nullptr;

    /// Asks for a repaint of rect (null: the whole window). There is nothing to paint here; a host
    /// with a window system overrides it.
    virtual void InvalidateRect(const RECT* /*lpRect*/, BOOL /*bErase*/ = TRUE) {}
    void Invalidate(BOOL bErase = TRUE) { InvalidateRect(nullptr, bErase); }

    void GetWindowText(CString& text) const { text = m_strText; }
    DWORD GetStyle() const { return m_dwStyle; }
    /// The child window with identifier nID, or null.
    CWnd* GetDlgItem(int nID) const;

    /// A window message; the base answers 0 to every message.
    virtual LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

protected:
    static const AFX_MSGMAP* PASCAL GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    /// Called when a window is being ended, before its children are.
    virtual void OnDestroy() {}

    /// Children that the window made itself (the controls of a dialog template) and deletes
    /// when it is ended.
    void AdoptChild(CWnd* pChild) { m_owned.push_back(pChild); }

private:
    void AddChild(CWnd* pChild);
    void RemoveChild(CWnd* pChild);

    BOOL m_bCreated = FALSE;
    DWORD m_dwStyle = 0;
    UINT m_nID = 0;
    CRect m_rect;
    CWnd* m_pParent = nullptr;
    std::vector<CWnd*> m_children;
    std::vector<CWnd*> m_owned;
    CString m_strClass;
    CString m_strText;
};
