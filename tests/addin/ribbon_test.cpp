// The ribbon: which definition goes to which window, the definitions
// themselves, the debug lines, and ButtonClicked with every one of its
// results.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "addin/connect.h"
#include "addin/host_state.h"
#include "engine/send_job.h"
#include "job/main_dialog.h"
#include "resources/ids_addin.h"
#include "resources/product.h"
#include "settings/data_paths.h"
#include "tests/addin/connect_test_util.h"
#include "tests/addin/debug_capture.h"
#include "tests/addin/fake_host.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/registry_fixtures.h"
#include "tests/support/test_files.h"
#include "tests/support/ui_driver.h"

namespace {

std::string Narrow(const wchar_t* psz, int cch = -1)
{
    if (psz == NULL)
        return "<null>";
    if (cch < 0)
        cch = (int)wcslen(psz);
    std::string text(cch, '\0');
    for (int i = 0; i < cch; i++)
        text[i] = psz[i] < 128 ? (char)psz[i] : '?';
    return text;
}

// One element of a definition: its depth, name and attributes in order.
struct XmlElement {
    int nDepth;
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
};

// The elements of a small XML text in document order; false when a tag is
// not closed in order or text other than white space stands between tags.
bool ParseElements(const std::string& xml, std::vector<XmlElement>* pElements)
{
    static const std::regex kTag("<(/?)([A-Za-z][A-Za-z0-9]*)((?:\\s+[A-Za-z]+=\"[^\"]*\")*)\\s*(/?)>");
    static const std::regex kAttribute("([A-Za-z]+)=\"([^\"]*)\"");
    std::vector<std::string> open;
    size_t pos = 0;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), kTag); it != std::sregex_iterator(); ++it) {
        const std::smatch& tag = *it;
        if (xml.substr(pos, tag.position() - pos).find_first_not_of(" \t\r\n") != std::string::npos)
            return false;
        pos = tag.position() + tag.length();
        if (tag[1].length()) {
            if (open.empty() || open.back() != tag[2].str())
                return false;
            open.pop_back();
            continue;
        }
        XmlElement element;
        element.nDepth = (int)open.size();
        element.name = tag[2];
        std::string attributes = tag[3];
        for (auto a = std::sregex_iterator(attributes.begin(), attributes.end(), kAttribute);
             a != std::sregex_iterator(); ++a)
            element.attributes.push_back({ (*a)[1], (*a)[2] });
        pElements->push_back(element);
        if (!tag[4].length())
            open.push_back(element.name);
    }
    return open.empty() && xml.substr(pos).find_first_not_of(" \t\r\n") == std::string::npos;
}

typedef std::vector<std::pair<std::string, std::string>> Attributes;

void ExpectElement(const std::vector<XmlElement>& elements, size_t i, int nDepth, const char* pszName,
                   const Attributes& attributes)
{
    ASSERT_LT(i, elements.size());
    EXPECT_EQ(elements[i].nDepth, nDepth) << pszName;
    EXPECT_EQ(elements[i].name, pszName);
    EXPECT_EQ(elements[i].attributes, attributes) << pszName;
}

// A dialog's title: the product with its major and minor version, then the kind.
std::string Title(const char* pszKind)
{
    char szTitle[64];
    snprintf(szTitle, sizeof(szTitle), "%s %d.%d%s", LC_PRODUCT_NAME, LC_VERSION_MAJOR, LC_VERSION_MINOR, pszKind);
    return szTitle;
}

const char kNamespace[] = "http://schemas.microsoft.com/office/2006/01/customui";

Attributes Button(const char* pszId, const char* pszLabel, const char* pszImage, const char* pszSize)
{
    return { { "id", pszId }, { "label", pszLabel }, { "imageMso", pszImage }, { "size", pszSize },
             { "onAction", "ButtonClicked" } };
}

class RibbonTest : public testing::Test {
protected:
    void SetUp() override
    {
        ghInstance = GetModuleHandleA(NULL);
        gpApplication = NULL;
    }
    void TearDown() override { gpApplication = NULL; }

    // The definition that GetCustomUI gives for the ribbon id, as text.
    std::string CustomUI(const wchar_t* pszRibbonId, HRESULT* phr = NULL)
    {
        BSTR bstrId = pszRibbonId ? SysAllocString(pszRibbonId) : NULL;
        BSTR bstrXml = NULL;
        HRESULT hr = m_connect->GetCustomUI(bstrId, &bstrXml);
        if (phr)
            *phr = hr;
        else
            EXPECT_EQ(S_OK, hr);
        std::string xml = Narrow(bstrXml, bstrXml ? (int)SysStringLen(bstrXml) : -1);
        SysFreeString(bstrXml);
        SysFreeString(bstrId);
        return xml;
    }

