// The module in-process: the class-object table, the cached factory and the
// lock count, the object's forms and its interface map, and the sink.
#include <windows.h>

#include <oleidl.h>

#include <gtest/gtest.h>

#include "addin/Pigeonflight_ATL.h"
#include "addin/connect.h"
#include "addin/module.h"
#include "addin/system_locale.h"
#include "addin/tick_count64.h"
#include "tests/addin/connect_test_util.h"

namespace {

const CLSID kOtherClsid = { 0x2BF6E8F5, 0x8037, 0x4654, { 0xA5, 0x20, 0x6C, 0xC4, 0x36, 0xA3, 0x7A, 0xAA } };

TEST(ModuleTest, AnotherClassIdIsNotAvailableAndLeavesNoObject)
{
    void* pv = (void*)0x1234;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, gAtlModule.DllGetClassObject(kOtherClsid, IID_IClassFactory, &pv));
    EXPECT_EQ(pv, nullptr);
    pv = (void*)0x1234;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, gAtlModule.DllGetClassObject(IID_IRibbonCallback, IID_IUnknown, &pv));
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(E_POINTER, gAtlModule.DllGetClassObject(CLSID_Connect, IID_IClassFactory, NULL));
}

TEST(ModuleTest, TheTableHasOneClassWithItsScript)
{
    ASSERT_EQ(gnClassObjects, 1);
    EXPECT_TRUE(IsEqualCLSID(*gaClassObjects[0].pClsid, CLSID_Connect));
    EXPECT_EQ(gaClassObjects[0].nRegistryResource, 102u);
    EXPECT_EQ(gAtlModule.m_nAppIdResource, 101u);
    EXPECT_STREQ(gAtlModule.m_pszAppId, "{24E867AF-C5C8-4349-ADB3-DF78975C06BF}");
    EXPECT_TRUE(IsEqualGUID(gAtlModule.m_libid, LIBID_Pigeonflight_ATLLib));
}

TEST(ModuleTest, TheFactoryIsMadeOnceAndAnsweredForEachAsk)
{
    IClassFactory* pFirst = NULL;
    IUnknown* pSecond = NULL;
    ASSERT_EQ(S_OK, gAtlModule.DllGetClassObject(CLSID_Connect, IID_IClassFactory, (void**)&pFirst));
    ASSERT_EQ(S_OK, gAtlModule.DllGetClassObject(CLSID_Connect, IID_IUnknown, (void**)&pSecond));
    EXPECT_EQ(static_cast<IUnknown*>(pFirst), pSecond);
    void* pv = (void*)0x1234;
    EXPECT_EQ(E_NOINTERFACE, gAtlModule.DllGetClassObject(CLSID_Connect, IID_IDispatch, &pv));
    EXPECT_EQ(pv, nullptr);
    pSecond->Release();
    pFirst->Release();
    EXPECT_NE(gaClassObjects[0].pEncodedFactory, nullptr) << "the table keeps the factory";
}

TEST(ModuleTest, FactoryReferencesObjectsAndServerLocksKeepTheModule)
{
    ASSERT_EQ(gAtlModule.GetLockCount(), 0);
    EXPECT_EQ(S_OK, gAtlModule.DllCanUnloadNow());

    IClassFactory* pFactory = NULL;
    ASSERT_EQ(S_OK, gAtlModule.DllGetClassObject(CLSID_Connect, IID_IClassFactory, (void**)&pFactory));
    EXPECT_EQ(S_FALSE, gAtlModule.DllCanUnloadNow()) << "a factory reference is held outside";

    IUnknown* pObject = NULL;
    ASSERT_EQ(S_OK, pFactory->CreateInstance(NULL, IID__IDTExtensibility2, (void**)&pObject));
    pFactory->Release();
    EXPECT_EQ(S_FALSE, gAtlModule.DllCanUnloadNow()) << "an add-in object lives";
    pObject->Release();
    EXPECT_EQ(S_OK, gAtlModule.DllCanUnloadNow());

    ASSERT_EQ(S_OK, gAtlModule.DllGetClassObject(CLSID_Connect, IID_IClassFactory, (void**)&pFactory));
    EXPECT_EQ(S_OK, pFactory->LockServer(TRUE));
    pFactory->Release();
    EXPECT_EQ(S_FALSE, gAtlModule.DllCanUnloadNow()) << "locked";
    ASSERT_EQ(S_OK, gAtlModule.DllGetClassObject(CLSID_Connect, IID_IClassFactory, (void**)&pFactory));
    EXPECT_EQ(S_OK, pFactory->LockServer(FALSE));
    pFactory->Release();
    EXPECT_EQ(S_OK, gAtlModule.DllCanUnloadNow());
}

