// Stands in for the maker's drawing library on this platform: the drawing document.
#include "platform/drawlib/DrawDocument.h"

#include "platform/drawlib/DrawView.h"
#include "platform/framework/ReplaceFile.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unordered_set>

IMPLEMENT_DYNCREATE(CDrawDocument, CObject)

namespace {
const unsigned kDocumentTag = 0x434F444Bu; // "KDOC" as the bytes stand in the file
const unsigned kDocumentFormat = 1;
} // namespace

CDrawDocument::CDrawDocument() = default;

CDrawDocument::~CDrawDocument() {
    for (CDrawView* pView : m_views)
        pView->m_pDocument = nullptr;
    DeleteContents();
}

BOOL CDrawDocument::AddObject(CDrawObject* pObject, int nWhere) {
    if (!pObject || pObject->m_pDocument || m_objects.Find(pObject)) return FALSE;
    if (nWhere == 0)
        m_objects.AddTail(pObject);
    else
        m_objects.AddHead(pObject);
    pObject->m_pDocument = this;
    for (CDrawView* pView : m_views)
        pView->InvalidateObject(pObject);
    SetModifiedFlag(TRUE);
    return TRUE;
}

BOOL CDrawDocument::RemoveObject(CDrawObject* pObject) {
    if (!m_objects.Remove(pObject)) return FALSE;
    for (CDrawView* pView : m_views) {
        pView->Deselect(pObject);
        pView->InvalidateObject(pObject);
    }
    pObject->m_pDocument = nullptr;
    SetModifiedFlag(TRUE);
    return TRUE;
}

void CDrawDocument::DeleteContents() {
    for (CDrawView* pView : m_views)
        pView->SetSelection(nullptr, FALSE);
    // From the tail: taking the head of the list moves every object after it, quadratic in all.
    while (!m_objects.IsEmpty()) {
        CDrawObject* pObject = m_objects.GetTail();
        m_objects.Remove(pObject);
        pObject->m_pDocument = nullptr;
        delete pObject;
    }
}

void CDrawDocument::UpdateAllViews() {
    for (CDrawView* pView : m_views)
        pView->Invalidate(TRUE);
}

void CDrawDocument::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << kDocumentTag << kDocumentFormat;
        ar.WriteCount(static_cast<ULONGLONG>(m_objects.GetCount()));
        for (POSITION pos = m_objects.GetHeadPosition(); pos;)
            ar.WriteObject(m_objects.GetNext(pos));
        return;
    }
    unsigned tag = 0, format = 0;
    ar >> tag;
    if (tag != kDocumentTag) AfxThrowArchiveException(CArchiveException::genericException, ar.m_strFileName);
    ar >> format;
    if (format != kDocumentFormat) AfxThrowArchiveException(CArchiveException::badSchema, ar.m_strFileName);
    const ULONGLONG count = ar.ReadCount();
    // Every object takes at least the two bytes of its tag.
    if (count > ar.BytesLeft() / 2) AfxThrowArchiveException(CArchiveException::endOfFile, ar.m_strFileName);

    // Read into a list of our own first: the document changes only when all went well.
    // A reference to an object read before is the same pointer again: it must not be owned twice.
    std::vector<std::unique_ptr<CDrawObject>> loaded;
    std::unordered_set<CObject*> seen;
    for (ULONGLONG i = 0; i < count; ++i) {
        CObject* pObject = ar.ReadObject(RUNTIME_CLASS(CDrawObject));
        if (!pObject || seen.count(pObject))
            AfxThrowArchiveException(CArchiveException::genericException, ar.m_strFileName);
        AfxGuardAllocation([&] {
            loaded.emplace_back(static_cast<CDrawObject*>(pObject));
            seen.insert(pObject);
        });
    }
    DeleteContents();
    for (auto& p : loaded) {
        m_objects.AddTail(p.get());
        p.release()->m_pDocument = this;
    }
    SetModifiedFlag(FALSE);
    UpdateAllViews();
}

BOOL CDrawDocument::OnSaveDocument(LPCTSTR lpszPathName) {
    if (!lpszPathName || !*lpszPathName) return FALSE;
    const CString target(lpszPathName);
    try {
        const bool saved = kestro::replaceFile(target.ToUtf8(), [&](std::FILE* stream) {
            kestro::CStreamFile file(stream, target);
            CArchive ar(&file, CArchive::store);
            Serialize(ar);
            ar.Close();
            file.Close();
            return true;
        });
        if (!saved) return FALSE;
    } catch (CException&) {
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    return TRUE;
}

BOOL CDrawDocument::OnOpenDocument(LPCTSTR lpszPathName) {
    if (!lpszPathName) return FALSE;
    try {
        CFile file(lpszPathName, CFile::modeRead | CFile::typeBinary);
        CArchive ar(&file, CArchive::load);
        ar.m_strFileName = lpszPathName;
        Serialize(ar);
        ar.Close();
    } catch (CException&) {
        return FALSE;
    }
    return TRUE;
}

void CDrawDocument::AddView(CDrawView* pView) {
    if (pView && std::find(m_views.begin(), m_views.end(), pView) == m_views.end()) m_views.push_back(pView);
}

void CDrawDocument::RemoveView(CDrawView* pView) {
    m_views.erase(std::remove(m_views.begin(), m_views.end(), pView), m_views.end());
}
