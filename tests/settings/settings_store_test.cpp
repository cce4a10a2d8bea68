#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "tests/support/registry_fixtures.h"

namespace {

class SettingsStoreTest : public testing::Test {
protected:
    SettingsStoreTest() : m_productKey(HKEY_CURRENT_USER, "Software\\Vostel Software\\Lettercast")
    {
        JobOptions = BuiltInJobOptions();
        strcpy(gszDllDir, "C:\\Apps\\Addin\\");
    }

    void Store(const char* pszName, const std::string& text)
    {
        ASSERT_EQ(WriteString(gszOptionsSection, pszName, text.c_str()), 1);
    }

    ScopedKeyRemoval m_productKey;
};

struct StoredValue {
    std::string name;
    DWORD dwType;
    std::string data;   // as stored, terminator included
};

std::vector<StoredValue> OptionValues()
{
    std::vector<StoredValue> values;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kszOptionsKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        char szName[256];
        BYTE data[1024];
        DWORD cchName = sizeof(szName), cbData = sizeof(data), dwType = 0;
        if (RegEnumValueA(hKey, i, szName, &cchName, NULL, &dwType, data, &cbData) != ERROR_SUCCESS)
            break;
        values.push_back({ szName, dwType, std::string((char*)data, cbData) });
    }
    RegCloseKey(hKey);
    return values;
}

TEST_F(SettingsStoreTest, DefaultsWithNoKey)
{
    LoadOptions();
    EXPECT_STREQ(JobOptions.ToList, "C:\\Apps\\Addin\\SampleTo.txt");
    EXPECT_STREQ(JobOptions.LastToFolder, "C:\\Apps\\Addin\\");
    EXPECT_EQ(JobOptions.Pause, 0);
    EXPECT_EQ(JobOptions.SaveOrig, 1);
    EXPECT_EQ(JobOptions.DoSendRecv, 0);
    EXPECT_EQ(JobOptions.SendRecvCount, 100);
    EXPECT_EQ(JobOptions.PerMinute, 0);
    EXPECT_EQ(JobOptions.PerDay, 0);
    EXPECT_EQ(JobOptions.PauseVariation, 0);
}

TEST_F(SettingsStoreTest, SaveWritesEveryValueAsTextWithItsTerminator)
{
    strcpy(JobOptions.ToList, "D:\\Lists\\club.csv");
    strcpy(JobOptions.LastToFolder, "D:\\Lists\\");
    // A workbook's sheet in Greek, which no ANSI code page here holds.
    const char kszSheet[] = "\xce\xa0\xce\xb5\xce\xbb\xce\xac\xcf\x84\xce\xb5\xcf\x82 2026";
    strcpy(JobOptions.ToSheet, kszSheet);
    JobOptions.Pause = 15;
    JobOptions.SaveOrig = 0;
    JobOptions.DoSendRecv = 1;
    JobOptions.SendRecvCount = -3;   // saving applies no ranges
    JobOptions.PerMinute = 30;
    JobOptions.PerDay = 10000;
    JobOptions.PauseVariation = 2;
    EXPECT_EQ(SaveOptions(), 1);

    std::vector<StoredValue> values = OptionValues();
    ASSERT_EQ(values.size(), 10u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        { "ToList", "D:\\Lists\\club.csv" }, { "LastToFolder", "D:\\Lists\\" }, { "Pause", "15" },
        { "SaveOrig", "0" }, { "DoSendRecv", "1" }, { "SendRecvCount", "-3" },
        { "PerMinute", "30" }, { "PerDay", "10000" }, { "PauseVariation", "2" },
    };
    for (const auto& want : expected) {
        bool bFound = false;
        for (const StoredValue& value : values) {
            if (value.name != want.first)
                continue;
            bFound = true;
            EXPECT_EQ(value.dwType, (DWORD)REG_SZ) << value.name;
            EXPECT_EQ(value.data, want.second + std::string(1, '\0')) << value.name;
        }
        EXPECT_TRUE(bFound) << want.first;
    }
    // The sheet is kept as Unicode and read back letter for letter.
    JobOptions.ToSheet[0] = '\0';
    LoadOptions();
    EXPECT_STREQ(JobOptions.ToSheet, kszSheet);
}

