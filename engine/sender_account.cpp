#include "engine/sender_account.h"

#include <stdio.h>
#include <stdlib.h>

#include "addin/host_state.h"
#include "engine/host_dispatch.h"
#include "mailing/text_conversion.h"

namespace {

// A VT_BSTR result as text, "" for anything else.
std::wstring TextOf(const ScopedVariant& value)
{
    const VARIANT& v = value.Get();
    return V_VT(&v) == VT_BSTR && V_BSTR(&v) ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))) : std::wstring();
}

std::wstring AccountAddress(IDispatch* pAccount)
{
    ScopedVariant address;
    if (pAccount == NULL || FAILED(DispTryGetProperty(pAccount, L"SmtpAddress", &address)))
        return std::wstring();
    return TextOf(address);
}

IDispatch* SessionAccounts(int* pnAccounts)
{
    *pnAccounts = -1;
    ScopedVariant session, accounts, count;
    if (gpApplication == NULL || FAILED(DispTryGetProperty(gpApplication, L"Session", &session)))
        return NULL;
    ComHolder<IDispatch> pSession(VariantDispatch(session.Get()));
    if (pSession.Get() == NULL || FAILED(DispTryGetProperty(pSession, L"Accounts", &accounts)))
        return NULL;
    IDispatch* pAccounts = VariantDispatch(accounts.Get());
    if (pAccounts && SUCCEEDED(DispTryGetProperty(pAccounts, L"Count", &count)) &&
        SUCCEEDED(VariantChangeType(&count.Get(), &count.Get(), 0, VT_I4)))
        *pnAccounts = V_I4(&count.Get());
    return pAccounts;
}

// The first account of the profile, with its own reference, or NULL.
IDispatch* FirstAccount(IDispatch* pAccounts)
{
    VARIANT index;
    VariantInit(&index);
    V_VT(&index) = VT_I4;
    V_I4(&index) = 1;
    ScopedVariant account;
    if (FAILED(DispTryCallMethod(pAccounts, L"Item", &index, 1, &account)))
        return NULL;
    return VariantDispatch(account.Get());
}

// The account's delivery store's Sent Mail folder; NULL where Outlook has
// no such thing to give (Outlook 2007 knows neither member).
IDispatch* AccountSentFolder(IDispatch* pAccount)
{
    ScopedVariant store;
    if (FAILED(DispTryGetProperty(pAccount, L"DeliveryStore", &store)))
        return NULL;
    ComHolder<IDispatch> pStore(VariantDispatch(store.Get()));
    HRESULT hr = S_OK;
    return pStore.Get() ? DefaultFolder(pStore, olFolderSentMail, &hr) : NULL;
}

void ReadSender(IDispatch* pMailItem, SenderAccount* pSender)
{
    ComHolder<IDispatch> pAccounts(SessionAccounts(&pSender->nAccounts));
    ScopedVariant account, onBehalf;
    if (pMailItem == NULL || FAILED(DispTryGetProperty(pMailItem, L"SendUsingAccount", &account))) {
        pSender->bUnreadable = true;
        return;
    }
    if (SUCCEEDED(DispTryGetProperty(pMailItem, L"SentOnBehalfOfName", &onBehalf)))
        pSender->onBehalfOf = TextOf(onBehalf);
    pSender->pAccount.Reset(VariantDispatch(account.Get()));
    if (pSender->pAccount.Get() == NULL) {
        // No account named: Outlook's default, which a profile of one
        // account can only be; a profile of none cannot send from any.
        if (pSender->nAccounts == 0) {
            pSender->bUnreadable = true;
        } else if (pSender->nAccounts == 1) {
            ComHolder<IDispatch> pOnly(FirstAccount(pAccounts));
            pSender->address = AccountAddress(pOnly);
        }
        return;
    }
    pSender->address = AccountAddress(pSender->pAccount);
    if (pSender->address.empty()) {
        pSender->pAccount.Reset();
        pSender->bUnreadable = true;
        return;
    }
    pSender->pSentFolder.Reset(AccountSentFolder(pSender->pAccount));
    pSender->bNoSentFolder = pSender->pSentFolder.Get() == NULL;
}

