#include "engine/send_job_state.h"

#include <string.h>

SendJobState::SendJobState(IDispatch* pParentItem, IMessage* pParentMessage, HWND hWndBoxOwner)
    : pParent(pParentItem), pMAPIMessage(pParentMessage), hWndOwner(hWndBoxOwner), bNonAsciiHtml(false),
      uHtmlCodePage(0), bMergeHeadersMade(false), nEmailColumn(-1), nTotal(0), nPlaces(0),
      bFirstOfEachAddress(false), bListCutShort(false), nSkipped(0),
      nListEncoding(ListEncodingAnsi), nAttachmentColumn(-1), nAttachmentFiles(0), nAttachedFiles(0), nCalls(0),
      nSinceSendReceive(0), nCopyRetries(0), nJobStep(StepStarting), dwLastTick(0), sentList(),
      bSuccess(false), bSubmitLogged(false), resume(), tSendAt(0), bCopySubmitted(false), dwLastSubmitTick(0),
      dwCopyStartTick(0), dwLastCopyMs(0), uPauseRandom(0), nPauseStratum(LC_PAUSE_STRATA), dwEstimateTick(0), bEstimateMade(false),
      nOutboxBefore(LC_OUTBOX_UNCOUNTED), bUseTnefResolved(false)
{
    szAddress[0] = '\0';
    szHeaderRaw[0] = '\0';
    szRecordRaw[0] = '\0';
    szDisplayName[0] = '\0';
    szRecipientAddress[0] = '\0';
    szListCopy[0] = '\0';
    bWorkbook = false;
    szSheet[0] = '\0';
    szSentListPath[0] = '\0';
    szAddressColumn[0] = '\0';
    szOwnRecipients[0] = '\0';
    szNotSentReason[0] = '\0';
    szAttachmentColumn[0] = '\0';
    szListFolder[0] = '\0';
    szPushBack[0] = '\0';
    memset(anPauseStrata, 0, sizeof(anPauseStrata));
    memset(&useTnef, 0, sizeof(useTnef));
}

// The job's own ending (FinishJob) closes the logs and the list in its
// order first; whatever is still held goes here, on every way out.
SendJobState::~SendJobState()
{
    ReleaseRecipientObjects(this);
    CloseSentList(&sentList);
}

void ReleaseRecipientObjects(SendJobState* pState)
{
    pState->pCurrentMessage.Reset();
    pState->pMovedItem.Reset();
    pState->pOutbox.Reset();
    pState->pCopy.Reset();
}
