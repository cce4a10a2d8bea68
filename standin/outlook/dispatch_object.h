// The base of every object-model object of the stand-in: IDispatch by member
// name over a table of members, the fault check of each call, and the error
// information that Outlook's members raise.
#ifndef LETTERCAST_STANDIN_DISPATCH_OBJECT_H
#define LETTERCAST_STANDIN_DISPATCH_OBJECT_H

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "standin/outlook/com_ref.h"
#include "standin/outlook/outlook_host.h"

enum DispAccess {
    AccessGet = 1,
    AccessPut = 2,
    AccessPutRef = 4,
    AccessCall = 8,
};

struct DispMember {
    const wchar_t* pszName;
    DISPID id;
    int nAccess;   // DispAccess bits the member allows
};

// The arguments of one call in their natural order (first argument 0); for
// a put, argument 0 is the value.
class DispArgs {
public:
    DispArgs(DISPPARAMS* pParams, bool bPut, UINT* puArgError);

    int Count() const { return m_nCount; }
    // Absent, or passed as "missing" (VT_ERROR with DISP_E_PARAMNOTFOUND).
    bool IsMissing(int nIndex) const;
    HRESULT GetLong(int nIndex, LONG* pnValue) const;
    HRESULT GetText(int nIndex, std::wstring* pText) const;
    // Passed as a string (VT_BSTR), as a name rather than a number.
    bool IsText(int nIndex) const;
    // A borrowed object, NULL when Nothing was passed.
    HRESULT GetObject(int nIndex, IDispatch** ppObject) const;

private:
    const VARIANT* At(int nIndex) const;
    HRESULT Mismatch(int nIndex) const;

    DISPPARAMS* m_pParams;
    int m_nCount;
    UINT* m_puArgError;
};

// What a member raises: the code and the description of its error.
struct DispError {
    HRESULT hr;
    wchar_t szDescription[256];
};

// Fills the error and answers DISP_E_EXCEPTION, for "return RaiseError(...)".
HRESULT RaiseError(DispError* pError, HRESULT hr, const wchar_t* pszDescription);

// The errors Outlook raises for a deleted item and a closed inspector.
HRESULT RaiseItemGone(DispError* pError);

// The index argument nArg of a collection's Item or Remove, from 1, of one
// of its cItems; Outlook's "Array index out of bounds." beyond them.
HRESULT CollectionIndex(const DispArgs& args, int nArg, size_t cItems, LONG* pnIndex, DispError* pError);

void ReturnLong(VARIANT* pResult, LONG nValue);
void ReturnBool(VARIANT* pResult, bool bValue);
void ReturnText(VARIANT* pResult, const std::wstring& text);
// Takes over the reference; NULL gives Nothing.
void ReturnObject(VARIANT* pResult, IDispatch* pObject);

// The first major versions of Outlook with a member: 12 is Outlook 2007, 14
// Outlook 2010.
const int kOutlook2007 = 12;
const int kOutlook2010 = 14;

enum ObjectKind {
    KindApplication,
    KindNameSpace,
    KindFolder,
    KindItems,
    KindMailItem,
    KindInspectors,
    KindInspector,
    KindExplorer,
    KindCommandBars,
    KindCommandBarControl,
    KindAttachments,
    KindAttachment,
    KindRecipient,
    KindAddressEntry,
    KindAccounts,
    KindAccount,
    KindStore,
    KindRecipients,
};

class DispatchObject : public IDispatch {
public:
    // pszObjectName names the object in fault operations ("MailItem").
    DispatchObject(ObjectKind nKind, const char* pszObjectName, const IID& iidOwn, const DispMember* pMembers,
                   int nMembers, OutlookHost* pHost);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    ObjectKind Kind() const { return m_nKind; }
    OutlookHost* Host() const { return m_pHost; }

    // The stand-in object behind an IDispatch of this module, with a
    // reference of its own, or NULL for anything else.
    static DispatchObject* FromDispatch(IDispatch* pObject, ObjectKind nKind);

protected:
    virtual ~DispatchObject();
    // One call, its access already checked and its fault already asked.
    virtual HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult,
                                 DispError* pError) = 0;
    // Further interfaces (IOleWindow, IConnectionPointContainer), AddRef'd.
    virtual void* OtherInterface(REFIID riid) { return NULL; }
    // Whether the member is there at all in the host's version of Outlook:
    // one that came with a later version is an unknown name, as it is to
    // that version's type library.
    virtual bool HasMember(DISPID id) const { return true; }

private:
    LiveObject m_live;
    LONG m_nRefs;
    ObjectKind m_nKind;
    const char* m_pszObjectName;
    const IID& m_iidOwn;
    const DispMember* m_pMembers;
    int m_nMembers;
    OutlookHost* m_pHost;
};

// Asks the fault plan about a vtable method of the stand-in ("IMessage.GetProps"):
// true with *phr to return for FaultFail; throws for FaultRaise, or, when the
// callers live in other modules, returns true with COM error information set.
bool VtableFault(const char* pszOperation, HRESULT* phr);

// Set from StandinOutlookOptions.bCallersInOtherModules when the stand-in is
// created; a process holds one stand-in Outlook at a time.
extern bool gbStandinCallersInOtherModules;

#endif
