#include "TestClasses.h"

#include <set>
#include <vector>

IMPLEMENT_SERIAL(CTestNode, CObject, 2)
IMPLEMENT_SERIAL(CTestDerived, CTestNode, 2)
IMPLEMENT_SERIAL(CTestLink, CObject, 1)
IMPLEMENT_SERIAL(CTestVersioned, CObject, VERSIONABLE_SCHEMA | 3)
IMPLEMENT_SERIAL(CTestEmpty, CObject, 0)
IMPLEMENT_SERIAL(CTestThrowing, CObject, 0)
IMPLEMENT_DYNCREATE(CTestDynamicOnly, CObject)
IMPLEMENT_SERIAL(CTestClassNameOfSixtyThreeCharactersThatIsStillShortEnoughXYZAB, CObject, 0)

namespace {
std::set<CObject*>& arena() {
    static std::set<CObject*> objects;
    return objects;
}
} // namespace

void TestArena::Add(CObject* pOb) {
    arena().insert(pOb);
}
void TestArena::Remove(CObject* pOb) {
    arena().erase(pOb);
}
std::size_t TestArena::Size() {
    return arena().size();
}
void TestArena::Clear() {
    std::vector<CObject*> all(arena().begin(), arena().end());
    for (CObject* p : all)
        delete p;
}

void CTestNode::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << m_value << m_pChild;
    } else {
        m_nSeenSchema = ar.GetObjectSchema();
        ar >> m_value >> m_pChild;
    }
}

void CTestLink::Serialize(CArchive& ar) {
    if (ar.IsStoring())
        ar << m_pTarget;
    else
        ar >> m_pTarget;
}

void CTestVersioned::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << m_pInner << m_extra;
        return;
    }
    ar >> m_pInner;
    m_nFirstSchema = ar.GetObjectSchema();
    m_nSecondSchema = ar.GetObjectSchema();
    if (m_nFirstSchema >= 2 && m_nFirstSchema != 0xFFFFFFFF) ar >> m_extra;
}

void CTestThrowing::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << m_pChild << m_value;
        return;
    }
    ar >> m_pChild >> m_value;
    if (m_value == 13) AfxThrowArchiveException(CArchiveException::genericException);
}
