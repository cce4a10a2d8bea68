#include "job/preview_reading.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "engine/send_job.h"
#include "logs/job_log.h"
#include "mailing/bounded_copy.h"
#include "mailing/html_text.h"
#include "mailing/list_check.h"
#include "mailing/mail_merge.h"
#include "mailing/placeholder_check.h"
#include "mailing/text_conversion.h"
#include "settings/settings_store.h"

namespace {

// Records read between two looks at the clock.
const int kRecordsPerLook = 256;

}  // namespace

void PreviewReading::CollectSkipped(void* pContext, int nLine, int nReason, const char* pszAddress)
{
    PreviewReading* pReading = (PreviewReading*)pContext;
    pReading->m_check.AddSkipped(nLine, nReason, pszAddress);
    char szLine[LC_ADDRESS_CAPACITY + 128];
    char szAddress[LC_ADDRESS_CAPACITY];
    CopyBounded(szAddress, sizeof(szAddress), pszAddress);
    SpaceEveryLineBreak(szAddress);
    snprintf(szLine, sizeof(szLine), "  Line %d: %s%s%s", nLine, SkippedRecordReason(nReason, pszAddress),
             szAddress[0] ? ": " : "", szAddress);
    pReading->m_skipped.push_back(szLine);
}

namespace {

// The merged text, merged as the job merges it (HTML with its values as
// HTML text), or what the job would say of a merge that fails.
std::string Merged(const std::string& text, bool bHtml, const ListRecord* pHeader, const ListRecord* pRecord)
{
    char* pszMerged =
        bHtml ? MergeHtmlText(text.c_str(), pHeader, pRecord) : MergePlainText(text.c_str(), pHeader, pRecord);
    if (pszMerged == NULL)
        return "(Mail merge failed: make sure no fields are greater than 32,767 characters.)";
    std::string merged(pszMerged);
    free(pszMerged);
    return merged;
}

// A text of the add-in's boxes (ANSI) as the preview shows it (UTF-8).
std::string AnsiAsUtf8(const std::string& text)
{
    char* pszUtf8 = AnsiToUtf8Heap(text.c_str());
    if (pszUtf8 == NULL)
        return text;
    std::string utf8(pszUtf8);
    free(pszUtf8);
    return utf8;
}

// What Send would offer of a resume, as it would ask it.
bool AlreadySentByLastJob(const ResumePlan& plan, int nIndex)
{
    return plan.bFound && nIndex >= 1 && nIndex <= (int)plan.passOver.size() && plan.passOver[nIndex - 1] != 0;
}

std::string ResumeLines(const ResumePlan& plan)
{
    if (!plan.bFound)
        return std::string();
    std::string text = "Resume: Send will ask: " + ResumeQuestionText(&plan) + "\n";
    if (plan.nInFlight > 0) {
        // The question's two paragraphs on one line.
        std::string question = InFlightQuestionText(&plan);
        size_t nBreak = question.find("\n\n");
        if (nBreak != std::string::npos)
            question.replace(nBreak, 2, " ");
        text += "Resume: then: " + question + "\n";
    }
    return AnsiAsUtf8(text);
}

std::string ColumnName(const ListRecord& header, int nColumn)
{
    char szColumn[LC_FIELD_NAME_CAPACITY];
    CopyBounded(szColumn, sizeof(szColumn), header.ppszFields[nColumn]);
    SpaceEveryLineBreak(szColumn);
    return szColumn;
}

// Recipient nIndex's address, subject and body, read from the list's start
// and no further; false when the list holds fewer.
// The lines of the copy's Cc, Bcc and Reply-To, as the reading found them
// for its last recipient; none for a kind without addresses.
std::string CopyAddressLines(const CopyAddressCheck& copyAddresses)
{
    std::string lines;
    for (int nKind = 0; nKind < CopyAddressKinds; ++nKind) {
        const std::vector<std::string>& addresses = copyAddresses.Addresses(nKind);
        if (addresses.empty())
            continue;
        lines += CopyAddressKindName(nKind) + std::string(": ");
        for (size_t i = 0; i < addresses.size(); ++i)
            lines += (i ? "; " : "") + addresses[i];
        lines += "\n";
    }
    return lines;
}

bool ReadRecipientMessage(const ListSource& source, const PreviewMessage& message, int nIndex, std::string* pAddress,
                          std::string* pOthers, std::string* pSubject, std::string* pBody)
{
    ListReader list;
    if (!source.Open(&list))
        return false;
    ListRecord header, record;
    int nColumn = -1;
    bool bHeaderDone = false;
    char szAddress[LC_ADDRESS_CAPACITY];
    for (int nPlace = 1;; ++nPlace) {
        if (!list.ReadNextRecipient(&nColumn, bHeaderDone, szAddress, sizeof(szAddress), NULL, 0, NULL, 0, &header,
                                    &record))
            return false;
        bHeaderDone = true;
        if (nPlace == nIndex)
            break;
    }
    *pAddress = szAddress;
    *pOthers = CopyAddressLines(list.CopyAddresses());
    // One line, as the job makes the subject.
    *pSubject = Merged(message.subject, false, &header, &record);
    MakeOneLine(&(*pSubject)[0]);
    pSubject->resize(strlen(pSubject->c_str()));
    *pBody = message.html.empty() ? Merged(message.body, false, &header, &record)
                                  : HtmlAsText(Merged(message.html, true, &header, &record));
    return true;
}

}  // namespace

