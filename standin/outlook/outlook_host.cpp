#include "standin/outlook/outlook_host.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <olectl.h>

#include <algorithm>

#include "standin/outlook/delivery.h"
#include "standin/outlook/host_window.h"
#include "standin/outlook/outlook_ids.h"

namespace {

const char* const kFolderNames[FolderCount] = { "Drafts", "Outbox", "Sent Mail" };
const char kDeliveredFolder[] = "Delivered";
// The stores of the accounts after the first, by number from 2.
const char kAccountsFolder[] = "Accounts";

// Named properties whose type the store knows, as Outlook's own do.
struct KnownName {
    const GUID* pGuid;
    LONG nId;
    ULONG ulType;
};
const KnownName kKnownNames[] = {
    { &PSETID_StandinCommon, 0x8582, PT_BOOLEAN },   // PidLidUseTnef
};

bool FolderExistsA(const char* pszPath)
{
    DWORD dwAttributes = GetFileAttributesA(pszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates the folder and any missing parent.
bool CreateFolderTree(const char* pszPath)
{
    char szPart[MAX_PATH];
    size_t cch = strlen(pszPath);
    if (cch == 0 || cch >= sizeof(szPart))
        return false;
    memcpy(szPart, pszPath, cch + 1);
    for (size_t i = 1; i <= cch; ++i) {
        if (szPart[i] != '\\' && szPart[i] != '/' && szPart[i] != '\0')
            continue;
        char chSaved = szPart[i];
        szPart[i] = '\0';
        // Drive roots ("C:") and UNC prefixes cannot be created and need not be.
        if (!(i == 2 && szPart[1] == ':') && szPart[0] != '\0' && !FolderExistsA(szPart))
            CreateDirectoryA(szPart, NULL);
        szPart[i] = chSaved;
    }
    return FolderExistsA(pszPath);
}

bool JoinPath(char* pszOut, int cchOut, const char* pszFirst, const char* pszSecond)
{
    int cch = snprintf(pszOut, cchOut, "%s\\%s", pszFirst, pszSecond);
    return cch > 0 && cch < cchOut;
}

// The highest number among the files of a folder that match the pattern.
int HighestNumberIn(const char* pszFolder, const char* pszPattern, const char* pszFormat)
{
    char szSearch[MAX_PATH];
    if (!JoinPath(szSearch, sizeof(szSearch), pszFolder, pszPattern))
        return 0;
    int nHighest = 0;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(szSearch, &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    do {
        int nNumber = 0;
        if (sscanf(data.cFileName, pszFormat, &nNumber) == 1 && nNumber > nHighest)
            nHighest = nNumber;
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return nHighest;
}

// The same over the block folders of a folder; read once, when the store opens.
int HighestNumber(const char* pszFolder, const char* pszPattern, const char* pszFormat)
{
    char szSearch[MAX_PATH];
    if (!JoinPath(szSearch, sizeof(szSearch), pszFolder, "*"))
        return 0;
    int nHighest = 0;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(szSearch, &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    do {
        char szBlock[MAX_PATH];
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || data.cFileName[0] == '.' ||
            !JoinPath(szBlock, sizeof(szBlock), pszFolder, data.cFileName))
            continue;
        int nNumber = HighestNumberIn(szBlock, pszPattern, pszFormat);
        if (nNumber > nHighest)
            nHighest = nNumber;
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return nHighest;
}

// A missing block folder is made when its first file is written, which is
// the only time its name is looked up without being there.
bool WriteWholeFile(const char* pszPath, const std::string& text);

bool CreateBlockFolderOf(const char* pszPath)
{
    char szFolder[MAX_PATH];
    const char* pszSlash = strrchr(pszPath, '\\');
    if (!pszSlash || (size_t)(pszSlash - pszPath) >= sizeof(szFolder))
        return false;
    memcpy(szFolder, pszPath, (size_t)(pszSlash - pszPath));
    szFolder[pszSlash - pszPath] = '\0';
    return CreateDirectoryA(szFolder, NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool WriteFileInBlock(const char* pszPath, const std::string& text)
{
    if (WriteWholeFile(pszPath, text))
        return true;
    if (GetLastError() != ERROR_PATH_NOT_FOUND || !CreateBlockFolderOf(pszPath))
        return false;
    return WriteWholeFile(pszPath, text);
}

bool MoveFileInBlock(const char* pszFrom, const char* pszTo)
{
    if (MoveFileExA(pszFrom, pszTo, 0))
        return true;
    if (GetLastError() != ERROR_PATH_NOT_FOUND || !CreateBlockFolderOf(pszTo))
        return false;
    return MoveFileExA(pszFrom, pszTo, 0) != FALSE;
}

bool WriteWholeFile(const char* pszPath, const std::string& text)
{
    // Written over what it held and then cut at its new end, never emptied
    // first: a file system that sees a file emptied and written again (ext4)
    // writes it to disk at once when it is closed, which made every save of
    // an item a disk write even when the item moved on a moment later.
    HANDLE hFile = CreateFileA(pszPath, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    bool bExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    DWORD cbWritten = 0;
    bool bOk = WriteFile(hFile, text.data(), (DWORD)text.size(), &cbWritten, NULL) && cbWritten == text.size() &&
               (!bExisted || SetEndOfFile(hFile));
    if (!CloseHandle(hFile))
        bOk = false;
    if (!bOk) {
        DWORD dwError = GetLastError();
        DeleteFileA(pszPath);
        SetLastError(dwError);
    }
    return bOk;
}

HRESULT LastErrorResult()
{
    DWORD dwError = GetLastError();
    return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

bool RecipientText(const PropList& recipient, ULONG ulPropId, std::string* pText)
{
    const PropValue* pValue = FindProp(recipient, ulPropId);
    return pValue && PropNarrowText(*pValue, pText);
}

}  // namespace

const wchar_t kStandinUserName[] = L"Stand-in User";
const char kStandinUserAddress[] = "user@standin.example";

bool StandinBlockFolder(const char* pszFolder, int nNumber, char* pszPath, int cchPath)
{
    if (!pszFolder || nNumber < 0)
        return false;
    int cch = snprintf(pszPath, cchPath, "%s\\%04d", pszFolder, nNumber / STANDIN_BLOCK_SIZE);
    return cch > 0 && cch < cchPath;
}

bool StandinDeliveredPath(const char* pszStoreDir, int nNumber, char* pszPath, int cchPath)
{
    if (!pszStoreDir || nNumber <= 0)
        return false;
    int cch = snprintf(pszPath, cchPath, "%s\\%s\\%04d\\%04d.eml", pszStoreDir, kDeliveredFolder,
                       nNumber / STANDIN_BLOCK_SIZE, nNumber);
    return cch > 0 && cch < cchPath;
}

const char* StandinFolderName(int nFolder)
{
    return nFolder >= 0 ? kFolderNames[KindOfFolder(nFolder)] : NULL;
}

int FolderForDefaultNumber(LONG nDefaultFolder)
{
    switch (nDefaultFolder) {
    case 16:
        return FolderDrafts;
    case 4:
        return FolderOutbox;
    case 5:
        return FolderSentMail;
    default:
        return -1;
    }
}

OutlookHost::OutlookHost()
    : m_nRefs(1),
      m_nMajorVersion(12),
      m_bCopyDropsAccount(false),
      m_bHtmlOk(false),
      m_bNoExplorer(false),
      m_bNoSpoolerRow(false),
      m_bShutDown(false),
      m_nNextItemNumber(1),
      m_nItemFileWrites(0),
      m_nNextDelivery(1),
      m_nKillAfterDeliveries(0),
      m_bOutboxHolds(false),
      m_nOutboxHoldsAfter(0),
      m_nDeliveredHere(0),
      m_nDeliveryBlock(-1),
      m_nNextSubmitOrder(1),
      m_ulNextNamedId(STANDIN_FIRST_NAMED_ID),
      m_dwNextCookie(1),
      m_hWndExplorer(NULL),
      m_nSendReceiveRuns(0)
{
    m_szStoreDir[0] = '\0';
}

OutlookHost::~OutlookHost()
{
    Shutdown();
    for (ItemRecord* pRecord : m_vecItems)
        pRecord->Release();
}

HRESULT OutlookHost::Create(const StandinOutlookOptions* pOptions, OutlookHost** ppHost)
{
    *ppHost = NULL;
    OutlookHost* pHost = new OutlookHost;
    HRESULT hr = pHost->OpenStore(pOptions);
    if (FAILED(hr)) {
        pHost->Release();
        return hr;
    }
    *ppHost = pHost;
    return S_OK;
}

HRESULT OutlookHost::OpenStore(const StandinOutlookOptions* pOptions)
{
    size_t cch = strnlen(pOptions->szStoreDir, sizeof(pOptions->szStoreDir));
    if (cch == 0 || cch >= sizeof(pOptions->szStoreDir))
        return E_INVALIDARG;
    memcpy(m_szStoreDir, pOptions->szStoreDir, cch + 1);
    while (cch > 1 && (m_szStoreDir[cch - 1] == '\\' || m_szStoreDir[cch - 1] == '/'))
        m_szStoreDir[--cch] = '\0';
    m_wstrVersion = pOptions->pszVersion ? pOptions->pszVersion : L"12.0.0.6423";
    m_nMajorVersion = _wtoi(m_wstrVersion.c_str());
    if (!pOptions->pszAccounts)
        m_vecAccounts.push_back(kStandinUserAddress);
    else if (!SplitAccountList(pOptions->pszAccounts, &m_vecAccounts))
        return E_INVALIDARG;
    m_bCopyDropsAccount = pOptions->bCopyDropsAccount;
    m_vecFiledItems.assign(StoreCount(), 0);
    m_bHtmlOk = pOptions->bHtmlOk;
    m_bNoExplorer = pOptions->bNoExplorer;
    m_bNoSpoolerRow = pOptions->bNoSpoolerRow;
    m_nKillAfterDeliveries = pOptions->nKillAfterDeliveries;
    m_bOutboxHolds = pOptions->bOutboxHolds;
    m_nOutboxHoldsAfter = pOptions->nOutboxHoldsAfter;

    if (!CreateFolderTree(m_szStoreDir))
        return LastErrorResult();
    char szFolder[MAX_PATH];
    char szRelative[MAX_PATH];
    for (int nFolder = 0; nFolder < StoreCount() * FolderCount; ++nFolder) {
        if (!FolderRelativePath(nFolder, szRelative, sizeof(szRelative)) ||
            !JoinPath(szFolder, sizeof(szFolder), m_szStoreDir, szRelative))
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        if (!CreateFolderTree(szFolder))
            return LastErrorResult();
        // A store used before keeps its files: new items never overwrite them.
        int nHighest = HighestNumber(szFolder, "item-*.txt", "item-%d.txt");
        if (nHighest >= m_nNextItemNumber)
            m_nNextItemNumber = nHighest + 1;
    }
    if (!JoinPath(szFolder, sizeof(szFolder), m_szStoreDir, kDeliveredFolder))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    if (!CreateFolderTree(szFolder))
        return LastErrorResult();
    m_nNextDelivery = HighestNumber(szFolder, "*.eml", "%d.eml") + 1;
    return S_OK;
}

void OutlookHost::AddRef()
{
    InterlockedIncrement(&m_nRefs);
}

void OutlookHost::Release()
{
    if (InterlockedDecrement(&m_nRefs) == 0)
        delete this;
}

void OutlookHost::Shutdown()
{
    m_bShutDown = true;
    while (!m_vecInspectors.empty())
        CloseInspector(m_vecInspectors.back());
    std::vector<Sink> vecSinks;
    vecSinks.swap(m_vecSinks);
    for (const Sink& sink : vecSinks)
        sink.pSink->Release();
    if (m_hWndExplorer) {
        DestroyHostWindow(m_hWndExplorer);
        m_hWndExplorer = NULL;
    }
}

bool OutlookHost::FolderPath(const char* pszFolderName, char* pszPath, int cchPath) const
{
    return JoinPath(pszPath, cchPath, m_szStoreDir, pszFolderName);
}

bool OutlookHost::FolderRelativePath(int nFolder, char* pszPath, int cchPath) const
{
    if (!IsFolder(nFolder))
        return false;
    int nStore = StoreOfFolder(nFolder);
    int cch = nStore == 0 ? snprintf(pszPath, cchPath, "%s", StandinFolderName(nFolder))
                          : snprintf(pszPath, cchPath, "%s\\%d\\%s", kAccountsFolder, nStore + 1,
                                     StandinFolderName(nFolder));
    return cch > 0 && cch < cchPath;
}

int OutlookHost::FindAccount(const std::string& address) const
{
    for (size_t i = 0; i < m_vecAccounts.size(); ++i) {
        if (lstrcmpiA(m_vecAccounts[i].c_str(), address.c_str()) == 0)
            return (int)i;
    }
    return -1;
}

bool OutlookHost::ItemPathIn(int nFolder, int nNumber, char* pszPath, int cchPath) const
{
    char szFolder[MAX_PATH];
    if (nNumber <= 0 || !FolderRelativePath(nFolder, szFolder, sizeof(szFolder)))
        return false;
    int cch = snprintf(pszPath, cchPath, "%s\\%s\\%04d\\item-%05d.txt", m_szStoreDir, szFolder,
                       nNumber / STANDIN_BLOCK_SIZE, nNumber);
    return cch > 0 && cch < cchPath;
}

bool OutlookHost::ItemPath(const ItemRecord* pRecord, char* pszPath, int cchPath) const
{
    if (!pRecord->m_bSaved || pRecord->m_bDeleted)
        return false;
    return ItemPathIn(pRecord->m_nFolder, pRecord->m_nNumber, pszPath, cchPath);
}

HRESULT OutlookHost::WriteItemFile(ItemRecord* pRecord, int nFolder)
{
    if (pRecord->m_nNumber == 0)
        pRecord->m_nNumber = m_nNextItemNumber++;
    char szPath[MAX_PATH];
    if (!ItemPathIn(nFolder, pRecord->m_nNumber, szPath, sizeof(szPath)))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    // Written in place, one opening of the file per save: the host never
    // reads its item files back, and the one who changes the record puts
    // the file back as it was when a write fails (RestoreItemFile).
    pRecord->m_bFileCurrent = false;
    ++m_nItemFileWrites;
    char szSentFolder[MAX_PATH];
    bool bSentFolder = FolderRelativePath(pRecord->m_nSentFolder, szSentFolder, sizeof(szSentFolder));
    int nAccount = pRecord->m_nAccount;
    const char* pszAccount = nAccount >= 0 && nAccount < AccountCount() ? m_vecAccounts[nAccount].c_str() : NULL;
    if (!WriteFileInBlock(szPath, pRecord->FileText(bSentFolder ? szSentFolder : NULL, pszAccount)))
        return LastErrorResult();
    pRecord->m_bFileCurrent = true;
    return S_OK;
}

void OutlookHost::RestoreItemFile(ItemRecord* pRecord)
{
    if (pRecord->m_bSaved && !pRecord->m_bDeleted && !pRecord->m_bFileCurrent)
        WriteItemFile(pRecord, pRecord->m_nFolder);
}

HRESULT OutlookHost::AddItem(ItemRecord* pRecord, int nFolder)
{
    if (!IsFolder(nFolder))
        return E_INVALIDARG;
    HRESULT hr = WriteItemFile(pRecord, nFolder);
    if (FAILED(hr))
        return hr;
    pRecord->m_nFolder = nFolder;
    pRecord->m_bSaved = true;
    Track(pRecord);
    return S_OK;
}

HRESULT OutlookHost::SaveItem(ItemRecord* pRecord)
{
    if (pRecord->m_bDeleted)
        return MAPI_E_OBJECT_DELETED;
    HRESULT hr = WriteItemFile(pRecord, pRecord->m_nFolder);
    if (SUCCEEDED(hr))
        pRecord->m_bSaved = true;
    return hr;
}

HRESULT OutlookHost::MoveItem(ItemRecord* pRecord, int nFolder)
{
    if (pRecord->m_bDeleted)
        return MAPI_E_OBJECT_DELETED;
    if (!IsFolder(nFolder))
        return E_INVALIDARG;
    if (nFolder == pRecord->m_nFolder)
        return SaveItem(pRecord);
    char szOldPath[MAX_PATH];
    bool bHadFile = ItemPath(pRecord, szOldPath, sizeof(szOldPath));
    // The file goes with the item and is then written where it lies, rather
    // than made anew there and deleted here: a file system that must pass
    // over recently deleted files to make a new one (ext4) slowed every new
    // file of a long job. A file that moved and could not be written is made
    // again where the record still lies, by whoever changed the record.
    char szNewPath[MAX_PATH];
    if (bHadFile && ItemPathIn(nFolder, pRecord->m_nNumber, szNewPath, sizeof(szNewPath)) &&
        MoveFileInBlock(szOldPath, szNewPath)) {
        bHadFile = false;
        pRecord->m_bFileCurrent = false;
    }
    // An item leaving the Outbox is no longer on its way out.
    LONG nSubmitOrder = pRecord->m_nSubmitOrder;
    pRecord->m_nSubmitOrder = 0;
    HRESULT hr = WriteItemFile(pRecord, nFolder);
    if (FAILED(hr)) {
        pRecord->m_nSubmitOrder = nSubmitOrder;
        return hr;
    }
    if (bHadFile)
        DeleteFileA(szOldPath);
    pRecord->m_nFolder = nFolder;
    pRecord->m_bSaved = true;
    pRecord->AddRef();
    Track(pRecord);
    pRecord->Release();
    return S_OK;
}

HRESULT OutlookHost::MoveToNewItem(ItemRecord* pRecord, ItemRecord* pMoved, int nFolder)
{
    if (pRecord->m_bDeleted)
        return MAPI_E_OBJECT_DELETED;
    if (!IsFolder(nFolder) || pMoved->m_nNumber != 0)
        return E_INVALIDARG;
    char szOldPath[MAX_PATH];
    // The file moves with the item when it holds what the new item holds:
    // the stored content, not queued (a queued item's file says so).
    bool bRename = pRecord->m_bFileCurrent && pRecord->m_nSubmitOrder == 0 &&
                   ItemPath(pRecord, szOldPath, sizeof(szOldPath));
    if (!bRename) {
        HRESULT hr = AddItem(pMoved, nFolder);
        if (FAILED(hr))
            return hr;
        hr = DeleteItem(pRecord);
        if (FAILED(hr))
            DeleteItem(pMoved);
        return hr;
    }
    pMoved->m_nNumber = m_nNextItemNumber++;
    char szPath[MAX_PATH];
    if (!ItemPathIn(nFolder, pMoved->m_nNumber, szPath, sizeof(szPath)))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    if (!MoveFileInBlock(szOldPath, szPath))
        return LastErrorResult();
    pMoved->m_nFolder = nFolder;
    pMoved->m_bSaved = true;
    pMoved->m_bFileCurrent = true;
    Track(pMoved);
    // Its file went with the new item: nothing is left to delete.
    pRecord->m_bSaved = false;
    return DeleteItem(pRecord);
}

void OutlookHost::Track(ItemRecord* pRecord)
{
    bool bStored = pRecord->m_bSaved && !pRecord->m_bDeleted;
    bool bFiled = bStored && KindOfFolder(pRecord->m_nFolder) == FolderSentMail;
    bool bHeld = bStored && !bFiled;
    // A filed record counts in the Sent Mail of the store it lies in; the
    // record remembers which (m_nFiledStore), so that leaving takes it off
    // that store's count, and moving to another store's Sent Mail moves it.
    if (bFiled != pRecord->m_bFiled) {
        int nStore = bFiled ? StoreOfFolder(pRecord->m_nFolder) : pRecord->m_nFiledStore;
        m_vecFiledItems[nStore] += bFiled ? 1 : -1;
        pRecord->m_bFiled = bFiled;
        pRecord->m_nFiledStore = nStore;
    } else if (bFiled && StoreOfFolder(pRecord->m_nFolder) != pRecord->m_nFiledStore) {
        --m_vecFiledItems[pRecord->m_nFiledStore];
        pRecord->m_nFiledStore = StoreOfFolder(pRecord->m_nFolder);
        ++m_vecFiledItems[pRecord->m_nFiledStore];
    }
    std::vector<ItemRecord*>::iterator it = std::find(m_vecItems.begin(), m_vecItems.end(), pRecord);
    if (bHeld && it == m_vecItems.end()) {
        pRecord->AddRef();
        m_vecItems.push_back(pRecord);
    } else if (!bHeld && it != m_vecItems.end()) {
        m_vecItems.erase(it);
        pRecord->Release();
    }
}

HRESULT OutlookHost::DeleteItem(ItemRecord* pRecord)
{
    if (pRecord->m_bDeleted)
        return MAPI_E_OBJECT_DELETED;
    char szPath[MAX_PATH];
    if (ItemPath(pRecord, szPath, sizeof(szPath)) && !DeleteFileA(szPath) &&
        GetLastError() != ERROR_FILE_NOT_FOUND)
        return LastErrorResult();
    pRecord->AddRef();
    pRecord->m_bDeleted = true;
    pRecord->m_bSaved = false;
    pRecord->m_nSubmitOrder = 0;
    CloseInspectorsOf(pRecord);
    Track(pRecord);
    pRecord->Release();
    return S_OK;
}

HRESULT OutlookHost::SubmitItem(ItemRecord* pRecord, char* pszWhy, int cchWhy)
{
    pszWhy[0] = '\0';
    if (pRecord->m_bDeleted) {
        snprintf(pszWhy, cchWhy, "The message has been deleted.");
        return MAPI_E_OBJECT_DELETED;
    }
    if (pRecord->m_vecRecipients.empty()) {
        snprintf(pszWhy, cchWhy, "The message has no recipients.");
        return MAPI_E_NO_RECIPIENTS;
    }
    for (size_t i = 0; i < pRecord->m_vecRecipients.size(); ++i) {
        const PropList& recipient = pRecord->m_vecRecipients[i];
        std::string address;
        std::string type;
        if (!RecipientText(recipient, PROP_ID(PR_EMAIL_ADDRESS_A), &address) || address.empty()) {
            snprintf(pszWhy, cchWhy, "Recipient %u has no e-mail address.", (unsigned)(i + 1));
            return MAPI_E_INVALID_PARAMETER;
        }
        if (RecipientText(recipient, PROP_ID(PR_ADDRTYPE_A), &type) && lstrcmpiA(type.c_str(), "SMTP") != 0) {
            snprintf(pszWhy, cchWhy, "The address type \"%.60s\" of recipient %u cannot be sent.", type.c_str(),
                     (unsigned)(i + 1));
            return MAPI_E_INVALID_PARAMETER;
        }
        if (!IsDeliverableAddress(address.c_str())) {
            snprintf(pszWhy, cchWhy, "\"%.300s\" is not a valid e-mail address.", address.c_str());
            return MAPI_E_INVALID_PARAMETER;
        }
    }
    LONG nSubmitOrder = pRecord->m_nSubmitOrder;
    if (!nSubmitOrder)
        pRecord->m_nSubmitOrder = m_nNextSubmitOrder++;
    HRESULT hr = SaveItem(pRecord);
    if (FAILED(hr)) {
        pRecord->m_nSubmitOrder = nSubmitOrder;
        snprintf(pszWhy, cchWhy, "The message could not be saved for sending (0x%08lX).", (unsigned long)hr);
    }
    return hr;
}

int OutlookHost::CountItems(int nFolder) const
{
    int nCount = IsFolder(nFolder) && KindOfFolder(nFolder) == FolderSentMail ? m_vecFiledItems[StoreOfFolder(nFolder)] : 0;
    for (const ItemRecord* pRecord : m_vecItems) {
        if (pRecord->m_nFolder == nFolder && pRecord->m_bSaved)
            ++nCount;
    }
    return nCount;
}

HRESULT OutlookHost::MapName(const MAPINAMEID* pName, bool bCreate, ULONG* pulTag)
{
    *pulTag = PROP_TAG(PT_ERROR, PROP_ID_NULL);
    if (!pName || !pName->lpguid)
        return MAPI_E_INVALID_PARAMETER;
    if (pName->ulKind != MNID_ID && (pName->ulKind != MNID_STRING || !pName->Kind.lpwstrName))
        return MAPI_E_INVALID_PARAMETER;
    for (const NamedEntry& entry : m_vecNames) {
        if (entry.ulKind != pName->ulKind || !IsEqualGUID(entry.guid, *pName->lpguid))
            continue;
        if (pName->ulKind == MNID_ID ? entry.nId == pName->Kind.lID : entry.wstrName == pName->Kind.lpwstrName) {
            *pulTag = PROP_TAG(entry.ulType, entry.ulPropId);
            return S_OK;
        }
    }
    if (!bCreate)
        return MAPI_E_NOT_FOUND;
    if (m_ulNextNamedId > STANDIN_LAST_NAMED_ID)
        return MAPI_E_NOT_ENOUGH_RESOURCES;
    NamedEntry entry;
    entry.guid = *pName->lpguid;
    entry.ulKind = pName->ulKind;
    entry.nId = pName->ulKind == MNID_ID ? pName->Kind.lID : 0;
    if (pName->ulKind == MNID_STRING)
        entry.wstrName = pName->Kind.lpwstrName;
    entry.ulPropId = m_ulNextNamedId++;
    entry.ulType = PT_UNSPECIFIED;
    for (const KnownName& known : kKnownNames) {
        if (pName->ulKind == MNID_ID && known.nId == pName->Kind.lID && IsEqualGUID(*known.pGuid, *pName->lpguid))
            entry.ulType = known.ulType;
    }
    m_vecNames.push_back(entry);
    *pulTag = PROP_TAG(entry.ulType, entry.ulPropId);
    return S_OK;
}

bool OutlookHost::IsMappedId(ULONG ulPropId) const
{
    for (const NamedEntry& entry : m_vecNames) {
        if (entry.ulPropId == ulPropId)
            return true;
    }
    return false;
}

void OutlookHost::AddInspector(OpenInspector* pInspector)
{
    pInspector->InspectorDispatch()->AddRef();
    m_vecInspectors.push_back(pInspector);
}

void OutlookHost::CloseInspector(OpenInspector* pInspector)
{
    for (size_t i = 0; i < m_vecInspectors.size(); ++i) {
        if (m_vecInspectors[i] != pInspector)
            continue;
        m_vecInspectors.erase(m_vecInspectors.begin() + i);
        pInspector->Shut();
        pInspector->InspectorDispatch()->Release();
        return;
    }
}

void OutlookHost::CloseInspectorsOf(ItemRecord* pRecord)
{
    for (size_t i = m_vecInspectors.size(); i > 0; --i) {
        if (i <= m_vecInspectors.size() && m_vecInspectors[i - 1]->ShownRecord() == pRecord)
            CloseInspector(m_vecInspectors[i - 1]);
    }
}

OpenInspector* OutlookHost::LastInspector() const
{
    return m_vecInspectors.empty() ? NULL : m_vecInspectors.back();
}

OpenInspector* OutlookHost::InspectorAt(int nIndex) const
{
    return nIndex >= 0 && nIndex < (int)m_vecInspectors.size() ? m_vecInspectors[nIndex] : NULL;
}

HRESULT OutlookHost::Advise(IUnknown* pSink, DWORD* pdwCookie)
{
    *pdwCookie = 0;
    if (!pSink)
        return E_POINTER;
    if (m_bShutDown)
        return CONNECT_E_CANNOTCONNECT;
    IDispatch* pDispatch = NULL;
    if (FAILED(pSink->QueryInterface(DIID_OlInspectorsEvents, (void**)&pDispatch)) &&
        FAILED(pSink->QueryInterface(IID_IDispatch, (void**)&pDispatch)))
        return CONNECT_E_CANNOTCONNECT;
    Sink sink;
    sink.dwCookie = m_dwNextCookie++;
    sink.pSink = pDispatch;
    m_vecSinks.push_back(sink);
    *pdwCookie = sink.dwCookie;
    return S_OK;
}

HRESULT OutlookHost::Unadvise(DWORD dwCookie)
{
    for (size_t i = 0; i < m_vecSinks.size(); ++i) {
        if (m_vecSinks[i].dwCookie != dwCookie)
            continue;
        IDispatch* pSink = m_vecSinks[i].pSink;
        m_vecSinks.erase(m_vecSinks.begin() + i);
        pSink->Release();
        return S_OK;
    }
    return CONNECT_E_NOCONNECTION;
}

void OutlookHost::FireNewInspector(IDispatch* pInspector)
{
    // A sink may unadvise, or advise another, while it handles the event.
    std::vector<IDispatch*> vecSinks;
    for (const Sink& sink : m_vecSinks) {
        sink.pSink->AddRef();
        vecSinks.push_back(sink.pSink);
    }
    for (IDispatch* pSink : vecSinks) {
        VARIANT arg;
        VariantInit(&arg);
        V_VT(&arg) = VT_DISPATCH;
        V_DISPATCH(&arg) = pInspector;
        DISPPARAMS params = { &arg, NULL, 1, 0 };
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO info;
        ZeroMemory(&info, sizeof(info));
        UINT uArgError = 0;
        pSink->Invoke(0xF001, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &info, &uArgError);
        VariantClear(&result);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        pSink->Release();
    }
}

HWND OutlookHost::ExplorerWindow()
{
    if (m_hWndExplorer && !IsWindow(m_hWndExplorer))
        m_hWndExplorer = NULL;
    if (!m_hWndExplorer && !m_bShutDown && !m_bNoExplorer)
        m_hWndExplorer = CreateHostWindow(L"Inbox - Stand-in Outlook", NULL, NULL);
    return m_hWndExplorer;
}

std::vector<std::string> SplitAddressList(const std::string& list)
{
    std::vector<std::string> pieces;
    size_t nStart = 0;
    while (nStart <= list.size()) {
        size_t nEnd = list.find(';', nStart);
        if (nEnd == std::string::npos)
            nEnd = list.size();
        std::string piece = list.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        size_t nFirst = piece.find_first_not_of(" \t");
        if (nFirst != std::string::npos)
            pieces.push_back(piece.substr(nFirst, piece.find_last_not_of(" \t") - nFirst + 1));
    }
    return pieces;
}

bool SplitAccountList(const std::string& list, std::vector<std::string>* pAccounts)
{
    pAccounts->clear();
    for (const std::string& address : SplitAddressList(list)) {
        if (!IsDeliverableAddress(address.c_str()))
            return false;
        for (const std::string& other : *pAccounts) {
            if (lstrcmpiA(other.c_str(), address.c_str()) == 0)
                return false;
        }
        pAccounts->push_back(address);
    }
    return true;
}

