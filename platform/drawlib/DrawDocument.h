// Stands in for the maker's drawing library on this platform: the drawing document.
#pragma once

#include "platform/drawlib/DrawObject.h"

#include <vector>

class CDrawView;

/// A drawing document: the objects it owns, in drawing order (first drawn first), the views
/// that show it and a modified flag.
///
/// Stored form (Serialize): the 32-bit number 0x434F444B ("KDOC" in the file), the 32-bit
/// format number 1, the object count as the archive writes counts, then every object as a
/// framework object (class name and schema the first time a class occurs, back-references
/// after that). Loading refuses another first number (genericException), another format
/// (badSchema), a null or repeated object and an object that is not a CDrawObject
/// (badClass); on any failure the document keeps what it had.
class KESTRO_API CDrawDocument : public CObject {
    DECLARE_DYNCREATE(CDrawDocument)
public:
    CDrawDocument();
    /// Deletes every object.
    ~CDrawDocument() override;
    CDrawDocument(const CDrawDocument&) = delete;
    CDrawDocument& operator=(const CDrawDocument&) = delete;

    CDrawObjectList* GetObjectList() { return &m_objects; }
    /// Takes ownership of the object. nWhere 0 puts it on top of the others (the end of the
    /// list); any other value beneath them (the head). An object already in a document, or
    /// null, is refused (FALSE). The views repaint it and the document is marked modified.
    BOOL AddObject(CDrawObject* pObject, int nWhere);
    /// Takes the object out of the document and every selection and hands it back to the
    /// caller; FALSE when it is not in the document.
    BOOL RemoveObject(CDrawObject* pObject);
    /// Deletes every object.
    void DeleteContents();

    /// Announces a change about to be made, by the qualified name of the caller; a host that
    /// keeps an undo history overrides it.
    virtual void NoteChange(CString /*strWho*/) {}

    void SetModifiedFlag(BOOL bModified = TRUE) { m_bModified = bModified; }
    BOOL IsModified() const { return m_bModified; }

    /// Repaints every view whole.
    void UpdateAllViews();

    void Serialize(CArchive& ar) override;
    /// Stores the document in a file: written beside it and then put in its place, so that a
    /// failed save leaves the old file as it was. FALSE on failure; the document is then still
    /// modified.
    BOOL OnSaveDocument(LPCTSTR lpszPathName);
    /// Loads a document from a file; FALSE when it cannot be read, the document unchanged.
    BOOL OnOpenDocument(LPCTSTR lpszPathName);

    void AddView(CDrawView* pView);
    void RemoveView(CDrawView* pView);

private:
    CDrawObjectList m_objects;
    std::vector<CDrawView*> m_views;
    BOOL m_bModified = FALSE;
};
