#include "engine/server_pushback.h"

#include <string.h>

#include "engine/com_holder.h"
#include "engine/host_dispatch.h"

// The store is over its quota: nothing more goes until the user makes room.
#define LC_MAPI_E_STORE_FULL ((HRESULT)0x8004060CL)

namespace {

// Words that servers put in their refusals for quotas and sending limits
// ("Daily user sending quota exceeded", "too many messages",
// "SubmissionQuotaExceeded", "rate limit"), matched in any case.
const char* const kapszPushBackWords[] = { "quota", "too many", "limit exceeded", "rate limit", "sending limit" };

bool ContainsWord(const char* pszText, const char* pszWord)
{
    size_t cchWord = strlen(pszWord);
    for (const char* p = pszText; *p; ++p) {
        size_t i = 0;
        while (i < cchWord && p[i] && (p[i] | 0x20) == (pszWord[i] | 0x20))
            ++i;
        if (i == cchWord)
            return true;
    }
    return false;
}

}  // namespace

bool IsServerPushBack(HRESULT hr, const char* pszText)
{
    if (hr == LC_MAPI_E_STORE_FULL)
        return true;
    if (pszText == NULL)
        return false;
    for (const char* pszWord : kapszPushBackWords) {
        if (ContainsWord(pszText, pszWord))
            return true;
    }
    return false;
}

int CountFolderItems(IDispatch* pFolder)
{
    if (pFolder == NULL)
        return -1;
    try {
        ScopedVariant itemsResult;
        if (FAILED(DispTryGetProperty(pFolder, L"Items", &itemsResult)))
            return -1;
        ComHolder<IDispatch> items(VariantDispatch(itemsResult.Get()));
        ScopedVariant count;
        if (items.Get() == NULL || FAILED(DispTryGetProperty(items, L"Count", &count)))
            return -1;
        VARIANT value;
        VariantInit(&value);
        if (FAILED(VariantChangeType(&value, &count.Get(), 0, VT_I4)))
            return -1;
        return V_I4(&value);
    } catch (...) {
        return -1;
    }
}
