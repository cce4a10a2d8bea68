// A mail item's ReplyRecipients: the Recipients collection of where replies
// to the message go. Add takes a name into the item's pending changes, as
// the item's other members do, so that Save stores it and Copy and Move
// keep it; the spooler names every one in the delivered Reply-To header.
#include <windows.h>

#include "standin/outlook/outlook_ids.h"
#include "standin/outlook/outlook_objects.h"

namespace {

// OlObjectClass.
const LONG kClassRecipient = 4;
const LONG kClassRecipients = 17;
// OlMailRecipientType: a reply recipient is an olTo one.
const LONG kRecipientTypeTo = 1;

enum {
    kName = 1,
    kAddress,
    kType,
    kIndex,
    kRecipientClass,
};

const DispMember kRecipientMembers[] = {
    { L"Name", kName, AccessGet },
    { L"Address", kAddress, AccessGet },
    { L"Type", kType, AccessGet },
    { L"Index", kIndex, AccessGet },
    { L"Class", kRecipientClass, AccessGet },
};

// One reply recipient, by its place in the item's list as it shows now.
class ReplyRecipientObject : public DispatchObject {
public:
    ReplyRecipientObject(OutlookHost* pHost, IDispatch* pMailItem, LONG nIndex)
        : DispatchObject(KindRecipient, "Recipient", IID_NULL, kRecipientMembers,
                         sizeof(kRecipientMembers) / sizeof(kRecipientMembers[0]), pHost),
          m_pMailItem(pMailItem),
          m_nIndex(nIndex)
    {
        m_pMailItem->AddRef();
    }

protected:
    ~ReplyRecipientObject() override { m_pMailItem->Release(); }

    HRESULT InvokeMember(DISPID id, int, const DispArgs&, VARIANT* pResult, DispError* pError) override
    {
        const ItemRecord* pRecord = ShownRecordOfItem(m_pMailItem);
        if (!pRecord)
            return RaiseItemGone(pError);
        if (m_nIndex < 1 || (size_t)m_nIndex > pRecord->m_vecReplyTo.size())
            return RaiseError(pError, E_FAIL, L"The recipient no longer exists.");
        const std::wstring& name = pRecord->m_vecReplyTo[m_nIndex - 1];
        switch (id) {
        case kName:
        case kAddress:
            // An SMTP recipient added by its address is named by it.
            ReturnText(pResult, name);
            return S_OK;
        case kType:
            ReturnLong(pResult, kRecipientTypeTo);
            return S_OK;
        case kIndex:
            ReturnLong(pResult, m_nIndex);
            return S_OK;
        case kRecipientClass:
            ReturnLong(pResult, kClassRecipient);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    IDispatch* m_pMailItem;
    LONG m_nIndex;
};

enum {
    kCount = 1,
    kItem,
    kAdd,
    kRemove,
    kParent,
    kCollectionClass,
};

const DispMember kCollectionMembers[] = {
    { L"Count", kCount, AccessGet },
    { L"Item", kItem, AccessCall | AccessGet },
    { L"Add", kAdd, AccessCall },
    { L"Remove", kRemove, AccessCall },
    { L"Parent", kParent, AccessGet },
    { L"Class", kCollectionClass, AccessGet },
};

class ReplyRecipientsObject : public DispatchObject {
public:
    ReplyRecipientsObject(OutlookHost* pHost, IDispatch* pMailItem)
        : DispatchObject(KindRecipients, "Recipients", IID_NULL, kCollectionMembers,
                         sizeof(kCollectionMembers) / sizeof(kCollectionMembers[0]), pHost),
          m_pMailItem(pMailItem)
    {
        m_pMailItem->AddRef();
    }

protected:
    ~ReplyRecipientsObject() override { m_pMailItem->Release(); }

    HRESULT InvokeMember(DISPID id, int, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        const ItemRecord* pShown = ShownRecordOfItem(m_pMailItem);
        if (!pShown)
            return RaiseItemGone(pError);
        switch (id) {
        case kCount:
            ReturnLong(pResult, (LONG)pShown->m_vecReplyTo.size());
            return S_OK;
        case kItem: {
            LONG nIndex = 0;
            HRESULT hr = CollectionIndex(args, 0, pShown->m_vecReplyTo.size(), &nIndex, pError);
            if (hr != S_OK)
                return hr;
            ReturnObject(pResult, new ReplyRecipientObject(Host(), m_pMailItem, nIndex));
            return S_OK;
        }
        case kAdd:
            return Add(args, pResult, pError);
        case kRemove: {
            LONG nIndex = 0;
            HRESULT hr = CollectionIndex(args, 0, pShown->m_vecReplyTo.size(), &nIndex, pError);
            if (hr != S_OK)
                return hr;
            ItemRecord* pChanging = ChangingRecordOfItem(m_pMailItem);
            if (!pChanging)
                return RaiseItemGone(pError);
            pChanging->m_vecReplyTo.erase(pChanging->m_vecReplyTo.begin() + (nIndex - 1));
            return S_OK;
        }
        case kParent:
            m_pMailItem->AddRef();
            ReturnObject(pResult, m_pMailItem);
            return S_OK;
        case kCollectionClass:
            ReturnLong(pResult, kClassRecipients);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    // Add(Name): a name or an address, taken as given; an empty one is refused.
    HRESULT Add(const DispArgs& args, VARIANT* pResult, DispError* pError)
    {
        std::wstring name;
        HRESULT hr = args.GetText(0, &name);
        if (FAILED(hr))
            return hr;
        if (name.find_first_not_of(L" \t") == std::wstring::npos)
            return RaiseError(pError, E_INVALIDARG, L"A recipient needs a name or an address.");
        ItemRecord* pChanging = ChangingRecordOfItem(m_pMailItem);
        if (!pChanging)
            return RaiseItemGone(pError);
        pChanging->m_vecReplyTo.push_back(name);
        ReturnObject(pResult, new ReplyRecipientObject(Host(), m_pMailItem, (LONG)pChanging->m_vecReplyTo.size()));
        return S_OK;
    }

    IDispatch* m_pMailItem;
};

}  // namespace

IDispatch* NewReplyRecipients(OutlookHost* pHost, IDispatch* pMailItem)
{
    return new ReplyRecipientsObject(pHost, pMailItem);
}
