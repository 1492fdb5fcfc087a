#pragma once

// Writing and removing the server's registry entries and its type library.

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

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

// Applies the executable's script resource resourceId with the module's
// replacements and "Module" / "Module_Raw" (the executable's path).
HRESULT ApplyRegistryResource(WORD resourceId, bool registerEntries);

struct CategoryTableEntry;
// No class of this server declares component categories.
HRESULT ApplyClassCategories(REFCLSID classId, const CategoryTableEntry* categories, bool registerEntries);

// The type library of module (its TYPELIB resource, or the ".tlb" file beside
// it) and the path it was loaded from.
HRESULT LoadServerTypeLibrary(HINSTANCE module, BSTR* path, ITypeLib** library);
HRESULT RegisterServerTypeLibrary(HINSTANCE module);
HRESULT UnregisterServerTypeLibrary(HINSTANCE module);
