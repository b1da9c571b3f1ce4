// Stands in for the application framework (MFC) on this platform: the root class and run-time classes.
#pragma once

#include "platform/wintypes/AfxTypes.h"
#include "platform/wintypes/Export.h"

#include <iosfwd>

class CArchive;
class CObject;
class CDumpContext;

/// Schema flag of classes whose objects read older schemas themselves (GetObjectSchema).
#define VERSIONABLE_SCHEMA (0x80000000u)

/// Run-time information about a class: its name, base, schema and factory.
/// Classes register themselves (IMPLEMENT_DYNCREATE, IMPLEMENT_SERIAL) so that archives
/// can create them by name.
struct KESTRO_API CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema; ///< 0xFFFF: not serialisable; may carry VERSIONABLE_SCHEMA
    CObject* (*m_pfnCreateObject)();
    const CRuntimeClass* m_pBaseClass;

    /// A new object of this class, or null when the class cannot be created dynamically.
    CObject* CreateObject() const;
    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;

    /// Looks a registered class up by its exact name; null when there is none.
    static CRuntimeClass* FromName(const char* lpszClassName);
    static CRuntimeClass* FromName(const wchar_t* lpszClassName);
    /// Creates an object of a registered class by name; null when unknown or not creatable.
    static CObject* CreateObject(const char* lpszClassName);
    static CObject* CreateObject(const wchar_t* lpszClassName);

    /// Registration, done by the IMPLEMENT_ macros at load time and undone at unload.
    static void Register(const CRuntimeClass* pClass);
    static void Unregister(const CRuntimeClass* pClass);
    /// Number of registered classes and the class at an index (0 first), for enumeration.
    static int GetRegisteredCount();
    static const CRuntimeClass* GetRegistered(int index);
};

/// Registers a run-time class for as long as the module that defines it is loaded.
struct KESTRO_API AFX_CLASSINIT {
    explicit AFX_CLASSINIT(const CRuntimeClass* pClass);
    ~AFX_CLASSINIT();
    AFX_CLASSINIT(const AFX_CLASSINIT&) = delete;
    AFX_CLASSINIT& operator=(const AFX_CLASSINIT&) = delete;

private:
    const CRuntimeClass* m_pClass;
};

#define RUNTIME_CLASS(class_name) (const_cast<CRuntimeClass*>(&class_name::class##class_name))

#define DECLARE_DYNAMIC(class_name)                                                                          \
public:                                                                                                      \
    static const CRuntimeClass class##class_name;                                                            \
    CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name)                                                                        \
    DECLARE_DYNAMIC(class_name)                                                                              \
    static CObject* PASCAL CreateObject();

// The extraction operator is exported with the class: a friend does not take its class's visibility.
#define DECLARE_SERIAL(class_name)                                                                           \
    DECLARE_DYNCREATE(class_name)                                                                            \
    friend KESTRO_API CArchive& operator>>(CArchive& ar, class_name*& pOb);

#define IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, pfnNew)                                 \
    const CRuntimeClass class_name::class##class_name = {#class_name, static_cast<int>(sizeof(class_name)),  \
                                                         static_cast<UINT>(wSchema), pfnNew,                 \
                                                         RUNTIME_CLASS(base_class_name)};                    \
    CRuntimeClass* class_name::GetRuntimeClass() const {                                                     \
        return RUNTIME_CLASS(class_name);                                                                    \
    }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                                       \
    IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                                                     \
    CObject* PASCAL class_name::CreateObject() {                                                             \
        return new class_name;                                                                               \
    }                                                                                                        \
    IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, class_name::CreateObject)                    \
    static const AFX_CLASSINIT _init_##class_name(RUNTIME_CLASS(class_name));

#define IMPLEMENT_SERIAL(class_name, base_class_name, wSchema)                                               \
    CObject* PASCAL class_name::CreateObject() {                                                             \
        return new class_name;                                                                               \
    }                                                                                                        \
    IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, class_name::CreateObject)                   \
    static const AFX_CLASSINIT _init_##class_name(RUNTIME_CLASS(class_name));                                \
    CArchive& operator>>(CArchive& ar, class_name*& pOb) {                                                   \
        pOb = static_cast<class_name*>(ar.ReadObject(RUNTIME_CLASS(class_name)));                            \
        return ar;                                                                                           \
    }

/// Diagnostic output target of Dump; writes to a standard stream.
class KESTRO_API CDumpContext {
public:
    explicit CDumpContext(std::ostream* stream = nullptr);
    CDumpContext& operator<<(const char* text);
    CDumpContext& operator<<(const wchar_t* text);
    CDumpContext& operator<<(int value);
    CDumpContext& operator<<(unsigned value);
    CDumpContext& operator<<(double value);
    CDumpContext& operator<<(const void* pointer);

private:
    std::ostream* m_stream;
};

/// The framework's root class: virtual destructor, run-time class, serialisation hook.
/// Virtual slots in order: GetRuntimeClass, destructor, Serialize, AssertValid, Dump.
class KESTRO_API CObject {
public:
    virtual CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject();
    virtual void Serialize(CArchive& ar);
    virtual void AssertValid() const;
    virtual void Dump(CDumpContext& dc) const;

    BOOL IsKindOf(const CRuntimeClass* pClass) const;
    BOOL IsSerializable() const;

    static const CRuntimeClass classCObject;

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};
