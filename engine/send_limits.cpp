#include "engine/send_limits.h"

#include <io.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "engine/com_holder.h"

// The record's first line: what the file is, and the form of its lines.
static const char kszSentTimesHeader[] = "Lettercast sent times 1";

LimitTime LimitClockNow()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return LimitTimeOfFileTime(ft);
}

LimitTime LimitTimeOfFileTime(const FILETIME& ft)
{
    ULARGE_INTEGER value;
    value.LowPart = ft.dwLowDateTime;
    value.HighPart = ft.dwHighDateTime;
    return value.QuadPart / 10000;
}

static FILETIME FileTimeOfLimitTime(LimitTime tWhen)
{
    ULARGE_INTEGER value;
    value.QuadPart = tWhen * 10000;
    FILETIME ft;
    ft.dwLowDateTime = value.LowPart;
    ft.dwHighDateTime = value.HighPart;
    return ft;
}

namespace {

// "2026-12-09 16:40:05.123 1": the time in UTC, so that a change of the
// clocks or of the time zone moves nothing, then the recipients.
bool FormatEntryLine(LimitTime tWhen, int nRecipients, char* pszLine, size_t cchLine)
{
    FILETIME ft = FileTimeOfLimitTime(tWhen);
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st))
        return false;
    int cch = snprintf(pszLine, cchLine, "%04u-%02u-%02u %02u:%02u:%02u.%03u %d\n", st.wYear, st.wMonth, st.wDay,
                       st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, nRecipients);
    return cch > 0 && (size_t)cch < cchLine;
}

bool ParseEntryLine(const char* pszLine, LimitTime* ptWhen, int* pnRecipients)
{
    unsigned uYear, uMonth, uDay, uHour, uMinute, uSecond, uMs;
    int nRecipients = 0, cchUsed = 0;
    if (sscanf(pszLine, "%4u-%2u-%2u %2u:%2u:%2u.%3u %d%n", &uYear, &uMonth, &uDay, &uHour, &uMinute, &uSecond, &uMs,
               &nRecipients, &cchUsed) != 8 ||
        pszLine[cchUsed] != '\0' || nRecipients < 0)
        return false;
    SYSTEMTIME st = {};
    st.wYear = (WORD)uYear;
    st.wMonth = (WORD)uMonth;
    st.wDay = (WORD)uDay;
    st.wHour = (WORD)uHour;
    st.wMinute = (WORD)uMinute;
    st.wSecond = (WORD)uSecond;
    st.wMilliseconds = (WORD)uMs;
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft))
        return false;
    *ptWhen = LimitTimeOfFileTime(ft);
    *pnRecipients = nRecipients;
    return true;
}

bool ReadWholeFile(const char* pszPath, std::string* pText, bool* pbMissing)
{
    *pbMissing = false;
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        *pbMissing = dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
        return false;
    }
    bool bRead = true;
    char buffer[16384];
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(hFile, buffer, sizeof(buffer), &cbRead, NULL)) {
            bRead = false;
            break;
        }
        if (cbRead == 0)
            break;
        pText->append(buffer, cbRead);
    }
    CloseHandle(hFile);
    return bRead;
}

}  // namespace

namespace {

struct Entry {
    LimitTime tWhen;
    int nRecipients;
};

}  // namespace

SentTimes::~SentTimes()
{
    if (m_pAppend)
        fclose(m_pAppend);
}

