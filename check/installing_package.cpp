#include "check/installing_package.h"

#include <msi.h>

#include "check/file_paths.h"
#include "check/msi_text.h"
#include "registration/package_rows.h"

namespace {

// A product property (INSTALLPROPERTY_...) as text; empty when Windows
// Installer has none.
std::wstring ProductInfo(const wchar_t* product, const wchar_t* property)
{
    return MsiText([&](wchar_t* buffer, DWORD* length) {
        return ::MsiGetProductInfoW(product, property, buffer, length);
    });
}

// The product holding component that installed it at serverPath.
bool FindClient(const wchar_t* component, const std::wstring& serverPath, InstallingPackage* package)
{
    wchar_t product[39] = {};
    for (DWORD i = 0; ::MsiEnumClientsW(component, i, product) == ERROR_SUCCESS; ++i) {
        wchar_t path[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        const INSTALLSTATE state = ::MsiGetComponentPathW(product, component, path, &length);
        if ((state != INSTALLSTATE_LOCAL && state != INSTALLSTATE_SOURCE) || !SamePath(path, serverPath))
            continue;
        package->productCode = product;
        package->serverComponent = component;
        package->name = ProductInfo(product, L"InstalledProductName");
        package->version = ProductInfo(product, L"VersionString");
        package->localPackage = ProductInfo(product, L"LocalPackage");
        package->source = ProductInfo(product, L"InstallSource") + ProductInfo(product, L"PackageName");
        return true;
    }
    return false;
}

} // namespace

HRESULT FindInstallingPackage(const std::wstring& serverPath, InstallingPackage* package)
{
    if (!package)
        return E_POINTER;
    // Either build's package may have put the server here.
    for (const PackageLayout* layout : {&kPackageLayoutX64, &kPackageLayoutX86}) {
        if (FindClient(layout->server.guid, serverPath, package))
            return S_OK;
    }
    return S_FALSE;
}

std::wstring DescribePackage(const InstallingPackage& package)
{
    return (package.name.empty() ? std::wstring(L"the product") : package.name) +
           (package.version.empty() ? L"" : L" " + package.version) + L" (" + package.productCode + L")";
}

std::wstring PackageRepairCommand(const InstallingPackage& package)
{
    return L"msiexec /fomus " + package.productCode;
}
