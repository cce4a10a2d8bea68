// The sending limits: what went out in the last 24 hours, from this job,
// earlier jobs and test sends, kept in a small file of the user's data
// folder, and when the next copy may go without passing a limit.
#ifndef LETTERCAST_SEND_LIMITS_H
#define LETTERCAST_SEND_LIMITS_H

#include <windows.h>
#include <stdio.h>

#include <string>
#include <vector>

// Milliseconds since 1601 (UTC), as the system clock gives them.
typedef ULONGLONG LimitTime;

#define LC_LIMIT_MINUTE_MS 60000ULL
#define LC_LIMIT_DAY_MS (24ULL * 60 * 60 * 1000)

LimitTime LimitClockNow();

// How the record of earlier submissions was found.
enum SentTimesState {
    SentTimesRead,       // read whole
    SentTimesMissing,    // no record yet: nothing went from this user in 24 hours, or the file was deleted
    SentTimesDamaged,    // a line that is no record: counting starts from zero
    SentTimesCutShort,   // the last line was cut short (a crash while it was written): it is left out
};

struct LimitValues {
    int nPerMinute;   // messages in any 60 seconds; 0: no limit
    int nPerDay;      // recipients in any 24 hours; 0: no limit
};

// Copies in time order with their recipients and the running count of
// these, so that either limit is worked out in a few steps however many
// copies a day holds.
class SentWindow {
public:
    void Add(LimitTime tWhen, int nRecipients);
    size_t Size() const { return m_times.size(); }
    // Those after tFrom.
    int MessagesSince(LimitTime tFrom) const;
    long long RecipientsSince(LimitTime tFrom) const;
    LimitTime NextAllowed(LimitTime tNow, int nRecipients, const LimitValues& limits) const;

private:
    std::vector<LimitTime> m_times;
    std::vector<long long> m_running;   // recipients up to and including each
};

class SentTimes {
public:
    SentTimes() : m_state(SentTimesMissing), m_nBadLine(0), m_pAppend(NULL) {}
    ~SentTimes();
    SentTimes(const SentTimes&) = delete;
    SentTimes& operator=(const SentTimes&) = delete;

    // Reads the record at pszPath and keeps the last 24 hours of it before
    // tNow; then writes it back in their place, whole or not at all, so
    // that the file never grows past a day's submissions.
    void Load(const char* pszPath, LimitTime tNow);
    SentTimesState State() const { return m_state; }
    int BadLine() const { return m_nBadLine; }

    // One copy to nRecipients submitted at tWhen: counted here and added
    // to the file (one line, so that a crash loses at most that line).
    // False when the file could not be written; the count is kept all the same.
    bool Add(LimitTime tWhen, int nRecipients);

    // The earliest time from tNow on at which a copy to nRecipients passes
    // neither limit. A copy to more recipients than the daily limit goes
    // when nothing else is in its 24 hours.
    LimitTime NextAllowed(LimitTime tNow, int nRecipients, const LimitValues& limits) const;
    // When the last of nCopies copies (nRecipients each) would go, each
    // taking dwWorkMs and the pause dwPauseMs after the one before it,
    // under the limits; the first could start at tNow.
    LimitTime FinishTime(LimitTime tNow, int nCopies, int nRecipients, DWORD dwWorkMs, DWORD dwPauseMs,
                         const LimitValues& limits) const;

    int MessagesSince(LimitTime tFrom) const { return m_window.MessagesSince(tFrom); }
    long long RecipientsSince(LimitTime tFrom) const { return m_window.RecipientsSince(tFrom); }

private:
    std::string m_path;
    SentWindow m_window;
    SentTimesState m_state;
    int m_nBadLine;
    FILE* m_pAppend;   // the record, open for the copies of one job from the first on
};

// "09:12", "09:12 tomorrow" or "09:12 on 12/11/2026", in local time, as
// the user reads the time of a wait ("the next message goes at ...").
std::string LocalTimeText(LimitTime tWhen, LimitTime tNow, bool bSeconds);
// A FILETIME (UTC) as a LimitTime.
LimitTime LimitTimeOfFileTime(const FILETIME& ft);

#endif
