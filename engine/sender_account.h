// The account the composed message goes from: read once, before anything is
// copied, and put on every copy, so that each leaves from the account the
// user chose in the message's From box and its sent copy is filed where that
// account's sent mail goes. The main dialog and the Preview name it.
#ifndef LETTERCAST_SENDER_ACCOUNT_H
#define LETTERCAST_SENDER_ACCOUNT_H

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "engine/com_holder.h"

struct SenderAccount {
    SenderAccount();
    SenderAccount(const SenderAccount&) = delete;
    SenderAccount& operator=(const SenderAccount&) = delete;

    // The message's SendUsingAccount; NULL when it names none, and the
    // copies then go from Outlook's default account without one.
    ComHolder<IDispatch> pAccount;
    // Where that account's sent mail goes (its delivery store's Sent Mail);
    // NULL: the profile's default Sent Mail folder.
    ComHolder<IDispatch> pSentFolder;
    std::wstring address;      // the account's SMTP address; that of the only account when none is named
    std::wstring onBehalfOf;   // SentOnBehalfOfName, empty when not set
    int nAccounts;             // accounts of the profile, -1 when they cannot be counted
    // The account could not be read (no accounts in the profile, or Outlook
    // refused): every copy goes from Outlook's default account.
    bool bUnreadable;
    // Outlook cannot tell where the account's sent mail goes (Outlook 2007):
    // sent copies are kept in the default Sent Items folder.
    bool bNoSentFolder;
};

// Reads pMailItem's account through the host; never raises.
void ReadSenderAccount(IDispatch* pMailItem, SenderAccount* pSender);

// How the dialogs and the logs name the sender: "work@example.com",
// "team@example.com (sent by work@example.com)" on behalf of someone, or
// "Outlook's default account".
std::wstring SenderText(const SenderAccount& sender);

// SenderText of pMailItem's account, read now, as UTF-8.
std::string SenderTextOfItem(IDispatch* pMailItem);

// What the user is told once before sending, or empty: why the copies go
// from Outlook's default account, or where their sent copies are kept.
std::wstring SenderNotice(const SenderAccount& sender);

// Puts the account (and the name sent on behalf of) on a copy and reads it
// back: false, with the reason in *pReason, when the copy would not go from
// that account. Nothing is put when the message names no account.
bool PutSenderOnCopy(const SenderAccount& sender, IDispatch* pCopy, std::string* pReason);

// Outlook would not take the account on the job's first copy: every copy
// goes from Outlook's default account, as a message that names none.
void FallBackToDefaultAccount(SenderAccount* pSender);

#endif
