// Shows one of the add-in's dialogs for a few seconds so that a picture can
// be taken of it: show_dialog.exe <resource id> [seconds [samples folder]].
// The Preview dialog shows the sample list and message of the samples folder.
// Exits 0 when the dialog opened, 2 when it could not be made.
// show_dialog.exe box <string id> <message box type> [seconds] shows the
// add-in's message box of that string.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "job/main_dialog.h"
#include "job/preview_dialog.h"
#include "mailing/list_reader.h"
#include "settings/settings_store.h"
#include "resources/product.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "ui/dialog_placement.h"
#include "ui/hyperlink_static.h"
#include "ui/logs_dialog.h"
#include "ui/message_box.h"
#include "ui/options_dialog.h"

static UINT gnSeconds = 4;

// A dialog without a procedure of its own here: laid out as its resource
// says, centred, with its link.
static INT_PTR CALLBACK PlainDialog(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_INITDIALOG) {
        CenterOnScreen(hDlg);
        if (GetDlgItem(hDlg, 1019))
            AttachHyperlinkItem(hDlg, 1019);
        return TRUE;
    }
    if (uMsg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hDlg, 0);
        return TRUE;
    }
    return FALSE;
}

static BOOL CALLBACK EndEachDialog(HWND hWnd, LPARAM lParam)
{
    char szClass[16] = "";
    GetClassNameA(hWnd, szClass, sizeof(szClass));
    if (lstrcmpA(szClass, "#32770") == 0)
        EndDialog(hWnd, 1);
    return TRUE;
}

static void CALLBACK CloseAll(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime)
{
    EnumThreadWindows(GetCurrentThreadId(), EndEachDialog, 0);
}

// Started from a virtual desktop, the window does not come up active: the
// picture is to show it as the user sees it, in front with an active title.
static BOOL CALLBACK ActivateDialog(HWND hWnd, LPARAM lParam)
{
    char szClass[16] = "";
    GetClassNameA(hWnd, szClass, sizeof(szClass));
    if (lstrcmpA(szClass, "#32770") == 0 && IsWindowVisible(hWnd)) {
        SetForegroundWindow(hWnd);
        SetActiveWindow(hWnd);
        SendMessageA(hWnd, WM_NCACTIVATE, TRUE, 0);
    }
    return TRUE;
}

static void CALLBACK BringToFront(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime)
{
    KillTimer(NULL, idEvent);
    SetCursorPos(0, 0);
    EnumThreadWindows(GetCurrentThreadId(), ActivateDialog, 0);
}

static std::string FileText(const std::string& path)
{
    std::string text;
    FILE* pFile = fopen(path.c_str(), "rb");
    if (pFile == NULL)
        return text;
    char buffer[4096];
    size_t cb;
    while ((cb = fread(buffer, 1, sizeof(buffer), pFile)) > 0)
        text.append(buffer, cb);
    fclose(pFile);
    return text;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPSTR pszCmdLine, int nShow)
{
    int nResource = atoi(pszCmdLine);
    const char* pszSeconds = strchr(pszCmdLine, ' ');
    if (pszSeconds && atoi(pszSeconds) > 0)
        gnSeconds = atoi(pszSeconds);

    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_WIN95_CLASSES | ICC_DATE_CLASSES };
    InitCommonControlsEx(&icc);
    InitDataPaths(hInstance);
    ghInstance = hInstance;

    unsigned uStringId = 0, uType = 0, uSeconds = 0;
    if (sscanf(pszCmdLine, "box %u %u %u", &uStringId, &uType, &uSeconds) >= 2) {
        if (uSeconds > 0)
            gnSeconds = uSeconds;
        SetTimer(NULL, 0, gnSeconds * 1000, CloseAll);
        SetTimer(NULL, 0, 1000, BringToFront);
        return ShowStringMessage(NULL, uStringId, LC_PRODUCT_NAME, uType) == 0 ? 2 : 0;
    }

    DLGPROC pfnDialog = PlainDialog;
    if (nResource == IDD_MAIN_DIALOG)
        pfnDialog = MainDialog;   // as it opens, before any job
    else if (nResource == IDD_OPTIONS)
        pfnDialog = OptionsDialog;
    else if (nResource == IDD_LOGS)
        pfnDialog = LogsDialog;

    LPARAM lParam = 0;
    PreviewRequest request;
    std::string listPath;
    if (nResource == IDD_PREVIEW) {
        const char* pszFolder = pszSeconds ? strchr(pszSeconds + 1, ' ') : NULL;
        std::string folder = pszFolder ? std::string(pszFolder + 1) + "\\" : std::string();
        listPath = folder + "SampleTo.txt";
        request.pJob = NULL;
        request.pszListPath = listPath.c_str();
        request.nIndex = 2;
        std::string subject = FileText(folder + "SampleSubject.txt");
        request.message.subject = subject.substr(0, subject.find_first_of("\r\n"));
        request.message.body = FileText(folder + "SampleMessage.txt");
        // As the Lettercast window names the account of a profile of one.
        request.message.sender = "user@standin.example";
        snprintf(JobOptions.ToList, LC_PATH_CAPACITY, "%s", listPath.c_str());
        DetectDelimiter();
        pfnDialog = PreviewDialog;
        lParam = (LPARAM)&request;
    }

    SetTimer(NULL, 0, gnSeconds * 1000, CloseAll);
    SetTimer(NULL, 0, 1000, BringToFront);
    INT_PTR nResult = DialogBoxParamA(hInstance, MAKEINTRESOURCEA(nResource), GetDesktopWindow(), pfnDialog, lParam);
    return nResult == -1 ? 2 : 0;
}
