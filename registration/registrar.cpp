#include "registration/registrar.h"

#include <cstring>
#include <memory>
#include <new>

#include "server/handles.h"

HRESULT ConvertToAnsi(LPCOLESTR text, std::string* converted)
{
    converted->clear();
    if (!text || !*text)
        return S_OK;
    int bytes = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return E_OUTOFMEMORY;
    try {
        converted->resize(static_cast<size_t>(bytes));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, &(*converted)[0], bytes, nullptr, nullptr) != bytes)
        return E_OUTOFMEMORY;
    converted->resize(static_cast<size_t>(bytes) - 1); // the converted NUL
    return S_OK;
}

HRESULT LastErrorResult()
{
    DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

HRESULT CReplacementMap::Add(LPCOLESTR name, LPCOLESTR value)
{
    Pair pair;
    if (FAILED(ConvertToAnsi(name, &pair.name)))
        return E_OUTOFMEMORY;
    try {
        pair.value = value;
        m_pairs.push_back(std::move(pair));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

LPCOLESTR CReplacementMap::Lookup(LPCSTR name) const
{
    for (const Pair& pair : m_pairs) {
        if (::lstrcmpiA(pair.name.c_str(), name) == 0)
            return pair.value.c_str();
    }
    return nullptr;
}

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
    return ApplyScriptResourceById(modulePath, resourceId, resourceType, true, target);
}

HRESULT CRegObject::UnregisterScriptResource(LPCOLESTR modulePath, WORD resourceId, LPCOLESTR resourceType,
                                             ScriptTarget target)
{
    return ApplyScriptResourceById(modulePath, resourceId, resourceType, false, target);
}

HRESULT CRegObject::ApplyScriptResourceById(LPCOLESTR modulePath, WORD resourceId, LPCOLESTR resourceType,
                                            bool registerEntries, ScriptTarget target)
{
    std::string type;
    if (!resourceType || FAILED(ConvertToAnsi(resourceType, &type)))
        return E_OUTOFMEMORY;
    return ApplyScriptResource(modulePath, MAKEINTRESOURCEA(resourceId), type.c_str(), registerEntries,
                               target);
}

HRESULT CRegObject::ApplyScriptResource(LPCOLESTR modulePath, LPCSTR resourceName, LPCSTR resourceType,
                                        bool registerEntries, ScriptTarget target)
{
    std::string path;
    if (!modulePath || FAILED(ConvertToAnsi(modulePath, &path)))
        return E_OUTOFMEMORY;

    // As data only: the module's code never runs, and a running executable
    // (which the exclusive form cannot open) is read through the shared form.
    UniqueModule module(::LoadLibraryExA(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE));
    if (!module)
        module.reset(::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module)
        return LastErrorResult();

    HRSRC resource = ::FindResourceA(module.get(), resourceName, resourceType);
    if (!resource)
        return LastErrorResult();
    HGLOBAL loaded = ::LoadResource(module.get(), resource);
    if (!loaded)
        return LastErrorResult();
    DWORD size = ::SizeofResource(module.get(), resource);
    const void* bytes = ::LockResource(loaded);
    if (!bytes && size != 0)
        return LastErrorResult();
    if (size == MAXDWORD)
        return E_OUTOFMEMORY;

    // Small scripts stay in the frame; larger ones go to the heap. The bytes are
    // already script text: no code-page conversion.
    char frameBuffer[1024];
    std::unique_ptr<char[]> heapBuffer;
    char* text = frameBuffer;
    if (size + 1 > sizeof(frameBuffer)) {
        heapBuffer.reset(new (std::nothrow) char[size + 1]);
        if (!heapBuffer)
            return E_OUTOFMEMORY;
        text = heapBuffer.get();
    }
    if (size != 0)
        std::memcpy(text, bytes, size);
    text[size] = '\0';

    CRegScriptParser parser(*this, target);
    return parser.ApplyScript(text, registerEntries);
}
