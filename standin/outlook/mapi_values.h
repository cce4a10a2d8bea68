// Property values as the stand-in keeps them, and their passage into and out
// of MAPI memory blocks (standin/common/mapi_blocks.h), which is what the
// add-in frees with MAPIFreeBuffer and FreeProws.
#ifndef LETTERCAST_STANDIN_MAPI_VALUES_H
#define LETTERCAST_STANDIN_MAPI_VALUES_H

#include "standin/outlook/standin_mapi.h"

#include <string>
#include <vector>

// One stored value. Which field counts follows the tag's type.
struct PropValue {
    ULONG m_ulTag;
    LONG m_nValue;            // PT_I2, PT_LONG, PT_BOOLEAN (0 or 1)
    LONGLONG m_nLarge;        // PT_I8, PT_SYSTIME
    std::string m_strBytes;   // PT_STRING8 (no terminating zero), PT_BINARY
    std::wstring m_wstrText;  // PT_UNICODE

    PropValue() : m_ulTag(PR_NULL), m_nValue(0), m_nLarge(0) {}
};

typedef std::vector<PropValue> PropList;

PropValue LongProp(ULONG ulTag, LONG nValue);
PropValue NarrowProp(ULONG ulTag, const std::string& text);
PropValue WideProp(ULONG ulTag, const std::wstring& text);
PropValue BinaryProp(ULONG ulTag, const void* pb, size_t cb);

// The types the stand-in stores; others are refused with MAPI_E_INVALID_TYPE.
bool IsStorableType(ULONG ulType);

// False for a type that cannot be stored.
bool PropValueFromMapi(const SPropValue* pValue, PropValue* pOut);

// Fills *pOut from the value, strings and bytes as blocks linked to pParent.
// ulWantedTag says the type asked for: PT_UNSPECIFIED takes the stored type,
// and narrow and wide strings convert into each other; any other mismatch
// gives MAPI_E_INVALID_TYPE. On failure *pOut is left an error value.
HRESULT PropValueToMapi(const PropValue& value, ULONG ulWantedTag, void* pParent, SPropValue* pOut);

// The error value MAPI puts in place of a property it cannot return.
void SetErrorValue(ULONG ulTag, HRESULT hr, SPropValue* pOut);

// A zeroed array of values in a new parent block.
HRESULT AllocatePropArray(ULONG cValues, SPropValue** ppValues);
HRESULT AllocateTagArray(ULONG cTags, SPropTagArray** ppTags);

// A MAPIERROR block with the text, narrow or (MAPI_UNICODE) wide.
HRESULT MakeMapiError(const char* pszText, ULONG ulFlags, MAPIERROR** ppError);

const PropValue* FindProp(const PropList& props, ULONG ulPropId);
// Replaces a value of the same id, or adds it.
void StoreProp(PropList* pProps, const PropValue& value);

// Narrow and wide strings of a value, converted where needed; false when the
// value is no string.
bool PropNarrowText(const PropValue& value, std::string* pText);
bool PropWideText(const PropValue& value, std::wstring* pText);

// The value as one line of an item file: "<tag in hex> <text>".
std::string FormatPropLine(const PropValue& value);
// Texts and bytes as the item files write them: readable, one line.
std::string EscapeNarrow(const std::string& bytes);
std::string EscapeWide(const std::wstring& text);
std::string HexBytes(const std::string& bytes);

#endif
