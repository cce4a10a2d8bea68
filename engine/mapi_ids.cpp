// The interface ids the engine asks for, defined once.
#include <windows.h>
#include <initguid.h>
#define USES_IID_IMessage
#define USES_IID_IMAPIStatus
#define USES_IID_IMAPISession
#define USES_IID_IMAPITable
#include <mapiguid.h>

#include "engine/mapi_defs.h"

const GUID LC_PSETID_Common = { 0x00062008, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };
