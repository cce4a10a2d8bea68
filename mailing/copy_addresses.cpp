#include "mailing/copy_addresses.h"

#include <stdlib.h>
#include <string.h>

#include "mailing/list_reader.h"
#include "mailing/mail_merge.h"

namespace {

const char* const kszKindNames[CopyAddressKinds] = { "Cc", "Bcc", "Reply-To" };

bool IsNameBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

// A column's whole name, trimmed, in lower case.
std::string ColumnKey(const char* pszName)
{
    std::string key;
    const char* pszEnd = pszName + strlen(pszName);
    while (pszName < pszEnd && IsNameBlank(*pszName))
        ++pszName;
    while (pszEnd > pszName && IsNameBlank(pszEnd[-1]))
        --pszEnd;
    for (const char* p = pszName; p < pszEnd; ++p)
        key += (*p >= 'A' && *p <= 'Z') ? (char)(*p - 'A' + 'a') : *p;
    return key;
}

int KindOfColumn(const char* pszName)
{
    std::string key = ColumnKey(pszName);
    if (key == "cc")
        return CopyCc;
    if (key == "bcc")
        return CopyBcc;
    if (key == "reply-to" || key == "reply to")
        return CopyReplyTo;
    return -1;
}

// The pieces of a cell between ";", "," and line breaks, outside double
// quotes and angle brackets, so that "\"Doe, Jane\" <jane@x>" stays one.
void SplitCell(const char* pszCell, std::vector<std::string>* pPieces)
{
    pPieces->clear();
    std::string piece;
    bool bInQuote = false;
    bool bInBrackets = false;
    for (const char* p = pszCell;; ++p) {
        char ch = *p;
        bool bEnd = ch == '\0' ||
                    (!bInQuote && !bInBrackets && (ch == ';' || ch == ',' || ch == '\r' || ch == '\n'));
        if (bEnd) {
            size_t nStart = 0, nEnd = piece.size();
            while (nStart < nEnd && IsNameBlank(piece[nStart]))
                ++nStart;
            while (nEnd > nStart && IsNameBlank(piece[nEnd - 1]))
                --nEnd;
            if (nEnd > nStart)
                pPieces->push_back(piece.substr(nStart, nEnd - nStart));
            piece.clear();
            if (ch == '\0')
                return;
            continue;
        }
        if (ch == '"' && !bInBrackets)
            bInQuote = !bInQuote;
        else if (ch == '<' && !bInQuote)
            bInBrackets = true;
        else if (ch == '>' && !bInQuote)
            bInBrackets = false;
        piece += ch;
    }
}

}  // namespace

const char* CopyAddressKindName(int nKind)
{
    return nKind >= 0 && nKind < CopyAddressKinds ? kszKindNames[nKind] : "";
}

void FindCopyAddressColumns(const ListRecord* pHeader, CopyAddressColumns* pColumns)
{
    for (int& nColumn : pColumns->anColumn)
        nColumn = -1;
    for (int i = 0; pHeader && i < pHeader->nCount; ++i) {
        int nKind = KindOfColumn(pHeader->ppszFields[i]);
        if (nKind >= 0 && pColumns->anColumn[nKind] < 0)
            pColumns->anColumn[nKind] = i;
    }
}

CopyAddressCheck::CopyAddressCheck()
{
    FindCopyAddressColumns(NULL, &m_columns);
}

bool CopyAddressCheck::Any() const
{
    for (int nColumn : m_columns.anColumn) {
        if (nColumn >= 0)
            return true;
    }
    return false;
}

void CopyAddressCheck::Begin(const ListRecord* pHeader)
{
    FindCopyAddressColumns(pHeader, &m_columns);
    for (std::vector<std::string>& addresses : m_addresses)
        addresses.clear();
    ClearListRecord(&m_header);
    if (!Any())
        return;
    for (int i = 0; i < pHeader->nCount; ++i)
        AddListField(&m_header, pHeader->ppszFields[i], strlen(pHeader->ppszFields[i]));
}

int CopyAddressCheck::Read(const ListRecord* pRecord, std::string* pBad)
{
    for (std::vector<std::string>& addresses : m_addresses)
        addresses.clear();
    std::vector<std::string> pieces;
    for (int nKind = 0; nKind < CopyAddressKinds; ++nKind) {
        int nColumn = m_columns.anColumn[nKind];
        if (nColumn < 0 || nColumn >= pRecord->nCount)
            continue;
        const char* pszCell = pRecord->ppszFields[nColumn];
        int nBad = ListSkipBadCc + nKind;
        // "[[Manager]]@example.com": the cell is merged as the subject is.
        char* pszMerged = NULL;
        if (strstr(pszCell, "[[")) {
            pszMerged = MergePlainText(pszCell, &m_header, pRecord);
            if (pszMerged == NULL) {
                *pBad = pszCell;
                return nBad;
            }
        }
        SplitCell(pszMerged ? pszMerged : pszCell, &pieces);
        free(pszMerged);
        for (std::string& piece : pieces) {
            char szAddress[LC_ADDRESS_CAPACITY];
            if (ReadOneAddress(&piece[0], szAddress, sizeof(szAddress)) != 0) {
                *pBad = szAddress;
                return nBad;
            }
            m_addresses[nKind].push_back(szAddress);
        }
    }
    return 0;
}
