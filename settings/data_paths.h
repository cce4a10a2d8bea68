// The add-in's two folders and the names of its files, fixed once per process.
#ifndef LETTERCAST_DATA_PATHS_H
#define LETTERCAST_DATA_PATHS_H

#include <windows.h>

#include "settings/settings_store.h"

extern HINSTANCE ghInstance;                      // every resource is loaded through it
extern char gszDllDir[LC_PATH_CAPACITY];          // long form, trailing backslash; empty when unknown
extern char gszSentListPath[LC_PATH_CAPACITY];    // <data folder>\tosent.txt
extern char gszJobHistoryPath[LC_PATH_CAPACITY];  // <data folder>\JobHistory.txt
extern char gszCurrentJobPath[LC_PATH_CAPACITY];  // <data folder>\CurrentJob.txt
extern char gszSentTimesPath[LC_PATH_CAPACITY];   // <data folder>\SentTimes.dat: what went in the last 24 hours

// The sent list of a job: gszSentListPath for a text list; for a sheet of a
// workbook (its name as the logs write it, ANSI) "<data folder>\<sheet>.csv",
// every character a file name cannot hold made '_'. False when it does not fit.
bool FormSentListPath(const char* pszSheet, char* pszOut, size_t cchOut);

// Finds the folders, forms the log paths and loads the options. Returns 1 when
// the DLL may stay loaded, 0 when its own folder cannot be found.
int InitDataPaths(HINSTANCE hModule);

// Diagnostic hook; produces no output.
void Trace(const char* pszFormat, ...);

#endif
