// _MailItem: the object-model view of an item record. The item keeps one
// open message (its MAPIOBJECT) and reads and changes the item through it,
// so that what is set through either is seen through both, and Save keeps
// the changes of both.
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
    kAttachments,
    kSendUsingAccount,
    kSentOnBehalfOfName,
    kReplyRecipients,
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
    { L"Attachments", kAttachments, AccessGet },
    { L"SendUsingAccount", kSendUsingAccount, AccessGet | AccessPut | AccessPutRef },
    { L"SentOnBehalfOfName", kSentOnBehalfOfName, AccessGet | AccessPut },
    { L"ReplyRecipients", kReplyRecipients, AccessGet },
};

const LONG kClassMail = 43;

class MailItemObject : public DispatchObject {
public:
    MailItemObject(OutlookHost* pHost, ItemRecord* pRecord)
        : DispatchObject(KindMailItem, "MailItem", IID_OlMailItem, kMembers, sizeof(kMembers) / sizeof(kMembers[0]),
                         pHost),
          m_pRecord(pRecord),
          m_message(NewMessage(pHost, pRecord))
    {
        m_pRecord->AddRef();
    }

    ItemRecord* Record() const { return m_pRecord; }

    // For the objects of the item: a moved or deleted item shows nothing,
    // and a submitted message gives way to the stored one.
    const ItemRecord* ShownNow()
    {
        if (m_pRecord->m_bDeleted)
            return NULL;
        if (!MessageUsable(m_message.Get()))
            m_message.Reset(NewMessage(Host(), m_pRecord));
        return Shown();
    }
    ItemRecord* ChangingNow() { return ShownNow() ? Changing() : NULL; }

    // olSave keeps the changes of the item and of its message, the others
    // drop them; the item's inspectors close either way.
    HRESULT Close(LONG nSaveMode, DispError* pError)
    {
        if (nSaveMode < 0 || nSaveMode > 2)
            return RaiseError(pError, E_INVALIDARG, L"Close takes olSave (0), olDiscard (1) or olPromptForSave (2).");
        if (m_pRecord->m_bDeleted)
            return RaiseItemGone(pError);
        if (nSaveMode == 0) {
            HRESULT hr = CommitMessage(m_message.Get());
            if (FAILED(hr))
                return RaiseError(pError, hr, L"The item could not be saved.");
        } else {
            DiscardMessageChanges(m_message.Get());
        }
        Host()->CloseInspectorsOf(m_pRecord);
        return S_OK;
    }

protected:
    ~MailItemObject() override
    {
        m_message.Reset();
        m_pRecord->Release();
    }

