#include "check/type_library_check.h"

#include <oleauto.h>

#include <utility>
#include <vector>

#include <wrl/client.h>

#include "registration/reg_key.h"
#include "server/handles.h"

using Microsoft::WRL::ComPtr;

namespace {

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring VersionText(WORD major, WORD minor)
{
    return std::to_wstring(major) + L"." + std::to_wstring(minor);
}

// The library the server carries: its TYPELIB resource, or the ".tlb" file
// beside it, as registration loads it.
HRESULT LoadServerLibrary(const std::wstring& server, ITypeLib** library)
{
    HRESULT hr = ::LoadTypeLib(server.c_str(), library);
    if (SUCCEEDED(hr))
        return hr;
    const size_t dot = server.rfind(L'.');
    const size_t slash = server.rfind(L'\\');
    const std::wstring beside =
        (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash) ? server.substr(0, dot)
                                                                                   : server) +
        L".tlb";
    return ::LoadTypeLib(beside.c_str(), library);
}

struct InterfaceInfo
{
    IID iid;
    std::wstring name;
};

// The interfaces the library describes, each once (a dual interface appears
// as an interface and as its dispatch form).
std::vector<InterfaceInfo> InterfacesOf(ITypeLib* library)
{
    std::vector<InterfaceInfo> interfaces;
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind = TKIND_MAX;
        ComPtr<ITypeInfo> info;
        if (FAILED(library->GetTypeInfoType(i, &kind)) ||
            (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) ||
            FAILED(library->GetTypeInfo(i, info.GetAddressOf())))
            continue;
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr)))
            continue;
        const IID iid = attr->guid;
        info->ReleaseTypeAttr(attr);
        bool known = false;
        for (const InterfaceInfo& seen : interfaces)
            known = known || ::IsEqualIID(seen.iid, iid);
        if (known)
            continue;
        UniqueBstr name;
        info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr);
        interfaces.push_back({iid, name ? name.get() : GuidText(iid)});
    }
    return interfaces;
}

bool ReadText(HKEY key, const wchar_t* name, std::wstring* text)
{
    wchar_t buffer[MAX_PATH] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    *text = buffer;
    return true;
}

// What is wrong with the interface entries of iid in one view, or nothing.
std::wstring InterfaceProblem(const InterfaceInfo& info, REGSAM view, const std::wstring& libraryId)
{
    const std::wstring path = L"Interface\\" + GuidText(info.iid);
    UniqueHKey key;
    if (OpenRegKey(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ | view, &key) != ERROR_SUCCESS)
        return path + L" is missing";
    UniqueHKey proxy;
    std::wstring text;
    if (OpenRegKey(key.get(), L"ProxyStubClsid32", KEY_READ | view, &proxy) != ERROR_SUCCESS ||
        !ReadText(proxy.get(), nullptr, &text))
        return path + L"\\ProxyStubClsid32 is missing";
    UniqueHKey library;
    if (OpenRegKey(key.get(), L"TypeLib", KEY_READ | view, &library) != ERROR_SUCCESS ||
        !ReadText(library.get(), nullptr, &text))
        return path + L"\\TypeLib is missing";
    if (::CompareStringOrdinal(text.c_str(), -1, libraryId.c_str(), -1, TRUE) != CSTR_EQUAL)
        return path + L"\\TypeLib names another library, " + text;
    return std::wstring();
}

// What is wrong, each with how bad it is; the worst decides the check.
struct Findings
{
    std::vector<std::wstring> problems;
    CheckStatus status = CheckStatus::Ok;

    void Add(std::wstring problem, CheckStatus how)
    {
        problems.push_back(std::move(problem));
        status = Worse(status, how);
    }
};

// The library the server carries and its attributes.
HRESULT CarriedLibrary(const std::wstring& server, ComPtr<ITypeLib>* library, TLIBATTR* attr)
{
    HRESULT hr = LoadServerLibrary(server, library->ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return hr;
    LibAttrGuard loaded(library->Get());
    hr = (*library)->GetLibAttr(loaded.put());
    if (FAILED(hr))
        return hr;
    *attr = *loaded.operator->();
    return S_OK;
}

// Where the library of attr is registered from; empty when it is not.
std::wstring RegisteredPath(const TLIBATTR& attr)
{
    UniqueBstr path;
    if (FAILED(::QueryPathOfRegTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid,
                                       path.put())) ||
        !path)
        return std::wstring();
    return path.get();
}

