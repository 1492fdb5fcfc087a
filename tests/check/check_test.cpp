// QuillmorphCheck run as a support person runs it, beside an installed and
// registered server: a healthy installation passes, and each breakage of the
// kinds that stop drawings from opening is reported by the check it belongs
// to, with its advice, while every other check stays OK. --repair mends what
// registration can mend, and the check of each bitness reads the server of the
// other.

#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "server/class_ids.h"
#include "support/load_config_reader.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const wchar_t kDrawingClass[] = L"{3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}";

#ifdef QUILLMORPH_PAIRED_CHECK_EXE
const wchar_t* const kPairedCheck = QUILLMORPH_PAIRED_CHECK_EXE;
const wchar_t* const kPairedServer = QUILLMORPH_PAIRED_SERVER_EXE;
#else
const wchar_t* const kPairedCheck = nullptr;
const wchar_t* const kPairedServer = nullptr;
#endif

using testing_support::Utf8;

// The view that a 64-bit program does not see by default.
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;

// The server, the check and a drawing application installed as the product
// installs them.
struct Installed
{
    std::wstring folder;
    std::wstring Server() const { return folder + L"\\resources\\QuillmorphOLE.exe"; }
    std::wstring Check() const { return folder + L"\\resources\\QuillmorphCheck.exe"; }
    std::wstring Editor() const { return folder + L"\\Quillmorph.exe"; }

    void Install(const std::wstring& server, const std::wstring& check) const
    {
        ::CreateDirectoryW(folder.c_str(), nullptr);
        ::CreateDirectoryW((folder + L"\\resources").c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW(server.c_str(), Server().c_str(), FALSE)) << Utf8(Server());
        ASSERT_TRUE(::CopyFileW(check.c_str(), Check().c_str(), FALSE)) << Utf8(Check());
        ASSERT_TRUE(::CopyFileW(QUILLMORPH_DRAWING_APP, Editor().c_str(), FALSE));
    }
};

const Installed kMain{L"C:\\Program Files\\Quillmorph Check"};
const Installed kOtherCopy{L"C:\\Program Files\\Quillmorph Other"};

struct Flag
{
    const char* id;
    const char* status;
    const char* inDetail;
    const char* inAdvice;
};

struct Report
{
    DWORD exitCode = 0;
    std::string output;
    std::map<std::string, std::string> details;
    std::map<std::string, std::string> advice;
    std::map<std::string, std::string> statuses;
};

std::string Between(const std::string& line, const std::string& start, const std::string& end)
{
    const size_t from = line.find(start);
    if (from == std::string::npos)
        return std::string();
    const size_t to = line.find(end, from + start.size());
    return line.substr(from + start.size(),
                       to == std::string::npos ? std::string::npos : to - from - start.size());
}

// Runs the check with its output in a file (Wine's processes keep pipes open)
// and reads the JSON report: one check a line.
// The output goes where the temporary folder was when the tests began: one
// breakage takes it away.
std::wstring g_outputFile;

