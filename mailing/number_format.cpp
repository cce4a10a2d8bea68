#include "mailing/number_format.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

// The last day each date system can show (31 December 9999); Excel shows a
// later or negative serial as #### under a date or time format.
const double kdLastSerial1900 = 2958465;
const double kdLastSerial1904 = 2957003;
// Days from 1 January 1970 to the day before serial 1 (1900) and to serial 0 (1904).
const long long knEpoch1900 = -25568;
const long long knEpoch1904 = -24107;

enum TokenKind {
    TokLiteral,      // text shown as it stands
    TokDigit,        // 0 # ?
    TokPoint,        // the decimal point
    TokComma,        // until the section is finished: then a grouping or a literal
    TokGrouping,     // a comma that separates thousands or divides by 1000: shows nothing
    TokPercent,
    TokExponent,     // E+ E- e+ e-
    TokSlash,        // a fraction's bar
    TokDenominator,  // a fraction's fixed denominator ("?/8")
    TokText,         // @
    TokGeneral,
    // Date and time parts: every kind from here on.
    TokYear,
    TokMonth,
    TokMinute,
    TokDay,
    TokHour,
    TokSecond,
    TokElapsed,      // [h] [m] [s]
    TokSubSecond,    // .0 .00 .000 after the seconds
    TokAmPm,         // AM/PM, A/P
};

struct Token {
    TokenKind kind;
    std::string text;  // a literal's text, a denominator's digits, AM/PM as written
    char ch;           // a digit's placeholder; an elapsed part's unit; an exponent's sign
    int n;             // a date part's letters ("mmm": 3)
};

// The user's long date or time, which Excel shows for [$-F800] and [$-F400].
enum { SystemNone, SystemLongDate, SystemTime };

struct Section {
    std::vector<Token> tokens;
    bool bCondition = false;
    std::string strOp;        // "<", "<=", "=", "<>", ">=", ">"
    double dLimit = 0;
    bool bDate = false;
    bool bText = false;       // holds @
    bool bThousands = false;
    int nScale = 0;           // commas that divide by 1000
    int nPercent = 0;
    int nSystem = SystemNone;
};

void AddToken(std::vector<Token>* pTokens, TokenKind kind, const std::string& text = std::string(), char ch = 0,
              int n = 0)
{
    pTokens->push_back(Token{ kind, text, ch, n });
}

// The bytes of the UTF-8 character at psz (at least one).
size_t CharBytes(const char* psz)
{
    size_t n = 1;
    while (psz[n] != '\0' && ((unsigned char)psz[n] & 0xC0) == 0x80)
        ++n;
    return n;
}

char Lower(char ch)
{
    return (ch >= 'A' && ch <= 'Z') ? (char)(ch - 'A' + 'a') : ch;
}

bool StartsWithNoCase(const char* psz, const char* pszWord)
{
    for (; *pszWord; ++psz, ++pszWord) {
        if (Lower(*psz) != Lower(*pszWord))
            return false;
    }
    return true;
}

bool EqualNoCase(const std::string& text, const char* pszWord)
{
    return text.size() == strlen(pszWord) && StartsWithNoCase(text.c_str(), pszWord);
}

// The letters at psz that repeat its first one, whatever their case.
int RunOf(const char* psz)
{
    int n = 1;
    while (Lower(psz[n]) == Lower(psz[0]))
        ++n;
    return n;
}

// [Red], [Color10]: a colour, which a merged text cannot show.
bool IsColour(const std::string& text)
{
    static const char* const kapszColours[] = { "black", "blue", "cyan", "green", "magenta", "red", "white", "yellow" };
    for (const char* pszColour : kapszColours) {
        if (EqualNoCase(text, pszColour))
            return true;
    }
    if (text.size() < 6 || !StartsWithNoCase(text.c_str(), "color"))
        return false;
    return strspn(text.c_str() + 5, "0123456789") == text.size() - 5;
}

// The text between [ and ]: a condition, a colour, an elapsed time, or a
// currency and locale tag whose symbol shows and whose locale Excel only
// reads for the system date and time.
bool ParseBracket(const std::string& text, Section* pSection)
{
    if (text.empty())
        return false;
    if (text[0] == '$') {
        size_t nDash = text.find('-');
        std::string symbol = text.substr(1, nDash == std::string::npos ? std::string::npos : nDash - 1);
        if (!symbol.empty())
            AddToken(&pSection->tokens, TokLiteral, symbol);
        if (nDash == std::string::npos)
            return true;
        std::string locale = text.substr(nDash + 1);
        if (EqualNoCase(locale, "x-sysdate"))
            pSection->nSystem = SystemLongDate;
        else if (EqualNoCase(locale, "x-systime"))
            pSection->nSystem = SystemTime;
        else {
            unsigned long nLocale = strtoul(locale.c_str(), NULL, 16);
            if ((nLocale & 0xFFFF) == 0xF800)
                pSection->nSystem = SystemLongDate;
            else if ((nLocale & 0xFFFF) == 0xF400)
                pSection->nSystem = SystemTime;
        }
        return true;
    }
    if (strchr("<>=", text[0])) {
        if (pSection->bCondition)
            return false;
        size_t nOp = text.size() > 1 && strchr("<>=", text[1]) ? 2 : 1;
        std::string op = text.substr(0, nOp);
        if (op != "<" && op != "<=" && op != "=" && op != "<>" && op != ">=" && op != ">")
            return false;
        const char* pszLimit = text.c_str() + nOp;
        char* pszEnd = NULL;
        pSection->dLimit = strtod(pszLimit, &pszEnd);
        if (pszEnd == pszLimit || *pszEnd != '\0')
            return false;
        pSection->bCondition = true;
        pSection->strOp = op;
        return true;
    }
    char chUnit = Lower(text[0]);
    if ((chUnit == 'h' || chUnit == 'm' || chUnit == 's') && RunOf(text.c_str()) == (int)text.size()) {
        AddToken(&pSection->tokens, TokElapsed, std::string(), chUnit, (int)text.size());
        return true;
    }
    return IsColour(text);
}

