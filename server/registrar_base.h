#pragma once

// The registrar's replacement interface, as the module uses it to add its own
// replacements before a script is applied.

#include <windows.h>
#include <ole2.h>

struct IRegistrarBase : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE DefineReplacement(LPCOLESTR name, LPCOLESTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveAllReplacements() = 0;
};