PreviewReading::PreviewReading(const char* pszListPath, const PreviewMessage& message)
    : m_listPath(pszListPath ? pszListPath : ""), m_message(message), m_nColumn(-1), m_nCounted(0),
      m_bHeaderDone(false), m_bOpened(false), m_bDone(false), m_bRefused(false), m_resume()
{
    // A workbook's sheet is written out whole first, as the job reads it.
    m_bOpened = m_source.Prepare(m_listPath.c_str(), JobOptions.ToSheet, IsWorkbookFile(m_listPath.c_str())) && m_source.Open(&m_list);
    m_bDone = !m_bOpened;
    m_list.WatchSkipped(CollectSkipped, this);
    if (m_bOpened)
        m_finder.Begin(m_listPath.c_str(), m_source.SheetAsLogged().c_str(),
                       TextAsLogged(m_message.subject.c_str()).c_str());
    if (m_finder.Active())
        m_raw.resize(LC_RAW_RECORD_CAPACITY);
}

bool PreviewReading::ReadOn(int nBudgetMs)
{
    if (m_bDone)
        return true;
    DWORD dwStart = GetTickCount();
    char szAddress[LC_ADDRESS_CAPACITY];
    for (int nRead = 1;; ++nRead) {
        char* pszRaw = m_raw.empty() ? NULL : m_raw.data();
        if (!m_list.ReadNextRecipient(&m_nColumn, m_bHeaderDone, szAddress, sizeof(szAddress), NULL, 0, pszRaw,
                                      (int)m_raw.size(), &m_header, &m_record)) {
            Finish();
            return true;
        }
        if (!m_bHeaderDone)
            BeginChecks();
        m_bHeaderDone = true;
        m_finder.Add(&m_header, &m_record, szAddress, pszRaw);
        ++m_nCounted;
        m_check.AddRecipient(m_nCounted, m_list.RecordLine(), szAddress, &m_record);
        if (nBudgetMs >= 0 && nRead % kRecordsPerLook == 0 && GetTickCount() - dwStart >= (DWORD)nBudgetMs)
            return false;
    }
}

// Once the header is read: the texts checked against its names, and the
// list check merging them as the job will.
void PreviewReading::BeginChecks()
{
    m_check.Begin(&m_header);
    if (MakePlainHeader(&m_header, &m_plainHeader)) {
        for (const std::string* pText : { &m_message.subject, &m_message.body }) {
            FindUnknownPlaceholders(pText->c_str(), false, &m_plainHeader, &m_unknown);
            FindBrokenBlocks(pText->c_str(), false, &m_plainHeader, &m_blocks);
            m_check.AddText(pText->c_str(), false, &m_plainHeader);
        }
    }
    if (!m_message.html.empty() && MakeHtmlHeader(&m_header, &m_htmlHeader)) {
        FindUnknownPlaceholders(m_message.html.c_str(), true, &m_htmlHeader, &m_unknown);
        FindBrokenBlocks(m_message.html.c_str(), true, &m_htmlHeader, &m_blocks);
        m_check.AddText(m_message.html.c_str(), true, &m_htmlHeader);
    }
}

