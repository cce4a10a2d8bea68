// One Announce command's job: the composed message, and the run that sends
// one personal copy of it to every recipient of the mailing list.
#ifndef LETTERCAST_SEND_JOB_H
#define LETTERCAST_SEND_JOB_H

#include <windows.h>
#include <oaidl.h>
#include <stdio.h>

#include "mailing/list_record.h"

struct IMessage;
class ListReader;

// Why the list reader passed over a record, as the logs and the preview say it.
const char* SkippedRecordReason(int nReason, const char* pszAddress);

class SendJob {
public:
    // Takes the item's MAPI object; a job whose item gives none still exists
    // and refuses to run.
    explicit SendJob(IDispatch* pMailItem);
    ~SendJob();
    SendJob(const SendJob&) = delete;
    SendJob& operator=(const SendJob&) = delete;

    // Sends the job; posts WM_JOBDONE to JobProgress.dialogWnd on every way out.
    void Run();
    void Announce(HWND hWndOwner);   // the main dialog; after a completed job the message is closed or deleted
    // Recipient nIndex (1 on) of the list's copy, sent through the job's own
    // path to the profile's own address with "[Test] " before its subject; no
    // log, no sent list. The reason in pszResult when it did not go.
    bool SendTestCopy(HWND hWndOwner, const char* pszListPath, int nIndex, char* pszResult, int cchResult);

    // The next recipient with an address, from the list's header on (see
    // ListReader::ReadNextRecipient); reads and sets m_nEmailColumn.
    bool NextRecipient(ListReader* pList, bool bHeaderDone, char* pszAddress, int cchAddress,
                       char* pszHeaderRaw, int cchHeaderRaw, char* pszRecordRaw, int cchRecordRaw,
                       ListRecord* pHeader, ListRecord* pRecord);

    IDispatch* m_pParent;       // the composed message, borrowed
    IMessage* m_pMAPIMessage;   // its MAPI object, owned
    HWND m_hWndOwner;           // owner of the job's message boxes
    int m_nEmailColumn;         // the list's address column, -1 while none is known
};

#endif
