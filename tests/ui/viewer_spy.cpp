// Stands in for the program the shell starts on a file or an address: notes
// how it was started in the file that LC_VIEWER_RECORD names, then exits.
#include <windows.h>

#include <stdio.h>

int main()
{
    char szRecord[MAX_PATH];
    DWORD cch = GetEnvironmentVariableA("LC_VIEWER_RECORD", szRecord, sizeof(szRecord));
    if (cch == 0 || cch >= sizeof(szRecord) - 4)
        return 1;

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    GetStartupInfoA(&si);
    char szFolder[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof(szFolder), szFolder);

    // Written aside and renamed, so the test never reads half a record.
    char szPartial[MAX_PATH];
    snprintf(szPartial, sizeof(szPartial), "%s.new", szRecord);
    FILE* pFile = fopen(szPartial, "wb");
    if (!pFile)
        return 1;
    fprintf(pFile, "%s\n%s\n%d\n", GetCommandLineA(), szFolder,
            (si.dwFlags & STARTF_USESHOWWINDOW) ? (int)si.wShowWindow : -1);
    fclose(pFile);
    return MoveFileExA(szPartial, szRecord, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
