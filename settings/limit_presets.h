// The sending limits of the mail services users send from, as the Options
// dialog offers them: each fills the messages per minute and the recipients
// per 24 hours.
#ifndef LETTERCAST_LIMIT_PRESETS_H
#define LETTERCAST_LIMIT_PRESETS_H

#include "settings/settings_store.h"

struct LimitPreset {
    const char* pszName;   // as the dialog lists it
    const char* pszKey;    // a short name for scripts: none, exchange, outlook.com, gmail, workspace
    int nPerMinute;
    int nPerDay;
};

int LimitPresetCount();
const LimitPreset* LimitPresetAt(int nIndex);
// By key or by name, in any case; -1 when none has it.
int FindLimitPreset(const char* pszKeyOrName);
// The preset whose limits the options hold, or -1 (limits of the user's own).
int PresetOfOptions(const JobOptionsRecord* pOptions);
void ApplyLimitPreset(int nIndex, JobOptionsRecord* pOptions);

#endif
