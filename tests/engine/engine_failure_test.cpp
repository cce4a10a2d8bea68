// Every failure of a job, driven through the stand-ins' fault plans: what
// the user is shown, what the logs keep, and how the dialog hears the end.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/job_progress.h"
#include "engine/send_job.h"
#include "mailing/mail_merge.h"
#include "settings/data_paths.h"
#include "settings/settings_store.h"
#include "standin/common/fault_plan.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/registry_fixtures.h"


// The bytes of a one-entry ADRLIST (CbNewADRLIST(1)): its count and one entry
// of two counts and a pointer, aligned for the pointer.
#ifdef _WIN64
#define LC_ONE_ENTRY_ADRLIST "24"
#else
#define LC_ONE_ENTRY_ADRLIST "16"
#endif
namespace {

enum MailKind {
    PlainMail,
    HtmlMail,        // stored ASCII HTML, format 2
    HtmlBodyMail,    // format 2, HTML only through HTMLBody
    UnicodeOnlyMail, // no PR_BODY_A
    NoBodyMail,
    NoSubjectMail,   // no subject property at all
    NonAsciiHtmlMail,// stored HTML with a byte above 127, format 2
};

// What a case arranges besides its fault plan.
enum Setup {
    NoSetup,
    NoItem,                  // no composed item: the job gets none
    NoAddressColumn,         // a list whose header names no e-mail field
    MissingList,
    ListGoneForSendingPass,  // the list can be read once only
    CurrentLogBlocked,
    HistoryBlocked,
    SentListBlocked,
    OverlongFieldName,       // a field name too long for a placeholder
    CancelBeforeFirstMessage,
    CancelDuringPause,
    SendReceiveEveryMessage,
    NoSpoolerRow,
    OwnRecipients,           // the composed message has To, Cc and Bcc of its own
    NoUsableRecipient,       // every record of the list is skipped
};

struct FailureCase {
    const char* pszName;
    const char* pszPlan;
    MailKind kind;
    int nRecipients;
    std::vector<int> answers;
    std::vector<ExpectedBox> boxes;       // every box, in order
    std::vector<std::string> logParts;    // in the current job log, in order
    int nDone;                            // wParam of WM_JOBDONE
    int nSent;
    std::vector<std::string> notDelivered = {};
    Setup setup = NoSetup;
    // The logs the job opened; by default all of them when logParts are
    // given, none otherwise.
    int nLogs = -1;
    int nBlocksLeft = 0;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.pszName; }

class EngineFailureTest : public EngineJobTest, public ::testing::WithParamInterface<FailureCase> {};

const char kR1[] = "r1@example.com";
const char kR2[] = "r2@example.com";

std::string ComReport(const char* pszSource, const char* pszDescription, const std::string& location)
{
    return std::string("from ") + pszSource + ":\r\n\tError Desc: " + pszDescription + "\r\n\tLocation: " + location +
           "\r\n";
}

std::string Raised(const char* pszOperation, const std::string& location)
{
    return ComReport("Lettercast stand-in", (std::string("Injected fault in ") + pszOperation).c_str(), location);
}

std::string Unreported(const std::string& location)
{
    return "***** Exception 0x80004005 " + ComReport("(null)", "(null)", location);
}

const char kTakenBack1[] =
    "# 1, To: r1@example.com. Not Sent: the outgoing queue could not be flushed; the copy was taken back out of it\r\n";
const char kTakenBack2[] =
    "# 2, To: r2@example.com. Not Sent: the outgoing queue could not be flushed; the copy was taken back out of it\r\n";
const char kIncomplete[] = "\tResult: Incomplete (See Current Job Log)\r\n";
const char kComplete[] = "\tResult: Completed Successfully\r\n";

// A list that can be opened once: a named pipe with a single instance,
// gone once its one reader has had the content.
class OneTimeList {
public:
    explicit OneTimeList(const std::string& content) : m_content(content)
    {
        snprintf(m_szName, sizeof(m_szName), "\\\\.\\pipe\\lettercast-list-%lu", GetCurrentProcessId());
        m_hPipe = CreateNamedPipeA(m_szName, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, NULL);
        if (m_hPipe != INVALID_HANDLE_VALUE)
            m_hThread = CreateThread(NULL, 0, Serve, this, 0, NULL);
    }
    ~OneTimeList()
    {
        if (m_hThread == NULL)
            return;
        // A job that never opened the list leaves the server waiting for a reader.
        HANDLE hReader = CreateFileA(m_szName, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (hReader != INVALID_HANDLE_VALUE) {
            char szDrain[256];
            DWORD cbRead = 0;
            while (ReadFile(hReader, szDrain, sizeof(szDrain), &cbRead, NULL) && cbRead > 0) {
            }
            CloseHandle(hReader);
        }
        WaitForSingleObject(m_hThread, 10000);
        CloseHandle(m_hThread);
    }
    bool Ready() const { return m_hThread != NULL; }
    const char* Name() const { return m_szName; }

private:
    static DWORD WINAPI Serve(LPVOID pParam)
    {
        OneTimeList* pList = (OneTimeList*)pParam;
        if (ConnectNamedPipe(pList->m_hPipe, NULL) || GetLastError() == ERROR_PIPE_CONNECTED) {
            DWORD cbWritten = 0;
            WriteFile(pList->m_hPipe, pList->m_content.data(), (DWORD)pList->m_content.size(), &cbWritten, NULL);
            FlushFileBuffers(pList->m_hPipe);
        }
        CloseHandle(pList->m_hPipe);
        return 0;
    }

    std::string m_content;
    char m_szName[MAX_PATH];
    HANDLE m_hPipe = INVALID_HANDLE_VALUE;
    HANDLE m_hThread = NULL;
};

TEST_P(EngineFailureTest, IsShownLoggedAndEndsAsLaidDown)
{
    const FailureCase& c = GetParam();
    StandinComposedMail mail = {};
    mail.pszSubject = "Subject [[Name]]";
    mail.pszBody = "Body [[Name]]";
    mail.nBodyFormat = 1;
    switch (c.kind) {
    case PlainMail:
        break;
    case HtmlMail:
        mail.pszHtml = "<p>[[Name]]</p>";
        mail.nBodyFormat = 2;
        break;
    case HtmlBodyMail:
        mail.pszHtmlBody = L"<p>[[Name]]</p>";
        mail.nBodyFormat = 2;
        break;
    case UnicodeOnlyMail:
        mail.pszBody = NULL;
        mail.pszBodyW = L"Body [[Name]]";
        break;
    case NoBodyMail:
        mail.pszBody = NULL;
        break;
    case NoSubjectMail:
        mail.pszSubject = NULL;
        break;
    case NonAsciiHtmlMail:
        mail.pszHtml = "<p>[[Name]] caf\xe9</p>";
        mail.nBodyFormat = 2;
        break;
    }
    if (c.setup == NoSpoolerRow)
        m_options.bNoSpoolerRow = true;
    if (c.setup == OwnRecipients) {
        mail.pszTo = "boss@example.com";
        mail.pszCc = "cc1@example.com; cc2@example.com";
        mail.pszBcc = "hidden@example.com";
    }
    if (c.setup == NoItem)
        StartHost();
    else
        Compose(mail);

    std::unique_ptr<OneTimeList> oneTimeList;
    std::string blocked = m_data.File("no such folder\\x.txt");
    switch (c.setup) {
    case NoAddressColumn:
        WriteList("Name,Phone\r\nAnn,123\r\n");
        break;
    case NoUsableRecipient:
        // One record without an @ in its address, one too short to have it.
        WriteList("Name,Email\r\nAnn,ann at example.com\r\nBob\r\n");
        break;
    case OverlongFieldName:
        // A one-column list: that column is the address whatever its name,
        // and a name this long fits a record but not a placeholder.
        WriteList(std::string(LC_MERGE_NAME_LIMIT, 'e') + "\r\nann@example.com\r\nbob@example.com\r\n");
        break;
    default:
        WriteList(NumberedList(c.nRecipients));
        break;
    }
    switch (c.setup) {
    case MissingList:
        strcpy(JobOptions.ToList, m_lists.File("missing.csv").c_str());
        break;
    case ListGoneForSendingPass:
        oneTimeList.reset(new OneTimeList(m_listContent));
        ASSERT_TRUE(oneTimeList->Ready());
        strcpy(JobOptions.ToList, oneTimeList->Name());
        break;
    case CurrentLogBlocked:
        strcpy(gszCurrentJobPath, blocked.c_str());
        break;
    case HistoryBlocked:
        strcpy(gszJobHistoryPath, blocked.c_str());
        break;
    case SentListBlocked:
        strcpy(gszSentListPath, blocked.c_str());
        break;
    case CancelBeforeFirstMessage:
        PostMessageA(m_hDialog, WM_TIMER, JobIdle + 1, 0);
        break;
    case CancelDuringPause:
        JobOptions.Pause = 30;
        SetTimer(m_hDialog, JobIdle + 1, 500, NULL);
        break;
    case SendReceiveEveryMessage:
        JobOptions.DoSendRecv = 1;
        JobOptions.SendRecvCount = 1;
        break;
    default:
        break;
    }
    // The record of a last job, which only a job that opens its own logs
    // may replace.
    WriteWholeFile(gszCurrentJobPath, "The last job's log\r\n");
    WriteWholeFile(gszSentListPath, "Name,Email\r\nLast,last@example.com\r\n");
    for (int nAnswer : c.answers)
        m_boxes->Answer(nAnswer);
    ASSERT_TRUE(SetFaultPlan(c.pszPlan)) << c.pszPlan;
    RunJob();

    JobEnd end;
    end.boxes = c.boxes;
    end.nDone = c.nDone;
    end.nSent = c.nSent;
    end.logs = (LogsOpened)(c.nLogs >= 0 ? c.nLogs : c.logParts.empty() ? NoLog : EveryLog);
    end.notDelivered = c.notDelivered;
    end.nBlocksLeft = c.nBlocksLeft;
    ExpectJobEnded(end);
    // A job that ended before its logs gives the closing box its last warning as the reason.
    if (end.logs == NoLog) {
        std::string reason;
        for (const ExpectedBox& box : c.boxes) {
            if ((box.uStyle & MB_TYPEMASK) == MB_OK)
                reason = box.text;
        }
        EXPECT_EQ(JobProgress.endReason, reason);
    }

    // Whatever went out went merged, and an HTML message with its merged
    // text/plain alternative.
    for (const DeliveredView& view : Delivered()) {
        EXPECT_EQ(view.subject.find("[["), std::string::npos) << view.subject;
        EXPECT_EQ(view.body.find("[["), std::string::npos) << view.body;
        EXPECT_TRUE(view.bHasPlain) << view.to;
        EXPECT_EQ(view.plainBody.find("[["), std::string::npos) << view.plainBody;
    }

    std::string log = end.logs != NoLog && LogExists() ? CurrentLog() : std::string();
    size_t pos = 0;
    for (const std::string& part : c.logParts) {
        size_t found = log.find(part, pos);
        EXPECT_NE(found, std::string::npos) << "missing in order: " << part << "\nlog:\n" << log;
        if (found != std::string::npos)
            pos = found + part.size();
    }
}

const FailureCase kCases[] = {
    // The first checks: their boxes belong to no window.
    { "NoItemAtAll", "", PlainMail, 2, {},
      { FromDesktop("Error: m_pParent == NULL"), FromDesktop("Error: m_pMAPIMessage == NULL") }, {}, 0, 0, {}, NoItem },
    { "ItemGivesNoMapiObject", "MailItem.MAPIOBJECT.get=fail@1", PlainMail, 2, {},
      { FromDesktop("Error: m_pMAPIMessage == NULL") }, {}, 0, 0 },
    { "MapiObjectReadThrows", "MailItem.MAPIOBJECT.get=throw@1", PlainMail, 2, {},
      { FromDesktop("Error: m_pMAPIMessage == NULL") }, {}, 0, 0 },

    // MAPI: a failed initialization is survived, and not undone at the end.
    { "MapiInitializeFails", "MAPIInitialize=fail@1", PlainMail, 2, {}, { FromDesktop("Error: Failed to initialize MAPI") },
      { "Sent Successfully", "Sent Successfully", kComplete }, 1, 2 },

    // Reading the original.
    { "SaveOfTheOriginalRaises", "MailItem.Save=raise@1", PlainMail, 2, {},
      { "Failed saving original message. (caught)" }, {}, 0, 0 },
    { "SaveOfTheOriginalFails", "MailItem.Save=fail@1", PlainMail, 2, {},
      { "Failed saving original message. (caught)" }, {}, 0, 0 },
    { "SaveOfTheOriginalThrows", "MailItem.Save=throw@1", PlainMail, 2, {},
      { "Failed saving original message. (caught)" }, {}, 0, 0 },
    { "SubjectReadRaises", "IMessage.GetProps=raise@1", PlainMail, 2, {},
      { "Failed getting subject and bext body. (caught)" }, {}, 0, 0 },
    { "SubjectReadFails", "IMessage.GetProps=fail@1", PlainMail, 2, {}, { "Failed to find message subject" }, {}, 0, 0 },
    { "NoSubjectProperty", "", NoSubjectMail, 2, {}, { "Failed to find message subject" }, {}, 0, 0 },
    { "BodyReadRaises", "IMessage.OpenProperty=raise@1", PlainMail, 2, {}, { "Failed getting body. (caught)" }, {}, 0, 0 },
    { "UnicodeBodyCannotBeOpened", "IMessage.OpenProperty=fail:0x80004005@2", UnicodeOnlyMail, 2, {},
      { "OpenProperty 2 Failed for PR_BODY_W: 80004005", "Failed to find message body" }, {}, 0, 0 },
    { "UnicodeBodyStatFails", "IStream.Stat=fail:0x80030005@1", UnicodeOnlyMail, 2, {},
      { "Stat Failed for PR_BODY_W: 80030005", "Failed to find message body" }, {}, 0, 0 },
    { "UnicodeBodyReadFails", "IStream.Read=fail:0x80030005@1", UnicodeOnlyMail, 2, {},
      { "Read Failed for PR_BODY_W: 80030005", "Failed to find message body" }, {}, 0, 0 },
    { "UnicodeBodyStatRaises", "IStream.Stat=raise@1", UnicodeOnlyMail, 2, {}, { "Failed getting body. (caught)" }, {},
      0, 0 },
    { "NoBodyAtAll", "", NoBodyMail, 2, {},
      { "OpenProperty 2 Failed for PR_BODY_W: 8004010F", "Failed to find message body" }, {}, 0, 0 },
    { "BodyFormatFails", "MailItem.BodyFormat.get=fail@1", PlainMail, 2, {}, { "Failed getting body format" }, {}, 0, 0 },
    { "BodyFormatThrows", "MailItem.BodyFormat.get=throw@1", PlainMail, 2, {}, { "Caught failure getting body format" },
      {}, 0, 0 },
    { "StoredHtmlReadRaises", "IMessage.OpenProperty=raise@2", HtmlMail, 2, {}, { "Failed getting HTML body" }, {}, 0, 0 },
    { "StoredHtmlReadThrows", "IMessage.OpenProperty=throw@2", HtmlMail, 2, {}, { "Failed getting HTML body" }, {}, 0,
      0 },
    { "HtmlBodyReadFails", "MailItem.HTMLBody.get=fail@1", HtmlBodyMail, 2, {}, { "Failed getting HTMLBody (1)" }, {},
      0, 0 },
    { "HtmlBodyReadRaises", "MailItem.HTMLBody.get=raise@1", HtmlBodyMail, 2, {}, { "Failed getting HTMLBody (1)" }, {},
      0, 0 },
    { "HtmlBodyReadThrows", "MailItem.HTMLBody.get=throw@1", HtmlBodyMail, 2, {}, { "Failed getting HTML body (3)" },
      {}, 0, 0 },

    // The list and the logs.
    { "ListCannotBeOpened", "", PlainMail, 2, {}, { "Could not open the mailing list file for reading." }, {}, 0, 0, {},
      MissingList },
    { "ListHasNoAddressColumn", "", PlainMail, 0, { IDOK, IDNO },
      { "\"E-Mail\" field could not be found in the mailing list.\nThis is a required field.\n"
        "See the online help for mailing lists.",
        Question("Would you like to read about Mailing Lists in the online help?") },
      {}, 0, 0, {}, NoAddressColumn },
    { "CurrentLogCannotBeOpened", "", PlainMail, 2, {}, { "Failed to open current job log for writing." }, {}, 0, 0, {},
      CurrentLogBlocked },
    { "HistoryCannotBeOpened", "", PlainMail, 2, {}, { "Failed to open historical job log for appending." },
      { "\t\tEmails In File: 2\r\n", kIncomplete }, 0, 0, {}, HistoryBlocked, CurrentLogOnly },
    { "SentListCannotBeOpened", "", PlainMail, 2, {}, { "Failed to open log file for sent e-mails." }, { kIncomplete }, 0,
      0, {}, SentListBlocked, CurrentLogAndHistory },
    // The list is read once, into a private copy that both passes read.
    { "ListReadableOnceIsSentFromItsCopy", "", PlainMail, 2, {}, {},
      { "\t\tEmails In File: 2\r\n\t\tAddress Column: E-Mail Address\r\n", "# 1, To: r1@example.com. Sent Successfully",
        "# 2, To: r2@example.com. Sent Successfully", kComplete },
      1, 2, {}, ListGoneForSendingPass },
    { "NoUsableRecipientIsToldBeforeAnyLog", "", PlainMail, 0, {},
      { "The mailing list has no usable recipient: all 2 of its records were skipped, because the column \"Email\" "
        "holds no e-mail address in them or they have too few fields. Check the list's delimiter, its line ends and "
        "which column holds the addresses.\n\nNo message was sent." },
      {}, 0, 0, {}, NoUsableRecipient },
    { "OwnRecipientsOfTheComposedMessageGetNoCopy", "", PlainMail, 2, {},
      { Notice("The composed message has recipients of its own (To: boss@example.com; Cc: cc1@example.com; "
               "cc2@example.com; Bcc: hidden@example.com).\n\nThey will not receive the copies; each copy goes to "
               "its list recipient only.") },
      { "\tThe composed message's own recipients get no copy: To: boss@example.com; Cc: cc1@example.com; "
        "cc2@example.com; Bcc: hidden@example.com\r\n",
        "# 1, To: r1@example.com. Sent Successfully", "# 2, To: r2@example.com. Sent Successfully", kComplete },
      1, 2, {}, OwnRecipients },
    { "OwnRecipientsPartlyUnreadableAreStillNotSentTo", "MailItem.To.get=raise@1", PlainMail, 1, {},
      { Notice("The composed message has recipients of its own (Cc: cc1@example.com; cc2@example.com; Bcc: "
               "hidden@example.com).\n\nThey will not receive the copies; each copy goes to its list recipient "
               "only.") },
      { "\tThe composed message's own recipients get no copy: Cc: cc1@example.com; cc2@example.com; Bcc: "
        "hidden@example.com\r\n",
        "# 1, To: r1@example.com. Sent Successfully", kComplete },
      1, 1, {}, OwnRecipients },

    // Stopped by the user.
    { "CancelBeforeTheFirstMessage", "", PlainMail, 2, {}, {}, { "Job Stopped\r\n" + std::string(kIncomplete) }, 0, 0,
      {}, CancelBeforeFirstMessage },
    { "CancelDuringAPause", "", PlainMail, 3, {}, {},
      { "# 1, To: r1@example.com. Sent Successfully\r\nJob Stopped\r\n" + std::string(kIncomplete) }, 0, 1, {},
      CancelDuringPause },

    // The merge.
    { "MergeFails", "", PlainMail, 2, { IDYES },
      { Question("[[Name]] names no field of the mailing list and will be sent as it stands. Send anyway?"),
        "Mail merge failed.\nMake sure no fields are greater than 32,767 characters." },
      { "\t\tEmails In File: 2\r\n", "Mail merge error\r\n" + std::string(kIncomplete) }, 0, 0, {}, OverlongFieldName },

    // The copy.
    { "CopyRaisesOnceAndIsRetried", "MailItem.Copy=raise@1", PlainMail, 1, {}, {},
      { Raised("MailItem.Copy", "Caught exception during message copy A: 1 (1)"), "# 1, To: r1@example.com. Sent",
        kComplete },
      1, 1 },
    { "CopyThrowsOnceAndIsRetried", "MailItem.Copy=throw@1", PlainMail, 1, {}, {},
      { "Caught exception during message copy B: 1 (1)\r\n", "# 1, To: r1@example.com. Sent", kComplete }, 1, 1 },
    { "CopyFailsWithoutErrorInformation", "MailItem.Copy=fail@1", PlainMail, 1, {}, {},
      { Unreported("Caught exception during message copy A: 1 (1)"), kComplete }, 1, 1 },
    { "CopyThrowsEveryTime", "MailItem.Copy=throw@*", PlainMail, 2, {},
      { "Caught exception during message copy B: 1 (11)" },
      { "Caught exception during message copy B: 1 (1)\r\n", "Caught exception during message copy B: 1 (10)\r\n",
        "Caught exception during message copy B: 1 (11)\r\n" + std::string(kIncomplete) },
      0, 0 },
    { "CopyGivesNoMapiObject", "MailItem.MAPIOBJECT.get=fail@2", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 8" },
      { Unreported("Unknown error caught during message 1 at line 8"), kIncomplete }, 0, 0 },

    // The body of the copy: stored HTML bytes where the store takes them.
    { "StoredHtmlOfTheCopyCannotBeOpenedAndGoesThroughHtmlBody", "IMessage.OpenProperty=fail@3", NonAsciiHtmlMail, 2,
      {}, {}, { "# 2, To: r2@example.com. Sent Successfully", kComplete }, 1, 2 },
    { "StoredHtmlOfTheCopyCannotBeWrittenAndGoesThroughHtmlBody", "IStream.Write=fail@1", NonAsciiHtmlMail, 2, {}, {},
      { "# 2, To: r2@example.com. Sent Successfully", kComplete }, 1, 2 },
    { "StoredHtmlOfTheCopyRaisesOnOpening", "IMessage.OpenProperty=raise@4", NonAsciiHtmlMail, 2, {},
      { "Unknown error caught during message 1 at line 100" },
      { Raised("IMessage.OpenProperty", "Unknown error caught during message 1 at line 100"), kIncomplete }, 0, 0 },
    { "StoredHtmlOfTheCopyRaisesOnWriting", "IStream.Write=raise@2", NonAsciiHtmlMail, 2, {},
      { "Unknown error caught during message 1 at line 101" },
      { Raised("IStream.Write", "Unknown error caught during message 1 at line 101"), kIncomplete }, 0, 0 },
    // Written through streams, the HTML needs the merged plain body beside it,
    // and both count only once committed.
    { "StoredHtmlOfTheCopyCannotBeCommittedAndGoesThroughHtmlBody", "IStream.Commit=fail@2", NonAsciiHtmlMail, 2, {},
      {}, { "# 2, To: r2@example.com. Sent Successfully", kComplete }, 1, 2 },
    { "StoredHtmlOfTheCopyRaisesOnCommitting", "IStream.Commit=raise@2", NonAsciiHtmlMail, 2, {},
      { "Unknown error caught during message 1 at line 102" },
      { Raised("IStream.Commit", "Unknown error caught during message 1 at line 102"), kIncomplete }, 0, 0 },
    { "PlainBodyOfTheCopyCannotBeOpenedAndTheHtmlGoesThroughHtmlBody", "IMessage.OpenProperty=fail@3",
      NonAsciiHtmlMail, 2, {}, {}, { "# 2, To: r2@example.com. Sent Successfully", kComplete }, 1, 2 },
    { "PlainBodyOfTheCopyCannotBeCommittedAndTheHtmlGoesThroughHtmlBody", "IStream.Commit=fail@1", NonAsciiHtmlMail,
      2, {}, {}, { "# 2, To: r2@example.com. Sent Successfully", kComplete }, 1, 2 },
    { "PlainBodyOfTheCopyRaisesOnOpening", "IMessage.OpenProperty=raise@3", NonAsciiHtmlMail, 2, {},
      { "Unknown error caught during message 1 at line 103" },
      { Raised("IMessage.OpenProperty", "Unknown error caught during message 1 at line 103"), kIncomplete }, 0, 0 },
    { "PlainBodyOfTheCopyRaisesOnWriting", "IStream.Write=raise@1", NonAsciiHtmlMail, 2, {},
      { "Unknown error caught during message 1 at line 104" },
      { Raised("IStream.Write", "Unknown error caught during message 1 at line 104"), kIncomplete }, 0, 0 },
    { "PlainBodyOfTheCopyRaisesOnCommitting", "IStream.Commit=throw@1", NonAsciiHtmlMail, 2, {},
      { "Unknown error caught during message 1 at line 105" },
      { "Unknown error caught during message 1 at line 105\r\n", kIncomplete }, 0, 0 },

    // Addressing.
    { "RecipientListCannotBeAllocated", "MAPIAllocateBuffer=fail:0x8007000E@1", PlainMail, 2, {},
      { "Failed to allocate ADRLIST: r1@example.com, 8007000E, " LC_ONE_ENTRY_ADRLIST },
      { "Failed to allocate ADRLIST: r1@example.com, 8007000E, " LC_ONE_ENTRY_ADRLIST "\r\n", kIncomplete }, 0, 0 },
    { "RecipientValuesCannotBeAllocated", "MAPIAllocateBuffer=fail@2", PlainMail, 2, {},
      { "Failed to allocate SPropValue: r1@example.com" },
      { "Failed to allocate SPropValue: r1@example.com\r\n", kIncomplete }, 0, 0 },
    { "AddressCannotBeAllocated", "MAPIAllocateMore=fail@1", PlainMail, 2, {}, { "Failed to allocate more MAPI memory" },
      { kIncomplete }, 0, 0 },
    { "DisplayNameCannotBeAllocated", "MAPIAllocateMore=fail@2", PlainMail, 2, {},
      { "Failed (2) to allocate more MAPI memory" }, { kIncomplete }, 0, 0 },
    { "AddressTypeCannotBeAllocated", "MAPIAllocateMore=fail@3", PlainMail, 2, {},
      { "Failed (3) to allocate more MAPI memory" }, { kIncomplete }, 0, 0 },
    { "RecipientCannotBeAdded", "IMessage.ModifyRecipients=fail@1", PlainMail, 2, {},
      { "Failed to add recipient: r1@example.com" }, { "Failed to add recipient: r1@example.com\r\n", kIncomplete }, 0,
      0 },
    { "SecondRecipientCannotBeAdded", "IMessage.ModifyRecipients=fail@2", PlainMail, 3, {},
      { "Failed to add recipient: r2@example.com" },
      { "# 1, To: r1@example.com. Sent Successfully\r\nFailed to add recipient: r2@example.com\r\n", kIncomplete }, 0,
      1 },

    { "AddingTheRecipientRaises", "IMessage.ModifyRecipients=raise@1", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 13" },
      { Raised("IMessage.ModifyRecipients", "Unknown error caught during message 1 at line 13"), kIncomplete }, 0, 0 },

    // Properties of the copy.
    { "EditorFormatValueCannotBeAllocated", "MAPIAllocateBuffer=fail@3", PlainMail, 2, {},
      { "Failed to allocate SPropValue for SetProps" }, { kIncomplete }, 0, 0 },
    { "EditorFormatCannotBeSet", "IMessage.SetProps=fail@1", PlainMail, 2, {}, { "Injected fault in IMessage.SetProps" },
      { kIncomplete }, 0, 0 },
    { "EditorFormatCannotBeSetAndTheStoreTellsNothing", "IMessage.SetProps=fail@1;IMessage.GetLastError=fail@1",
      PlainMail, 2, {}, {}, { kIncomplete }, 0, 0 },
    { "NamedPropertyCannotBeResolved", "IMessage.GetIDsFromNames=fail@1", PlainMail, 2, {},
      { "Failed on GetIDsFromNames" }, { kIncomplete }, 0, 0 },
    { "TagArrayFreeFailsAndTheJobGoesOn", "MAPIFreeBuffer=fail@4", PlainMail, 2, {}, { "Failed on PF_MAPIFreeBuffer" },
      { "# 2, To: r2@example.com. Sent Successfully", kComplete }, 1, 2, {}, NoSetup, -1, 1 },
    { "TransportValueCannotBeAllocated", "MAPIAllocateBuffer=fail@4", PlainMail, 2, {},
      { "Failed to allocate SPropValue for SetProps 2" }, { kIncomplete }, 0, 0 },
    { "TransportPropertyCannotBeSet", "IMessage.SetProps=fail@2", PlainMail, 2, {},
      { "Injected fault in IMessage.SetProps" }, { kIncomplete }, 0, 0 },
    { "TransportPropertyOfAnHtmlCopyCannotBeSet", "IMessage.SetProps=fail@1", HtmlMail, 2, {},
      { "Injected fault in IMessage.SetProps" }, { kIncomplete }, 0, 0 },

    // Saving the copy's changes before it moves.
    { "CopyChangesCannotBeSaved", "IMessage.SaveChanges=fail@1", PlainMail, 2, {},
      { "Failed to save message to: r1@example.com" },
      { "Failed to save message to: r1@example.com\r\n", kIncomplete }, 0, 0 },
    { "SecondCopyChangesCannotBeSaved", "IMessage.SaveChanges=fail@2", HtmlMail, 3, {},
      { "Failed to save message to: r2@example.com" },
      { "# 1, To: r1@example.com. Sent Successfully\r\nFailed to save message to: r2@example.com\r\n", kIncomplete },
      0, 1 },
    { "SavingTheCopyChangesRaises", "IMessage.SaveChanges=raise@1", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 106" },
      { Raised("IMessage.SaveChanges", "Unknown error caught during message 1 at line 106"), kIncomplete }, 0, 0 },

    { "EditorFormatRaises", "IMessage.SetProps=raise@1", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 14" },
      { Raised("IMessage.SetProps", "Unknown error caught during message 1 at line 14"), kIncomplete }, 0, 0 },
    { "NamedPropertyThrows", "IMessage.GetIDsFromNames=throw@1", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 14" },
      { "Unknown error caught during message 1 at line 14\r\n", kIncomplete }, 0, 0 },

    // Outbox and Sent Mail.
    // A copy submitted where it lies is in the store's outgoing queue all the
    // same, and the flush sends it.
    { "SessionUnavailableAndTheCopyIsSubmittedWhereItIs", "Application.Session.get=fail@1", PlainMail, 1, {}, {},
      { "# 1, To: r1@example.com. Sent Successfully", kComplete }, 1, 1 },
    { "OutboxMissingAndTheCopyIsSubmittedWhereItIs", "NameSpace.GetDefaultFolder=fail@1", PlainMail, 1, {}, {},
      { Unreported("Error caught moving message to Outbox during message 1"),
        "# 1, To: r1@example.com. Sent Successfully", kComplete },
      1, 1 },
    { "SentMailFolderMissing", "NameSpace.GetDefaultFolder=fail@2", PlainMail, 2, {},
      { "Failed to find default Sent Mail folder" }, { kIncomplete }, 0, 0 },
    { "SentCopyFolderCannotBeSet", "MailItem.SaveSentMessageFolder.putref=fail@1", PlainMail, 2, {},
      { "Failed to direct sent message to Sent Items folder" }, { kIncomplete }, 0, 0 },
    { "MoveRaisesAndTheCopyIsSubmittedWhereItIs", "MailItem.Move=raise@1", PlainMail, 1, {}, {},
      { Raised("MailItem.Move", "Error caught moving message to Outbox during message 1"),
        "# 1, To: r1@example.com. Sent Successfully", kComplete },
      1, 1 },
    { "FirstMoveRaisesAndBothCopiesGoInTurn", "MailItem.Move=raise@1", PlainMail, 2, {}, {},
      { Raised("MailItem.Move", "Error caught moving message to Outbox during message 1"),
        "# 1, To: r1@example.com. Sent Successfully", "# 2, To: r2@example.com. Sent Successfully", kComplete },
      1, 2 },
    { "MoveThrows", "MailItem.Move=throw@1", PlainMail, 1, {}, {},
      { "Error caught moving message to Outbox during message 1\r\n", "# 1, To: r1@example.com. Sent Successfully",
        kComplete },
      1, 1 },
    // Past the move, only the moved item's message can be submitted: the
    // copy's no longer exists.
    { "SavingTheMovedItemRaises", "MailItem.Save=raise@4", PlainMail, 1, {}, {},
      { Raised("MailItem.Save", "Error caught moving message to Outbox during message 1"),
        "# 1, To: r1@example.com. Sent Successfully", kComplete },
      1, 1 },
    { "MovedItemGivesNoMapiObject", "MailItem.MAPIOBJECT.get=fail@3", PlainMail, 2, {}, {},
      { Unreported("Error caught moving message to Outbox during message 1"), kIncomplete }, 0, 0 },

    // Submission and flush.
    { "SubmissionFailsAndTheUserStops", "IMessage.SubmitMessage=fail@1", PlainMail, 2, { IDOK, IDNO },
      { "Failed to submit message to: r1@example.com", Question("Continue Sending Anyway?") },
      { "Failed to submit message to: r1@example.com\r\n", kIncomplete }, 0, 0 },
    { "SecondSubmissionFailsAndTheUserStops", "IMessage.SubmitMessage=fail@2", PlainMail, 3, { IDOK, IDNO },
      { "Failed to submit message to: r2@example.com", Question("Continue Sending Anyway?") },
      { "# 1, To: r1@example.com. Sent Successfully\r\n(", "# 2, To: r2@example.com. Sending\r\nFailed to submit message to: r2@example.com\r\n(",
        "To: r2@example.com. Not Sent: the submission failed (0x80004005)\r\n", kIncomplete },
      0, 1 },
    // A copy whose submission failed or raised went nowhere: it is not
    // counted, and the job goes on but cannot complete.
    { "SubmissionFailsAndTheUserGoesOn", "IMessage.SubmitMessage=fail@1", PlainMail, 2, { IDOK, IDYES },
      { "Failed to submit message to: r1@example.com", Question("Continue Sending Anyway?") },
      { "Failed to submit message to: r1@example.com\r\n(",
        "# 1, To: r1@example.com. Not Sent: the submission failed (0x80004005)\r\n",
        "# 2, To: r2@example.com. Sending\r\n", "# 2, To: r2@example.com. Sent Successfully", kIncomplete },
      0, 1 },
    { "SubmissionRefusedForWantOfRecipients", "IMessage.SubmitMessage=fail:0x80040607@1", PlainMail, 2,
      { IDOK, IDNO }, { "Failed to submit message to: r1@example.com", Question("Continue Sending Anyway?") },
      { "Failed to submit message to: r1@example.com\r\n", kIncomplete }, 0, 0 },
    { "SubmissionRaises", "IMessage.SubmitMessage=raise@1", PlainMail, 2, {}, {},
      { Raised("IMessage.SubmitMessage", "SubmitMessage error caught during message 1"),
        "# 1, To: r1@example.com. Not Sent: the submission raised an error (0x80004005)\r\n",
        "# 2, To: r2@example.com. Sent Successfully", kIncomplete },
      0, 1 },
    { "SubmissionThrows", "IMessage.SubmitMessage=throw@1", PlainMail, 1, {}, {},
      { "SubmitMessage error caught during message 1\r\n",
        "To: r1@example.com. Not Sent: the submission raised an error (0x8000FFFF)\r\n", kIncomplete },
      0, 0 },
    // Sent is what the spooler took: a copy the flush did not take waits in
    // the queue, so it is taken back out and not counted.
    { "FlushRaises", "IMAPISession.GetStatusTable=raise@1", PlainMail, 1, {}, {},
      { Raised("IMAPISession.GetStatusTable", "MAPIFlushQueues error caught during message 1"), kTakenBack1,
        kIncomplete },
      0, 0 },
    { "FlushThrows", "IMAPISession.GetStatusTable=throw@1", PlainMail, 1, {}, {},
      { "MAPIFlushQueues error caught during message 1\r\n", kTakenBack1, kIncomplete }, 0, 0 },
    { "SpoolerOpeningRaises", "IMAPISession.OpenEntry=raise@1", PlainMail, 1, {}, {},
      { Raised("IMAPISession.OpenEntry", "MAPIFlushQueues error caught during message 1"), kTakenBack1, kIncomplete },
      0, 0 },
    { "FlushQueuesRaises", "IMAPIStatus.FlushQueues=raise@1", PlainMail, 1, {}, {},
      { Raised("IMAPIStatus.FlushQueues", "MAPIFlushQueues error caught during message 1"), kTakenBack1, kIncomplete },
      0, 0 },
    { "FlushFailsQuietly", "IMAPIStatus.FlushQueues=fail@*", PlainMail, 2, {}, {},
      { kTakenBack1, kTakenBack2, kIncomplete }, 0, 0 },
    { "StatusTableFailsQuietly", "IMAPISession.GetStatusTable=fail@*", PlainMail, 2, {}, {},
      { kTakenBack1, kTakenBack2, kIncomplete }, 0, 0 },
    { "SpoolerRowsCannotBeQueried", "HrQueryAllRows=fail@*", PlainMail, 2, {}, {},
      { kTakenBack1, kTakenBack2, kIncomplete }, 0, 0 },
    { "SpoolerCannotBeOpened", "IMAPISession.OpenEntry=fail@*", PlainMail, 2, {}, {},
      { kTakenBack1, kTakenBack2, kIncomplete }, 0, 0 },
    { "NoSpoolerToFlush", "", PlainMail, 2, {}, {}, { kTakenBack1, kTakenBack2, kIncomplete }, 0, 0, {},
      NoSpoolerRow },
    // A server over its quota refuses every copy after it: no question, the
    // job stops before the next one, and what is left can be resumed.
    { "SubmissionOverQuotaStopsTheJob", "IMessage.SubmitMessage=fail:0x8004060C@2", PlainMail, 3, {},
      { "The mail server takes no more mail for now: the submission was refused (0x8004060C: Injected fault in "
        "IMessage.SubmitMessage).\n\nIt may have "
        "reached a sending limit. The job stops here; the rest of the list can be resumed later with the same "
        "list, once the server takes mail again." },
      { "# 1, To: r1@example.com. Sent Successfully\r\n(", "To: r2@example.com. Not Sent: the submission failed (0x8004060C)\r\n(",
        ") Stopped: the mail server takes no more mail for now (the submission was refused (0x8004060C: "
        "Injected fault in IMessage.SubmitMessage))\r\n",
        kIncomplete },
      0, 1 },
    { "FlushOverQuotaStopsTheJob", "IMAPIStatus.FlushQueues=fail:0x8004060C@1", PlainMail, 2, {},
      { "The mail server takes no more mail for now: the outgoing queue was refused (0x8004060C).\n\nIt may have "
        "reached a sending limit. The job stops here; the rest of the list can be resumed later with the same "
        "list, once the server takes mail again." },
      { kTakenBack1, "Stopped: the mail server takes no more mail for now (the outgoing queue was refused (0x8004060C))",
        kIncomplete },
      0, 0 },
    // Taken back, the first copy is not sent by the second flush either.
    { "FirstFlushFailsAndItsCopyIsTakenBack", "IMAPIStatus.FlushQueues=fail@1", PlainMail, 2, {}, {},
      { kTakenBack1, "# 2, To: r2@example.com. Sent Successfully", kIncomplete }, 0, 1 },
    // The last copy, unflushed when the job ends, is not sent either.
    { "LastFlushFailsAndItsCopyIsTakenBack", "IMAPIStatus.FlushQueues=fail@2", PlainMail, 2, {}, {},
      { "# 1, To: r1@example.com. Sent Successfully", kTakenBack2, kIncomplete }, 0, 1 },

    // Send/Receive, before a recipient and at the end of the list.
    { "SendReceiveThrowsAndIsIgnored", "Explorer.CommandBars.get=throw@*", PlainMail, 3, {}, {},
      { "# 3, To: r3@example.com. Sent Successfully", kComplete }, 1, 3, {}, SendReceiveEveryMessage },
    { "SendReceiveRaisesAndIsIgnored", "CommandBars.FindControl=raise@*", PlainMail, 3, {}, {},
      { "# 3, To: r3@example.com. Sent Successfully", kComplete }, 1, 3, {}, SendReceiveEveryMessage },
    { "SendReceiveFailsQuietly", "CommandBarControl.Execute=fail@*", PlainMail, 3, {}, {},
      { "# 3, To: r3@example.com. Sent Successfully", kComplete }, 1, 3, {}, SendReceiveEveryMessage },

    // Anything else inside the loop.
    { "SavingTheCopyRaises", "MailItem.Save=raise@2", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 7" },
      { Raised("MailItem.Save", "Unknown error caught during message 1 at line 7"), kIncomplete }, 0, 0 },
    { "SecondSaveOfTheCopyRaises", "MailItem.Save=raise@3", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 11" },
      { Raised("MailItem.Save", "Unknown error caught during message 1 at line 11"), kIncomplete }, 0, 0 },
    { "SavingTheCopyThrows", "MailItem.Save=throw@2", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 7" },
      { "Unknown error caught during message 1 at line 7\r\n", kIncomplete }, 0, 0 },
    { "SubjectOfTheCopyThrows", "MailItem.Subject.put=throw@1", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 9" },
      { "Unknown error caught during message 1 at line 9\r\n", kIncomplete }, 0, 0 },
    { "BodyOfTheCopyThrows", "MailItem.Body.put=throw@1", PlainMail, 2, {},
      { "Unknown error caught during message 1 at line 10" },
      { "Unknown error caught during message 1 at line 10\r\n", kIncomplete }, 0, 0 },
    { "SavingTheSecondCopyRaises", "MailItem.Save=raise@5", PlainMail, 2, {},
      { "Unknown error caught during message 2 at line 7" },
      { "# 1, To: r1@example.com. Sent Successfully",
        Raised("MailItem.Save", "Unknown error caught during message 2 at line 7"), kIncomplete },
      0, 1 },
};

INSTANTIATE_TEST_SUITE_P(Jobs, EngineFailureTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.pszName); });

