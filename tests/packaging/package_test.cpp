// The server's Windows Installer packages, installed, replaced, repaired and
// removed by the platform's msiexec as an administrator deploys them: the
// registry then holds exactly what the server's /RegServer writes, in both
// views; the installed server serves a container and a scripting client; the
// check program names the package and repairs through it; removal leaves
// nothing of ours and keeps what other software wrote; per user, the entries
// go to the user's classes; a newer package replaces an older one in place; a
// damaged package is found by the check; a signed server still serves.

#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>

#include <cwchar>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "quillmorphole.h"
#include "server/class_ids.h"
#include "support/contained_drawing.h"
#include "support/container_site.h"
#include "support/editor_double.h"
#include "support/test_support.h"
#include "tests/registration/registry_reader.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;
using editor_double::Utf8;

namespace {

const wchar_t kUpgradeCode[] = L"{A97DB058-E866-4CD8-8A3A-DF94A8D49F8D}";
const wchar_t kFolder[] = L"C:\\Program Files\\Quillmorph Package";
// Where the packages keep the folder they went to (in the 32-bit view).
const wchar_t kRememberedFolder[] = L"Software\\Quillmorph\\QuillmorphOLE";
const REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

// Everything of ours below a classes key: both classes, the four ProgIDs, the
// type library and the interface, in each view. Keys are "<view> <path>".
const wchar_t* const kOurKeys[] = {
    L"CLSID\\{7A3E51C0-4B2D-4E8F-9C61-2D5B8F0A13E7}",
    L"CLSID\\{3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}",
    L"Interface\\{D2F8A5B3-1E6C-4B97-8F40-3B7E9C1A6D52}",
    L"TypeLib\\{9B6C2E14-F3A7-4D58-B1E0-6A4C8D2F7E95}",
    L"QUILLMORPHOLE.QuillmorphOLE",
    L"QUILLMORPHOLE.QuillmorphOLE.1",
    L"QUILLMORPHOLE.QuillmorphEmbeddedObject",
    L"QUILLMORPHOLE.QuillmorphEmbeddedObject.1",
};
// Keys of other software, planted beside ours.
const wchar_t kForeignClass[] = L"Software\\Classes\\CLSID\\{0F0E0D0C-0B0A-4909-8807-060504030201}";
const wchar_t kForeignProgId[] = L"Software\\Classes\\QUILLMORPHOLE.SomeoneElse";

using Snapshot = std::map<std::wstring, std::wstring>;

Snapshot OurEntries(HKEY root, const wchar_t* views = L"both")
{
    Snapshot all;
    for (REGSAM view : kViews) {
        if (std::wstring(views) != L"both" && (view == KEY_WOW64_64KEY) != (std::wstring(views) == L"64"))
            continue;
        for (const wchar_t* key : kOurKeys) {
            Snapshot tree;
            registry_reader::DumpTree(root, std::wstring(L"Software\\Classes\\") + key, &tree, view);
            for (const auto& [path, values] : tree)
                all[(view == KEY_WOW64_64KEY ? L"64 " : L"32 ") + path] = values;
        }
    }
    return all;
}

// The entries where two snapshots differ, for the failure message.
std::string Difference(const Snapshot& expected, const Snapshot& actual)
{
    std::string text;
    for (const auto& [key, values] : expected) {
        auto found = actual.find(key);
        if (found == actual.end())
            text += "missing: " + Utf8(key) + "\n";
        else if (found->second != values)
            text += "differs: " + Utf8(key) + "\n  " + Utf8(values) + "\n  " + Utf8(found->second) + "\n";
    }
    for (const auto& [key, values] : actual) {
        if (!expected.count(key))
            text += "extra: " + Utf8(key) + "\n";
    }
    return text;
}

DWORD Msiexec(const std::wstring& arguments)
{
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    return RunProcess(std::wstring(system) + L"\\msiexec.exe", arguments + L" /qn", 120000);
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::vector<std::wstring> InstalledProducts()
{
    std::vector<std::wstring> products;
    wchar_t product[39] = {};
    for (DWORD i = 0; ::MsiEnumRelatedProductsW(kUpgradeCode, 0, i, product) == ERROR_SUCCESS; ++i)
        products.push_back(product);
    return products;
}

std::wstring ProductProperty(const std::wstring& product, const wchar_t* property)
{
    wchar_t value[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    return ::MsiGetProductInfoW(product.c_str(), property, value, &length) == ERROR_SUCCESS ? value : L"";
}

// The version resource of a program: "1.0.0".
std::wstring FileVersion(const std::wstring& path)
{
    DWORD ignored = 0;
    std::vector<BYTE> block(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
    void* found = nullptr;
    UINT size = 0;
    if (block.empty() ||
        !::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
        !::VerQueryValueW(block.data(), L"\\", &found, &size) || !found)
        return L"";
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(found);
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwFileVersionLS));
}

bool FileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Installed(const wchar_t* name)
{
    return std::wstring(kFolder) + L"\\" + name;
}

// The check program installed beside the server, its JSON report read a
// check to a line.
struct Report
{
    DWORD exitCode = 0;
    std::string output;
    std::map<std::string, std::string> lines;
};

Report RunCheck(const std::wstring& arguments)
{
    Report report;
    const std::wstring out = Installed(L"check.out");
    UniqueKernelHandle process = StartProcessWithOutput(
        Quoted(Installed(L"resources\\QuillmorphCheck.exe")) + L" --json " + arguments, out);
    EXPECT_TRUE(process);
    if (!process)
        return report;
    EXPECT_EQ(::WaitForSingleObject(process.get(), 120000), WAIT_OBJECT_0);
    ::GetExitCodeProcess(process.get(), &report.exitCode);
    std::ifstream in(Utf8(out), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    report.output = text.str();
    std::istringstream lines(report.output);
    for (std::string line; std::getline(lines, line);) {
        const size_t id = line.find("{\"id\": \"");
        if (id != std::string::npos)
            report.lines[line.substr(id + 8, line.find('"', id + 8) - id - 8)] = line;
    }
    return report;
}

void PlantForeignKey(const wchar_t* path, const wchar_t* value, REGSAM view)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    UniqueHKey owner(key);
    ASSERT_EQ(::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                               static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void PlantForeignKeys()
{
    for (REGSAM view : kViews)
        PlantForeignKey(kForeignClass, L"someone else's", view);
    PlantForeignKey(kForeignProgId, L"kept", 0);
}

void RemoveForeignKeys()
{
    for (REGSAM view : kViews)
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kForeignClass, view, 0);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kForeignProgId);
}

// Removes whatever product of ours a failed run left installed, and what a
// per-user one left under the user's classes.
void RemoveOurProducts()
{
    for (const std::wstring& product : InstalledProducts())
        Msiexec(L"/x " + product);
    for (REGSAM view : kViews) {
        for (const wchar_t* key : kOurKeys) {
            HKEY classes = nullptr;
            if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_ALL_ACCESS | view,
                                &classes) == ERROR_SUCCESS) {
                UniqueHKey owner(classes);
                ::RegDeleteTreeW(classes, key);
            }
        }
    }
}