    static std::string Resource(UINT nId)
    {
        BSTR bstr = LoadXmlResource(nId);
        std::string text = Narrow(bstr, bstr ? (int)SysStringLen(bstr) : -1);
        SysFreeString(bstr);
        return text;
    }

    ConnectObject m_connect;
};

TEST_F(RibbonTest, ExplorerDefinitionHoldsOptionsAndLogFiles)
{
    std::vector<XmlElement> elements;
    ASSERT_TRUE(ParseElements(Resource(IDR_RIBBON_EXPLORER), &elements));
    ASSERT_EQ(elements.size(), 7u);
    ExpectElement(elements, 0, 0, "customUI", { { "xmlns", kNamespace } });
    ExpectElement(elements, 1, 1, "ribbon", {});
    ExpectElement(elements, 2, 2, "tabs", {});
    ExpectElement(elements, 3, 3, "tab", { { "id", "Lettercast" }, { "label", "Lettercast" } });
    ExpectElement(elements, 4, 4, "group", { { "id", "LettercastGroupMain" }, { "label", "Options" } });
    ExpectElement(elements, 5, 5, "button", Button("LettercastOptions", "Options", "DataOptionsMenu", "normal"));
    ExpectElement(elements, 6, 5, "button", Button("LettercastLog", "Log Files", "TextBoxInsert", "normal"));
}

TEST_F(RibbonTest, ComposeDefinitionAddsTheAnnounceGroup)
{
    std::vector<XmlElement> elements;
    ASSERT_TRUE(ParseElements(Resource(IDR_RIBBON_MAIL_COMPOSE), &elements));
    ASSERT_EQ(elements.size(), 9u);
    ExpectElement(elements, 0, 0, "customUI", { { "xmlns", kNamespace } });
    ExpectElement(elements, 1, 1, "ribbon", {});
    ExpectElement(elements, 2, 2, "tabs", {});
    ExpectElement(elements, 3, 3, "tab", { { "id", "Lettercast" }, { "label", "Lettercast" } });
    ExpectElement(elements, 4, 4, "group", { { "id", "LettercastGroup1" }, { "label", "Action" } });
    ExpectElement(elements, 5, 5, "button", Button("LettercastSend", "Announce", "SendItem", "large"));
    ExpectElement(elements, 6, 4, "group", { { "id", "LettercastGroup2" }, { "label", "Options" } });
    ExpectElement(elements, 7, 5, "button", Button("LettercastOptions", "Options", "DataOptionsMenu", "normal"));
    ExpectElement(elements, 8, 5, "button", Button("LettercastLog", "Log Files", "TextBoxInsert", "normal"));
}

TEST_F(RibbonTest, LoadXmlResourceGivesEveryByteAndNullForAMissingOne)
{
    HRSRC hResource = FindResourceA(ghInstance, MAKEINTRESOURCEA(IDR_RIBBON_EXPLORER), "XML");
    ASSERT_NE(hResource, nullptr);
    std::string bytes((const char*)LockResource(LoadResource(ghInstance, hResource)),
                      SizeofResource(ghInstance, hResource));
    EXPECT_EQ(Resource(IDR_RIBBON_EXPLORER), bytes);
    EXPECT_EQ(LoadXmlResource(999), nullptr);
    EXPECT_EQ(LoadXmlResource(IDR_CONNECT), nullptr) << "a resource of another type";
}

TEST_F(RibbonTest, ComposeRibbonIdsGetTheComposeDefinition)
{
    std::string compose = Resource(IDR_RIBBON_MAIL_COMPOSE);
    std::string explorer = Resource(IDR_RIBBON_EXPLORER);
    ASSERT_NE(compose, explorer);
    EXPECT_EQ(CustomUI(L"Microsoft.Outlook.Mail.Compose"), compose);
    EXPECT_EQ(CustomUI(L"x.Microsoft.Outlook.Mail.Compose.More"), compose);
    EXPECT_EQ(CustomUI(L"Microsoft.Outlook.Explorer"), explorer);
    EXPECT_EQ(CustomUI(L"Microsoft.Outlook.Mail.Read"), explorer);
    EXPECT_EQ(CustomUI(L"microsoft.outlook.mail.compose"), explorer) << "the search is case-sensitive";
    EXPECT_EQ(CustomUI(L""), explorer);
    EXPECT_EQ(CustomUI(NULL), explorer);
}