void SentTimes::Load(const char* pszPath, LimitTime tNow)
{
    if (m_pAppend)
        fclose(m_pAppend);
    m_pAppend = NULL;
    m_path = pszPath ? pszPath : "";
    m_window = SentWindow();
    std::vector<Entry> entries;
    m_state = SentTimesRead;
    m_nBadLine = 0;

    std::string text;
    bool bMissing = false;
    if (m_path.empty() || !ReadWholeFile(m_path.c_str(), &text, &bMissing)) {
        m_state = bMissing || m_path.empty() ? SentTimesMissing : SentTimesDamaged;
    } else {
        size_t nStart = 0;
        for (int nLine = 1; nStart < text.size() && m_state == SentTimesRead; ++nLine) {
            size_t nEnd = text.find('\n', nStart);
            if (nEnd == std::string::npos) {
                // Only the last write can have been cut short.
                m_state = SentTimesCutShort;
                m_nBadLine = nLine;
                break;
            }
            std::string line = text.substr(nStart, nEnd - nStart);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            nStart = nEnd + 1;
            Entry entry;
            if (nLine == 1 ? line == kszSentTimesHeader : ParseEntryLine(line.c_str(), &entry.tWhen, &entry.nRecipients)) {
                if (nLine > 1)
                    entries.push_back(entry);
                continue;
            }
            m_state = SentTimesDamaged;
            m_nBadLine = nLine;
        }
        if (m_state == SentTimesDamaged)
            entries.clear();
        if (m_state == SentTimesRead && text.empty())
            m_state = SentTimesDamaged;
    }

    // Only the last 24 hours count; a time ahead of the clock (the clock was
    // put back) still counts, so that no limit is passed for it.
    std::vector<Entry> kept;
    for (const Entry& entry : entries) {
        if (entry.tWhen + LC_LIMIT_DAY_MS > tNow)
            kept.push_back(entry);
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) { return a.tWhen < b.tWhen; });
    for (const Entry& entry : kept)
        m_window.Add(entry.tWhen, entry.nRecipients);

    if (m_path.empty())
        return;
    // Written beside it and put in its place in one move: a crash leaves the
    // old record or the new one, never half of either.
    std::string temp = m_path + ".new";
    FileHolder file(fopen(temp.c_str(), "wb"));
    if (!file)
        return;
    bool bWritten = fprintf(file, "%s\n", kszSentTimesHeader) > 0;
    char szLine[64];
    for (const Entry& entry : kept)
        bWritten = bWritten && FormatEntryLine(entry.tWhen, entry.nRecipients, szLine, sizeof(szLine)) &&
                   fputs(szLine, file) >= 0;
    bWritten = fflush(file) == 0 && bWritten;
    if (bWritten)
        FlushFileBuffers((HANDLE)_get_osfhandle(_fileno(file)));
    file.Reset();
    if (!bWritten || !MoveFileExA(temp.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(temp.c_str());
}

bool SentTimes::Add(LimitTime tWhen, int nRecipients)
{
    m_window.Add(tWhen, nRecipients);
    if (m_path.empty())
        return false;
    char szLine[64];
    if (!FormatEntryLine(tWhen, nRecipients, szLine, sizeof(szLine)))
        return false;
    // Appended and flushed in one write: a crash loses this line at most,
    // and the next Load knows a line cut short for what it is.
    if (m_pAppend == NULL)
        m_pAppend = fopen(m_path.c_str(), "ab");
    if (m_pAppend == NULL)
        return false;
    bool bWritten = fputs(szLine, m_pAppend) >= 0;
    return fflush(m_pAppend) == 0 && bWritten;
}

void SentWindow::Add(LimitTime tWhen, int nRecipients)
{
    // A copy dated before the last one (the clock was put back) is counted
    // as the last: what matters is that it counts, not where.
    if (!m_times.empty() && tWhen < m_times.back())
        tWhen = m_times.back();
    m_times.push_back(tWhen);
    m_running.push_back((m_running.empty() ? 0 : m_running.back()) + nRecipients);
}

int SentWindow::MessagesSince(LimitTime tFrom) const
{
    size_t i = (size_t)(std::upper_bound(m_times.begin(), m_times.end(), tFrom) - m_times.begin());
    return (int)(m_times.size() - i);
}

long long SentWindow::RecipientsSince(LimitTime tFrom) const
{
    size_t i = (size_t)(std::upper_bound(m_times.begin(), m_times.end(), tFrom) - m_times.begin());
    if (i == m_times.size())
        return 0;
    return m_running.back() - (i > 0 ? m_running[i - 1] : 0);
}

LimitTime SentWindow::NextAllowed(LimitTime tNow, int nRecipients, const LimitValues& limits) const
{
    LimitTime tNext = tNow;
    size_t n = m_times.size();
    // A copy is in the minute or the 24 hours before t while t is short of
    // its time plus that span. Per minute: the copy nPerMinute back from the
    // last has to be out of the minute.
    if (limits.nPerMinute > 0 && n >= (size_t)limits.nPerMinute)
        tNext = std::max(tNext, m_times[n - limits.nPerMinute] + LC_LIMIT_MINUTE_MS);
    if (limits.nPerDay > 0 && n > 0) {
        // Copies 0 .. i have to leave the 24 hours when those after them,
        // with this one, would pass the limit; i is the first whose running
        // count reaches what must go.
        long long llTotal = m_running[n - 1];
        long long llRoom = (long long)limits.nPerDay - nRecipients;
        if (llRoom < 0) {
            tNext = std::max(tNext, m_times[n - 1] + LC_LIMIT_DAY_MS);
        } else if (llTotal > llRoom) {
            size_t i = (size_t)(std::lower_bound(m_running.begin(), m_running.end(), llTotal - llRoom) -
                                m_running.begin());
            tNext = std::max(tNext, m_times[i] + LC_LIMIT_DAY_MS);
        }
    }
    return tNext;
}

LimitTime SentTimes::NextAllowed(LimitTime tNow, int nRecipients, const LimitValues& limits) const
{
    return m_window.NextAllowed(tNow, nRecipients, limits);
}

LimitTime SentTimes::FinishTime(LimitTime tNow, int nCopies, int nRecipients, DWORD dwWorkMs, DWORD dwPauseMs,
                                const LimitValues& limits) const
{
    SentWindow window = m_window;
    LimitTime t = tNow;
    for (int i = 0; i < nCopies; ++i) {
        if (i > 0)
            t += dwPauseMs;
        t = window.NextAllowed(t, nRecipients, limits) + dwWorkMs;
        window.Add(t, nRecipients);
    }
    return t;
}

std::string LocalTimeText(LimitTime tWhen, LimitTime tNow, bool bSeconds)
{
    FILETIME ftWhen = FileTimeOfLimitTime(tWhen), ftNow = FileTimeOfLimitTime(tNow);
    SYSTEMTIME stUtc, stWhen, stNow;
    if (!FileTimeToSystemTime(&ftWhen, &stUtc) || !SystemTimeToTzSpecificLocalTime(NULL, &stUtc, &stWhen) ||
        !FileTimeToSystemTime(&ftNow, &stUtc) || !SystemTimeToTzSpecificLocalTime(NULL, &stUtc, &stNow))
        return "?";
    char szText[64];
    int cch = bSeconds ? snprintf(szText, sizeof(szText), "%02u:%02u:%02u", stWhen.wHour, stWhen.wMinute, stWhen.wSecond)
                       : snprintf(szText, sizeof(szText), "%02u:%02u", stWhen.wHour, stWhen.wMinute);
    std::string text(szText, cch > 0 ? (size_t)cch : 0);
    if (stWhen.wYear == stNow.wYear && stWhen.wMonth == stNow.wMonth && stWhen.wDay == stNow.wDay)
        return text;
    // Tomorrow is the local date a day after today's noon.
    SYSTEMTIME stTomorrow = stNow;
    stTomorrow.wHour = 12;
    FILETIME ftNoon;
    SystemTimeToFileTime(&stTomorrow, &ftNoon);
    FILETIME ftTomorrow = FileTimeOfLimitTime(LimitTimeOfFileTime(ftNoon) + LC_LIMIT_DAY_MS);
    FileTimeToSystemTime(&ftTomorrow, &stTomorrow);
    if (stWhen.wYear == stTomorrow.wYear && stWhen.wMonth == stTomorrow.wMonth && stWhen.wDay == stTomorrow.wDay)
        return text + " tomorrow";
    snprintf(szText, sizeof(szText), " on %u/%u/%u", stWhen.wMonth, stWhen.wDay, stWhen.wYear);
    return text + szText;
}