class EngineEdgeTest : public EngineJobTest {};

TEST_F(EngineEdgeTest, SendReceiveThatThrowsIsTriedBeforeEveryMessageButTheFirstAndAtTheEnd)
{
    ComposePlain("S", "B");
    JobOptions.DoSendRecv = 1;
    JobOptions.SendRecvCount = 1;
    WriteList(NumberedList(3));
    SetFaultPlan("Explorer.CommandBars.get=throw@*");
    RunJob();
    ExpectJobEnded({ {}, 1, 3, EveryLog });
    EXPECT_EQ(FaultCallCount("Explorer.CommandBars.get"), 3);
}

TEST_F(EngineEdgeTest, ItemWithoutMapiObjectRefusesToRunBeforeMapiIsTouched)
{
    ComposePlain("S", "B");
    WriteList(NumberedList(1));
    SetFaultPlan("MailItem.MAPIOBJECT.get=fail@1");
    RunJob();
    ExpectJobEnded({ { FromDesktop("Error: m_pMAPIMessage == NULL") }, 0, 0, NoLog });
    EXPECT_EQ(FaultCallCount("MAPIInitialize"), 0);
}

TEST_F(EngineEdgeTest, MapiLibraryWithoutAnEntryPointEndsTheJobBeforeAnyLog)
{
    StartHost("standin-nofreepadrlist");
    ComposePlain("S", "B");
    WriteList(NumberedList(2));
    RunJob();
    ExpectJobEnded({ { FromDesktop("Error: Failed to load MAPI functions") }, 0, 0, NoLog });
    EXPECT_EQ(FaultCallCount("MAPIInitialize"), 0);
}

