// Serialisable classes of the archive tests. Most of them own nothing and live in an arena,
// so that tests reading damaged archives (where any pointer may come back twice) can delete
// whatever was made, exactly once; CTestThrowing owns its child as a real class would.
#pragma once

#include "framework/afx.h"

#include <cstddef>

/// Every live arena object; ClearArena deletes them all (only in tests that made them on the heap).
class TestArena {
public:
    static void Add(CObject* pOb);
    static void Remove(CObject* pOb);
    static std::size_t Size();
    static void Clear();
};

/// Puts its owner into the arena for the owner's lifetime.
class ArenaMember {
public:
    explicit ArenaMember(CObject* pOb) : m_pOb(pOb) { TestArena::Add(pOb); }
    ~ArenaMember() { TestArena::Remove(m_pOb); }
    ArenaMember(const ArenaMember&) = delete;
    ArenaMember& operator=(const ArenaMember&) = delete;

private:
    CObject* m_pOb;
};

/// schema 2: an int, then a child of its own kind (or itself) read with the typed >>.
class CTestNode : public CObject {
    DECLARE_SERIAL(CTestNode)
public:
    CTestNode() = default;
    explicit CTestNode(int value, CTestNode* child = nullptr) : m_value(value), m_pChild(child) {}
    void Serialize(CArchive& ar) override;

    int m_value = 0;
    CTestNode* m_pChild = nullptr;
    UINT m_nSeenSchema = 0;
    ArenaMember m_arena{this};
};

/// schema 2, derived from CTestNode.
class CTestDerived : public CTestNode {
    DECLARE_SERIAL(CTestDerived)
public:
    CTestDerived() = default;
    explicit CTestDerived(int value) : CTestNode(value) {}
};

/// schema 1: a pointer to an object of any class.
class CTestLink : public CObject {
    DECLARE_SERIAL(CTestLink)
public:
    CTestLink() = default;
    explicit CTestLink(CObject* target) : m_pTarget(target) {}
    void Serialize(CArchive& ar) override;

    CObject* m_pTarget = nullptr;
    ArenaMember m_arena{this};
};

/// versionable, schema 3: an inner object of any class, then what GetObjectSchema reports
/// after it (twice), then a WORD that only schemas 2 and later carry.
class CTestVersioned : public CObject {
    DECLARE_SERIAL(CTestVersioned)
public:
    void Serialize(CArchive& ar) override;

    CObject* m_pInner = nullptr;
    UINT m_nFirstSchema = 0;
    UINT m_nSecondSchema = 0;
    WORD m_extra = 0;
    ArenaMember m_arena{this};
};

/// schema 0 and no data: two bytes an object, for archives with many indices.
class CTestEmpty : public CObject {
    DECLARE_SERIAL(CTestEmpty)
public:
    ArenaMember m_arena{this};
};

/// schema 0: an owned CTestNode, then an int; the value 13 makes Serialize raise.
/// Not in the arena: it deletes its child itself.
class CTestThrowing : public CObject {
    DECLARE_SERIAL(CTestThrowing)
public:
    CTestThrowing() { ++s_live; }
    ~CTestThrowing() override {
        delete m_pChild;
        --s_live;
    }
    void Serialize(CArchive& ar) override;

    CTestNode* m_pChild = nullptr;
    int m_value = 0;
    static inline int s_live = 0;
};

/// Creatable by name but not serialisable.
class CTestDynamicOnly : public CObject {
    DECLARE_DYNCREATE(CTestDynamicOnly)
};

/// A class whose name has 63 characters, the longest an archive accepts.
class CTestClassNameOfSixtyThreeCharactersThatIsStillShortEnoughXYZAB : public CObject {
    DECLARE_SERIAL(CTestClassNameOfSixtyThreeCharactersThatIsStillShortEnoughXYZAB)
public:
    ArenaMember m_arena{this};
};
