// Fuzz target of drawing documents (.kdoc): the input is a whole document. What reads must then
// take the paths kestro doc takes: drawn through a view onto a small canvas, and the copy and crop
// tools dragged over each of the first objects' positions (which the file gave). Anything but
// CArchiveException, CMemoryException or a clean return is a bug; the sanitizers report crashes,
// overflows and leaks.
#include "FuzzDriver.h"

#include <KestroImage.h>

namespace {

void drag(CDrawDocument& doc, CDrawObject* object, CDrawTool& tool) {
    CDrawView view(&doc);
    view.SetSelection(object, FALSE);
    view.SetTool(&tool);
    const CRect r = object->m_rcBounds;
    view.OnLButtonDown(MK_LBUTTON, r.TopLeft());
    view.OnMouseMove(MK_LBUTTON, r.CenterPoint());
    view.OnLButtonUp(0, r.BottomRight());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fipImage::setLoadMemoryLimit(64u << 20);
    AfxSetMessageBoxHandler([](LPCTSTR, UINT, UINT) { return IDOK; });
    FuzzInput copy(data, data + size);
    CMemFile file(copy.empty() ? nullptr : copy.data(), static_cast<UINT>(copy.size()));
    CDrawDocument doc;
    try {
        CArchive ar(&file, CArchive::load);
        doc.Serialize(ar);
    } catch (CArchiveException&) {
        return 0;
    } catch (CMemoryException&) {
        return 0;
    } catch (CFileException&) {
        return 0;
    }
    CDC dc;
    if (dc.CreateCanvas(64, 48)) {
        CDrawView view(&doc, CSize(64, 48));
        view.OnDraw(&dc);
    }
    CDrawObjectList* list = doc.GetObjectList();
    for (INT_PTR i = 0; i < list->GetCount() && i < 4; ++i) {
        CSelectTool select;
        CCopyImageRectTool copier(&select);
        CCropImageTool crop(&select);
        drag(doc, list->GetAt(i), copier);
        drag(doc, list->GetAt(i), crop);
    }
    AfxSetMessageBoxHandler(nullptr);
    return 0;
}

// The seeds are files in corpus/document: documents of blank image objects, one, two with a copy's
// history, and one whose object lies far out at the ends of int.
