#include "registration/server_registration.h"

#include <oleauto.h>

#include <cstring>
#include <cwchar>
#include <string>

#include <wrl/client.h>

#include "registration/library_interfaces.h"
#include "registration/reg_key.h"
#include "registration/registrar.h"
#include "registration/registration_entries.h"
#include "server/handles.h"
#include "server/last_error.h"
#include "server/return_if_failed.h"

using Microsoft::WRL::ComPtr;

namespace {

using RegisterTypeLibFunc = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterTypeLibFunc = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// The per-user form of a type-library function, where the automation library
// offers it and registration is per user.
template <class Function> Function PerUserTypeLibFunction(const char* name, bool bRedirectionEnabled)
{
    if (!bRedirectionEnabled)
        return nullptr;
    HMODULE oleaut = ::GetModuleHandleW(L"OLEAUT32.DLL");
    if (!oleaut)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(oleaut, name)));
}

// The module's file name in at most 259 characters.
HRESULT ModuleFileName(HINSTANCE module, wchar_t* buffer)
{
    DWORD length = ::GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0)
        return LastErrorResult();
    if (length >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    return S_OK;
}

// Where registration writes: the machine's classes, or the user's.
HKEY ClassesRoot(bool perUser)
{
    return perUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
}

std::wstring ClassesPath(bool perUser, const std::wstring& path)
{
    return perUser ? L"Software\\Classes\\" + path : path;
}

// "Interface\{...}" of an interface identifier.
std::wstring InterfaceKeyPath(REFIID iid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(iid, text, 40);
    return std::wstring(L"Interface\\") + text;
}

// True when the interface key at path in view (as the classes root shows it to
// a process of that view) exists and names library as its type library.
bool InterfaceNamesLibrary(const std::wstring& path, REGSAM view, const wchar_t* library)
{
    UniqueHKey key;
    if (OpenRegKey(HKEY_CLASSES_ROOT, (path + L"\\TypeLib").c_str(), KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    wchar_t named[40] = {};
    DWORD size = sizeof(named) - sizeof(wchar_t);
    DWORD type = 0;
    return ::RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(named), &size) ==
               ERROR_SUCCESS &&
           type == REG_SZ && ::lstrcmpiW(named, library) == 0;
}

// Copies the key source (open in sourceView) with its values and subkeys to
// name under parent, in view. Interface entries are short: a value that does
// not fit the buffers fails the copy rather than being cut.
LONG CopyKeyTree(HKEY source, REGSAM sourceView, HKEY parent, const wchar_t* name, REGSAM view)
{
    UniqueHKey target;
    LONG rc = CreateRegKey(parent, name, KEY_READ | KEY_WRITE | view, &target);
    if (rc != ERROR_SUCCESS)
        return rc;
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[256];
        DWORD nameLength = 256;
        BYTE data[2048];
        DWORD size = sizeof(data);
        DWORD type = 0;
        rc = ::RegEnumValueW(source, i, valueName, &nameLength, nullptr, &type, data, &size);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc == ERROR_SUCCESS)
            rc = SetValue(target.get(), valueName, type, data, size);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t child[256];
        DWORD length = 256;
        rc = ::RegEnumKeyExW(source, i, child, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        UniqueHKey sourceChild;
        if (rc == ERROR_SUCCESS)
            rc = OpenRegKey(source, child, KEY_READ | sourceView, &sourceChild);
        if (rc == ERROR_SUCCESS)
            rc = CopyKeyTree(sourceChild.get(), sourceView, target.get(), child, view);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
}

// The library's identifier as the interface entries name it.
HRESULT LibraryIdText(ITypeLib* library, wchar_t (&text)[40])
{
    LibAttrGuard attr(library);
    HRESULT hr = library->GetLibAttr(attr.put());
    if (FAILED(hr))
        return hr;
    return ::StringFromGUID2(attr->guid, text, 40) ? S_OK : E_FAIL;
}

// Calls visit(the path of Interface\{IID}, the library's identifier as text)
// for each interface that library describes; the first failure ends the walk.
template <class Visit> HRESULT ForEachInterfaceKey(ITypeLib* library, Visit visit)
{
    wchar_t libraryId[40];
    HRESULT hr = LibraryIdText(library, libraryId);
    if (FAILED(hr))
        return hr;
    return ForEachLibraryInterface(library, [&](UINT, TYPEKIND, const TYPEATTR& attr) {
        return visit(InterfaceKeyPath(attr.guid), libraryId);
    });
}

} // namespace

