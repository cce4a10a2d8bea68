// Every interface id the stand-in defines, once.
#include <windows.h>
#include <initguid.h>
#define USES_IID_IMAPIProp
#define USES_IID_IMessage
#define USES_IID_IMAPIStatus
#define USES_IID_IMAPISession
#define USES_IID_IMAPITable
#include <mapiguid.h>

#include "standin/outlook/outlook_ids.h"

#define OL_IID(name, l) const IID name = { l, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } }

OL_IID(IID_OlApplication, 0x00063001);
OL_IID(IID_OlMailItem, 0x00063034);
OL_IID(IID_OlInspector, 0x00063005);
OL_IID(IID_OlInspectors, 0x00063008);
OL_IID(IID_OlNameSpace, 0x00063002);
OL_IID(IID_OlFolder, 0x00063006);
OL_IID(IID_OlItems, 0x00063041);
OL_IID(IID_OlExplorer, 0x00063003);
OL_IID(IID_OlAttachments, 0x0006303C);
OL_IID(IID_OlAttachment, 0x00063007);
OL_IID(DIID_OlInspectorsEvents, 0x00063079);
OL_IID(PSETID_StandinCommon, 0x00062008);

const IID IID_StandinObject = { 0xaf73e20f, 0x0916, 0x4581, { 0xb5, 0x5c, 0xd4, 0x5c, 0xd9, 0x5f, 0x1e, 0x42 } };
