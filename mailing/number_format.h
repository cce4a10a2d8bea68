// A workbook cell's number as Excel shows it: its number format (built in or
// the workbook's own code), the workbook's date system and the user's locale
// for the formats Excel renders in it. Plain C++, so it also builds natively;
// mailing/number_locale_win.cpp reads the user's locale on Windows.
#ifndef LETTERCAST_NUMBER_FORMAT_H
#define LETTERCAST_NUMBER_FORMAT_H

#include <string>

// What Excel takes from the user's locale. Every text is UTF-8; the
// pictures are Windows' own (LOCALE_SSHORTDATE "M/d/yyyy", LOCALE_STIMEFORMAT
// "h:mm:ss tt").
struct NumberLocale {
    std::string strDecimal;         // LOCALE_SDECIMAL
    std::string strThousands;       // LOCALE_STHOUSAND
    std::string strCurrency;        // LOCALE_SCURRENCY
    int nCurrencyPositive;          // LOCALE_ICURRENCY: 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
    int nCurrencyNegative;          // LOCALE_INEGCURR, 0 "($1)" to 15 "(1 $)"
    int nCurrencyDigits;            // LOCALE_ICURRDIGITS
    std::string strShortDate;       // LOCALE_SSHORTDATE
    std::string strLongDate;        // LOCALE_SLONGDATE
    std::string strTime;            // LOCALE_STIMEFORMAT
    std::string strAm, strPm;       // LOCALE_S1159, LOCALE_S2359
    std::string astrMonths[12];     // LOCALE_SMONTHNAME1..12
    std::string astrMonthsShort[12];// LOCALE_SABBREVMONTHNAME1..12
    std::string astrDays[7];        // LOCALE_SDAYNAME7, 1..6: Sunday first
    std::string astrDaysShort[7];   // LOCALE_SABBREVDAYNAME7, 1..6
};

// English (United States), as Excel shows a workbook there.
NumberLocale EnglishNumberLocale();
// The user's own locale (Windows only).
NumberLocale ReadUserNumberLocale();

// The format code of a built-in number format (numFmtId 0 to 49 that the
// workbook does not define itself), those Excel renders in the user's locale
// (the short date 14, 22, the currencies 5 to 8) written for that locale; ""
// for an id that has none.
std::string BuiltInFormatCode(int nId, const NumberLocale& locale);

// dValue as Excel shows it under strCode (a format code as a workbook's
// numFmt holds it: sections, literals, [Red], [$€-407], [h], AM/PM ...),
// with serial dates counted from 1900 or, b1904, from 1904. False when the
// code is beyond what is rendered here: *pOut then holds dValue as General.
bool FormatCellNumber(double dValue, const std::string& strCode, bool b1904, const NumberLocale& locale,
                      std::string* pOut);
// A text cell as Excel shows it under strCode: through its text section
// ("\"Mr. \"@"), else as it stands.
std::string FormatCellText(const std::string& strText, const std::string& strCode);
// dValue in Excel's General format: at most eleven characters, integers
// whole, scientific notation ("1.23457E+11") where the digits would not fit.
std::string FormatGeneral(double dValue, const NumberLocale& locale);

#endif
