#include "check/repair.h"

#include "server/handles.h"

#include <msi.h>

namespace {

constexpr DWORD kRegistrationTimeoutMs = 60000;

// The package's own repair, as "msiexec /fomus" does it: the files where
// missing or older, and every registry entry of the package, machine-wide and
// for the user. Through the installer's interface rather than msiexec: Wine 8's
// msiexec repairs neither by product code nor by package path.
CheckResult RepairPackage(const InstallingPackage& package, bool perUser)
{
    CheckResult result{L"repair", L"Repair (Windows Installer)"};
    const INSTALLUILEVEL previous = ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    const UINT rc = ::MsiReinstallProductW(package.productCode.c_str(),
                                           REINSTALLMODE_FILEMISSING | REINSTALLMODE_FILEOLDERVERSION |
                                               REINSTALLMODE_MACHINEDATA | REINSTALLMODE_USERDATA |
                                               REINSTALLMODE_SHORTCUT);
    ::MsiSetInternalUI(previous, nullptr);
    result.detail =
        L"the package that installed the server, " + DescribePackage(package) + L", repaired (" +
        PackageRepairCommand(package) + L"): Windows Installer ended with " +
        DescribeResult(HRESULT_FROM_WIN32(rc)) +
        (perUser ? L" (--per-user does not apply: the package decides where its entries go)" : L"");
    if (rc == ERROR_SUCCESS)
        return result;
    if (rc == ERROR_SUCCESS_REBOOT_REQUIRED) {
        result.status = CheckStatus::Warn;
        result.advice = L"restart Windows to complete the repair.";
        return result;
    }
    result.status = CheckStatus::Fail;
    result.advice = rc == ERROR_INSTALL_SOURCE_ABSENT
                        ? L"the repair needs the package the server was installed from: run " +
                              PackageRepairCommand(package) +
                              L" where that package can be reached, or install "
                              L"the package again."
                        : L"run QuillmorphCheck --repair (or " + PackageRepairCommand(package) +
                              L") from a prompt started as administrator; add /l*v repair.log to msiexec for "
                              L"Windows Installer's log.";
    return result;
}

} // namespace

CheckResult RunRepair(const Installation& installation, bool perUser)
{
    if (installation.package)
        return RepairPackage(*installation.package, perUser);
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