// The registered library as a program of this bitness loads it: there, of the
// server's version, and registered from this copy of the server.
void CheckRegisteredLibrary(const Installation& installation, const TLIBATTR& attr, const std::wstring& name,
                            const std::wstring& registeredPath, Findings* findings)
{
    ComPtr<ITypeLib> registered;
    HRESULT hr = ::LoadRegTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, &registered);
    if (hr == TYPE_E_LIBNOTREGISTERED)
        return findings->Add(name + L" is not registered", CheckStatus::Fail);
    if (FAILED(hr) && !registeredPath.empty() && !FileExists(registeredPath))
        return findings->Add(name + L" is registered from " + registeredPath + L", which does not exist",
                             CheckStatus::Fail);
    if (FAILED(hr))
        return findings->Add(name + L" does not load in a " + std::to_wstring(installation.programBits) +
                                 L"-bit program: " + DescribeResult(hr),
                             CheckStatus::Fail);
    LibAttrGuard loaded(registered.Get());
    if (SUCCEEDED(registered->GetLibAttr(loaded.put())) &&
        (loaded->wMajorVerNum != attr.wMajorVerNum || loaded->wMinorVerNum != attr.wMinorVerNum))
        findings->Add(L"the registered library is version " +
                          VersionText(loaded->wMajorVerNum, loaded->wMinorVerNum) + L", the server's is " +
                          VersionText(attr.wMajorVerNum, attr.wMinorVerNum),
                      CheckStatus::Warn);
    const std::wstring besideServer = installation.server.substr(0, installation.server.size() - 4) + L".tlb";
    if (!SamePath(registeredPath, installation.server) && !SamePath(registeredPath, besideServer))
        findings->Add(L"it is registered from another copy: " + registeredPath, CheckStatus::Warn);
}

// The interface entries of every interface the library describes, in each view.
void CheckInterfaceEntries(const Installation& installation, ITypeLib* carried, const std::wstring& libraryId,
                           Findings* findings)
{
    for (const InterfaceInfo& info : InterfacesOf(carried)) {
        for (const RegistryView& view : installation.views) {
            const std::wstring problem = InterfaceProblem(info, view.flag, libraryId);
            if (!problem.empty())
                findings->Add(info.name + L" cannot be marshalled for " + view.name + L" programs: " +
                                  problem,
                              CheckStatus::Fail);
        }
    }
}

} // namespace

CheckResult CheckTypeLibrary(const Installation& installation)
{
    CheckResult result{L"type-library", L"Type library"};
    ComPtr<ITypeLib> carried;
    TLIBATTR attr = {};
    HRESULT hr = CarriedLibrary(installation.server, &carried, &attr);
    if (FAILED(hr)) {
        result.status = CheckStatus::Fail;
        result.detail = L"the server carries no type library that loads: " + DescribeResult(hr);
        result.advice = L"the server's file may be damaged: install it again from the drawing application's "
                        L"setup, then register it.";
        return result;
    }
    const std::wstring libraryId = GuidText(attr.guid);
    const std::wstring name =
        L"TypeLib\\" + libraryId + L"\\" + VersionText(attr.wMajorVerNum, attr.wMinorVerNum);
    const std::wstring registeredPath = RegisteredPath(attr);

    Findings findings;
    CheckRegisteredLibrary(installation, attr, name, registeredPath, &findings);
    CheckInterfaceEntries(installation, carried.Get(), libraryId, &findings);

    result.status = findings.status;
    if (findings.status == CheckStatus::Ok) {
        result.detail = name + L" registered from " + registeredPath + L", loads in a " +
                        std::to_wstring(installation.programBits) +
                        L"-bit program, the server's own version; the interface entries are there in " +
                        (installation.views.size() == 2 ? L"both views" : L"the registry");
        return result;
    }
    for (size_t i = 0; i < findings.problems.size(); ++i)
        result.detail += (i ? L"; " : L"") + findings.problems[i];
    result.advice = RegisterAgainAdvice(installation, L"") + L".";
    return result;
}
