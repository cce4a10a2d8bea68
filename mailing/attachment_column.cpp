#include "mailing/attachment_column.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// [pBegin, pEnd) without blanks at either end, then without one pair of
// quotes around it, then without blanks inside those quotes.
void TrimPiece(const char** ppBegin, const char** ppEnd)
{
    const char* pBegin = *ppBegin;
    const char* pEnd = *ppEnd;
    while (pBegin < pEnd && IsBlank(*pBegin))
        ++pBegin;
    while (pEnd > pBegin && IsBlank(pEnd[-1]))
        --pEnd;
    while (pEnd - pBegin >= 2 && (*pBegin == '"' || *pBegin == '\'') && pEnd[-1] == *pBegin) {
        ++pBegin;
        --pEnd;
        while (pBegin < pEnd && IsBlank(*pBegin))
            ++pBegin;
        while (pEnd > pBegin && IsBlank(pEnd[-1]))
            --pEnd;
    }
    *ppBegin = pBegin;
    *ppEnd = pEnd;
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// "C:..." or "\..." or "\\server\...": not taken from the list's folder.
bool IsRooted(const char* psz, size_t cch)
{
    if (cch >= 2 && psz[1] == ':')
        return true;
    return cch >= 1 && IsSeparator(psz[0]);
}

bool SameNameAnyCase(const char* pszName, const char* pszWanted)
{
    const char* pBegin = pszName;
    const char* pEnd = pszName + strlen(pszName);
    while (pBegin < pEnd && (IsBlank(*pBegin) || *pBegin == '\r' || *pBegin == '\n'))
        ++pBegin;
    while (pEnd > pBegin && (IsBlank(pEnd[-1]) || pEnd[-1] == '\r' || pEnd[-1] == '\n'))
        --pEnd;
    size_t cch = strlen(pszWanted);
    return (size_t)(pEnd - pBegin) == cch && _strnicmp(pBegin, pszWanted, cch) == 0;
}

// The UTF-8 path as the wide text the file system takes; false when it is not
// valid UTF-8 or longer than cchWide allows.
bool WidePath(const char* pszPath, wchar_t* pszWide, int cchWide)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pszPath, -1, pszWide, cchWide) > 0;
}

}  // namespace

int FindAttachmentColumn(const ListRecord* pHeader)
{
    if (pHeader == NULL)
        return -1;
    for (int i = 0; i < pHeader->nCount; ++i) {
        const char* pszName = pHeader->ppszFields[i];
        if (pszName && (SameNameAnyCase(pszName, "Attachment") || SameNameAnyCase(pszName, "Attachments")))
            return i;
    }
    return -1;
}

void ListFolderOf(const char* pszListPath, char* pszFolder, size_t cchFolder)
{
    if (cchFolder == 0)
        return;
    pszFolder[0] = '\0';
    if (pszListPath == NULL)
        return;
    const char* pszLast = NULL;
    for (const char* p = pszListPath; *p; ++p) {
        if (IsSeparator(*p) || (*p == ':' && p == pszListPath + 1))
            pszLast = p;
    }
    if (pszLast == NULL)
        return;
    size_t cch = (size_t)(pszLast - pszListPath);
    // "C:\list.csv" and "C:list.csv" keep their drive's root or current folder.
    if (*pszLast == ':' || (cch == 2 && pszListPath[1] == ':'))
        ++cch;
    if (cch == 0)
        cch = 1;   // "\list.csv": the root
    if (cch >= cchFolder)
        return;
    memcpy(pszFolder, pszListPath, cch);
    pszFolder[cch] = '\0';
}

