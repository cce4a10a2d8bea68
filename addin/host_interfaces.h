// The host's interfaces that CConnect implements or calls and that no header
// of the build declares: the add-in designer's _IDTExtensibility2, the Office
// ribbon's IRibbonExtensibility and IRibbonControl, Outlook's InspectorsEvents,
// and the ids of the Outlook objects reached by name.
#ifndef LETTERCAST_HOST_INTERFACES_H
#define LETTERCAST_HOST_INTERFACES_H

#include <windows.h>
#include <oaidl.h>

extern "C" {
extern const IID IID__IDTExtensibility2;        // {B65AD801-ABAF-11D0-BB8B-00A0C90F2744}
extern const IID IID_IRibbonExtensibility;      // {000C0396-0000-0000-C000-000000000046}
extern const IID IID_IRibbonControl;            // {000C0395-0000-0000-C000-000000000046}
extern const IID DIID_InspectorsEvents;         // {00063079-0000-0000-C000-000000000046}
extern const IID IID__Application;              // {00063001-0000-0000-C000-000000000046}
extern const IID IID__Inspector;                // {00063005-0000-0000-C000-000000000046}
extern const IID IID__MailItem;                 // {00063034-0000-0000-C000-000000000046}

// The libraries that describe the host interfaces, version 1.0 and 2.5.
extern const GUID LIBID_AddInDesignerObjects;   // {AC0714F2-3D04-11D1-AE7D-00A0C90F26F4}
extern const GUID LIBID_Office;                 // {2DF8D04C-5BFA-101B-BDE5-00AA0044DE52}
}

#define LC_ADDIN_DESIGNER_MAJOR 1
#define LC_ADDIN_DESIGNER_MINOR 0
#define LC_OFFICE_MAJOR 2
#define LC_OFFICE_MINOR 5

enum ext_ConnectMode {
    ext_cm_AfterStartup = 0,
    ext_cm_Startup = 1,
    ext_cm_External = 2,
    ext_cm_CommandLine = 3,
};

enum ext_DisconnectMode {
    ext_dm_HostShutdown = 0,
    ext_dm_UserClosed = 1,
};

struct _IDTExtensibility2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode,
                                                   IDispatch* AddInInst, SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) = 0;
};

struct IRibbonExtensibility : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) = 0;
};

struct IRibbonControl : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* Id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Context(IDispatch** Context) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Tag(BSTR* Tag) = 0;
};

// A dispatch-only interface: its events arrive through IDispatch::Invoke.
struct InspectorsEvents : public IDispatch {
};

#define DISPID_INSPECTORS_NEW_INSPECTOR 0xF001   // InspectorsEvents.NewInspector(IDispatch Inspector)

#define LC_OL_CLASS_MAIL 43                      // _MailItem.Class of a mail item (olMail)

#endif
