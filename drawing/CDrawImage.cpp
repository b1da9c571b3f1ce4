// The drawing object that places one gel image in a drawing document.
#include "drawing/CDrawImage.h"

#include "platform/drawlib/DrawDocument.h"
#include "platform/drawlib/DrawView.h"
#include "platform/util/KestroListDialog.h"

#include <memory>

IMPLEMENT_SERIAL(CDrawImage, CDrawObject, VERSIONABLE_SCHEMA | 0)

CDrawImage::CDrawImage() : m_pImage(new DalvoImage) {
    m_bOption1 = TRUE;
    m_bOption2 = FALSE;
}

CDrawImage::CDrawImage(const CRect& rect) : CDrawObject(rect), m_pImage(new DalvoImage) {
    m_bOption1 = TRUE;
    m_bOption2 = FALSE;
}

CDrawImage::CDrawImage(const CDrawImage& src) : CDrawObject(src), m_pImage(new DalvoImage) {
    try {
        *m_pImage = *src.m_pImage;
    } catch (...) {
        delete m_pImage;
        throw;
    }
}

CDrawImage::~CDrawImage() {
    delete m_pImage;
}

CDrawImage& CDrawImage::operator=(const CDrawImage& src) {
    CDrawObject::operator=(src);
    *m_pImage = *src.m_pImage;
    return *this;
}

int CDrawImage::operator==(const CDrawImage& other) const {
    if (!other.IsKindOf(RUNTIME_CLASS(CDrawImage))) return 0;
    if (CDrawObject::operator!=(other)) return 0;
    if (!m_pImage->IsAvailable()) return 0;
    if (m_pImage->GetPreprocessStr().CompareNoCase(other.m_pImage->GetPreprocessStr()) != 0) return 0;
    if (m_pImage->getWidth() != other.m_pImage->getWidth() ||
        m_pImage->getHeight() != other.m_pImage->getHeight())
        return 0;
    return m_pImage->getBitsPerPixel() == other.m_pImage->getBitsPerPixel() ? 1 : 0;
}

int CDrawImage::operator!=(const CDrawImage& other) const {
    if (!other.IsKindOf(RUNTIME_CLASS(CDrawImage))) return 1;
    if (CDrawObject::operator!=(other)) return 1;
    if (m_pImage->GetPreprocessStr().CompareNoCase(other.m_pImage->GetPreprocessStr()) != 0) return 1;
    return m_pImage->getWidth() != other.m_pImage->getWidth() ||
                   m_pImage->getHeight() != other.m_pImage->getHeight()
               ? 1
               : 0;
}

void CDrawImage::replaceImage(DalvoImage* pImage) {
    delete m_pImage;
    m_pImage = pImage;
}

int CDrawImage::Create(CFile* pFile) {
    replaceImage(new DalvoImage);
    const int result = m_pImage->CreateFromFile(pFile);
    if (result >= 1) SizeToImage();
    return result;
}

int CDrawImage::Create(BYTE* pData, DWORD nSize, CString strHistory) {
    replaceImage(new DalvoImage);
    const int result = m_pImage->Load(pData, nSize);
    if (result >= 1) {
        if (!strHistory.IsEmpty()) m_pImage->SetPreprocessStr(strHistory);
        SizeToImage();
    }
    return result;
}

int CDrawImage::Create(int nWidth, int nHeight, int nBPP, RGBQUAD* pPalette) {
    // Negative sizes become sizes no bitmap can have, so that the image stays empty.
    replaceImage(new DalvoImage(static_cast<unsigned>(nWidth), static_cast<unsigned>(nHeight),
                                static_cast<unsigned>(nBPP), pPalette));
    SizeToImage();
    return 1;
}

void CDrawImage::SizeToImage() {
    m_rcBounds.SetRect(0, 0, static_cast<int>(m_pImage->getWidth()), static_cast<int>(m_pImage->getHeight()));
}

void CDrawImage::Resample(int nWidth, int nHeight) {
    m_pImage->rescale(static_cast<unsigned>(nWidth), static_cast<unsigned>(nHeight));
    SizeToImage();
}

void CDrawImage::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CDrawObject::Serialize(ar);
        ar << static_cast<int>(m_rcBounds.left) << static_cast<int>(m_rcBounds.top)
           << static_cast<int>(m_rcBounds.right) << static_cast<int>(m_rcBounds.bottom);
        ar.WriteObject(m_pImage);
        return;
    }
    // All or nothing: the base data come back when the position or the image cannot be read.
    // Only schema 0 was ever written; 0xFFFFFFFF means Serialize was called outside ReadObject.
    const UINT schema = ar.GetObjectSchema();
    if (schema != 0 && schema != 0xFFFFFFFF)
        AfxThrowArchiveException(CArchiveException::badSchema, ar.m_strFileName);
    const CDrawObject before(*this);
    try {
        CDrawObject::Serialize(ar);
        BYTE position[16];
        if (ar.Read(position, sizeof position) < sizeof position)
            AfxThrowArchiveException(CArchiveException::endOfFile); // the host's reader names no file here
        auto field = [&](int i) {
            const BYTE* p = position + 4 * i;
            return static_cast<int>(static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
                                    static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24);
        };
        const size_t known = ar.GetLoadedCount();
        CObject* pImage = ar.ReadObject(RUNTIME_CLASS(DalvoImage));
        // A null or a reference to an image read before (another object's) is not ours to own.
        if (!pImage || ar.GetLoadedCount() == known)
            AfxThrowArchiveException(CArchiveException::genericException, ar.m_strFileName);
        replaceImage(static_cast<DalvoImage*>(pImage));
        m_rcBounds.SetRect(field(0), field(1), field(2), field(3));
    } catch (...) {
        CDrawObject::operator=(before);
        throw;
    }
}

void CDrawImage::AssertValid() const {}
void CDrawImage::Dump(CDumpContext&) const {}

void CDrawImage::Draw(CDC* pDC, CDrawView* pView) {
    CRect rect = m_rcBounds;
    pView->DocumentToView(rect, FALSE);
    m_pImage->draw(pDC, &rect);
}

void CDrawImage::MoveDelta(const CPoint&, CDrawView*) {}
void CDrawImage::Offset(int, int) {}

void CDrawImage::OnEditProperties(CDrawView* pView) {
    CStringArray lines;
    m_pImage->getImageInfo(lines);
    KestroListDialog dialog(L"Image info", pView, &lines);
    dialog.DoModal();
}

void CDrawImage::AddPropertyPages(CPropertySheet*) {}

CDrawImage* CDrawImage::Clone(CDrawDocument* pDoc) {
    CDrawImage* pClone = new CDrawImage(*this);
    if (pDoc) pDoc->AddObject(pClone, 0);
    return pClone;
}