TEST_F(SettingsStoreTest, CreatedKeysCarryTheirClass)
{
    SaveOptions();
    HKEY hKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kszOptionsKey, 0, KEY_READ, &hKey), ERROR_SUCCESS);
    char szClass[64] = "";
    DWORD cchClass = sizeof(szClass);
    RegQueryInfoKeyA(hKey, szClass, &cchClass, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    RegCloseKey(hKey);
    EXPECT_STREQ(szClass, "Application Per-User Data");
}

TEST_F(SettingsStoreTest, SavedOptionsLoadBack)
{
    strcpy(JobOptions.ToList, "E:\\a b\\list.txt");
    strcpy(JobOptions.LastToFolder, "E:\\a b\\");
    JobOptions.Pause = 9999;
    JobOptions.SaveOrig = 0;
    JobOptions.DoSendRecv = 1;
    JobOptions.SendRecvCount = 1;
    JobOptions.PerMinute = 2;
    JobOptions.PerDay = 1000000;
    JobOptions.PauseVariation = 9999;
    SaveOptions();
    JobOptionsRecord saved = JobOptions;

    JobOptions = BuiltInJobOptions();
    LoadOptions();
    EXPECT_STREQ(JobOptions.ToList, saved.ToList);
    EXPECT_STREQ(JobOptions.LastToFolder, saved.LastToFolder);
    EXPECT_EQ(JobOptions.Pause, saved.Pause);
    EXPECT_EQ(JobOptions.SaveOrig, saved.SaveOrig);
    EXPECT_EQ(JobOptions.DoSendRecv, saved.DoSendRecv);
    EXPECT_EQ(JobOptions.SendRecvCount, saved.SendRecvCount);
    EXPECT_EQ(JobOptions.PerMinute, saved.PerMinute);
    EXPECT_EQ(JobOptions.PerDay, saved.PerDay);
    EXPECT_EQ(JobOptions.PauseVariation, saved.PauseVariation);
}

TEST_F(SettingsStoreTest, RangesAreAppliedAtLoad)
{
    // The limits: 0 (off) to their maximum, whatever was stored.
    struct Case {
        const char* pszPause; int nPause; const char* pszCount; int nCount;
        const char* pszLimit; int nPerMinute; int nPerDay; int nVariation;
    };
    const Case cases[] = {
        { "-5", 0, "0", 1, "-1", 0, 0, 0 }, { "12000", 9999, "-3", 1, "10000", 9999, 10000, 9999 },
        { "9999", 9999, "10000", 9999, "1000001", 9999, 1000000, 9999 },
        { "0", 0, "1", 1, "0", 0, 0, 0 }, { "99999999999", 9999, "-99999999999", 1, "30", 30, 30, 30 },
    };
    for (const Case& c : cases) {
        Store("Pause", c.pszPause);
        Store("SendRecvCount", c.pszCount);
        Store("PerMinute", c.pszLimit);
        Store("PerDay", c.pszLimit);
        Store("PauseVariation", c.pszLimit);
        JobOptions = BuiltInJobOptions();
        LoadOptions();
        EXPECT_EQ(JobOptions.Pause, c.nPause) << c.pszPause;
        EXPECT_EQ(JobOptions.SendRecvCount, c.nCount) << c.pszCount;
        EXPECT_EQ(JobOptions.PerMinute, c.nPerMinute) << c.pszLimit;
        EXPECT_EQ(JobOptions.PerDay, c.nPerDay) << c.pszLimit;
        EXPECT_EQ(JobOptions.PauseVariation, c.nVariation) << c.pszLimit;
    }
}

TEST_F(SettingsStoreTest, SaveOrigAndDoSendRecvLoadUnchanged)
{
    Store("SaveOrig", "7");
    Store("DoSendRecv", "7");
    LoadOptions();
    EXPECT_EQ(JobOptions.SaveOrig, 7);
    EXPECT_EQ(JobOptions.DoSendRecv, 7);
}

