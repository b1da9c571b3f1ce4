// Serialisable classes of the archive tests. Most of them own nothing and live in an arena,
// so that tests reading damaged archives (where any pointer may come back twice) can delete
// whatever was made, exactly once.
#pragma once

#include "platform/framework/afx.h"

#include <set>
#include <vector>

/// Base of the arena classes, invisible to the framework (their runtime base is CObject).
/// Clear deletes every live one (only in tests that made them on the heap).
struct CArenaObject : public CObject {
    CArenaObject() { Live().insert(this); }
    ~CArenaObject() override { Live().erase(this); }
    static std::set<CObject*>& Live() {
        static std::set<CObject*> objects;
        return objects;
    }
    static std::size_t Size() { return Live().size(); }
    static void Clear() {
        for (CObject* p : std::vector<CObject*>(Live().begin(), Live().end()))
            delete p;
    }
};

/// schema 2: an int, then a child of its own kind (or itself) read with the typed >>.
class CTestNode : public CArenaObject {
    DECLARE_SERIAL(CTestNode)
public:
    CTestNode() = default;
    explicit CTestNode(int value) : m_value(value) {}
    void Serialize(CArchive& ar) override {
        if (ar.IsLoading()) m_nSeenSchema = ar.GetObjectSchema();
        ar.IsStoring() ? ar << m_value << m_pChild : ar >> m_value >> m_pChild;
    }

    int m_value = 0;
    CTestNode* m_pChild = nullptr;
    UINT m_nSeenSchema = 0;
};

/// schema 2, derived from CTestNode.
class CTestDerived : public CTestNode {
    DECLARE_SERIAL(CTestDerived)
public:
    using CTestNode::CTestNode;
};

/// schema 1: a pointer to an object of any class.
class CTestLink : public CArenaObject {
    DECLARE_SERIAL(CTestLink)
public:
    CTestLink() = default;
    explicit CTestLink(CObject* target) : m_pTarget(target) {}
    void Serialize(CArchive& ar) override { ar.IsStoring() ? ar << m_pTarget : ar >> m_pTarget; }

    CObject* m_pTarget = nullptr;
};

/// versionable, schema 3: an inner object of any class, then a WORD that only schemas 2 and
/// later carry (the schema is asked for after the inner object was read).
class CTestVersioned : public CArenaObject {
    DECLARE_SERIAL(CTestVersioned)
public:
    void Serialize(CArchive& ar) override {
        ar.IsStoring() ? ar << m_pInner << m_extra : ar >> m_pInner;
        const UINT schema = ar.IsLoading() ? ar.GetObjectSchema() : 0;
        if (schema >= 2 && schema != 0xFFFFFFFF) ar >> m_extra;
    }

    CObject* m_pInner = nullptr;
    WORD m_extra = 0;
};

/// schema 0 and no data: two bytes an object, for archives with many indices.
class CTestEmpty : public CArenaObject {
    DECLARE_SERIAL(CTestEmpty)
};

/// Creatable by name but not serialisable.
class CTestDynamicOnly : public CObject {
    DECLARE_DYNCREATE(CTestDynamicOnly)
};

/// A class whose name has 63 characters, the longest an archive accepts.
class CTestClassNameOfSixtyThreeCharactersThatIsStillShortEnoughXYZAB : public CArenaObject {
    DECLARE_SERIAL(CTestClassNameOfSixtyThreeCharactersThatIsStillShortEnoughXYZAB)
};
