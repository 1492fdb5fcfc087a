#include "registration/server_registration.h"

#include <oleauto.h>

#include <cstring>
#include <cwchar>

#include <wrl/client.h>

#include "registration/reg_key.h"
#include "registration/registrar.h"
#include "server/handles.h"
#include "server/module.h"
#include "server/object_table.h"

using Microsoft::WRL::ComPtr;

namespace {

bool s_bPerUserRegistration = false;

// A module path with every single quote doubled, so that it reads back whole
// inside a quoted script token; room for a 259-character path.
constexpr size_t kUnquotedModuleSize = 519;
// The same between double quotes.
constexpr size_t kQuotedModuleSize = 524;
static_assert(kQuotedModuleSize >= kUnquotedModuleSize + 2, "room for the quotes");

using RegisterTypeLibFunc = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterTypeLibFunc = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// The per-user form of a type-library function, where the automation library
// offers it.
FARPROC PerUserTypeLibFunction(const char* name)
{
    bool bRedirectionEnabled = false;
    QueryPerUserRegistration(&bRedirectionEnabled);
    if (!bRedirectionEnabled)
        return nullptr;
    HMODULE oleaut = ::GetModuleHandleW(L"OLEAUT32.DLL");
    if (!oleaut)
        return nullptr;
    return ::GetProcAddress(oleaut, name);
}

// The module's file name in at most 259 bytes.
HRESULT ModuleFileName(HINSTANCE module, char* buffer)
{
    DWORD length = ::GetModuleFileNameA(module, buffer, MAX_PATH);
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

std::string ClassesPath(bool perUser, const std::string& path)
{
    return perUser ? "Software\\Classes\\" + path : path;
}

// "Interface\{...}" of an interface identifier.
std::string InterfaceKeyPath(REFIID iid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(iid, text, 40);
    std::string path = "Interface\\";
    for (const wchar_t* p = text; *p; ++p)
        path += static_cast<char>(*p); // a GUID's text is ASCII
    return path;
}

// True when the interface key at path in view (as the classes root shows it to
// a process of that view) exists and names library as its type library.
bool InterfaceNamesLibrary(const std::string& path, REGSAM view, const wchar_t* library)
{
    CRegKeyHandle key;
    if (key.Open(HKEY_CLASSES_ROOT, (path + "\\TypeLib").c_str(), KEY_READ | view) != ERROR_SUCCESS)
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
LONG CopyKeyTree(HKEY source, REGSAM sourceView, HKEY parent, const char* name, REGSAM view)
{
    CRegKeyHandle target;
    LONG rc = target.Create(parent, name, KEY_READ | KEY_WRITE | view);
    if (rc != ERROR_SUCCESS)
        return rc;
    for (DWORD i = 0;; ++i) {
        char valueName[256];
        DWORD nameLength = sizeof(valueName);
        BYTE data[2048];
        DWORD size = sizeof(data);
        DWORD type = 0;
        rc = ::RegEnumValueA(source, i, valueName, &nameLength, nullptr, &type, data, &size);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc == ERROR_SUCCESS)
            rc = ::RegSetValueExA(target.get(), valueName, 0, type, data, size);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    for (DWORD i = 0;; ++i) {
        char child[256];
        DWORD length = sizeof(child);
        rc = ::RegEnumKeyExA(source, i, child, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        CRegKeyHandle sourceChild;
        if (rc == ERROR_SUCCESS)
            rc = sourceChild.Open(source, child, KEY_READ | sourceView);
        if (rc == ERROR_SUCCESS)
            rc = CopyKeyTree(sourceChild.get(), sourceView, target.get(), child, view);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
}

class LibAttrGuard
{
public:
    explicit LibAttrGuard(ITypeLib* library) : library_(library) {}
    LibAttrGuard(const LibAttrGuard&) = delete;
    LibAttrGuard& operator=(const LibAttrGuard&) = delete;
    ~LibAttrGuard()
    {
        if (attr_)
            library_->ReleaseTLibAttr(attr_);
    }
    TLIBATTR** put() { return &attr_; }
    const TLIBATTR* operator->() const { return attr_; }

private:
    ITypeLib* library_;
    TLIBATTR* attr_ = nullptr;
};

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
    UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind = TKIND_MAX;
        if (FAILED(library->GetTypeInfoType(i, &kind)) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH))
            continue;
        ComPtr<ITypeInfo> info;
        hr = library->GetTypeInfo(i, info.GetAddressOf());
        if (FAILED(hr))
            return hr;
        TYPEATTR* attr = nullptr;
        hr = info->GetTypeAttr(&attr);
        if (FAILED(hr))
            return hr;
        const IID iid = attr->guid;
        info->ReleaseTypeAttr(attr);
        hr = visit(InterfaceKeyPath(iid), libraryId);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
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

HRESULT EnablePerUserRegistration(bool enable)
{
    s_bPerUserRegistration = enable;
    return S_OK;
}

HRESULT QueryPerUserRegistration(bool* enabled)
{
    *enabled = s_bPerUserRegistration;
    return S_OK;
}

HRESULT UpdateClassRegistry(WORD resourceId, bool registerEntries)
{
    return ApplyRegistryResource(resourceId, registerEntries);
}

HRESULT ApplyClassCategories(REFCLSID, const CategoryTableEntry* categories, bool)
{
    if (!categories)
        return S_OK;
    // Writing component categories is not built: no class declares any.
    return E_NOTIMPL;
}

HRESULT RegisterComServer(bool registerTypeLib, const CLSID* filter)
{
    for (ObjectTableEntry** slot = s_comModule.m_ppAutoObjMapFirst; slot < s_comModule.m_ppAutoObjMapLast;
         ++slot) {
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
    return RegisterServerTypeLibrary(s_baseModule.m_hInst);
}

HRESULT UnregisterComServer(bool unregisterTypeLib, const CLSID* filter)
{
    for (ObjectTableEntry** slot = s_comModule.m_ppAutoObjMapFirst; slot < s_comModule.m_ppAutoObjMapLast;
         ++slot) {
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
    return UnregisterServerTypeLibrary(s_baseModule.m_hInst);
}

HRESULT ApplyRegistryResource(WORD resourceId, bool registerEntries)
{
    CRegObject registrar;
    HRESULT hr = s_pModule->AddModuleReplacements(&registrar);
    if (FAILED(hr))
        return hr;

    char path[MAX_PATH];
    hr = ModuleFileName(s_baseModule.m_hInst, path);
    if (FAILED(hr))
        return hr;
    wchar_t widePath[MAX_PATH];
    if (::MultiByteToWideChar(CP_THREAD_ACP, 0, path, -1, widePath, MAX_PATH) == 0)
        return E_OUTOFMEMORY;

    wchar_t pszModuleUnquoted[kUnquotedModuleSize];
    size_t length = 0;
    for (const wchar_t* p = widePath; *p; ++p) {
        size_t needed = *p == L'\'' ? 2 : 1;
        if (length + needed >= kUnquotedModuleSize)
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        pszModuleUnquoted[length++] = *p;
        if (*p == L'\'')
            pszModuleUnquoted[length++] = L'\'';
    }
    pszModuleUnquoted[length] = L'\0';

    // An executable is started by its path, which must be quoted where it holds
    // blanks; a library's path is given bare.
    wchar_t pszModuleQuote[kQuotedModuleSize];
    pszModuleQuote[0] = L'"';
    std::wmemcpy(pszModuleQuote + 1, pszModuleUnquoted, length);
    pszModuleQuote[length + 1] = L'"';
    pszModuleQuote[length + 2] = L'\0';
    bool isExecutable = s_baseModule.m_hInst == ::GetModuleHandleA(nullptr);
    hr = registrar.DefineReplacement(L"Module", isExecutable ? pszModuleQuote : pszModuleUnquoted);
    if (FAILED(hr))
        return hr;
    hr = registrar.DefineReplacement(L"Module_Raw", pszModuleUnquoted);
    if (FAILED(hr))
        return hr;

    bool perUser = false;
    QueryPerUserRegistration(&perUser);
    for (REGSAM view : RegistrationViews()) {
        const ScriptTarget target{perUser, view};
        hr = registerEntries ? registrar.RegisterScriptResource(widePath, resourceId, L"REGISTRY", target)
                             : registrar.UnregisterScriptResource(widePath, resourceId, L"REGISTRY", target);
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

    char szModule[MAX_PATH + 10];
    HRESULT hr = ModuleFileName(module, szModule);
    if (FAILED(hr))
        return hr;

    // The extension: the last dot after the last backslash, else the end.
    size_t extension = 0;
    bool haveDot = false;
    size_t at = 0;
    for (LPCSTR p = szModule; *p; p = ::CharNextA(p)) {
        at = static_cast<size_t>(p - szModule);
        if (*p == '\\')
            haveDot = false;
        else if (*p == '.') {
            haveDot = true;
            extension = at;
        }
    }
    if (!haveDot)
        extension = std::strlen(szModule);

    wchar_t widePath[MAX_PATH + 10];
    if (::MultiByteToWideChar(CP_THREAD_ACP, 0, szModule, -1, widePath, MAX_PATH + 10) == 0)
        return E_OUTOFMEMORY;
    ComPtr<ITypeLib> loaded;
    hr = ::LoadTypeLib(widePath, loaded.GetAddressOf());
    if (FAILED(hr)) {
        // The library as a file beside the module, named like it.
        if (extension + 5 > MAX_PATH)
            return E_FAIL;
        std::memcpy(szModule + extension, ".tlb", 5);
        if (::MultiByteToWideChar(CP_THREAD_ACP, 0, szModule, -1, widePath, MAX_PATH + 10) == 0)
            return E_OUTOFMEMORY;
        hr = ::LoadTypeLib(widePath, loaded.ReleaseAndGetAddressOf());
    }
    if (FAILED(hr))
        return hr;
    *path = ::SysAllocString(widePath);
    if (!*path)
        return E_OUTOFMEMORY;
    *library = loaded.Detach();
    return hr;
}

HRESULT RegisterServerTypeLibrary(HINSTANCE module)
{
    BSTR rawPath = nullptr;
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadServerTypeLibrary(module, &rawPath, library.GetAddressOf());
    UniqueBstr bstrPath(rawPath);
    if (FAILED(hr))
        return hr;

    // The help directory: the library's help file up to its last separator.
    wchar_t szDirBuffer[MAX_PATH];
    wchar_t* helpDirectory = nullptr;
    BSTR rawHelpFile = nullptr;
    hr = library->GetDocumentation(-1, nullptr, nullptr, nullptr, &rawHelpFile);
    UniqueBstr bstrHelpFile(rawHelpFile);
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

    auto registerForUser = reinterpret_cast<RegisterTypeLibFunc>(
        reinterpret_cast<void*>(PerUserTypeLibFunction("RegisterTypeLibForUser")));
    hr = registerForUser ? registerForUser(library.Get(), bstrPath.get(), helpDirectory)
                         : ::RegisterTypeLib(library.Get(), bstrPath.get(), helpDirectory);
    if (FAILED(hr))
        return hr;
    return MirrorInterfaceEntries(library.Get(), registerForUser != nullptr);
}

HRESULT UnregisterServerTypeLibrary(HINSTANCE module)
{
    BSTR rawPath = nullptr;
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadServerTypeLibrary(module, &rawPath, library.GetAddressOf());
    UniqueBstr bstrPath(rawPath);
    if (FAILED(hr))
        return hr;

    LibAttrGuard ptla(library.Get());
    hr = library->GetLibAttr(ptla.put());
    if (FAILED(hr))
        return hr;

    auto unregisterForUser = reinterpret_cast<UnregisterTypeLibFunc>(
        reinterpret_cast<void*>(PerUserTypeLibFunction("UnRegisterTypeLibForUser")));
    hr = unregisterForUser ? unregisterForUser(ptla->guid, ptla->wMajorVerNum, ptla->wMinorVerNum, ptla->lcid,
                                               ptla->syskind)
                           : ::UnRegisterTypeLib(ptla->guid, ptla->wMajorVerNum, ptla->wMinorVerNum,
                                                 ptla->lcid, ptla->syskind);
    // What the platform left in a view it does not write goes all the same.
    HRESULT removed = RemoveInterfaceEntries(library.Get(), unregisterForUser != nullptr);
    return FAILED(hr) ? hr : removed;
}

HRESULT MirrorInterfaceEntries(ITypeLib* library, bool perUser)
{
    const RegistryViews views = RegistrationViews();
    return ForEachInterfaceKey(library, [&](const std::string& path, const wchar_t* libraryId) -> HRESULT {
        // A view the platform wrote is the model for the others.
        REGSAM sourceView = 0;
        CRegKeyHandle source;
        for (REGSAM view : views) {
            if (InterfaceNamesLibrary(path, view, libraryId) &&
                source.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ | view) == ERROR_SUCCESS) {
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
    return ForEachInterfaceKey(library, [&](const std::string& path, const wchar_t* libraryId) -> HRESULT {
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