Report RunCheck(const std::wstring& check, const std::wstring& arguments)
{
    const std::wstring& outFile = g_outputFile;
    Report report;
    UniqueKernelHandle process = StartProcessWithOutput(L"\"" + check + L"\" " + arguments, outFile);
    EXPECT_TRUE(process);
    if (!process)
        return report;
    EXPECT_EQ(::WaitForSingleObject(process.get(), 120000), WAIT_OBJECT_0);
    ::GetExitCodeProcess(process.get(), &report.exitCode);
    std::ifstream in(Utf8(outFile), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    report.output = text.str();
    std::istringstream lines(report.output);
    for (std::string line; std::getline(lines, line);) {
        const std::string id = Between(line, "{\"id\": \"", "\"");
        if (id.empty())
            continue;
        report.statuses[id] = Between(line, "\"status\": \"", "\"");
        report.details[id] = Between(line, "\"detail\": \"", "\", \"advice\"");
        report.advice[id] = Between(line, "\"advice\": \"", "\"}");
    }
    return report;
}

// The registry path of the drawing class under the machine's classes.
void DeleteDrawingClass(REGSAM view)
{
    HKEY clsid = nullptr;
    ASSERT_EQ(
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID", 0, KEY_ALL_ACCESS | view, &clsid),
        ERROR_SUCCESS);
    UniqueHKey owner(clsid);
    ASSERT_EQ(::RegDeleteTreeW(clsid, kDrawingClass), ERROR_SUCCESS);
}

void PointDrawingClassAt(REGSAM view, const std::wstring& server)
{
    const std::wstring path =
        std::wstring(L"Software\\Classes\\CLSID\\") + kDrawingClass + L"\\LocalServer32";
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE | view, &key),
              ERROR_SUCCESS);
    UniqueHKey owner(key);
    ASSERT_EQ(::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                               static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void SetTemporaryFolder(const wchar_t* folder)
{
    ::SetEnvironmentVariableW(L"TEMP", folder);
    ::SetEnvironmentVariableW(L"TMP", folder);
}

struct Breakage
{
    const char* name;
    void (*apply)();
    std::vector<Flag> flags;
};

const Breakage kBreakages[] = {
    {"Healthy", [] {}, {}},
    {"DrawingClassKeyRemovedFromTheOtherView",
     [] { DeleteDrawingClass(kOtherView); },
     {{"registration-machine", "FAIL", "in the 32-bit view: CLSID\\\\{3C94F2A8", "/RegServer"}}},
    {"DrawingClassOfTheOtherViewNamesAMovedCopy",
     [] {
         PointDrawingClassAt(kOtherView,
                             L"C:\\Program Files\\Quillmorph Moved\\resources\\QuillmorphOLE.exe");
     },
     {{"registration-machine", "FAIL",
       "Quillmorph Moved\\\\resources\\\\QuillmorphOLE.exe, which does not exist",
       "moved or removed after it was registered"}}},
    {"AnotherCopyRegistered",
     [] {
         kOtherCopy.Install(QUILLMORPH_SERVER_EXE, QUILLMORPH_CHECK_EXE);
         ASSERT_EQ(RegisterServer(kOtherCopy.Server()), 0u);
     },
     {{"registration-machine", "WARN",
       "point at another copy of the server: C:\\\\Program Files\\\\Quillmorph Other",
       "run the QuillmorphCheck beside it"},
      {"type-library", "WARN", "registered from another copy", "/RegServer"},
      {"live", "WARN", "from another copy", "registration checks above"}}},
    {"TypeLibraryUnregistered",
     [] { ASSERT_EQ(::UnRegisterTypeLib(LIBID_QUILLMORPHOLELib, 1, 0, 0, SYS_WIN32), S_OK); },
     {{"type-library", "FAIL", "is not registered", "/RegServer"}}},
    {"DrawingApplicationMissing",
     [] { ASSERT_TRUE(::DeleteFileW(kMain.Editor().c_str())); },
     {{"drawing-application", "FAIL", "neither Quillmorph-beta.exe nor Quillmorph.exe",
       "install the drawing application"}}},
    {"PerUserRegistrationShadowsTheMachineWideOne",
     [] { ASSERT_EQ(RegisterServer(kMain.Server(), true), 0u); },
     {{"registration-user", "WARN", "shadows the machine-wide one", "/UnregServerPerUser"}}},
    {"TemporaryFolderMissing",
     [] { SetTemporaryFolder(L"C:\\no such folder\\temp"); },
     {{"temporary-folder", "FAIL", "does not take the files of an edit", "TEMP and TMP"}}},
};

void PrintTo(const Breakage& breakage, std::ostream* out)
{
    *out << breakage.name;
}

class Check : public ::testing::TestWithParam<Breakage>
{
protected:
    static void SetUpTestSuite()
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
        s_temp = temp;
        ::GetTempPathW(MAX_PATH, temp);
        g_outputFile = std::wstring(temp) + L"quillmorph-check.out";
    }

    // The other test programs find this build's server registered, and no
    // per-user registration.
    static void TearDownTestSuite()
    {
        WaitForNoProcess(kServerImage, 15000);
        UnregisterServer(kMain.Server(), true);
        RegisterServer(ServerExePath());
    }

    void SetUp() override
    {
        ASSERT_TRUE(WaitForNoProcess(kServerImage, 15000));
        kMain.Install(QUILLMORPH_SERVER_EXE, QUILLMORPH_CHECK_EXE);
        // Per user first: under Wine the per-user type-library removal is machine-wide.
        UnregisterServer(kMain.Server(), true);
        ASSERT_EQ(RegisterServer(kMain.Server()), 0u);
    }

    void TearDown() override { SetTemporaryFolder(s_temp.c_str()); }

    static std::wstring s_temp;
};

std::wstring Check::s_temp;

TEST_P(Check, ReportsTheBreakageInTheCheckItBelongsToAndNothingElse)
{
    const Breakage& breakage = GetParam();
    breakage.apply();
    const Report report = RunCheck(kMain.Check(), L"--json");
    ASSERT_EQ(report.statuses.size(), 7u) << report.output;
    EXPECT_EQ(report.exitCode, breakage.flags.empty() ? 0u : 1u) << report.output;
    std::map<std::string, const Flag*> expected;
    for (const Flag& flag : breakage.flags)
        expected[flag.id] = &flag;
    for (const auto& [id, status] : report.statuses) {
        auto flag = expected.find(id);
        if (flag == expected.end()) {
            EXPECT_EQ(status, "OK") << id << ": " << report.details.at(id);
            continue;
        }
        EXPECT_EQ(status, flag->second->status) << id << ": " << report.details.at(id);
        EXPECT_NE(report.details.at(id).find(flag->second->inDetail), std::string::npos)
            << id << ": " << report.details.at(id);
        EXPECT_NE(report.advice.at(id).find(flag->second->inAdvice), std::string::npos)
            << id << ": " << report.advice.at(id);
    }
}

INSTANTIATE_TEST_SUITE_P(Installations, Check, ::testing::ValuesIn(kBreakages),
                         [](const ::testing::TestParamInfo<Breakage>& info) { return info.param.name; });

