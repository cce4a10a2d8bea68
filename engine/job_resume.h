// Resuming an interrupted job: what the last job's current log and sent list
// say about the list being sent again, and which of its recipients the new
// job passes over because they already have their copy.
#ifndef LETTERCAST_JOB_RESUME_H
#define LETTERCAST_JOB_RESUME_H

#include <stdio.h>

#include <string>
#include <vector>

#include "mailing/list_reader.h"

class SendJob;
struct SendJobState;

#define LC_RESUME_DATE_CAPACITY 64

struct ResumePlan {
    bool bResumed;                          // the user chose to send only to the rest
    int nEarlier;                           // recipients of the last job's sent list
    char szStarted[LC_RESUME_DATE_CAPACITY];   // when the last job started, as its log says
    char szInFlight[LC_ADDRESS_CAPACITY];   // the last job's recipient whose copy was submitted without a result
    bool bSkipInFlight;                     // the user answered that recipient No
    std::vector<std::string> keys;          // the sent addresses compared, sorted
    std::vector<std::string> earlierRecords;   // the last sent list's records, raw, in UTF-8 as read
    int nPassedOver;                        // records the sending pass passed over as already sent
};

// What the last job left about this list, read before this job replaces its
// logs. pszHeaderRaw is this list's header as read.
struct LastJobRecord {
    bool bSameList;       // same full path, not completed
    bool bSameHeader;     // its sent list starts with this list's header
    int nEarlier;
    char szStarted[LC_RESUME_DATE_CAPACITY];
    char szInFlight[LC_ADDRESS_CAPACITY];
};

// Reads the current job log at pszLogPath for the job that sent pszListPath:
// bSameList when it names that list and has no completed end block.
void ReadLastJobLog(const char* pszLogPath, const char* pszListPath, LastJobRecord* pRecord);

// Reads the sent list at pszSentListPath into pPlan's keys and records when
// its header is pszHeaderRaw; false otherwise.
bool ReadLastSentList(const char* pszSentListPath, const char* pszHeaderRaw, ResumePlan* pPlan);

// The address as compared: blanks around it dropped, A-Z made a-z.
std::string ResumeKey(const char* pszAddress);

// Before anything is sent: when the last job to this list did not complete,
// asks whether to send only to the recipients who have not had it yet, and
// about the recipient it was sending to when it stopped. Fills pPlan.
void OfferResume(SendJob* pJob, SendJobState* pState, ResumePlan* pPlan);

// True when the recipient is to be passed over; *pbInFlight when it is the
// recipient of the last job that was answered No (not in the last sent list).
bool AlreadySent(const ResumePlan* pPlan, const char* pszAddress, bool* pbInFlight);

#endif
