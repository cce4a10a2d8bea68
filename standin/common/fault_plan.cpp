#include "standin/common/fault_plan.h"

#include <oleauto.h>
#include <string.h>

// A "fail" or "raise" must carry a failure code: the operation does not do its
// work when it answers a fault, so a success code would report work that was
// never done.

namespace {

const int kMaxPlanEntries = 64;
const int kMaxCountedOperations = 256;
const int kMaxOperationName = 63;
const int kMaxPlanText = 4095;

struct FaultEntry {
    char szOperation[kMaxOperationName + 1];
    FaultAction action;
    HRESULT hr;
    LONG nOnCall;   // 0: every call
};

struct FaultCounter {
    char szOperation[kMaxOperationName + 1];
    LONG nCalls;
};

// The layout every module of the process maps; a fresh mapping is all zeros,
// which is the empty plan with no counts.
struct SharedFaults {
    volatile LONG nLock;
    char szPlan[kMaxPlanText + 1];
    LONG nEntries;
    FaultEntry entries[kMaxPlanEntries];
    LONG nCounters;
    FaultCounter counters[kMaxCountedOperations];
};

SharedFaults* Shared()
{
    static SharedFaults* volatile s_pShared = NULL;
    if (s_pShared)
        return s_pShared;
    char szName[64];
    wsprintfA(szName, "LettercastStandinFaults.%lu", GetCurrentProcessId());
    // The mapping handle stays open for the life of the process, so that a
    // module unloading never takes the plan away from the others.
    HANDLE hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(SharedFaults), szName);
    if (!hMapping)
        return NULL;
    SharedFaults* pView = (SharedFaults*)MapViewOfFile(hMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedFaults));
    if (!pView) {
        CloseHandle(hMapping);
        return NULL;
    }
    // Two threads of one module may race here; the loser's extra view of
    // the same memory is harmless and released.
    if (InterlockedCompareExchangePointer((PVOID volatile*)&s_pShared, pView, NULL) != NULL)
        UnmapViewOfFile(pView);
    return s_pShared;
}