TEST_F(SettingsStoreTest, NumbersReadAsLeadingDecimalText)
{
    Store("Pause", "   42");
    Store("SendRecvCount", "42abc");
    Store("SaveOrig", "+3");
    LoadOptions();
    EXPECT_EQ(JobOptions.Pause, 42);
    EXPECT_EQ(JobOptions.SendRecvCount, 42);
    EXPECT_EQ(JobOptions.SaveOrig, 3);
}

TEST_F(SettingsStoreTest, TextWithoutANumberKeepsTheCurrentValue)
{
    JobOptions.Pause = 5;
    JobOptions.SendRecvCount = 25;
    Store("Pause", "abc");
    Store("SendRecvCount", "");
    LoadOptions();
    EXPECT_EQ(JobOptions.Pause, 5);
    EXPECT_EQ(JobOptions.SendRecvCount, 25);
}

TEST_F(SettingsStoreTest, ToListTooLongForItsCapacityLoadsTheDefault)
{
    Store("ToList", "C:\\" + std::string(256, 'x'));   // 259 characters
    LoadOptions();
    EXPECT_STREQ(JobOptions.ToList, "C:\\Apps\\Addin\\SampleTo.txt");

    std::string fits = "C:\\" + std::string(255, 'y');   // 258 characters
    Store("ToList", fits);
    LoadOptions();
    EXPECT_EQ(std::string(JobOptions.ToList), fits);
}

TEST_F(SettingsStoreTest, LastToFolderKeepsItsValueWhenTheDllFolderDoesNotFit)
{
    std::string dir = "C:\\" + std::string(255, 'd') + "\\";   // 259 characters
    strcpy(gszDllDir, dir.c_str());
    LoadOptions();
    EXPECT_STREQ(JobOptions.LastToFolder, "c:\\");
    // The ToList default does not fit either.
    EXPECT_STREQ(JobOptions.ToList, "");
}

TEST_F(SettingsStoreTest, ReadStringLeavesTheBufferWhenNothingFits)
{
    Store("Long", "0123456789");
    char szOut[16] = "unchanged";
    EXPECT_EQ(ReadString(gszOptionsSection, "Long", szOut, "abcdef", 5), 0);
    EXPECT_STREQ(szOut, "unchanged");

    EXPECT_EQ(ReadString(gszOptionsSection, "Missing", szOut, "abcd", 5), 1);
    EXPECT_STREQ(szOut, "abcd");
}

TEST_F(SettingsStoreTest, StoredTextWithoutTerminatorIsTerminated)
{
    HKEY hKey;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kszOptionsKey, 0, NULL, 0, KEY_WRITE, NULL, &hKey, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(hKey, "Bare", 0, REG_SZ, (const BYTE*)"abc", 3);
    RegSetValueExA(hKey, "Full", 0, REG_SZ, (const BYTE*)"abcde", 5);
    RegCloseKey(hKey);

    char szOut[16];
    memset(szOut, 'x', sizeof(szOut));
    EXPECT_EQ(ReadString(gszOptionsSection, "Bare", szOut, "dflt", 10), 1);
    EXPECT_STREQ(szOut, "abc");

    // Five bytes with no room for a terminator in a capacity of five: the default.
    EXPECT_EQ(ReadString(gszOptionsSection, "Full", szOut, "dflt", 5), 1);
    EXPECT_STREQ(szOut, "dflt");
}

TEST_F(SettingsStoreTest, WriteFailsForAKeyPathTooLong)
{
    std::string section(300, 's');
    EXPECT_EQ(WriteString(section.c_str(), "Value", "text"), 0);
    EXPECT_EQ(WriteNumber(section.c_str(), "Value", 1), 0);
    char szOut[8] = "";
    EXPECT_EQ(ReadString(section.c_str(), "Value", szOut, "d", 8), 1);
    EXPECT_STREQ(szOut, "d");
}

}  // namespace