RegistryViews RegistrationViews()
{
    SYSTEM_INFO system = {};
    ::GetNativeSystemInfo(&system);
    switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
    case PROCESSOR_ARCHITECTURE_IA64:
    case PROCESSOR_ARCHITECTURE_ARM64:
        return RegistryViews{{KEY_WOW64_64KEY, KEY_WOW64_32KEY}, 2};
    default:
        return RegistryViews{{0, 0}, 1};
    }
}

HRESULT ApplyClassCategories(REFCLSID, const CategoryTableEntry* categories, bool)
{
    if (!categories)
        return S_OK;
    // Writing component categories is not built: no class declares any.
    return E_NOTIMPL;
}

HRESULT RegisterComServer(const RegistrationContext& context, bool registerTypeLib, const CLSID* filter)
{
    for (ObjectTableEntry* const* slot = context.firstEntry; slot < context.lastEntry; ++slot) {
        ObjectTableEntry* entry = *slot;
        if (!entry || (filter && !::IsEqualCLSID(*filter, *entry->classId)))
            continue;
        HRESULT hr = entry->updateRegistry(true);
        if (FAILED(hr))
            return hr;
        hr = ApplyClassCategories(*entry->classId, entry->getCategories(), true);
        if (FAILED(hr))
            return hr;
    }
    if (!registerTypeLib)
        return S_OK;
    return RegisterServerTypeLibrary(context.instance, context.perUser);
}

HRESULT UnregisterComServer(const RegistrationContext& context, bool unregisterTypeLib, const CLSID* filter)
{
    for (ObjectTableEntry* const* slot = context.firstEntry; slot < context.lastEntry; ++slot) {
        ObjectTableEntry* entry = *slot;
        if (!entry || (filter && !::IsEqualCLSID(*filter, *entry->classId)))
            continue;
        HRESULT hr = ApplyClassCategories(*entry->classId, entry->getCategories(), false);
        if (FAILED(hr))
            return hr;
        hr = entry->updateRegistry(false);
        if (FAILED(hr))
            return hr;
    }
    if (!unregisterTypeLib)
        return S_OK;
    return UnregisterServerTypeLibrary(context.instance, context.perUser);
}

HRESULT ApplyRegistryResource(const RegistrationContext& context, WORD resourceId, bool registerEntries)
{
    CRegObject registrar;
    HRESULT hr = context.module->AddModuleReplacements(&registrar);
    if (FAILED(hr))
        return hr;

    wchar_t path[MAX_PATH];
    hr = ModuleFileName(context.instance, path);
    if (FAILED(hr))
        return hr;

    const bool isExecutable = context.instance == ::GetModuleHandleW(nullptr);
    hr = DefineModuleReplacements(&registrar, path, isExecutable);
    if (FAILED(hr))
        return hr;

    for (REGSAM view : RegistrationViews()) {
        const ScriptTarget target{context.perUser, view};
        hr = registerEntries ? registrar.RegisterScriptResource(path, resourceId, L"REGISTRY", target)
                             : registrar.UnregisterScriptResource(path, resourceId, L"REGISTRY", target);
        if (FAILED(hr))
            return hr;
    }
    return hr;
}

HRESULT LoadServerTypeLibrary(HINSTANCE module, BSTR* path, ITypeLib** library)
{
    if (!path || !library)
        return E_POINTER;
    *path = nullptr;
    *library = nullptr;

    wchar_t szModule[MAX_PATH + 10];
    HRESULT hr = ModuleFileName(module, szModule);
    if (FAILED(hr))
        return hr;

    // The extension: the last dot after the last backslash, else the end.
    const wchar_t* lastSeparator = std::wcsrchr(szModule, L'\\');
    const wchar_t* dot = std::wcsrchr(lastSeparator ? lastSeparator : szModule, L'.');
    const size_t extension = dot ? static_cast<size_t>(dot - szModule) : std::wcslen(szModule);

    ComPtr<ITypeLib> loaded;
    hr = ::LoadTypeLib(szModule, loaded.GetAddressOf());
    if (FAILED(hr)) {
        // The library as a file beside the module, named like it.
        if (extension + 5 > MAX_PATH)
            return E_FAIL;
        std::wmemcpy(szModule + extension, L".tlb", 5);
        hr = ::LoadTypeLib(szModule, loaded.ReleaseAndGetAddressOf());
    }
    if (FAILED(hr))
        return hr;
    *path = ::SysAllocString(szModule);
    if (!*path)
        return E_OUTOFMEMORY;
    *library = loaded.Detach();
    return hr;
}