TEST_F(EngineEdgeTest, FailedInitializationIsNotUndone)
{
    ComposePlain("S", "B");
    WriteList(NumberedList(1));
    SetFaultPlan("MAPIInitialize=fail@1");
    RunJob();
    ExpectJobEnded({ { FromDesktop("Error: Failed to initialize MAPI") }, 1, 1, EveryLog });
    EXPECT_EQ(FaultCallCount("MAPIInitialize"), 1);
    EXPECT_EQ(FaultCallCount("MAPIUninitialize"), 0);

    SetFaultPlan("");
    RunJob();
    ExpectJobEnded({ {}, 1, 1, EveryLog });
    EXPECT_EQ(FaultCallCount("MAPIInitialize"), 1);
    EXPECT_EQ(FaultCallCount("MAPIUninitialize"), 1);
}

TEST_F(EngineEdgeTest, CopyRaisingEveryTimeIsTriedElevenTimes)
{
    ComposePlain("S", "B");
    WriteList(NumberedList(2));
    SetFaultPlan("MailItem.Copy=raise@*");
    RunJob();
    ExpectJobEnded({ { "Caught exception during message copy A: 1 (11)" }, 0, 0, EveryLog });
    EXPECT_EQ(FaultCallCount("MailItem.Copy"), 11);
    EXPECT_GE(m_dwElapsed, 9500u);
    std::string log = CurrentLog();
    for (int i = 1; i <= 11; ++i)
        EXPECT_NE(log.find("Location: Caught exception during message copy A: 1 (" + std::to_string(i) + ")\r\n"),
                  std::string::npos)
            << i;
    EXPECT_EQ(log.find("(12)"), std::string::npos);
}

