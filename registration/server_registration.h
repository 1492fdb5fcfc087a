#pragma once

// Writing and removing the server's registry entries and its type library.

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

#include "resources/resource.h"
#include "server/module.h"
#include "server/object_table.h"

// What registration is told of the server it writes: the module that adds its
// replacements to every script, the file that holds the scripts and the type
// library, the classes, and whether the entries go to the user's classes
// (HKCU\Software\Classes, and the per-user type-library functions).
struct RegistrationContext
{
    CAtlModule* module;
    HINSTANCE instance;
    ObjectTableEntry* const* firstEntry;
    ObjectTableEntry* const* lastEntry;
    bool perUser;
};

// The registry views that registration writes. A 64-bit system keeps a 32-bit
// and a 64-bit view of the class and interface keys: both are written, so that
// processes of either bitness find the classes, whichever build registers.
// On a 32-bit system there is one view, the process's own (0).
struct RegistryViews
{
    REGSAM view[2];
    size_t count;
    const REGSAM* begin() const { return view; }
    const REGSAM* end() const { return view + count; }
};
RegistryViews RegistrationViews();

// Every class of the context (or only the one whose class is filter), then the
// type library when asked.
HRESULT RegisterComServer(const RegistrationContext& context, bool registerTypeLib, const CLSID* filter);
HRESULT UnregisterComServer(const RegistrationContext& context, bool unregisterTypeLib, const CLSID* filter);

// Applies the script resource resourceId of the context's file with the
// module's replacements and "Module" / "Module_Raw" (the file's path), once per
// view; the first failure ends it.
HRESULT ApplyRegistryResource(const RegistrationContext& context, WORD resourceId, bool registerEntries);

struct CategoryTableEntry;
// No class of this server declares component categories.
HRESULT ApplyClassCategories(REFCLSID classId, const CategoryTableEntry* categories, bool registerEntries);

// The type library of module (its TYPELIB resource, or the ".tlb" file beside
// it) and the path it was loaded from.
HRESULT LoadServerTypeLibrary(HINSTANCE module, BSTR* path, ITypeLib** library);
HRESULT RegisterServerTypeLibrary(HINSTANCE module, bool perUser);
HRESULT UnregisterServerTypeLibrary(HINSTANCE module, bool perUser);

// The interface entries of library's interfaces (Interface\{IID}, naming the
// library) in every view: where the platform's registration left a view
// without them, they are copied there from a view it wrote, into the machine's
// or the user's classes.
HRESULT MirrorInterfaceEntries(ITypeLib* library, bool perUser);
// Removes those entries of library's interfaces that still name it, from
// every view.
HRESULT RemoveInterfaceEntries(ITypeLib* library, bool perUser);
