// The processing list page: its template as the framework finds it, and the lines it lists.
#include "DrawingTestKit.h"
#include "TestTables.h"

#include <regex>

using drawtest::lines;

TEST(ProcessingListPage, TemplateIsFoundThroughTheLibraryChainWithItsList) {
    const DLGTEMPLATEEX_DATA* t = AfxFindDialogTemplate(3064);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(drawtest::utf8(t->title), "Processing List");
    ASSERT_EQ(t->cDlgItems, 1);
    const DLGITEMTEMPLATEEX_DATA& list = t->items[0];
    EXPECT_EQ(list.id, 3065u);
    EXPECT_EQ(list.style, 0x50B16101u); // not sorted
    EXPECT_EQ(CRect(list.x, list.y, list.cx, list.cy), CRect(7, 7, 240, 121));
    EXPECT_EQ(drawtest::utf8(AfxGetSystemClassName(list.windowClassAtom)), "ListBox");
    EXPECT_EQ(AfxFindDialogTemplate(3065), nullptr);
    EXPECT_EQ(drawtest::utf8(ImageProcessingListPP().GetCaption()), "Processing List");
}

TEST(ProcessingListPage, ListsEachEntryWithItsBracesInHistoryOrder) {
    const std::vector<std::string> rows = TableRows("drawing/data/history-entries.txt");
    const std::regex bar(R"( *\| *)");
    for (const std::string& row : rows) {
        SCOPED_TRACE(row);
        std::vector<std::string> fields(std::sregex_token_iterator(row.begin(), row.end(), bar, -1), {});
        DalvoImage image;
        image.SetPreprocessStr(CString::FromUtf8(fields[0]));
        ImageProcessingListPP page;
        page.m_pImage = &image;
        ASSERT_TRUE(page.CreateFromTemplate(nullptr));
        EXPECT_EQ(lines(page.m_ctlList), std::vector<std::string>(fields.begin() + 1, fields.end()));
        EXPECT_EQ(drawtest::utf8(page.m_strPreprocess), fields[0]);
    }
    EXPECT_EQ(rows.size(), 9u);
}

TEST(ProcessingListPage, ListsTheImagesHistoryAsItWasWhenMade) {
    DalvoImage image;
    image.AddPreprocessStr(L"Crop");
    ImageProcessingListPP page, empty;
    page.m_pImage = &image;
    CPropertySheet sheet(L"Properties");
    sheet.AddPage(&page);
    sheet.AddPage(&empty);
    drawtest::Captured captured;
    std::vector<std::string> shown;
    captured.inspect = [&](CDialog& d) {
        shown = lines(static_cast<ImageProcessingListPP&>(d).m_ctlList);
        image.AddPreprocessStr(L"Median");
        EXPECT_EQ(lines(page.m_ctlList).size(), 1u);
        EXPECT_TRUE(sheet.SetActivePage(1));
        EXPECT_EQ(empty.m_ctlList.GetCount(), 0);
    };
    EXPECT_EQ(sheet.DoModal(), IDOK);
    EXPECT_EQ(shown, std::vector<std::string>{"{Crop}"});
    EXPECT_FALSE(page.IsWindow());

    page.CreateFromTemplate(nullptr);
    EXPECT_EQ(lines(page.m_ctlList), (std::vector<std::string>{"{Crop}", "{Median}"}));
}
