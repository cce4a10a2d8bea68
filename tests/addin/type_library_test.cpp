// The type library embedded in the DLL as "TYPELIB" 1, read back with the
// system's type-library calls; and the ribbon's late-bound call through it
// once it is registered.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "addin/Pigeonflight_ATL.h"
#include "addin/connect.h"
#include "settings/data_paths.h"
#include "tests/addin/connect_test_util.h"
#include "tests/addin/fake_host.h"
#include "tests/support/registry_fixtures.h"
#include "tests/support/test_files.h"

namespace {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring Documentation(ITypeLib* pLib, INT nIndex, std::wstring* pHelp)
{
    BSTR bstrName = NULL, bstrHelp = NULL;
    EXPECT_EQ(S_OK, pLib->GetDocumentation(nIndex, &bstrName, &bstrHelp, NULL, NULL));
    std::wstring name = bstrName ? bstrName : L"";
    *pHelp = bstrHelp ? bstrHelp : L"";
    SysFreeString(bstrName);
    SysFreeString(bstrHelp);
    return name;
}

class TypeLibraryTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::wstring path = Wide(ProductDir() + "Pigeonflight_ATL.dll");
        ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, &m_pLib));
    }
    void TearDown() override
    {
        if (m_pLib)
            m_pLib->Release();
    }
    ITypeLib* m_pLib = NULL;
};

TEST_F(TypeLibraryTest, TheLibraryHasItsIdVersionAndLanguage)
{
    TLIBATTR* pAttr = NULL;
    ASSERT_EQ(S_OK, m_pLib->GetLibAttr(&pAttr));
    EXPECT_TRUE(IsEqualGUID(pAttr->guid, LIBID_Pigeonflight_ATLLib));
    EXPECT_EQ(pAttr->wMajorVerNum, 1);
    EXPECT_EQ(pAttr->wMinorVerNum, 0);
    EXPECT_EQ(pAttr->lcid, 0x0409u);
#ifdef _WIN64
    EXPECT_EQ(pAttr->syskind, SYS_WIN64);
#else
    EXPECT_EQ(pAttr->syskind, SYS_WIN32);
#endif
    m_pLib->ReleaseTLibAttr(pAttr);
    std::wstring help;
    EXPECT_EQ(Documentation(m_pLib, -1, &help), L"Pigeonflight_ATLLib");
    EXPECT_EQ(help, L"Pigeonflight_ATL 1.0 Type Library");
}

TEST_F(TypeLibraryTest, ItDescribesTheCallbackAndTheClassOnly)
{
    ASSERT_EQ(m_pLib->GetTypeInfoCount(), 2u);
    std::wstring help;
    EXPECT_EQ(Documentation(m_pLib, 0, &help), L"IRibbonCallback");
    EXPECT_EQ(help, L"IRibbonCallback Interface");
    EXPECT_EQ(Documentation(m_pLib, 1, &help), L"Connect");
    EXPECT_EQ(help, L"Connect Class");
    ITypeInfo* pInfo = NULL;
    EXPECT_TRUE(FAILED(m_pLib->GetTypeInfoOfGuid(IID_IConnect, &pInfo)));
}