TEST_F(RibbonTest, GetCustomUIWithoutAnOutPointerFails)
{
    DebugOutputCapture capture;
    BSTR bstrId = SysAllocString(L"Microsoft.Outlook.Explorer");
    EXPECT_EQ(E_POINTER, m_connect->GetCustomUI(bstrId, NULL));
    SysFreeString(bstrId);
    EXPECT_TRUE(capture.Lines().empty());
    EXPECT_EQ(m_connect->m_nCustomUICalls, 0u);
}

TEST_F(RibbonTest, EveryRequestSendsOneNumberedDebugLine)
{
    DebugOutputCapture capture;
    CustomUI(L"Microsoft.Outlook.Explorer");
    CustomUI(L"Microsoft.Outlook.Mail.Compose");
    for (int i = 2; i < 11; i++)
        CustomUI(L"");
    ASSERT_EQ(capture.Lines().size(), 11u);
    EXPECT_EQ(capture.Lines()[0], "GetCustomUI-EXPLORER: 0-Microsoft.Outlook.Explorer\n");
    EXPECT_EQ(capture.Lines()[1], "GetCustomUI-MAILITEM: 1-Microsoft.Outlook.Mail.Compose\n");
    EXPECT_EQ(capture.Lines()[2], "GetCustomUI-EXPLORER: 2-\n");
    EXPECT_EQ(capture.Lines()[10], "GetCustomUI-EXPLORER: a-\n") << "the counter is hexadecimal";
    EXPECT_EQ(m_connect->m_nCustomUICalls, 11u);
}

TEST_F(RibbonTest, ALongRibbonIdIsCutToTheDebugLine)
{
    DebugOutputCapture capture;
    std::wstring id(2000, L'r');
    CustomUI(id.c_str());
    ASSERT_EQ(capture.Lines().size(), 1u);
    const std::string& line = capture.Lines()[0];
    EXPECT_EQ(line.size(), (size_t)LC_DEBUG_LINE_CAPACITY - 1);
    EXPECT_EQ(line.compare(0, 24, "GetCustomUI-EXPLORER: 0-"), 0);
    EXPECT_EQ(line.back(), '\n');
}

TEST_F(RibbonTest, AMissingDefinitionIsANullAnswer)
{
    HMODULE hModule = LoadLibraryA((TestProgramDir() + "hhnoentry.dll").c_str());
    ASSERT_NE(hModule, nullptr);
    ghInstance = hModule;
    DebugOutputCapture capture;
    HRESULT hr = E_FAIL;
    EXPECT_EQ(CustomUI(L"Microsoft.Outlook.Mail.Compose", &hr), "<null>");
    EXPECT_EQ(S_OK, hr);
    ASSERT_EQ(capture.Lines().size(), 1u);
    EXPECT_EQ(capture.Lines()[0], "GetCustomUI-MAILITEM: 0-Microsoft.Outlook.Mail.Compose\n");
    ghInstance = GetModuleHandleA(NULL);
    FreeLibrary(hModule);
}

class ButtonTest : public RibbonTest {
protected:
    HRESULT Click(IDispatch* pControl) { return m_connect->ButtonClicked(pControl); }

    // Opens the dialog of a button, notes its owner and cancels it.
    HWND OwnerOfDialogFor(const wchar_t* pszId, const char* pszTitle, HRESULT* phr)
    {
        UiDriver driver;
        HWND hOwner = (HWND)-1;
        driver.When(pszTitle, [&](HWND hDlg) {
            hOwner = GetWindow(hDlg, GW_OWNER);
            ::Click(hDlg, IDCANCEL);
        });
        FakeRibbonControl* pControl = new FakeRibbonControl(pszId);
        *phr = Click(pControl);
        EXPECT_TRUE(driver.Done()) << pszTitle << " did not open";
        EXPECT_EQ(pControl->Refs(), 1);
        pControl->Release();
        return hOwner;
    }
};

TEST_F(ButtonTest, SomethingOtherThanARibbonControlIsRefused)
{
    EXPECT_EQ(S_FALSE, Click(NULL));
    FakeObject* pObject = new FakeObject;
    EXPECT_EQ(S_FALSE, Click(pObject));
    EXPECT_EQ(pObject->Refs(), 1);
    pObject->Release();
}

