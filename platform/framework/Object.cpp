// Stands in for the application framework (MFC) on this platform: the root class and run-time classes.
#include "platform/framework/Object.h"

#include "platform/framework/String.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <vector>

namespace {
// Function-local so that classes registering during static initialisation of any module
// find the list constructed, whatever the order of initialisation.
std::vector<const CRuntimeClass*>& registry() {
    static std::vector<const CRuntimeClass*> classes;
    return classes;
}
} // namespace

const CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF, nullptr,
                                             nullptr};
static const AFX_CLASSINIT _init_CObject(&CObject::classCObject);

CObject* CRuntimeClass::CreateObject() const {
    return m_pfnCreateObject ? m_pfnCreateObject() : nullptr;
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
    for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass)
        if (c == pBaseClass) return TRUE;
    return FALSE;
}

CRuntimeClass* CRuntimeClass::FromName(const char* lpszClassName) {
    if (!lpszClassName) return nullptr;
    for (const CRuntimeClass* c : registry())
        if (std::strcmp(c->m_lpszClassName, lpszClassName) == 0) return const_cast<CRuntimeClass*>(c);
    return nullptr;
}

CRuntimeClass* CRuntimeClass::FromName(const wchar_t* lpszClassName) {
    if (!lpszClassName) return nullptr;
    return FromName(CString(lpszClassName).ToUtf8().c_str());
}

CObject* CRuntimeClass::CreateObject(const char* lpszClassName) {
    const CRuntimeClass* c = FromName(lpszClassName);
    return c ? c->CreateObject() : nullptr;
}

CObject* CRuntimeClass::CreateObject(const wchar_t* lpszClassName) {
    const CRuntimeClass* c = FromName(lpszClassName);
    return c ? c->CreateObject() : nullptr;
}

void CRuntimeClass::Register(const CRuntimeClass* pClass) {
    auto& classes = registry();
    if (pClass && std::find(classes.begin(), classes.end(), pClass) == classes.end())
        classes.push_back(pClass);
}

void CRuntimeClass::Unregister(const CRuntimeClass* pClass) {
    auto& classes = registry();
    classes.erase(std::remove(classes.begin(), classes.end(), pClass), classes.end());
}

int CRuntimeClass::GetRegisteredCount() {
    return static_cast<int>(registry().size());
}

const CRuntimeClass* CRuntimeClass::GetRegistered(int index) {
    const auto& classes = registry();
    if (index < 0 || static_cast<size_t>(index) >= classes.size()) return nullptr;
    return classes[static_cast<size_t>(index)];
}

AFX_CLASSINIT::AFX_CLASSINIT(const CRuntimeClass* pClass) : m_pClass(pClass) {
    CRuntimeClass::Register(pClass);
}

AFX_CLASSINIT::~AFX_CLASSINIT() {
    CRuntimeClass::Unregister(m_pClass);
}

CDumpContext::CDumpContext(std::ostream* stream) : m_stream(stream ? stream : &std::cerr) {}
CDumpContext& CDumpContext::operator<<(const char* text) {
    *m_stream << (text ? text : "(null)");
    return *this;
}
CDumpContext& CDumpContext::operator<<(const wchar_t* text) {
    *m_stream << (text ? CString(text).ToUtf8() : std::string("(null)"));
    return *this;
}
CDumpContext& CDumpContext::operator<<(int value) {
    *m_stream << value;
    return *this;
}
CDumpContext& CDumpContext::operator<<(unsigned value) {
    *m_stream << value;
    return *this;
}
CDumpContext& CDumpContext::operator<<(double value) {
    *m_stream << value;
    return *this;
}
CDumpContext& CDumpContext::operator<<(const void* pointer) {
    *m_stream << pointer;
    return *this;
}

CRuntimeClass* CObject::GetRuntimeClass() const {
    return RUNTIME_CLASS(CObject);
}
CObject::~CObject() = default;
void CObject::Serialize(CArchive&) {}
void CObject::AssertValid() const {}
void CObject::Dump(CDumpContext& dc) const {
    dc << "a " << GetRuntimeClass()->m_lpszClassName << " at " << static_cast<const void*>(this) << "\n";
}

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const {
    return GetRuntimeClass()->IsDerivedFrom(pClass);
}

BOOL CObject::IsSerializable() const {
    return GetRuntimeClass()->m_wSchema != 0xFFFF;
}
