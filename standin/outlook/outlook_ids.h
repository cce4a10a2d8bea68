// The interface ids of Outlook's object model that the stand-in answers, and
// the private one by which it knows its own objects.
#ifndef LETTERCAST_STANDIN_OUTLOOK_IDS_H
#define LETTERCAST_STANDIN_OUTLOOK_IDS_H

#include <windows.h>

extern const IID IID_OlApplication;        // _Application
extern const IID IID_OlMailItem;           // _MailItem
extern const IID IID_OlInspector;          // _Inspector
extern const IID IID_OlInspectors;         // _Inspectors
extern const IID IID_OlNameSpace;          // _NameSpace
extern const IID IID_OlFolder;             // MAPIFolder
extern const IID IID_OlItems;              // _Items
extern const IID IID_OlExplorer;           // _Explorer
extern const IID IID_OlAttachments;        // Attachments
extern const IID IID_OlAttachment;         // Attachment
extern const IID DIID_OlInspectorsEvents;  // InspectorsEvents
extern const IID IID_StandinObject;        // answers the stand-in's own DispatchObject
extern const GUID PSETID_StandinCommon;    // PSETID_Common

#endif