TEST(ModuleTest, LockAndUnlockGiveTheNewCount)
{
    EXPECT_EQ(gAtlModule.Lock(), 1);
    EXPECT_EQ(gAtlModule.Lock(), 2);
    EXPECT_EQ(gAtlModule.GetLockCount(), 2);
    EXPECT_EQ(gAtlModule.Unlock(), 1);
    EXPECT_EQ(gAtlModule.Unlock(), 0);
}

TEST(ModuleTest, EveryScriptMayReferToTheAppId)
{
    RegistryReplacements replacements;
    InitReplacements(&replacements);
    ASSERT_EQ(S_OK, gAtlModule.AddCommonRGSReplacements(&replacements));
    ASSERT_EQ(replacements.nCount, 1);
    EXPECT_STREQ(replacements.entries[0].szName, "APPID");
    EXPECT_STREQ(replacements.entries[0].szValue, "{24E867AF-C5C8-4349-ADB3-DF78975C06BF}");
}

TEST(ModuleTest, TheSystemLocaleHoldsForTheScopeOnly)
{
    const LCID lcidGerman = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(SetThreadLocale(lcidGerman));
    {
        ScopedSystemLocale locale;
        EXPECT_EQ(GetThreadLocale(), GetSystemDefaultLCID());
    }
    EXPECT_EQ(GetThreadLocale(), lcidGerman);
}

// An outer object that counts its own references and hands every other
// interface to the inner object.
class OuterObject : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return m_pInner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_nRefs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_nRefs; }

    IUnknown* m_pInner = NULL;
    ULONG m_nRefs = 1;
};

// The tick count the DLL serves the thread runtime on Windows XP: the 32-bit
// count widened, one wrap on whenever it goes back.
TEST(ModuleTest, TheWideTickCountCountsEachWrapOnce)
{
    const struct {
        ULONGLONG ullLast;
        DWORD dwNow;
        ULONGLONG ullWanted;
    } kCases[] = {
        { 0, 0, 0 },
        { 0, 1000, 1000 },
        { 1000, 1000, 1000 },                                  // the same count again
        { 0xFFFFFFF0ull, 0x10, 0x100000010ull },                 // the first wrap
        { 0x100000010ull, 0x20, 0x100000020ull },                // after it, no second
        { 0x2FFFFFFFFull, 0, 0x300000000ull },                   // a later wrap to zero
        { 0x300000000ull, 0xFFFFFFFF, 0x3FFFFFFFFull },
    };
    for (const auto& c : kCases)
        EXPECT_EQ(NextWideTick(c.ullLast, c.dwNow), c.ullWanted) << std::hex << c.ullLast << " then " << c.dwNow;
}