// The server registered when the program starts (by another test program,
// of this build or the other) steps aside, so that the registry holds nothing
// of ours, and is registered again at the end.
class PriorRegistration : public ::testing::Environment
{
public:
    void SetUp() override
    {
        WaitForNoProcess(kServerImage, 15000);
        const std::optional<std::wstring> named = registry_reader::ReadString(
            HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\") + kOurKeys[0] + L"\\LocalServer32",
            nullptr, KEY_WOW64_64KEY);
        if (named && named->size() > 2 && FileExists(named->substr(1, named->size() - 2))) {
            m_server = named->substr(1, named->size() - 2);
            UnregisterServer(m_server);
        }
    }
    void TearDown() override
    {
        WaitForNoProcess(kServerImage, 15000);
        if (!m_server.empty())
            RegisterServer(m_server);
    }

private:
    std::wstring m_server;
};
const ::testing::Environment* const kPriorRegistration =
    ::testing::AddGlobalTestEnvironment(new PriorRegistration);

// What /RegServer writes for a server at the place the packages put it, read
// once while nothing of ours is registered.
const Snapshot& ReferenceEntries()
{
    static const Snapshot reference = [] {
        Snapshot entries;
        ::CreateDirectoryW(kFolder, nullptr);
        ::CreateDirectoryW(Installed(L"resources").c_str(), nullptr);
        const std::wstring server = Installed(L"resources\\QuillmorphOLE.exe");
        if (::CopyFileW(ServerExePath().c_str(), server.c_str(), FALSE) && RegisterServer(server) == 0)
            entries = OurEntries(HKEY_LOCAL_MACHINE);
        UnregisterServer(server);
        ::DeleteFileW(server.c_str());
        return entries;
    }();
    return reference;
}

