// The texts every subsystem shares: conversions between code pages and the
// bounded copy.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "mailing/bounded_copy.h"
#include "mailing/mail_merge.h"
#include "mailing/text_conversion.h"

namespace {

TEST(TextConversion, TextsCrossTheAnsiBoundaryWhole)
{
    BSTR bstr = AnsiToBstr("Caf\xe9 [[Name]]");
    ASSERT_TRUE(bstr != NULL);
    EXPECT_EQ(SysStringLen(bstr), 13u);
    EXPECT_EQ(bstr[3], L'\u00e9');
    char* psz = WideToAnsiHeap(bstr);
    ASSERT_TRUE(psz != NULL);
    EXPECT_STREQ(psz, "Caf\xe9 [[Name]]");
    free(psz);
    SysFreeString(bstr);

    std::wstring longText(5000, L'a');
    psz = WideToAnsiHeap(longText.c_str());
    ASSERT_TRUE(psz != NULL);
    EXPECT_EQ(strlen(psz), 5000u);
    free(psz);
    EXPECT_TRUE(WideToAnsiHeap(NULL) == NULL);
}

TEST(TextConversion, WideToAnsiCutsToTheBuffer)
{
    char sz[6];
    WideToAnsi(L"abcdefgh", sz, sizeof(sz));
    EXPECT_STREQ(sz, "abcde");
    WideToAnsi(NULL, sz, sizeof(sz));
    EXPECT_STREQ(sz, "");
}

TEST(BoundedCopy, CopiesWhatFitsAndAlwaysTerminates)
{
    struct Case {
        const char* pszFrom;
        long long cchCapacity;
        size_t cchMax;
        const char* pszExpected;   // NULL: the buffer is left as it was
    };
    const size_t kAll = (size_t)-1;
    static const Case kCases[] = {
        { "abc", 10, kAll, "abc" },
        { "abcdef", 4, kAll, "abc" },      // capacity - 1 characters
        { "abcdef", 7, kAll, "abcdef" },   // exactly fits with its terminator
        { "abcdef", 10, 2, "ab" },         // the caller's own limit
        { "abcdef", 3, 5, "ab" },          // the smaller of the two
        { "ab", 10, 5, "ab" },             // a limit past the text stops at its end
        { "abc", 1, kAll, "" },
        { "", 10, kAll, "" },
        { NULL, 10, kAll, "" },            // no text reads as an empty one
        { "abc", 0, kAll, NULL },
        { "abc", -5, kAll, NULL },         // an int capacity below 1
    };
    for (const Case& c : kCases) {
        char sz[16];
        memset(sz, 'x', sizeof(sz));
        sz[sizeof(sz) - 1] = '\0';
        CopyBounded(sz, c.cchCapacity, c.pszFrom, c.cchMax);
        SCOPED_TRACE(std::string(c.pszFrom ? c.pszFrom : "(null)") + " into " + std::to_string(c.cchCapacity));
        if (c.pszExpected) {
            EXPECT_STREQ(sz, c.pszExpected);
            // Nothing written past the terminator.
            EXPECT_EQ(sz[strlen(c.pszExpected) + 1], 'x');
        } else {
            EXPECT_EQ(strspn(sz, "x"), sizeof(sz) - 1);
        }
    }
    CopyBounded(NULL, 10, "abc");   // no buffer: nothing to do, no fault
}

TEST(BoundedCopy, EveryLineBreakBecomesOneSpaceUnlikeTheSubjectsFold)
{
    char sz[32];
    CopyBounded(sz, sizeof(sz), "Work\r\nEmail\rA\nB");
    SpaceEveryLineBreak(sz);
    EXPECT_STREQ(sz, "Work  Email A B");

    // A subject folds a CR LF into one space.
    char szSubject[] = "Work\r\nEmail\rA\nB";
    MakeOneLine(szSubject);
    EXPECT_STREQ(szSubject, "Work Email A B");
}

}  // namespace