// What Send would refuse, in the order it checks, or ask before anything
// goes: the preview never shows a list as usable that Send refuses.
void PreviewReading::Finish()
{
    m_bDone = true;
    m_list.WatchSkipped(NULL, NULL);
    m_list.Close();
    char szRefusal[LC_FIELD_NAME_CAPACITY + 256] = "";
    if (m_list.BadTextLine() > 0 && m_list.BadTextChar() != 0)
        snprintf(szRefusal, sizeof(szRefusal), "line %d of the mailing list holds the control character 0x%02X where "
                 "text belongs", m_list.BadTextLine(), (unsigned)m_list.BadTextChar());
    else if (m_list.BadTextLine() > 0)
        snprintf(szRefusal, sizeof(szRefusal), "line %d of the mailing list is not valid text in %s",
                 m_list.BadTextLine(), ListEncodingName(m_list.Encoding()));
    else if (m_list.UnclosedQuoteLine() > 0)
        snprintf(szRefusal, sizeof(szRefusal), "the record at line %d opens a double quote that is never closed",
                 m_list.UnclosedQuoteLine());
    else if (m_nColumn < 0)
        snprintf(szRefusal, sizeof(szRefusal), "no column is named for the e-mail address");
    else if (m_list.CutShort() && m_nCounted == 0)
        snprintf(szRefusal, sizeof(szRefusal), "the mailing list holds a record longer than 32,767 characters "
                 "before its first recipient");
    else if (m_nCounted == 0)
        snprintf(szRefusal, sizeof(szRefusal), "the mailing list has no usable recipient");
    if (szRefusal[0]) {
        m_refusal = "Send refuses this list: " + std::string(szRefusal) + ". Nothing would be sent.\n";
        m_bRefused = true;
    } else {
        if (m_list.CutShort())
            m_refusal = "Send asks first: the mailing list holds a record longer than 32,767 characters after its "
                        "recipient " + std::to_string(m_nCounted) + ", and is read only up to it.\n";
        int nCandidates = CountAddressColumns(&m_header);
        if (nCandidates > 1 && m_nColumn < m_header.nCount)
            m_refusal += "Send asks first: the mailing list has " + std::to_string(nCandidates) +
                         " columns that could hold the e-mail address; each copy goes to the address in the column \"" +
                         ColumnName(m_header, m_nColumn) + "\".\n";
    }
    // A list without an address column has nothing to resume.
    if (m_nColumn >= 0)
        m_finder.Finish(&m_resume);
}

std::string PreviewReading::ListFacts() const
{
    std::string text = "Mailing list: " + m_listPath + "\n";
    if (m_source.IsWorkbook())
        text += "Sheet: " + m_source.Sheet().SheetName() + "\n";
    else
        text += "Delimiter: " + std::string(DelimiterName(m_list.Delimiter())) + "\n";
    if (m_nColumn >= 0 && m_nColumn < m_header.nCount) {
        text += "Address column: " + ColumnName(m_header, m_nColumn) + "\n";
        CopyAddressColumns columns;
        FindCopyAddressColumns(&m_header, &columns);
        for (int nKind = 0; nKind < CopyAddressKinds; ++nKind) {
            if (columns.anColumn[nKind] >= 0)
                text += CopyAddressKindName(nKind) + std::string(" column: ") +
                        ColumnName(m_header, columns.anColumn[nKind]) + "\n";
        }
    }
    else if (m_bDone)
        text += "Address column: none (no column is named for the e-mail address)\n";
    if (!m_bDone) {
        text += "Usable recipients: still being counted\n";
        text += "Skipped records: still being counted\n";
    } else {
        text += "Usable recipients: " + std::to_string(m_nCounted) + "\n";
        text += "Skipped records: " + std::to_string(m_skipped.size()) + "\n";
        for (const std::string& line : m_skipped)
            text += line + "\n";
        text += m_refusal;
    }
    for (const std::string& warning : PlaceholderWarnings(m_unknown, m_blocks))
        text += "Warning: " + warning + "\n";
    // The skipped records are listed above; the rest of what Send asks about.
    if (m_bDone && !m_bRefused) {
        for (const std::string& finding : m_check.Findings(false))
            text += "Send asks first: " + finding + "\n";
    }
    text += ResumeLines(m_resume);
    return text;
}

std::string PreviewReading::Position(int nIndex, const std::string& address) const
{
    if (address.empty())
        return "No recipient";
    return Place(nIndex) + ": " + address;
}

std::string PreviewReading::Place(int nIndex) const
{
    return "Recipient " + std::to_string(nIndex) + " of " + std::to_string(m_nCounted) + (m_bDone ? "" : " so far");
}

void PreviewReading::Show(int nIndex, std::string* pPosition, std::string* pText, std::string* pAddress) const
{
    pAddress->clear();
    if (!m_bOpened) {
        *pPosition = "No recipient";
        *pText = m_source.IsWorkbook() ? m_source.MessageUtf8() : "Could not open the mailing list file for reading.";
        return;
    }
    *pText = ListFacts();
    std::string& address = *pAddress;
    std::string others, subject, body;
    // No recipient of a list that Send refuses: none would get the message.
    if (m_bRefused || Counted() < nIndex ||
        !ReadRecipientMessage(m_source, m_message, nIndex, &address, &others, &subject, &body)) {
        address.clear();
        *pPosition = Position(nIndex, address);
        return;
    }
    *pPosition = Position(nIndex, address);
    *pText += "\n" + Place(nIndex) + "\n";
    *pText += "From: " + m_message.sender + "\n";
    *pText += "To: " + address + "\n";
    *pText += others;
    if (m_resume.bFound && m_resume.nInFlight == nIndex)
        *pText += "In flight when the last job stopped: Send asks whether to send to this recipient as well.\n";
    else if (AlreadySentByLastJob(m_resume, nIndex))
        *pText += "Already sent by the last job: a resumed job passes this recipient over.\n";
    *pText += "Subject: " + subject + "\n\n";
    *pText += body;
}
