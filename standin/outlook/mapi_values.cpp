#include "standin/outlook/mapi_values.h"

#include <stdio.h>
#include <string.h>

#include "standin/common/mapi_blocks.h"
#include "standin/outlook/standin_text.h"

PropValue LongProp(ULONG ulTag, LONG nValue)
{
    PropValue value;
    value.m_ulTag = ulTag;
    value.m_nValue = nValue;
    return value;
}

PropValue NarrowProp(ULONG ulTag, const std::string& text)
{
    PropValue value;
    value.m_ulTag = ulTag;
    value.m_strBytes = text;
    return value;
}

PropValue WideProp(ULONG ulTag, const std::wstring& text)
{
    PropValue value;
    value.m_ulTag = ulTag;
    value.m_wstrText = text;
    return value;
}

PropValue BinaryProp(ULONG ulTag, const void* pb, size_t cb)
{
    PropValue value;
    value.m_ulTag = ulTag;
    if (cb)
        value.m_strBytes.assign((const char*)pb, cb);
    return value;
}

bool IsStorableType(ULONG ulType)
{
    switch (ulType) {
    case PT_I2:
    case PT_LONG:
    case PT_BOOLEAN:
    case PT_I8:
    case PT_SYSTIME:
    case PT_STRING8:
    case PT_UNICODE:
    case PT_BINARY:
        return true;
    default:
        return false;
    }
}

bool PropValueFromMapi(const SPropValue* pValue, PropValue* pOut)
{
    *pOut = PropValue();
    pOut->m_ulTag = pValue->ulPropTag;
    switch (PROP_TYPE(pValue->ulPropTag)) {
    case PT_I2:
        pOut->m_nValue = pValue->Value.i;
        return true;
    case PT_LONG:
        pOut->m_nValue = pValue->Value.l;
        return true;
    case PT_BOOLEAN:
        pOut->m_nValue = pValue->Value.b ? 1 : 0;
        return true;
    case PT_I8:
        pOut->m_nLarge = pValue->Value.li.QuadPart;
        return true;
    case PT_SYSTIME:
        pOut->m_nLarge = ((LONGLONG)pValue->Value.ft.dwHighDateTime << 32) | pValue->Value.ft.dwLowDateTime;
        return true;
    case PT_STRING8:
        if (pValue->Value.lpszA)
            pOut->m_strBytes = pValue->Value.lpszA;
        return true;
    case PT_UNICODE:
        if (pValue->Value.lpszW)
            pOut->m_wstrText = pValue->Value.lpszW;
        return true;
    case PT_BINARY:
        if (pValue->Value.bin.cb && !pValue->Value.bin.lpb)
            return false;
        if (pValue->Value.bin.cb)
            pOut->m_strBytes.assign((const char*)pValue->Value.bin.lpb, pValue->Value.bin.cb);
        return true;
    default:
        return false;
    }
}

void SetErrorValue(ULONG ulTag, HRESULT hr, SPropValue* pOut)
{
    pOut->ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(ulTag));
    pOut->dwAlignPad = 0;
    pOut->Value.err = hr;
}

bool PropNarrowText(const PropValue& value, std::string* pText)
{
    switch (PROP_TYPE(value.m_ulTag)) {
    case PT_STRING8:
        *pText = value.m_strBytes;
        return true;
    case PT_UNICODE:
        *pText = WideToAnsiText(value.m_wstrText);
        return true;
    default:
        return false;
    }
}

bool PropWideText(const PropValue& value, std::wstring* pText)
{
    switch (PROP_TYPE(value.m_ulTag)) {
    case PT_STRING8:
        *pText = AnsiToWideText(value.m_strBytes);
        return true;
    case PT_UNICODE:
        *pText = value.m_wstrText;
        return true;
    default:
        return false;
    }
}

