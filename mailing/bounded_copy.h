// Copying a text into a buffer of fixed size: the one bounded copy every
// subsystem uses, and the pass that keeps a copied text on one line. Plain
// C++ over the C runtime, so it also builds natively.
#ifndef LETTERCAST_BOUNDED_COPY_H
#define LETTERCAST_BOUNDED_COPY_H

#include <stddef.h>

// Copies the start of pszFrom (NULL reads as "") into pszTo: at most cchMax
// characters, and at most cchCapacity - 1, so that the copy is always
// terminated. Nothing happens when pszTo is NULL or cchCapacity is below 1.
// The capacity is signed and wide so that an int capacity below 1 and any
// size_t one both mean what they say.
void CopyBounded(char* pszTo, long long cchCapacity, const char* pszFrom, size_t cchMax = (size_t)-1);

// Every CR and every LF of pszText made one space each, in place (CR LF
// becomes two spaces, so that a text keeps its length): list data must not
// split a log line and so forge another. Not the merge's MakeOneLine, which
// folds a CR LF into one space for a subject.
void SpaceEveryLineBreak(char* pszText);

#endif