TEST_F(Check, RepairRegistersAgainAndTheSecondLookFindsEverythingInPlace)
{
    DeleteDrawingClass(kOtherView);
    const Report report = RunCheck(kMain.Check(), L"--repair --json");
    EXPECT_EQ(report.exitCode, 0u) << report.output;
    EXPECT_EQ(report.statuses.at("repair"), "OK");
    EXPECT_NE(report.details.at("repair").find("/RegServer ended with exit code 0x00000000"),
              std::string::npos)
        << report.details.at("repair");
    EXPECT_EQ(report.statuses.at("registration-machine"), "OK") << report.details.at("registration-machine");
}

TEST_F(Check, TheTextReportHasALineForEachCheckAndTheResult)
{
    DeleteDrawingClass(kOtherView);
    const Report report = RunCheck(kMain.Check(), L"");
    EXPECT_EQ(report.exitCode, 1u);
    std::istringstream lines(report.output);
    int ok = 0;
    int failed = 0;
    bool advised = false;
    for (std::string line; std::getline(lines, line);) {
        ok += line.rfind("OK    ", 0) == 0;
        failed += line.rfind("FAIL  Registration, machine-wide: in the 32-bit view", 0) == 0;
        advised = advised || line.rfind("      What to do: register the server again", 0) == 0;
    }
    EXPECT_EQ(ok, 6) << report.output;
    EXPECT_EQ(failed, 1) << report.output;
    EXPECT_TRUE(advised) << report.output;
    EXPECT_NE(report.output.find("Result: FAIL (1 failure, 0 warnings; exit code 1)"), std::string::npos);

    // The JSON of the same installation, for a reader that owes nothing to this program.
    const Report json = RunCheck(kMain.Check(), L"--json");
    std::ofstream(QUILLMORPH_CHECK_JSON_OUT, std::ios::binary) << json.output;
}

TEST(CheckAlone, ReportsThatItCannotRunWithoutAServerBesideIt)
{
    const std::wstring folder = L"C:\\Program Files\\Quillmorph Check Alone";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring check = folder + L"\\QuillmorphCheck.exe";
    ASSERT_TRUE(::CopyFileW(QUILLMORPH_CHECK_EXE, check.c_str(), FALSE));
    g_outputFile = folder + L"\\check.out";
    const Report report = RunCheck(check, L"--json");
    EXPECT_EQ(report.exitCode, 2u) << report.output;
    EXPECT_NE(report.output.find("\"result\": \"ERROR\""), std::string::npos) << report.output;
    EXPECT_NE(report.output.find("Quillmorph Check Alone\\\\QuillmorphOLE.exe is not there"),
              std::string::npos)
        << report.output;
}

TEST(CheckImage, BothBuildsTakeTheirOwnImportsFromTheSystemFolderAsTheServerDoes)
{
    std::vector<const wchar_t*> programs = {QUILLMORPH_CHECK_EXE};
    if (kPairedCheck)
        programs.push_back(kPairedCheck);
    for (const wchar_t* program : programs) {
        LoadConfig config;
        ASSERT_TRUE(ReadLoadConfig(program, &config)) << Utf8(program) << ": no load configuration";
        EXPECT_NE(config.recordSize, 0u) << Utf8(program);
        EXPECT_EQ(config.directorySize, config.recordSize) << Utf8(program);
        EXPECT_EQ(config.dependentLoadFlags, LOAD_LIBRARY_SEARCH_SYSTEM32) << Utf8(program);
        EXPECT_EQ(config.securityCookie, 0u) << Utf8(program);
    }
}

TEST_F(Check, EachBitnessChecksTheServerOfTheOther)
{
    if (!kPairedCheck)
        GTEST_SKIP() << "the other architecture's build tree is not configured (QUILLMORPH_PAIRED_BUILD_DIR)";
    if (!Runs32BitPrograms())
        GTEST_SKIP() << kNo32BitPrograms;
    const Installed mixed{L"C:\\Program Files\\Quillmorph Check Mixed"};
    const struct
    {
        const wchar_t* server;
        const wchar_t* check;
        const char* program;
        const char* process;
    } pairs[] = {
        {QUILLMORPH_SERVER_EXE, kPairedCheck, "\"programBits\": 32", "the server ran as a 64-bit process"},
        {kPairedServer, QUILLMORPH_CHECK_EXE, "\"programBits\": 64", "the server ran as a 32-bit process"},
    };
    for (const auto& pair : pairs) {
        ASSERT_TRUE(WaitForNoProcess(kServerImage, 15000));
        mixed.Install(pair.server, pair.check);
        ASSERT_EQ(RegisterServer(mixed.Server()), 0u);
        const Report report = RunCheck(mixed.Check(), L"--json");
        EXPECT_EQ(report.exitCode, 0u) << report.output;
        EXPECT_NE(report.output.find(pair.program), std::string::npos) << report.output;
        EXPECT_NE(report.details.at("live").find(pair.process), std::string::npos)
            << report.details.at("live");
    }
}

} // namespace