HRESULT PropValueToMapi(const PropValue& value, ULONG ulWantedTag, void* pParent, SPropValue* pOut)
{
    ULONG ulStored = PROP_TYPE(value.m_ulTag);
    ULONG ulWanted = PROP_TYPE(ulWantedTag);
    if (ulWanted == PT_UNSPECIFIED)
        ulWanted = ulStored;
    SetErrorValue(ulWantedTag, MAPI_E_INVALID_TYPE, pOut);
    bool bStrings = (ulWanted == PT_STRING8 || ulWanted == PT_UNICODE) &&
                    (ulStored == PT_STRING8 || ulStored == PT_UNICODE);
    if (ulWanted != ulStored && !bStrings)
        return MAPI_E_INVALID_TYPE;

    SPropValue result;
    memset(&result, 0, sizeof(result));
    result.ulPropTag = PROP_TAG(ulWanted, PROP_ID(value.m_ulTag));
    HRESULT hr = S_OK;
    switch (ulWanted) {
    case PT_I2:
        result.Value.i = (short)value.m_nValue;
        break;
    case PT_LONG:
        result.Value.l = value.m_nValue;
        break;
    case PT_BOOLEAN:
        result.Value.b = value.m_nValue ? 1 : 0;
        break;
    case PT_I8:
        result.Value.li.QuadPart = value.m_nLarge;
        break;
    case PT_SYSTIME:
        result.Value.ft.dwLowDateTime = (DWORD)value.m_nLarge;
        result.Value.ft.dwHighDateTime = (DWORD)((ULONGLONG)value.m_nLarge >> 32);
        break;
    case PT_STRING8: {
        std::string text;
        PropNarrowText(value, &text);
        void* pText = NULL;
        hr = AllocateMoreMapi((ULONG)text.size() + 1, pParent, &pText);
        if (FAILED(hr))
            break;
        memcpy(pText, text.c_str(), text.size() + 1);
        result.Value.lpszA = (LPSTR)pText;
        break;
    }
    case PT_UNICODE: {
        std::wstring text;
        PropWideText(value, &text);
        void* pText = NULL;
        hr = AllocateMoreMapi((ULONG)((text.size() + 1) * sizeof(wchar_t)), pParent, &pText);
        if (FAILED(hr))
            break;
        memcpy(pText, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        result.Value.lpszW = (LPWSTR)pText;
        break;
    }
    case PT_BINARY: {
        void* pBytes = NULL;
        // One byte at least, so that an empty value still has a valid pointer.
        hr = AllocateMoreMapi((ULONG)value.m_strBytes.size() + 1, pParent, &pBytes);
        if (FAILED(hr))
            break;
        memcpy(pBytes, value.m_strBytes.data(), value.m_strBytes.size());
        result.Value.bin.cb = (ULONG)value.m_strBytes.size();
        result.Value.bin.lpb = (LPBYTE)pBytes;
        break;
    }
    default:
        hr = MAPI_E_INVALID_TYPE;
        break;
    }
    if (FAILED(hr)) {
        SetErrorValue(ulWantedTag, hr, pOut);
        return hr;
    }
    *pOut = result;
    return S_OK;
}

HRESULT AllocatePropArray(ULONG cValues, SPropValue** ppValues)
{
    *ppValues = NULL;
    if (cValues > 0x100000)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    void* pBlock = NULL;
    ULONG cb = (cValues ? cValues : 1) * sizeof(SPropValue);
    HRESULT hr = AllocateMapiBlock(cb, &pBlock);
    if (FAILED(hr))
        return hr;
    memset(pBlock, 0, cb);
    *ppValues = (SPropValue*)pBlock;
    return S_OK;
}

HRESULT AllocateTagArray(ULONG cTags, SPropTagArray** ppTags)
{
    *ppTags = NULL;
    if (cTags > 0x100000)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    void* pBlock = NULL;
    ULONG cb = CbNewSPropTagArray(cTags ? cTags : 1);
    HRESULT hr = AllocateMapiBlock(cb, &pBlock);
    if (FAILED(hr))
        return hr;
    memset(pBlock, 0, cb);
    *ppTags = (SPropTagArray*)pBlock;
    (*ppTags)->cValues = cTags;
    return S_OK;
}

static HRESULT CopyErrorText(const char* pszText, ULONG ulFlags, void* pParent, LPTSTR* ppOut)
{
    void* pText = NULL;
    HRESULT hr;
    if (ulFlags & MAPI_UNICODE) {
        std::wstring text = AnsiToWideText(pszText);
        hr = AllocateMoreMapi((ULONG)((text.size() + 1) * sizeof(wchar_t)), pParent, &pText);
        if (SUCCEEDED(hr))
            memcpy(pText, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    } else {
        size_t cb = strlen(pszText) + 1;
        hr = AllocateMoreMapi((ULONG)cb, pParent, &pText);
        if (SUCCEEDED(hr))
            memcpy(pText, pszText, cb);
    }
    *ppOut = (LPTSTR)pText;
    return hr;
}

HRESULT MakeMapiError(const char* pszText, ULONG ulFlags, MAPIERROR** ppError)
{
    *ppError = NULL;
    void* pBlock = NULL;
    HRESULT hr = AllocateMapiBlock(sizeof(MAPIERROR), &pBlock);
    if (FAILED(hr))
        return hr;
    MAPIERROR* pError = (MAPIERROR*)pBlock;
    memset(pError, 0, sizeof(*pError));
    pError->ulVersion = MAPI_ERROR_VERSION;
    hr = CopyErrorText(pszText, ulFlags, pBlock, &pError->lpszError);
    if (SUCCEEDED(hr))
        hr = CopyErrorText("Stand-in message store", ulFlags, pBlock, &pError->lpszComponent);
    if (FAILED(hr)) {
        FreeMapiBlock(pBlock);
        return hr;
    }
    *ppError = pError;
    return S_OK;
}

const PropValue* FindProp(const PropList& props, ULONG ulPropId)
{
    for (const PropValue& value : props) {
        if (PROP_ID(value.m_ulTag) == ulPropId)
            return &value;
    }
    return NULL;
}

void StoreProp(PropList* pProps, const PropValue& value)
{
    for (PropValue& existing : *pProps) {
        if (PROP_ID(existing.m_ulTag) == PROP_ID(value.m_ulTag)) {
            existing = value;
            return;
        }
    }
    pProps->push_back(value);
}

static void AppendEscaped(std::string* pOut, unsigned char ch, bool bHighAsHex)
{
    char szHex[8];
    switch (ch) {
    case '\\':
        *pOut += "\\\\";
        return;
    case '\r':
        *pOut += "\\r";
        return;
    case '\n':
        *pOut += "\\n";
        return;
    case '\t':
        *pOut += "\\t";
        return;
    default:
        break;
    }
    if (ch < 0x20 || ch == 0x7F || (ch >= 0x80 && bHighAsHex)) {
        snprintf(szHex, sizeof(szHex), "\\x%02X", ch);
        *pOut += szHex;
        return;
    }
    *pOut += (char)ch;
}

std::string EscapeNarrow(const std::string& bytes)
{
    // Narrow texts are in whatever code page wrote them: bytes above 127 are
    // kept exact as hex rather than guessed at.
    std::string result;
    for (unsigned char ch : bytes)
        AppendEscaped(&result, ch, true);
    return result;
}

std::string EscapeWide(const std::wstring& text)
{
    std::string result;
    for (unsigned char ch : WideToUtf8Text(text))
        AppendEscaped(&result, ch, false);
    return result;
}

std::string HexBytes(const std::string& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(bytes.size() * 2);
    for (unsigned char ch : bytes) {
        result += kDigits[ch >> 4];
        result += kDigits[ch & 15];
    }
    return result;
}

std::string FormatPropLine(const PropValue& value)
{
    char szHead[32];
    snprintf(szHead, sizeof(szHead), "%08lX ", (unsigned long)value.m_ulTag);
    std::string line = szHead;
    char szNumber[32];
    switch (PROP_TYPE(value.m_ulTag)) {
    case PT_I2:
    case PT_LONG:
        snprintf(szNumber, sizeof(szNumber), "%ld", (long)value.m_nValue);
        line += szNumber;
        break;
    case PT_BOOLEAN:
        line += value.m_nValue ? "true" : "false";
        break;
    case PT_I8:
    case PT_SYSTIME:
        snprintf(szNumber, sizeof(szNumber), "%lld", (long long)value.m_nLarge);
        line += szNumber;
        break;
    case PT_STRING8:
        line += EscapeNarrow(value.m_strBytes);
        break;
    case PT_UNICODE:
        line += EscapeWide(value.m_wstrText);
        break;
    case PT_BINARY:
        line += HexBytes(value.m_strBytes);
        break;
    default:
        break;
    }
    return line;
}