// One per-machine installation of the x64 package serves every test of the
// suite, in order: compared with /RegServer, used, repaired, replaced by the
// next version and removed.
class MachinePackage : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        WaitForNoProcess(kServerImage, 15000);
        RemoveOurProducts();
        s_before = OurEntries(HKEY_LOCAL_MACHINE);
        s_reference = ReferenceEntries();
        s_afterUnregistering = OurEntries(HKEY_LOCAL_MACHINE);

        PlantForeignKeys();
        s_installed = Msiexec(L"/i " + Quoted(QUILLMORPH_PACKAGE) + L" INSTALLDIR=" + Quoted(kFolder));
        ::CopyFileW(QUILLMORPH_DRAWING_APP, Installed(L"Quillmorph.exe").c_str(), FALSE);
    }

    static void TearDownTestSuite()
    {
        WaitForNoProcess(kServerImage, 15000);
        RemoveOurProducts();
        RemoveForeignKeys();
        ::DeleteFileW(Installed(L"Quillmorph.exe").c_str());
        ::DeleteFileW(Installed(L"check.out").c_str());
        ::DeleteFileW(Installed(L"editor-action.txt").c_str());
    }

    void SetUp() override
    {
        ASSERT_TRUE(WaitForNoProcess(kServerImage, 15000));
        ASSERT_EQ(s_installed, 0u) << "msiexec /i of the package";
    }

    static Snapshot s_before;
    static Snapshot s_reference;
    static Snapshot s_afterUnregistering;
    static DWORD s_installed;
};

Snapshot MachinePackage::s_before;
Snapshot MachinePackage::s_reference;
Snapshot MachinePackage::s_afterUnregistering;
DWORD MachinePackage::s_installed = static_cast<DWORD>(-1);