TEST(ConnectFormsTest, TheAggregatedFormPassesItsIdentityToTheOuterObject)
{
    OuterObject outer;
    void* pv = (void*)0x1234;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, CConnect::CreateInstance(&outer, IID_IDispatch, &pv));
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(gAtlModule.GetLockCount(), 0);

    ASSERT_EQ(S_OK, CConnect::CreateInstance(&outer, IID_IUnknown, (void**)&outer.m_pInner));
    EXPECT_EQ(gAtlModule.GetLockCount(), 1);
    EXPECT_EQ(outer.m_nRefs, 1u) << "the inner object holds no reference on its outer object";

    IRibbonCallback* pCallback = NULL;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IRibbonCallback, (void**)&pCallback));
    EXPECT_EQ(outer.m_nRefs, 2u) << "the interface counts on the outer object";
    IUnknown* pIdentity = NULL;
    ASSERT_EQ(S_OK, pCallback->QueryInterface(IID_IUnknown, (void**)&pIdentity));
    EXPECT_EQ(pIdentity, static_cast<IUnknown*>(&outer));
    pIdentity->Release();
    _IDTExtensibility2* pExtensibility = NULL;
    EXPECT_EQ(S_OK, pCallback->QueryInterface(IID__IDTExtensibility2, (void**)&pExtensibility));
    EXPECT_EQ(outer.m_nRefs, 3u);
    pExtensibility->Release();
    pCallback->Release();
    EXPECT_EQ(outer.m_nRefs, 1u);

    IUnknown* pInnerIdentity = NULL;
    ASSERT_EQ(S_OK, outer.m_pInner->QueryInterface(IID_IUnknown, (void**)&pInnerIdentity));
    EXPECT_EQ(pInnerIdentity, outer.m_pInner) << "the inner IUnknown is its own";
    EXPECT_EQ(pInnerIdentity->Release(), 1u);
    EXPECT_EQ(outer.m_pInner->Release(), 0u);
    EXPECT_EQ(gAtlModule.GetLockCount(), 0);
}

TEST(ConnectFormsTest, ARefusedInterfaceLeavesNoObject)
{
    void* pv = (void*)0x1234;
    EXPECT_EQ(E_NOINTERFACE, CConnect::CreateInstance(NULL, DIID_InspectorsEvents, &pv));
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(gAtlModule.GetLockCount(), 0);
}

TEST(ConnectFormsTest, TheObjectStartsUnconnected)
{
    ConnectObject connect;
    EXPECT_EQ(connect->m_dwAdviseCookie, 0xFEFEFEFEu);
    EXPECT_EQ(connect->m_nCustomUICalls, 0u);
    EXPECT_EQ(connect->m_pApplication.Get(), nullptr);
    EXPECT_EQ(connect->m_pInspectors.Get(), nullptr);
    EXPECT_EQ(connect.Refs(), 1u);
}

TEST(ConnectMapTest, TheMappedInterfacesShareOneIdentity)
{
    ConnectObject connect;
    const IID* kMapped[] = { &IID_IUnknown, &IID_IDispatch, &IID_IConnect, &IID__IDTExtensibility2,
                             &IID_IRibbonExtensibility, &IID_IRibbonCallback };
    void* pInterfaces[6] = {};
    for (int i = 0; i < 6; i++) {
        ASSERT_EQ(S_OK, connect->QueryInterface(*kMapped[i], &pInterfaces[i])) << i;
        IUnknown* pIdentity = NULL;
        ASSERT_EQ(S_OK, ((IUnknown*)pInterfaces[i])->QueryInterface(IID_IUnknown, (void**)&pIdentity));
        EXPECT_EQ(pIdentity, connect.Dispatch()) << i;
        pIdentity->Release();
    }
    EXPECT_EQ(connect.Refs(), 7u);
    EXPECT_EQ(pInterfaces[0], pInterfaces[1]) << "IUnknown answers with the first entry";
    EXPECT_EQ(pInterfaces[1], pInterfaces[5]) << "IDispatch is the IRibbonCallback interface";
    EXPECT_NE(pInterfaces[2], pInterfaces[5]);
    EXPECT_NE(pInterfaces[3], pInterfaces[5]);
    EXPECT_NE(pInterfaces[4], pInterfaces[5]);
    for (void* pv : pInterfaces)
        ((IUnknown*)pv)->Release();
    EXPECT_EQ(connect.Refs(), 1u);
}