TEST_F(TypeLibraryTest, TheCallbackIsADualInterfaceWithButtonClickedAt42)
{
    ITypeInfo* pInfo = NULL;
    ASSERT_EQ(S_OK, m_pLib->GetTypeInfoOfGuid(IID_IRibbonCallback, &pInfo));
    TYPEATTR* pAttr = NULL;
    ASSERT_EQ(S_OK, pInfo->GetTypeAttr(&pAttr));
    EXPECT_EQ(pAttr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FNONEXTENSIBLE);
    pInfo->ReleaseTypeAttr(pAttr);

    // The vtable side of the dual interface.
    HREFTYPE hRef = 0;
    ASSERT_EQ(S_OK, pInfo->GetRefTypeOfImplType(-1, &hRef));
    ITypeInfo* pVtable = NULL;
    ASSERT_EQ(S_OK, pInfo->GetRefTypeInfo(hRef, &pVtable));
    ASSERT_EQ(S_OK, pVtable->GetTypeAttr(&pAttr));
    EXPECT_EQ(pAttr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    EXPECT_EQ(pAttr->cFuncs, 1);
    pVtable->ReleaseTypeAttr(pAttr);
    FUNCDESC* pFunc = NULL;
    ASSERT_EQ(S_OK, pVtable->GetFuncDesc(0, &pFunc));
    EXPECT_EQ(pFunc->memid, 42);
    EXPECT_EQ(pFunc->oVft, 7 * (SHORT)sizeof(void*)) << "the first slot after IDispatch";
    EXPECT_EQ(pFunc->cParams, 1);
    EXPECT_EQ(pFunc->lprgelemdescParam[0].tdesc.vt, VT_DISPATCH);
    EXPECT_TRUE(pFunc->lprgelemdescParam[0].paramdesc.wParamFlags & PARAMFLAG_FIN);
    EXPECT_EQ(pFunc->elemdescFunc.tdesc.vt, VT_HRESULT);
    BSTR names[2] = {};
    UINT cNames = 0;
    EXPECT_EQ(S_OK, pVtable->GetNames(42, names, 2, &cNames));
    ASSERT_EQ(cNames, 2u);
    EXPECT_STREQ(names[0], L"ButtonClicked");
    EXPECT_STREQ(names[1], L"ribbonControl");
    SysFreeString(names[0]);
    SysFreeString(names[1]);
    BSTR bstrHelp = NULL;
    EXPECT_EQ(S_OK, pVtable->GetDocumentation(42, NULL, &bstrHelp, NULL, NULL));
    EXPECT_STREQ(bstrHelp, L"Button Callback");
    SysFreeString(bstrHelp);
    pVtable->ReleaseFuncDesc(pFunc);
    pVtable->Release();
    pInfo->Release();
}

TEST_F(TypeLibraryTest, TheClassIsCreatableWithTheCallbackAsItsDefault)
{
    ITypeInfo* pInfo = NULL;
    ASSERT_EQ(S_OK, m_pLib->GetTypeInfoOfGuid(CLSID_Connect, &pInfo));
    TYPEATTR* pAttr = NULL;
    ASSERT_EQ(S_OK, pInfo->GetTypeAttr(&pAttr));
    EXPECT_EQ(pAttr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(pAttr->cImplTypes, 1);
    pInfo->ReleaseTypeAttr(pAttr);
    INT nFlags = 0;
    EXPECT_EQ(S_OK, pInfo->GetImplTypeFlags(0, &nFlags));
    EXPECT_TRUE(nFlags & IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE hRef = 0;
    ASSERT_EQ(S_OK, pInfo->GetRefTypeOfImplType(0, &hRef));
    ITypeInfo* pDefault = NULL;
    ASSERT_EQ(S_OK, pInfo->GetRefTypeInfo(hRef, &pDefault));
    ASSERT_EQ(S_OK, pDefault->GetTypeAttr(&pAttr));
    EXPECT_TRUE(IsEqualGUID(pAttr->guid, IID_IRibbonCallback));
    pDefault->ReleaseTypeAttr(pAttr);
    pDefault->Release();
    pInfo->Release();
}

// With the DLL registered, the ribbon finds ButtonClicked by name on the
// object's IDispatch and reaches it through Invoke(42).
class LateBoundRibbonTest : public testing::Test {
protected:
    LateBoundRibbonTest()
        : m_cleanClsid(HKEY_CLASSES_ROOT, "CLSID\\{2BF6E8F5-8037-4654-A520-6CC436A37AA9}"),
          m_cleanAppId(HKEY_CLASSES_ROOT, "AppID\\{24E867AF-C5C8-4349-ADB3-DF78975C06BF}"),
          m_cleanAppIdDll(HKEY_CLASSES_ROOT, "AppID\\Pigeonflight_ATL.DLL"),
          m_cleanProgId(HKEY_CLASSES_ROOT, "Pigeonflight_ATL.Connect.1"),
          m_cleanIndependent(HKEY_CLASSES_ROOT, "Pigeonflight_ATL.Connect"),
          m_cleanTypeLib(HKEY_CLASSES_ROOT, "TypeLib\\{6EB38DB3-97C4-4446-A085-9C590A97C559}"),
          m_cleanInterface(HKEY_CLASSES_ROOT, "Interface\\{CE895442-9981-4315-AA85-4B9A5C7739D8}"),
          m_cleanAddin(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Outlook\\Addins\\Pigeonflight_ATL.Connect")
    {
    }

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        m_dllPath = m_root.File("Pigeonflight_ATL.dll");
        ASSERT_TRUE(CopyTo(ProductDir() + "Pigeonflight_ATL.dll", m_dllPath));
        m_hDll = LoadLibraryA(m_dllPath.c_str());
        ASSERT_NE(m_hDll, nullptr);
        typedef HRESULT(STDAPICALLTYPE * Entry)();
        m_pfnUnregister = (Entry)(void*)GetProcAddress(m_hDll, "DllUnregisterServer");
        ASSERT_EQ(S_OK, ((Entry)(void*)GetProcAddress(m_hDll, "DllRegisterServer"))());
        // The test program's own object, described by the registered library.
        ghInstance = GetModuleHandleA(NULL);
    }

    void TearDown() override
    {
        m_connect.reset();
        if (m_pfnUnregister) {
            EXPECT_EQ(S_OK, m_pfnUnregister());
        }
        if (m_hDll)
            FreeLibrary(m_hDll);
        CoUninitialize();
    }

    HRESULT InvokeButtonClicked(IDispatch* pControl, EXCEPINFO* pInfo)
    {
        VARIANT argument;
        VariantInit(&argument);
        V_VT(&argument) = VT_DISPATCH;
        V_DISPATCH(&argument) = pControl;
        DISPPARAMS params = { &argument, NULL, 1, 0 };
        VARIANT result;
        VariantInit(&result);
        memset(pInfo, 0, sizeof(*pInfo));
        HRESULT hr = m_connect->Dispatch()->Invoke(DISPID_BUTTON_CLICKED, IID_NULL, 0x0409, DISPATCH_METHOD, &params,
                                                   &result, pInfo, NULL);
        VariantClear(&result);
        return hr;
    }

    TempFolder m_root;
    ScopedKeyRemoval m_cleanClsid, m_cleanAppId, m_cleanAppIdDll, m_cleanProgId, m_cleanIndependent, m_cleanTypeLib,
        m_cleanInterface, m_cleanAddin;
    std::string m_dllPath;
    HMODULE m_hDll = NULL;
    HRESULT(STDAPICALLTYPE* m_pfnUnregister)() = NULL;
    std::unique_ptr<ConnectObject> m_connect{ new ConnectObject };
};

TEST_F(LateBoundRibbonTest, ButtonClickedIsFoundByNameAndReachedThroughInvoke)
{
    LPOLESTR pszName = (LPOLESTR)L"ButtonClicked";
    DISPID dispId = 0;
    ASSERT_EQ(S_OK, m_connect->Dispatch()->GetIDsOfNames(IID_NULL, &pszName, 1, 0x0409, &dispId));
    EXPECT_EQ(dispId, 42);
    ITypeInfo* pInfo = NULL;
    ASSERT_EQ(S_OK, m_connect->Dispatch()->GetTypeInfo(0, 0x0409, &pInfo));
    pInfo->Release();

    FakeRibbonControl* pControl = new FakeRibbonControl(L"NoButtonOfOurs");
    EXCEPINFO info;
    EXPECT_EQ(S_OK, InvokeButtonClicked(pControl, &info));
    EXPECT_EQ(pControl->IdReads(), 1) << "ButtonClicked ran";

    pControl->FailId(E_ACCESSDENIED);
    HRESULT hr = InvokeButtonClicked(pControl, &info);
    EXPECT_EQ(pControl->IdReads(), 2);
    EXPECT_TRUE(hr == E_ACCESSDENIED || (hr == DISP_E_EXCEPTION && info.scode == E_ACCESSDENIED))
        << std::hex << hr << " " << info.scode;
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    EXPECT_EQ(pControl->Refs(), 1);
    pControl->Release();
}

TEST_F(LateBoundRibbonTest, OtherInterfacesKeepTheirOwnNames)
{
    LPOLESTR pszName = (LPOLESTR)L"ButtonClicked";
    DISPID dispId = 0;
    IDispatch* pExtensibility = static_cast<_IDTExtensibility2*>(m_connect->Get());
    EXPECT_TRUE(FAILED(pExtensibility->GetIDsOfNames(IID_NULL, &pszName, 1, 0x0409, &dispId)))
        << "described by the add-in designer library, which is not registered here";
    IDispatch* pConnect = static_cast<IConnect*>(m_connect->Get());
    EXPECT_TRUE(FAILED(pConnect->GetIDsOfNames(IID_NULL, &pszName, 1, 0x0409, &dispId)));
}

}  // namespace
