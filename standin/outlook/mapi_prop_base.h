// The IMAPIProp methods that no stand-in MAPI object supports, answered
// once for all of them as MAPI does for a provider without them.
#ifndef LETTERCAST_STANDIN_MAPI_PROP_BASE_H
#define LETTERCAST_STANDIN_MAPI_PROP_BASE_H

#include "standin/outlook/com_ref.h"
#include "standin/outlook/standin_mapi.h"

template <class Interface>
class MapiPropBase : public UnknownObject<Interface> {
public:
    STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray* lppProblems) override
    {
        if (lppProblems)
            *lppProblems = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                        LPSPropProblemArray* lppProblems) override
    {
        if (lppProblems)
            *lppProblems = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                           LPSPropProblemArray* lppProblems) override
    {
        if (lppProblems)
            *lppProblems = NULL;
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG* lpcPropNames,
                                 LPMAPINAMEID** lpppPropNames) override
    {
        if (lpcPropNames)
            *lpcPropNames = 0;
        if (lpppPropNames)
            *lpppPropNames = NULL;
        return MAPI_E_NO_SUPPORT;
    }
};

#endif
