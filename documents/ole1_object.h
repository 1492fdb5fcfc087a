#pragma once

// An object as RTF keeps it: an OLE1 object stream (a header with the class
// name, then the object's native data and its presentation). The platform's
// conversion turns it into a storage; an object of a class of the component
// object model keeps its whole storage, as a compound file, in the native
// data, and where the conversion leaves that storage out, the native data is
// opened as the storage itself.

#include <windows.h>
#include <objidl.h>

#include <wrl/client.h>

#include <string>

#include "server/handles.h"

struct Ole1Object
{
    std::wstring className;
    // How the storage was reached: "converted by the platform", or "native
    // data opened as a compound file".
    std::wstring road;
    Microsoft::WRL::ComPtr<IStorage> storage;
};

namespace ole1_limits {
constexpr ULONG kMaxName = 0x10000;
}

// Parses the header of the object stream in block (size bytes) and gives the
// object's storage, opened for reading. The block is the caller's until the
// call succeeds with the native-data road, when the storage keeps it. A
// failure says why in *why; a linked object (no data of its own) gives
// S_FALSE and no storage.
HRESULT OpenOle1Object(UniqueHGlobal* block, ULONG size, Ole1Object* object, std::wstring* why);
