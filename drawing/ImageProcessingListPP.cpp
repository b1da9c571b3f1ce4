// The property page that lists an image's processing history, one step per line.
#include "drawing/ImageProcessingListPP.h"

#include "image/DalvoImage.h"
#include "resources/resource.h"

// Creatable by name for the host's property sheets, never stored; the framework knows the
// page as a CPropertyPage.
CObject* PASCAL ImageProcessingListPP::CreateObject() {
    return new ImageProcessingListPP;
}
IMPLEMENT_RUNTIMECLASS(ImageProcessingListPP, CPropertyPage, 0xFFFF, ImageProcessingListPP::CreateObject)
static const AFX_CLASSINIT _init_ImageProcessingListPP(RUNTIME_CLASS(ImageProcessingListPP));

BEGIN_MESSAGE_MAP(ImageProcessingListPP, CMFCPropertyPage)
END_MESSAGE_MAP()

ImageProcessingListPP::ImageProcessingListPP()
    : CMFCPropertyPage(IDD_PROCESSING_LIST, 0), m_pImage(nullptr) {}

ImageProcessingListPP::~ImageProcessingListPP() {
    DestroyWindow();
}

void ImageProcessingListPP::DoDataExchange(CDataExchange* pDX) {
    CMFCPropertyPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROCESSING_LIST, m_ctlList);
}

BOOL ImageProcessingListPP::OnInitDialog() {
    CDialog::OnInitDialog();
    m_strPreprocess = m_pImage ? m_pImage->GetPreprocessStr() : CString();
    const int length = m_strPreprocess.GetLength();
    for (int i = 0; i < length; ++i) {
        if (m_strPreprocess[i] != L'{') continue;
        const int end = m_strPreprocess.Find(L'}', i + 1);
        // An entry the history leaves open is not a step that was recorded: stop there.
        if (end < 0) break;
        m_ctlList.AddString(m_strPreprocess.Mid(i, end - i + 1));
        i = end;
    }
    return TRUE;
}