bool IsDateField(TokenKind kind)
{
    return kind >= TokYear && kind != TokSubSecond && kind != TokAmPm;
}

// A date section's points, commas and slashes are literals, its ".0" after
// the seconds their fraction; "m" and "mm" are minutes after an hour or
// before a second.
bool FinishDate(Section* pSection)
{
    std::vector<Token> tokens;
    const std::vector<Token>& from = pSection->tokens;
    for (size_t i = 0; i < from.size(); ++i) {
        const Token& token = from[i];
        switch (token.kind) {
        case TokPoint: {
            size_t nZeros = 0;
            while (i + 1 + nZeros < from.size() && from[i + 1 + nZeros].kind == TokDigit && from[i + 1 + nZeros].ch == '0')
                ++nZeros;
            if (nZeros > 3)
                return false;
            if (nZeros == 0)
                AddToken(&tokens, TokLiteral, ".");
            else
                AddToken(&tokens, TokSubSecond, std::string(), 0, (int)nZeros);
            i += nZeros;
            break;
        }
        case TokComma:
            AddToken(&tokens, TokLiteral, ",");
            break;
        case TokSlash:
            AddToken(&tokens, TokLiteral, "/");
            break;
        case TokPercent:
            AddToken(&tokens, TokLiteral, "%");
            break;
        case TokDenominator:
            AddToken(&tokens, TokLiteral, token.text);
            break;
        case TokDigit:
        case TokExponent:
        case TokText:
        case TokGeneral:
            return false;
        default:
            tokens.push_back(token);
        }
    }
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokMonth || tokens[i].n > 2)
            continue;
        size_t iPrev = i;
        while (iPrev > 0 && !IsDateField(tokens[iPrev - 1].kind))
            --iPrev;
        size_t iNext = i + 1;
        while (iNext < tokens.size() && !IsDateField(tokens[iNext].kind))
            ++iNext;
        bool bAfterHour = iPrev > 0 && (tokens[iPrev - 1].kind == TokHour ||
                                        (tokens[iPrev - 1].kind == TokElapsed && tokens[iPrev - 1].ch == 'h'));
        bool bBeforeSecond = iNext < tokens.size() && (tokens[iNext].kind == TokSecond ||
                                                      (tokens[iNext].kind == TokElapsed && tokens[iNext].ch == 's'));
        if (bAfterHour || bBeforeSecond)
            tokens[i].kind = TokMinute;
    }
    pSection->tokens.swap(tokens);
    return true;
}

bool IsDigitAt(const std::vector<Token>& tokens, size_t i)
{
    return i < tokens.size() && tokens[i].kind == TokDigit;
}

// A number section's first point is its decimal point, a slash after a digit
// placeholder its fraction bar; a comma between integer placeholders groups
// thousands, one after the last placeholder of its part divides by 1000, any
// other is a literal.
bool FinishNumber(Section* pSection)
{
    std::vector<Token>& tokens = pSection->tokens;
    bool bPoint = false, bExponent = false, bFraction = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        Token& token = tokens[i];
        switch (token.kind) {
        case TokSlash:
            if (!bFraction && i > 0 && tokens[i - 1].kind == TokDigit &&
                (IsDigitAt(tokens, i + 1) || (i + 1 < tokens.size() && tokens[i + 1].kind == TokDenominator)))
                bFraction = true;
            else
                token = Token{ TokLiteral, "/", 0, 0 };
            break;
        case TokDenominator:
            if (i == 0 || tokens[i - 1].kind != TokSlash)
                token.kind = TokLiteral;
            break;
        case TokPoint:
            if (bPoint || bExponent)
                token = Token{ TokLiteral, ".", 0, 0 };
            bPoint = true;
            break;
        case TokExponent:
            if (bExponent)
                return false;
            bExponent = true;
            break;
        case TokPercent:
            ++pSection->nPercent;
            break;
        default:
            break;
        }
    }
    if (bFraction && (bPoint || bExponent))
        return false;
    // Each comma by the part it stands in: integer, fraction, exponent.
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokComma)
            continue;
        size_t iStart = i, iEnd = i;
        while (iStart > 0 && tokens[iStart - 1].kind != TokPoint && tokens[iStart - 1].kind != TokExponent)
            --iStart;
        while (iEnd < tokens.size() && tokens[iEnd].kind != TokPoint && tokens[iEnd].kind != TokExponent)
            ++iEnd;
        bool bInExponent = iStart > 0 && tokens[iStart - 1].kind == TokExponent;
        bool bInteger = iStart == 0 || tokens[iStart - 1].kind != TokPoint;
        bool bDigitBefore = false, bDigitAfter = false;
        for (size_t j = iStart; j < i; ++j)
            bDigitBefore = bDigitBefore || tokens[j].kind == TokDigit;
        for (size_t j = i + 1; j < iEnd; ++j)
            bDigitAfter = bDigitAfter || tokens[j].kind == TokDigit;
        size_t iPrev = i;
        while (iPrev > 0 && (tokens[iPrev - 1].kind == TokComma || tokens[iPrev - 1].kind == TokGrouping))
            --iPrev;
        bool bRightAfterDigit = iPrev > 0 && tokens[iPrev - 1].kind == TokDigit;
        if (!bInExponent && bInteger && bDigitBefore && bDigitAfter) {
            pSection->bThousands = true;
            tokens[i].kind = TokGrouping;
        } else if (!bInExponent && bRightAfterDigit && !bDigitAfter) {
            ++pSection->nScale;
            tokens[i].kind = TokGrouping;
        } else {
            tokens[i] = Token{ TokLiteral, ",", 0, 0 };
        }
    }
    return true;
}

bool FinishSection(Section* pSection)
{
    for (const Token& token : pSection->tokens) {
        pSection->bDate = pSection->bDate || token.kind >= TokYear;
        pSection->bText = pSection->bText || token.kind == TokText;
    }
    return pSection->bDate ? FinishDate(pSection) : FinishNumber(pSection);
}

