#pragma once

// Writing and removing the server's registry entries and its type library.

#include <windows.h>
#include <ole2.h>

#include "resources/resource.h"

// The per-user switch: once on, scripts write under HKCU\Software\Classes and
// the per-user type-library functions are used.
HRESULT EnablePerUserRegistration(bool enable);
HRESULT QueryPerUserRegistration(bool* enabled);

// Applies one class's registry script resource.
HRESULT UpdateClassRegistry(WORD resourceId, bool registerEntries);

// All rows of the object table (or only the one whose class is filter), then the
// type library when asked.
HRESULT RegisterComServer(bool registerTypeLib, const CLSID* filter);
HRESULT UnregisterComServer(bool unregisterTypeLib, const CLSID* filter);
