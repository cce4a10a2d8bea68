#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "settings/data_paths.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/registry_fixtures.h"
#include "tests/support/test_files.h"

namespace {

// A copy of the add-in's DLL loaded from a folder the test chooses. Its own
// entry point sets up its own copy of the paths; the test then runs the
// library's InitDataPaths on it, so the strings come from the DLL's table.
class ChosenModule {
public:
    ChosenModule(const std::string& folder, const std::string& fileName)
    {
        CreateDirectoryA(folder.c_str(), NULL);
        m_path = folder + "\\" + fileName;
        EXPECT_TRUE(CopyTo(ProductDir() + "Pigeonflight_ATL.dll", m_path));
        m_hModule = LoadLibraryA(m_path.c_str());
        EXPECT_NE(m_hModule, nullptr) << m_path;
    }
    ~ChosenModule()
    {
        if (m_hModule)
            FreeLibrary(m_hModule);
    }
    HINSTANCE Handle() const { return m_hModule; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    HINSTANCE m_hModule;
};

class DataPathsTest : public testing::Test {
protected:
    DataPathsTest() : m_settings(HKEY_CURRENT_USER, "Software\\Vostel Software\\Lettercast")
    {
        JobOptions = BuiltInJobOptions();
        m_appsDir = m_root.File("Apps");
        CreateDirectoryA(m_appsDir.c_str(), NULL);
        m_dllDir = m_appsDir + "\\Addin";
        m_roaming = m_root.File("Roaming");
        CreateDirectoryA(m_roaming.c_str(), NULL);
    }

    TempFolder m_root;
    ScopedKeyRemoval m_settings;
    std::string m_appsDir, m_dllDir, m_roaming;
};

TEST_F(DataPathsTest, FoldersAndLogPathsForADllInAChosenFolder)
{
    ScopedAppDataFolder appData(m_roaming);
    ChosenModule module(m_dllDir, "addin.dll");
    std::string before = CurrentDirectory();
    MessageBoxRecorder boxes;

    EXPECT_EQ(InitDataPaths(module.Handle()), 1);

    EXPECT_EQ(ghInstance, module.Handle());
    EXPECT_EQ(std::string(gszDllDir), m_dllDir + "\\");
    EXPECT_EQ(std::string(gszSentListPath), m_roaming + "\\Lettercast\\tosent.txt");
    EXPECT_EQ(std::string(gszJobHistoryPath), m_roaming + "\\Lettercast\\JobHistory.txt");
    EXPECT_EQ(std::string(gszCurrentJobPath), m_roaming + "\\Lettercast\\CurrentJob.txt");
    EXPECT_TRUE(FolderExists(m_roaming + "\\Lettercast"));
    EXPECT_EQ(CurrentDirectory(), before);
    EXPECT_TRUE(boxes.Boxes().empty());
    // The options were loaded with defaults built from the DLL folder.
    EXPECT_EQ(std::string(JobOptions.ToList), m_dllDir + "\\SampleTo.txt");
    EXPECT_EQ(std::string(JobOptions.LastToFolder), m_dllDir + "\\");
}

TEST_F(DataPathsTest, AnExistingDataFolderIsLeftAlone)
{
    ScopedAppDataFolder appData(m_roaming);
    std::string dataFolder = m_roaming + "\\Lettercast";
    CreateDirectoryA(dataFolder.c_str(), NULL);
    FILE* f = fopen((dataFolder + "\\JobHistory.txt").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("earlier jobs", f);
    fclose(f);
    ChosenModule module(m_dllDir, "addin.dll");

    EXPECT_EQ(InitDataPaths(module.Handle()), 1);
    EXPECT_EQ(ReadWholeFile(dataFolder + "\\JobHistory.txt"), "earlier jobs");
}

TEST_F(DataPathsTest, ShortPathYieldsTheLongFormOfTheFolder)
{
    ScopedAppDataFolder appData(m_roaming);
    std::string longDir = m_appsDir + "\\A Rather Long Folder Name";
    CreateDirectoryA(longDir.c_str(), NULL);
    CopyTo(ProductDir() + "Pigeonflight_ATL.dll", longDir + "\\addin.dll");
    char szShort[MAX_PATH];
    ASSERT_GT(GetShortPathNameA((longDir + "\\addin.dll").c_str(), szShort, MAX_PATH), 0u);
    ASSERT_EQ(std::string(szShort).find("A Rather Long Folder Name"), std::string::npos) << szShort;
    HINSTANCE hModule = LoadLibraryA(szShort);
    ASSERT_NE(hModule, nullptr);

    EXPECT_EQ(InitDataPaths(hModule), 1);
    EXPECT_EQ(std::string(gszDllDir), longDir + "\\");
    FreeLibrary(hModule);
}

TEST_F(DataPathsTest, LogsGoToTheDllFolderWithoutAnApplicationDataFolder)
{
    ScopedAppDataFolder appData(m_root.File("NoSuchFolder"));
    MessageBoxRecorder boxes;
    ChosenModule module(m_dllDir, "addin.dll");   // its entry point shows the first box

    EXPECT_EQ(InitDataPaths(module.Handle()), 1);

    ASSERT_EQ(boxes.Boxes().size(), 2u);
    const RecordedBox& box = boxes.Boxes()[1];
    EXPECT_EQ(box.text, "Failed to find application data directory.");
    EXPECT_EQ(box.caption, "Lettercast");
    EXPECT_EQ(box.uStyle, (UINT)(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(box.hWndOwner, GetDesktopWindow());
    EXPECT_EQ(std::string(gszSentListPath), m_dllDir + "\\Lettercast\\tosent.txt");
    EXPECT_EQ(std::string(gszCurrentJobPath), m_dllDir + "\\Lettercast\\CurrentJob.txt");
    EXPECT_TRUE(FolderExists(m_dllDir + "\\Lettercast"));
}

TEST_F(DataPathsTest, ADataFolderThatCannotBeMadeDoesNotStopLoading)
{
    ScopedAppDataFolder appData(m_roaming);
    FILE* f = fopen((m_roaming + "\\Lettercast").c_str(), "wb");   // a file where the folder should be
    ASSERT_NE(f, nullptr);
    fclose(f);
    ChosenModule module(m_dllDir, "addin.dll");
    MessageBoxRecorder boxes;

    EXPECT_EQ(InitDataPaths(module.Handle()), 1);
    EXPECT_EQ(std::string(gszJobHistoryPath), m_roaming + "\\Lettercast\\JobHistory.txt");
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(DataPathsTest, LogPathsTooLongForTheirBuffersAreLeftEmpty)
{
    // A base folder of 235 characters: "\Lettercast\tosent.txt" still fits in
    // 259, the two longer file names do not.
    std::string base = m_root.Path();
    while (base.size() < 235) {
        size_t cchPart = std::min<size_t>(100, 235 - base.size() - 1);
        base += "\\" + std::string(cchPart, 'b');
        CreateDirectoryA(base.c_str(), NULL);
    }
    ASSERT_EQ(base.size(), 235u);
    ASSERT_TRUE(FolderExists(base));
    ScopedAppDataFolder appData(base);
    ChosenModule module(m_dllDir, "addin.dll");

    EXPECT_EQ(InitDataPaths(module.Handle()), 1);
    EXPECT_EQ(std::string(gszSentListPath), base + "\\Lettercast\\tosent.txt");
    EXPECT_STREQ(gszJobHistoryPath, "");
    EXPECT_STREQ(gszCurrentJobPath, "");
}

}  // namespace