// strCode split into its sections, each into tokens; false for a code that
// is malformed or beyond what is rendered here.
bool ParseCode(const std::string& strCode, std::vector<Section>* pSections)
{
    pSections->assign(1, Section());
    const char* p = strCode.c_str();
    while (*p) {
        Section& section = pSections->back();
        std::vector<Token>& tokens = section.tokens;
        char ch = *p;
        if (ch == ';') {
            if (!FinishSection(&section) || pSections->size() == 4)
                return false;
            pSections->push_back(Section());
            ++p;
        } else if (ch == '"') {
            const char* pszClose = strchr(p + 1, '"');
            if (pszClose == NULL)
                return false;
            AddToken(&tokens, TokLiteral, std::string(p + 1, pszClose));
            p = pszClose + 1;
        } else if (ch == '\\' || ch == '_' || ch == '*') {
            // An escaped character; a space as wide as one; a fill, which a
            // merged text has no width to repeat in.
            if (p[1] == '\0')
                return false;
            size_t nBytes = CharBytes(p + 1);
            if (ch == '\\')
                AddToken(&tokens, TokLiteral, std::string(p + 1, nBytes));
            else if (ch == '_')
                AddToken(&tokens, TokLiteral, " ");
            p += 1 + nBytes;
        } else if (ch == '[') {
            const char* pszClose = strchr(p, ']');
            if (pszClose == NULL || !ParseBracket(std::string(p + 1, pszClose), &section))
                return false;
            p = pszClose + 1;
        } else if (ch == '0' || ch == '#' || ch == '?') {
            AddToken(&tokens, TokDigit, std::string(), ch);
            ++p;
        } else if (ch >= '1' && ch <= '9' && !tokens.empty() && tokens.back().kind == TokSlash) {
            size_t n = strspn(p, "0123456789");
            AddToken(&tokens, TokDenominator, std::string(p, n));
            p += n;
        } else if (ch == '.' || ch == ',' || ch == '%' || ch == '/' || ch == '@') {
            TokenKind kind = ch == '.' ? TokPoint : ch == ',' ? TokComma : ch == '%' ? TokPercent : ch == '/' ? TokSlash : TokText;
            AddToken(&tokens, kind);
            ++p;
        } else if (ch == 'E' || ch == 'e') {
            // "e" alone is an era's year, not rendered here.
            if (p[1] != '+' && p[1] != '-')
                return false;
            AddToken(&tokens, TokExponent, std::string(1, ch), p[1]);
            p += 2;
        } else if (ch == 'G' || ch == 'g') {
            if (!StartsWithNoCase(p, "general"))
                return false;
            AddToken(&tokens, TokGeneral);
            p += 7;
        } else if (StartsWithNoCase(p, "am/pm") || StartsWithNoCase(p, "a/p")) {
            size_t n = StartsWithNoCase(p, "am/pm") ? 5 : 3;
            AddToken(&tokens, TokAmPm, std::string(p, n));
            p += n;
        } else if (strchr("yYmMdDhHsS", ch)) {
            static const TokenKind kakinds[] = { TokYear, TokMonth, TokDay, TokHour, TokSecond };
            int n = RunOf(p);
            AddToken(&tokens, kakinds[strchr("ymdhs", Lower(ch)) - "ymdhs"], std::string(), 0, n);
            p += n;
        } else if (ch == 'B' || ch == 'b') {
            // The Buddhist year.
            return false;
        } else {
            size_t nBytes = CharBytes(p);
            AddToken(&tokens, TokLiteral, std::string(p, nBytes));
            p += nBytes;
        }
    }
    return FinishSection(&pSections->back());
}

// A number's decimal digits: the value is 0.d1d2d3... shifted nPoint places,
// so digits "125" with nPoint 1 is 1.25; no digits is zero.
struct Decimal {
    std::string digits;   // no leading or trailing zeros
    int nPoint;
};

// dValue (not negative) to the 15 significant digits Excel keeps, so that
// 1.005 rounds as the 1.005 the user typed, not as the double below it.
Decimal ToDecimal(double dValue)
{
    Decimal decimal{ std::string(), 0 };
    if (dValue == 0)
        return decimal;
    char sz[64];
    snprintf(sz, sizeof(sz), "%.14e", dValue);
    const char* p = sz;
    for (; *p && *p != 'e' && *p != 'E'; ++p) {
        if (*p >= '0' && *p <= '9')
            decimal.digits += *p;
    }
    decimal.nPoint = (*p ? atoi(p + 1) : 0) + 1;
    size_t nLast = decimal.digits.find_last_not_of('0');
    decimal.digits.resize(nLast == std::string::npos ? 0 : nLast + 1);
    return decimal;
}

// Rounded half away from zero to nDecimals places after the point (before
// it for a negative count).
void RoundDecimal(Decimal* pDecimal, int nDecimals)
{
    std::string& digits = pDecimal->digits;
    int nKeep = pDecimal->nPoint + nDecimals;
    if (nKeep >= (int)digits.size())
        return;
    if (nKeep < 0) {
        digits.clear();
        return;
    }
    bool bUp = digits[nKeep] >= '5';
    digits.resize(nKeep);
    if (bUp) {
        while (!digits.empty() && digits.back() == '9')
            digits.pop_back();
        if (digits.empty()) {
            // 9.995 to 10.00: the carry adds a digit before the point.
            digits = "1";
            ++pDecimal->nPoint;
        } else {
            ++digits.back();
        }
    }
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
}

// The digits before the point, "" for none.
std::string IntegerDigits(const Decimal& decimal)
{
    if (decimal.digits.empty() || decimal.nPoint <= 0)
        return std::string();
    std::string digits = decimal.digits.substr(0, decimal.nPoint);
    digits.append(decimal.nPoint - digits.size(), '0');
    return digits;
}

// The first nCount digits after the point.
std::string FractionDigits(const Decimal& decimal, int nCount)
{
    std::string digits;
    for (int i = 0; i < nCount; ++i) {
        int nAt = decimal.nPoint + i;
        digits += nAt >= 0 && nAt < (int)decimal.digits.size() ? decimal.digits[nAt] : '0';
    }
    return digits;
}