TEST_F(MachinePackage, WritesKeyByKeyAndValueByValueWhatRegServerWritesInBothViews)
{
    EXPECT_TRUE(s_before.empty()) << Difference({}, s_before);
    EXPECT_TRUE(s_afterUnregistering.empty()) << Difference({}, s_afterUnregistering);
    // Both classes, the library and the interface, in each view.
    for (const wchar_t* key :
         {L"64 Software\\Classes\\CLSID\\{3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}\\Insertable",
          L"32 Software\\Classes\\CLSID\\{7A3E51C0-4B2D-4E8F-9C61-2D5B8F0A13E7}\\LocalServer32",
          L"32 Software\\Classes\\Interface\\{D2F8A5B3-1E6C-4B97-8F40-3B7E9C1A6D52}\\TypeLib",
          L"64 Software\\Classes\\TypeLib\\{9B6C2E14-F3A7-4D58-B1E0-6A4C8D2F7E95}\\1.0\\HELPDIR"})
        EXPECT_EQ(s_reference.count(key), 1u) << Utf8(key);

    const Snapshot installed = OurEntries(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(installed == s_reference) << Difference(s_reference, installed);
    EXPECT_TRUE(FileExists(Installed(L"resources\\QuillmorphOLE.exe")));
    EXPECT_TRUE(FileExists(Installed(L"resources\\QuillmorphCheck.exe")));
}

TEST_F(MachinePackage, ProgramsCarryThePackagesVersion)
{
    const std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(ProductProperty(products[0], L"VersionString"), QUILLMORPH_VERSION);
    EXPECT_EQ(FileVersion(Installed(L"resources\\QuillmorphOLE.exe")), QUILLMORPH_VERSION);
    EXPECT_EQ(FileVersion(Installed(L"resources\\QuillmorphCheck.exe")), QUILLMORPH_VERSION);
}

TEST_F(MachinePackage, CheckProgramReportsOkAndNamesThePackage)
{
    Report report = RunCheck(L"");
    EXPECT_EQ(report.exitCode, 0u) << report.output;
    EXPECT_NE(report.lines["package"].find("\"status\": \"OK\""), std::string::npos) << report.output;
    EXPECT_NE(report.lines["package"].find("installed by QuillmorphOLE (64-bit) " + Utf8(QUILLMORPH_VERSION)),
              std::string::npos)
        << report.lines["package"];
}

TEST_F(MachinePackage, ContainerCreatesAndEditsADrawingThroughTheInstalledServer)
{
    ASSERT_EQ(::OleInitialize(nullptr), S_OK);
    {
        ContainerSite site;
        ContainedDrawing drawing(Installed(L"document.qmd"), &site);
        ASSERT_EQ(drawing.Create(), S_OK);
        editor_double::WriteAll(Installed(L"editor-action.txt"),
                                editor_double::Bytes{'u', 'p', 'd', 'a', 't', 'e'});
        ::DeleteFileW(Installed(L"editor-0.log").c_str());
        ASSERT_EQ(drawing.Edit(), S_OK);
        const std::map<std::string, std::string> log = WaitForEditorLog(Installed(L"editor-0.log"));
        ASSERT_FALSE(log.empty()) << "the drawing application ran";
        EXPECT_EQ(log.at("result"), "0x00000000");
        EXPECT_TRUE(WaitFor([&] { return site.dataChanges >= 2; }, 30000)) << "native data, then the picture";
        EXPECT_EQ(NativeDataOf(drawing.data()), editor_double::ReadAll(Installed(L"editor-0.native")));
        EXPECT_EQ(drawing.Release(), S_OK);
    }
    ::OleUninitialize();
    for (const wchar_t* file : {L"document.qmd", L"editor-0.log", L"editor-0.received", L"editor-0.native",
                                L"editor-0.emf", L"editor-0.trace"})
        ::DeleteFileW(Installed(file).c_str());
}

TEST_F(MachinePackage, ScriptingClientCallsTheInstalledServerByProgId)
{
    ASSERT_EQ(::OleInitialize(nullptr), S_OK);
    const std::string output = RunScriptHost(QUILLMORPH_SAMPLE_SCRIPT);
    ::OleUninitialize();
    EXPECT_NE(output.find("created: IQuillmorphOLE"), std::string::npos) << output;
    EXPECT_NE(output.find("CloseAll: ok"), std::string::npos) << output;
    EXPECT_NE(output.find("done"), std::string::npos) << output;
}

TEST_F(MachinePackage, CheckRepairsThroughThePackageWhatWasDeleted)
{
    HKEY classes = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID", 0,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, &classes),
              ERROR_SUCCESS);
    UniqueHKey owner(classes);
    ASSERT_EQ(::RegDeleteTreeW(classes, L"{3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}"), ERROR_SUCCESS);

    Report report = RunCheck(L"--repair");
    EXPECT_EQ(report.exitCode, 0u) << report.output;
    EXPECT_NE(report.lines["repair"].find("msiexec /fomus {"), std::string::npos) << report.lines["repair"];
    EXPECT_NE(report.lines["registration-machine"].find("\"status\": \"OK\""), std::string::npos)
        << report.lines["registration-machine"];
    const Snapshot repaired = OurEntries(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(repaired == s_reference) << Difference(s_reference, repaired);
}

TEST_F(MachinePackage, NextVersionReplacesTheInstalledOneInPlace)
{
    ASSERT_EQ(Msiexec(L"/i " + Quoted(QUILLMORPH_NEXT_PACKAGE)), 0u);
    const std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u) << "the older product is gone";
    EXPECT_EQ(ProductProperty(products[0], L"VersionString"), QUILLMORPH_NEXT_VERSION);
    // In the same folder, without INSTALLDIR given again, with every entry as before.
    const Snapshot replaced = OurEntries(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(replaced == s_reference) << Difference(s_reference, replaced);
    Report report = RunCheck(L"");
    EXPECT_NE(report.lines["package"].find(Utf8(QUILLMORPH_NEXT_VERSION) + " (" + Utf8(products[0]) + ")"),
              std::string::npos)
        << report.lines["package"];
}

TEST_F(MachinePackage, RemovalLeavesNothingOfOursAndKeepsForeignKeys)
{
    const std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    ASSERT_EQ(Msiexec(L"/x " + products[0]), 0u);
    EXPECT_TRUE(InstalledProducts().empty());
    const Snapshot left = OurEntries(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(left.empty()) << Difference({}, left);
    EXPECT_FALSE(registry_reader::KeyExists(HKEY_LOCAL_MACHINE, kRememberedFolder, KEY_WOW64_32KEY));
    EXPECT_FALSE(FileExists(Installed(L"resources\\QuillmorphOLE.exe")));
    EXPECT_FALSE(FileExists(Installed(L"resources\\QuillmorphCheck.exe")));
    for (REGSAM view : kViews)
        EXPECT_EQ(registry_reader::ReadString(HKEY_LOCAL_MACHINE, kForeignClass, nullptr, view),
                  L"someone else's");
    EXPECT_EQ(registry_reader::ReadString(HKEY_LOCAL_MACHINE, kForeignProgId), L"kept");
    EXPECT_TRUE(registry_reader::KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID"));
}

// Installed per user: the same entries, under the user's classes, and nothing
// machine-wide. Windows 7 and later take ALLUSERS=2 MSIINSTALLPERUSER=1 for
// that; Wine 8 knows only the older form, an empty ALLUSERS (it installs
// per machine with the newer one).
TEST(UserPackage, WritesTheUsersClassesAndNothingMachineWide)
{
    WaitForNoProcess(kServerImage, 15000);
    RemoveOurProducts();
    const Snapshot& reference = ReferenceEntries();
    ASSERT_FALSE(reference.empty());

    ASSERT_EQ(
        Msiexec(L"/i " + Quoted(QUILLMORPH_PACKAGE) + L" INSTALLDIR=" + Quoted(kFolder) + L" ALLUSERS=\"\""),
        0u);
    const Snapshot user = OurEntries(HKEY_CURRENT_USER);
    EXPECT_TRUE(user == reference) << Difference(reference, user);
    const Snapshot machine = OurEntries(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(machine.empty()) << Difference({}, machine);
    EXPECT_TRUE(registry_reader::KeyExists(HKEY_CURRENT_USER, kRememberedFolder));
    EXPECT_FALSE(registry_reader::KeyExists(HKEY_LOCAL_MACHINE, kRememberedFolder, KEY_WOW64_32KEY));

    const std::vector<std::wstring> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    // Wine 8 does not keep a product's per-user context for its removal
    // (Windows does): it is given again.
    ASSERT_EQ(Msiexec(L"/x " + products[0] + L" ALLUSERS=\"\""), 0u);
    const Snapshot left = OurEntries(HKEY_CURRENT_USER);
    EXPECT_TRUE(left.empty()) << Difference({}, left);
    EXPECT_FALSE(FileExists(Installed(L"resources\\QuillmorphOLE.exe")));
}

// A package whose registry table lost a row: what it installs lacks the
// row, the check names the package and says that its repair cannot mend it.
TEST(DamagedPackage, CheckFindsTheMissingRowAndNamesThePackage)
{
    WaitForNoProcess(kServerImage, 15000);
    RemoveOurProducts();
    ASSERT_EQ(Msiexec(L"/i " + Quoted(QUILLMORPH_DAMAGED_PACKAGE) + L" INSTALLDIR=" + Quoted(kFolder)), 0u);
    ::CopyFileW(QUILLMORPH_DRAWING_APP, Installed(L"Quillmorph.exe").c_str(), FALSE);

    Report report = RunCheck(L"");
    EXPECT_EQ(report.exitCode, 1u) << report.output;
    const std::string& package = report.lines["package"];
    EXPECT_NE(package.find("\"status\": \"FAIL\""), std::string::npos) << package;
    EXPECT_NE(package.find("installed by QuillmorphOLE (64-bit) " + Utf8(QUILLMORPH_VERSION)),
              std::string::npos)
        << package;
    EXPECT_NE(
        package.find("in the 32-bit view: CLSID\\\\{3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}\\\\InProcHandler32 "
                     "is missing"),
        std::string::npos)
        << package;
    EXPECT_NE(package.find("msiexec /x {"), std::string::npos) << package;
    // The registration lacks it too, and repairing the package would not help.
    const std::string& machine = report.lines["registration-machine"];
    EXPECT_NE(machine.find("InProcHandler32 is missing"), std::string::npos) << machine;
    EXPECT_NE(machine.find("/RegServer"), std::string::npos) << machine;
    EXPECT_EQ(machine.find("msiexec /fomus"), std::string::npos) << machine;

    RemoveOurProducts();
    ::DeleteFileW(Installed(L"Quillmorph.exe").c_str());
    ::DeleteFileW(Installed(L"check.out").c_str());
}

// The package for 32-bit Windows, installed on 64-bit Windows (a prefix here
// can only be a 64-bit one): its rows go to the 32-bit view, as /RegServer
// writes them there, and nothing to the 64-bit classes or interfaces.
TEST(X86Package, WritesTheThirtyTwoBitViewAsRegServerDoes)
{
    if (!FileExists(QUILLMORPH_X86_PACKAGE))
        GTEST_SKIP() << "the 32-bit build's package is not built: " << Utf8(QUILLMORPH_X86_PACKAGE);
    WaitForNoProcess(kServerImage, 15000);
    RemoveOurProducts();
    Snapshot reference;
    for (const auto& [key, values] : ReferenceEntries())
        if (key.compare(0, 3, L"32 ") == 0)
            reference[key] = values;
    ASSERT_FALSE(reference.empty());

    ASSERT_EQ(Msiexec(L"/i " + Quoted(QUILLMORPH_X86_PACKAGE) + L" INSTALLDIR=" + Quoted(kFolder)), 0u);
    const Snapshot thirtyTwo = OurEntries(HKEY_LOCAL_MACHINE, L"32");
    EXPECT_TRUE(thirtyTwo == reference) << Difference(reference, thirtyTwo);
    for (const wchar_t* key : {kOurKeys[0], kOurKeys[1], kOurKeys[2]})
        EXPECT_FALSE(registry_reader::KeyExists(HKEY_LOCAL_MACHINE,
                                                std::wstring(L"Software\\Classes\\") + key, KEY_WOW64_64KEY))
            << Utf8(key);
    RemoveOurProducts();
    const Snapshot left = OurEntries(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(left.empty()) << Difference({}, left);
}

// The server signed by tools/sign.sh (with a throwaway certificate, by the
// test that runs before this one) registers and serves as before.
TEST(SignedServer, RegistersAndServes)
{
    const std::wstring signedServer = std::wstring(QUILLMORPH_SIGNED_DIR) + L"\\QuillmorphOLE.exe";
    ASSERT_TRUE(FileExists(signedServer)) << "signed by the signing test: " << Utf8(signedServer);
    const std::wstring folder = L"C:\\Program Files\\Quillmorph Signed";
    const std::wstring server = folder + L"\\QuillmorphOLE.exe";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(::CopyFileW(signedServer.c_str(), server.c_str(), FALSE));
    ASSERT_TRUE(WaitForNoProcess(kServerImage, 15000));
    ASSERT_EQ(RegisterServer(server), 0u);
    {
        ASSERT_EQ(::CoInitialize(nullptr), S_OK);
        ComPtr<IQuillmorphOLE> bridge;
        EXPECT_EQ(
            ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&bridge)),
            S_OK);
        if (bridge) {
            EXPECT_EQ(bridge->CloseAll(), S_OK);
        }
        bridge.Reset();
        ::CoUninitialize();
    }
    EXPECT_TRUE(WaitForNoProcess(kServerImage, 15000));
    EXPECT_EQ(UnregisterServer(server), 0u);
    ::DeleteFileW(server.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

} // namespace
