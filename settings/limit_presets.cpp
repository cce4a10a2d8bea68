#include "settings/limit_presets.h"

#include <string.h>

// Published by each service (see the help's Options page for the sources and
// their dates). Where a service publishes no rate per minute, none is set:
// the pause is the user's to choose.
static const LimitPreset kPresets[] = {
    { "No limit", "none", 0, 0 },
    { "Exchange Online / Microsoft 365", "exchange", 30, 10000 },
    { "Outlook.com", "outlook.com", 0, 5000 },
    { "Gmail", "gmail", 0, 500 },
    { "Google Workspace", "workspace", 0, 2000 },
};

int LimitPresetCount()
{
    return (int)(sizeof(kPresets) / sizeof(kPresets[0]));
}

const LimitPreset* LimitPresetAt(int nIndex)
{
    if (nIndex < 0 || nIndex >= LimitPresetCount())
        return NULL;
    return &kPresets[nIndex];
}

static bool SameText(const char* pszA, const char* pszB)
{
    for (; *pszA && *pszB; ++pszA, ++pszB) {
        char chA = *pszA >= 'A' && *pszA <= 'Z' ? (char)(*pszA - 'A' + 'a') : *pszA;
        char chB = *pszB >= 'A' && *pszB <= 'Z' ? (char)(*pszB - 'A' + 'a') : *pszB;
        if (chA != chB)
            return false;
    }
    return *pszA == *pszB;
}

int FindLimitPreset(const char* pszKeyOrName)
{
    if (pszKeyOrName == NULL)
        return -1;
    for (int i = 0; i < LimitPresetCount(); ++i) {
        if (SameText(kPresets[i].pszKey, pszKeyOrName) || SameText(kPresets[i].pszName, pszKeyOrName))
            return i;
    }
    return -1;
}

int PresetOfOptions(const JobOptionsRecord* pOptions)
{
    for (int i = 0; i < LimitPresetCount(); ++i) {
        if (kPresets[i].nPerMinute == pOptions->PerMinute && kPresets[i].nPerDay == pOptions->PerDay)
            return i;
    }
    return -1;
}

void ApplyLimitPreset(int nIndex, JobOptionsRecord* pOptions)
{
    const LimitPreset* pPreset = LimitPresetAt(nIndex);
    if (pPreset == NULL)
        return;
    pOptions->PerMinute = pPreset->nPerMinute;
    pOptions->PerDay = pPreset->nPerDay;
}
