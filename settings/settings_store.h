// The user's options: registry-backed under HKEY_CURRENT_USER, held in memory
// in JobOptions while the add-in runs.
#ifndef LETTERCAST_SETTINGS_STORE_H
#define LETTERCAST_SETTINGS_STORE_H

#define LC_PATH_CAPACITY 260          // bytes of every path buffer, terminator included
#define LC_SHEET_CAPACITY 256         // bytes of a workbook sheet's name in UTF-8, terminator included

#define LC_PAUSE_MIN 0
#define LC_PAUSE_MAX 9999
#define LC_SENDRECV_COUNT_MIN 1
#define LC_SENDRECV_COUNT_MAX 9999
#define LC_PER_MINUTE_MAX 9999
#define LC_PER_DAY_MAX 1000000
#define LC_PAUSE_VARIATION_MAX 9999

// Field names are those of the registry values in section "options".
struct JobOptionsRecord {
    char ToList[LC_PATH_CAPACITY];        // mailing-list path of the main dialog
    char ToSheet[LC_SHEET_CAPACITY];      // the sheet of a workbook list, UTF-8; "" for its first
    char LastToFolder[LC_PATH_CAPACITY];  // folder the Browse dialog opens in, with a trailing backslash
    int Pause;                            // seconds between two e-mails
    int SaveOrig;                         // non-zero keeps the composed message after a job, 0 deletes it
    int DoSendRecv;                       // exactly 1 runs a Send/Receive every SendRecvCount e-mails
    int SendRecvCount;
    // The sending limits; 0 turns each off.
    int PerMinute;                        // messages in any 60 seconds
    int PerDay;                           // recipients (To, Cc and Bcc) in any 24 hours
    int PauseVariation;                   // seconds the pause is varied by, either way
};

extern JobOptionsRecord JobOptions;

extern const char gszOptionsSection[];    // "options"

// Results: 1 success, 0 failure.
int ReadString(const char* pszSection, const char* pszName, char* pszOut,
               const char* pszDefault, unsigned cbCapacity);
int WriteString(const char* pszSection, const char* pszName, const char* pszText);
// The same for text kept in UTF-8 (a sheet's name in any script): stored as
// Unicode, so no code page stands between.
int ReadStringUtf8(const char* pszSection, const char* pszName, char* pszOut, unsigned cbCapacity);
int WriteStringUtf8(const char* pszSection, const char* pszName, const char* pszText);
int ReadNumber(const char* pszSection, const char* pszName, int nDefault);
int WriteNumber(const char* pszSection, const char* pszName, int nValue);

void LoadOptions();
int SaveOptions();   // every write is attempted; the result is that of the last one

// The built-in values that JobOptions holds before LoadOptions runs.
JobOptionsRecord BuiltInJobOptions();

#endif
