// outlook-standin.exe: a host for COM add-ins over the stand-in Outlook. It
// loads the stand-in MAPI library beside it, connects every add-in that
// Outlook's registry key names, composes a message in a compose window and
// shows each add-in's ribbon buttons. With --list it runs one job headless:
// Announce, the list typed into the main dialog, a preset chosen in Options
// and the send-at time set when asked for, Send, every box answered.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "settings/limit_presets.h"
#include "standin/common/fault_plan.h"
#include "standin/host/addin_loader.h"
#include "standin/host/host_options.h"
#include "standin/host/job_script.h"
#include "standin/host/ribbon_control.h"
#include "standin/outlook/standin_outlook.h"

namespace {

const wchar_t kExplorerRibbon[] = L"Microsoft.Outlook.Explorer";
const wchar_t kComposeRibbon[] = L"Microsoft.Outlook.Mail.Compose";

struct Ribbon {
    IDispatch* pAddin;
    std::vector<RibbonButton> buttons;
};

bool ReadFileBytes(const std::string& path, std::string* pBytes)
{
    FILE* pFile = fopen(path.c_str(), "rb");
    if (!pFile)
        return false;
    char buffer[4096];
    size_t cb;
    pBytes->clear();
    while ((cb = fread(buffer, 1, sizeof(buffer), pFile)) > 0)
        pBytes->append(buffer, cb);
    fclose(pFile);
    return true;
}

std::wstring Widen(const std::string& text)
{
    int cch = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, NULL, 0);
    std::wstring wide(cch > 0 ? cch - 1 : 0, L'\0');
    if (cch > 1)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], cch);
    return wide;
}

// A text file's bytes without their UTF-8 byte-order mark, as Unicode: from
// UTF-8 when they are valid UTF-8, else from the ANSI code page.
std::wstring WidenFileText(std::string* pBytes)
{
    if (pBytes->compare(0, 3, "\xEF\xBB\xBF") == 0)
        pBytes->erase(0, 3);
    if (pBytes->empty())
        return std::wstring();
    int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pBytes->data(), (int)pBytes->size(), NULL, 0);
    if (cch <= 0)
        return Widen(*pBytes);
    std::wstring wide(cch, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, pBytes->data(), (int)pBytes->size(), &wide[0], cch);
    return wide;
}

// What Outlook's ANSI properties hold of a Unicode text.
std::string NarrowToAnsi(const std::wstring& wide)
{
    int cb = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, NULL, 0, NULL, NULL);
    std::string text(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1)
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &text[0], cb, NULL, NULL);
    return text;
}

// The text of an HTML message for its plain body: tags dropped.
std::string TextOfHtml(const std::string& html)
{
    std::string text;
    bool bInTag = false;
    for (char ch : html) {
        if (ch == '<')
            bInTag = true;
        else if (ch == '>')
            bInTag = false;
        else if (!bInTag)
            text += ch;
    }
    return text;
}

std::vector<Ribbon> RibbonsFor(const std::vector<LoadedAddin>& addins, const wchar_t* pszRibbonId)
{
    std::vector<Ribbon> ribbons;
    for (const LoadedAddin& addin : addins) {
        if (!addin.bConnected || !addin.pRibbon || !addin.pDispatch)
            continue;
        BSTR bstrId = SysAllocString(pszRibbonId);
        BSTR bstrXml = NULL;
        if (SUCCEEDED(addin.pRibbon->GetCustomUI(bstrId, &bstrXml)) && bstrXml)
            ribbons.push_back(Ribbon{ addin.pDispatch, ParseRibbonButtons(bstrXml) });
        SysFreeString(bstrXml);
        SysFreeString(bstrId);
    }
    return ribbons;
}

HWND WindowOf(IDispatch* pObject)
{
    IOleWindow* pWindow = NULL;
    HWND hWnd = NULL;
    if (pObject && SUCCEEDED(pObject->QueryInterface(IID_IOleWindow, (void**)&pWindow)) && pWindow) {
        pWindow->GetWindow(&hWnd);
        pWindow->Release();
    }
    return hWnd;
}