std::string Narrow(const std::wstring& text)
{
    char szText[512];
    WideToAnsi(text.c_str(), szText, sizeof(szText));
    return szText;
}

}  // namespace

SenderAccount::SenderAccount() : nAccounts(-1), bUnreadable(false), bNoSentFolder(false) {}

void ReadSenderAccount(IDispatch* pMailItem, SenderAccount* pSender)
{
    FallBackToDefaultAccount(pSender);
    pSender->bUnreadable = false;
    try {
        ReadSender(pMailItem, pSender);
    } catch (...) {
        pSender->pAccount.Reset();
        pSender->pSentFolder.Reset();
        pSender->bUnreadable = true;
    }
}

std::wstring SenderText(const SenderAccount& sender)
{
    std::wstring account = sender.address.empty() ? L"Outlook's default account" : sender.address;
    if (sender.onBehalfOf.empty())
        return account;
    return sender.onBehalfOf + L" (sent by " + account + L")";
}

std::string SenderTextOfItem(IDispatch* pMailItem)
{
    SenderAccount sender;
    ReadSenderAccount(pMailItem, &sender);
    char* pszText = WideToCodePageHeap(SenderText(sender).c_str(), CP_UTF8);
    std::string text = pszText ? pszText : "";
    free(pszText);
    return text;
}

std::wstring SenderNotice(const SenderAccount& sender)
{
    if (sender.bUnreadable)
        return sender.nAccounts == 0
                   ? L"Outlook names no e-mail account in this profile, so Lettercast cannot tell which account the "
                     L"message goes from. Every copy goes from Outlook's default account."
                   : L"Outlook does not say which account this message goes from. Every copy goes from Outlook's "
                     L"default account.";
    // One account has nowhere else to keep its sent mail.
    if (sender.bNoSentFolder && sender.nAccounts > 1)
        return L"Every copy goes from " + sender.address +
               L", but this version of Outlook does not say where that account keeps its sent mail. The sent copies "
               L"are kept in the default Sent Items folder.";
    return std::wstring();
}

bool PutSenderOnCopy(const SenderAccount& sender, IDispatch* pCopy, std::string* pReason)
{
    if (sender.pAccount.Get() == NULL)
        return true;
    HRESULT hrAccount = DispTryPutRefProperty(pCopy, L"SendUsingAccount", sender.pAccount);
    HRESULT hrBehalf = S_OK;
    if (!sender.onBehalfOf.empty()) {
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = SysAllocStringLen(sender.onBehalfOf.data(), (UINT)sender.onBehalfOf.size());
        hrBehalf = V_BSTR(&value) ? DispTryPutProperty(pCopy, L"SentOnBehalfOfName", value) : E_OUTOFMEMORY;
        VariantClear(&value);
    }
    // What the copy goes from is what it holds now: a refused put leaves the
    // account Copy brought, and a host may take the account and keep another.
    ScopedVariant account;
    std::wstring address;
    if (SUCCEEDED(DispTryGetProperty(pCopy, L"SendUsingAccount", &account))) {
        ComHolder<IDispatch> pAccount(VariantDispatch(account.Get()));
        address = AccountAddress(pAccount);
    }
    if (address == sender.address && SUCCEEDED(hrBehalf))
        return true;
    char szCode[32];
    if (FAILED(hrBehalf)) {
        snprintf(szCode, sizeof(szCode), "0x%08lX", (unsigned long)hrBehalf);
        *pReason = "the name it is sent on behalf of could not be set (" + std::string(szCode) + ")";
    } else if (FAILED(hrAccount)) {
        snprintf(szCode, sizeof(szCode), "0x%08lX", (unsigned long)hrAccount);
        *pReason = "the copy could not be set to go from " + Narrow(sender.address) + " (" + szCode + ")";
    } else {
        *pReason = "the copy would go from " +
                   (address.empty() ? std::string("Outlook's default account") : Narrow(address)) + ", not from " +
                   Narrow(sender.address);
    }
    return false;
}

void FallBackToDefaultAccount(SenderAccount* pSender)
{
    pSender->pAccount.Reset();
    pSender->pSentFolder.Reset();
    pSender->address.clear();
    pSender->onBehalfOf.clear();
    pSender->bNoSentFolder = false;
}
