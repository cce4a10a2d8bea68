// The state behind every object of one stand-in Outlook: options, the store
// on disk with its items, named-property ids, open inspectors, the event
// sinks of InspectorsEvents and the explorer's window. Every COM object of
// the stand-in holds a reference on it; the application, when it goes, drops
// what it holds for the process (Shutdown), which breaks the cycles between
// the host and its inspectors and sinks.
#ifndef LETTERCAST_STANDIN_OUTLOOK_HOST_H
#define LETTERCAST_STANDIN_OUTLOOK_HOST_H

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "standin/outlook/item_record.h"
#include "standin/outlook/standin_mapi.h"
#include "standin/outlook/standin_outlook.h"

// A folder of the session is a kind of folder in one of its stores: store
// s's folder of kind k is s * FolderCount + k, so that the default store's
// (store 0) are the kinds themselves.
enum StandinFolder {
    FolderDrafts = 0,
    FolderOutbox = 1,
    FolderSentMail = 2,
    FolderCount = 3,
};

inline int FolderOfStore(int nStore, int nKind) { return nStore * FolderCount + nKind; }
inline int StoreOfFolder(int nFolder) { return nFolder / FolderCount; }
inline int KindOfFolder(int nFolder) { return nFolder % FolderCount; }

// The name of a folder's kind, "Drafts", "Outbox", "Sent Mail", whichever
// store it is in; NULL for a negative number.
const char* StandinFolderName(int nFolder);
// The folder kind of an olDefaultFolders number (16, 4, 5); -1 for the others.
int FolderForDefaultNumber(LONG nDefaultFolder);

// The profile's own user, as the spooler names the sender of every message,
// and the address of its one account when no accounts are given.
extern const wchar_t kStandinUserName[];
extern const char kStandinUserAddress[];

// What the host needs of an open inspector.
class OpenInspector {
public:
    virtual IDispatch* InspectorDispatch() = 0;   // borrowed
    virtual ItemRecord* ShownRecord() = 0;        // borrowed
    virtual HWND InspectorWindow() = 0;
    // Destroys the window and lets go of the item; the host has already
    // taken it off its list.
    virtual void Shut() = 0;

protected:
    ~OpenInspector() {}
};

class OutlookHost {
public:
    static HRESULT Create(const StandinOutlookOptions* pOptions, OutlookHost** ppHost);
    OutlookHost(const OutlookHost&) = delete;
    OutlookHost& operator=(const OutlookHost&) = delete;

    void AddRef();
    void Release();

    const std::wstring& Version() const { return m_wstrVersion; }
    // The major number of Version (12 for Outlook 2007, 14 for 2010).
    int MajorVersion() const { return m_nMajorVersion; }

    // The profile's accounts, in order; the first is the default account.
    // Account i delivers to store i, store 0 being the default store (the
    // store folder itself); a profile without accounts has store 0 alone.
    int AccountCount() const { return (int)m_vecAccounts.size(); }
    const std::string& AccountAddress(int nAccount) const { return m_vecAccounts[nAccount]; }
    // The account with that SMTP address (any case); -1 when none has it.
    int FindAccount(const std::string& address) const;
    int StoreCount() const { return m_vecAccounts.empty() ? 1 : (int)m_vecAccounts.size(); }
    bool IsFolder(int nFolder) const { return nFolder >= 0 && nFolder < StoreCount() * FolderCount; }
    // Copy leaves the copy's SendUsingAccount unset (bCopyDropsAccount).
    bool CopyDropsAccount() const { return m_bCopyDropsAccount; }
    bool HtmlOk() const { return m_bHtmlOk; }
    bool HasExplorer() const { return !m_bNoExplorer; }
    bool HasSpoolerRow() const { return !m_bNoSpoolerRow; }
    bool IsShutDown() const { return m_bShutDown; }
    // Closes the inspectors, lets go of the event sinks and destroys the
    // explorer's window. The store stays usable for objects still held.
    void Shutdown();

