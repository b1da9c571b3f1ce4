// Dialog stand-ins: message boxes and modal dialogs through replaceable handlers, list boxes,
// dialog data exchange, standard cursors.
#include "framework/afx.h"

#include <gtest/gtest.h>

TEST(Dialogs, MessageBoxesGoToTheHandlerAndTheDefaultAnswersAsADismissedBox) {
    EXPECT_EQ(AfxMessageBox(L"x"), IDOK);
    EXPECT_EQ(AfxMessageBox(L"x", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(AfxMessageBox(L"x", MB_YESNO | MB_ICONEXCLAMATION), IDNO);
    // The drawing tests read text and type through the handler; here its answer and the help id.
    UINT seenHelp = 0;
    AfxSetMessageBoxHandler([&](LPCTSTR, UINT, UINT help) { return seenHelp = help, IDYES; });
    EXPECT_EQ(AfxMessageBox(L"x", MB_YESNO, 7), IDYES);
    EXPECT_EQ(seenHelp, 7u);
    AfxSetMessageBoxHandler(nullptr);
}

TEST(Dialogs, ListBoxKeepsOrderUnlessSortedAndAnswersErrWithoutAWindow) {
    CListBox unsorted, sorted;
    EXPECT_EQ(unsorted.AddString(L"b"), LB_ERR);
    ASSERT_TRUE(unsorted.Create(WS_CHILD, CRect(), nullptr, 1));
    ASSERT_TRUE(sorted.Create(WS_CHILD | LBS_SORT, CRect(), nullptr, 2));
    for (const wchar_t* s : {L"b", L"C", L"a"}) {
        unsorted.AddString(s);
        sorted.AddString(s);
    }
    CString text;
    const char* expectUnsorted[] = {"b", "C", "a"};
    const char* expectSorted[] = {"a", "b", "C"};
    for (int i = 0; i < 3; ++i) {
        unsorted.GetText(i, text);
        EXPECT_EQ(text.ToUtf8(), expectUnsorted[i]);
        sorted.GetText(i, text);
        EXPECT_EQ(text.ToUtf8(), expectSorted[i]);
    }
    EXPECT_EQ(unsorted.GetText(3, text), LB_ERR);
    EXPECT_EQ(unsorted.InsertString(1, L"x"), 1);
    EXPECT_EQ(unsorted.DeleteString(0), 3);
    unsorted.GetText(0, text);
    EXPECT_EQ(text.ToUtf8(), "x");
    unsorted.DestroyWindow();
    EXPECT_EQ(unsorted.GetCount(), LB_ERR);
}

TEST(Dialogs, ModalDialogWithoutTemplateFailsAndDataExchangeNeedsTheControl) {
    CDialog missing(4242);
    EXPECT_EQ(missing.DoModal(), -1);
    CWnd parent, control;
    ASSERT_TRUE(parent.Create(L"#32770", L"", 0, CRect(), nullptr, 0));
    CDataExchange dx(&parent, FALSE);
    EXPECT_THROW(DDX_Control(&dx, 5, control), CNotSupportedException);
    EXPECT_FALSE(control.IsWindow());
}

TEST(Dialogs, StandardCursorsByNumberAndTheCurrentCursor) {
    HCURSOR cross = LoadCursor(nullptr, IDC_CROSS);
    EXPECT_EQ(LoadCursor(nullptr, MAKEINTRESOURCE(32515)), cross);
    EXPECT_EQ(LoadCursor(nullptr, MAKEINTRESOURCE(1)), nullptr);
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    EXPECT_EQ(AfxGetCursorId(SetCursor(cross)), 32512u);
    EXPECT_EQ(GetCursor(), cross);
}