// The number's digit at position k from the right of strDigits under a
// placeholder: a digit, else a zero for 0, a space for ?, nothing for #;
// then the thousands separator where one follows.
void EmitPosition(int k, char chPlaceholder, const std::string& strDigits, const std::string& strSeparator,
                  std::string* pOut)
{
    int nDigits = (int)strDigits.size();
    if (k < nDigits)
        *pOut += strDigits[nDigits - 1 - k];
    else if (chPlaceholder == '0')
        *pOut += '0';
    else {
        if (chPlaceholder == '?')
            *pOut += ' ';
        return;
    }
    if (!strSeparator.empty() && k > 0 && k % 3 == 0)
        *pOut += strSeparator;
}

// Digits past the placeholders show before the first of them.
void EmitExtraDigits(int nPlaceholders, const std::string& strDigits, const std::string& strSeparator,
                     std::string* pOut)
{
    for (int k = (int)strDigits.size() - 1; k >= nPlaceholders; --k)
        EmitPosition(k, '0', strDigits, strSeparator, pOut);
}

// The tokens [0, iEnd) of a number section with strInt and strFrac in their
// placeholders; strGeneral for General and @.
void EmitMantissa(const Section& section, size_t iEnd, const std::string& strInt, const std::string& strFrac,
                  const std::string& strGeneral, const NumberLocale& locale, std::string* pOut)
{
    const std::vector<Token>& tokens = section.tokens;
    std::string separator = section.bThousands ? locale.strThousands : std::string();
    int nInt = 0;
    std::string fracPlaceholders;
    bool bAfterPoint = false;
    for (size_t i = 0; i < iEnd; ++i) {
        if (tokens[i].kind == TokPoint)
            bAfterPoint = true;
        else if (tokens[i].kind == TokDigit && bAfterPoint)
            fracPlaceholders += tokens[i].ch;
        else if (tokens[i].kind == TokDigit)
            ++nInt;
    }
    // Trailing zeros under # and ? show as nothing and as spaces.
    size_t nShown = fracPlaceholders.size();
    while (nShown > 0 && strFrac[nShown - 1] == '0' && fracPlaceholders[nShown - 1] != '0')
        --nShown;
    int iInt = 0;
    size_t iFrac = 0;
    for (size_t i = 0; i < iEnd; ++i) {
        const Token& token = tokens[i];
        switch (token.kind) {
        case TokLiteral:
            *pOut += token.text;
            break;
        case TokDigit:
            if (iFrac > 0 || (iInt == nInt && bAfterPoint)) {
                if (iFrac < nShown)
                    *pOut += strFrac[iFrac];
                else if (token.ch == '?')
                    *pOut += ' ';
                ++iFrac;
            } else {
                if (iInt == 0)
                    EmitExtraDigits(nInt, strInt, separator, pOut);
                EmitPosition(nInt - 1 - iInt, token.ch, strInt, separator, pOut);
                ++iInt;
            }
            break;
        case TokPoint:
            if (nInt == 0)
                EmitExtraDigits(0, strInt, separator, pOut);
            *pOut += locale.strDecimal;
            break;
        case TokPercent:
            *pOut += '%';
            break;
        case TokText:
        case TokGeneral:
            *pOut += strGeneral;
            break;
        default:
            break;
        }
    }
}

bool RenderPlain(const Section& section, double dAbs, const std::string& strGeneral, const NumberLocale& locale,
                 std::string* pOut)
{
    int nFrac = 0;
    bool bAfterPoint = false;
    for (const Token& token : section.tokens) {
        bAfterPoint = bAfterPoint || token.kind == TokPoint;
        nFrac += bAfterPoint && token.kind == TokDigit;
    }
    Decimal decimal = ToDecimal(dAbs);
    decimal.nPoint += 2 * section.nPercent - 3 * section.nScale;
    RoundDecimal(&decimal, nFrac);
    EmitMantissa(section, section.tokens.size(), IntegerDigits(decimal), FractionDigits(decimal, nFrac), strGeneral,
                 locale, pOut);
    return true;
}

int FloorDiv(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// "0.00E+00", and "##0.0E+0" whose exponent is a multiple of its integer
// placeholders, as an engineer writes it.
bool RenderScientific(const Section& section, double dAbs, const std::string& strGeneral, const NumberLocale& locale,
                      std::string* pOut)
{
    const std::vector<Token>& tokens = section.tokens;
    size_t iExponent = 0;
    while (tokens[iExponent].kind != TokExponent)
        ++iExponent;
    int nInt = 0, nFrac = 0, nExponentDigits = 0;
    bool bAfterPoint = false, bHash = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind == TokPoint)
            bAfterPoint = true;
        if (tokens[i].kind != TokDigit)
            continue;
        if (i > iExponent)
            ++nExponentDigits;
        else if (bAfterPoint)
            ++nFrac;
        else {
            ++nInt;
            bHash = bHash || tokens[i].ch == '#';
        }
    }
    if (nExponentDigits == 0)
        return false;
    bool bEngineering = bHash && nInt > 1;
    Decimal decimal = ToDecimal(dAbs);
    decimal.nPoint += 2 * section.nPercent;
    Decimal mantissa = decimal;
    int nExponent = 0;
    if (!decimal.digits.empty()) {
        int nMagnitude = decimal.nPoint - 1;
        for (int nTry = 0; nTry < 2; ++nTry) {
            nExponent = bEngineering ? FloorDiv(nMagnitude, nInt) * nInt : nMagnitude - nInt + 1;
            mantissa = decimal;
            mantissa.nPoint -= nExponent;
            RoundDecimal(&mantissa, nFrac);
            if (mantissa.digits.empty() || mantissa.nPoint <= nInt)
                break;
            // Rounding carried into one more digit: 9.996 as 1.00E+01.
            ++nMagnitude;
        }
    }
    EmitMantissa(section, iExponent, IntegerDigits(mantissa), FractionDigits(mantissa, nFrac), strGeneral, locale,
                 pOut);
    const Token& exponent = tokens[iExponent];
    *pOut += exponent.text;
    if (nExponent < 0)
        *pOut += '-';
    else if (exponent.ch == '+')
        *pOut += '+';
    std::string exponentDigits = std::to_string(nExponent < 0 ? -nExponent : nExponent);
    if (exponentDigits == "0")
        exponentDigits.clear();
    int iDigit = 0;
    for (size_t i = iExponent + 1; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind == TokDigit) {
            if (iDigit == 0)
                EmitExtraDigits(nExponentDigits, exponentDigits, std::string(), pOut);
            EmitPosition(nExponentDigits - 1 - iDigit++, token.ch, exponentDigits, std::string(), pOut);
        } else if (token.kind == TokLiteral) {
            *pOut += token.text;
        } else if (token.kind == TokPercent) {
            *pOut += '%';
        }
    }
    return true;
}

