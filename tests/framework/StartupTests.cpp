// What loading the library sets up: registered classes, the extension-module chain,
// FreeImage, and the application object with its wait cursor.
#include "framework/afx.h"

#include <gtest/gtest.h>

#include <FreeImage.h>
#include <dlfcn.h>

#include <set>
#include <string>

TEST(Startup, EveryRegisteredClassIsFoundAndCreatedByNameAndDeleted) {
    int count = CRuntimeClass::GetRegisteredCount(), created = 0;
    std::set<std::string> names;
    for (int i = 0; i < count; ++i) {
        const CRuntimeClass* c = CRuntimeClass::GetRegistered(i);
        ASSERT_NE(c, nullptr);
        SCOPED_TRACE(c->m_lpszClassName);
        EXPECT_TRUE(names.insert(c->m_lpszClassName).second) << "registered twice";
        EXPECT_EQ(CRuntimeClass::FromName(c->m_lpszClassName), c);
        EXPECT_EQ(CRuntimeClass::FromName(CString(c->m_lpszClassName).GetString()), c);
        CObject* ob = CRuntimeClass::CreateObject(c->m_lpszClassName);
        EXPECT_EQ(ob != nullptr, c->m_pfnCreateObject != nullptr);
        if (!ob) continue;
        EXPECT_EQ(ob->GetRuntimeClass(), c);
        EXPECT_TRUE(ob->IsKindOf(RUNTIME_CLASS(CObject)));
        EXPECT_EQ(ob->IsSerializable(), c->m_wSchema != 0xFFFF);
        delete ob;
        ++created;
    }
    EXPECT_EQ(CRuntimeClass::GetRegistered(count), nullptr);
    EXPECT_EQ(CRuntimeClass::GetRegistered(-1), nullptr);
    EXPECT_EQ(CRuntimeClass::CreateObject("CNoSuchClass"), nullptr);
    // Classes of the library and of this test program alike.
    EXPECT_TRUE(names.count("CObject") && names.count("CServerNode"));
    EXPECT_GT(created, 5);
}

TEST(Startup, TheLibraryJoinedTheChainOfExtensionLibrariesWithItsModule) {
    // The module handle is the base address at which the library is mapped.
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&AfxInitExtensionModule), &info), 0);
    bool found = false;
    for (CDynLinkLibrary* p = CDynLinkLibrary::GetFirst(); p; p = p->m_pNextDLL)
        found |= p->m_hModule == info.dli_fbase && p->m_hResource == info.dli_fbase;
    EXPECT_TRUE(found);
    EXPECT_TRUE(FreeImage_FIFSupportsReading(FIF_TIFF));

    AFX_EXTENSION_MODULE module = {FALSE, nullptr, nullptr};
    EXPECT_FALSE(AfxInitExtensionModule(module, nullptr));
    int anchor = 0;
    EXPECT_TRUE(AfxInitExtensionModule(module, &anchor));
    EXPECT_TRUE(module.bInitialized);
    {
        CDynLinkLibrary link(module);
        EXPECT_EQ(CDynLinkLibrary::GetFirst(), &link);
    }
    EXPECT_NE(CDynLinkLibrary::GetFirst()->m_hModule, static_cast<HMODULE>(&anchor));
    AfxTermExtensionModule(module);
    EXPECT_FALSE(module.bInitialized);
}

TEST(Startup, TheWaitCursorIsCountedOnTheApplicationObject) {
    CWinApp* app = AfxGetApp();
    ASSERT_NE(app, nullptr);
    app->ResetWaitCursorCounters();
    EXPECT_FALSE(app->IsWaitCursorOn());
    {
        CWaitCursor wait;
        EXPECT_TRUE(app->IsWaitCursorOn());
        app->BeginWaitCursor(); // nests
        app->EndWaitCursor();
        EXPECT_TRUE(app->IsWaitCursorOn());
        wait.Restore();
    }
    EXPECT_FALSE(app->IsWaitCursorOn());
    EXPECT_EQ(app->GetWaitCursorBeginCount(), 2);
    EXPECT_EQ(app->GetWaitCursorEndCount(), 2);
    try {
        CWaitCursor wait;
        throw CInvalidArgException();
    } catch (CException&) {
    }
    EXPECT_FALSE(app->IsWaitCursorOn());
    app->EndWaitCursor(); // unmatched: counted, stays off
    EXPECT_EQ(app->GetWaitCursorDepth(), 0);
    EXPECT_EQ(app->GetWaitCursorEndCount(), 4);
    // A host's own application object takes over while it lives.
    {
        CWinApp host(L"Host");
        EXPECT_EQ(AfxGetApp(), &host);
        CWaitCursor wait;
        EXPECT_TRUE(host.IsWaitCursorOn());
        EXPECT_FALSE(app->IsWaitCursorOn());
    }
    EXPECT_EQ(AfxGetApp(), app);
}
