// Dialog stand-ins: message boxes and modal dialogs through replaceable handlers, list boxes,
// dialog data exchange, standard cursors.
#include "platform/framework/afx.h"

#include <gtest/gtest.h>

TEST(Dialogs, WithoutAHandlerAMessageBoxAnswersAsADismissedOne) {
    EXPECT_EQ(AfxMessageBox(L"x"), IDOK);
    EXPECT_EQ(AfxMessageBox(L"x", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(AfxMessageBox(L"x", MB_YESNO | MB_ICONEXCLAMATION), IDNO);
}

TEST(Dialogs, MessageBoxesGoToTheHandler) {
    // The drawing tests read text and type through the handler; here its answer and the help id.
    UINT seenHelp = 0;
    AfxSetMessageBoxHandler([&](LPCTSTR, UINT, UINT help) { return seenHelp = help, IDYES; });
    EXPECT_EQ(AfxMessageBox(L"x", MB_YESNO, 7), IDYES);
    EXPECT_EQ(seenHelp, 7u);
    AfxSetMessageBoxHandler(nullptr);
}

// The order of its lines is checked through the processing list page.
TEST(Dialogs, ListBoxAnswersErrPastItsLinesOrWithoutAWindow) {
    CListBox list;
    CString text;
    EXPECT_EQ(list.AddString(L"b"), LB_ERR);
    ASSERT_TRUE(list.Create(WS_CHILD, CRect(), nullptr, 1));
    list.AddString(L"b");
    EXPECT_EQ(list.GetText(1, text), LB_ERR);
    list.DestroyWindow();
    EXPECT_EQ(list.GetCount(), LB_ERR);
}

TEST(Dialogs, ModalDialogWithoutTemplateFails) {
    EXPECT_EQ(CDialog(4242).DoModal(), -1);
}

TEST(Dialogs, DataExchangeNeedsTheControl) {
    CWnd parent, control;
    ASSERT_TRUE(parent.Create(L"#32770", L"", 0, CRect(), nullptr, 0));
    CDataExchange dx(&parent, FALSE);
    EXPECT_THROW(DDX_Control(&dx, 5, control), CNotSupportedException);
    EXPECT_FALSE(control.IsWindow());
}

TEST(Dialogs, SetCursorGivesThePreviousOne) {
    HCURSOR cross = LoadCursor(nullptr, IDC_CROSS);
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    EXPECT_EQ(AfxGetCursorId(SetCursor(cross)), 32512u);
    EXPECT_EQ(GetCursor(), cross);
}
