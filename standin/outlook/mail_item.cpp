// _MailItem: the object-model view of an item record.
#include "standin/outlook/outlook_ids.h"
#include "standin/outlook/outlook_objects.h"

namespace {

enum {
    kClass = 1,
    kSubject,
    kBody,
    kHtmlBody,
    kBodyFormat,
    kSave,
    kCopy,
    kMove,
    kSaveSentMessageFolder,
    kClose,
    kDelete,
    kMapiObject,
    kSent,
    kParent,
    kTo,
    kCc,
    kBcc,
};

const DispMember kMembers[] = {
    { L"Class", kClass, AccessGet },
    { L"Subject", kSubject, AccessGet | AccessPut },
    { L"Body", kBody, AccessGet | AccessPut },
    { L"HTMLBody", kHtmlBody, AccessGet | AccessPut },
    { L"BodyFormat", kBodyFormat, AccessGet | AccessPut },
    { L"Save", kSave, AccessCall },
    { L"Copy", kCopy, AccessCall },
    { L"Move", kMove, AccessCall },
    { L"SaveSentMessageFolder", kSaveSentMessageFolder, AccessGet | AccessPutRef },
    { L"Close", kClose, AccessCall },
    { L"Delete", kDelete, AccessCall },
    { L"MAPIOBJECT", kMapiObject, AccessGet },
    { L"Sent", kSent, AccessGet },
    { L"Parent", kParent, AccessGet },
    { L"To", kTo, AccessGet },
    { L"CC", kCc, AccessGet },
    { L"BCC", kBcc, AccessGet },
};

const LONG kClassMail = 43;

class MailItemObject : public DispatchObject {
public:
    MailItemObject(OutlookHost* pHost, ItemRecord* pRecord)
        : DispatchObject(KindMailItem, "MailItem", IID_OlMailItem, kMembers, sizeof(kMembers) / sizeof(kMembers[0]),
                         pHost),
          m_pRecord(pRecord)
    {
        m_pRecord->AddRef();
    }