TEST_F(EngineEdgeTest, MapiLibraryThatDoesNotLoadEndsTheJobBeforeAnyLog)
{
    // No MAPI module in the process, and the system's own refused by the loader.
    ScopedRegValue refused(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", "mapi32", REG_SZ, "");
    StartHost(NULL);
    ASSERT_TRUE(GetModuleHandleA("olmapi32.dll") == NULL);
    ASSERT_TRUE(GetModuleHandleA("msmapi32.dll") == NULL);
    HMODULE hSystemMapi = LoadLibraryA("mapi32.dll");
    if (hSystemMapi)
        FreeLibrary(hSystemMapi);
    ASSERT_TRUE(hSystemMapi == NULL) << "the loader still gives mapi32.dll";
    ComposePlain("S", "B");
    WriteList(NumberedList(2));
    RunJob();
    ExpectJobEnded({ { FromDesktop("Error: Failed to load MAPI DLL") }, 0, 0, NoLog });
    EXPECT_EQ(FaultCallCount("MAPIInitialize"), 0);
}

// When the job that CurrentJob.txt tells of started, as its "Job Started" line has it.
std::string StartedOf(const std::string& log)
{
    size_t nStart = log.find("Job Started: (");
    size_t nEnd = nStart == std::string::npos ? nStart : log.find(")", nStart);
    return nEnd == std::string::npos ? std::string() : log.substr(nStart + 14, nEnd - nStart - 14);
}

// The resume question as Send asks it.
std::string ResumeQuestion(const std::string& subject, const std::string& started, int nSent, int nTotal,
                           bool bHeaderChanged = false)
{
    return "The last job to this mailing list, \"" + subject + "\" started " + started + ", sent to " +
           std::to_string(nSent) + " of its " + std::to_string(nTotal) + " recipients and did not complete." +
           (bHeaderChanged ? " The list's header has changed since: a recipient counts as sent when its address "
                             "and its values in the columns both headers share are the same."
                           : "") +
           " Send only to the " + std::to_string(nTotal - nSent) +
           " recipients who have not had it yet?\n\nChoose No to send to every recipient of the list.";
}

TEST_F(EngineEdgeTest, AFailedJobIsResumedFromItsSentListAndACompletedOneIsNot)
{
    ComposePlain("S [[Name]]", "B");
    WriteList(NumberedList(4));
    SetFaultPlan("IMessage.ModifyRecipients=fail@3");
    RunJob();
    ExpectJobEnded({ { "Failed to add recipient: r3@example.com" }, 0, 2, EveryLog });

    SetFaultPlan("");
    m_boxes->Answer(IDYES);
    std::string started = StartedOf(CurrentLog());
    RunJob();
    ExpectJobEnded({ { Question(ResumeQuestion("S [[Name]]", started, 2, 4)) },
                     1, 2, EveryLog, {}, 0, { "r1@example.com", "r2@example.com" } });
    EXPECT_NE(CurrentLog().find("\t\tSave Original: 1\r\n\tFrom: user@standin.example\r\n\tResumed: 2 recipients "
                                "already sent on (" + started + ")"),
              std::string::npos)
        << CurrentLog();
    EXPECT_NE(History().find("\tResumed: 2 recipients already sent on ("), std::string::npos);
    // The progress counts the two passed over: the last copy is the 4th of 4,
    // three quarters of the list done before it, half of this job's own part.
    EXPECT_STREQ(JobProgress.statusText, "4 of 4: Flushing Message");
    EXPECT_DOUBLE_EQ(JobProgress.percentDone, 75.0);
    EXPECT_DOUBLE_EQ(JobOwnPercentDone(), 50.0);

    RunJob();
    ExpectJobEnded({ {}, 1, 4, EveryLog });
}

TEST_F(EngineEdgeTest, TwoRecipientsWhoShareAnAddressAreTwoRecipientsOfTheResume)
{
    // Two children's reports to one parent: the first sent, the second refused.
    ComposePlain("Report for [[Name]]", "B");
    WriteList("Name,E-Mail Address\r\nAnn,parent@example.com\r\nBob,parent@example.com\r\nCid,c@example.com\r\n");
    SetFaultPlan("IMessage.ModifyRecipients=fail@2");
    // Asked about the shared address first, the user sends to both records.
    ExpectedBox shared = ListCheckQuestion("1 address appears more than once: parent@example.com on lines 2 and 3.",
                                           true);
    m_boxes->Answer(IDYES);
    RunJob();
    ExpectJobEnded({ { shared, "Failed to add recipient: parent@example.com" }, 0, 1, EveryLog });

    SetFaultPlan("");
    std::string started = StartedOf(CurrentLog());
    size_t nBefore = DeliveredFiles().size();
    RunJob();
    ExpectJobEnded({ { shared, Question(ResumeQuestion("Report for [[Name]]", started, 1, 3)) },
                     1, 2, EveryLog, {}, 0, { "parent@example.com" } });
    std::vector<DeliveredView> delivered = Delivered();
    ASSERT_EQ(delivered.size(), nBefore + 2);
    EXPECT_EQ(delivered[nBefore].subject, "Report for Bob");
    EXPECT_EQ(delivered[nBefore].to, "parent@example.com");
    EXPECT_EQ(delivered[nBefore + 1].to, "c@example.com");
}

TEST_F(EngineEdgeTest, AnotherMessageToTheListIsNotOfferedTheResume)
{
    ComposePlain("March [[Name]]", "B");
    WriteList(NumberedList(4));
    SetFaultPlan("IMessage.ModifyRecipients=fail@3");
    RunJob();
    ExpectJobEnded({ { "Failed to add recipient: r3@example.com" }, 0, 2, EveryLog });

    // The April newsletter goes to everyone, without a question.
    SetFaultPlan("");
    m_pMail->Release();
    m_pMail = NULL;
    ComposePlain("April [[Name]]", "B");
    RunJob();
    ExpectJobEnded({ {}, 1, 4, EveryLog });
}

TEST_F(EngineEdgeTest, AnEditedListIsResumedOnTheColumnsBothHeadersShare)
{
    ComposePlain("S [[Name]]", "B");
    WriteList(NumberedList(4));
    SetFaultPlan("IMessage.ModifyRecipients=fail@3");
    RunJob();
    ExpectJobEnded({ { "Failed to add recipient: r3@example.com" }, 0, 2, EveryLog });

    // Saved again with quotes around the header, a column added and the
    // second recipient deleted: the counts are of the list as it is now.
    std::string started = StartedOf(CurrentLog());
    WriteList("\"Name\",\"E-Mail Address\",City\r\nPerson 1,r1@example.com,Oslo\r\nPerson 3,r3@example.com,Oslo\r\n"
              "Person 4,r4@example.com,Rome\r\n");
    SetFaultPlan("");
    m_boxes->Answer(IDYES);
    RunJob();
    ExpectJobEnded({ { Question(ResumeQuestion("S [[Name]]", started, 1, 3, true)) },
                     1, 2, EveryLog, {}, 0, { "r1@example.com" } });

    // A value changed in a shared column is another recipient: sent again.
    WriteList(NumberedList(2));
    SetFaultPlan("IMessage.ModifyRecipients=fail@2");
    RunJob();
    ExpectJobEnded({ { "Failed to add recipient: r2@example.com" }, 0, 1, EveryLog });
    WriteList("Name,E-Mail Address\r\nPerson One,r1@example.com\r\nPerson 2,r2@example.com\r\n");
    SetFaultPlan("");
    RunJob();
    ExpectJobEnded({ {}, 1, 2, EveryLog });
}

TEST_F(EngineEdgeTest, AJobToAnotherListInBetweenKeepsTheResume)
{
    ComposePlain("S [[Name]]", "B");
    WriteList(NumberedList(4));
    std::string list = JobOptions.ToList;
    SetFaultPlan("IMessage.ModifyRecipients=fail@3");
    RunJob();
    ExpectJobEnded({ { "Failed to add recipient: r3@example.com" }, 0, 2, EveryLog });
    std::string started = StartedOf(CurrentLog());

    // A one-line mailing to another list, which completes.
    SetFaultPlan("");
    WriteList("Name,E-Mail Address\r\nOther,other@example.com\r\n", "other.csv");
    RunJob();
    ExpectJobEnded({ {}, 1, 1, EveryLog });
    EXPECT_NE(CurrentLog().find("other.csv"), std::string::npos);

    WriteList(NumberedList(4));
    m_boxes->Answer(IDYES);
    RunJob();
    ExpectJobEnded({ { Question(ResumeQuestion("S [[Name]]", started, 2, 4)) },
                     1, 2, EveryLog, {}, 0, { "r1@example.com", "r2@example.com" } });

    // Completed: its record is gone, and no resume is offered any more,
    // whichever jobs run in between.
    WriteList("Name,E-Mail Address\r\nOther,other@example.com\r\n", "other.csv");
    SetFaultPlan("IMessage.ModifyRecipients=fail@1");
    RunJob();
    ExpectJobEnded({ { "Failed to add recipient: other@example.com" }, 0, 0, EveryLog });
    SetFaultPlan("");
    WriteList(NumberedList(4));
    RunJob();
    ExpectJobEnded({ {}, 1, 4, EveryLog });
}

TEST_F(EngineEdgeTest, FailedJobsInARowEachCloseTheirOwnLogs)
{
    ComposePlain("S", "B");
    WriteList(NumberedList(2));
    SetFaultPlan("IMessage.ModifyRecipients=fail@2");
    RunJob();
    ExpectJobEnded({ { "Failed to add recipient: r2@example.com" }, 0, 1, EveryLog });

    // The same list again after a job that did not complete: the resume
    // question, answered No, sends to everyone.
    std::string started = StartedOf(CurrentLog());
    SetFaultPlan("IMessage.SubmitMessage=fail@1");
    m_boxes->Answer(IDNO);
    m_boxes->Answer(IDOK);
    m_boxes->Answer(IDNO);
    RunJob();
    ExpectJobEnded({ { Question("The last job to this mailing list, \"S\" started " + started +
                                ", sent to 1 of its 2 recipients and did not complete. Send only to the 1 recipient "
                                "who has not had it yet?\n\nChoose No to send to every recipient of the list."),
                       "Failed to submit message to: r1@example.com", Question("Continue Sending Anyway?") },
                     0, 0, EveryLog });

    // Nothing was sent and the failed copy has its result: nothing to resume.
    SetFaultPlan("");
    RunJob();
    ExpectJobEnded({ {}, 1, 2, EveryLog });
}

}  // namespace
