#include "engine/engine_report.h"

#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "logs/job_log.h"
#include "mailing/bounded_copy.h"
#include "mailing/text_conversion.h"
#include "resources/product.h"

#define LC_LOG_LINE_CAPACITY 1024

int ShowJobText(HWND hWndOwner, const char* pszText)
{
    NoteJobEndReason(pszText);
    return MessageBoxA(hWndOwner, pszText, LC_PRODUCT_NAME, MB_ICONWARNING | MB_OK);
}

int AskJobQuestion(HWND hWndOwner, const char* pszText)
{
    return MessageBoxA(hWndOwner, pszText, LC_PRODUCT_NAME, MB_ICONQUESTION | MB_YESNO);
}

void LogJobText(FILE* pLog, const char* pszText)
{
    if (pLog == NULL)
        return;
    // Texts here may carry an address read from the list.
    char szLine[LC_LOG_LINE_CAPACITY];
    CopyBounded(szLine, sizeof(szLine), pszText);
    SpaceEveryLineBreak(szLine);
    fprintf(pLog, "%s\n", szLine);
    fflush(pLog);
}

#define LC_ERROR_TEXT_CAPACITY 512

// The error information's source and description, each left as it is
// when the error carries none.
static void ReadErrorTexts(const _com_error& error, char* pszSource, char* pszDescription)
{
    IErrorInfo* pInfo = error.ErrorInfo();
    if (pInfo) {
        BSTR bstr = NULL;
        if (SUCCEEDED(pInfo->GetSource(&bstr)) && bstr)
            WideToAnsi(bstr, pszSource, LC_ERROR_TEXT_CAPACITY);
        SysFreeString(bstr);
        bstr = NULL;
        if (SUCCEEDED(pInfo->GetDescription(&bstr)) && bstr)
            WideToAnsi(bstr, pszDescription, LC_ERROR_TEXT_CAPACITY);
        SysFreeString(bstr);
        pInfo->Release();
    }
}

std::string ComErrorDescription(const _com_error& error)
{
    char szSource[LC_ERROR_TEXT_CAPACITY] = "";
    char szDescription[LC_ERROR_TEXT_CAPACITY] = "";
    ReadErrorTexts(error, szSource, szDescription);
    return szDescription;
}

void ReportComError(const _com_error& error, FILE* pLog, const char* pszLocation)
{
    if (pLog == NULL)
        return;
    char szSource[LC_ERROR_TEXT_CAPACITY] = "(null)";
    char szDescription[LC_ERROR_TEXT_CAPACITY] = "(null)";
    ReadErrorTexts(error, szSource, szDescription);
    LogComError(pLog, (long)error.Error(), szSource, szDescription, pszLocation);
}
