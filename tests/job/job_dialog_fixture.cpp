#include "tests/job/job_dialog_fixture.h"

#include <oleidl.h>

#include <gtest/gtest.h>

#include "addin/host_state.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "job/main_dialog.h"
#include "resources/resource.h"
#include "settings/data_paths.h"
#include "standin/outlook/standin_outlook.h"

const char kMainTitle[] = "Lettercast 4.3";

static BoxWatcher* gpBoxWatcher = NULL;

BoxWatcher::BoxWatcher(std::function<void(HWND)> fn, const char* pszDialogTitle)
    : m_fn(std::move(fn)), m_pszDialogTitle(pszDialogTitle)
{
    gpBoxWatcher = this;
    m_hHook = SetWindowsHookExA(WH_CBT, CbtProc, NULL, GetCurrentThreadId());
    EXPECT_NE(m_hHook, nullptr);
}

BoxWatcher::~BoxWatcher()
{
    if (m_hHook)
        UnhookWindowsHookEx(m_hHook);
    gpBoxWatcher = NULL;
}

LRESULT CALLBACK BoxWatcher::CbtProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_ACTIVATE && gpBoxWatcher) {
        HWND hWnd = (HWND)wParam;
        char szClass[16] = "";
        GetClassNameA(hWnd, szClass, sizeof(szClass));
        char szTitle[64] = "";
        GetWindowTextA(hWnd, szTitle, sizeof(szTitle));
        const char* pszTitle = gpBoxWatcher->m_pszDialogTitle;
        if (strcmp(szClass, "#32770") == 0 &&
            (pszTitle ? strcmp(szTitle, pszTitle) == 0 : GetDlgItem(hWnd, 0xFFFF) != NULL))
            gpBoxWatcher->m_fn(hWnd);
    }
    return CallNextHookEx(NULL, nCode, wParam, lParam);
}

static BOOL CALLBACK EndThreadDialog(HWND hWnd, LPARAM)
{
    char szClass[16] = "";
    GetClassNameA(hWnd, szClass, sizeof(szClass));
    if (strcmp(szClass, "#32770") == 0)
        EndDialog(hWnd, -1);
    return TRUE;
}

void WhenTrue(UiDriver& driver, std::function<bool()> cond, std::function<void()> fn, int nPatienceMs)
{
    DWORD dwStart = GetTickCount();
    std::shared_ptr<std::function<void()>> pPoll = std::make_shared<std::function<void()>>();
    *pPoll = [&driver, cond, fn, nPatienceMs, dwStart, pPoll]() {
        if (cond()) {
            fn();
            return;
        }
        if (GetTickCount() - dwStart > (DWORD)nPatienceMs) {
            ADD_FAILURE() << "the awaited state did not come within " << nPatienceMs << " ms";
            JobProgress.jobState = JobIdle;
            EnumThreadWindows(GetCurrentThreadId(), EndThreadDialog, 0);
            return;
        }
        std::shared_ptr<std::function<void()>> pAgain = pPoll;
        driver.After(20, [pAgain]() { (*pAgain)(); });
    };
    std::shared_ptr<std::function<void()>> pFirst = pPoll;
    driver.After(20, [pFirst]() { (*pFirst)(); });
}

void JobDialogTest::SetUp()
{
    EngineJobTest::SetUp();
    m_settings.reset(new ScopedKeyRemoval(HKEY_CURRENT_USER, "Software\\Vostel Software\\Lettercast"));
}

void JobDialogTest::TearDown()
{
    if (m_pInspector) {
        m_pInspector->Release();
        m_pInspector = NULL;
    }
    EngineJobTest::TearDown();
    m_settings.reset();
}

void JobDialogTest::ComposeInWindow(const char* pszSubject, const char* pszBody)
{
    if (gpApplication == NULL)
        StartHost();
    StandinComposedMail mail = {};
    mail.pszSubject = pszSubject;
    mail.pszBody = pszBody;
    mail.nBodyFormat = 1;
    ASSERT_EQ(StandinComposeMail(gpApplication, &mail, &m_pMail, &m_pInspector), S_OK);
    IOleWindow* pWindow = NULL;
    ASSERT_EQ(m_pInspector->QueryInterface(IID_IOleWindow, (void**)&pWindow), S_OK);
    pWindow->GetWindow(&m_hCompose);
    pWindow->Release();
    ASSERT_TRUE(IsWindow(m_hCompose));
}

INT_PTR JobDialogTest::OpenMainDialog(SendJob* pJob, HWND hOwner)
{
    return DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), hOwner, MainDialog, (LPARAM)pJob);
}

int JobDialogTest::InspectorCount() const
{
    ScopedVariant inspectors, count;
    DispGetProperty(gpApplication, L"Inspectors", &inspectors);
    DispGetProperty(V_DISPATCH(&inspectors.Get()), L"Count", &count);
    return V_I4(&count.Get());
}

bool JobDialogTest::MessageKept() const
{
    char szPath[MAX_PATH];
    return StandinItemPath(m_pMail, szPath, sizeof(szPath)) && FileExists(szPath);
}

std::string JobDialogTest::SavedOption(const char* pszName) const
{
    std::string data;
    DWORD dwType = 0;
    if (!ReadRegString(HKEY_CURRENT_USER, kszOptionsKey, pszName, &data, &dwType))
        return std::string();
    return data.c_str();
}

std::string JobDialogTest::LastLogLines(int nLines) const
{
    std::string log;
    for (char c : CurrentLog())
        if (c != '\r')
            log += c;
    size_t pos = log.size();
    if (pos > 0 && log[pos - 1] == '\n')
        --pos;
    for (int i = 0; i < nLines && pos != std::string::npos && pos > 0; ++i)
        pos = log.rfind('\n', pos - 1);
    return pos == std::string::npos ? log : log.substr(pos + 1);
}