TEST_F(ButtonTest, AnUnreadableIdIsTheResult)
{
    FakeRibbonControl* pControl = new FakeRibbonControl(L"LettercastOptions");
    pControl->FailId(E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, Click(pControl));
    EXPECT_EQ(pControl->Refs(), 1);
    pControl->Release();
}

TEST_F(ButtonTest, AnUnknownButtonDoesNothing)
{
    UiDriver driver;
    for (const wchar_t* pszId : { L"", L"Lettercast", L"lettercastoptions", L"SomeoneElsesButton" }) {
        FakeRibbonControl* pControl = new FakeRibbonControl(pszId);
        EXPECT_EQ(S_OK, Click(pControl)) << Narrow(pszId);
        EXPECT_EQ(pControl->IdReads(), 1);
        EXPECT_EQ(pControl->Refs(), 1);
        pControl->Release();
    }
    EXPECT_TRUE(ThreadWindows().empty());
}

TEST_F(ButtonTest, OptionsAndLogFilesOpenTheirDialogsOverTheDesktopWithoutAHostWindow)
{
    ScopedKeyRemoval settings(HKEY_CURRENT_USER, "Software\\Vostel Software\\Lettercast");
    HRESULT hr = E_FAIL;
    HWND hOwner = OwnerOfDialogFor(L"LettercastOptions", Title(" Options").c_str(), &hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_TRUE(hOwner == NULL || hOwner == GetDesktopWindow());
    hOwner = OwnerOfDialogFor(L"LettercastLog", "Lettercast Logs", &hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_TRUE(hOwner == NULL || hOwner == GetDesktopWindow());
}

TEST_F(ButtonTest, DialogsBelongToTheHostsActiveWindow)
{
    ScopedKeyRemoval settings(HKEY_CURRENT_USER, "Software\\Vostel Software\\Lettercast");
    HWND hExplorer = CreateWindowA("STATIC", "Explorer", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, NULL, NULL, NULL, NULL);
    ASSERT_NE(hExplorer, nullptr);
    FakeObject* pWindow = new FakeObject;
    pWindow->GiveWindow(hExplorer);
    FakeObject* pApplication = new FakeObject;
    pApplication->SetObject(L"ActiveWindow", pWindow);
    gpApplication = pApplication;

    HRESULT hr = E_FAIL;
    EXPECT_EQ(OwnerOfDialogFor(L"Prefix.LettercastOptions.Suffix", Title(" Options").c_str(), &hr), hExplorer)
        << "matched by containment";
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(OwnerOfDialogFor(L"LettercastLog2", "Lettercast Logs", &hr), hExplorer);
    EXPECT_EQ(S_OK, hr);

    gpApplication = NULL;
    pApplication->Release();
    EXPECT_EQ(pWindow->Refs(), 1);
    pWindow->Release();
    DestroyWindow(hExplorer);
}

// An inspector over an item, as the ribbon control's Context.
class RibbonAnnounceTest : public ButtonTest {
protected:
    void SetUp() override
    {
        ButtonTest::SetUp();
        m_hCompose = CreateWindowA("STATIC", "Compose", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, NULL, NULL, NULL, NULL);
        m_pItem = new FakeObject;
        m_pItem->AnswerAs(IID__MailItem);
        m_pItem->SetLong(L"Class", LC_OL_CLASS_MAIL);
        m_pItem->SetFailure(L"MAPIOBJECT", E_NOTIMPL);
        m_pInspector = new FakeObject;
        m_pInspector->AnswerAs(IID__Inspector);
        m_pInspector->GiveWindow(m_hCompose);
        m_pInspector->SetObject(L"CurrentItem", m_pItem);
        m_pControl = new FakeRibbonControl(L"LettercastSend");
        m_pControl->SetContext(m_pInspector);
    }
    void TearDown() override
    {
        EXPECT_EQ(m_pControl->Refs(), 1);
        m_pControl->Release();
        EXPECT_EQ(m_pInspector->Refs(), 1);
        m_pInspector->Release();
        EXPECT_EQ(m_pItem->Refs(), 1);
        m_pItem->Release();
        DestroyWindow(m_hCompose);
        ButtonTest::TearDown();
    }

    HWND m_hCompose;
    FakeObject* m_pItem;
    FakeObject* m_pInspector;
    FakeRibbonControl* m_pControl;
};

TEST_F(RibbonAnnounceTest, OpensTheMainDialogForTheComposedMailOverTheComposeWindow)
{
    ScopedKeyRemoval settings(HKEY_CURRENT_USER, "Software\\Vostel Software\\Lettercast");
    UiDriver driver;
    HWND hOwner = NULL;
    IDispatch* pJobItem = NULL;
    driver.When(Title("").c_str(), [&](HWND hDlg) {
        hOwner = GetWindow(hDlg, GW_OWNER);
        pJobItem = gpMainDialogJob ? gpMainDialogJob->m_pParent : NULL;
        ::Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(S_OK, Click(m_pControl));
    EXPECT_TRUE(driver.Done()) << "the main dialog did not open";
    EXPECT_EQ(hOwner, m_hCompose);
    EXPECT_EQ(pJobItem, static_cast<IDispatch*>(m_pItem));
    EXPECT_EQ(ghOpenMainDialog, nullptr);
}

TEST_F(RibbonAnnounceTest, TheSendTextIsLookedForFirst)
{
    m_pItem->SetLong(L"Class", 26);
    FakeRibbonControl* pControl = new FakeRibbonControl(L"LettercastOptions.LettercastSend");
    pControl->SetContext(m_pInspector);
    EXPECT_EQ(S_FALSE, Click(pControl)) << "the Announce command, which refuses the item, not Options";
    pControl->Release();
}

TEST_F(RibbonAnnounceTest, AnUnreadableContextIsTheResult)
{
    m_pControl->FailContext(RPC_E_DISCONNECTED);
    EXPECT_EQ(RPC_E_DISCONNECTED, Click(m_pControl));
}

TEST_F(RibbonAnnounceTest, AContextThatIsNoInspectorIsRefused)
{
    m_pControl->SetContext(NULL);
    EXPECT_EQ(S_FALSE, Click(m_pControl));
    FakeObject* pExplorer = new FakeObject;
    pExplorer->GiveWindow(m_hCompose);
    m_pControl->SetContext(pExplorer);
    EXPECT_EQ(S_FALSE, Click(m_pControl));
    m_pControl->SetContext(m_pInspector);
    EXPECT_EQ(pExplorer->Refs(), 1);
    pExplorer->Release();
}

TEST_F(RibbonAnnounceTest, AnInspectorWithoutAWindowIsTheQueryResult)
{
    FakeObject* pInspector = new FakeObject;
    pInspector->AnswerAs(IID__Inspector);
    pInspector->SetObject(L"CurrentItem", m_pItem);
    m_pControl->SetContext(pInspector);
    EXPECT_EQ(E_NOINTERFACE, Click(m_pControl));
    m_pControl->SetContext(m_pInspector);
    EXPECT_EQ(pInspector->Refs(), 1);
    pInspector->Release();
}

TEST_F(RibbonAnnounceTest, AnUnreadableCurrentItemIsTheResult)
{
    m_pInspector->SetFailure(L"CurrentItem", E_ABORT);
    EXPECT_EQ(E_ABORT, Click(m_pControl));
}

TEST_F(RibbonAnnounceTest, AnItemThatIsNoMailItemIsRefused)
{
    FakeObject* pAppointment = new FakeObject;
    pAppointment->SetLong(L"Class", 26);
    m_pInspector->SetObject(L"CurrentItem", pAppointment);
    EXPECT_EQ(S_FALSE, Click(m_pControl));
    m_pInspector->SetObject(L"CurrentItem", m_pItem);
    EXPECT_EQ(pAppointment->Refs(), 1);
    pAppointment->Release();

    m_pInspector->SetObject(L"CurrentItem", NULL);
    EXPECT_EQ(S_FALSE, Click(m_pControl));
    m_pInspector->SetObject(L"CurrentItem", m_pItem);
}

TEST_F(RibbonAnnounceTest, AnUnreadableClassIsTheResult)
{
    m_pItem->SetFailure(L"Class", DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Click(m_pControl));
}

TEST_F(RibbonAnnounceTest, AMailItemOfAnotherClassIsRefused)
{
    for (LONG nClass : { 0L, 26L, 42L, 44L, 46L }) {
        m_pItem->SetLong(L"Class", nClass);
        EXPECT_EQ(S_FALSE, Click(m_pControl)) << nClass;
    }
}

}  // namespace
