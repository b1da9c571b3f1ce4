// Stands in for the application framework (MFC) on this platform: its exception classes.
#include "platform/framework/Exceptions.h"

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CArchiveException, CException)
IMPLEMENT_DYNAMIC(CFileException, CException)
IMPLEMENT_DYNAMIC(CInvalidArgException, CException)
IMPLEMENT_DYNAMIC(CMemoryException, CException)
IMPLEMENT_DYNAMIC(CNotSupportedException, CException)

CException::~CException() = default;
CString CException::GetErrorMessage() const {
    return CString(L"An unknown error occurred.");
}

CArchiveException::CArchiveException(int cause, LPCTSTR lpszArchiveName)
    : m_cause(cause), m_strFileName(lpszArchiveName ? lpszArchiveName : L"") {}

CString CArchiveException::GetErrorMessage() const {
    static const wchar_t* const texts[] = {L"No error occurred.",
                                           L"An unknown error occurred while accessing an archive.",
                                           L"Tried to write to an archive opened for loading.",
                                           L"Reached the end of the archive unexpectedly.",
                                           L"Tried to read from an archive opened for storing.",
                                           L"The archive has an invalid format.",
                                           L"Tried to read an object of the wrong class.",
                                           L"Tried to read an object with an incompatible schema."};
    CString text = (m_cause >= 0 && m_cause <= badSchema) ? texts[m_cause] : texts[genericException];
    if (!m_strFileName.IsEmpty()) text += L" (" + m_strFileName + L")";
    return text;
}

CFileException::CFileException(int cause, LONG lOsError, LPCTSTR lpszFileName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszFileName ? lpszFileName : L"") {}

CString CFileException::GetErrorMessage() const {
    CString text;
    text.Format(L"File error %d (system error %d)", m_cause, static_cast<int>(m_lOsError));
    if (!m_strFileName.IsEmpty()) text += L": " + m_strFileName;
    return text;
}

CString CInvalidArgException::GetErrorMessage() const {
    return CString(L"Invalid argument.");
}
CString CMemoryException::GetErrorMessage() const {
    return CString(L"Out of memory.");
}
CString CNotSupportedException::GetErrorMessage() const {
    return CString(L"Request not supported.");
}

void AfxThrowArchiveException(int cause, LPCTSTR lpszArchiveName) {
    throw CArchiveException(cause, lpszArchiveName);
}
void AfxThrowFileException(int cause, LONG lOsError, LPCTSTR lpszFileName) {
    throw CFileException(cause, lOsError, lpszFileName);
}
void AfxThrowInvalidArgException() {
    throw CInvalidArgException();
}
void AfxThrowMemoryException() {
    throw CMemoryException();
}
void AfxThrowNotSupportedException() {
    throw CNotSupportedException();
}
