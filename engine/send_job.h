// One Announce command's job: the composed message, and the run that sends
// one personal copy of it to every recipient of the mailing list.
#ifndef LETTERCAST_SEND_JOB_H
#define LETTERCAST_SEND_JOB_H

#include <windows.h>
#include <oaidl.h>
#include <stdio.h>

#include "engine/com_holder.h"
#include "engine/mapi_defs.h"

class SendJob {
public:
    // Takes the item's MAPI object; a job whose item gives none still exists
    // and refuses to run.
    explicit SendJob(IDispatch* pMailItem);
    SendJob(const SendJob&) = delete;
    SendJob& operator=(const SendJob&) = delete;

    // Sends the job; posts WM_JOBDONE to JobProgress.dialogWnd on every way out.
    void Run();
    void Announce(HWND hWndOwner);   // the main dialog; after a completed job the message is closed or deleted
    // Recipient nIndex (1 on) of the list's copy, sent through the job's own
    // path to the profile's own address with "[Test] " before its subject; no
    // log, no sent list. The reason in pszResult when it did not go.
    bool SendTestCopy(HWND hWndOwner, const char* pszListPath, int nIndex, char* pszResult, int cchResult);

    IDispatch* m_pParent;       // the composed message, borrowed
    ComHolder<IMessage> m_pMAPIMessage;   // its MAPI object
    HWND m_hWndOwner;           // owner of the job's message boxes
    // When the first copy goes (UTC); zero: at once. Everything before the
    // first recipient is done and asked at Send all the same.
    FILETIME m_ftSendAt;
};

#endif
