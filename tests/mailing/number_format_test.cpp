// A workbook cell's number as Excel shows it: the built-in formats, the
// workbook's own codes, both date systems and the user's locale.
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <string>

#include "mailing/number_format.h"

namespace {

// German (Germany) as Windows gives it, built by hand so that the test does
// not hang on the machine's own locale.
NumberLocale GermanLocale()
{
    static const char* const kapszMonths[12] = { "Januar", "Februar", "M\xc3\xa4rz", "April", "Mai", "Juni",
                                                 "Juli", "August", "September", "Oktober", "November", "Dezember" };
    static const char* const kapszMonthsShort[12] = { "Jan", "Feb", "M\xc3\xa4r", "Apr", "Mai", "Jun",
                                                      "Jul", "Aug", "Sep", "Okt", "Nov", "Dez" };
    static const char* const kapszDays[7] = { "Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag",
                                              "Samstag" };
    static const char* const kapszDaysShort[7] = { "So", "Mo", "Di", "Mi", "Do", "Fr", "Sa" };
    NumberLocale locale = EnglishNumberLocale();
    locale.strDecimal = ",";
    locale.strThousands = ".";
    locale.strCurrency = "\xe2\x82\xac";
    locale.nCurrencyPositive = 3;
    locale.nCurrencyNegative = 8;
    locale.strShortDate = "dd.MM.yyyy";
    locale.strLongDate = "dddd, d. MMMM yyyy";
    locale.strTime = "HH:mm:ss";
    locale.strAm = locale.strPm = "";
    for (int i = 0; i < 12; ++i) {
        locale.astrMonths[i] = kapszMonths[i];
        locale.astrMonthsShort[i] = kapszMonthsShort[i];
    }
    for (int i = 0; i < 7; ++i) {
        locale.astrDays[i] = kapszDays[i];
        locale.astrDaysShort[i] = kapszDaysShort[i];
    }
    return locale;
}

struct FormatCase {
    double dValue;
    const char* pszCode;
    const char* pszExpected;
};

// Each case rendered, in the 1900 system unless b1904, and expected to render.
void ExpectRendered(const FormatCase* pCases, size_t nCases, const NumberLocale& locale, bool b1904 = false)
{
    for (size_t i = 0; i < nCases; ++i) {
        const FormatCase& c = pCases[i];
        SCOPED_TRACE(std::string(c.pszCode) + " on " + std::to_string(c.dValue));
        std::string text;
        EXPECT_TRUE(FormatCellNumber(c.dValue, c.pszCode, b1904, locale, &text));
        EXPECT_EQ(text, c.pszExpected);
    }
}

#define LC_CASES(a) a, sizeof(a) / sizeof(a[0])

TEST(NumberFormat, BuiltInCodesFollowTheLocale)
{
    struct Case {
        int nId;
        const char* pszEnglish;
        const char* pszGerman;   // NULL: as in English
    };
    static const Case kCases[] = {
        { 0, "General", NULL },
        { 3, "#,##0", NULL },
        { 5, "\"$\"#,##0_);\\(\"$\"#,##0\\)", "#,##0 \"\xe2\x82\xac\";-#,##0 \"\xe2\x82\xac\"" },
        { 6, "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)", "#,##0 \"\xe2\x82\xac\";[Red]-#,##0 \"\xe2\x82\xac\"" },
        { 7, "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)", "#,##0.00 \"\xe2\x82\xac\";-#,##0.00 \"\xe2\x82\xac\"" },
        { 8, "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)", "#,##0.00 \"\xe2\x82\xac\";[Red]-#,##0.00 \"\xe2\x82\xac\"" },
        { 13, "# ?\?/??", NULL },
        { 14, "m/d/yyyy", "dd.mm.yyyy" },
        { 22, "m/d/yyyy h:mm", "dd.mm.yyyy h:mm" },
        { 38, "#,##0 ;[Red](#,##0)", NULL },
        { 47, "mmss.0", NULL },
        { 49, "@", NULL },
        { 23, "", NULL },
        { 41, "", NULL },
        { 50, "", NULL },
    };
    NumberLocale english = EnglishNumberLocale(), german = GermanLocale();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.nId);
        EXPECT_EQ(BuiltInFormatCode(c.nId, english), c.pszEnglish);
        EXPECT_EQ(BuiltInFormatCode(c.nId, german), c.pszGerman ? c.pszGerman : c.pszEnglish);
    }
    // A currency placed after its number with a space, its negative in
    // parentheses: the positive keeps the parenthesis' room.
    NumberLocale swiss = english;
    swiss.strCurrency = "CHF";
    swiss.nCurrencyPositive = 2;
    swiss.nCurrencyNegative = 14;
    EXPECT_EQ(BuiltInFormatCode(7, swiss), "\"CHF\" #,##0.00_);\\(\"CHF\" #,##0.00\\)");
}

