// The property page that lists an image's processing history, one step per line.
#pragma once

#include "platform/framework/afx.h"

class DalvoImage;

/// Lists the entries of the image's processing history ("{" text "}") in history order,
/// braces included, when the page's window is made. Text outside entries is skipped; an
/// entry that the history leaves unfinished ("{" without "}") is not shown; a null image
/// gives an empty list. The list is not updated afterwards.
class KESTRO_API ImageProcessingListPP : public CMFCPropertyPage {
    DECLARE_DYNCREATE(ImageProcessingListPP)
    DECLARE_MESSAGE_MAP()
public:
    ImageProcessingListPP();
    ~ImageProcessingListPP() override;

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    CString m_strPreprocess;
    /// The image whose history is shown; not owned, set by the host before the window is made.
    DalvoImage* m_pImage;
    CListBox m_ctlList;
};
