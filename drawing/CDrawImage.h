// The drawing object that places one gel image in a drawing document.
#pragma once

#include "platform/drawlib/DrawObject.h"
#include "image/DalvoImage.h"

/// A drawing object that owns one DalvoImage (never null) and shows it stretched onto its
/// position. Each successful Create, SizeToImage, Resample and the image tools put the object
/// at 0, 0 with the image's size, so that document units inside it are image pixels; it
/// cannot be moved by a delta or an offset.
///
/// Stored form (Serialize): the base data of CDrawObject, the position as four signed 32-bit
/// numbers (left, top, right, bottom), then the image as a framework object of class
/// "DalvoImage". Loading is all or nothing: on any archive error the object keeps its image
/// and its base data.
class KESTRO_API CDrawImage : public CDrawObject {
    DECLARE_SERIAL(CDrawImage)
public:
    CDrawImage();
    explicit CDrawImage(const CRect& rect);
    /// Base data from src and a new image assigned from src's image (pixels, display state,
    /// history and its recording state; no cached raster).
    CDrawImage(const CDrawImage& src);
    ~CDrawImage() override;

    /// Base assignment, then this object's image assigned from src's.
    CDrawImage& operator=(const CDrawImage& src);
    /// 1 when other is a CDrawImage with the same base data, this image holds a bitmap, the
    /// histories are equal ignoring case, and width, height and bits per pixel are equal.
    int operator==(const CDrawImage& other) const;
    /// 1 when other is not a CDrawImage, or the base data, the histories (ignoring case), the
    /// width or the height differ. Not the negation of ==: bits per pixel and a missing
    /// bitmap are not looked at.
    int operator!=(const CDrawImage& other) const;

    /// Loads the image from the file's path; on a result of 1 or more the object is fitted to
    /// it. The previous image is gone whatever the result.
    int Create(CFile* pFile);
    /// Loads an image file held in memory; on success a non-empty strHistory replaces the
    /// history the load produced, and the object is fitted to the image.
    int Create(BYTE* pData, DWORD nSize, CString strHistory);
    /// A blank image of that size and depth (the palette has no effect); the object is fitted
    /// to it, 0, 0, 0, 0 when no bitmap could be made. Returns 1.
    int Create(int nWidth, int nHeight, int nBPP, RGBQUAD* pPalette);

    DalvoImage* GetImage() const { return m_pImage; }
    /// Puts the object at 0, 0 with the image's width and height.
    void SizeToImage();
    /// Rescales the image (its result not looked at) and fits the object to the image.
    void Resample(int nWidth, int nHeight);

    void Serialize(CArchive& ar) override;
    void AssertValid() const override;
    void Dump(CDumpContext& dc) const override;
    /// Draws the whole image stretched onto the position converted to drawing coordinates,
    /// with the image's display settings; the view is required.
    void Draw(CDC* pDC, CDrawView* pView) override;
    /// Does nothing: the image stays at the origin.
    void MoveDelta(const CPoint& delta, CDrawView* pView) override;
    /// Does nothing: the image stays at the origin.
    void Offset(int dx, int dy) override;
    /// Shows the image's information lines in a modal list titled "Image info".
    void OnEditProperties(CDrawView* pView) override;
    /// Adds no page.
    void AddPropertyPages(CPropertySheet* pSheet) override;
    /// A copy (copy constructor), added to pDoc when it is not null.
    CDrawImage* Clone(CDrawDocument* pDoc) override;

    DalvoImage* m_pImage;

private:
    /// Puts a new image in place of the current one, which is deleted.
    void replaceImage(DalvoImage* pImage);
};
