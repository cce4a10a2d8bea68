#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "resources/resource.h"
#include "settings/data_paths.h"
#include "tests/support/message_box_recorder.h"
#include "ui/message_box.h"

namespace {

const UINT kLongTestString = 4000;   // 300 characters, in the test program's own table

struct Entry {
    UINT uId;
    const char* pszText;
};

const Entry kEntries[] = {
    { 2, "Failed to find DLL directory." },
    { 3, "options" },
    { 4, "Please fill in the Mailing List to use." },
    { 5, "Only one mailing can happen at a time.  Currently, there is already another mailing job in progress." },
    { 6, "Could not open the mailing list file for reading." },
    { 7, "Error: Failed to allocate memory." },
    { 8, "\"E-Mail\" field could not be found in the mailing list.\nThis is a required field.\n"
         "See the online help for mailing lists." },
    { 9, "Would you like to read about Mailing Lists in the online help?" },
    { 10, "mailing lists" },
    { 12, "Failed to open current job log for writing." },
    { 13, "Failed to open historical job log for appending." },
    { 14, "Failed to open log file for sent e-mails." },
    { 15, "Mail merge failed.\nMake sure no fields are greater than 32,767 characters." },
    { 16, "Select Mailing List" },
    { 17, "Failed to find application data directory." },
    { 36, "The file name association is incomplete or invalid." },
    { 37, "There is no application associated with the given file name extension." },
    { 38, "There was not enough memory to complete the operation." },
    { 39, "Other ShellExecute Error" },
    { 40, "Please enter a delay value between 0 and 9999 seconds." },
    { 45, "job logs" },
    { 46, "preview" },
    { 47, "Please enter a number of messages a minute between 0 and 9999 (0 means no limit)." },
    { 48, "Please enter a number of recipients in 24 hours between 0 and 1000000 (0 means no limit)." },
    { 49, "Please enter a variation between 0 and %s seconds: the pause cannot be varied by more than its own "
          "length." },
    { 50, "Limits of my own" },
    { 51, "The time to send at, %s, has passed. Send now?" },
};

std::string LoadEntry(UINT uId)
{
    char sz[1024];
    int cch = LoadStringA(ghInstance, uId, sz, sizeof(sz));
    return std::string(sz, cch > 0 ? cch : 0);
}

class StringTableTest : public testing::Test {
protected:
    StringTableTest() { ghInstance = GetModuleHandleA(NULL); }
};

TEST_F(StringTableTest, EveryEntryHasItsExactText)
{
    for (const Entry& entry : kEntries)
        EXPECT_EQ(LoadEntry(entry.uId), entry.pszText) << "id " << entry.uId;
}

TEST_F(StringTableTest, NoOtherIdsBelowTheTestRange)
{
    for (UINT uId = 0; uId < 200; ++uId) {
        bool bListed = false;
        for (const Entry& entry : kEntries)
            bListed = bListed || entry.uId == uId;
        if (!bListed) {
            EXPECT_EQ(LoadEntry(uId), "") << "id " << uId;
        }
    }
}

TEST_F(StringTableTest, EntryFiveKeepsBothBlanks)
{
    EXPECT_NE(LoadEntry(IDS_ONE_MAILING_AT_A_TIME).find("at a time.  Currently"), std::string::npos);
}

TEST_F(StringTableTest, WarningsShowTheirLinesWithCaptionIconAndOkButton)
{
    HWND hOwner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    MessageBoxRecorder boxes;

    EXPECT_EQ(ShowStringMessage(hOwner, IDS_NO_EMAIL_FIELD, "Lettercast", MB_ICONWARNING | MB_OK), IDOK);
    EXPECT_EQ(ShowStringMessage(hOwner, IDS_MERGE_FAILED, "Lettercast", MB_ICONWARNING | MB_OK), IDOK);

    ASSERT_EQ(boxes.Boxes().size(), 2u);
    const RecordedBox& fieldBox = boxes.Boxes()[0];
    EXPECT_EQ(fieldBox.text, kEntries[6].pszText);
    EXPECT_EQ(std::count(fieldBox.text.begin(), fieldBox.text.end(), '\n'), 2);   // three lines
    EXPECT_EQ(fieldBox.caption, "Lettercast");
    EXPECT_EQ(fieldBox.uStyle, (UINT)(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(fieldBox.hWndOwner, hOwner);
    const RecordedBox& mergeBox = boxes.Boxes()[1];
    EXPECT_EQ(std::count(mergeBox.text.begin(), mergeBox.text.end(), '\n'), 1);   // two lines
    DestroyWindow(hOwner);
}

TEST_F(StringTableTest, QuestionReturnsTheButtonPressed)
{
    MessageBoxRecorder boxes;
    boxes.Answer(IDYES);
    boxes.Answer(IDNO);
    EXPECT_EQ(ShowStringMessage(GetDesktopWindow(), IDS_ASK_MAILING_LIST_HELP, "Lettercast",
                                MB_ICONQUESTION | MB_YESNO), IDYES);
    EXPECT_EQ(ShowStringMessage(GetDesktopWindow(), IDS_ASK_MAILING_LIST_HELP, "Lettercast",
                                MB_ICONQUESTION | MB_YESNO), IDNO);
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[0].uStyle, (UINT)(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(boxes.Boxes()[0].text, "Would you like to read about Mailing Lists in the online help?");
}

TEST_F(StringTableTest, AnInsertTakesThePlaceOfTheEntrysPercentS)
{
    MessageBoxRecorder boxes;
    boxes.Answer(IDNO);
    EXPECT_EQ(ShowStringMessageWith(GetDesktopWindow(), IDS_SEND_AT_PASSED, "Thu 2 January 2020 09:05", "Lettercast",
                                    MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(ShowStringMessageWith(GetDesktopWindow(), IDS_VARIATION_OUT_OF_RANGE, "12", "Lettercast", 0), IDOK);
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[0].text, "The time to send at, Thu 2 January 2020 09:05, has passed. Send now?");
    EXPECT_EQ(boxes.Boxes()[0].uStyle, (UINT)(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
    EXPECT_EQ(boxes.Boxes()[0].caption, "Lettercast");
    EXPECT_EQ(boxes.Boxes()[1].text, "Please enter a variation between 0 and 12 seconds: the pause cannot be varied by "
                                     "more than its own length.");
    EXPECT_EQ(boxes.Boxes()[1].uStyle, (UINT)MB_OK);
}

TEST_F(StringTableTest, PlainBoxHasNoIcon)
{
    MessageBoxRecorder boxes;
    EXPECT_EQ(ShowStringMessage(GetDesktopWindow(), IDS_FILL_IN_MAILING_LIST, "Lettercast", 0), IDOK);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].uStyle, (UINT)MB_OK);
}

TEST_F(StringTableTest, OnlyTheLowSixteenBitsReachTheBox)
{
    MessageBoxRecorder boxes;
    boxes.Answer(IDNO);
    EXPECT_EQ(ShowStringMessage(GetDesktopWindow(), IDS_ASK_MAILING_LIST_HELP, "Lettercast",
                                0x7FFF0000u | MB_ICONQUESTION | MB_YESNO), IDNO);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].uStyle, (UINT)(MB_YESNO | MB_ICONQUESTION));
}

TEST_F(StringTableTest, LongEntryIsCutAt254Characters)
{
    std::string full = LoadEntry(kLongTestString);
    ASSERT_EQ(full.size(), 300u);
    MessageBoxRecorder boxes;
    ShowStringMessage(GetDesktopWindow(), kLongTestString, "Lettercast", MB_OK);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, full.substr(0, 254));
}

}  // namespace