HRESULT RegisterServerTypeLibrary(HINSTANCE module, bool perUser)
{
    UniqueBstr bstrPath;
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadServerTypeLibrary(module, bstrPath.put(), &library));

    // The help directory: the library's help file up to its last separator.
    wchar_t szDirBuffer[MAX_PATH];
    wchar_t* helpDirectory = nullptr;
    UniqueBstr bstrHelpFile;
    HRESULT hr = library->GetDocumentation(-1, nullptr, nullptr, nullptr, bstrHelpFile.put());
    if (SUCCEEDED(hr) && bstrHelpFile) {
        size_t length = 0;
        size_t cut = 0;
        for (const wchar_t* p = bstrHelpFile.get(); *p && length < MAX_PATH - 1; ++p) {
            szDirBuffer[length++] = *p;
            if (*p == L'\\' || *p == L'/' || *p == L':')
                cut = length;
        }
        szDirBuffer[cut] = L'\0';
        helpDirectory = szDirBuffer;
    }

    auto registerForUser = PerUserTypeLibFunction<RegisterTypeLibFunc>("RegisterTypeLibForUser", perUser);
    hr = registerForUser ? registerForUser(library.Get(), bstrPath.get(), helpDirectory)
                         : ::RegisterTypeLib(library.Get(), bstrPath.get(), helpDirectory);
    if (FAILED(hr))
        return hr;
    return MirrorInterfaceEntries(library.Get(), registerForUser != nullptr);
}

HRESULT UnregisterServerTypeLibrary(HINSTANCE module, bool perUser)
{
    UniqueBstr bstrPath;
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadServerTypeLibrary(module, bstrPath.put(), &library));
    LibAttrGuard ptla(library.Get());
    RETURN_IF_FAILED(library->GetLibAttr(ptla.put()));

    auto unregisterForUser =
        PerUserTypeLibFunction<UnregisterTypeLibFunc>("UnRegisterTypeLibForUser", perUser);
    const HRESULT hr = unregisterForUser ? unregisterForUser(ptla->guid, ptla->wMajorVerNum,
                                                             ptla->wMinorVerNum, ptla->lcid, ptla->syskind)
                                         : ::UnRegisterTypeLib(ptla->guid, ptla->wMajorVerNum,
                                                               ptla->wMinorVerNum, ptla->lcid, ptla->syskind);
    // What the platform left in a view it does not write goes all the same.
    HRESULT removed = RemoveInterfaceEntries(library.Get(), unregisterForUser != nullptr);
    return FAILED(hr) ? hr : removed;
}

HRESULT MirrorInterfaceEntries(ITypeLib* library, bool perUser)
{
    const RegistryViews views = RegistrationViews();
    return ForEachInterfaceKey(library, [&](const std::wstring& path, const wchar_t* libraryId) -> HRESULT {
        // A view the platform wrote is the model for the others.
        REGSAM sourceView = 0;
        UniqueHKey source;
        for (REGSAM view : views) {
            if (InterfaceNamesLibrary(path, view, libraryId) &&
                OpenRegKey(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ | view, &source) == ERROR_SUCCESS) {
                sourceView = view;
                break;
            }
        }
        if (!source.get())
            return S_OK; // the platform entered nothing for this interface
        for (REGSAM view : views) {
            if (InterfaceNamesLibrary(path, view, libraryId))
                continue;
            LONG rc = CopyKeyTree(source.get(), sourceView, ClassesRoot(perUser),
                                  ClassesPath(perUser, path).c_str(), view);
            if (rc != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(rc);
        }
        return S_OK;
    });
}

HRESULT RemoveInterfaceEntries(ITypeLib* library, bool perUser)
{
    const RegistryViews views = RegistrationViews();
    return ForEachInterfaceKey(library, [&](const std::wstring& path, const wchar_t* libraryId) -> HRESULT {
        for (REGSAM view : views) {
            // Another library's entries for the same interface are not ours.
            if (!InterfaceNamesLibrary(path, view, libraryId))
                continue;
            LONG rc = DeleteKeyTree(ClassesRoot(perUser), ClassesPath(perUser, path).c_str(), view);
            if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
                return HRESULT_FROM_WIN32(rc);
        }
        return S_OK;
    });
}
