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

} // namespace

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
    for (bool perUser : {false, true}) {
        const HRESULT hr =
            ExpectedEntries(installation->server, perUser,
                            perUser ? &installation->userEntries : &installation->machineEntries);
        if (FAILED(hr)) {
            *reason = L"the registry scripts inside " + installation->server + L" cannot be read (" +
                      DescribeResult(hr) +
                      L"): the file may be damaged or may not be the QuillmorphOLE server";
            return hr;
        }
    }
    return S_OK;
}