// "# ?/?", "# ??/??", "?/8", "#/100": the closest fraction whose denominator
// fits the placeholders, or the fixed denominator; with an integer part
// before it, the whole number there and the fraction of the rest.
bool RenderFraction(const Section& section, double dAbs, const NumberLocale& locale, std::string* pOut)
{
    const std::vector<Token>& tokens = section.tokens;
    size_t iSlash = 0;
    while (tokens[iSlash].kind != TokSlash)
        ++iSlash;
    size_t iNumerator = iSlash;
    while (iNumerator > 0 && tokens[iNumerator - 1].kind == TokDigit)
        --iNumerator;
    int nWhole = 0;
    for (size_t i = 0; i < iNumerator; ++i)
        nWhole += tokens[i].kind == TokDigit;
    std::string denominatorPlaceholders;
    for (size_t i = iSlash + 1; i < tokens.size() && tokens[i].kind == TokDigit; ++i)
        denominatorPlaceholders += tokens[i].ch;
    bool bFixed = tokens[iSlash + 1].kind == TokDenominator;

    // Past these the numerator would outgrow a long long.
    double dNumber = dAbs * pow(100.0, section.nPercent);
    if (dNumber >= 1e15 || (nWhole == 0 && dNumber >= 1e14) || (bFixed && tokens[iSlash + 1].text.size() > 6))
        return false;
    double dWhole = nWhole > 0 ? floor(dNumber) : 0;
    double dFraction = dNumber - dWhole;
    long long nNumerator = 0, nDenominator = 1;
    if (bFixed) {
        nDenominator = atoll(tokens[iSlash + 1].text.c_str());
        nNumerator = (long long)floor(dFraction * nDenominator + 0.5);
    } else {
        size_t nDigits = denominatorPlaceholders.size() < 4 ? denominatorPlaceholders.size() : 4;
        long long nMax = 1;
        for (size_t i = 0; i < nDigits; ++i)
            nMax *= 10;
        double dBestError = 2;
        for (long long nTry = 1; nTry < nMax; ++nTry) {
            long long nTryNumerator = (long long)floor(dFraction * nTry + 0.5);
            double dError = fabs(dFraction - (double)nTryNumerator / nTry);
            if (dError < dBestError) {
                dBestError = dError;
                nNumerator = nTryNumerator;
                nDenominator = nTry;
            }
        }
    }
    if (nWhole > 0 && nNumerator == nDenominator) {
        dWhole += 1;
        nNumerator = 0;
    }
    // A whole number shows no fraction: blanks as wide as its ? placeholders.
    bool bBlank = nWhole > 0 && nNumerator == 0;
    char szWhole[32];
    snprintf(szWhole, sizeof(szWhole), "%.0f", dWhole);
    std::string whole = dWhole > 0 || bBlank ? szWhole : "";
    std::string numerator = std::to_string(nNumerator);
    std::string denominator = std::to_string(nDenominator);
    std::string separator = section.bThousands ? locale.strThousands : std::string();
    int nNumeratorDigits = (int)(iSlash - iNumerator);
    bool bQuestion = false;
    for (size_t i = iNumerator; i < tokens.size(); ++i)
        bQuestion = bQuestion || (tokens[i].kind == TokDigit && tokens[i].ch == '?');
    int iWhole = 0, iNumeratorDigit = 0;
    size_t iDenominatorDigit = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind == TokDigit && i < iNumerator) {
            if (iWhole == 0)
                EmitExtraDigits(nWhole, whole, separator, pOut);
            EmitPosition(nWhole - 1 - iWhole++, token.ch, whole, separator, pOut);
        } else if (token.kind == TokDigit && i < iSlash) {
            if (bBlank)
                *pOut += token.ch == '?' ? " " : "";
            else {
                if (iNumeratorDigit == 0)
                    EmitExtraDigits(nNumeratorDigits, numerator, std::string(), pOut);
                EmitPosition(nNumeratorDigits - 1 - iNumeratorDigit, token.ch, numerator, std::string(), pOut);
            }
            ++iNumeratorDigit;
        } else if (token.kind == TokDigit) {
            // The denominator stands left, its unused places after it.
            if (bBlank)
                *pOut += token.ch == '?' ? " " : "";
            else if (iDenominatorDigit < denominator.size())
                *pOut += iDenominatorDigit + 1 == denominatorPlaceholders.size() ? denominator.substr(iDenominatorDigit)
                                                                                 : denominator.substr(iDenominatorDigit, 1);
            else if (token.ch == '?' || token.ch == '0')
                *pOut += token.ch == '?' ? ' ' : '0';
            ++iDenominatorDigit;
        } else if (token.kind == TokSlash) {
            *pOut += bBlank ? (bQuestion ? " " : "") : "/";
        } else if (token.kind == TokDenominator) {
            *pOut += bBlank ? std::string(bQuestion ? token.text.size() : 0, ' ') : token.text;
        } else if (token.kind == TokLiteral) {
            *pOut += token.text;
        } else if (token.kind == TokPercent) {
            *pOut += '%';
        }
    }
    return true;
}