// A spin lock inside the shared block: a kernel object would need one more
// name and one more handle per module for a few microseconds of work.
class SharedLock {
public:
    explicit SharedLock(SharedFaults* pShared) : m_pShared(pShared)
    {
        while (InterlockedCompareExchange(&m_pShared->nLock, 1, 0) != 0)
            Sleep(0);
    }
    ~SharedLock() { InterlockedExchange(&m_pShared->nLock, 0); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SharedFaults* m_pShared;
};

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

// [pszBegin, pszEnd) without blanks at either end.
void Trim(const char** ppszBegin, const char** ppszEnd)
{
    while (*ppszBegin < *ppszEnd && IsBlank(**ppszBegin))
        ++*ppszBegin;
    while (*ppszEnd > *ppszBegin && IsBlank((*ppszEnd)[-1]))
        --*ppszEnd;
}

const char* FindChar(const char* pszBegin, const char* pszEnd, char ch)
{
    for (const char* p = pszBegin; p < pszEnd; ++p) {
        if (*p == ch)
            return p;
    }
    return NULL;
}

bool EqualsText(const char* pszBegin, const char* pszEnd, const char* pszText)
{
    size_t cch = strlen(pszText);
    return (size_t)(pszEnd - pszBegin) == cch && memcmp(pszBegin, pszText, cch) == 0;
}

// Hexadecimal with 0x, or decimal with an optional minus sign; 32 bits.
bool ParseCode(const char* pszBegin, const char* pszEnd, HRESULT* phr)
{
    if (pszBegin == pszEnd)
        return false;
    unsigned long long nValue = 0;
    if (pszEnd - pszBegin > 2 && pszBegin[0] == '0' && (pszBegin[1] == 'x' || pszBegin[1] == 'X')) {
        const char* p = pszBegin + 2;
        if (pszEnd - p > 8)
            return false;
        for (; p < pszEnd; ++p) {
            int nDigit;
            if (*p >= '0' && *p <= '9')
                nDigit = *p - '0';
            else if (*p >= 'a' && *p <= 'f')
                nDigit = *p - 'a' + 10;
            else if (*p >= 'A' && *p <= 'F')
                nDigit = *p - 'A' + 10;
            else
                return false;
            nValue = nValue * 16 + nDigit;
        }
        *phr = (HRESULT)(ULONG)nValue;
        return true;
    }
    bool bNegative = false;
    const char* p = pszBegin;
    if (*p == '-') {
        bNegative = true;
        ++p;
    }
    if (p == pszEnd)
        return false;
    for (; p < pszEnd; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        nValue = nValue * 10 + (*p - '0');
        if (nValue > 0xFFFFFFFFull)
            return false;
    }
    if (bNegative) {
        if (nValue > 0x80000000ull)
            return false;
        *phr = (HRESULT)(LONG)(0 - (long long)nValue);
    } else {
        *phr = (HRESULT)(ULONG)nValue;
    }
    return true;
}

// operation "=" action [ ":" hresult ] "@" ( number | "*" )
bool ParseEntry(const char* pszBegin, const char* pszEnd, FaultEntry* pEntry)
{
    memset(pEntry, 0, sizeof(*pEntry));
    const char* pszEquals = FindChar(pszBegin, pszEnd, '=');
    if (!pszEquals)
        return false;
    const char* pszNameBegin = pszBegin;
    const char* pszNameEnd = pszEquals;
    Trim(&pszNameBegin, &pszNameEnd);
    int cchName = (int)(pszNameEnd - pszNameBegin);
    if (cchName == 0 || cchName > kMaxOperationName)
        return false;
    for (const char* p = pszNameBegin; p < pszNameEnd; ++p) {
        if (IsBlank(*p) || *p == ':' || *p == '@')
            return false;
    }
    memcpy(pEntry->szOperation, pszNameBegin, cchName);
    pEntry->szOperation[cchName] = '\0';

    const char* pszAt = FindChar(pszEquals + 1, pszEnd, '@');
    if (!pszAt || FindChar(pszAt + 1, pszEnd, '@'))
        return false;
    const char* pszColon = FindChar(pszEquals + 1, pszAt, ':');

    const char* pszActionBegin = pszEquals + 1;
    const char* pszActionEnd = pszColon ? pszColon : pszAt;
    Trim(&pszActionBegin, &pszActionEnd);
    if (EqualsText(pszActionBegin, pszActionEnd, "fail"))
        pEntry->action = FaultFail;
    else if (EqualsText(pszActionBegin, pszActionEnd, "raise"))
        pEntry->action = FaultRaise;
    else if (EqualsText(pszActionBegin, pszActionEnd, "throw"))
        pEntry->action = FaultThrow;
    else
        return false;

    pEntry->hr = E_FAIL;
    if (pszColon) {
        const char* pszCodeBegin = pszColon + 1;
        const char* pszCodeEnd = pszAt;
        Trim(&pszCodeBegin, &pszCodeEnd);
        if (!ParseCode(pszCodeBegin, pszCodeEnd, &pEntry->hr) || SUCCEEDED(pEntry->hr))
            return false;
    }

    const char* pszWhenBegin = pszAt + 1;
    const char* pszWhenEnd = pszEnd;
    Trim(&pszWhenBegin, &pszWhenEnd);
    if (EqualsText(pszWhenBegin, pszWhenEnd, "*")) {
        pEntry->nOnCall = 0;
        return true;
    }
    if (pszWhenBegin == pszWhenEnd)
        return false;
    LONG nCall = 0;
    for (const char* p = pszWhenBegin; p < pszWhenEnd; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        if (nCall > (0x7FFFFFFF - 9) / 10)
            return false;
        nCall = nCall * 10 + (*p - '0');
    }
    if (nCall < 1)
        return false;
    pEntry->nOnCall = nCall;
    return true;
}

// The counter of the operation, added when bAdd and there is room; NULL
// otherwise. Called with the lock held.
FaultCounter* FindCounter(SharedFaults* pShared, const char* pszOperation, bool bAdd)
{
    for (LONG i = 0; i < pShared->nCounters; ++i) {
        if (strcmp(pShared->counters[i].szOperation, pszOperation) == 0)
            return &pShared->counters[i];
    }
    if (!bAdd || pShared->nCounters >= kMaxCountedOperations)
        return NULL;
    size_t cch = strlen(pszOperation);
    if (cch == 0 || cch > (size_t)kMaxOperationName)
        return NULL;
    FaultCounter* pCounter = &pShared->counters[pShared->nCounters++];
    memcpy(pCounter->szOperation, pszOperation, cch + 1);
    pCounter->nCalls = 0;
    return pCounter;
}

void CopyWide(const wchar_t* pszFrom, wchar_t* pszTo, int cchTo)
{
    if (!pszTo || cchTo <= 0)
        return;
    int cch = (int)wcslen(pszFrom);
    if (cch > cchTo - 1)
        cch = cchTo - 1;
    memcpy(pszTo, pszFrom, cch * sizeof(wchar_t));
    pszTo[cch] = L'\0';
}

}  // namespace

