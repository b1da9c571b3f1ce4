// What loading the library sets up: its classes, registered by name. (The extension-module chain
// is checked through the dialog templates found in it, the application object's wait cursor
// through the tests that count it.)
#include "platform/framework/afx.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

TEST(Startup, EveryRegisteredClassIsMadeByItsName) {
    const int count = CRuntimeClass::GetRegisteredCount();
    std::set<std::string> names;
    for (int i = 0; i < count; ++i) {
        const CRuntimeClass* c = CRuntimeClass::GetRegistered(i);
        SCOPED_TRACE(c->m_lpszClassName);
        EXPECT_TRUE(names.insert(c->m_lpszClassName).second) << "registered twice";
        EXPECT_EQ(CRuntimeClass::FromName(CString(c->m_lpszClassName).GetString()), c);
        std::unique_ptr<CObject> ob(CRuntimeClass::CreateObject(c->m_lpszClassName));
        EXPECT_EQ(ob != nullptr, c->m_pfnCreateObject != nullptr);
        if (!ob) continue;
        EXPECT_EQ(ob->GetRuntimeClass(), c);
        EXPECT_EQ(ob->IsSerializable(), c->m_wSchema != 0xFFFF);
    }
    EXPECT_EQ(CRuntimeClass::GetRegistered(count), nullptr);
    EXPECT_EQ(CRuntimeClass::CreateObject("CNoSuchClass"), nullptr);
    // Classes of the library and of this test program alike, the images as versionable schema 1.
    EXPECT_EQ(names.count("CServerNode"), 1u);
    for (const char* image : {"fipWinImage", "DalvoImage"})
        EXPECT_EQ(CRuntimeClass::FromName(image)->m_wSchema, VERSIONABLE_SCHEMA | 1) << image;
    EXPECT_EQ(CRuntimeClass::FromName("DalvoImage")->m_pBaseClass, CRuntimeClass::FromName("fipWinImage"));
}
