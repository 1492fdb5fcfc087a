#include "check/repair.h"

#include "server/handles.h"

namespace {

constexpr DWORD kRegistrationTimeoutMs = 60000;

} // namespace

CheckResult RunRepair(const Installation& installation, bool perUser)
{
    const wchar_t* const sw = perUser ? L"/RegServerPerUser" : L"/RegServer";
    CheckResult result{L"repair", std::wstring(L"Repair (") + sw + L")"};
    std::wstring commandLine = QuotedCommand(installation.server, sw);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(installation.server.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &started)) {
        const DWORD error = ::GetLastError();
        result.status = CheckStatus::Fail;
        result.detail = commandLine + L" could not be started: " + DescribeResult(HRESULT_FROM_WIN32(error));
        result.advice = L"run the command yourself from a prompt in the server's folder.";
        return result;
    }
    UniqueKernelHandle process(started.hProcess);
    UniqueKernelHandle thread(started.hThread);
    if (::WaitForSingleObject(process.get(), kRegistrationTimeoutMs) != WAIT_OBJECT_0) {
        result.status = CheckStatus::Fail;
        result.detail = commandLine + L" did not finish within 60 s";
        result.advice = L"end QuillmorphOLE.exe in the Task Manager and run the command yourself.";
        return result;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    const HRESULT hr = static_cast<HRESULT>(code);
    result.detail = commandLine + L" ended with exit code " + DescribeResult(hr);
    if (SUCCEEDED(hr))
        return result;
    result.status = CheckStatus::Fail;
    if (hr == E_ACCESSDENIED && !perUser) {
        result.detail += L": registering for every user of this computer needs administrator rights";
        result.advice =
            L"run QuillmorphCheck --repair from a prompt started as administrator, or register for "
            L"this user only with QuillmorphCheck --repair --per-user.";
    } else {
        result.advice =
            L"the checks below show what is still wrong; an exit code such as 0x8007007A means the "
            L"server's path is longer than 259 characters: install it in a shorter folder.";
    }
    return result;
}