    // MailItem.SendUsingAccount came with Outlook 2007.
    bool HasMember(DISPID id) const override
    {
        return id != kSendUsingAccount || Host()->MajorVersion() >= kOutlook2007;
    }

    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        // A moved or deleted item answers nothing.
        if (m_pRecord->m_bDeleted)
            return RaiseItemGone(pError);
        if (id == kClass) {
            ReturnLong(pResult, kClassMail);
            return S_OK;
        }
        // A message that was submitted takes no more calls; the item opens
        // the stored one afresh.
        if (!MessageUsable(m_message.Get()))
            m_message.Reset(NewMessage(Host(), m_pRecord));
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
            HRESULT hr = CommitMessage(m_message.Get());
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
            return Close(nSaveMode, pError);
        }
        case kDelete: {
            HRESULT hr = Host()->DeleteItem(m_pRecord);
            return FAILED(hr) ? RaiseError(pError, hr, L"The item could not be deleted.") : S_OK;
        }
        case kMapiObject:
            m_message->AddRef();
            V_VT(pResult) = VT_UNKNOWN;
            V_UNKNOWN(pResult) = m_message.Get();
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
        case kAttachments:
            ReturnObject(pResult, NewAttachments(Host(), this));
            return S_OK;
        case kSendUsingAccount:
            return SendUsingAccount(nAccess, args, pResult, pError);
        case kSentOnBehalfOfName:
            return Text(nAccess, args, pResult, &ItemRecord::OnBehalfOfText, &ItemRecord::PutOnBehalfOf);
        case kReplyRecipients:
            ReturnObject(pResult, NewReplyRecipients(Host(), this));
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    const ItemRecord* Shown() const { return ShownRecord(m_message.Get()); }
    ItemRecord* Changing() { return ChangingRecord(m_message.Get()); }

    HRESULT Text(int nAccess, const DispArgs& args, VARIANT* pResult, std::wstring (ItemRecord::*pfnGet)() const,
                 void (ItemRecord::*pfnPut)(const std::wstring&))
    {
        if (nAccess == AccessGet) {
            ReturnText(pResult, (Shown()->*pfnGet)());
            return S_OK;
        }
        std::wstring text;
        HRESULT hr = args.GetText(0, &text);
        if (FAILED(hr))
            return hr;
        (Changing()->*pfnPut)(text);
        return S_OK;
    }

    HRESULT BodyFormat(int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError)
    {
        if (nAccess == AccessGet) {
            ReturnLong(pResult, Shown()->m_nBodyFormat);
            return S_OK;
        }
        LONG nFormat = 0;
        HRESULT hr = args.GetLong(0, &nFormat);
        if (FAILED(hr))
            return hr;
        if (nFormat < BodyFormatPlain || nFormat > BodyFormatRichText)
            return RaiseError(pError, E_INVALIDARG, L"The body format must be 1 (plain), 2 (HTML) or 3 (rich text).");
        Changing()->PutBodyFormat(nFormat);
        return S_OK;
    }

    // The copy is of the item as it shows, in the same folder, saved; the
    // account it goes from, whom it goes on behalf of and where replies go
    // are the message's own and go with it, unless the host is made to drop
    // the account (bCopyDropsAccount).
    HRESULT Copy(VARIANT* pResult, DispError* pError)
    {
        Ref<ItemRecord> copy(Shown()->CopyContent());
        if (Host()->CopyDropsAccount())
            copy->m_nAccount = -1;
        HRESULT hr = Host()->AddItem(copy.Get(), m_pRecord->m_nFolder);
        if (FAILED(hr))
            return RaiseError(pError, hr, L"The item could not be copied.");
        ReturnObject(pResult, NewMailItem(Host(), copy.Get()));
        return S_OK;
    }

    // The stored message goes to the folder as a new item, with its own
    // MAPIOBJECT; this item and its message are left over a message that no
    // longer exists, and changes not saved stay behind with them.
    HRESULT Move(const DispArgs& args, VARIANT* pResult, DispError* pError)
    {
        IDispatch* pFolder = NULL;
        HRESULT hr = args.GetObject(0, &pFolder);
        if (FAILED(hr))
            return hr;
        int nFolder = FolderOfDispatch(pFolder, Host());
        if (nFolder < 0)
            return RaiseError(pError, E_INVALIDARG, L"The item can only be moved to a folder of this store.");
        Ref<ItemRecord> moved(m_pRecord->CopyContent());
        moved->m_bSent = m_pRecord->m_bSent;
        moved->m_ftSent = m_pRecord->m_ftSent;
        hr = Host()->MoveToNewItem(m_pRecord, moved.Get(), nFolder);
        if (FAILED(hr))
            return RaiseError(pError, hr, L"The item could not be moved.");
        ReturnObject(pResult, NewMailItem(Host(), moved.Get()));
        return S_OK;
    }

    HRESULT SentFolder(int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError)
    {
        if (nAccess == AccessGet) {
            int nFolder = Shown()->m_nSentFolder;
            ReturnObject(pResult, nFolder >= 0 ? NewFolder(Host(), nFolder) : NULL);
            return S_OK;
        }
        IDispatch* pFolder = NULL;
        HRESULT hr = args.GetObject(0, &pFolder);
        if (FAILED(hr))
            return hr;
        int nFolder = pFolder ? FolderOfDispatch(pFolder, Host()) : -1;
        if (pFolder && nFolder < 0)
            return RaiseError(pError, E_INVALIDARG, L"The sent copy can only go to a folder of the session's stores.");
        Changing()->m_nSentFolder = nFolder;
        return S_OK;
    }

    // Nothing, or one of the session's accounts; a put of an object takes
    // it by reference as a putref does.
    HRESULT SendUsingAccount(int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError)
    {
        if (nAccess == AccessGet) {
            ReturnObject(pResult, NewAccount(Host(), Shown()->m_nAccount));
            return S_OK;
        }
        IDispatch* pAccount = NULL;
        HRESULT hr = args.GetObject(0, &pAccount);
        if (FAILED(hr))
            return hr;
        int nAccount = pAccount ? AccountOfDispatch(pAccount, Host()) : -1;
        if (pAccount && nAccount < 0)
            return RaiseError(pError, E_INVALIDARG, L"The message can only be sent using one of the session's accounts.");
        Changing()->m_nAccount = nAccount;
        return S_OK;
    }

    std::wstring RecipientsText(LONG nType) const { return Shown()->RecipientsText(nType); }

    ItemRecord* m_pRecord;   // as stored
    Ref<IMessage> m_message;
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

const ItemRecord* ShownRecordOfItem(IDispatch* pMailItem)
{
    DispatchObject* pStandin = DispatchObject::FromDispatch(pMailItem, KindMailItem);
    if (!pStandin)
        return NULL;
    const ItemRecord* pRecord = static_cast<MailItemObject*>(pStandin)->ShownNow();
    pStandin->Release();
    return pRecord;
}

ItemRecord* ChangingRecordOfItem(IDispatch* pMailItem)
{
    DispatchObject* pStandin = DispatchObject::FromDispatch(pMailItem, KindMailItem);
    if (!pStandin)
        return NULL;
    ItemRecord* pRecord = static_cast<MailItemObject*>(pStandin)->ChangingNow();
    pStandin->Release();
    return pRecord;
}

HRESULT CloseItem(IDispatch* pMailItem, LONG nSaveMode, DispError* pError)
{
    DispatchObject* pStandin = DispatchObject::FromDispatch(pMailItem, KindMailItem);
    if (!pStandin)
        return RaiseError(pError, E_INVALIDARG, L"Only an item of this store can be closed.");
    HRESULT hr = static_cast<MailItemObject*>(pStandin)->Close(nSaveMode, pError);
    pStandin->Release();
    return hr;
}
