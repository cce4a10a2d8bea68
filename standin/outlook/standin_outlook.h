// The stand-in for Outlook: an object model answering the interface ids and
// the members by name that the add-in calls, over a store on disk. Test and
// demo equipment only.
//
// The store is a folder with one subfolder per Outlook folder ("Drafts",
// "Outbox", "Sent Mail") holding one file per saved item, and "Delivered",
// where the session's spooler puts one RFC 5322 file per flushed message,
// numbered in delivery order (0001.eml, 0002.eml, ...), each with its SMTP
// envelope beside it (0001.envelope). The store folder is the default
// store, the first account's; every other account's store is
// "Accounts\<N>" in it (N from 2) with folders of its own. Files go into blocks
// of STANDIN_BLOCK_SIZE by number, as in Delivered\0000\0001.eml and
// Sent Mail\0001\item-00100.txt: Wine resolves every name that does not
// exist yet by reading its whole folder, so no folder may grow with the
// messages sent.
//
// Every member and MAPI method the add-in calls asks CheckFault (see
// standin/common/fault_plan.h) under "<Object>.<Member>" for methods,
// "<Object>.<Member>.get" / ".put" / ".putref" for properties (Object being
// Application, NameSpace, Folder, Items, Inspectors, Inspector, MailItem,
// Explorer, CommandBars, CommandBarControl) and "IMessage.<Method>",
// "IMAPISession.<Method>", "IMAPITable.<Method>", "IMAPIStatus.<Method>",
// "IStream.<Method>" for the MAPI objects. The accounts' objects are
// Accounts, Account and Store, a mail item's ReplyRecipients collection is
// Recipients and its members Recipient: "MailItem.SendUsingAccount.get",
// ".put" (a DISPATCH_PROPERTYPUT) and ".putref", "MailItem.ReplyRecipients.get",
// "Recipients.Add", "Accounts.Item", "Account.DeliveryStore.get".
//
// Outlook 2007 (Version 12.x) lacks what came with Outlook 2010:
// Account.DeliveryStore and Store.GetDefaultFolder are unknown names there.
// Before 2007 (Version 11 and older) NameSpace.Accounts and
// MailItem.SendUsingAccount are unknown too.
#ifndef LETTERCAST_STANDIN_OUTLOOK_H
#define LETTERCAST_STANDIN_OUTLOOK_H

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

// The pieces of a ';'-separated list of addresses, blanks around each
// dropped and empty ones left out.
std::vector<std::string> SplitAddressList(const std::string& list);
// The addresses of a ';'-separated list of accounts, blanks around each
// dropped, into *pAccounts; false when one is not deliverable or is there
// twice (in any case).
bool SplitAccountList(const std::string& list, std::vector<std::string>* pAccounts);

struct StandinOutlookOptions {
    char szStoreDir[MAX_PATH];   // created when missing
    const wchar_t* pszVersion;   // Application.Version; NULL gives L"12.0.0.6423"
    bool bHtmlOk;                // PR_STORE_SUPPORT_MASK carries STORE_HTML_OK
    bool bNoExplorer;            // ActiveExplorer answers nothing
    bool bNoSpoolerRow;          // the session's status table lacks the spooler row
    bool bCallersInOtherModules; // the add-ins are DLLs of their own: raised faults return (fault_plan.h)
    int nKillAfterDeliveries;    // > 0: the process dies, as a crash would, right after that many deliveries
    // A mail server that stops accepting: once the spooler has delivered
    // nOutboxHoldsAfter messages, every flush leaves what is queued where it
    // lies, undelivered, and still succeeds.
    bool bOutboxHolds;
    int nOutboxHoldsAfter;
    // The profile's accounts: SMTP addresses separated by ';' (blanks
    // around them ignored), the first the default account, whose delivery
    // store is the store folder itself; every other account's store is
    // <szStoreDir>\Accounts\<its number from 2> with its own Drafts,
    // Outbox and Sent Mail. NULL: one account, user@standin.example; an
    // empty list: no accounts. An address that is not deliverable, or one
    // given twice, fails CreateStandinOutlook with E_INVALIDARG.
    const char* pszAccounts;
    // MailItem.Copy leaves the copy's SendUsingAccount unset (Nothing)
    // rather than carrying it over.
    bool bCopyDropsAccount;
};

