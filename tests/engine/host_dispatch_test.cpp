#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/host_dispatch.h"
#include "mailing/text_conversion.h"

namespace {

// A small automation object: a Subject property, a Fail method that reports
// through EXCEPINFO, a Broken property that fails with error information set
// on the thread, and Add(a, b) to check the argument order.
class TestObject : public IDispatch {
public:
    enum { kSubject = 1, kFail, kBroken, kAdd, kFolder };

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_nRefs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_nRefs; }
    STDMETHODIMP GetTypeInfoCount(UINT* pn) override { *pn = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override
    {
        static const struct { const wchar_t* pszName; DISPID id; } kNames[] = {
            { L"Subject", kSubject }, { L"Fail", kFail }, { L"Broken", kBroken }, { L"Add", kAdd },
            { L"Folder", kFolder },
        };
        for (const auto& entry : kNames) {
            if (lstrcmpiW(names[0], entry.pszName) == 0) {
                ids[0] = entry.id;
                return S_OK;
            }
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                        EXCEPINFO* pInfo, UINT*) override
    {
        m_wLastFlags = wFlags;
        switch (id) {
        case kSubject:
            if (wFlags & DISPATCH_PROPERTYPUT) {
                if (pParams->cArgs != 1 || pParams->cNamedArgs != 1 || pParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT ||
                    V_VT(&pParams->rgvarg[0]) != VT_BSTR)
                    return DISP_E_BADPARAMCOUNT;
                m_subject = V_BSTR(&pParams->rgvarg[0]);
                return S_OK;
            }
            V_VT(pResult) = VT_BSTR;
            V_BSTR(pResult) = SysAllocString(m_subject.c_str());
            return S_OK;
        case kFail:
            pInfo->scode = E_ACCESSDENIED;
            pInfo->bstrSource = SysAllocString(L"Stand-in");
            pInfo->bstrDescription = SysAllocString(L"The item is locked.");
            return DISP_E_EXCEPTION;
        case kBroken: {
            ICreateErrorInfo* pCreate = NULL;
            CreateErrorInfo(&pCreate);
            pCreate->SetSource((LPOLESTR)L"Store");
            pCreate->SetDescription((LPOLESTR)L"Disk full.");
            IErrorInfo* pError = NULL;
            pCreate->QueryInterface(IID_IErrorInfo, (void**)&pError);
            SetErrorInfo(0, pError);
            pError->Release();
            pCreate->Release();
            return E_FAIL;
        }
        case kAdd:
            // rgvarg is last first: Add(a, b) gives a - b to show the order.
            V_VT(pResult) = VT_I4;
            V_I4(pResult) = V_I4(&pParams->rgvarg[1]) - V_I4(&pParams->rgvarg[0]);
            return S_OK;
        case kFolder:
            if (!(wFlags & DISPATCH_PROPERTYPUTREF) || V_VT(&pParams->rgvarg[0]) != VT_DISPATCH)
                return DISP_E_TYPEMISMATCH;
            m_pFolder = V_DISPATCH(&pParams->rgvarg[0]);
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    ULONG m_nRefs = 1;
    std::wstring m_subject = L"Hello";
    WORD m_wLastFlags = 0;
    IDispatch* m_pFolder = NULL;
};

std::string SourceOf(const _com_error& error)
{
    IErrorInfo* pInfo = error.ErrorInfo();
    if (!pInfo)
        return "(none)";
    BSTR bstr = NULL;
    pInfo->GetSource(&bstr);
    char sz[128];
    WideToAnsi(bstr, sz, sizeof(sz));
    SysFreeString(bstr);
    pInfo->Release();
    return sz;
}

TEST(HostDispatch, GetsAndPutsPropertiesByName)
{
    TestObject object;
    ScopedVariant subject;
    DispGetProperty(&object, L"Subject", &subject);
    ASSERT_EQ(V_VT(&subject.Get()), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&subject.Get()), L"Hello");

    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(L"Merged");
    EXPECT_EQ(S_OK, DispTryPutProperty(&object, L"subject", value));
    VariantClear(&value);
    EXPECT_EQ(object.m_subject, L"Merged");
    EXPECT_EQ(object.m_wLastFlags, DISPATCH_PROPERTYPUT);
}

TEST(HostDispatch, PutsByReferenceAndPassesArgumentsInOrder)
{
    TestObject object, folder;
    EXPECT_EQ(S_OK, DispTryPutRefProperty(&object, L"Folder", &folder));
    EXPECT_EQ(object.m_pFolder, &folder);

    VARIANT args[2];
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = 10;
    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = 3;
    ScopedVariant result;
    DispCallMethod(&object, L"Add", args, 2, &result);
    EXPECT_EQ(V_I4(&result.Get()), 7);
}

TEST(HostDispatch, FailuresRaiseComErrorWithTheirErrorInformation)
{
    TestObject object;
    try {
        DispCallMethod(&object, L"Fail", NULL, 0, NULL);
        ADD_FAILURE() << "no exception";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), E_ACCESSDENIED);
        EXPECT_EQ(SourceOf(error), "Stand-in");
    }

    try {
        ScopedVariant value;
        DispGetProperty(&object, L"Broken", &value);
        ADD_FAILURE() << "no exception";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), E_FAIL);
        EXPECT_EQ(SourceOf(error), "Store");
    }

    try {
        ScopedVariant value;
        DispGetProperty(&object, L"NoSuchMember", &value);
        ADD_FAILURE() << "no exception";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), DISP_E_UNKNOWNNAME);
    }
    EXPECT_THROW(DispGetProperty(NULL, L"Subject", NULL), _com_error);
}

TEST(HostDispatch, RawCallsReturnTheCodeAndLeaveTheErrorInformationCurrent)
{
    TestObject object;
    EXPECT_EQ(DispTryCallMethod(&object, L"Fail", NULL, 0, NULL), E_ACCESSDENIED);
    IErrorInfo* pInfo = NULL;
    ASSERT_EQ(GetErrorInfo(0, &pInfo), S_OK);
    BSTR bstr = NULL;
    pInfo->GetDescription(&bstr);
    EXPECT_STREQ(bstr, L"The item is locked.");
    SysFreeString(bstr);
    pInfo->Release();

    // A later successful call does not inherit an error object.
    ScopedVariant subject;
    EXPECT_EQ(DispTryGetProperty(&object, L"Subject", &subject), S_OK);
    EXPECT_EQ(DispTryGetProperty(&object, L"NoSuchMember", &subject), DISP_E_UNKNOWNNAME);
    pInfo = NULL;
    EXPECT_NE(GetErrorInfo(0, &pInfo), S_OK);
    if (pInfo)
        pInfo->Release();
}

}  // namespace