TEST(NumberFormat, BuiltInFormatsRenderAsExcelShowsThem)
{
    struct Case {
        int nId;
        double dValue;
        const char* pszExpected;
    };
    static const Case kCases[] = {
        { 0, 1234.5, "1234.5" },        { 1, 1234.5, "1235" },
        { 2, 1.005, "1.01" },           { 3, 1234567.4, "1,234,567" },
        { 4, -1234.567, "-1,234.57" },  { 5, 1234.5, "$1,235 " },
        { 5, -1234.5, "($1,235)" },     { 6, -5, "($5)" },
        { 7, 1234.5, "$1,234.50 " },    { 8, -0.5, "($0.50)" },
        { 9, 0.256, "26%" },            { 10, 0.12345, "12.35%" },
        { 11, 12345, "1.23E+04" },      { 12, 1.25, "1 1/4" },
        { 13, 2.5, "2  1/2 " },         { 14, 45000, "3/15/2023" },
        { 15, 45000, "15-Mar-23" },     { 16, 45000, "15-Mar" },
        { 17, 45000, "Mar-23" },        { 18, 0.75, "6:00 PM" },
        { 19, 45000.5, "12:00:00 PM" }, { 20, 0.3, "7:12" },
        { 21, 0.999999, "0:00:00" },    { 22, 45000.75, "3/15/2023 18:00" },
        { 37, -1234, "(1,234)" },       { 37, 1234, "1,234 " },
        { 38, -1234, "(1,234)" },       { 39, 0, "0.00" },
        { 40, -1.5, "(1.50)" },         { 45, 150.0 / 86400, "02:30" },
        { 46, 1.5, "36:00:00" },        { 47, 0.0001, "0008.6" },
        { 48, 12345, "12.3E+3" },       { 49, 5, "5" },
    };
    NumberLocale english = EnglishNumberLocale();
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::to_string(c.nId) + " on " + std::to_string(c.dValue));
        std::string text;
        EXPECT_TRUE(FormatCellNumber(c.dValue, BuiltInFormatCode(c.nId, english), false, english, &text));
        EXPECT_EQ(text, c.pszExpected);
    }
}

TEST(NumberFormat, DigitsLiteralsAndSeparators)
{
    static const FormatCase kCases[] = {
        { 1234, "00000", "01234" },
        { 1234.5, "\xe2\x82\xac#,##0.00", "\xe2\x82\xac" "1,234.50" },
        { 1234.5, "[$\xe2\x82\xac-407] #,##0.00", "\xe2\x82\xac 1,234.50" },
        { 1234.5, "[$USD] #,##0", "USD 1,235" },
        { 1.25, "[$-409]0.0", "1.3" },
        { 5, "\"Order \"0", "Order 5" },
        { 5, "0 \"pcs\"", "5 pcs" },
        { 5, "\\+0", "+5" },
        { 5, "0_)", "5 " },
        { 5, "**0", "5" },
        { -5, "$0", "-$5" },
        { 5, "\"x\"", "x" },
        { 1234567, "#,##0,", "1,235" },
        { 1234567, "#,##0,\"K\"", "1,235K" },
        { 1234567, "0.0,,", "1.2" },
        { 1000000, "#,##0", "1,000,000" },
        { 12, "0,000", "0,012" },
        { 0.5, "#.##", ".5" },
        { 0, "#.##", "." },
        { 0.5, "0.0#", "0.5" },
        { 3.1, "?.??", "3.1 " },
        { 12.5, ".00", "12.50" },
        { 5551234, "###-####", "555-1234" },
        { 0.001, "0.00%", "0.10%" },
        { -0.4, "0", "-0" },
        { 2.675, "0.00", "2.68" },
        { 0.125, "0.00", "0.13" },
        { 9.995, "0.00", "10.00" },
        { 5, "@", "5" },
        { -5, "@", "-5" },
        { 1234.5, "\"x\"General", "x1234.5" },
        { 5, "[Color10]0", "5" },
        { -1, "[Blue]0;[Red]-0", "-1" },
    };
    ExpectRendered(LC_CASES(kCases), EnglishNumberLocale());
}