    ItemRecord* Record() const { return m_pRecord; }

protected:
    ~MailItemObject() override { m_pRecord->Release(); }

    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        if (id == kClass) {
            ReturnLong(pResult, kClassMail);
            return S_OK;
        }
        if (m_pRecord->m_bDeleted)
            return RaiseItemGone(pError);
        switch (id) {
        case kSubject:
            return Text(nAccess, args, pResult, &ItemRecord::SubjectText, &ItemRecord::PutSubject);
        case kBody:
            return Text(nAccess, args, pResult, &ItemRecord::BodyText, &ItemRecord::PutBody);
        case kHtmlBody:
            return Text(nAccess, args, pResult, &ItemRecord::HtmlBodyText, &ItemRecord::PutHtmlBody);
        case kBodyFormat:
            return BodyFormat(nAccess, args, pResult, pError);
        case kSave: {
            HRESULT hr = Host()->SaveItem(m_pRecord);
            return FAILED(hr) ? RaiseError(pError, hr, L"The item could not be saved.") : S_OK;
        }
        case kCopy:
            return Copy(pResult, pError);
        case kMove:
            return Move(args, pResult, pError);
        case kSaveSentMessageFolder:
            return SentFolder(nAccess, args, pResult, pError);
        case kClose: {
            LONG nSaveMode = 0;
            HRESULT hr = args.GetLong(0, &nSaveMode);
            if (FAILED(hr))
                return hr;
            return CloseItem(Host(), m_pRecord, nSaveMode, pError);
        }
        case kDelete: {
            HRESULT hr = Host()->DeleteItem(m_pRecord);
            return FAILED(hr) ? RaiseError(pError, hr, L"The item could not be deleted.") : S_OK;
        }
        case kMapiObject:
            V_VT(pResult) = VT_UNKNOWN;
            V_UNKNOWN(pResult) = NewMessage(Host(), m_pRecord);
            return S_OK;
        case kSent:
            ReturnBool(pResult, m_pRecord->m_bSent);
            return S_OK;
        case kParent:
            ReturnObject(pResult, NewFolder(Host(), m_pRecord->m_nFolder));
            return S_OK;
        case kTo:
            ReturnText(pResult, RecipientsText(MAPI_TO));
            return S_OK;
        case kCc:
            ReturnText(pResult, RecipientsText(MAPI_CC));
            return S_OK;
        case kBcc:
            ReturnText(pResult, RecipientsText(MAPI_BCC));
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    HRESULT Text(int nAccess, const DispArgs& args, VARIANT* pResult, std::wstring (ItemRecord::*pfnGet)() const,
                 void (ItemRecord::*pfnPut)(const std::wstring&))
    {
        if (nAccess == AccessGet) {
            ReturnText(pResult, (m_pRecord->*pfnGet)());
            return S_OK;
        }
        std::wstring text;
        HRESULT hr = args.GetText(0, &text);
        if (FAILED(hr))
            return hr;
        (m_pRecord->*pfnPut)(text);
        return S_OK;
    }

    HRESULT BodyFormat(int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError)
    {
        if (nAccess == AccessGet) {
            ReturnLong(pResult, m_pRecord->m_nBodyFormat);
            return S_OK;
        }
        LONG nFormat = 0;
        HRESULT hr = args.GetLong(0, &nFormat);
        if (FAILED(hr))
            return hr;
        if (nFormat < BodyFormatPlain || nFormat > BodyFormatRichText)
            return RaiseError(pError, E_INVALIDARG, L"The body format must be 1 (plain), 2 (HTML) or 3 (rich text).");
        m_pRecord->PutBodyFormat(nFormat);
        return S_OK;
    }

    HRESULT Copy(VARIANT* pResult, DispError* pError)
    {
        Ref<ItemRecord> copy(m_pRecord->CopyContent());
        HRESULT hr = Host()->AddItem(copy.Get(), m_pRecord->m_nFolder);
        if (FAILED(hr))
            return RaiseError(pError, hr, L"The item could not be copied.");
        ReturnObject(pResult, NewMailItem(Host(), copy.Get()));
        return S_OK;
    }

    HRESULT Move(const DispArgs& args, VARIANT* pResult, DispError* pError)
    {
        IDispatch* pFolder = NULL;
        HRESULT hr = args.GetObject(0, &pFolder);
        if (FAILED(hr))
            return hr;
        int nFolder = FolderOfDispatch(pFolder, Host());
        if (nFolder < 0)
            return RaiseError(pError, E_INVALIDARG, L"The item can only be moved to a folder of this store.");
        hr = Host()->MoveItem(m_pRecord, nFolder);
        if (FAILED(hr))
            return RaiseError(pError, hr, L"The item could not be moved.");
        ReturnObject(pResult, NewMailItem(Host(), m_pRecord));
        return S_OK;
    }

    HRESULT SentFolder(int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError)
    {
        if (nAccess == AccessGet) {
            int nFolder = m_pRecord->m_nSentFolder;
            ReturnObject(pResult, nFolder >= 0 ? NewFolder(Host(), nFolder) : NULL);
            return S_OK;
        }
        IDispatch* pFolder = NULL;
        HRESULT hr = args.GetObject(0, &pFolder);
        if (FAILED(hr))
            return hr;
        int nFolder = pFolder ? FolderOfDispatch(pFolder, Host()) : -1;
        if (pFolder && nFolder < 0)
            return RaiseError(pError, E_INVALIDARG, L"The sent copy can only go to a folder of this store.");
        m_pRecord->m_nSentFolder = nFolder;
        return S_OK;
    }

    // The display names of one kind of recipient, "; " between them, as
    // Outlook's To, CC and BCC read; a row without a type counts as To.
    std::wstring RecipientsText(LONG nType) const
    {
        std::wstring text;
        for (const PropList& recipient : m_pRecord->m_vecRecipients) {
            const PropValue* pType = FindProp(recipient, PROP_ID(PR_RECIPIENT_TYPE));
            if (pType ? pType->m_nValue != nType : nType != MAPI_TO)
                continue;
            std::wstring name;
            const PropValue* pName = FindProp(recipient, PROP_ID(PR_DISPLAY_NAME_A));
            if (!pName || !PropWideText(*pName, &name) || name.empty()) {
                const PropValue* pAddress = FindProp(recipient, PROP_ID(PR_EMAIL_ADDRESS_A));
                if (pAddress)
                    PropWideText(*pAddress, &name);
            }
            if (!text.empty())
                text += L"; ";
            text += name;
        }
        return text;
    }

    ItemRecord* m_pRecord;
};

}  // namespace

IDispatch* NewMailItem(OutlookHost* pHost, ItemRecord* pRecord)
{
    return new MailItemObject(pHost, pRecord);
}

ItemRecord* RecordOfMailItem(IDispatch* pObject)
{
    DispatchObject* pStandin = DispatchObject::FromDispatch(pObject, KindMailItem);
    if (!pStandin)
        return NULL;
    ItemRecord* pRecord = static_cast<MailItemObject*>(pStandin)->Record();
    pRecord->AddRef();
    pStandin->Release();
    return pRecord;
}

HRESULT CloseItem(OutlookHost* pHost, ItemRecord* pRecord, LONG nSaveMode, DispError* pError)
{
    if (nSaveMode < 0 || nSaveMode > 2)
        return RaiseError(pError, E_INVALIDARG, L"Close takes olSave (0), olDiscard (1) or olPromptForSave (2).");
    if (nSaveMode == 0) {
        HRESULT hr = pHost->SaveItem(pRecord);
        if (FAILED(hr))
            return RaiseError(pError, hr, L"The item could not be saved.");
    }
    pHost->CloseInspectorsOf(pRecord);
    return S_OK;
}
