// The people a recipient's copy also goes to, from the list's own columns:
// "Cc" and "Bcc", and "Reply-To" (or "Reply To") for where replies go. A
// cell may name several addresses, separated by ";" or ",", and may hold
// placeholders, merged with the record's values before it is read; each
// address is checked as the address column's is (ReadOneAddress of
// mailing/list_reader.h). Plain C++ over the C runtime, so it also builds
// natively.
#ifndef LETTERCAST_COPY_ADDRESSES_H
#define LETTERCAST_COPY_ADDRESSES_H

#include <string>
#include <vector>

#include "mailing/list_record.h"

enum CopyAddressKind {
    CopyCc = 0,
    CopyBcc = 1,
    CopyReplyTo = 2,
    CopyAddressKinds = 3,
};

// "Cc", "Bcc" or "Reply-To".
const char* CopyAddressKindName(int nKind);

// The index of the first column of each kind (its whole name, trimmed, in
// any case), -1 where the header has none.
struct CopyAddressColumns {
    int anColumn[CopyAddressKinds];
};
void FindCopyAddressColumns(const ListRecord* pHeader, CopyAddressColumns* pColumns);

// One reading's check of those columns: begun on the list's header, then
// asked of every record that has a usable address of its own.
class CopyAddressCheck {
public:
    CopyAddressCheck();
    CopyAddressCheck(const CopyAddressCheck&) = delete;
    CopyAddressCheck& operator=(const CopyAddressCheck&) = delete;

    // Finds the columns, and keeps the header's names when there are any,
    // for the cells' placeholders.
    void Begin(const ListRecord* pHeader);
    // 0 when each cell of the columns holds addresses alone (an empty cell
    // adds nobody), the addresses then kept as the record's; else the
    // ListSkip reason of the first cell that does not (ListSkipBadCc and on,
    // by kind), with *pBad its text as far as read.
    int Read(const ListRecord* pRecord, std::string* pBad);

    const CopyAddressColumns& Columns() const { return m_columns; }
    bool Any() const;
    // The addresses of the record read last, of one kind, in cell order.
    const std::vector<std::string>& Addresses(int nKind) const { return m_addresses[nKind]; }

private:
    CopyAddressColumns m_columns;
    ListRecord m_header;
    std::vector<std::string> m_addresses[CopyAddressKinds];
};

#endif