int NextAttachmentPath(const char** ppszCursor, const char* pszListFolder, char* pszPath, size_t cchPath)
{
    if (cchPath == 0)
        return AttachmentPathNone;
    pszPath[0] = '\0';
    const char* pszCursor = *ppszCursor;
    if (pszCursor == NULL)
        return AttachmentPathNone;
    while (*pszCursor) {
        const char* pBegin = pszCursor;
        const char* pEnd = strchr(pszCursor, ';');
        if (pEnd == NULL)
            pEnd = pszCursor + strlen(pszCursor);
        pszCursor = *pEnd ? pEnd + 1 : pEnd;
        TrimPiece(&pBegin, &pEnd);
        size_t cch = (size_t)(pEnd - pBegin);
        if (cch == 0)
            continue;
        *ppszCursor = pszCursor;

        char szJoined[LC_ATTACHMENT_PATH_CAPACITY * 2];
        size_t cchFolder = pszListFolder ? strlen(pszListFolder) : 0;
        bool bFromFolder = !IsRooted(pBegin, cch) && cchFolder > 0;
        const char* pszSeparator =
            bFromFolder && !IsSeparator(pszListFolder[cchFolder - 1]) && pszListFolder[cchFolder - 1] != ':' ? "\\"
                                                                                                           : "";
        size_t cchJoined = (bFromFolder ? cchFolder + strlen(pszSeparator) : 0) + cch;
        if (cchJoined >= sizeof(szJoined)) {
            snprintf(pszPath, cchPath, "%.*s", (int)cch, pBegin);
            return AttachmentPathTooLong;
        }
        snprintf(szJoined, sizeof(szJoined), "%s%s%.*s", bFromFolder ? pszListFolder : "", pszSeparator, (int)cch,
                 pBegin);
        // ".." and "." resolved, "/" made "\", so that the path logged is the
        // file's own; in Unicode, so that every name of the list is found.
        wchar_t szWide[sizeof(szJoined)];
        wchar_t szFull[LC_ATTACHMENT_PATH_CHARS];
        DWORD cchFull = WidePath(szJoined, szWide, (int)(sizeof(szWide) / sizeof(szWide[0])))
                            ? GetFullPathNameW(szWide, LC_ATTACHMENT_PATH_CHARS, szFull, NULL)
                            : 0;
        if (cchFull == 0 || cchFull >= LC_ATTACHMENT_PATH_CHARS ||
            WideCharToMultiByte(CP_UTF8, 0, szFull, -1, pszPath, (int)cchPath, NULL, NULL) <= 0) {
            snprintf(pszPath, cchPath, "%s", szJoined);
            return AttachmentPathTooLong;
        }
        return AttachmentPathFound;
    }
    *ppszCursor = pszCursor;
    return AttachmentPathNone;
}

int CheckAttachmentFile(const char* pszPath, unsigned long long* pcbSize)
{
    *pcbSize = 0;
    wchar_t szWide[LC_ATTACHMENT_PATH_CAPACITY];
    if (!WidePath(pszPath, szWide, LC_ATTACHMENT_PATH_CAPACITY))
        return AttachmentFileMissing;
    DWORD dwAttributes = GetFileAttributesW(szWide);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        DWORD dwError = GetLastError();
        return (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ||
                dwError == ERROR_INVALID_NAME || dwError == ERROR_BAD_NETPATH || dwError == ERROR_INVALID_DRIVE)
                   ? AttachmentFileMissing
                   : AttachmentFileUnreadable;
    }
    if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return AttachmentFileUnreadable;
    HANDLE hFile = CreateFileW(szWide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return AttachmentFileUnreadable;
    DWORD dwHigh = 0;
    DWORD dwLow = GetFileSize(hFile, &dwHigh);
    // A byte read proves the file can be read, not only opened.
    char c;
    DWORD cbRead = 0;
    bool bReadable = (dwLow != INVALID_FILE_SIZE || GetLastError() == NO_ERROR) &&
                     ReadFile(hFile, &c, 1, &cbRead, NULL);
    CloseHandle(hFile);
    if (!bReadable)
        return AttachmentFileUnreadable;
    *pcbSize = ((unsigned long long)dwHigh << 32) | dwLow;
    return AttachmentFileReadable;
}
