#include <windows.h>
#include <htmlhelp.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "resources/resource.h"
#include "settings/data_paths.h"
#include "tests/support/hhspy.h"
#include "tests/support/registry_fixtures.h"
#include "tests/support/test_files.h"
#include "ui/help.h"

namespace {

std::string ClassOf(HWND hWnd)
{
    char sz[64] = "";
    GetClassNameA(hWnd, sz, sizeof(sz));
    return sz;
}

class HelpTest : public testing::Test {
protected:
    HelpTest()
    {
        ghInstance = GetModuleHandleA(NULL);
        ResetHelpBinding();
        strcpy(gszDllDir, ProductDir().c_str());
        SetEnvironmentVariableA("LC_TEST_DIR", TestProgramDir().c_str());
    }

    void RegisterLocation(DWORD dwType, const std::string& location)
    {
        m_location.reset();   // the earlier value goes back before the new one is set
        m_location.reset(new ScopedRegValue(HKEY_CLASSES_ROOT, gszHtmlHelpClsidKey, NULL, dwType, location));
    }

    std::unique_ptr<ScopedRegValue> m_location;
};

TEST_F(HelpTest, ShowHelpTopicOpensTheFileThenLooksUpTheKeyword)
{
    RegisterLocation(REG_EXPAND_SZ, "%LC_TEST_DIR%hhspy.dll");
    HWND hOwner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);

    EXPECT_EQ(ShowHelpTopic(hOwner, IDS_TOPIC_MAILING_LISTS), 1);

    SpyCalls calls;
    ASSERT_EQ(calls.Count(), 2);
    const HhSpyCall& display = calls[0];
    EXPECT_EQ(display.hWndCaller, hOwner);
    EXPECT_EQ(std::string(display.szFile), ProductDir() + "Lettercast.chm>mywin");
    EXPECT_EQ(display.uCommand, (UINT)HH_DISPLAY_TOPIC);
    EXPECT_EQ(display.dwData, 0u);
    ASSERT_NE(display.hWndResult, nullptr) << "the viewer did not open";
    EXPECT_EQ(ClassOf(display.hWndResult), "HH Parent");

    const HhSpyCall& lookup = calls[1];
    EXPECT_EQ(lookup.hWndCaller, hOwner);
    EXPECT_EQ(std::string(lookup.szFile), ProductDir() + "Lettercast.chm");
    EXPECT_EQ(lookup.uCommand, (UINT)HH_KEYWORD_LOOKUP);
    ASSERT_TRUE(lookup.bHasLink);
    // HH_AKLINK as HTML Help reads it: 32 bytes, 56 with 64-bit pointers.
    EXPECT_EQ(lookup.cbStruct, sizeof(void*) == 8 ? 56 : 32);
    EXPECT_EQ(lookup.fReserved, FALSE);
    EXPECT_STREQ(lookup.szKeywords, "mailing lists");
    EXPECT_TRUE(lookup.bUrlNull);
    EXPECT_TRUE(lookup.bMsgTextNull);
    EXPECT_TRUE(lookup.bMsgTitleNull);
    EXPECT_TRUE(lookup.bWindowNull);
    EXPECT_EQ(lookup.fIndexOnFail, TRUE);
    DestroyWindow(hOwner);
}

TEST_F(HelpTest, EachDialogTopicReachesTheLookUp)
{
    RegisterLocation(REG_SZ, TestProgramDir() + "hhspy.dll");
    EXPECT_EQ(ShowHelpTopic(NULL, IDS_TOPIC_OPTIONS), 1);
    EXPECT_EQ(ShowHelpTopic(NULL, IDS_TOPIC_JOB_LOGS), 1);
    EXPECT_EQ(ShowHelpTopic(NULL, IDS_TOPIC_PREVIEW), 1);
    SpyCalls calls;
    ASSERT_EQ(calls.Count(), 6);
    EXPECT_STREQ(calls[1].szKeywords, "options");
    EXPECT_STREQ(calls[3].szKeywords, "job logs");
    EXPECT_STREQ(calls[5].szKeywords, "preview");
}

TEST_F(HelpTest, NothingHappensWithoutADllFolder)
{
    RegisterLocation(REG_SZ, TestProgramDir() + "hhspy.dll");
    gszDllDir[0] = '\0';
    EXPECT_EQ(ShowHelpTopic(NULL, IDS_TOPIC_OPTIONS), 0);
    EXPECT_EQ(gHtmlHelp.hModule, nullptr);
    EXPECT_EQ(GetModuleHandleA("hhspy.dll"), nullptr);
}

TEST_F(HelpTest, EmptyOrUnloadableLocationFallsBackToTheSystemControl)
{
    const std::string locations[] = { "", TestProgramDir() + "no-such-control.ocx" };
    for (const std::string& location : locations) {
        RegisterLocation(REG_SZ, location);
        ResetHelpBinding();
        EXPECT_EQ(ShowHelpTopic(NULL, IDS_TOPIC_OPTIONS), 1);
        EXPECT_NE(gHtmlHelp.hModule, nullptr) << location;
        EXPECT_EQ(gHtmlHelp.hModule, GetModuleHandleA("hhctrl.ocx")) << location;
        EXPECT_FALSE(gHtmlHelp.bFailed);
    }
    EXPECT_EQ(GetModuleHandleA("hhspy.dll"), nullptr);
}

TEST_F(HelpTest, ExpansionTooLongForItsBufferFallsBack)
{
    SetEnvironmentVariableA("LC_LONG", std::string(300, 'x').c_str());
    RegisterLocation(REG_EXPAND_SZ, "%LC_LONG%\\hhspy.dll");
    EXPECT_EQ(ShowHelpTopic(NULL, IDS_TOPIC_OPTIONS), 1);
    EXPECT_EQ(gHtmlHelp.hModule, GetModuleHandleA("hhctrl.ocx"));
}

TEST_F(HelpTest, AFailedLoadIsNotRetried)
{
    RegisterLocation(REG_SZ, TestProgramDir() + "hhnoentry.dll");
    EXPECT_EQ(CallHtmlHelpA(&gHtmlHelp, NULL, "x.chm", HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_TRUE(gHtmlHelp.bFailed);
    HMODULE hNoEntry = gHtmlHelp.hModule;

    RegisterLocation(REG_SZ, TestProgramDir() + "hhspy.dll");
    EXPECT_EQ(ShowHelpTopic(NULL, IDS_TOPIC_OPTIONS), 1);
    EXPECT_EQ(GetModuleHandleA("hhspy.dll"), nullptr);
    EXPECT_EQ(gHtmlHelp.hModule, hNoEntry);
}

TEST_F(HelpTest, TheBindingIsMadeOnce)
{
    RegisterLocation(REG_SZ, TestProgramDir() + "hhspy.dll");
    EXPECT_EQ(ShowHelpTopic(NULL, IDS_TOPIC_OPTIONS), 1);
    HtmlHelpBinding first = gHtmlHelp;
    // A changed registration is not read again once the control is loaded.
    RegisterLocation(REG_SZ, "");
    EXPECT_EQ(ShowHelpTopic(NULL, IDS_TOPIC_JOB_LOGS), 1);
    EXPECT_EQ(gHtmlHelp.hModule, first.hModule);
    EXPECT_EQ(SpyCalls().Count(), 4);
}

}  // namespace
