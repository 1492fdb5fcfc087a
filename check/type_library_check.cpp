#include "check/type_library_check.h"

#include <oleauto.h>

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
        BSTR raw = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &raw, nullptr, nullptr, nullptr);
        UniqueBstr name(raw);
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
    CRegKeyHandle key;
    if (key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ | view) != ERROR_SUCCESS)
        return path + L" is missing";
    CRegKeyHandle proxy;
    std::wstring text;
    if (proxy.Open(key.get(), L"ProxyStubClsid32", KEY_READ | view) != ERROR_SUCCESS ||
        !ReadText(proxy.get(), nullptr, &text))
        return path + L"\\ProxyStubClsid32 is missing";
    CRegKeyHandle library;
    if (library.Open(key.get(), L"TypeLib", KEY_READ | view) != ERROR_SUCCESS ||
        !ReadText(library.get(), nullptr, &text))
        return path + L"\\TypeLib is missing";
    if (::CompareStringOrdinal(text.c_str(), -1, libraryId.c_str(), -1, TRUE) != CSTR_EQUAL)
        return path + L"\\TypeLib names another library, " + text;
    return std::wstring();
}

} // namespace

CheckResult CheckTypeLibrary(const Installation& installation)
{
    CheckResult result{L"type-library", L"Type library"};
    const std::wstring reinstall = RegisterAgainAdvice(installation, L"") + L".";

    ComPtr<ITypeLib> carried;
    HRESULT hr = LoadServerLibrary(installation.server, carried.GetAddressOf());
    TLIBATTR* rawAttr = nullptr;
    if (SUCCEEDED(hr))
        hr = carried->GetLibAttr(&rawAttr);
    if (FAILED(hr)) {
        result.status = CheckStatus::Fail;
        result.detail = L"the server carries no type library that loads: " + DescribeResult(hr);
        result.advice = L"the server's file may be damaged: install it again from the drawing application's "
                        L"setup, then register it.";
        return result;
    }
    const TLIBATTR attr = *rawAttr;
    carried->ReleaseTLibAttr(rawAttr);
    const std::wstring libraryId = GuidText(attr.guid);
    const std::wstring version = VersionText(attr.wMajorVerNum, attr.wMinorVerNum);
    const std::wstring name = L"TypeLib\\" + libraryId + L"\\" + version;

    std::vector<std::wstring> problems;
    CheckStatus status = CheckStatus::Ok;
    std::wstring registeredPath;
    BSTR rawPath = nullptr;
    if (SUCCEEDED(
            ::QueryPathOfRegTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, &rawPath))) {
        UniqueBstr path(rawPath);
        registeredPath = path.get();
    }
    const std::wstring besideServer = installation.server.substr(0, installation.server.size() - 4) + L".tlb";
    const bool registeredHere =
        SamePath(registeredPath, installation.server) || SamePath(registeredPath, besideServer);

    ComPtr<ITypeLib> registered;
    hr = ::LoadRegTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid,
                          registered.GetAddressOf());
    if (FAILED(hr)) {
        status = CheckStatus::Fail;
        if (hr == TYPE_E_LIBNOTREGISTERED)
            problems.push_back(name + L" is not registered");
        else if (!registeredPath.empty() && !FileExists(registeredPath))
            problems.push_back(name + L" is registered from " + registeredPath + L", which does not exist");
        else
            problems.push_back(name + L" does not load in a " + std::to_wstring(installation.programBits) +
                               L"-bit program: " + DescribeResult(hr));
    } else {
        TLIBATTR* loaded = nullptr;
        if (SUCCEEDED(registered->GetLibAttr(&loaded))) {
            if (loaded->wMajorVerNum != attr.wMajorVerNum || loaded->wMinorVerNum != attr.wMinorVerNum) {
                problems.push_back(L"the registered library is version " +
                                   VersionText(loaded->wMajorVerNum, loaded->wMinorVerNum) +
                                   L", the server's is " + version);
                status = Worse(status, CheckStatus::Warn);
            }
            registered->ReleaseTLibAttr(loaded);
        }
        if (!registeredHere) {
            problems.push_back(L"it is registered from another copy: " + registeredPath);
            status = Worse(status, CheckStatus::Warn);
        }
    }

    for (const InterfaceInfo& info : InterfacesOf(carried.Get())) {
        for (const RegistryView& view : installation.views) {
            const std::wstring problem = InterfaceProblem(info, view.flag, libraryId);
            if (problem.empty())
                continue;
            problems.push_back(info.name + L" cannot be marshalled for " + view.name + L" programs: " +
                               problem);
            status = CheckStatus::Fail;
        }
    }

    result.status = status;
    if (status == CheckStatus::Ok) {
        result.detail = name + L" registered from " + registeredPath + L", loads in a " +
                        std::to_wstring(installation.programBits) +
                        L"-bit program, the server's own version; the interface entries are there in " +
                        (installation.views.size() == 2 ? L"both views" : L"the registry");
        return result;
    }
    for (size_t i = 0; i < problems.size(); ++i)
        result.detail += (i ? L"; " : L"") + problems[i];
    result.advice = reinstall;
    return result;
}
