#include "mailing/number_format.h"

#include <windows.h>

#include <stdlib.h>

namespace {

// One of the user's locale settings in UTF-8; false, leaving *pText as it
// was, when Windows has none.
bool ReadLocaleText(LCTYPE type, std::string* pText)
{
    // LOCALE_SLONGDATE, the longest, holds at most 80 characters.
    wchar_t wsz[256];
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, type, wsz, sizeof(wsz) / sizeof(wsz[0])) <= 0)
        return false;
    char sz[1024];
    if (WideCharToMultiByte(CP_UTF8, 0, wsz, -1, sz, sizeof(sz), NULL, NULL) <= 0)
        return false;
    *pText = sz;
    return true;
}

void ReadLocaleNumber(LCTYPE type, int* pnValue)
{
    std::string text;
    if (ReadLocaleText(type, &text))
        *pnValue = atoi(text.c_str());
}

}  // namespace

NumberLocale ReadUserNumberLocale()
{
    // What Windows cannot tell stays as in English.
    NumberLocale locale = EnglishNumberLocale();
    ReadLocaleText(LOCALE_SDECIMAL, &locale.strDecimal);
    ReadLocaleText(LOCALE_STHOUSAND, &locale.strThousands);
    ReadLocaleText(LOCALE_SCURRENCY, &locale.strCurrency);
    ReadLocaleNumber(LOCALE_ICURRENCY, &locale.nCurrencyPositive);
    ReadLocaleNumber(LOCALE_INEGCURR, &locale.nCurrencyNegative);
    ReadLocaleNumber(LOCALE_ICURRDIGITS, &locale.nCurrencyDigits);
    ReadLocaleText(LOCALE_SSHORTDATE, &locale.strShortDate);
    ReadLocaleText(LOCALE_SLONGDATE, &locale.strLongDate);
    ReadLocaleText(LOCALE_STIMEFORMAT, &locale.strTime);
    // A locale of the 24-hour clock reads both as empty.
    ReadLocaleText(LOCALE_S1159, &locale.strAm);
    ReadLocaleText(LOCALE_S2359, &locale.strPm);
    for (int i = 0; i < 12; ++i) {
        ReadLocaleText(LOCALE_SMONTHNAME1 + i, &locale.astrMonths[i]);
        ReadLocaleText(LOCALE_SABBREVMONTHNAME1 + i, &locale.astrMonthsShort[i]);
    }
    // Windows counts its days from Monday (SDAYNAME1), Excel from Sunday.
    for (int i = 0; i < 7; ++i) {
        ReadLocaleText(LOCALE_SDAYNAME1 + (i + 6) % 7, &locale.astrDays[i]);
        ReadLocaleText(LOCALE_SABBREVDAYNAME1 + (i + 6) % 7, &locale.astrDaysShort[i]);
    }
    return locale;
}