// --- by hand: one window of buttons per ribbon -----------------------------

struct ButtonBar {
    std::vector<Ribbon> ribbons;
    IDispatch* pContext;
};

const char kBarClass[] = "LettercastStandinRibbon";
const int kFirstButtonId = 100;

LRESULT CALLBACK BarProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    ButtonBar* pBar = (ButtonBar*)GetWindowLongPtrA(hWnd, GWLP_USERDATA);
    switch (uMsg) {
    case WM_COMMAND:
        if (pBar && HIWORD(wParam) == BN_CLICKED) {
            int n = LOWORD(wParam) - kFirstButtonId;
            for (const Ribbon& ribbon : pBar->ribbons) {
                if (n >= 0 && n < (int)ribbon.buttons.size()) {
                    PressRibbonButton(ribbon.pAddin, ribbon.buttons[n], pBar->pContext);
                    break;
                }
                n -= (int)ribbon.buttons.size();
            }
        }
        return 0;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        if (GetWindowLongPtrA(hWnd, 0))
            PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

HWND ShowButtonBar(const char* pszTitle, ButtonBar* pBar, int y, bool bQuitOnClose)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = BarProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = kBarClass;
    wc.cbWndExtra = sizeof(LONG_PTR);
    RegisterClassA(&wc);
    HWND hWnd = CreateWindowA(kBarClass, pszTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, y, 560, 110, NULL, NULL,
                              wc.hInstance, NULL);
    SetWindowLongPtrA(hWnd, GWLP_USERDATA, (LONG_PTR)pBar);
    SetWindowLongPtrA(hWnd, 0, bQuitOnClose ? 1 : 0);
    int nId = kFirstButtonId;
    int x = 10;
    for (const Ribbon& ribbon : pBar->ribbons) {
        for (const RibbonButton& button : ribbon.buttons) {
            CreateWindowA("BUTTON", button.label.c_str(), WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, x, 20, 120, 30, hWnd,
                          (HMENU)(INT_PTR)nId++, wc.hInstance, NULL);
            x += 130;
        }
    }
    return hWnd;
}

