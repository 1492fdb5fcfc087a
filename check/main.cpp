// QuillmorphCheck: checks an installation of the server for the people who
// install and support it, and changes nothing unless asked to repair.
//
//   QuillmorphCheck [--json] [--repair [--per-user]]
//   QuillmorphCheck document FILE|FOLDER... [--json] [--extract DIR]
//
// Exit code: 0 when every check passed, 1 when one warned or failed, 2 when
// the check could not run.

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "check/check_report.h"
#include "check/document_command.h"
#include "check/drawing_application_check.h"
#include "check/installation.h"
#include "check/live_check.h"
#include "check/package_check.h"
#include "check/registration_check.h"
#include "check/repair.h"
#include "check/temporary_folder_check.h"
#include "check/type_library_check.h"
#include "server/handles.h"
#include "server/library_search.h"

namespace {

constexpr int kCannotRun = 2;

struct Options
{
    bool json = false;
    bool repair = false;
    bool perUser = false;
};

const wchar_t kUsage[] =
    L"Usage: QuillmorphCheck [--json] [--repair [--per-user]]\r\n"
    L"  Checks the QuillmorphOLE server beside this program: its registration in both registry views,\r\n"
    L"  machine-wide and per user, the Windows Installer package that installed it, the type library,\r\n"
    L"  the drawing application, the temporary folder, and a drawing made through the running server.\r\n"
    L"  Changes nothing.\r\n"
    L"  --json      the report as JSON\r\n"
    L"  --repair    registers the server again (/RegServer, as administrator; or, where a Windows\r\n"
    L"              Installer package installed the server, the package's repair), then checks\r\n"
    L"  --per-user  with --repair: registers for the current user only (/RegServerPerUser)\r\n"
    L"QuillmorphCheck document FILE|FOLDER... [--json] [--extract DIR]: the drawings in documents\r\n"
    L"Exit code: 0 all OK, 1 a check warned or failed, 2 the check could not run.\r\n";

bool ParseOptions(Options* options, std::wstring* unknown)
{
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    UniqueLocalMemory owner(arguments);
    if (!arguments)
        return false;
    bool known = true;
    for (int i = 1; i < count && known; ++i) {
        const std::wstring argument = arguments[i];
        if (argument == L"--json") {
            options->json = true;
        } else if (argument == L"--repair") {
            options->repair = true;
        } else if (argument == L"--per-user") {
            options->perUser = true;
        } else {
            known = false;
            *unknown = argument;
        }
    }
    if (known && options->perUser && !options->repair) {
        *unknown = L"--per-user (only with --repair)";
        return false;
    }
    return known;
}

int CannotRun(const Options& options, const std::wstring& reason)
{
    WriteOutput(options.json ? CannotRunJson(reason) : CannotRunText(reason));
    return kCannotRun;
}

// The arguments after the program's name.
std::vector<std::wstring> Arguments()
{
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    UniqueLocalMemory owner(arguments);
    std::vector<std::wstring> list;
    for (int i = 1; arguments && i < count; ++i)
        list.push_back(arguments[i]);
    return list;
}

} // namespace

int main()
{
    // Before anything can load a library by name: this program lies in the
    // server's folder, inside the drawing application's installation, and a
    // repair runs it as administrator.
    LockLibrarySearchPath();
    const std::vector<std::wstring> arguments = Arguments();
    if (IsDocumentCommand(arguments))
        return RunDocumentCommand(arguments);
    Options options;
    std::wstring unknown;
    if (!ParseOptions(&options, &unknown)) {
        WriteOutput((unknown.empty() ? std::wstring() : L"Unknown argument: " + unknown + L"\r\n") + kUsage);
        return kCannotRun;
    }
    OleInitializeGuard ole;
    if (FAILED(ole.status()))
        return CannotRun(options, L"the component runtime does not start: " + DescribeResult(ole.status()));

    Installation installation;
    std::wstring reason;
    if (FAILED(FindInstallation(&installation, &reason)))
        return CannotRun(options, reason);

    CheckReport report;
    report.program = installation.program;
    report.programBits = installation.programBits;
    report.systemBits = installation.systemBits;
    report.server = installation.server;
    if (options.repair) {
        report.results.push_back(RunRepair(installation, options.perUser));
        // A repair by the package may have put the server back in place.
        installation.package.reset();
        InstallingPackage package;
        if (FindInstallingPackage(installation.server, &package) == S_OK)
            installation.package = std::move(package);
    }
    report.results.push_back(CheckPackage(installation));
    if (installation.package)
        installation.package->holdsRegistration = report.results.back().status != CheckStatus::Fail;
    for (CheckResult& result : CheckRegistration(installation))
        report.results.push_back(std::move(result));
    report.results.push_back(CheckTypeLibrary(installation));
    report.results.push_back(CheckDrawingApplication(installation));
    report.results.push_back(CheckTemporaryFolder());
    report.results.push_back(CheckLiveActivation(installation));

    WriteOutput(options.json ? report.Json() : report.Text());
    return report.ExitCode();
}
