#include "tests/engine/engine_fixture.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <regex>

#include "addin/host_state.h"
#include "engine/host_dispatch.h"
#include "engine/job_progress.h"
#include "engine/mapi_defs.h"
#include "engine/send_job.h"
#include "mailing/list_reader.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "standin/common/fault_plan.h"
#include "standin/common/mapi_blocks.h"

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

// The text cut into lines, each with its own line end (the last may have none).
std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

bool IsAddressChar(char c)
{
    return isalnum((unsigned char)c) || strchr("._%+-@", c) != NULL;
}

// The address as a whole word of the record, not as part of a longer one.
bool RecordHolds(const std::string& record, const std::string& address)
{
    for (size_t pos = record.find(address); pos != std::string::npos; pos = record.find(address, pos + 1)) {
        bool bStart = pos == 0 || !IsAddressChar(record[pos - 1]);
        size_t after = pos + address.size();
        bool bEnd = after >= record.size() || !IsAddressChar(record[after]);
        if (bStart && bEnd)
            return true;
    }
    return false;
}

// The block WriteJobEnd leaves as the very end of a log.
void ExpectEndsWithEndBlock(const std::string& log, const char* pszWhich, bool bCompleted, int nSent)
{
    std::string result = bCompleted ? "Completed Successfully" : "Incomplete \\(See Current Job Log\\)";
    std::regex block("\tResult: " + result + "\r\n\tE-Mails Sent: " + std::to_string(nSent) +
                     "\r\nJob Ended : \\(\\d{1,2}/\\d{1,2}/\\d{4} \\d{1,2}:\\d{2}\\.\\d{2}\\)\r\n$");
    EXPECT_TRUE(std::regex_search(log, block)) << pszWhich << " lacks its end block (" << result << ", " << nSent
                                               << " sent):\n" << log;
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size()))
        ++n;
    return n;
}

}  // namespace

ExpectedBox Question(const std::string& text)
{
    ExpectedBox box(text);
    box.uStyle = MB_ICONQUESTION | MB_YESNO;
    return box;
}

ExpectedBox ListCheckQuestion(const std::string& findings, bool bRepeatedAddresses)
{
    ExpectedBox box("The mailing list was checked before sending:\n\n" + findings + "\n\n" +
                    (bRepeatedAddresses ? "Send one copy to every record (Yes), only to the first record of each "
                                          "address (No), or nothing (Cancel)?"
                                        : "Send anyway?"));
    box.uStyle = MB_ICONQUESTION | (bRepeatedAddresses ? MB_YESNOCANCEL : MB_YESNO);
    return box;
}

ExpectedBox Notice(const std::string& text)
{
    ExpectedBox box(text);
    box.uStyle = MB_ICONINFORMATION | MB_OK;
    return box;
}

ExpectedBox FromDesktop(const std::string& text)
{
    ExpectedBox box(text);
    box.bDesktopOwner = true;
    return box;
}

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
    CopyPath(gszSentTimesPath, m_data.File("SentTimes.dat"));
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
    if (pszMapiFolder != NULL) {
        std::string mapiPath = ProductDir() + pszMapiFolder + "\\olmapi32.dll";
        m_hMapi = LoadLibraryA(mapiPath.c_str());
        ASSERT_TRUE(m_hMapi != NULL) << mapiPath;
    }
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

void EngineJobTest::ComposeHtml(const char* pszSubject, const char* pszBody, const char* pszHtml)
{
    StandinComposedMail mail = {};
    mail.pszSubject = pszSubject;
    mail.pszBody = pszBody;
    mail.pszHtml = pszHtml;
    mail.nBodyFormat = 2;
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
    m_listContent = content;
}

void EngineJobTest::RunJob()
{
    m_bLogBefore = LogExists();
    m_logBefore = m_bLogBefore ? CurrentLog() : std::string();
    m_bSentListBefore = FileExists(m_data.File("tosent.txt"));
    m_sentListBefore = m_bSentListBefore ? SentList() : std::string();
    m_nBoxesBefore = m_boxes->Boxes().size();
    m_nDeliveredBefore = DeliveredFiles().size();
    m_historyBefore = ReadWholeFile(m_data.File("JobHistory.txt"));
    m_nJobDone = 0;
    m_wJobDone = 99;
    m_lJobDone = 99;
    m_nLiveObjectsBefore = StandinLiveObjects();
    m_nLiveBlocksBefore = LiveMapiBlocks();
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
    m_nLiveObjectsAfter = StandinLiveObjects();
    m_nLiveBlocksAfter = LiveMapiBlocks();
    // Any window of the thread, or none: only the dialog may hear of the end.
    MSG msg;
    while (PeekMessageA(&msg, NULL, WM_JOBDONE, WM_JOBDONE, PM_REMOVE)) {
        EXPECT_EQ(msg.hwnd, m_hDialog) << "WM_JOBDONE went elsewhere";
        ++m_nJobDone;
        m_wJobDone = msg.wParam;
        m_lJobDone = msg.lParam;
    }
}

