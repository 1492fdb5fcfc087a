#include "registration/package_rows.h"

#include <cstring>
#include <cwchar>
#include <set>

#include <wrl/client.h>

#include "registration/library_interfaces.h"
#include "registration/registration_entries.h"
#include "server/handles.h"
#include "server/return_if_failed.h"

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t kClasses[] = L"Software\\Classes\\";

// Stands where the server's path goes in the listed entries until the
// package's reference replaces it: a private-use character, which no script
// holds.
const wchar_t kInstalledServer[] = L"\xE000";

// The platform's proxies for interfaces marshalled through their type library:
// the automation marshaller for dual and automation-compatible interfaces, the
// dispatch proxy for a pure dispatch interface.
const wchar_t kAutomationProxy[] = L"{00020424-0000-0000-C000-000000000046}";
const wchar_t kDispatchProxy[] = L"{00020420-0000-0000-C000-000000000046}";

// text in a formatted column, with standIn (where not empty) replaced by
// reference. A brace group holding a bracket is evaluated by the installer,
// so braces are escaped too wherever brackets end up in the same text.
std::wstring Formatted(std::wstring_view text, std::wstring_view standIn, std::wstring_view reference,
                       bool valueColumn)
{
    const bool hasReference = !standIn.empty() && text.find(standIn) != std::wstring_view::npos;
    const bool escapeBraces = hasReference || text.find_first_of(L"[]") != std::wstring_view::npos;
    std::wstring out;
    if (valueColumn && !text.empty() && text[0] == L'#')
        out += L'#'; // "##" is a literal '#'; a single one would make a number
    for (size_t i = 0; i < text.size(); ++i) {
        if (hasReference && text.compare(i, standIn.size(), standIn) == 0) {
            out += reference;
            i += standIn.size() - 1;
            continue;
        }
        const wchar_t c = text[i];
        if (c == L'[' || c == L']' || (escapeBraces && (c == L'{' || c == L'}')))
            out.append(L"[\\").append(1, c).append(L"]");
        else
            out += c;
    }
    return out;
}

std::wstring Folded(std::wstring text)
{
    if (!text.empty())
        ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The Root column and the key prefix of a script's root.
HRESULT RootOf(HKEY root, int* column, std::wstring* prefix)
{
    prefix->clear();
    if (root == HKEY_CLASSES_ROOT) {
        *column = kRootUserOrMachine;
        *prefix = kClasses;
    } else if (root == HKEY_CURRENT_USER) {
        *column = 1;
    } else if (root == HKEY_LOCAL_MACHINE) {
        *column = 2;
    } else if (root == HKEY_USERS) {
        *column = 3;
    } else {
        return E_NOTIMPL; // no other root is open to a package
    }
    return S_OK;
}

// The Value column of a listed value.
HRESULT ValueText(const RegistryValue& value, std::wstring_view standIn, const std::wstring& reference,
                  std::wstring* text)
{
    if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
        LONG number = 0;
        std::memcpy(&number, value.data.data(), sizeof(number));
        *text = L"#" + std::to_wstring(number);
        return S_OK;
    }
    if (value.type != REG_SZ)
        return E_NOTIMPL;
    std::wstring_view characters(reinterpret_cast<const wchar_t*>(value.data.data()),
                                 value.data.size() / sizeof(wchar_t));
    characters = characters.substr(0, characters.find(L'\0'));
    if (characters.empty())
        return E_NOTIMPL; // an empty Value column means no value at all
    *text = Formatted(characters, standIn, reference, true);
    return S_OK;
}

PackageRow ClassesRow(const std::wstring& key, const std::wstring& name, const std::wstring& value)
{
    return PackageRow{kRootUserOrMachine, FormattedLiteral(kClasses + key, false),
                      FormattedLiteral(name, false), value};
}

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring HexText(unsigned long number)
{
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%lx", number);
    return text;
}

const wchar_t* SystemKindName(SYSKIND kind)
{
    switch (kind) {
    case SYS_WIN16:
        return L"win16";
    case SYS_WIN32:
        return L"win32";
    case SYS_WIN64:
        return L"win64";
    default:
        return nullptr;
    }
}

// The help folder registration names: the library's help file up to its last
// separator; without a help file, the platform names the library's own folder.
HRESULT HelpDirectoryText(ITypeLib* library, const PackageReferences& references, std::wstring* text)
{
    UniqueBstr helpFile;
    HRESULT hr = library->GetDocumentation(-1, nullptr, nullptr, nullptr, helpFile.put());
    if (FAILED(hr) || !helpFile) {
        *text = references.folder;
        return S_OK;
    }
    std::wstring file(helpFile.get(), ::wcsnlen(helpFile.get(), MAX_PATH - 1));
    const size_t cut = file.find_last_of(L"\\/:");
    if (cut == std::wstring::npos)
        return E_NOTIMPL; // an empty help folder cannot be a value of its own
    *text = FormattedLiteral(file.substr(0, cut + 1), true);
    return S_OK;
}

