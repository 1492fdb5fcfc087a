#pragma once

// The interfaces a type library describes, as registration couples them to
// the library: each interface and dispatch interface, in the library's order.

#include <windows.h>
#include <oaidl.h>

#include <functional>

// Calls visit(index, kind, attributes) for each interface and dispatch
// interface of library; the first failure, of a visit or of reading a
// description, ends the walk and is returned.
HRESULT
ForEachLibraryInterface(ITypeLib* library,
                        const std::function<HRESULT(UINT index, TYPEKIND kind, const TYPEATTR& attr)>& visit);