bool RenderNumber(const Section& section, double dAbs, bool bMinus, const NumberLocale& locale, std::string* pOut)
{
    pOut->assign(bMinus ? "-" : "");
    bool bFraction = false, bExponent = false;
    for (const Token& token : section.tokens) {
        bFraction = bFraction || token.kind == TokSlash;
        bExponent = bExponent || token.kind == TokExponent;
    }
    if (bFraction)
        return RenderFraction(section, dAbs, locale, pOut);
    std::string general = FormatGeneral(dAbs, locale);
    if (bExponent)
        return RenderScientific(section, dAbs, general, locale, pOut);
    return RenderPlain(section, dAbs, general, locale, pOut);
}

// The date of a day counted from 1 January 1970, in the proleptic Gregorian
// calendar.
void CivilFromDays(long long z, int* pnYear, int* pnMonth, int* pnDay)
{
    z += 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = (unsigned)(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    *pnDay = (int)(doy - (153 * mp + 2) / 5 + 1);
    *pnMonth = (int)(mp < 10 ? mp + 3 : mp - 9);
    *pnYear = (int)((long long)yoe + era * 400 + (*pnMonth <= 2));
}

// The day of serial nDay. In the 1900 system Excel counts a 29 February
// 1900 (serial 60) that never was, and shows serial 0 as 0 January 1900;
// its weekdays count from serial 1 as a Sunday, which is right from March
// 1900 on.
void DateOfSerial(long long nDay, bool b1904, int* pnYear, int* pnMonth, int* pnDay, int* pnWeekday)
{
    if (b1904) {
        long long nDays = nDay + knEpoch1904;
        CivilFromDays(nDays, pnYear, pnMonth, pnDay);
        *pnWeekday = (int)(((nDays % 7) + 11) % 7);   // 1 January 1970 was a Thursday
        return;
    }
    *pnWeekday = (int)((nDay + 6) % 7);
    if (nDay == 0) {
        *pnYear = 1900, *pnMonth = 1, *pnDay = 0;
    } else if (nDay == 60) {
        *pnYear = 1900, *pnMonth = 2, *pnDay = 29;
    } else {
        CivilFromDays(nDay + knEpoch1900 - (nDay > 60), pnYear, pnMonth, pnDay);
    }
}

std::string Padded(long long n, int nWidth)
{
    std::string digits = std::to_string(n);
    if ((int)digits.size() < nWidth)
        digits.insert(0, nWidth - digits.size(), '0');
    return digits;
}

// The first character of a name ("mmmmm": "M" for March).
std::string FirstCharacter(const std::string& name)
{
    return name.empty() ? name : name.substr(0, CharBytes(name.c_str()));
}

bool RenderDate(const Section& section, double dValue, bool b1904, const NumberLocale& locale, std::string* pOut)
{
    double dLast = b1904 ? kdLastSerial1904 : kdLastSerial1900;
    if (!(dValue >= 0) || dValue >= dLast + 1)
        return false;
    int nSubDigits = 0;
    bool bTwelveHours = false;
    for (const Token& token : section.tokens) {
        if (token.kind == TokSubSecond && token.n > nSubDigits)
            nSubDigits = token.n;
        bTwelveHours = bTwelveHours || token.kind == TokAmPm;
    }
    // The time rounds to the finest unit shown; the parts above it then
    // show whole, as on a clock.
    long long nUnit = 1;
    for (int i = 0; i < nSubDigits; ++i)
        nUnit *= 10;
    long long nTicks = (long long)floor(dValue * 86400.0 * (double)nUnit + 0.5);
    long long nDay = nTicks / (86400 * nUnit);
    if (nDay > (long long)dLast)
        return false;
    long long nSeconds = nTicks / nUnit;
    long long nSub = nTicks % nUnit;
    int nHour = (int)(nSeconds / 3600 % 24), nMinute = (int)(nSeconds / 60 % 60), nSecond = (int)(nSeconds % 60);
    int nYear, nMonth, nDayOfMonth, nWeekday;
    DateOfSerial(nDay, b1904, &nYear, &nMonth, &nDayOfMonth, &nWeekday);
    pOut->clear();
    for (const Token& token : section.tokens) {
        switch (token.kind) {
        case TokLiteral:
            *pOut += token.text;
            break;
        case TokYear:
            *pOut += token.n <= 2 ? Padded(nYear % 100, 2) : Padded(nYear, 4);
            break;
        case TokMonth:
            if (token.n <= 2)
                *pOut += Padded(nMonth, token.n);
            else if (token.n == 3)
                *pOut += locale.astrMonthsShort[nMonth - 1];
            else if (token.n == 5)
                *pOut += FirstCharacter(locale.astrMonths[nMonth - 1]);
            else
                *pOut += locale.astrMonths[nMonth - 1];
            break;
        case TokDay:
            if (token.n <= 2)
                *pOut += Padded(nDayOfMonth, token.n);
            else
                *pOut += token.n == 3 ? locale.astrDaysShort[nWeekday] : locale.astrDays[nWeekday];
            break;
        case TokHour:
            *pOut += Padded(bTwelveHours ? (nHour + 11) % 12 + 1 : nHour, token.n > 2 ? 2 : token.n);
            break;
        case TokMinute:
            *pOut += Padded(nMinute, token.n);
            break;
        case TokSecond:
            *pOut += Padded(nSecond, token.n > 2 ? 2 : token.n);
            break;
        case TokElapsed:
            *pOut += Padded(token.ch == 'h' ? nSeconds / 3600 : token.ch == 'm' ? nSeconds / 60 : nSeconds, token.n);
            break;
        case TokSubSecond:
            *pOut += locale.strDecimal + Padded(nSub, nSubDigits).substr(0, token.n);
            break;
        case TokAmPm:
            if (token.text.size() == 5)
                *pOut += nHour < 12 ? locale.strAm : locale.strPm;
            else
                *pOut += token.text[nHour < 12 ? 0 : 2];
            break;
        default:
            break;
        }
    }
    return true;
}

bool Meets(const Section& section, double dValue)
{
    const std::string& op = section.strOp;
    double dLimit = section.dLimit;
    return op == "<" ? dValue < dLimit : op == "<=" ? dValue <= dLimit : op == ">" ? dValue > dLimit
         : op == ">=" ? dValue >= dLimit : op == "=" ? dValue == dLimit : dValue != dLimit;
}

// A condition only negative numbers meet, like the one a negative section
// has unwritten: its section shows the number without the minus.
bool OnlyNegatives(const Section& section)
{
    const std::string& op = section.strOp;
    return (op == "<" && section.dLimit <= 0) || ((op == "<=" || op == "=") && section.dLimit < 0);
}

// The text section: the fourth, or a last one holding @.
int TextSection(const std::vector<Section>& sections)
{
    if (sections.size() == 4 || sections.back().bText)
        return (int)sections.size() - 1;
    return -1;
}

// The section dValue shows through, and whether it shows its minus.
bool ChooseSection(const std::vector<Section>& sections, double dValue, int* piSection, bool* pbMinus)
{
    int nNumber = (int)sections.size();
    if (nNumber > 1 && TextSection(sections) == nNumber - 1)
        --nNumber;
    if (nNumber == 3 && sections[2].bCondition)
        return false;
    bool bConditions = sections[0].bCondition || (nNumber > 1 && sections[1].bCondition);
    if (!bConditions) {
        *piSection = nNumber == 1 || (dValue > 0 || (dValue == 0 && nNumber == 2)) ? 0 : dValue < 0 ? 1 : 2;
        *pbMinus = *piSection == 0;
        return true;
    }
    const Section& first = sections[0];
    if (first.bCondition ? Meets(first, dValue) : (nNumber == 3 ? dValue > 0 : dValue >= 0))
        *piSection = 0;
    else if (nNumber == 1)
        return false;
    else if (sections[1].bCondition)
        *piSection = Meets(sections[1], dValue) ? 1 : nNumber == 3 ? 2 : -1;
    else
        *piSection = nNumber == 2 || dValue < 0 ? 1 : 2;
    if (*piSection < 0)
        return false;
    const Section& chosen = sections[*piSection];
    *pbMinus = chosen.bCondition ? !OnlyNegatives(chosen) : *piSection != 1;
    return true;
}

// Windows' date and time picture ("dddd, MMMM d, yyyy", "h:mm:ss tt") as
// the Excel code that shows the same.
std::string CodeOfPicture(const std::string& picture)
{
    std::string code;
    const char* p = picture.c_str();
    while (*p) {
        char ch = *p;
        if (ch == '\'') {
            // A quoted literal; '' is the quote itself.
            ++p;
            std::string literal;
            while (*p && !(p[0] == '\'' && p[1] != '\'')) {
                literal += *p;
                p += p[0] == '\'' ? 2 : 1;
            }
            if (*p)
                ++p;
            for (char chLiteral : literal)
                code += chLiteral == '"' ? std::string("\\\"") : std::string("\"") + chLiteral + "\"";
            continue;
        }
        int n = strchr("dMyghHmst", ch) ? RunOf(p) : 1;
        switch (ch) {
        case 'd':
            code += std::string(n > 4 ? 4 : n, 'd');
            break;
        case 'M':
            code += std::string(n > 4 ? 4 : n, 'm');
            break;
        case 'y':
            code += n <= 2 ? "yy" : "yyyy";
            break;
        case 'g':
            // The era: none in the Gregorian calendar.
            break;
        case 'h':
        case 'H':
        case 'm':
        case 's':
            code += std::string(n > 2 ? 2 : n, Lower(ch));
            break;
        case 't':
            code += n == 1 ? "A/P" : "AM/PM";
            break;
        default:
            if ((unsigned char)ch >= 0x80 || strchr(" $-+/():!^&'~{}<>=.,", ch)) {
                n = (int)CharBytes(p);
                code.append(p, n);
            } else {
                code += '\\';
                code += ch;
            }
        }
        p += n;
    }
    return code;
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// Built-in 5 to 8: the locale's currency, placed as its positive and
// negative patterns place it.
std::string CurrencyCode(const NumberLocale& locale, bool bDecimals, bool bRed)
{
    std::string number = bDecimals ? "#,##0.00" : "#,##0";
    std::string symbol = Quoted(locale.strCurrency);
    std::string positive;
    switch (locale.nCurrencyPositive) {
    case 1: positive = number + symbol; break;
    case 2: positive = symbol + " " + number; break;
    case 3: positive = number + " " + symbol; break;
    default: positive = symbol + number; break;
    }
    std::string negative;
    switch (locale.nCurrencyNegative) {
    case 1: negative = "-" + symbol + number; break;
    case 2: negative = symbol + "-" + number; break;
    case 3: negative = symbol + number + "-"; break;
    case 4: negative = "\\(" + number + symbol + "\\)"; break;
    case 5: negative = "-" + number + symbol; break;
    case 6: negative = number + "-" + symbol; break;
    case 7: negative = number + symbol + "-"; break;
    case 8: negative = "-" + number + " " + symbol; break;
    case 9: negative = "-" + symbol + " " + number; break;
    case 10: negative = number + " " + symbol + "-"; break;
    case 11: negative = symbol + " " + number + "-"; break;
    case 12: negative = symbol + " -" + number; break;
    case 13: negative = number + "- " + symbol; break;
    case 14: negative = "\\(" + symbol + " " + number + "\\)"; break;
    case 15: negative = "\\(" + number + " " + symbol + "\\)"; break;
    default: negative = "\\(" + symbol + number + "\\)"; break;
    }
    // A negative in parentheses: the positive keeps room for the ")".
    if (negative[0] == '\\')
        positive += "_)";
    return positive + ";" + (bRed ? "[Red]" : "") + negative;
}

}  // namespace

NumberLocale EnglishNumberLocale()
{
    static const char* const kapszMonths[12] = { "January", "February", "March", "April", "May", "June",
                                                 "July", "August", "September", "October", "November", "December" };
    static const char* const kapszDays[7] = { "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday",
                                              "Saturday" };
    NumberLocale locale;
    locale.strDecimal = ".";
    locale.strThousands = ",";
    locale.strCurrency = "$";
    locale.nCurrencyPositive = 0;
    locale.nCurrencyNegative = 0;
    locale.nCurrencyDigits = 2;
    locale.strShortDate = "M/d/yyyy";
    locale.strLongDate = "dddd, MMMM d, yyyy";
    locale.strTime = "h:mm:ss tt";
    locale.strAm = "AM";
    locale.strPm = "PM";
    for (int i = 0; i < 12; ++i) {
        locale.astrMonths[i] = kapszMonths[i];
        locale.astrMonthsShort[i] = std::string(kapszMonths[i], 3);
    }
    for (int i = 0; i < 7; ++i) {
        locale.astrDays[i] = kapszDays[i];
        locale.astrDaysShort[i] = std::string(kapszDays[i], 3);
    }
    return locale;
}

std::string BuiltInFormatCode(int nId, const NumberLocale& locale)
{
    switch (nId) {
    case 0: return "General";
    case 1: return "0";
    case 2: return "0.00";
    case 3: return "#,##0";
    case 4: return "#,##0.00";
    case 5: return CurrencyCode(locale, false, false);
    case 6: return CurrencyCode(locale, false, true);
    case 7: return CurrencyCode(locale, true, false);
    case 8: return CurrencyCode(locale, true, true);
    case 9: return "0%";
    case 10: return "0.00%";
    case 11: return "0.00E+00";
    case 12: return "# ?/?";
    case 13: return "# ?\?/??";
    case 14: return CodeOfPicture(locale.strShortDate);
    case 15: return "d-mmm-yy";
    case 16: return "d-mmm";
    case 17: return "mmm-yy";
    case 18: return "h:mm AM/PM";
    case 19: return "h:mm:ss AM/PM";
    case 20: return "h:mm";
    case 21: return "h:mm:ss";
    case 22: return CodeOfPicture(locale.strShortDate) + " h:mm";
    case 37: return "#,##0 ;(#,##0)";
    case 38: return "#,##0 ;[Red](#,##0)";
    case 39: return "#,##0.00;(#,##0.00)";
    case 40: return "#,##0.00;[Red](#,##0.00)";
    case 45: return "mm:ss";
    case 46: return "[h]:mm:ss";
    case 47: return "mmss.0";
    case 48: return "##0.0E+0";
    case 49: return "@";
    default: return std::string();
    }
}

bool FormatCellNumber(double dValue, const std::string& strCode, bool b1904, const NumberLocale& locale,
                      std::string* pOut)
{
    *pOut = FormatGeneral(dValue, locale);
    if (!isfinite(dValue))
        return false;
    if (strCode.empty())
        return true;
    std::vector<Section> sections;
    int iSection = 0;
    bool bMinus = false;
    if (!ParseCode(strCode, &sections) || !ChooseSection(sections, dValue, &iSection, &bMinus))
        return false;
    const Section* pSection = &sections[iSection];
    std::vector<Section> system;
    if (pSection->nSystem != SystemNone) {
        const std::string& picture = pSection->nSystem == SystemLongDate ? locale.strLongDate : locale.strTime;
        if (!ParseCode(CodeOfPicture(picture), &system))
            return false;
        pSection = &system[0];
    }
    std::string text;
    bool bRendered = pSection->bDate ? RenderDate(*pSection, dValue, b1904, locale, &text)
                                     : RenderNumber(*pSection, fabs(dValue), bMinus && dValue < 0, locale, &text);
    if (!bRendered)
        return false;
    *pOut = text;
    return true;
}

std::string FormatCellText(const std::string& strText, const std::string& strCode)
{
    std::vector<Section> sections;
    if (!ParseCode(strCode, &sections))
        return strText;
    int iText = TextSection(sections);
    if (iText < 0)
        return strText;
    std::string text;
    for (const Token& token : sections[iText].tokens) {
        switch (token.kind) {
        case TokLiteral:
        case TokDenominator:
            text += token.text;
            break;
        case TokText:
            text += strText;
            break;
        case TokPoint:
            text += '.';
            break;
        case TokPercent:
            text += '%';
            break;
        case TokSlash:
            text += '/';
            break;
        case TokGrouping:
            text += ',';
            break;
        default:
            // A placeholder of a number or a date has no text to show.
            return strText;
        }
    }
    return text;
}

std::string FormatGeneral(double dValue, const NumberLocale& locale)
{
    if (isnan(dValue))
        return "#NUM!";
    if (isinf(dValue))
        return dValue < 0 ? "-#NUM!" : "#NUM!";
    if (dValue == 0)
        return "0";
    std::string sign = dValue < 0 ? "-" : "";
    Decimal decimal = ToDecimal(fabs(dValue));
    // As a decimal in eleven characters: the integer digits, the point and as
    // many decimals as fit; below 1 "0." leaves nine.
    if (decimal.nPoint <= 11) {
        int nDecimals = decimal.nPoint >= 1 ? 10 - decimal.nPoint : 9;
        Decimal shown = decimal;
        RoundDecimal(&shown, nDecimals < 0 ? 0 : nDecimals);
        Decimal scientific = decimal;
        RoundDecimal(&scientific, 6 - scientific.nPoint);
        // A small number shows as a decimal while that keeps as many of its
        // digits as the scientific notation would.
        bool bFits = !shown.digits.empty() && shown.nPoint <= 11 &&
                     (decimal.nPoint >= 1 || shown.digits.size() >= scientific.digits.size());
        if (bFits) {
            std::string integer = IntegerDigits(shown);
            int nFraction = (int)shown.digits.size() - shown.nPoint;
            std::string text = sign + (integer.empty() ? "0" : integer);
            if (nFraction > 0)
                text += locale.strDecimal + FractionDigits(shown, nFraction);
            return text;
        }
    }
    Decimal mantissa = decimal;
    RoundDecimal(&mantissa, 6 - mantissa.nPoint);
    int nExponent = mantissa.nPoint - 1;
    std::string text = sign + mantissa.digits.substr(0, 1);
    if (mantissa.digits.size() > 1)
        text += locale.strDecimal + mantissa.digits.substr(1);
    text += nExponent < 0 ? "E-" : "E+";
    text += Padded(nExponent < 0 ? -nExponent : nExponent, 2);
    return text;
}
