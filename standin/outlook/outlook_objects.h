// How the objects of the stand-in make one another. Each New* function gives
// a new object with one reference for the caller.
#ifndef LETTERCAST_STANDIN_OUTLOOK_OBJECTS_H
#define LETTERCAST_STANDIN_OUTLOOK_OBJECTS_H

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "standin/outlook/dispatch_object.h"
#include "standin/outlook/item_record.h"
#include "standin/outlook/mapi_values.h"
#include "standin/outlook/outlook_host.h"

// The object model.
IDispatch* NewNameSpace(OutlookHost* pHost);
IDispatch* NewFolder(OutlookHost* pHost, int nFolder);
// The StandinFolder of a folder object of this host; -1 for anything else.
int FolderOfDispatch(IDispatch* pObject, OutlookHost* pHost);
// The profile's accounts (accounts.cpp): NameSpace.Accounts, one account,
// and the account an Account object of this host stands for (-1 for
// anything else); a store by its number (the account's delivery store).
IDispatch* NewAccounts(OutlookHost* pHost);
IDispatch* NewAccount(OutlookHost* pHost, int nAccount);
int AccountOfDispatch(IDispatch* pObject, OutlookHost* pHost);
IDispatch* NewStore(OutlookHost* pHost, int nStore);
IDispatch* NewMailItem(OutlookHost* pHost, ItemRecord* pRecord);
// The record of a mail item of this stand-in, with a reference; NULL otherwise.
ItemRecord* RecordOfMailItem(IDispatch* pObject);
// Close with olSave (0), olDiscard (1) or olPromptForSave (2), which here
// discards: there is nobody to ask. Saving keeps the changes made through the
// item's MAPIOBJECT too.
HRESULT CloseItem(IDispatch* pMailItem, LONG nSaveMode, DispError* pError);
// The item as it shows (pending changes included) and the record its
// changes go to, for the objects that hang off a mail item; NULL for
// anything that is not a mail item of this stand-in.
const ItemRecord* ShownRecordOfItem(IDispatch* pMailItem);
ItemRecord* ChangingRecordOfItem(IDispatch* pMailItem);
// The Attachments collection of a mail item; it keeps the item alive.
IDispatch* NewAttachments(OutlookHost* pHost, IDispatch* pMailItem);
// The ReplyRecipients collection of a mail item (recipients.cpp); it keeps
// the item alive.
IDispatch* NewReplyRecipients(OutlookHost* pHost, IDispatch* pMailItem);
IDispatch* NewInspectors(OutlookHost* pHost);
// Opens the inspector's window and registers it with the host; NULL when the
// window cannot be made.
IDispatch* OpenNewInspector(OutlookHost* pHost, IDispatch* pMailItem, ItemRecord* pRecord);
IDispatch* NewExplorer(OutlookHost* pHost);
IDispatch* NewCommandBars(OutlookHost* pHost);
IDispatch* NewCommandBarControl(OutlookHost* pHost);

// Extended MAPI.
IMessage* NewMessage(OutlookHost* pHost, ItemRecord* pRecord);
// For the _MailItem that owns a message of NewMessage: the record as the
// message shows it (pending changes included), the record its changes go
// to, saving them (as SaveChanges with KEEP_OPEN_READWRITE, without the
// fault plan), dropping them, and whether the message still takes calls.
const ItemRecord* ShownRecord(IMessage* pMessage);
ItemRecord* ChangingRecord(IMessage* pMessage);
HRESULT CommitMessage(IMessage* pMessage);
void DiscardMessageChanges(IMessage* pMessage);
bool MessageUsable(IMessage* pMessage);
IMAPISession* NewSession(OutlookHost* pHost);
IMAPIStatus* NewStatus(OutlookHost* pHost, ULONG ulResourceType);
// A table over fixed rows; every row lists its values in the default column order.
IMAPITable* NewRowTable(OutlookHost* pHost, const std::vector<PropList>& vecRows);

// What a property stream does with its bytes when it is committed.
class StreamTarget {
public:
    virtual void KeepTarget() = 0;
    virtual void DropTarget() = 0;
    virtual HRESULT StoreStreamBytes(ULONG ulTag, const std::string& bytes) = 0;

protected:
    ~StreamTarget() {}
};
// A stream over a copy of the bytes; writable ones hand their bytes to the
// target on Commit, and only then.
IStream* NewPropertyStream(StreamTarget* pTarget, ULONG ulTag, const std::string& bytes, bool bWritable);

#endif
