// A stand-in Outlook over a store in a temporary folder, with the MAPI
// stand-in DLL loaded first, as Outlook has it, and helpers that drive the
// objects the way the add-in does: by member name through IDispatch and
// through the MAPI vtables.
#ifndef LETTERCAST_TESTS_OUTLOOK_FIXTURE_H
#define LETTERCAST_TESTS_OUTLOOK_FIXTURE_H

#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/host_dispatch.h"
#include "standin/outlook/com_ref.h"
#include "standin/outlook/standin_mapi.h"
#include "standin/outlook/standin_outlook.h"
#include "tests/support/test_files.h"

typedef SCODE(STDAPICALLTYPE* AllocateBufferFn)(ULONG, LPVOID*);
typedef SCODE(STDAPICALLTYPE* AllocateMoreFn)(ULONG, LPVOID, LPVOID*);
typedef ULONG(STDAPICALLTYPE* FreeBufferFn)(LPVOID);
typedef void(STDAPICALLTYPE* FreeProwsFn)(LPSRowSet);
typedef void(STDAPICALLTYPE* FreePadrlistFn)(LPADRLIST);
typedef HRESULT(STDAPICALLTYPE* HrQueryAllRowsFn)(LPMAPITABLE, LPSPropTagArray, LPSRestriction, LPSSortOrderSet, LONG,
                                                  LPSRowSet*);

// The entry points of the loaded MAPI stand-in.
struct MapiLibrary {
    HMODULE hModule;
    AllocateBufferFn pfnAllocateBuffer;
    AllocateMoreFn pfnAllocateMore;
    FreeBufferFn pfnFreeBuffer;
    FreeProwsFn pfnFreeProws;
    FreePadrlistFn pfnFreePadrlist;
    HrQueryAllRowsFn pfnHrQueryAllRows;
};

// The restriction to status rows of one resource type (MAPI_SPOOLER), as
// the engine finds the spooler; the value lives beside it.
struct ResourceTypeRestriction {
    explicit ResourceTypeRestriction(ULONG ulResourceType);
    ResourceTypeRestriction(const ResourceTypeRestriction&) = delete;
    ResourceTypeRestriction& operator=(const ResourceTypeRestriction&) = delete;

    SPropValue value;
    SRestriction restriction;
};

const ULONG kPidLidUseTnef = 0x8582;
extern const GUID kPsetidCommon;

class OutlookTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Options are those of the test; each call starts a fresh application.
    void Start();
    IDispatch* App() { return m_app.Get(); }
    void ReleaseApp() { m_app.Reset(); }

    // Composes a mail; the inspector too when ppInspector is given.
    IDispatch* Compose(const StandinComposedMail& mail, IDispatch** ppInspector = NULL);
    IDispatch* ComposeSimple(const char* pszSubject = "Hello", IDispatch** ppInspector = NULL);

    // Members by name, as the add-in calls them.
    static std::wstring GetText(IDispatch* pObject, LPCOLESTR pszName);
    static LONG GetLong(IDispatch* pObject, LPCOLESTR pszName);
    static IDispatch* GetObjectProp(IDispatch* pObject, LPCOLESTR pszName);   // NULL for Nothing
    static void PutText(IDispatch* pObject, LPCOLESTR pszName, const wchar_t* pszValue);
    static IDispatch* Call(IDispatch* pObject, LPCOLESTR pszName, const VARIANT* pArgs = NULL, int nArgs = 0);
    static IDispatch* CallLong(IDispatch* pObject, LPCOLESTR pszName, LONG nArg);
    IDispatch* DefaultFolder(LONG nFolder);
    IDispatch* MoveToOutbox(IDispatch* pMailItem);   // the moved item
    static IMessage* MessageOf(IDispatch* pMailItem);
    IMAPISession* Session();

    // MAPI, as the engine does it.
    static HRESULT ReadStream(IMessage* pMessage, ULONG ulTag, std::string* pBytes);
    // Opens, writes and commits.
    static HRESULT WriteStream(IMessage* pMessage, ULONG ulTag, const std::string& bytes);
    HRESULT SubjectOf(IMessage* pMessage, std::string* pSubject);
    HRESULT AddRecipient(IMessage* pMessage, const char* pszAddress);
    HRESULT SetUseTnef(IMessage* pMessage);
    std::string LastErrorText(IMessage* pMessage, HRESULT hr);
    // GetStatusTable, HrQueryAllRows for the spooler, OpenEntry, FlushQueues.
    HRESULT FlushOutgoingQueue();
    // The Send/Receive control (id 7095) of the active explorer's command
    // bars, found as the add-in finds it; empty when there is none.
    Ref<IDispatch> SendReceiveControl();
    // A profile of two accounts, work@example.com (the default) and
    // home@example.org, in Outlook 2010; before Start.
    void UseTwoAccounts();
    // The profile's account nIndex, from 1, with its own reference.
    IDispatch* Account(LONG nIndex);
    // Copy, fill, address, save, move to the Outbox with Sent Mail for the
    // sent copy, submit: a message on its way, as one recipient of a job
    // makes it.
    HRESULT SendCopy(IDispatch* pOriginal, const wchar_t* pszSubject, const char* pszAddress);

    std::string StorePath(const std::string& relative) const { return std::string(m_options.szStoreDir) + "\\" + relative; }
    static std::string ItemPath(IDispatch* pMailItem);

    StandinOutlookOptions m_options;
    MapiLibrary m_mapi;

private:
    TempFolder m_store;
    Ref<IDispatch> m_app;
    LONG m_nLiveObjects;
    LONG m_nLiveBlocks;
    bool m_bOleInitialized;
};

// Expects a _com_error with the code from the statement.
#define EXPECT_COM_ERROR(statement, expectedHr)                                 \
    do {                                                                        \
        HRESULT hrCaught_ = S_OK;                                               \
        try {                                                                   \
            statement;                                                          \
        } catch (const _com_error& error_) {                                    \
            hrCaught_ = error_.Error();                                         \
        }                                                                       \
        EXPECT_EQ((HRESULT)(expectedHr), hrCaught_) << #statement;              \
    } while (0)

#endif
