#include "tests/engine/engine_fixture.h"

#include <algorithm>

#include "addin/host_state.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/mapi_defs.h"
#include "engine/send_job.h"
#include "mailing/list_reader.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "standin/common/fault_plan.h"

namespace {

const char kDialogClass[] = "LettercastTestJobDialog";

LRESULT CALLBACK JobDialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_TIMER) {
        KillTimer(hWnd, wParam);
        JobProgress.jobState = (int)(wParam - 1);   // timer ids are job state + 1
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

void CopyPath(char* pszOut, const std::string& path)
{
    ASSERT_LT(path.size(), (size_t)LC_PATH_CAPACITY);
    strcpy(pszOut, path.c_str());
}

}  // namespace

std::string NumberedList(int nRecipients)
{
    std::string list = "Name,E-Mail Address\r\n";
    for (int i = 1; i <= nRecipients; ++i)
        list += "Person " + std::to_string(i) + ",r" + std::to_string(i) + "@example.com\r\n";
    return list;
}

void EngineJobTest::SetUp()
{
    ghInstance = GetModuleHandleA(NULL);
    CopyPath(gszCurrentJobPath, m_data.File("CurrentJob.txt"));
    CopyPath(gszJobHistoryPath, m_data.File("JobHistory.txt"));
    CopyPath(gszSentListPath, m_data.File("tosent.txt"));
    JobOptions = BuiltInJobOptions();
    JobOptions.Pause = 0;
    JobOptions.DoSendRecv = 0;
    JobOptions.SendRecvCount = 100;
    SetFaultPlan("");

    WNDCLASSA wc = {};
    wc.lpfnWndProc = JobDialogProc;
    wc.hInstance = ghInstance;
    wc.lpszClassName = kDialogClass;
    RegisterClassA(&wc);
    m_hDialog = CreateWindowA(kDialogClass, "Lettercast", WS_OVERLAPPED, 0, 0, 100, 100, NULL, NULL, ghInstance, NULL);
    ASSERT_TRUE(m_hDialog != NULL);

    strcpy(m_options.szStoreDir, m_store.Path().c_str());
    m_options.bHtmlOk = true;
    m_boxes.reset(new MessageBoxRecorder());
}

void EngineJobTest::StartHost(const char* pszMapiFolder)
{
    std::string mapiPath = ProductDir() + pszMapiFolder + "\\olmapi32.dll";
    m_hMapi = LoadLibraryA(mapiPath.c_str());
    ASSERT_TRUE(m_hMapi != NULL) << mapiPath;
    ASSERT_EQ(CreateStandinOutlook(&m_options, &gpApplication), S_OK);

    ScopedVariant session, object;
    DispGetProperty(gpApplication, L"Session", &session);
    ASSERT_EQ(V_VT(&session.Get()), VT_DISPATCH);
    DispGetProperty(V_DISPATCH(&session.Get()), L"MAPIOBJECT", &object);
    gpMAPISession = (IMAPISession*)QueryVariantInterface(object.Get(), IID_IMAPISession);
    ASSERT_TRUE(gpMAPISession != NULL);
}

void EngineJobTest::Compose(const StandinComposedMail& mail)
{
    if (gpApplication == NULL)
        StartHost();
    ASSERT_EQ(StandinComposeMail(gpApplication, &mail, &m_pMail, NULL), S_OK);
}

void EngineJobTest::ComposePlain(const char* pszSubject, const char* pszBody)
{
    StandinComposedMail mail = {};
    mail.pszSubject = pszSubject;
    mail.pszBody = pszBody;
    mail.nBodyFormat = 1;
    Compose(mail);
}

void EngineJobTest::WriteList(const std::string& content, const char* pszName)
{
    std::string path = m_lists.File(pszName);
    FILE* pFile = fopen(path.c_str(), "wb");
    ASSERT_TRUE(pFile != NULL);
    fwrite(content.data(), 1, content.size(), pFile);
    fclose(pFile);
    CopyPath(JobOptions.ToList, path);
    DetectDelimiter();
}

void EngineJobTest::RunJob()
{
    JobProgress.jobState = JobRunning;
    JobProgress.sentCount = 0;
    JobProgress.percentDone = 0;
    JobProgress.progressPos = 0;
    JobProgress.dialogWnd = m_hDialog;
    {
        SendJob job(m_pMail);
        job.m_hWndOwner = m_hDialog;
        DWORD dwStart = GetTickCount();
        job.Run();
        m_dwElapsed = GetTickCount() - dwStart;
    }
    MSG msg;
    while (PeekMessageA(&msg, m_hDialog, WM_JOBDONE, WM_JOBDONE, PM_REMOVE)) {
        ++m_nJobDone;
        m_wJobDone = msg.wParam;
    }
}

void EngineJobTest::TearDown()
{
    m_boxes.reset();
    if (m_pMail)
        m_pMail->Release();
    if (gpMAPISession) {
        gpMAPISession->Release();
        gpMAPISession = NULL;
    }
    if (gpApplication) {
        gpApplication->Release();
        gpApplication = NULL;
    }
    if (m_hDialog)
        DestroyWindow(m_hDialog);
    SetFaultPlan("");
    if (m_hMapi)
        FreeLibrary(m_hMapi);
}

std::vector<std::string> EngineJobTest::DeliveredFiles() const
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA data;
    std::string folder = m_store.File("Delivered");
    HANDLE hFind = FindFirstFileA((folder + "\\*.eml").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return files;
    do {
        files.push_back(folder + "\\" + data.cFileName);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<DeliveredView> EngineJobTest::Delivered() const
{
    std::vector<DeliveredView> views;
    for (const std::string& file : DeliveredFiles()) {
        DeliveredView view;
        EXPECT_TRUE(ReadDeliveredMessage(file.c_str(), &view)) << file;
        views.push_back(view);
    }
    return views;
}

std::vector<std::string> EngineJobTest::BoxTexts() const
{
    std::vector<std::string> texts;
    for (const RecordedBox& box : m_boxes->Boxes())
        texts.push_back(box.text);
    return texts;
}

int EngineJobTest::ItemsIn(const char* pszFolder) const
{
    int n = 0;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((m_store.File(pszFolder) + "\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ++n;
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return n;
}
