// The registry-script processor on scripts of the tests' own, under a key of
// the current user that every test removes again.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/registry_script.h"
#include "tests/support/registry_fixtures.h"

namespace {

const char kTestKey[] = "Software\\LettercastScriptTest";

class RegistryScriptTest : public testing::Test {
protected:
    RegistryScriptTest() : m_cleanup(HKEY_CURRENT_USER, kTestKey) { InitReplacements(&m_replacements); }

    HRESULT Run(const std::string& script, bool bRegister)
    {
        return RunRegistryScript(script.data(), (int)script.size(), bRegister, &m_replacements);
    }

    static std::string Path(const std::string& relative)
    {
        return relative.empty() ? kTestKey : std::string(kTestKey) + "\\" + relative;
    }
    static bool KeyExists(const std::string& relative)
    {
        HKEY hKey;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, Path(relative).c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return false;
        RegCloseKey(hKey);
        return true;
    }
    // A text value without its terminator, "<missing>" when absent.
    static std::string Text(const std::string& relative, const char* pszName, DWORD dwType = REG_SZ)
    {
        std::string data;
        DWORD dwFound = 0;
        if (!ReadRegString(HKEY_CURRENT_USER, Path(relative), pszName, &data, &dwFound))
            return "<missing>";
        EXPECT_EQ(dwFound, dwType) << relative << " " << (pszName ? pszName : "(default)");
        if (!data.empty() && data.back() == '\0')
            data.pop_back();
        return data;
    }
    static DWORD Number(const std::string& relative, const char* pszName)
    {
        std::string data;
        DWORD dwType = 0;
        if (!ReadRegString(HKEY_CURRENT_USER, Path(relative), pszName, &data, &dwType) || dwType != REG_DWORD ||
            data.size() != 4) {
            ADD_FAILURE() << "no number " << pszName << " in " << relative;
            return 0xFFFFFFFF;
        }
        return *(const DWORD*)data.data();
    }
    static void Write(const std::string& relative, const char* pszName, const char* pszValue)
    {
        HKEY hKey;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, Path(relative).c_str(), 0, NULL, 0, KEY_WRITE,
                                                 NULL, &hKey, NULL));
        RegSetValueExA(hKey, pszName, 0, REG_SZ, (const BYTE*)pszValue, (DWORD)strlen(pszValue) + 1);
        RegCloseKey(hKey);
    }

    ScopedKeyRemoval m_cleanup;
    RegistryReplacements m_replacements;
};

const char kScript[] =
    "HKCU\r\n"
    "{\r\n"
    "  NoRemove Software\r\n"
    "  {\r\n"
    "    NoRemove LettercastScriptTest\r\n"
    "    {\r\n"
    "      val Kept = s 'listed'\r\n"
    "      Plain.Name.1 = s 'Plain Class'\r\n"
    "      {\r\n"
    "        Sub = s '%ID%'\r\n"
    "        val Count = d 3\r\n"
    "        val Mask = d '0x00010000'\r\n"
    "        val Path = e '%%TEMP%%\\x'\r\n"
    "      }\r\n"
    "      ForceRemove {2BF6E8F5-8037-4654-A520-6CC436A37AA9} = s 'It''s %module%'\r\n"
    "      {\r\n"
    "        ForceRemove 'Bare'\r\n"
    "        'Quoted Name' = s ''\r\n"
    "      }\r\n"
    "    }\r\n"
    "  }\r\n"
    "}\r\n";

TEST_F(RegistryScriptTest, RegisteringWritesEveryKeyAndValue)
{
    ASSERT_TRUE(AddReplacement(&m_replacements, "ID", "{6EB38DB3-97C4-4446-A085-9C590A97C559}"));
    ASSERT_TRUE(AddReplacement(&m_replacements, "MODULE", "C:\\Add-in's Folder\\x.dll"));
    ASSERT_EQ(S_OK, Run(kScript, true));
    EXPECT_EQ(Text("", "Kept"), "listed");
    EXPECT_EQ(Text("Plain.Name.1", NULL), "Plain Class");
    EXPECT_EQ(Text("Plain.Name.1\\Sub", NULL), "{6EB38DB3-97C4-4446-A085-9C590A97C559}");
    EXPECT_EQ(Number("Plain.Name.1", "Count"), 3u);
    EXPECT_EQ(Number("Plain.Name.1", "Mask"), 0x10000u);
    EXPECT_EQ(Text("Plain.Name.1", "Path", REG_EXPAND_SZ), "%TEMP%\\x");
    const std::string clsid = "{2BF6E8F5-8037-4654-A520-6CC436A37AA9}";
    EXPECT_EQ(Text(clsid, NULL), "It's C:\\Add-in's Folder\\x.dll") << "replacement names ignore case";
    EXPECT_TRUE(KeyExists(clsid + "\\Bare"));
    EXPECT_EQ(Text(clsid + "\\Bare", NULL), "<missing>");
    EXPECT_EQ(Text(clsid + "\\Quoted Name", NULL), "");
}