// The interface entries registration couples to the library: one for each
// dispatch interface (dual ones included) and automation-compatible interface.
HRESULT InterfaceRows(ITypeLib* library, const std::wstring& libraryId, const std::wstring& version,
                      std::vector<PackageRow>* rows)
{
    return ForEachLibraryInterface(library, [&](UINT i, TYPEKIND kind, const TYPEATTR& attr) -> HRESULT {
        if (kind == TKIND_INTERFACE && !(attr.wTypeFlags & TYPEFLAG_FOLEAUTOMATION))
            return S_OK;
        UniqueBstr name;
        library->GetDocumentation(static_cast<INT>(i), name.put(), nullptr, nullptr, nullptr);
        const std::wstring key = L"Interface\\" + GuidText(attr.guid);
        const wchar_t* proxy =
            kind == TKIND_INTERFACE || (attr.wTypeFlags & TYPEFLAG_FDUAL) ? kAutomationProxy : kDispatchProxy;
        if (name && *name.get())
            rows->push_back(ClassesRow(key, L"", FormattedLiteral(name.get(), true)));
        rows->push_back(ClassesRow(key + L"\\ProxyStubClsid", L"", FormattedLiteral(proxy, true)));
        rows->push_back(ClassesRow(key + L"\\ProxyStubClsid32", L"", FormattedLiteral(proxy, true)));
        rows->push_back(ClassesRow(key + L"\\TypeLib", L"", FormattedLiteral(libraryId, true)));
        rows->push_back(ClassesRow(key + L"\\TypeLib", L"Version", FormattedLiteral(version, true)));
        return S_OK;
    });
}

} // namespace

const PackageLayout kPackageLayoutX64 = {
    {L"QuillmorphOLE.Server", L"{ABBC0F56-15DE-479F-8376-36BB47A5FFE7}"},
    {L"QuillmorphOLE.Check", L"{FEE35B89-4FA4-4841-ABBB-3595B668B324}"},
    {L"QuillmorphOLE.Registry32", L"{EAF4D99B-CF46-42F0-9DC3-2548DBBF2A3F}"},
    true,
};
const PackageLayout kPackageLayoutX86 = {
    {L"QuillmorphOLE.Server", L"{A943FB3C-7FE3-481D-B871-88281E39DB51}"},
    {L"QuillmorphOLE.Check", L"{C8B060DC-AE1E-4BC1-9A75-3E4B2FCC4E1F}"},
    {nullptr, nullptr},
    false,
};

std::wstring FormattedLiteral(std::wstring_view text, bool valueColumn)
{
    return Formatted(text, std::wstring_view(), std::wstring_view(), valueColumn);
}

HRESULT ClassRows(const std::vector<ScriptEntry>& entries, std::wstring_view standIn,
                  const PackageReferences& references, std::vector<PackageRow>* rows)
{
    if (!rows)
        return E_POINTER;
    // A key that holds a value or a key of the package's comes with them.
    std::set<std::wstring> filled;
    for (const ScriptEntry& entry : entries) {
        if (entry.isValue)
            filled.insert(Folded(entry.keyPath));
        const size_t slash = entry.keyPath.rfind(L'\\');
        if (!entry.isValue && slash != std::wstring::npos)
            filled.insert(Folded(entry.keyPath.substr(0, slash)));
    }
    const std::wstring file = L"[#" + references.fileKey + L"]";
    for (const ScriptEntry& entry : entries) {
        int root = 0;
        std::wstring prefix;
        HRESULT hr = RootOf(entry.root, &root, &prefix);
        if (FAILED(hr))
            return hr;
        PackageRow row{root, Formatted(prefix + entry.keyPath, standIn, file, false), std::wstring(),
                       std::wstring()};
        if (!entry.isValue) {
            if (entry.noRemove || filled.count(Folded(entry.keyPath)))
                continue;
            row.name = kKeyRowName;
        } else {
            row.name = Formatted(entry.valueName, standIn, file, false);
            hr = ValueText(entry.value, standIn, file, &row.value);
            if (FAILED(hr))
                return hr;
        }
        rows->push_back(std::move(row));
    }
    return S_OK;
}

HRESULT TypeLibraryRows(ITypeLib* library, const PackageReferences& references, std::vector<PackageRow>* rows)
{
    if (!library || !rows)
        return E_POINTER;
    LibAttrGuard attr(library);
    HRESULT hr = library->GetLibAttr(attr.put());
    if (FAILED(hr))
        return hr;
    const wchar_t* system = SystemKindName(attr->syskind);
    if (!system)
        return E_NOTIMPL;
    const std::wstring libraryId = GuidText(attr->guid);
    const std::wstring version = HexText(attr->wMajorVerNum) + L"." + HexText(attr->wMinorVerNum);
    const std::wstring key = L"TypeLib\\" + libraryId + L"\\" + version;

    UniqueBstr description;
    library->GetDocumentation(-1, nullptr, description.put(), nullptr, nullptr);
    std::wstring helpDirectory;
    hr = HelpDirectoryText(library, references, &helpDirectory);
    if (FAILED(hr))
        return hr;
    if (description && *description.get())
        rows->push_back(ClassesRow(key, L"", FormattedLiteral(description.get(), true)));
    rows->push_back(ClassesRow(key + L"\\" + HexText(attr->lcid) + L"\\" + system, L"",
                               L"[#" + references.fileKey + L"]"));
    rows->push_back(ClassesRow(key + L"\\FLAGS", L"", std::to_wstring(attr->wLibFlags)));
    rows->push_back(ClassesRow(key + L"\\HELPDIR", L"", helpDirectory));
    return InterfaceRows(library, libraryId, version, rows);
}

HRESULT ServerPackageRows(const std::wstring& serverFile, const PackageReferences& references,
                          std::vector<PackageRow>* rows)
{
    if (!rows)
        return E_POINTER;
    std::vector<ScriptEntry> entries;
    RETURN_IF_FAILED(ListRegistrationEntries(serverFile, kInstalledServer, false, &entries));
    RETURN_IF_FAILED(ClassRows(entries, kInstalledServer, references, rows));
    // As data: nothing is registered by reading the library.
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(::LoadTypeLibEx(serverFile.c_str(), REGKIND_NONE, &library));
    return TypeLibraryRows(library.Get(), references, rows);
}