TEST(NumberFormat, SectionsAndConditionsPickTheNumbersSection)
{
    static const FormatCase kCases[] = {
        { -3, "#,##0.00;[Red]-#,##0.00", "-3.00" },
        { -3, "#,##0.00;[Red]#,##0.00", "3.00" },
        { 0, "0.00;(0.00);\"zero\"", "zero" },
        { -2.5, "0.00;(0.00);\"zero\"", "(2.50)" },
        { 2.5, "0.00;(0.00);\"zero\"", "2.50" },
        { 0, "0.0;-0.0", "0.0" },
        { -5, "General;(General)", "(5)" },
        { 5, ";;;", "" },
        { 0, "0;-0;;@", "" },
        { 5551234, "[<=9999999]###-####;(###) ###-####", "555-1234" },
        { 2125551234, "[<=9999999]###-####;(###) ###-####", "(212) 555-1234" },
        { 150, "[>100]\"big \"0;[<=-100]\"low \"0;0", "big 150" },
        { -150, "[>100]\"big \"0;[<=-100]\"low \"0;0", "low 150" },
        { 50, "[>100]\"big \"0;[<=-100]\"low \"0;0", "50" },
        { -50, "[>100]\"big \"0;[<=-100]\"low \"0;0", "-50" },
        { 1, "[=1]\"one\";0", "one" },
        { 2, "[=1]\"one\";0", "2" },
        { 5, "0;@", "5" },
    };
    ExpectRendered(LC_CASES(kCases), EnglishNumberLocale());
}

TEST(NumberFormat, DatesInThe1900System)
{
    static const FormatCase kCases[] = {
        { 0, "yyyy-mm-dd", "1900-01-00" },
        { 1, "yyyy-mm-dd", "1900-01-01" },
        { 59, "yyyy-mm-dd", "1900-02-28" },
        { 60, "yyyy-mm-dd", "1900-02-29" },
        { 61, "yyyy-mm-dd", "1900-03-01" },
        { 0, "ddd", "Sat" },
        { 1, "dddd", "Sunday" },
        { 60, "dddd", "Wednesday" },
        { 61, "dddd", "Thursday" },
        { 25569, "d/m/yy", "1/1/70" },
        { 36526, "dddd d mmmm yyyy", "Saturday 1 January 2000" },
        { 45000, "d mmmm yyyy", "15 March 2023" },
        { 45000.75, "dd.mm.yyyy hh:mm", "15.03.2023 18:00" },
        { 45000, "dddd, mmmm d, yyyy", "Wednesday, March 15, 2023" },
        { 45000, "mmmmm", "M" },
        { 45000, "ddd d mmm yy", "Wed 15 Mar 23" },
        { 45000, "mm/dd", "03/15" },
        { 45000, "[$-F800]dddd, mmmm dd, yyyy", "Wednesday, March 15, 2023" },
        { 45000.75, "[$-F400]h:mm:ss AM/PM", "6:00:00 PM" },
        { 45000.5, "m/d/yyyy h:mm", "3/15/2023 12:00" },
        { 45000, "[$-409]mmmm d, yyyy;@", "March 15, 2023" },
        { 2958465, "yyyy-mm-dd", "9999-12-31" },
        { 2958465.9999, "yyyy-mm-dd", "9999-12-31" },
    };
    ExpectRendered(LC_CASES(kCases), EnglishNumberLocale());
}

TEST(NumberFormat, DatesInThe1904System)
{
    static const FormatCase kCases[] = {
        { 0, "yyyy-mm-dd", "1904-01-01" },
        { 0, "dddd", "Friday" },
        { 59, "yyyy-mm-dd", "1904-02-29" },
        { 45000, "yyyy-mm-dd", "2027-03-16" },   // the 1900 serial 46462
        { 45000, "dddd", "Tuesday" },
        { 2957003, "yyyy-mm-dd", "9999-12-31" },
    };
    ExpectRendered(LC_CASES(kCases), EnglishNumberLocale(), true);
    std::string text;
    EXPECT_FALSE(FormatCellNumber(2957004, "yyyy-mm-dd", true, EnglishNumberLocale(), &text));
    EXPECT_EQ(text, "2957004");
}

