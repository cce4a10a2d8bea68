// _Explorer, its command bars, and the one control the stand-in has: 7095,
// Send/Receive.
#include <oleidl.h>

#include "standin/outlook/outlook_ids.h"
#include "standin/outlook/outlook_objects.h"

namespace {

const LONG kSendReceiveId = 7095;
const LONG kClassExplorer = 34;

enum {
    kCommandBars = 1,
    kExplorerCaption,
    kExplorerClass,
};

const DispMember kExplorerMembers[] = {
    { L"CommandBars", kCommandBars, AccessGet },
    { L"Caption", kExplorerCaption, AccessGet },
    { L"Class", kExplorerClass, AccessGet },
};

class ExplorerObject : public DispatchObject, public IOleWindow {
public:
    explicit ExplorerObject(OutlookHost* pHost)
        : DispatchObject(KindExplorer, "Explorer", IID_OlExplorer, kExplorerMembers,
                         sizeof(kExplorerMembers) / sizeof(kExplorerMembers[0]), pHost)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return DispatchObject::QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return DispatchObject::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return DispatchObject::Release(); }

    STDMETHODIMP GetWindow(HWND* phwnd) override
    {
        if (!phwnd)
            return E_POINTER;
        *phwnd = NULL;
        HRESULT hr = S_OK;
        if (VtableFault("Explorer.GetWindow", &hr))
            return hr;
        *phwnd = Host()->ExplorerWindow();
        return *phwnd ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL fEnterMode) override { return E_NOTIMPL; }

protected:
    void* OtherInterface(REFIID riid) override
    {
        if (!IsEqualIID(riid, IID_IOleWindow))
            return NULL;
        AddRef();
        return static_cast<IOleWindow*>(this);
    }

    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        switch (id) {
        case kCommandBars:
            ReturnObject(pResult, NewCommandBars(Host()));
            return S_OK;
        case kExplorerCaption:
            ReturnText(pResult, L"Inbox - Stand-in Outlook");
            return S_OK;
        case kExplorerClass:
            ReturnLong(pResult, kClassExplorer);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }
};

enum {
    kFindControl = 1,
};

const DispMember kCommandBarsMembers[] = {
    { L"FindControl", kFindControl, AccessCall },
};

class CommandBarsObject : public DispatchObject {
public:
    explicit CommandBarsObject(OutlookHost* pHost)
        : DispatchObject(KindCommandBars, "CommandBars", IID_NULL, kCommandBarsMembers,
                         sizeof(kCommandBarsMembers) / sizeof(kCommandBarsMembers[0]), pHost)
    {
    }

protected:
    // FindControl(Type, Id, Tag, Visible, Recursive), each optional.
    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        if (id != kFindControl)
            return DISP_E_MEMBERNOTFOUND;
        LONG nType = 0;
        HRESULT hr = args.IsMissing(0) ? S_OK : args.GetLong(0, &nType);
        if (FAILED(hr))
            return hr;
        LONG nId = 0;
        hr = args.IsMissing(1) ? S_OK : args.GetLong(1, &nId);
        if (FAILED(hr))
            return hr;
        std::wstring tag;
        hr = args.IsMissing(2) ? S_OK : args.GetText(2, &tag);
        if (FAILED(hr))
            return hr;
        // The Send/Receive control carries no tag, so a search by tag never finds it.
        bool bFound = !args.IsMissing(1) && nId == kSendReceiveId && tag.empty();
        ReturnObject(pResult, bFound ? NewCommandBarControl(Host()) : NULL);
        return S_OK;
    }
};

enum {
    kExecute = 1,
    kId,
    kControlCaption,
};

const DispMember kControlMembers[] = {
    { L"Execute", kExecute, AccessCall },
    { L"Id", kId, AccessGet },
    { L"Caption", kControlCaption, AccessGet },
};

class CommandBarControlObject : public DispatchObject {
public:
    explicit CommandBarControlObject(OutlookHost* pHost)
        : DispatchObject(KindCommandBarControl, "CommandBarControl", IID_NULL, kControlMembers,
                         sizeof(kControlMembers) / sizeof(kControlMembers[0]), pHost)
    {
    }

protected:
    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        switch (id) {
        case kExecute:
            // Send/Receive sends what waits in the Outbox; a message that
            // cannot go stays there, as the command reports nothing.
            Host()->CountSendReceive();
            Host()->FlushOutbox();
            return S_OK;
        case kId:
            ReturnLong(pResult, kSendReceiveId);
            return S_OK;
        case kControlCaption:
            ReturnText(pResult, L"Send/Receive");
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }
};

}  // namespace

IDispatch* NewExplorer(OutlookHost* pHost)
{
    return static_cast<IDispatch*>(new ExplorerObject(pHost));
}

IDispatch* NewCommandBars(OutlookHost* pHost)
{
    return new CommandBarsObject(pHost);
}

IDispatch* NewCommandBarControl(OutlookHost* pHost)
{
    return new CommandBarControlObject(pHost);
}
