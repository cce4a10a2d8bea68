#include "mailing/bounded_copy.h"

#include <string.h>

void CopyBounded(char* pszTo, long long cchCapacity, const char* pszFrom, size_t cchMax)
{
    if (pszTo == NULL || cchCapacity <= 0)
        return;
    if (pszFrom == NULL)
        pszFrom = "";
    size_t cchLimit = (unsigned long long)(cchCapacity - 1) < cchMax ? (size_t)(cchCapacity - 1) : cchMax;
    // Only as far as the copy can reach: the text may be far longer, or cut
    // by its writer's own count rather than a terminator.
    size_t cchCopy = 0;
    while (cchCopy < cchLimit && pszFrom[cchCopy])
        ++cchCopy;
    memcpy(pszTo, pszFrom, cchCopy);
    pszTo[cchCopy] = '\0';
}

void SpaceEveryLineBreak(char* pszText)
{
    if (pszText == NULL)
        return;
    for (char* p = pszText; *p; ++p) {
        if (*p == '\r' || *p == '\n')
            *p = ' ';
    }
}
