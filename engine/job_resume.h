// Resuming an interrupted job: what the last job to a list that did not
// complete left (its current log and sent list), which recipients of the
// list as it is now already have their copy, and the add-in's own record of
// such jobs, which outlives jobs to other lists.
//
// The record: when a job opens its logs while the last job's current log
// tells of a job that did not complete, that log and its sent list are kept
// in the Resume folder of the data folder, under a name made from that job's
// list path; a job that completes removes the record of its list. Each job
// also keeps there, under its own list's name, the header and record of the
// recipient it is working on ("in flight"), written before the copy is made.
#ifndef LETTERCAST_JOB_RESUME_H
#define LETTERCAST_JOB_RESUME_H

#include <windows.h>
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "mailing/list_reader.h"

struct SendJobState;

#define LC_RESUME_DATE_CAPACITY 64

struct ResumePlan {
    bool bFound;              // the last job to this list with this subject did not complete
    bool bResumed;            // the user chose to send only to the rest
    bool bHeaderChanged;      // the list's header is not the one that job's sent list has
    int nTotal;               // recipients of the list as it is now
    int nEarlier;             // of them, those the last job's sent list holds
    std::string subject;      // that job's subject, as its start block has it (ANSI)
    char szStarted[LC_RESUME_DATE_CAPACITY];   // when it started, as its log says
    char szInFlight[LC_ADDRESS_CAPACITY];      // its recipient submitted without a result; "" when none
    int nInFlight;            // that recipient's place in the list (1 on); 0 when it is not in the list
    std::string inFlightRecord;   // its record's raw text, UTF-8
    bool bSkipInFlight;       // the user answered that recipient No
    std::vector<char> passOver;   // by place in the list (0 on): 1 = already has the copy
    std::vector<std::string> sentRecords;   // raw texts of those records, in list order, for the new sent list
    int nPassedOver;          // records the sending pass passed over
    char szFlightPath[MAX_PATH];   // where this job keeps its recipient in flight; "" for none
};

// What a current job log tells of its job.
struct LastJobRecord {
    bool bNamesList;      // its "Mailing List:" is the path asked about (any case), and its sheet the sheet
    bool bCompleted;      // "Result: Completed Successfully"
    std::string list;     // the path it names
    std::string sheet;    // the workbook's sheet it names ("Sheet:"), "" for a text list
    std::string subject;  // its "Subject:" line
    char szStarted[LC_RESUME_DATE_CAPACITY];
    char szInFlight[LC_ADDRESS_CAPACITY];   // the last "Sending" line without a result after it
};

// Reads the current job log at pszLogPath; pszListPath may be NULL. A
// sheet is named as the logs write it (TextAsLogged), "" for a text list.
void ReadLastJobLog(const char* pszLogPath, const char* pszListPath, const char* pszSheet, LastJobRecord* pRecord);

// A UTF-8 text (a subject, a sheet's name) as the start block writes it, in
// the ANSI code page.
std::string TextAsLogged(const char* pszTextUtf8);

// What a resume of a list would do, found alongside a reading of the list
// that is made anyway (the counting pass, the Preview's): Begin reads the
// last job's log and sent list, Add takes each recipient of the list as it
// is now, in order, and Finish fills the plan. Reads the logs only; asks
// nothing. Inactive (Add does nothing) when there is nothing to resume.
// A list read whole, every text UTF-8 as the reader returns it.
struct ResumeList {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> addresses;
    std::vector<std::string> raws;
};

class ResumeFinder {
public:
    ResumeFinder();
    ResumeFinder(const ResumeFinder&) = delete;
    ResumeFinder& operator=(const ResumeFinder&) = delete;

    // For the list pszJobList (the path the logs name) and a job with the
    // subject pszSubjectAnsi. The list's delimiter must be detected.
    void Begin(const char* pszJobList, const char* pszSheet, const char* pszSubjectAnsi);
    bool Active() const { return m_bActive; }
    // A recipient as ReadNextRecipient hands it out: the header, its record,
    // its address and its record's raw text.
    void Add(const ListRecord* pHeader, const ListRecord* pRecord, const char* pszAddress, const char* pszRaw);
    // pPlan->bFound and everything but the answers.
    void Finish(ResumePlan* pPlan);

private:
    void MatchHeader(const std::vector<std::string>& now);

    bool m_bActive;
    bool m_bHeaderSeen;
    LastJobRecord m_last;
    ResumeList m_then;      // the last job's sent list
    ResumeList m_flight;    // the record it kept in flight, when of the address in flight
    std::string m_flightAddress;   // the address in flight, as compared; "" for none
    std::map<std::string, int> m_sent;   // the sent list's recipients by key, and how many alike
    std::vector<int> m_nowColumns, m_nowFlight;
    std::string m_flightKey;
    std::vector<std::string> m_fields;
    int m_nExact, m_nAny;   // the first recipient not yet sent of that record, of that address
    std::string m_exactRaw, m_anyRaw;
    ResumePlan m_plan;
};


// The question's first text (without the paragraph about No), and the one
// about the recipient in flight, as Send asks them and the Preview shows them.
std::string ResumeQuestionText(const ResumePlan* pPlan);
std::string InFlightQuestionText(const ResumePlan* pPlan);

// Before anything is sent: when the finder, fed by the counting pass, finds
// a job to resume, asks whether to send only to the recipients who have not
// had it yet, and about the recipient it was sending to when it stopped.
// Fills the state's plan.
void OfferResume(SendJobState* pState, ResumeFinder* pFinder);

// True when the recipient at nPlace (1 on) of the sending pass is to be
// passed over: the last job sent it, or it was in flight and answered No.
bool AlreadySent(const ResumePlan* pPlan, int nPlace);

// As a job opens its logs, before they are replaced: keeps the last job's
// current log and sent list as the record of its list when it did not
// complete, and sets where this job keeps its recipient in flight.
void KeepIncompleteJob(const char* pszJobList, const char* pszSheet, ResumePlan* pPlan);
// Before a recipient's copy is made: its header and record, kept as the
// recipient in flight of this job's list.
void NoteRecordInFlight(const ResumePlan* pPlan, const char* pszHeaderRaw, const char* pszRecordRaw);
// A job to the list completed: its record of an incomplete job goes.
void ForgetIncompleteJob(const char* pszJobList, const char* pszSheet);

// The record's files for a list: its kept current log, sent list and
// recipient in flight; false when the data folder is unknown. Each sheet of
// a workbook is a list of its own.
bool ResumeRecordPaths(const char* pszJobList, const char* pszSheet, char* pszLog, char* pszSent, char* pszFlight);

#endif
