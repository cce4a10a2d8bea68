#include "engine/list_snapshot.h"

#include <stdio.h>

#include <memory>
#include <new>

#include "engine/engine_report.h"
#include "engine/job_questions.h"
#include "engine/send_job_state.h"
#include "mailing/list_reader.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

namespace {

const size_t kCopyBlockBytes = 1 << 20;

}  // namespace

bool TakeListSnapshot(SendJobState* pState)
{
    // Byte for byte, its mark included: the copy is read as the list would be.
    FILE* pList = JobOptions.ToList[0] ? fopen(JobOptions.ToList, "rb") : NULL;
    if (pList == NULL && JobOptions.ToList[0]) {
        pList = OpenListFileShared(JobOptions.ToList);
        if (pList)
            SetListFileBinary(pList);
    }
    if (pList == NULL) {
        ShowListMessage(pState->hWndOwner, IDS_LIST_OPEN_FAILED, MB_ICONWARNING | MB_OK);
        return false;
    }
    char szTempDir[MAX_PATH];
    DWORD cchTemp = GetTempPathA(sizeof(szTempDir), szTempDir);
    bool bCopied = false;
    if (cchTemp > 0 && cchTemp < sizeof(szTempDir) &&
        GetTempFileNameA(szTempDir, "lcl", 0, pState->szListCopy) == 0)
        pState->szListCopy[0] = '\0';
    if (pState->szListCopy[0]) {
        FILE* pCopy = fopen(pState->szListCopy, "wb");
        // Large blocks: the copy is the one reading of the user's file.
        std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyBlockBytes]);
        if (pCopy) {
            size_t cb;
            bCopied = buffer != nullptr;
            while (bCopied && (cb = fread(buffer.get(), 1, kCopyBlockBytes, pList)) > 0) {
                if (fwrite(buffer.get(), 1, cb, pCopy) != cb)
                    bCopied = false;
            }
            if (ferror(pList))
                bCopied = false;
            if (fclose(pCopy) != 0)
                bCopied = false;
        }
    }
    fclose(pList);
    if (!bCopied) {
        ShowJobText(pState->hWndOwner, "Could not make a working copy of the mailing list in the temporary folder.");
        return false;
    }
    return true;
}
