// Small host objects for the add-in's tests: an object with properties by
// name that can also pose as an inspector or a mail item, and a ribbon
// control. Each records nothing but what the tests set, so a test sees what
// the add-in reads and what references it leaves behind.
#ifndef LETTERCAST_TESTS_FAKE_HOST_H
#define LETTERCAST_TESTS_FAKE_HOST_H

#include <windows.h>
#include <oaidl.h>
#include <oleidl.h>

#include <string>
#include <vector>

#include "addin/host_interfaces.h"

class FakeObject final : public IDispatch, public IOleWindow {
public:
    FakeObject();   // one reference, the caller's

    // Identities that QueryInterface answers with the IDispatch.
    void AnswerAs(const IID& iid) { m_iids.push_back(iid); }
    // Answers IOleWindow, whose GetWindow gives hWnd.
    void GiveWindow(HWND hWnd);
    void SetLong(const wchar_t* pszName, LONG nValue);
    void SetText(const wchar_t* pszName, const wchar_t* pszValue);
    void SetObject(const wchar_t* pszName, IDispatch* pValue);   // takes its own reference
    void SetFailure(const wchar_t* pszName, HRESULT hr);
    LONG Refs() const { return m_nRefs; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL fEnterMode) override;

private:
    struct Property {
        std::wstring name;
        HRESULT hr;
        VARIANT value;
    };
    ~FakeObject();
    Property* Find(const wchar_t* pszName, bool bCreate);

    LONG m_nRefs;
    std::vector<IID> m_iids;
    std::vector<Property> m_properties;
    bool m_bHasWindow;
    HWND m_hWnd;
};

class FakeRibbonControl final : public IRibbonControl {
public:
    explicit FakeRibbonControl(const wchar_t* pszId);   // one reference, the caller's

    void FailId(HRESULT hr) { m_hrId = hr; }
    void SetContext(IDispatch* pContext);                // takes its own reference
    void FailContext(HRESULT hr) { m_hrContext = hr; }
    LONG Refs() const { return m_nRefs; }
    int IdReads() const { return m_nIdReads; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP get_Id(BSTR* Id) override;
    STDMETHODIMP get_Context(IDispatch** Context) override;
    STDMETHODIMP get_Tag(BSTR* Tag) override;

private:
    ~FakeRibbonControl();

    LONG m_nRefs;
    std::wstring m_id;
    HRESULT m_hrId;
    IDispatch* m_pContext;
    HRESULT m_hrContext;
    int m_nIdReads;
};

#endif