void RunByHand(const std::vector<LoadedAddin>& addins, IDispatch* pInspector)
{
    ButtonBar explorer = { RibbonsFor(addins, kExplorerRibbon), NULL };
    ButtonBar compose = { RibbonsFor(addins, kComposeRibbon), pInspector };
    ShowButtonBar("Outlook stand-in: Inbox (close to quit)", &explorer, 40, true);
    ShowButtonBar("Outlook stand-in: Message", &compose, 180, false);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// --- headless: one job --------------------------------------------------------

// The script watching the boxes is already running: an add-in may show one
// while it connects.
bool RunOneJob(const HostOptions& options, JobScript* pScript, const std::vector<LoadedAddin>& addins,
               IDispatch* pMail, IDispatch* pInspector)
{
    const RibbonButton* pAnnounce = NULL;
    IDispatch* pAddin = NULL;
    std::vector<Ribbon> ribbons = RibbonsFor(addins, kComposeRibbon);
    for (const Ribbon& ribbon : ribbons) {
        for (const RibbonButton& button : ribbon.buttons) {
            if (!pAnnounce && button.id.find("Send") != std::string::npos) {
                pAnnounce = &button;
                pAddin = ribbon.pAddin;
            }
        }
    }
    if (!pAnnounce) {
        fprintf(stderr, "outlook-standin: no add-in shows an Announce button in the compose window\n");
        return false;
    }

    HWND hCompose = WindowOf(pInspector);
    HRESULT hr = PressRibbonButton(pAddin, *pAnnounce, pInspector);
    if (FAILED(hr))
        fprintf(stderr, "outlook-standin: the Announce button answered 0x%08lx\n", (unsigned long)hr);
    if (!pScript->bMainDialogSeen)
        fprintf(stderr, "outlook-standin: the main dialog never opened\n");

    if (!options.originalFile.empty()) {
        char szPath[MAX_PATH];
        const char* pszState = !StandinItemPath(pMail, szPath, MAX_PATH) ? "deleted"
                               : (hCompose && IsWindow(hCompose))      ? "open"
                                                                       : "kept";
        FILE* pFile = fopen(options.originalFile.c_str(), "w");
        if (pFile) {
            fprintf(pFile, "%s\n", pszState);
            fclose(pFile);
        }
    }
    if (pScript->bScriptFailed)
        return false;
    return pScript->nPreview > 0 ? pScript->bPreviewWritten : pScript->bCompleted;
}

std::string ModuleFolder()
{
    char szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameA(NULL, szPath, MAX_PATH);
    std::string path(szPath, cch < MAX_PATH ? cch : 0);
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

int main(int argc, char** argv)
{
    HostOptions options;
    std::string error;
    if (!ParseHostOptions(argc, argv, &options, &error)) {
        fprintf(stderr, "outlook-standin: %s\n%s", error.c_str(), gszHostUsage);
        return 2;
    }
    std::string subject = options.subject, body, html;
    if (!options.bodyFile.empty() && !ReadFileBytes(options.bodyFile, &body)) {
        fprintf(stderr, "outlook-standin: cannot read %s\n", options.bodyFile.c_str());
        return 2;
    }
    if (!options.htmlFile.empty() && !ReadFileBytes(options.htmlFile, &html)) {
        fprintf(stderr, "outlook-standin: cannot read %s\n", options.htmlFile.c_str());
        return 2;
    }
    std::string subjectBytes;
    if (!options.subjectFile.empty() && !ReadFileBytes(options.subjectFile, &subjectBytes)) {
        fprintf(stderr, "outlook-standin: cannot read %s\n", options.subjectFile.c_str());
        return 2;
    }
    std::wstring subjectW = WidenFileText(&subjectBytes);
    while (!subjectW.empty() && (subjectW.back() == L'\n' || subjectW.back() == L'\r'))
        subjectW.pop_back();
    // The files are UTF-8 (with or without a mark) or ANSI; the composed
    // message holds them as Unicode, its ANSI body narrowed as Outlook does.
    std::wstring bodyW = WidenFileText(&body);
    std::wstring htmlW = WidenFileText(&html);
    if (!SetFaultPlan(options.faultPlan.c_str())) {
        fprintf(stderr, "outlook-standin: the fault plan \"%s\" does not parse\n", options.faultPlan.c_str());
        return 2;
    }
    // The add-ins are DLLs with runtimes of their own: an exception thrown
    // here would end this process on its way into them.
    if (FaultPlanUses(FaultThrow)) {
        fprintf(stderr, "outlook-standin: \"throw\" cannot reach an add-in in another module; use \"raise\" or \"fail\"\n%s",
                gszHostUsage);
        return 2;
    }

    OleInitialize(NULL);
    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_WIN95_CLASSES };
    InitCommonControlsEx(&icc);

    std::string mapiPath = ModuleFolder() + "olmapi32.dll";
    HMODULE hMapi = LoadLibraryA(mapiPath.c_str());
    if (!hMapi) {
        fprintf(stderr, "outlook-standin: cannot load %s\n", mapiPath.c_str());
        return 2;
    }

    std::wstring version = Widen(options.version);
    StandinOutlookOptions outlook = {};
    lstrcpynA(outlook.szStoreDir, options.storeDir.c_str(), MAX_PATH);
    outlook.pszVersion = options.version.empty() ? NULL : version.c_str();
    outlook.bHtmlOk = options.bHtmlOk;
    outlook.bCallersInOtherModules = true;
    outlook.nKillAfterDeliveries = options.killAfter.empty() ? 0 : atoi(options.killAfter.c_str());
    outlook.bOutboxHolds = !options.outboxHoldsAfter.empty();
    outlook.nOutboxHoldsAfter = outlook.bOutboxHolds ? atoi(options.outboxHoldsAfter.c_str()) : 0;
    outlook.pszAccounts = options.bAccounts ? options.accounts.c_str() : NULL;
    outlook.bCopyDropsAccount = options.bCopyDropsAccount;
    IDispatch* pApplication = NULL;
    if (FAILED(CreateStandinOutlook(&outlook, &pApplication))) {
        fprintf(stderr, "outlook-standin: cannot open the store %s\n", options.storeDir.c_str());
        return 2;
    }

    // Headless, every box is answered from the start: an add-in that refuses
    // this host says so in a box while it connects.
    JobScript script = {};
    bool bHeadless = !options.listPath.empty();
    if (bHeadless) {
        script.listPath = options.listPath;
        SplitAnswers(options.answer, &script.answers);
        script.nPreview = options.preview.empty() ? 0 : atoi(options.preview.c_str());
        script.previewFile = options.previewFile;
        script.bTestSend = options.bTestSend;
        const std::string& stopAfter = options.escapeAfter.empty() ? options.closeAfter : options.escapeAfter;
        script.nStopAfter = stopAfter.empty() ? -1 : atoi(stopAfter.c_str());
        script.bStopWithClose = !options.closeAfter.empty();
        unsigned uCancelAfterMs = 0;
        script.nCancelAfterMs = ParseSeconds(options.cancelAfter, &uCancelAfterMs) ? (int)uCancelAfterMs : -1;
        script.bSendAt = ParseClockTime(options.sendAt, &script.nSendAtHour, &script.nSendAtMinute);
        int nPreset = options.preset.empty() ? -1 : FindLimitPreset(options.preset.c_str());
        script.presetName = nPreset >= 0 ? LimitPresetAt(nPreset)->pszName : "";
        script.sheet = options.sheet;
        script.pBoxes = options.boxesFile.empty() ? NULL : fopen(options.boxesFile.c_str(), "w");
        StartJobScript(&script);
    }

    std::vector<LoadedAddin> addins;
    LoadAddins(pApplication, &addins);

    std::wstring htmlBody = htmlW;
    std::string htmlText = html.empty() ? std::string() : TextOfHtml(html);
    std::wstring plainW = !body.empty() || html.empty() ? bodyW : WidenFileText(&htmlText);
    std::string plain = NarrowToAnsi(plainW);
    StandinComposedMail mail = {};
    mail.pszSubject = options.subjectFile.empty() ? subject.c_str() : NULL;
    mail.pszSubjectW = subjectW.c_str();
    mail.pszBody = plain.c_str();
    mail.pszBodyW = plainW.c_str();
    mail.pszHtml = html.empty() ? NULL : html.c_str();
    mail.pszHtmlBody = html.empty() ? NULL : htmlBody.c_str();
    mail.nBodyFormat = html.empty() ? 1 : 2;
    mail.pszTo = options.to.c_str();
    mail.pszCc = options.cc.c_str();
    mail.pszBcc = options.bcc.c_str();
    // Without --from the message is composed with no account of its own
    // (SendUsingAccount is Nothing), and goes from the default account.
    mail.pszFromAccount = options.from.c_str();
    std::wstring onBehalfOf = Widen(options.onBehalfOf);
    mail.pszOnBehalfOf = onBehalfOf.c_str();
    IDispatch* pMail = NULL;
    IDispatch* pInspector = NULL;
    int nExit = 0;
    if (FAILED(StandinComposeMail(pApplication, &mail, &pMail, &pInspector))) {
        fprintf(stderr, "outlook-standin: cannot compose the message\n");
        nExit = 2;
    } else if (bHeadless) {
        nExit = RunOneJob(options, &script, addins, pMail, pInspector) ? 0 : 1;
    } else {
        RunByHand(addins, pInspector);
    }

    if (pInspector)
        pInspector->Release();
    if (pMail)
        pMail->Release();
    UnloadAddins(&addins);
    if (bHeadless) {
        StopJobScript();
        if (script.pBoxes)
            fclose(script.pBoxes);
    }
    pApplication->Release();
    OleUninitialize();
    FreeLibrary(hMapi);
    return nExit;
}