bool SetFaultPlan(const char* pszPlan)
{
    SharedFaults* pShared = Shared();
    if (!pShared)
        return false;

    // Parsed into a local table first, so that a plan that does not parse
    // never leaves half of itself behind.
    FaultEntry entries[kMaxPlanEntries];
    LONG nEntries = 0;
    bool bParsed = true;
    size_t cchPlan = pszPlan ? strlen(pszPlan) : 0;
    if (cchPlan > (size_t)kMaxPlanText)
        bParsed = false;
    const char* pszEnd = pszPlan ? pszPlan + cchPlan : NULL;
    const char* pszEntry = pszPlan;
    while (bParsed && pszEntry && pszEntry < pszEnd) {
        const char* pszEntryEnd = FindChar(pszEntry, pszEnd, ';');
        if (!pszEntryEnd)
            pszEntryEnd = pszEnd;
        const char* pszBegin = pszEntry;
        const char* pszLast = pszEntryEnd;
        Trim(&pszBegin, &pszLast);
        // An empty entry (a trailing ";", say) is tolerated.
        if (pszBegin < pszLast) {
            if (nEntries >= kMaxPlanEntries || !ParseEntry(pszBegin, pszLast, &entries[nEntries]))
                bParsed = false;
            else
                ++nEntries;
        }
        pszEntry = pszEntryEnd + 1;
    }
    if (!bParsed)
        nEntries = 0;

    SharedLock lock(pShared);
    pShared->szPlan[0] = '\0';
    if (bParsed && cchPlan > 0) {
        memcpy(pShared->szPlan, pszPlan, cchPlan);
        pShared->szPlan[cchPlan] = '\0';
    }
    memcpy(pShared->entries, entries, nEntries * sizeof(FaultEntry));
    pShared->nEntries = nEntries;
    memset(pShared->counters, 0, sizeof(pShared->counters));
    pShared->nCounters = 0;
    // The planned operations get their counters first, so that they are
    // counted however many other operations are called.
    for (LONG i = 0; i < nEntries; ++i)
        FindCounter(pShared, pShared->entries[i].szOperation, true);
    return bParsed;
}

FaultAction CheckFault(const char* pszOperation, HRESULT* phr)
{
    HRESULT hrDummy;
    if (!phr)
        phr = &hrDummy;
    *phr = S_OK;
    SharedFaults* pShared = Shared();
    if (!pShared || !pszOperation)
        return FaultNone;

    SharedLock lock(pShared);
    FaultCounter* pCounter = FindCounter(pShared, pszOperation, true);
    if (!pCounter)
        return FaultNone;
    LONG nCall = ++pCounter->nCalls;
    for (LONG i = 0; i < pShared->nEntries; ++i) {
        const FaultEntry& entry = pShared->entries[i];
        if (strcmp(entry.szOperation, pszOperation) != 0)
            continue;
        if (entry.nOnCall == 0 || entry.nOnCall == nCall) {
            *phr = entry.hr;
            return entry.action;
        }
    }
    return FaultNone;
}

bool FaultPlanUses(FaultAction action)
{
    SharedFaults* pShared = Shared();
    if (!pShared)
        return false;
    SharedLock lock(pShared);
    for (LONG i = 0; i < pShared->nEntries; ++i) {
        if (pShared->entries[i].action == action)
            return true;
    }
    return false;
}

int FaultCallCount(const char* pszOperation)
{
    SharedFaults* pShared = Shared();
    if (!pShared || !pszOperation)
        return 0;
    SharedLock lock(pShared);
    FaultCounter* pCounter = FindCounter(pShared, pszOperation, false);
    return pCounter ? (int)pCounter->nCalls : 0;
}

void FaultErrorTexts(const char* pszOperation, wchar_t* pszSource, int cchSource,
                     wchar_t* pszDescription, int cchDescription)
{
    CopyWide(L"Lettercast stand-in", pszSource, cchSource);
    wchar_t szOperation[kMaxOperationName + 1];
    szOperation[0] = L'\0';
    if (pszOperation) {
        char szNarrow[kMaxOperationName + 1];
        lstrcpynA(szNarrow, pszOperation, sizeof(szNarrow));
        if (!MultiByteToWideChar(CP_ACP, 0, szNarrow, -1, szOperation, kMaxOperationName + 1))
            szOperation[0] = L'\0';
    }
    wchar_t szDescription[32 + kMaxOperationName + 1];
    wcscpy(szDescription, L"Injected fault in ");
    wcscat(szDescription, szOperation);
    CopyWide(szDescription, pszDescription, cchDescription);
}

void FillFaultExcepInfo(const char* pszOperation, HRESULT hr, EXCEPINFO* pInfo)
{
    if (!pInfo)
        return;
    memset(pInfo, 0, sizeof(*pInfo));
    wchar_t szSource[64];
    wchar_t szDescription[128];
    FaultErrorTexts(pszOperation, szSource, 64, szDescription, 128);
    pInfo->bstrSource = SysAllocString(szSource);
    pInfo->bstrDescription = SysAllocString(szDescription);
    pInfo->scode = hr;
}
