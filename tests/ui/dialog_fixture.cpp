#include "tests/ui/dialog_fixture.h"

#include <stdio.h>

#include "resources/resource.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "tests/support/hhspy.h"
#include "ui/help.h"
#include "ui/logs_dialog.h"
#include "ui/options_dialog.h"

const char kOptionsTitle[] = "Lettercast 4.3 Options";
const char kLogsTitle[] = "Lettercast Logs";
const char kOwnerTitle[] = "Test Owner";

static const char kszSettingsKey[] = "Software\\Vostel Software\\Lettercast";
static const char kszSpyClass[] = "LettercastTestViewer";

DialogTest::DialogTest() : m_folder("lcui"), m_settings(HKEY_CURRENT_USER, kszSettingsKey)
{
    ghInstance = GetModuleHandleA(NULL);
    JobOptions = BuiltInJobOptions();
    JobOptions.Pause = 5;
    JobOptions.DoSendRecv = 0;
    JobOptions.SendRecvCount = 7;
    JobOptions.SaveOrig = 1;

    snprintf(gszJobHistoryPath, sizeof(gszJobHistoryPath), "%s", m_folder.File("JobHistory.txt").c_str());
    snprintf(gszCurrentJobPath, sizeof(gszCurrentJobPath), "%s", m_folder.File("CurrentJob.txt").c_str());
    snprintf(gszSentListPath, sizeof(gszSentListPath), "%s", m_folder.File("tosent.txt").c_str());

    snprintf(gszDllDir, sizeof(gszDllDir), "%s", ProductDir().c_str());
    ResetHelpBinding();
    m_helpLocation.reset(new ScopedRegValue(HKEY_CLASSES_ROOT, gszHtmlHelpClsidKey, NULL, REG_SZ,
                                            TestProgramDir() + "hhspy.dll"));

    m_viewerRecord = m_folder.File("viewer.txt");
    SetEnvironmentVariableA("LC_VIEWER_RECORD", m_viewerRecord.c_str());

    m_hOwner = CreateWindowA("STATIC", kOwnerTitle, WS_POPUP | WS_VISIBLE, 10, 10, 100, 50, NULL, NULL, NULL, NULL);
    EXPECT_NE(m_hOwner, nullptr);
}

DialogTest::~DialogTest()
{
    DestroyWindow(m_hOwner);
    // Values go back before the keys that may hold them are removed.
    m_values.clear();
    m_keys.clear();
}

INT_PTR DialogTest::OpenOptions()
{
    return DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_OPTIONS), m_hOwner, OptionsDialog, 0);
}

INT_PTR DialogTest::OpenLogs()
{
    return DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_LOGS), m_hOwner, LogsDialog, 0);
}

void DialogTest::ViewWithSpy(const char* pszExtensionOrScheme)
{
    std::string command = "\"" + TestProgramDir() + "viewer_spy.exe\" \"%1\"";
    std::string root = pszExtensionOrScheme;
    if (root[0] == '.') {
        m_keys.emplace_back(new ScopedKeyRemoval(HKEY_CLASSES_ROOT, kszSpyClass));
        m_values.emplace_back(new ScopedRegValue(HKEY_CLASSES_ROOT, root, NULL, REG_SZ, kszSpyClass));
        root = kszSpyClass;
    }
    m_values.emplace_back(new ScopedRegValue(HKEY_CLASSES_ROOT, root + "\\shell\\open\\command", NULL, REG_SZ, command));
}

bool DialogTest::WaitForViewer(ViewerRecord* pRecord)
{
    DWORD dwStart = GetTickCount();
    std::string text;
    for (;;) {
        text = FileExists(m_viewerRecord) ? ReadWholeFile(m_viewerRecord) : std::string();
        size_t nFirst = text.find('\n');
        size_t nSecond = nFirst == std::string::npos ? nFirst : text.find('\n', nFirst + 1);
        if (nSecond != std::string::npos) {
            pRecord->commandLine = text.substr(0, nFirst);
            pRecord->folder = text.substr(nFirst + 1, nSecond - nFirst - 1);
            pRecord->nShow = atoi(text.c_str() + nSecond + 1);
            return true;
        }
        if (GetTickCount() - dwStart > 10000) {
            ADD_FAILURE() << "the viewer left no record; read \"" << text << "\"";
            return false;
        }
        Sleep(20);
    }
}

std::vector<std::string> DialogTest::HelpKeywords(std::vector<HWND>* pCallers)
{
    std::vector<std::string> keywords;
    SpyCalls calls;
    for (int i = 0; i < calls.Count(); ++i) {
        if (!calls[i].bHasLink)
            continue;
        keywords.push_back(calls[i].szKeywords);
        if (pCallers)
            pCallers->push_back(calls[i].hWndCaller);
    }
    return keywords;
}

std::string DialogTest::StoredOption(const char* pszName)
{
    std::string data;
    if (!ReadRegString(HKEY_CURRENT_USER, kszOptionsKey, pszName, &data, NULL))
        return std::string();
    return std::string(data.c_str());
}

void DialogTest::CreateLogs()
{
    for (const char* pszPath : { gszJobHistoryPath, gszCurrentJobPath, gszSentListPath }) {
        FILE* pFile = fopen(pszPath, "w");
        ASSERT_NE(pFile, nullptr) << pszPath;
        fputs("a line\n", pFile);
        fclose(pFile);
    }
}