TEST_F(RegistryScriptTest, UnregisteringRemovesAllButTheNoRemoveKeys)
{
    ASSERT_TRUE(AddReplacement(&m_replacements, "ID", "x"));
    ASSERT_TRUE(AddReplacement(&m_replacements, "MODULE", "m"));
    ASSERT_EQ(S_OK, Run(kScript, true));
    Write("", "Unlisted", "the user's");
    Write("Plain.Name.1\\Added By Someone", NULL, "below a removed key");
    Write("Other", NULL, "beside");

    ASSERT_EQ(S_OK, Run(kScript, false));
    EXPECT_TRUE(KeyExists(""));
    EXPECT_EQ(Text("", "Kept"), "<missing>") << "listed values go from a kept key";
    EXPECT_EQ(Text("", "Unlisted"), "the user's");
    EXPECT_FALSE(KeyExists("Plain.Name.1"));
    EXPECT_FALSE(KeyExists("{2BF6E8F5-8037-4654-A520-6CC436A37AA9}"));
    EXPECT_EQ(Text("Other", NULL), "beside");

    EXPECT_EQ(S_OK, Run(kScript, false)) << "what is missing already is passed over";
}

TEST_F(RegistryScriptTest, ForceRemovedKeysAreRebuiltAndOthersMerged)
{
    ASSERT_TRUE(AddReplacement(&m_replacements, "ID", "x"));
    ASSERT_TRUE(AddReplacement(&m_replacements, "MODULE", "m"));
    ASSERT_EQ(S_OK, Run(kScript, true));
    const std::string clsid = "{2BF6E8F5-8037-4654-A520-6CC436A37AA9}";
    Write(clsid, "Stray", "old");
    Write(clsid + "\\Stray Key", NULL, "old");
    Write(clsid + "\\Bare", "Stray", "old");
    Write("Plain.Name.1", "Stray", "merged");

    ASSERT_EQ(S_OK, Run(kScript, true));
    EXPECT_EQ(Text(clsid, "Stray"), "<missing>");
    EXPECT_FALSE(KeyExists(clsid + "\\Stray Key"));
    EXPECT_EQ(Text(clsid + "\\Bare", "Stray"), "<missing>");
    EXPECT_EQ(Text(clsid, NULL), "It's m");
    EXPECT_EQ(Text("Plain.Name.1", "Stray"), "merged");
}

TEST_F(RegistryScriptTest, AMalformedScriptChangesNothing)
{
    ASSERT_TRUE(AddReplacement(&m_replacements, "KNOWN", "k"));
    const char* kBroken[] = {
        "HKCU { Software { LettercastScriptTest { A = s 'x' } }",           // a block left open
        "HKCU { Software { LettercastScriptTest { A = q 'x' } } }",         // no such type
        "HKCU { Software { LettercastScriptTest { A = s '%UNKNOWN%' } } }", // no such replacement
        "HKCU { Software { LettercastScriptTest { A = s 'open } } }",       // a text left open
        "HKCU { Software { LettercastScriptTest { val N = d 12x } } }",     // not a number
        "HKCU { Software { LettercastScriptTest { val N = d -1 } } }",
        "HKCU { Software { LettercastScriptTest { val N = d 4294967296 } } }",
        "HKCU { Software { LettercastScriptTest { A\\B = s 'x' } } }",      // a compound key
        "HKXX { Software { LettercastScriptTest { A = s 'x' } } }",         // no such root
        "HKCU { Software { LettercastScriptTest { val N s 'x' } } }",       // no '='
        "HKCU Software",                                                     // no block
        "HKCU { Software { LettercastScriptTest { A = s 'x' } } } }",       // a brace too many
    };
    for (const char* pszScript : kBroken) {
        EXPECT_EQ(LC_E_SCRIPT_SYNTAX, Run(pszScript, true)) << pszScript;
        EXPECT_FALSE(KeyExists("")) << pszScript;
    }
}

TEST_F(RegistryScriptTest, TheRegisteredScriptUnregistersEvenWhenBroken)
{
    ASSERT_EQ(S_OK, Run("HKCU { Software { LettercastScriptTest { A = s 'x' } } }", true));
    EXPECT_EQ(LC_E_SCRIPT_SYNTAX, Run("HKCU { Software { LettercastScriptTest { A = s 'x' } }", false));
    EXPECT_TRUE(KeyExists("A")) << "a broken script removes nothing either";
}

TEST_F(RegistryScriptTest, AMissingResourceIsAFailure)
{
    HRESULT hr = RunRegistryScriptResource(GetModuleHandleA(NULL), 4321, true, &m_replacements);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
}

TEST(ReplacementsTest, TheTableHoldsFourAndChangesANameAlreadyThere)
{
    RegistryReplacements replacements;
    InitReplacements(&replacements);
    EXPECT_TRUE(AddReplacement(&replacements, "A", "1"));
    EXPECT_TRUE(AddReplacement(&replacements, "a", "2"));
    EXPECT_EQ(replacements.nCount, 1);
    EXPECT_STREQ(replacements.entries[0].szValue, "2");
    EXPECT_TRUE(AddReplacement(&replacements, "B", "1"));
    EXPECT_TRUE(AddReplacement(&replacements, "C", "1"));
    EXPECT_TRUE(AddReplacement(&replacements, "D", "1"));
    EXPECT_FALSE(AddReplacement(&replacements, "E", "1"));
    EXPECT_FALSE(AddReplacement(&replacements, "", "1"));
    EXPECT_FALSE(AddReplacement(&replacements, "A", std::string(LC_REPLACEMENT_VALUE_CAPACITY, 'v').c_str()));
    EXPECT_STREQ(replacements.entries[0].szValue, "2") << "a refused value leaves the old one";
    EXPECT_FALSE(AddReplacement(&replacements, std::string(LC_REPLACEMENT_NAME_CAPACITY, 'n').c_str(), "1"));
}

}  // namespace
