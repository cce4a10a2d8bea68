// The profile's accounts: NameSpace.Accounts, each Account, and the Store
// an account delivers to. Account i of the host delivers to store i, the
// first account's being the default store; the objects name an account or
// a store by that number, so that two objects of one account are the same
// account to SendUsingAccount.
#include <windows.h>

#include "standin/outlook/outlook_ids.h"
#include "standin/outlook/outlook_objects.h"
#include "standin/outlook/standin_text.h"

namespace {

// OlObjectClass.
const LONG kClassAccount = 105;
const LONG kClassAccounts = 106;
const LONG kClassStore = 107;
// OlAccountType: every account of the stand-in is a POP3 account.
const LONG kAccountTypePop3 = 2;

enum {
    kStoreDisplayName = 1,
    kStoreGetDefaultFolder,
    kStoreClass,
};

const DispMember kStoreMembers[] = {
    { L"DisplayName", kStoreDisplayName, AccessGet },
    { L"GetDefaultFolder", kStoreGetDefaultFolder, AccessCall },
    { L"Class", kStoreClass, AccessGet },
};

// One store of the session. Its display name is the address of the account
// that delivers to it, as Outlook names the data file of a new account.
class StoreObject : public DispatchObject {
public:
    StoreObject(OutlookHost* pHost, int nStore)
        : DispatchObject(KindStore, "Store", IID_NULL, kStoreMembers, sizeof(kStoreMembers) / sizeof(kStoreMembers[0]),
                         pHost),
          m_nStore(nStore)
    {
    }

protected:
    // Store.GetDefaultFolder came with Outlook 2010.
    bool HasMember(DISPID id) const override
    {
        return id != kStoreGetDefaultFolder || Host()->MajorVersion() >= kOutlook2010;
    }

    HRESULT InvokeMember(DISPID id, int, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        switch (id) {
        case kStoreDisplayName:
            ReturnText(pResult, m_nStore < Host()->AccountCount()
                                    ? AnsiToWideText(Host()->AccountAddress(m_nStore))
                                    : std::wstring(L"Personal Folders"));
            return S_OK;
        case kStoreGetDefaultFolder: {
            LONG nDefault = 0;
            HRESULT hr = args.GetLong(0, &nDefault);
            if (FAILED(hr))
                return hr;
            int nKind = FolderForDefaultNumber(nDefault);
            if (nKind < 0)
                return RaiseError(pError, MAPI_E_NOT_FOUND,
                                  L"The attempted operation failed.  An object could not be found.");
            ReturnObject(pResult, NewFolder(Host(), FolderOfStore(m_nStore, nKind)));
            return S_OK;
        }
        case kStoreClass:
            ReturnLong(pResult, kClassStore);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    int m_nStore;
};

enum {
    kSmtpAddress = 1,
    kDisplayName,
    kUserName,
    kAccountType,
    kDeliveryStore,
    kAccountClass,
};

const DispMember kAccountMembers[] = {
    { L"SmtpAddress", kSmtpAddress, AccessGet },
    { L"DisplayName", kDisplayName, AccessGet },
    { L"UserName", kUserName, AccessGet },
    { L"AccountType", kAccountType, AccessGet },
    { L"DeliveryStore", kDeliveryStore, AccessGet },
    { L"Class", kAccountClass, AccessGet },
};

class AccountObject : public DispatchObject {
public:
    AccountObject(OutlookHost* pHost, int nAccount)
        : DispatchObject(KindAccount, "Account", IID_NULL, kAccountMembers,
                         sizeof(kAccountMembers) / sizeof(kAccountMembers[0]), pHost),
          m_nAccount(nAccount)
    {
    }

    int AccountNumber() const { return m_nAccount; }

protected:
    // Account.DeliveryStore came with Outlook 2010.
    bool HasMember(DISPID id) const override
    {
        return id != kDeliveryStore || Host()->MajorVersion() >= kOutlook2010;
    }

    HRESULT InvokeMember(DISPID id, int, const DispArgs&, VARIANT* pResult, DispError*) override
    {
        std::wstring address = AnsiToWideText(Host()->AccountAddress(m_nAccount));
        switch (id) {
        case kSmtpAddress:
        case kDisplayName:
            ReturnText(pResult, address);
            return S_OK;
        case kUserName:
            ReturnText(pResult, kStandinUserName);
            return S_OK;
        case kAccountType:
            ReturnLong(pResult, kAccountTypePop3);
            return S_OK;
        case kDeliveryStore:
            ReturnObject(pResult, NewStore(Host(), m_nAccount));
            return S_OK;
        case kAccountClass:
            ReturnLong(pResult, kClassAccount);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    int m_nAccount;
};

enum {
    kCount = 1,
    kItem,
    kAccountsClass,
};

const DispMember kAccountsMembers[] = {
    { L"Count", kCount, AccessGet },
    { L"Item", kItem, AccessCall | AccessGet },
    { L"Class", kAccountsClass, AccessGet },
};

class AccountsObject : public DispatchObject {
public:
    explicit AccountsObject(OutlookHost* pHost)
        : DispatchObject(KindAccounts, "Accounts", IID_NULL, kAccountsMembers,
                         sizeof(kAccountsMembers) / sizeof(kAccountsMembers[0]), pHost)
    {
    }

protected:
    HRESULT InvokeMember(DISPID id, int, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        switch (id) {
        case kCount:
            ReturnLong(pResult, Host()->AccountCount());
            return S_OK;
        case kItem:
            return Item(args, pResult, pError);
        case kAccountsClass:
            ReturnLong(pResult, kClassAccounts);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    // Item(Index): a number from 1, or an account's display name (its
    // address, any case), as Outlook's collections take either.
    HRESULT Item(const DispArgs& args, VARIANT* pResult, DispError* pError)
    {
        int nAccount = -1;
        if (args.IsText(0)) {
            std::wstring name;
            HRESULT hr = args.GetText(0, &name);
            if (FAILED(hr))
                return hr;
            nAccount = Host()->FindAccount(WideToAnsiText(name));
        } else {
            LONG nIndex = 0;
            HRESULT hr = args.GetLong(0, &nIndex);
            if (FAILED(hr))
                return hr;
            nAccount = nIndex >= 1 && nIndex <= Host()->AccountCount() ? (int)nIndex - 1 : -1;
        }
        if (nAccount < 0)
            return RaiseError(pError, MAPI_E_NOT_FOUND, L"The attempted operation failed.  An object could not be found.");
        ReturnObject(pResult, new AccountObject(Host(), nAccount));
        return S_OK;
    }
};

}  // namespace

IDispatch* NewAccounts(OutlookHost* pHost)
{
    return new AccountsObject(pHost);
}

IDispatch* NewAccount(OutlookHost* pHost, int nAccount)
{
    return nAccount >= 0 && nAccount < pHost->AccountCount() ? new AccountObject(pHost, nAccount) : NULL;
}

int AccountOfDispatch(IDispatch* pObject, OutlookHost* pHost)
{
    DispatchObject* pStandin = DispatchObject::FromDispatch(pObject, KindAccount);
    if (!pStandin)
        return -1;
    int nAccount = pStandin->Host() == pHost ? static_cast<AccountObject*>(pStandin)->AccountNumber() : -1;
    pStandin->Release();
    return nAccount;
}

IDispatch* NewStore(OutlookHost* pHost, int nStore)
{
    return new StoreObject(pHost, nStore);
}
