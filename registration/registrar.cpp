#include "registration/registrar.h"

#include <cstring>

#include "server/catch_return.h"
#include "server/handles.h"
#include "server/last_error.h"

HRESULT STDMETHODCALLTYPE CRegObject::QueryInterface(REFIID, void** ppv)
{
    if (ppv)
        *ppv = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CRegObject::DefineReplacement(LPCOLESTR name, LPCOLESTR value)
{
    if (!name || !value)
        return E_INVALIDARG;
    return m_replacements.Add(name, value);
}

HRESULT STDMETHODCALLTYPE CRegObject::RemoveAllReplacements()
{
    m_replacements.RemoveAll();
    return S_OK;
}

HRESULT CRegObject::RegisterScriptResource(LPCOLESTR modulePath, WORD resourceId, LPCOLESTR resourceType,
                                           ScriptTarget target)
{
    return ApplyScriptResource(modulePath, MAKEINTRESOURCEW(resourceId), resourceType, true, target);
}

HRESULT CRegObject::UnregisterScriptResource(LPCOLESTR modulePath, WORD resourceId, LPCOLESTR resourceType,
                                             ScriptTarget target)
{
    return ApplyScriptResource(modulePath, MAKEINTRESOURCEW(resourceId), resourceType, false, target);
}

HRESULT ReadScriptResource(LPCOLESTR modulePath, LPCOLESTR resourceName, LPCOLESTR resourceType,
                           std::string* text)
try {
    if (!modulePath || !resourceType || !text)
        return E_INVALIDARG;
    text->clear();

    // As data only: the module's code never runs, and a running executable
    // (which the exclusive form cannot open) is read through the shared form.
    UniqueModule module(::LoadLibraryExW(
        modulePath, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE));
    if (!module)
        module.reset(::LoadLibraryExW(modulePath, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module)
        return LastErrorResult();

    HRSRC resource = ::FindResourceW(module.get(), resourceName, resourceType);
    if (!resource)
        return LastErrorResult();
    HGLOBAL loaded = ::LoadResource(module.get(), resource);
    if (!loaded)
        return LastErrorResult();
    const DWORD size = ::SizeofResource(module.get(), resource);
    const char* bytes = static_cast<const char*>(::LockResource(loaded));
    if (!bytes && size != 0)
        return LastErrorResult();

    // The script is 8-bit text and ends at its first NUL, if it has one.
    const void* nul = bytes ? std::memchr(bytes, '\0', size) : nullptr;
    const size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : size;
    text->assign(bytes ? bytes : "", length);
    return S_OK;
}
CATCH_RETURN_HRESULT()

HRESULT CRegObject::ApplyScriptResource(LPCOLESTR modulePath, LPCOLESTR resourceName, LPCOLESTR resourceType,
                                        bool registerEntries, ScriptTarget target)
{
    std::string text;
    HRESULT hr = ReadScriptResource(modulePath, resourceName, resourceType, &text);
    if (FAILED(hr))
        return hr;
    CRegScriptParser parser(m_replacements, target);
    return parser.ApplyScript(text, registerEntries);
}
