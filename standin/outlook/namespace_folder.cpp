// The "MAPI" NameSpace with its default folders, the folder objects and the
// Items collection of each folder.
#include "standin/outlook/outlook_ids.h"
#include "standin/outlook/outlook_objects.h"
#include "standin/outlook/standin_text.h"

namespace {

enum {
    kMapiObject = 1,
    kGetDefaultFolder,
    kType,
    kNameSpaceClass,
    kCurrentUser,
    kAccounts,
};

const DispMember kNameSpaceMembers[] = {
    { L"CurrentUser", kCurrentUser, AccessGet },
    { L"Accounts", kAccounts, AccessGet },
    { L"MAPIOBJECT", kMapiObject, AccessGet },
    { L"GetDefaultFolder", kGetDefaultFolder, AccessCall },
    { L"Type", kType, AccessGet },
    { L"Class", kNameSpaceClass, AccessGet },
};

// The profile's own user, as the spooler names the sender of every message
// without an account.
const wchar_t* const kUserName = kStandinUserName;
const wchar_t kUserAddress[] = L"user@standin.example";

enum {
    kEntryName = 1,
    kEntryAddress,
    kEntryType,
    kEntryGetExchangeUser,
    kEntryClass,
};

const DispMember kAddressEntryMembers[] = {
    { L"Name", kEntryName, AccessGet },
    { L"Address", kEntryAddress, AccessGet },
    { L"Type", kEntryType, AccessGet },
    { L"GetExchangeUser", kEntryGetExchangeUser, AccessCall },
    { L"Class", kEntryClass, AccessGet },
};

// An SMTP entry: GetExchangeUser answers Nothing, as Outlook's does for any
// entry that is not an Exchange user.
class AddressEntryObject : public DispatchObject {
public:
    explicit AddressEntryObject(OutlookHost* pHost)
        : DispatchObject(KindAddressEntry, "AddressEntry", IID_NULL, kAddressEntryMembers,
                         sizeof(kAddressEntryMembers) / sizeof(kAddressEntryMembers[0]), pHost)
    {
    }

protected:
    HRESULT InvokeMember(DISPID id, int, const DispArgs&, VARIANT* pResult, DispError*) override
    {
        switch (id) {
        case kEntryName:
            ReturnText(pResult, kUserName);
            return S_OK;
        case kEntryAddress:
            ReturnText(pResult, kUserAddress);
            return S_OK;
        case kEntryType:
            ReturnText(pResult, L"SMTP");
            return S_OK;
        case kEntryGetExchangeUser:
            ReturnObject(pResult, NULL);
            return S_OK;
        case kEntryClass:
            ReturnLong(pResult, 8);   // olAddressEntry
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }
};

enum {
    kRecipientName = 1,
    kRecipientAddress,
    kRecipientAddressEntry,
    kRecipientClass,
};

const DispMember kRecipientMembers[] = {
    { L"Name", kRecipientName, AccessGet },
    { L"Address", kRecipientAddress, AccessGet },
    { L"AddressEntry", kRecipientAddressEntry, AccessGet },
    { L"Class", kRecipientClass, AccessGet },
};

class RecipientObject : public DispatchObject {
public:
    explicit RecipientObject(OutlookHost* pHost)
        : DispatchObject(KindRecipient, "Recipient", IID_NULL, kRecipientMembers,
                         sizeof(kRecipientMembers) / sizeof(kRecipientMembers[0]), pHost)
    {
    }

protected:
    HRESULT InvokeMember(DISPID id, int, const DispArgs&, VARIANT* pResult, DispError*) override
    {
        switch (id) {
        case kRecipientName:
            ReturnText(pResult, kUserName);
            return S_OK;
        case kRecipientAddress:
            ReturnText(pResult, kUserAddress);
            return S_OK;
        case kRecipientAddressEntry:
            ReturnObject(pResult, new AddressEntryObject(Host()));
            return S_OK;
        case kRecipientClass:
            ReturnLong(pResult, 4);   // olRecipient
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }
};

const LONG kClassNameSpace = 1;
const LONG kClassFolder = 2;
const LONG kClassItems = 16;

class NameSpaceObject : public DispatchObject {
public:
    explicit NameSpaceObject(OutlookHost* pHost)
        : DispatchObject(KindNameSpace, "NameSpace", IID_OlNameSpace, kNameSpaceMembers,
                         sizeof(kNameSpaceMembers) / sizeof(kNameSpaceMembers[0]), pHost)
    {
    }

protected:
    // NameSpace.Accounts came with Outlook 2007.
    bool HasMember(DISPID id) const override { return id != kAccounts || Host()->MajorVersion() >= kOutlook2007; }

    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        switch (id) {
        case kAccounts:
            ReturnObject(pResult, NewAccounts(Host()));
            return S_OK;
        case kMapiObject:
            V_VT(pResult) = VT_UNKNOWN;
            V_UNKNOWN(pResult) = NewSession(Host());
            return S_OK;
        case kGetDefaultFolder: {
            LONG nDefault = 0;
            HRESULT hr = args.GetLong(0, &nDefault);
            if (FAILED(hr))
                return hr;
            int nFolder = FolderForDefaultNumber(nDefault);
            if (nFolder < 0)
                return RaiseError(pError, MAPI_E_NOT_FOUND,
                                  L"The attempted operation failed.  An object could not be found.");
            ReturnObject(pResult, NewFolder(Host(), nFolder));
            return S_OK;
        }
        case kType:
            ReturnText(pResult, L"MAPI");
            return S_OK;
        case kNameSpaceClass:
            ReturnLong(pResult, kClassNameSpace);
            return S_OK;
        case kCurrentUser:
            ReturnObject(pResult, new RecipientObject(Host()));
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }
};

enum {
    kItemsCount = 1,
    kItemsClass,
    kItemsParent,
};

const DispMember kItemsMembers[] = {
    { L"Count", kItemsCount, AccessGet },
    { L"Class", kItemsClass, AccessGet },
    { L"Parent", kItemsParent, AccessGet },
};

// A folder's items as Outlook's Items collection counts them: every read of
// Count is the folder as it is now, so a collection held across a flush sees
// what the flush took away or left behind.
class ItemsObject : public DispatchObject {
public:
    ItemsObject(OutlookHost* pHost, int nFolder)
        : DispatchObject(KindItems, "Items", IID_OlItems, kItemsMembers,
                         sizeof(kItemsMembers) / sizeof(kItemsMembers[0]), pHost),
          m_nFolder(nFolder)
    {
    }

protected:
    HRESULT InvokeMember(DISPID id, int, const DispArgs&, VARIANT* pResult, DispError*) override
    {
        switch (id) {
        case kItemsCount:
            ReturnLong(pResult, Host()->CountItems(m_nFolder));
            return S_OK;
        case kItemsClass:
            ReturnLong(pResult, kClassItems);
            return S_OK;
        case kItemsParent:
            ReturnObject(pResult, NewFolder(Host(), m_nFolder));
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    int m_nFolder;
};

enum {
    kName = 1,
    kFolderClass,
    kFolderItems,
};

const DispMember kFolderMembers[] = {
    { L"Name", kName, AccessGet },
    { L"Class", kFolderClass, AccessGet },
    { L"Items", kFolderItems, AccessGet },
};

class FolderObject : public DispatchObject {
public:
    FolderObject(OutlookHost* pHost, int nFolder)
        : DispatchObject(KindFolder, "Folder", IID_OlFolder, kFolderMembers,
                         sizeof(kFolderMembers) / sizeof(kFolderMembers[0]), pHost),
          m_nFolder(nFolder)
    {
    }

    int FolderId() const { return m_nFolder; }

protected:
    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        switch (id) {
        case kName:
            ReturnText(pResult, AnsiToWideText(StandinFolderName(m_nFolder)));
            return S_OK;
        case kFolderClass:
            ReturnLong(pResult, kClassFolder);
            return S_OK;
        case kFolderItems:
            ReturnObject(pResult, new ItemsObject(Host(), m_nFolder));
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    int m_nFolder;
};

}  // namespace

IDispatch* NewNameSpace(OutlookHost* pHost)
{
    return new NameSpaceObject(pHost);
}

IDispatch* NewFolder(OutlookHost* pHost, int nFolder)
{
    return new FolderObject(pHost, nFolder);
}

int FolderOfDispatch(IDispatch* pObject, OutlookHost* pHost)
{
    DispatchObject* pStandin = DispatchObject::FromDispatch(pObject, KindFolder);
    if (!pStandin)
        return -1;
    int nFolder = pStandin->Host() == pHost ? static_cast<FolderObject*>(pStandin)->FolderId() : -1;
    pStandin->Release();
    return nFolder;
}