    // Items. Each writes the item's file once (in place: see WriteItemFile);
    // a failure leaves the record as it was.
    HRESULT AddItem(ItemRecord* pRecord, int nFolder);
    HRESULT SaveItem(ItemRecord* pRecord);
    HRESULT MoveItem(ItemRecord* pRecord, int nFolder);
    // MailItem.Move: pMoved (a new record with the stored content of
    // pRecord) becomes the item in nFolder and pRecord is gone. The file
    // itself moves when it holds what pMoved holds; otherwise pMoved's is
    // written and pRecord's deleted.
    HRESULT MoveToNewItem(ItemRecord* pRecord, ItemRecord* pMoved, int nFolder);
    // After a failed write, the file of the record as the record is again
    // (the record put back by its caller); nothing when the file already is.
    void RestoreItemFile(ItemRecord* pRecord);
    HRESULT DeleteItem(ItemRecord* pRecord);
    // Queues the item for the spooler, after the checks a transport makes.
    // On failure *pszWhy (cchWhy) says why; after a failed write the caller
    // puts its record back and calls RestoreItemFile.
    HRESULT SubmitItem(ItemRecord* pRecord, char* pszWhy, int cchWhy);
    // Delivers every submitted item of the store (the outgoing queue), in
    // submission order, whichever folder it lies in; once the server holds
    // mail back (bOutboxHolds), only as many as it still takes, the rest
    // left queued.
    HRESULT FlushOutbox();
    int CountItems(int nFolder) const;
    int ItemFileWrites() const { return m_nItemFileWrites; }
    bool ItemPath(const ItemRecord* pRecord, char* pszPath, int cchPath) const;
    bool FolderPath(const char* pszFolderName, char* pszPath, int cchPath) const;
    // A store's folder, from the store's top: "Sent Mail" in the default
    // store, "Accounts\2\Sent Mail" in the second account's.
    bool FolderRelativePath(int nFolder, char* pszPath, int cchPath) const;

    // The tag of a named property, PT_UNSPECIFIED unless its type is known;
    // MAPI_E_NOT_FOUND when not mapped and bCreate is false.
    HRESULT MapName(const MAPINAMEID* pName, bool bCreate, ULONG* pulTag);
    bool IsMappedId(ULONG ulPropId) const;

    // Inspectors. The host holds a reference on each open one.
    void AddInspector(OpenInspector* pInspector);
    void CloseInspector(OpenInspector* pInspector);
    void CloseInspectorsOf(ItemRecord* pRecord);
    OpenInspector* LastInspector() const;
    int InspectorCount() const { return (int)m_vecInspectors.size(); }
    OpenInspector* InspectorAt(int nIndex) const;

    // InspectorsEvents.
    HRESULT Advise(IUnknown* pSink, DWORD* pdwCookie);
    HRESULT Unadvise(DWORD dwCookie);
    void FireNewInspector(IDispatch* pInspector);

    HWND ExplorerWindow();
    void CountSendReceive() { ++m_nSendReceiveRuns; }
    int SendReceiveRuns() const { return m_nSendReceiveRuns; }

private:
    struct NamedEntry {
        GUID guid;
        ULONG ulKind;
        LONG nId;
        std::wstring wstrName;
        ULONG ulPropId;
        ULONG ulType;
    };
    struct Sink {
        DWORD dwCookie;
        IDispatch* pSink;
    };

    OutlookHost();
    ~OutlookHost();
    HRESULT OpenStore(const StandinOutlookOptions* pOptions);
    HRESULT WriteItemFile(ItemRecord* pRecord, int nFolder);
    bool ItemPathIn(int nFolder, int nNumber, char* pszPath, int cchPath) const;
    // Items on their way (Drafts, Outbox) are held here, where the spooler
    // and the counts find them; Sent Mail only counts its items, so that the
    // host's memory does not grow with the messages sent: what was filed is
    // on disk and lives on in memory only while someone holds it.
    void Track(ItemRecord* pRecord);
    HRESULT DeliverItem(ItemRecord* pRecord);

    LONG m_nRefs;
    char m_szStoreDir[MAX_PATH];
    std::wstring m_wstrVersion;
    int m_nMajorVersion;
    std::vector<std::string> m_vecAccounts;
    bool m_bCopyDropsAccount;
    bool m_bHtmlOk;
    bool m_bNoExplorer;
    bool m_bNoSpoolerRow;
    bool m_bShutDown;

    std::vector<ItemRecord*> m_vecItems;   // one reference each; none in Sent Mail
    int m_nNextItemNumber;
    int m_nItemFileWrites;
    std::vector<int> m_vecFiledItems;      // saved items in each store's Sent Mail
    int m_nNextDelivery;
    int m_nKillAfterDeliveries;
    bool m_bOutboxHolds;
    int m_nOutboxHoldsAfter;
    int m_nDeliveredHere;                  // by this process
    int m_nDeliveryBlock;                  // the block whose folder is known to exist; -1: none
    LONG m_nNextSubmitOrder;

    std::vector<NamedEntry> m_vecNames;
    ULONG m_ulNextNamedId;

    std::vector<OpenInspector*> m_vecInspectors;
    std::vector<Sink> m_vecSinks;
    DWORD m_dwNextCookie;
    HWND m_hWndExplorer;
    int m_nSendReceiveRuns;
};

#endif