// The message being composed, as the user left it in the compose window.
struct StandinComposedMail {
    const char* pszSubject;      // PR_SUBJECT_A; NULL: the subject is pszSubjectW
    const wchar_t* pszSubjectW;  // the Unicode subject when pszSubject is NULL; both NULL: no subject property
    const char* pszBody;         // PR_BODY_A; NULL: no PR_BODY_A (then PR_BODY_W alone, from pszBodyW)
    const wchar_t* pszBodyW;     // PR_BODY_W (with pszBody: what the ANSI body narrows); NULL: from pszBody
    const char* pszHtml;         // PR_HTML bytes; NULL: the store supplies no PR_HTML
    const wchar_t* pszHtmlBody;  // the HTMLBody property; NULL: empty
    int nBodyFormat;             // BodyFormat: 0 unspecified, 1 plain, 2 HTML, 3 rich text
    // Recipients the user left on the message: SMTP addresses separated by
    // ';' (blanks around them ignored); NULL or empty: none of that kind.
    const char* pszTo;
    const char* pszCc;
    const char* pszBcc;
    // SendUsingAccount: the SMTP address of one of the profile's accounts
    // (any case); NULL or empty: none (Nothing). Not an account's: E_INVALIDARG.
    const char* pszFromAccount;
    const wchar_t* pszOnBehalfOf;  // SentOnBehalfOfName; NULL: empty
};

// A fresh _Application over the store. The MAPI stand-in DLL (olmapi32.dll)
// is loaded by the caller beforehand, as Outlook has it loaded.
HRESULT CreateStandinOutlook(const StandinOutlookOptions* pOptions, IDispatch** ppApplication);

// Saves the message in Drafts and opens it in a new inspector (which raises
// InspectorsEvents.NewInspector); the _MailItem and, when ppInspector is not
// NULL, the _Inspector.
HRESULT StandinComposeMail(IDispatch* pApplication, const StandinComposedMail* pMail,
                           IDispatch** ppMailItem, IDispatch** ppInspector);

// Send/Receive runs started through control 7095 of the explorer's command bars.
int StandinSendReceiveRuns(IDispatch* pApplication);

// For tests that look into the store.
// COM objects of the stand-in now alive (application, items, MAPI objects,
// streams, tables...): back to its old value once everything is released.
LONG StandinLiveObjects();
// The file of a saved mail item; false when it has none (deleted) or the
// object is no mail item of the stand-in.
bool StandinItemPath(IDispatch* pMailItem, char* pszPath, int cchPath);
// Saved items in "Drafts", "Outbox" or "Sent Mail" of the default store; -1
// for another name.
int StandinFolderItemCount(IDispatch* pApplication, const char* pszFolderName);
// The same in the delivery store of account nAccount (0 the default).
int StandinAccountFolderItemCount(IDispatch* pApplication, int nAccount, const char* pszFolderName);
// Item files the store has written (made or written over) since it opened:
// one per Save, SaveChanges or SubmitMessage that had something to keep, one
// per Copy, and one when a sent item is filed; a file that moves with its
// item (MailItem.Move) is not written again. -1 for no application.
int StandinItemFileWrites(IDispatch* pApplication);
// The bodies an item file keeps, read back: each as it was stored, the ones
// the file notes as made from another made again.
struct StandinItemBodies {
    bool bHasBodyA;          // PR_BODY_A
    std::string bodyA;
    bool bHasBodyW;          // PR_BODY_W
    std::wstring bodyW;
    bool bHasHtml;           // PR_HTML
    std::string html;
    bool bHasHtmlBody;       // HTMLBody as set
    std::wstring htmlBody;
};
// False when the file cannot be read or is no item file.
bool StandinReadItemBodies(const char* pszPath, StandinItemBodies* pBodies);

#define STANDIN_BLOCK_SIZE 100
// The block folder of a numbered file: <pszFolder>\<nNumber / 100 as %04d>.
bool StandinBlockFolder(const char* pszFolder, int nNumber, char* pszPath, int cchPath);
// The delivered file of message nNumber in the store at pszStoreDir.
bool StandinDeliveredPath(const char* pszStoreDir, int nNumber, char* pszPath, int cchPath);

#endif
