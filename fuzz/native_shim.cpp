// What the mailing code needs from the rest of the add-in, for the native
// fuzz build: the options record that names the list, and the two pieces that
// only exist on Windows. The fuzz targets write their lists as ordinary files,
// so the shared-access way in is never needed; an out-of-memory report has no
// one to show it to and is only counted.
#include "fuzz/native_shim.h"

#include "mailing/list_reader.h"
#include "settings/settings_store.h"

JobOptionsRecord JobOptions;

int gnFuzzOutOfMemoryReports = 0;

FILE* OpenListFileShared(const char* pszPath)
{
    return NULL;
}

void ReportListOutOfMemory()
{
    ++gnFuzzOutOfMemoryReports;
}