TEST(ConnectMapTest, AnyOtherInterfaceIsRefused)
{
    ConnectObject connect;
    for (const IID* piid : { &DIID_InspectorsEvents, &IID_IClassFactory, &IID_IRibbonControl, &IID_IConnectionPoint,
                             &IID_IOleWindow }) {
        void* pv = (void*)0x1234;
        EXPECT_EQ(E_NOINTERFACE, connect->QueryInterface(*piid, &pv));
        EXPECT_EQ(pv, nullptr);
    }
    EXPECT_EQ(E_POINTER, connect->QueryInterface(IID_IUnknown, NULL));
    EXPECT_EQ(connect.Refs(), 1u);
}

TEST(ConnectMapTest, EveryDualInterfaceHasOneTypeInfo)
{
    ConnectObject connect;
    IDispatch* pDispatches[] = { static_cast<IConnect*>(connect.Get()), static_cast<_IDTExtensibility2*>(connect.Get()),
                                 static_cast<IRibbonExtensibility*>(connect.Get()),
                                 static_cast<IRibbonCallback*>(connect.Get()) };
    for (IDispatch* pDispatch : pDispatches) {
        UINT nCount = 7;
        EXPECT_EQ(S_OK, pDispatch->GetTypeInfoCount(&nCount));
        EXPECT_EQ(nCount, 1u);
        ITypeInfo* pInfo = (ITypeInfo*)0x1234;
        EXPECT_EQ(DISP_E_BADINDEX, pDispatch->GetTypeInfo(1, 0, &pInfo));
    }
}

TEST(ConnectMapTest, IConnectIsNotDescribedByTheLibrary)
{
    ConnectObject connect;
    IDispatch* pConnect = static_cast<IConnect*>(connect.Get());
    LPOLESTR pszName = (LPOLESTR)L"ButtonClicked";
    DISPID dispId = 0;
    EXPECT_TRUE(FAILED(pConnect->GetIDsOfNames(IID_NULL, &pszName, 1, 0x0409, &dispId)));
    ITypeInfo* pInfo = NULL;
    EXPECT_TRUE(FAILED(pConnect->GetTypeInfo(0, 0x0409, &pInfo)));
    EXPECT_EQ(pInfo, nullptr);
}

TEST(SinkTest, AnswersForTheEventsInterfaceAndCountsOnTheObject)
{
    ConnectObject connect;
    IDispatch* pSink = connect.Sink();
    for (const IID* piid : { &IID_IUnknown, &IID_IDispatch, &DIID_InspectorsEvents }) {
        void* pv = NULL;
        ASSERT_EQ(S_OK, pSink->QueryInterface(*piid, &pv));
        EXPECT_EQ(pv, (void*)pSink) << "the sink itself, not the object's interfaces";
        EXPECT_EQ(connect.Refs(), 2u);
        ((IUnknown*)pv)->Release();
    }
    void* pv = (void*)0x1234;
    EXPECT_EQ(E_NOINTERFACE, pSink->QueryInterface(IID_IRibbonCallback, &pv));
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(pSink->AddRef(), 2u);
    EXPECT_EQ(pSink->Release(), 1u);
}

TEST(SinkTest, HasNoTypeInformation)
{
    ConnectObject connect;
    IDispatch* pSink = connect.Sink();
    UINT nCount = 0;
    EXPECT_EQ(E_NOTIMPL, pSink->GetTypeInfoCount(&nCount));
    ITypeInfo* pInfo = NULL;
    EXPECT_EQ(E_NOTIMPL, pSink->GetTypeInfo(0, 0, &pInfo));
    LPOLESTR pszName = (LPOLESTR)L"NewInspector";
    DISPID dispId = 0;
    EXPECT_EQ(E_NOTIMPL, pSink->GetIDsOfNames(IID_NULL, &pszName, 1, 0, &dispId));
}

}  // namespace
