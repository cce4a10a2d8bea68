// Attachments of a mail item: Add takes the bytes of a file into the item's
// pending changes, as Outlook does, so that the item keeps them after the
// file is gone and Save or Close(olSave) makes them part of the stored item.
#include <windows.h>

#include "standin/outlook/outlook_ids.h"
#include "standin/outlook/outlook_objects.h"

namespace {

enum {
    kCount = 1,
    kItem,
    kAdd,
    kParent,
};

const DispMember kCollectionMembers[] = {
    { L"Count", kCount, AccessGet },
    { L"Item", kItem, AccessCall | AccessGet },
    { L"Add", kAdd, AccessCall },
    { L"Parent", kParent, AccessGet },
};

enum {
    kFileName = 1,
    kDisplayName,
    kSize,
    kIndex,
};

const DispMember kAttachmentMembers[] = {
    { L"FileName", kFileName, AccessGet },
    { L"DisplayName", kDisplayName, AccessGet },
    { L"Size", kSize, AccessGet },
    { L"Index", kIndex, AccessGet },
};

// The whole file, opened so that a writer holding it locked refuses us.
HRESULT ReadWholeFile(const std::wstring& path, std::string* pBytes)
{
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = S_OK;
    char buffer[65536];
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(hFile, buffer, sizeof(buffer), &cbRead, NULL)) {
            hr = HRESULT_FROM_WIN32(GetLastError());
            break;
        }
        if (cbRead == 0)
            break;
        pBytes->append(buffer, cbRead);
    }
    CloseHandle(hFile);
    return hr;
}

std::wstring FileNameOf(const std::wstring& path)
{
    size_t nSlash = path.find_last_of(L"\\/:");
    return nSlash == std::wstring::npos ? path : path.substr(nSlash + 1);
}

class AttachmentObject : public DispatchObject {
public:
    AttachmentObject(OutlookHost* pHost, IDispatch* pMailItem, LONG nIndex)
        : DispatchObject(KindAttachment, "Attachment", IID_OlAttachment, kAttachmentMembers,
                         sizeof(kAttachmentMembers) / sizeof(kAttachmentMembers[0]), pHost),
          m_pMailItem(pMailItem),
          m_nIndex(nIndex)
    {
        m_pMailItem->AddRef();
    }

protected:
    ~AttachmentObject() override { m_pMailItem->Release(); }

    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        const ItemRecord* pRecord = ShownRecordOfItem(m_pMailItem);
        if (!pRecord)
            return RaiseItemGone(pError);
        if (m_nIndex < 1 || (size_t)m_nIndex > pRecord->m_vecAttachments.size())
            return RaiseError(pError, E_FAIL, L"The attachment no longer exists.");
        const ItemAttachment& attachment = pRecord->m_vecAttachments[m_nIndex - 1];
        switch (id) {
        case kFileName:
        case kDisplayName:
            ReturnText(pResult, attachment.wstrName);
            return S_OK;
        case kSize:
            ReturnLong(pResult, (LONG)attachment.bytes.size());
            return S_OK;
        case kIndex:
            ReturnLong(pResult, m_nIndex);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    IDispatch* m_pMailItem;
    LONG m_nIndex;
};

class AttachmentsObject : public DispatchObject {
public:
    AttachmentsObject(OutlookHost* pHost, IDispatch* pMailItem)
        : DispatchObject(KindAttachments, "Attachments", IID_OlAttachments, kCollectionMembers,
                         sizeof(kCollectionMembers) / sizeof(kCollectionMembers[0]), pHost),
          m_pMailItem(pMailItem)
    {
        m_pMailItem->AddRef();
    }

protected:
    ~AttachmentsObject() override { m_pMailItem->Release(); }

    HRESULT InvokeMember(DISPID id, int nAccess, const DispArgs& args, VARIANT* pResult, DispError* pError) override
    {
        const ItemRecord* pShown = ShownRecordOfItem(m_pMailItem);
        if (!pShown)
            return RaiseItemGone(pError);
        switch (id) {
        case kCount:
            ReturnLong(pResult, (LONG)pShown->m_vecAttachments.size());
            return S_OK;
        case kItem: {
            LONG nIndex = 0;
            HRESULT hr = CollectionIndex(args, 0, pShown->m_vecAttachments.size(), &nIndex, pError);
            if (hr != S_OK)
                return hr;
            ReturnObject(pResult, new AttachmentObject(Host(), m_pMailItem, nIndex));
            return S_OK;
        }
        case kAdd:
            return Add(args, pResult, pError);
        case kParent:
            m_pMailItem->AddRef();
            ReturnObject(pResult, m_pMailItem);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    // Add(Source, [Type], [Position], [DisplayName]): only files by value.
    HRESULT Add(const DispArgs& args, VARIANT* pResult, DispError* pError)
    {
        std::wstring source;
        HRESULT hr = args.GetText(0, &source);
        if (FAILED(hr))
            return hr;
        if (!args.IsMissing(1)) {
            LONG nType = 0;
            hr = args.GetLong(1, &nType);
            if (FAILED(hr))
                return hr;
            if (nType != 1)
                return RaiseError(pError, E_INVALIDARG, L"Only olByValue (1) attachments can be added here.");
        }
        ItemAttachment attachment;
        attachment.wstrSource = source;
        attachment.wstrName = FileNameOf(source);
        hr = ReadWholeFile(source, &attachment.bytes);
        if (FAILED(hr) || attachment.wstrName.empty()) {
            if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) ||
                attachment.wstrName.empty())
                return RaiseError(pError, FAILED(hr) ? hr : E_INVALIDARG,
                                  L"Cannot find this file. Verify the path and file name are correct.");
            return RaiseError(pError, hr, L"Cannot add the attachment; the file could not be read.");
        }
        ItemRecord* pChanging = ChangingRecordOfItem(m_pMailItem);
        if (!pChanging)
            return RaiseItemGone(pError);
        pChanging->m_vecAttachments.push_back(attachment);
        ReturnObject(pResult, new AttachmentObject(Host(), m_pMailItem, (LONG)pChanging->m_vecAttachments.size()));
        return S_OK;
    }

    IDispatch* m_pMailItem;
};

}  // namespace

IDispatch* NewAttachments(OutlookHost* pHost, IDispatch* pMailItem)
{
    return new AttachmentsObject(pHost, pMailItem);
}
