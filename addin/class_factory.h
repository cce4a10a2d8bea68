// The class factory of the class-object table: made once and cached in the
// table, its every reference held outside the module counts as a lock.
#ifndef LETTERCAST_CLASS_FACTORY_H
#define LETTERCAST_CLASS_FACTORY_H

#include <windows.h>
#include <unknwn.h>

#include "addin/module.h"

// A FactoryCreator: the new factory over pfnCreateObject, answering riid.
HRESULT CreateCachedClassFactory(ObjectCreator pfnCreateObject, REFIID riid, void** ppv);

#endif