TEST(NumberFormat, TimesAndElapsedTimes)
{
    static const FormatCase kCases[] = {
        { 0, "h:mm AM/PM", "12:00 AM" },
        { 0.5, "h:mm AM/PM", "12:00 PM" },
        { 0.75, "h:mm a/p", "6:00 p" },
        { 0.25, "hh:mm A/P", "06:00 A" },
        { 39580.0 / 86400, "h:mm", "10:59" },       // 10:59:40: the minutes show whole
        { 39599.6 / 86400, "h:mm", "11:00" },       // 10:59:59.6 rounds to the second first
        { 3601.234 / 86400, "h:mm:ss.00", "1:00:01.23" },
        { 1.5, "[h]:mm:ss", "36:00:00" },
        { 2.25, "[h]:mm", "54:00" },
        { 1.0 / 24, "[mm]:ss", "60:00" },
        { 30.0 / 86400, "[ss]", "30" },
        { 150.0 / 86400, "mm:ss", "02:30" },
    };
    ExpectRendered(LC_CASES(kCases), EnglishNumberLocale());
}

TEST(NumberFormat, FractionsAndScientific)
{
    static const FormatCase kCases[] = {
        { 1.25, "# ?/?", "1 1/4" },
        { 0.5, "# ?/?", " 1/2" },
        { 2, "# ?/?", "2    " },
        { 0, "# ?/?", "0    " },
        { 0.99, "# ?/?", "1    " },
        { -1.25, "# ?/?", "-1 1/4" },
        { 0.25, "0 ?/?", "0 1/4" },
        { 1.25, "?/?", "5/4" },
        { 0.3, "?/?", "2/7" },
        { 3.14159, "# ?\?/??", "3 14/99" },
        { 1.3, "# ?/8", "1 2/8" },
        { 0.37, "#/100", "37/100" },
        { 12345, "0.00E+00", "1.23E+04" },
        { 0.000123, "0.00E+00", "1.23E-04" },
        { 0, "0.00E+00", "0.00E+00" },
        { 9.996, "0.00E+00", "1.00E+01" },
        { -12345, "0.00E+00", "-1.23E+04" },
        { 12345, "0.00e+00", "1.23e+04" },
        { 12345, "0.0E-0", "1.2E4" },
        { 0.00123, "0.0E-0", "1.2E-3" },
        { 12345, "00.00E+00", "12.35E+03" },
        { 12345, "##0.0E+0", "12.3E+3" },
        { 0.1, "##0.0E+0", "100.0E-3" },
        { 1234567, "##0.0E+0", "1.2E+6" },
        { 999.96, "##0.0E+0", "1.0E+3" },
    };
    ExpectRendered(LC_CASES(kCases), EnglishNumberLocale());
}

TEST(NumberFormat, GeneralKeepsElevenCharacters)
{
    struct Case {
        double dValue;
        const char* pszExpected;
    };
    static const Case kCases[] = {
        { 0, "0" },
        { 100, "100" },
        { 12345678901, "12345678901" },
        { 123456789012, "1.23457E+11" },
        { 12345678901.5, "12345678902" },
        { 99999999999.5, "1E+11" },
        { 0.1 + 0.2, "0.3" },
        { 1.0 / 3, "0.333333333" },
        { 2.0 / 3, "0.666666667" },
        { -1234.5, "-1234.5" },
        { -0.5, "-0.5" },
        { 1234567.891234, "1234567.891" },
        { 1e-5, "0.00001" },
        { 0.000012345678, "1.23457E-05" },
        { 1.23456789e-10, "1.23457E-10" },
        { 1.5e-12, "1.5E-12" },
        { 1e20, "1E+20" },
    };
    NumberLocale english = EnglishNumberLocale();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszExpected);
        EXPECT_EQ(FormatGeneral(c.dValue, english), c.pszExpected);
        std::string text;
        EXPECT_TRUE(FormatCellNumber(c.dValue, "General", false, english, &text));
        EXPECT_EQ(text, c.pszExpected);
    }
}

TEST(NumberFormat, TextThroughItsSection)
{
    struct Case {
        const char* pszText;
        const char* pszCode;
        const char* pszExpected;
    };
    static const Case kCases[] = {
        { "Smith", "\"Mr. \"@", "Mr. Smith" },
        { "abc", "0.00", "abc" },
        { "abc", "General", "abc" },
        { "abc", "0;-0;0;\"[\"@\"]\"", "[abc]" },
        { "abc", "0;-0;0;\"text\"", "text" },
        { "abc", "@_)", "abc " },
        { "abc", "[Red]@", "abc" },
        { "abc", "0;@\"!\"", "abc!" },
        { "abc", "[$-409]mmmm d, yyyy;@", "abc" },
        { "abc", ";;;", "" },
        { "abc", "\"unterminated", "abc" },
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszCode);
        EXPECT_EQ(FormatCellText(c.pszText, c.pszCode), c.pszExpected);
    }
}

TEST(NumberFormat, GermanLocaleSeparatorsAndNames)
{
    NumberLocale german = GermanLocale();
    static const FormatCase kCases[] = {
        { 1234567.891, "#,##0.00", "1.234.567,89" },
        { -1234.5, "#,##0.00 \"\xe2\x82\xac\";-#,##0.00 \"\xe2\x82\xac\"", "-1.234,50 \xe2\x82\xac" },
        { 1234.5, "[$\xe2\x82\xac-407] #,##0.00", "\xe2\x82\xac 1.234,50" },
        { 0.256, "0%", "26%" },
        { 12345, "0.00E+00", "1,23E+04" },
        { 1234.5, "General", "1234,5" },
        { 45000, "dd.mm.yyyy", "15.03.2023" },
        { 45000, "d mmmm yyyy", "15 M\xc3\xa4rz 2023" },
        { 45000, "ddd d mmm", "Mi 15 M\xc3\xa4r" },
        { 45000, "[$-F800]dddd, mmmm dd, yyyy", "Mittwoch, 15. M\xc3\xa4rz 2023" },
        { 0.75, "[$-F400]h:mm:ss AM/PM", "18:00:00" },
        { 3601.5 / 86400, "h:mm:ss.0", "1:00:01,5" },
    };
    ExpectRendered(LC_CASES(kCases), german);
    std::string text;
    EXPECT_TRUE(FormatCellNumber(45000, BuiltInFormatCode(14, german), false, german, &text));
    EXPECT_EQ(text, "15.03.2023");
    EXPECT_TRUE(FormatCellNumber(-1234.5, BuiltInFormatCode(7, german), false, german, &text));
    EXPECT_EQ(text, "-1.234,50 \xe2\x82\xac");
}

TEST(NumberFormat, WhatIsNotRenderedShowsAsGeneral)
{
    static const FormatCase kCases[] = {
        { 1.5, "\"abc", "1.5" },                // unterminated literal
        { 1.5, "0\\", "1.5" },                  // nothing to escape
        { 1.5, "0;0;0;@;0", "1.5" },            // five sections
        { 1.5, "[Foo]0", "1.5" },
        { 1.5, "[DBNum1]0", "1.5" },
        { 1.5, "0.0E", "1.5" },
        { 1.5, "ge", "1.5" },
        { 1.5, "bbbb", "1.5" },
        { 1.5, "dd 0", "1.5" },                 // a digit in a date
        { 1.5, "0.0 ?/?", "1.5" },              // a fraction with decimals
        { 5, "[>100]0", "5" },                  // no section for it
        { 5, "[>100]0;[<-100]0", "5" },
        { -1, "yyyy", "-1" },                   // Excel shows ####
        { 2958466, "yyyy", "2958466" },
        { -0.5, "[h]:mm", "-0.5" },
    };
    NumberLocale english = EnglishNumberLocale();
    for (const FormatCase& c : kCases) {
        SCOPED_TRACE(c.pszCode);
        std::string text;
        EXPECT_FALSE(FormatCellNumber(c.dValue, c.pszCode, false, english, &text));
        EXPECT_EQ(text, c.pszExpected);
    }
}

#ifdef _WIN32
std::string LocaleText(LCTYPE type)
{
    wchar_t wsz[128];
    char sz[512];
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, type, wsz, 128) <= 0 ||
        WideCharToMultiByte(CP_UTF8, 0, wsz, -1, sz, sizeof(sz), NULL, NULL) <= 0)
        return "(unreadable)";
    return sz;
}

TEST(NumberFormat, UserLocaleIsWindowsOwn)
{
    NumberLocale locale = ReadUserNumberLocale();
    EXPECT_EQ(locale.strDecimal, LocaleText(LOCALE_SDECIMAL));
    EXPECT_EQ(locale.strShortDate, LocaleText(LOCALE_SSHORTDATE));
    EXPECT_EQ(locale.astrMonths[0], LocaleText(LOCALE_SMONTHNAME1));
    EXPECT_EQ(locale.astrDays[0], LocaleText(LOCALE_SDAYNAME7));
    EXPECT_EQ(locale.nCurrencyNegative, atoi(LocaleText(LOCALE_INEGCURR).c_str()));
}
#endif

}  // namespace