void EngineJobTest::ExpectJobEnded(const JobEnd& end)
{
    // What the user saw.
    const std::vector<RecordedBox>& boxes = m_boxes->Boxes();
    std::vector<std::string> seen, expected;
    for (size_t i = m_nBoxesBefore; i < boxes.size(); ++i)
        seen.push_back(boxes[i].text);
    for (const ExpectedBox& box : end.boxes)
        expected.push_back(box.text);
    EXPECT_EQ(seen, expected);
    for (size_t i = 0; i < end.boxes.size() && m_nBoxesBefore + i < boxes.size(); ++i) {
        const RecordedBox& box = boxes[m_nBoxesBefore + i];
        const ExpectedBox& want = end.boxes[i];
        EXPECT_EQ(box.caption, "Lettercast") << want.text;
        EXPECT_EQ(box.uStyle & (MB_ICONMASK | MB_TYPEMASK), want.uStyle) << want.text;
        EXPECT_EQ(box.hWndOwner, want.bDesktopOwner ? GetDesktopWindow() : m_hDialog) << want.text;
    }

    // How the dialog heard of the end.
    EXPECT_EQ(m_nJobDone, 1);
    EXPECT_EQ((int)m_wJobDone, end.nDone);
    EXPECT_EQ(m_lJobDone, 0);
    EXPECT_EQ(JobProgress.sentCount, end.nSent);

    // Whatever the job obtained, it gave back.
    EXPECT_EQ(m_nLiveObjectsAfter, m_nLiveObjectsBefore) << "stand-in objects left alive by the job";
    EXPECT_EQ(m_nLiveBlocksAfter, m_nLiveBlocksBefore + end.nBlocksLeft) << "MAPI blocks left by the job";

    // Every log the job opened has its end block, and only those exist; a
    // job that opened none left the last job's record as it was, and the
    // closing box has its reason.
    bool bCompleted = end.nDone == 1;
    EXPECT_EQ(JobProgress.logsOpened, end.logs >= CurrentLogOnly);
    if (end.logs == NoLog) {
        EXPECT_EQ(LogExists(), m_bLogBefore);
        EXPECT_EQ(LogExists() ? CurrentLog() : std::string(), m_logBefore) << "the last job's log changed";
        EXPECT_EQ(FileExists(m_data.File("tosent.txt")), m_bSentListBefore);
        EXPECT_EQ(m_bSentListBefore ? SentList() : std::string(), m_sentListBefore) << "the last sent list changed";
        EXPECT_STRNE(JobProgress.endReason, "") << "no reason for a job that ended before its logs";
    } else {
        EXPECT_TRUE(LogExists());
    }
    std::string log = end.logs >= CurrentLogOnly && LogExists() ? CurrentLog() : std::string();
    if (end.logs >= CurrentLogOnly) {
        EXPECT_EQ(log.find("Job Started: ("), 0u) << log;
        EXPECT_EQ(CountOf(log, "Job Started: ("), 1u);
        EXPECT_EQ(CountOf(log, "Job Ended : ("), 1u);
        ExpectEndsWithEndBlock(log, "CurrentJob.txt", bCompleted, end.nSent);
    }
    std::string history = History();
    if (end.logs >= CurrentLogAndHistory) {
        ASSERT_EQ(history.compare(0, m_historyBefore.size(), m_historyBefore), 0) << "the history was rewritten";
        std::string added = history.substr(m_historyBefore.size());
        EXPECT_EQ(added.find("Job Started: ("), 0u) << added;
        EXPECT_EQ(CountOf(added, "Job Started: ("), 1u);
        EXPECT_EQ(CountOf(added, "Job Ended : ("), 1u);
        EXPECT_EQ(added.find("Sent Successfully"), std::string::npos);
        ExpectEndsWithEndBlock(added, "JobHistory.txt", bCompleted, end.nSent);
    } else {
        EXPECT_EQ(history, m_historyBefore) << "a history the job did not open changed";
    }
    if (end.logs != NoLog) {
        EXPECT_EQ(FileExists(m_data.File("tosent.txt")), end.logs >= EveryLog);
    }

    // The recipients counted as sent, in order, from their log lines. Every
    // recipient the job worked on has one number, sent or not, on its
    // "Sending" line and on its result; the closing box counts the others.
    std::vector<std::string> counted;
    std::regex sentLine("^\\(\\d{1,2}:\\d{2}\\.\\d{2}\\) # (\\d+), To: (.*)\\. Sent Successfully\r\n$");
    std::regex notSentLine("^\\(\\d{1,2}:\\d{2}\\.\\d{2}\\) # (\\d+), To: (.*)\\. Not Sent: .*\r\n$");
    std::regex sendingLine("^\\(\\d{1,2}:\\d{2}\\.\\d{2}\\) # (\\d+), To: (.*)\\. Sending\r\n$");
    int nResults = 0, nNotSent = 0, nSending = 0;
    for (const std::string& line : SplitLines(log)) {
        std::smatch match;
        if (std::regex_match(line, match, sendingLine)) {
            EXPECT_EQ(std::stoi(match[1].str()), nResults + 1) << line;
            ++nSending;
            continue;
        }
        bool bSent = line.find("Sent Successfully") != std::string::npos;
        bool bNotSent = line.find(". Not Sent: ") != std::string::npos;
        if (!bSent && !bNotSent)
            continue;
        if (!std::regex_match(line, match, bSent ? sentLine : notSentLine)) {
            ADD_FAILURE() << "malformed line: " << line;
            continue;
        }
        EXPECT_EQ(std::stoi(match[1].str()), nResults + 1) << line;
        ++nResults;
        if (bSent)
            counted.push_back(match[2].str());
        else
            ++nNotSent;
    }
    EXPECT_EQ((int)counted.size(), end.nSent) << log;
    EXPECT_EQ(JobProgress.notSentCount, nNotSent) << log;
    // No copy waits in the outgoing queue, where a later flush would send it
    // uncounted: what was submitted went, or was taken back.
    for (const char* pszFolder : { "Outbox", "Drafts" }) {
        for (const std::string& text : ItemTexts(pszFolder))
            EXPECT_EQ(text.find("\r\nSubmitted: "), std::string::npos) << pszFolder << ":\n" << text;
    }

    // Those the stand-in delivered, in delivery order.
    std::vector<std::string> files = DeliveredFiles();
    std::vector<std::string> delivered;
    for (size_t i = m_nDeliveredBefore; i < files.size(); ++i) {
        DeliveredView view;
        EXPECT_TRUE(ReadDeliveredMessage(files[i].c_str(), &view)) << files[i];
        delivered.push_back(view.to);
        // Each copy names its one recipient and no one else.
        EXPECT_EQ(view.cc, "") << files[i];
        EXPECT_EQ(view.bcc, "") << files[i];
    }
    std::vector<std::string> countedAndDelivered;
    for (const std::string& address : counted) {
        if (std::find(end.notDelivered.begin(), end.notDelivered.end(), address) == end.notDelivered.end())
            countedAndDelivered.push_back(address);
    }
    EXPECT_EQ(delivered, countedAndDelivered);
    for (const std::string& address : end.notDelivered)
        EXPECT_NE(std::find(counted.begin(), counted.end(), address), counted.end()) << address << " was not counted";

    // The sent list: the header and the record of every counted recipient, as read.
    if (end.logs >= EveryLog) {
        std::vector<std::string> lines = SplitLines(m_listContent);
        std::string expectedList = lines.empty() ? std::string() : lines[0];
        std::vector<std::string> listed = end.alreadySent;
        listed.insert(listed.end(), counted.begin(), counted.end());
        // Each record once: two recipients who share an address are two records.
        std::vector<bool> used(lines.size(), false);
        for (const std::string& address : listed) {
            size_t nRecord = lines.empty() ? 0 : 1;
            while (nRecord < lines.size() && (used[nRecord] || !RecordHolds(lines[nRecord], address)))
                ++nRecord;
            if (nRecord >= lines.size()) {
                ADD_FAILURE() << address << " is in no record of the list";
                continue;
            }
            used[nRecord] = true;
            expectedList += lines[nRecord];
        }
        EXPECT_EQ(SentList(), expectedList);
    }
    EXPECT_EQ(JobProgress.alreadySentCount, (int)end.alreadySent.size());
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

namespace {

// The files of a store folder, which keeps them in block folders.
std::vector<std::string> FilesInBlocks(const std::string& folder, const char* pszPattern)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA block;
    HANDLE hBlocks = FindFirstFileA((folder + "\\*").c_str(), &block);
    if (hBlocks == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (!(block.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || block.cFileName[0] == '.')
            continue;
        std::string blockFolder = folder + "\\" + block.cFileName;
        WIN32_FIND_DATAA data;
        HANDLE hFind = FindFirstFileA((blockFolder + "\\" + pszPattern).c_str(), &data);
        if (hFind == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                files.push_back(blockFolder + "\\" + data.cFileName);
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    } while (FindNextFileA(hBlocks, &block));
    FindClose(hBlocks);
    // Block and file names are numbers of one width within a block.
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::vector<std::string> EngineJobTest::DeliveredFiles() const
{
    return FilesInBlocks(m_store.File("Delivered"), "*.eml");
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
    return (int)FilesInBlocks(m_store.File(pszFolder), "*").size();
}

std::vector<std::string> EngineJobTest::ItemTexts(const char* pszFolder) const
{
    // A folder keeps its items in block folders of a hundred by number.
    std::vector<std::string> names;
    std::vector<std::string> folders(1, m_store.File(pszFolder));
    for (size_t i = 0; i < folders.size(); ++i) {
        WIN32_FIND_DATAA data;
        HANDLE hFind = FindFirstFileA((folders[i] + "\\*").c_str(), &data);
        if (hFind == INVALID_HANDLE_VALUE)
            continue;
        do {
            std::string path = folders[i] + "\\" + data.cFileName;
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(path);
            else if (i == 0 && data.cFileName[0] != '.')
                folders.push_back(path);
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> texts;
    for (const std::string& name : names)
        texts.push_back(ReadWholeFile(name));
    return texts;
}
