#include "check/installation.h"

#include "check/check_report.h"

#include "registration/registration_entries.h"
#include "server/last_error.h"

namespace {

const wchar_t kServerName[] = L"QuillmorphOLE.exe";

bool SystemIs64Bit()
{
    SYSTEM_INFO system = {};
    ::GetNativeSystemInfo(&system);
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
           system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
}

std::wstring LongPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH] = {};
    DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    std::wstring result = length && length < MAX_PATH ? std::wstring(full, length) : path;
    wchar_t longer[MAX_PATH] = {};
    length = ::GetLongPathNameW(result.c_str(), longer, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(longer, length) : result;
}

} // namespace

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    auto equal = [](const std::wstring& x, const std::wstring& y) {
        return ::CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                      static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
    };
    return equal(a, b) || equal(LongPath(a), LongPath(b));
}

std::wstring QuotedCommand(const std::wstring& path, const wchar_t* arguments)
{
    return L"\"" + path + L"\" " + arguments;
}

std::wstring RegisterAgainAdvice(const Installation& installation, const wchar_t* whom)
{
    if (installation.package && installation.package->holdsRegistration)
        return L"repair the package that installed the server, " + DescribePackage(*installation.package) +
               L": from a prompt started as administrator, run " +
               PackageRepairCommand(*installation.package) + L" (or QuillmorphCheck --repair)";
    return std::wstring(L"register the server again") + whom +
           L": from a prompt started as administrator, run " +
           QuotedCommand(installation.server, L"/RegServer") + L" (or QuillmorphCheck --repair)";
}

HRESULT ExpectedEntries(const std::wstring& serverPath, bool perUser, std::vector<ScriptEntry>* entries)
{
    return ListRegistrationEntries(serverPath, serverPath, perUser, entries);
}

HRESULT FindInstallation(Installation* installation, std::wstring* reason)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        *reason = L"this program's own path cannot be read (or is longer than 259 characters)";
        return length ? HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) : LastErrorResult();
    }
    installation->program.assign(path, length);
    const size_t slash = installation->program.find_last_of(L"\\/");
    installation->server = installation->program.substr(0, slash + 1) + kServerName;
    installation->programBits = sizeof(void*) == 8 ? 64 : 32;
    installation->systemBits = SystemIs64Bit() ? 64 : 32;
    if (installation->systemBits == 64)
        installation->views = {{KEY_WOW64_64KEY, L"64-bit"}, {KEY_WOW64_32KEY, L"32-bit"}};
    else
        installation->views = {{0, L"32-bit"}};

    if (!FileExists(installation->server)) {
        *reason = L"the server " + installation->server +
                  L" is not there. This program belongs in the server's folder (the drawing application's "
                  L"\"resources\" folder), beside QuillmorphOLE.exe.";
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    InstallingPackage package;
    if (FindInstallingPackage(installation->server, &package) == S_OK)
        installation->package = std::move(package);
    HRESULT hr = ExpectedEntries(installation->server, false, &installation->machineEntries);
    if (SUCCEEDED(hr))
        hr = ExpectedEntries(installation->server, true, &installation->userEntries);
    if (FAILED(hr))
        *reason = L"the registry scripts inside " + installation->server + L" cannot be read (" +
                  DescribeResult(hr) + L"): the file may be damaged or may not be the QuillmorphOLE server";
    return hr;
}
