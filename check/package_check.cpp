#include "check/package_check.h"

#include <msi.h>
#include <msiquery.h>

#include <map>
#include <tuple>
#include <vector>

#include "check/msi_text.h"
#include "registration/package_rows.h"
#include "server/handles.h"

namespace {

const wchar_t kClasses[] = L"Software\\Classes\\";
// msidbComponentAttributes64bit: the component's rows go to the 64-bit view.
constexpr int kComponent64Bit = 256;

std::wstring Folded(std::wstring text)
{
    while (!text.empty() && text.back() == L'\\')
        text.pop_back(); // a key written with a final backslash is the same key
    if (!text.empty())
        ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::wstring RecordText(MSIHANDLE record, UINT field)
{
    return MsiText(
        [&](wchar_t* buffer, DWORD* length) { return ::MsiRecordGetStringW(record, field, buffer, length); });
}

// Each record of query, handed to visit; a table the package does not have
// has no records.
template <class Visit> UINT ForEachRecord(MSIHANDLE database, const wchar_t* query, Visit visit)
{
    UniqueMsiHandle view;
    UINT rc = ::MsiDatabaseOpenViewW(database, query, view.put());
    if (rc == ERROR_BAD_QUERY_SYNTAX || rc == ERROR_INVALID_TABLE)
        return ERROR_SUCCESS;
    if (rc == ERROR_SUCCESS)
        rc = ::MsiViewExecute(view.get(), 0);
    while (rc == ERROR_SUCCESS) {
        MSIHANDLE fetched = 0;
        rc = ::MsiViewFetch(view.get(), &fetched);
        UniqueMsiHandle record(fetched);
        if (rc == ERROR_SUCCESS)
            visit(record.get());
    }
    return rc == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : rc;
}

using RowKey = std::tuple<REGSAM, std::wstring, std::wstring>;

// What the package holds: its registry rows by view, key and name, and where
// it puts the server.
struct PackageContent
{
    std::map<RowKey, std::wstring> rows;
    PackageReferences references;
};

struct ComponentInfo
{
    int attributes = 0;
    std::wstring directory;
    std::wstring keyPath;
};

// A row's key below its root as the classes show it: the classes root (0)
// and the machine's or user's classes are the same keys.
std::wstring ClassesKey(int root, const std::wstring& key)
{
    return root == 0 ? kClasses + key : key;
}

// The folder a directory stands for, as a formatted reference: its parent's
// reference and its own target name.
std::wstring FolderReference(const std::map<std::wstring, std::pair<std::wstring, std::wstring>>& directories,
                             const std::wstring& directory)
{
    auto found = directories.find(directory);
    if (found == directories.end())
        return L"[" + directory + L"]";
    std::wstring name = found->second.second;
    name = name.substr(0, name.find(L':')); // target:source
    const size_t bar = name.find(L'|');     // short|long
    if (bar != std::wstring::npos)
        name = name.substr(bar + 1);
    return L"[" + found->second.first + L"]" + name;
}

UINT ReadPackage(MSIHANDLE database, const Installation& installation, const std::wstring& serverComponent,
                 PackageContent* content)
{
    std::map<std::wstring, ComponentInfo> components;
    std::wstring server;
    UINT rc = ForEachRecord(
        database,
        L"SELECT `Component`, `ComponentId`, `Directory_`, `Attributes`, "
        L"`KeyPath` FROM `Component`",
        [&](MSIHANDLE record) {
            const std::wstring id = RecordText(record, 1);
            components[id] = {::MsiRecordGetInteger(record, 4), RecordText(record, 3), RecordText(record, 5)};
            if (::lstrcmpiW(RecordText(record, 2).c_str(), serverComponent.c_str()) == 0)
                server = id;
        });
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> directories;
    if (rc == ERROR_SUCCESS)
        rc = ForEachRecord(
            database, L"SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`",
            [&](MSIHANDLE record) {
                directories[RecordText(record, 1)] = {RecordText(record, 2), RecordText(record, 3)};
            });
    content->references = {components[server].keyPath,
                           FolderReference(directories, components[server].directory)};
    const bool oneView = installation.views.size() == 1;
    if (rc == ERROR_SUCCESS)
        rc = ForEachRecord(database, L"SELECT `Root`, `Key`, `Name`, `Value`, `Component_` FROM `Registry`",
                           [&](MSIHANDLE record) {
                               const int attributes = components[RecordText(record, 5)].attributes;
                               const REGSAM view = oneView                          ? 0
                                                   : (attributes & kComponent64Bit) ? KEY_WOW64_64KEY
                                                                                    : KEY_WOW64_32KEY;
                               const std::wstring key =
                                   ClassesKey(::MsiRecordGetInteger(record, 1), RecordText(record, 2));
                               // A key made on install ("+") is there as well as one also removed ("*").
                               std::wstring name = RecordText(record, 3);
                               if (name == L"+")
                                   name = kKeyRowName;
                               content->rows[{view, Folded(key), Folded(name)}] = RecordText(record, 4);
                           });
    return rc;
}

// A row for people: the key below the classes, and which of its values.
std::wstring RowName(const PackageRow& row)
{
    std::wstring key = row.key;
    if (key.compare(0, wcslen(kClasses), kClasses) == 0)
        key.erase(0, wcslen(kClasses));
    if (row.name == kKeyRowName)
        return key + L" (the key itself)";
    return row.name.empty() ? key : key + L" value '" + row.name + L"'";
}

// What the package lacks of the expected rows, each said once with the views
// it lacks it in.
std::vector<std::wstring> Shortfall(const Installation& installation, const PackageContent& content,
                                    const std::vector<PackageRow>& expected)
{
    std::vector<std::wstring> findings;
    for (const PackageRow& row : expected) {
        std::wstring problem;
        std::vector<const wchar_t*> views;
        for (const RegistryView& view : installation.views) {
            auto held = content.rows.find({view.flag, Folded(row.key), Folded(row.name)});
            if (held != content.rows.end() && ::lstrcmpiW(held->second.c_str(), row.value.c_str()) == 0)
                continue;
            problem =
                held == content.rows.end()
                    ? std::wstring(L"is missing")
                    : L"is '" + held->second + L"', the server's registration writes '" + row.value + L"'";
            views.push_back(view.name);
        }
        if (views.empty())
            continue;
        const std::wstring where = installation.views.size() == 1 ? std::wstring()
                                   : views.size() == installation.views.size()
                                       ? std::wstring(L"in both views: ")
                                       : std::wstring(L"in the ") + views[0] + L" view: ";
        findings.push_back(where + RowName(row) + L" " + problem);
    }
    return findings;
}

} // namespace

CheckResult CheckPackage(const Installation& installation)
{
    CheckResult result{L"package", L"Windows Installer package"};
    if (!installation.package) {
        result.detail =
            L"none: no Windows Installer package installed this copy of the server (it was copied "
            L"and registered by hand)";
        return result;
    }
    const InstallingPackage& package = *installation.package;
    const std::wstring installedBy = L"installed by " + DescribePackage(package) +
                                     (package.source.empty() ? L"" : L" from " + package.source);
    UniqueMsiHandle database;
    UINT rc = ::MsiOpenDatabaseW(package.localPackage.c_str(), reinterpret_cast<LPCWSTR>(MSIDBOPEN_READONLY),
                                 database.put());
    PackageContent content;
    if (rc == ERROR_SUCCESS)
        rc = ReadPackage(database.get(), installation, package.serverComponent, &content);
    std::vector<PackageRow> expected;
    HRESULT hr = rc == ERROR_SUCCESS ? ServerPackageRows(installation.server, content.references, &expected)
                                     : HRESULT_FROM_WIN32(rc);
    if (FAILED(hr)) {
        result.status = CheckStatus::Warn;
        result.detail = installedBy + L"; Windows Installer's copy of the package, " + package.localPackage +
                        L", cannot be read: " + DescribeResult(hr);
        result.advice =
            L"a repair needs the package: keep the package the server was installed from where it "
            L"was, or install it again from there.";
        return result;
    }
    const std::vector<std::wstring> shortfall = Shortfall(installation, content, expected);
    if (shortfall.empty()) {
        result.detail = installedBy +
                        L"; the package holds the server's registration as the server's scripts "
                        L"and type library give it (" +
                        std::to_wstring(expected.size()) + L" registry rows" +
                        (installation.views.size() == 2 ? L" in each of both views)" : L")");
        return result;
    }
    result.status = CheckStatus::Fail;
    result.detail = installedBy + L", whose registry table lacks part of the server's registration: " +
                    JoinFindings(shortfall);
    result.advice =
        L"the package is damaged or was made for another build of the server, and a repair writes "
        L"only what it holds: remove it (msiexec /x " +
        package.productCode +
        L") and install a sound package of the server, or register the server by hand: from a prompt "
        L"started as administrator, run " +
        QuotedCommand(installation.server, L"/RegServer") + L".";
    return result;
}
