// The server installed in a folder named in letters that the system's 8-bit
// code page does not hold (Greek, Chinese), with the user's temporary folder
// named so too: it registers its exact path, serves a container through the
// default handler, hands an edit to the drawing application and takes it back,
// makes and reads clipboard drawings, and unregisters. Registry values are read
// with the wide calls, the editor's log is UTF-8.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <map>
#include <string>

#include "server/class_ids.h"
#include "support/clipboard_offer.h"
#include "support/contained_drawing.h"
#include "support/container_site.h"
#include "support/editor_double.h"
#include "support/test_support.h"
#include "tests/bridge/bridge_test_util.h"
#include "tests/registration/registry_reader.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;
using bridge_test::Bytes;
using editor_double::Utf8;

namespace {

const wchar_t kTypeLibPath[] = L"TypeLib\\{9B6C2E14-F3A7-4D58-B1E0-6A4C8D2F7E95}\\1.0\\0\\win32";
const REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

struct Folders
{
    const char* name;
    const wchar_t* install; // under C:\Program Files
    const wchar_t* temp;    // under the user's temporary folder
};

void PrintTo(const Folders& folders, std::ostream* out)
{
    *out << folders.name;
}

class AnyFolder : public ::testing::TestWithParam<Folders>
{
protected:
    // The other test programs find this build's server registered.
    static void TearDownTestSuite()
    {
        WaitForNoProcess(kServerImage, 15000);
        RegisterServer(ServerExePath());
    }

    void SetUp() override
    {
        ASSERT_EQ(::OleInitialize(nullptr), S_OK);
        oleInitialized_ = true;
        ASSERT_TRUE(WaitForNoProcess(kServerImage, 15000));
        install_ = std::wstring(L"C:\\Program Files\\") + GetParam().install;
        server_ = install_ + L"\\resources\\QuillmorphOLE.exe";
        ::CreateDirectoryW(install_.c_str(), nullptr);
        ::CreateDirectoryW((install_ + L"\\resources").c_str(), nullptr);
        const std::wstring bin = ServerExePath().substr(0, ServerExePath().rfind(L'\\'));
        ASSERT_TRUE(::CopyFileW(ServerExePath().c_str(), server_.c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW((bin + L"\\test_drawing_app.exe").c_str(),
                                Installed(L"Quillmorph.exe").c_str(), FALSE));
        ::DeleteFileW(Installed(L"editor-0.log").c_str());
        // The server that the runtime starts inherits this temporary folder.
        temp_ = bridge_test::FreshFolder(GetParam().temp);
        ::SetEnvironmentVariableW(L"TMP", temp_.c_str());
        ::SetEnvironmentVariableW(L"TEMP", temp_.c_str());
    }

    void TearDown() override
    {
        if (!oleInitialized_)
            return;
        ::OleSetClipboard(nullptr);
        ::OleUninitialize();
    }

    std::wstring Installed(const wchar_t* name) const { return install_ + L"\\" + name; }

    // Wine 8's automation marshaller reads the type library's path through the
    // 8-bit registry calls, so the path registered here reaches it with '?' in
    // place of the letters and the interface cannot be marshalled; Windows
    // reads it whole. Under Wine the test therefore points the entry at the
    // short form of the same file once it has checked the written path.
    // (Registration, activation, the editor's start and unregistration see
    // the real path either way.)
    void UseShortTypeLibraryPath()
    {
        if (!::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
            return;
        wchar_t shortPath[MAX_PATH] = {};
        ASSERT_GT(::GetShortPathNameW(server_.c_str(), shortPath, MAX_PATH), 0u);
        const DWORD bytes = static_cast<DWORD>((std::wcslen(shortPath) + 1) * sizeof(wchar_t));
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, kTypeLibPath, nullptr, REG_SZ, shortPath, bytes),
                  ERROR_SUCCESS);
    }

    bool oleInitialized_ = false;
    std::wstring install_;
    std::wstring server_;
    std::wstring temp_;
};

TEST_P(AnyFolder, TheServerRegistersEditsAndUnregistersFromThere)
{
    // The exact path, in both views.
    ASSERT_EQ(RegisterServer(server_), 0u);
    for (REGSAM view : kViews) {
        using registry_reader::ReadString;
        EXPECT_EQ(
            ReadString(HKEY_CLASSES_ROOT, std::wstring(kAutomationClass) + L"\\LocalServer32", nullptr, view),
            L"\"" + server_ + L"\"");
        EXPECT_EQ(
            ReadString(HKEY_CLASSES_ROOT, std::wstring(kEmbeddedClass) + L"\\LocalServer32", nullptr, view),
            L"\"" + server_ + L"\"");
        EXPECT_EQ(
            ReadString(HKEY_CLASSES_ROOT, std::wstring(kEmbeddedClass) + L"\\LocalServer", nullptr, view),
            server_);
    }
    EXPECT_EQ(registry_reader::ReadString(HKEY_CLASSES_ROOT, kTypeLibPath), server_);
    UseShortTypeLibraryPath();

    // A new drawing through the default handler, opened with the primary verb.
    ContainerSite site;
    ContainedDrawing drawing(temp_ + L"\\document.qmd", &site);
    ASSERT_EQ(drawing.Create(), S_OK);
    editor_double::WriteAll(Installed(L"editor-action.txt"), Bytes{'u', 'p', 'd', 'a', 't', 'e'});
    ASSERT_EQ(drawing.Edit(), S_OK);

    // The editor started from the installation folder, on a ".ZRN" file in the
    // temporary folder, under key 0; the edit comes back.
    std::map<std::string, std::string> log = WaitForEditorLog(Installed(L"editor-0.log"));
    ASSERT_FALSE(log.empty()) << "the drawing application ran";
    EXPECT_EQ(log["exe"], Utf8(Installed(L"Quillmorph.exe")));
    EXPECT_EQ(log["cwd"], Utf8(install_));
    EXPECT_EQ(log["argc"], "4") << log["commandline"];
    const std::string zrn = log["argv1"];
    const std::string zrnFolder = Utf8(temp_ + L"\\");
    EXPECT_EQ(zrn.substr(0, zrnFolder.size() + 3), zrnFolder + "OLE") << zrn;
    EXPECT_EQ(zrn.find('\\', zrnFolder.size()), std::string::npos) << zrn;
    EXPECT_EQ(zrn.substr(zrn.size() - 4), ".ZRN") << zrn;
    EXPECT_EQ(log["argv2"], "-ole");
    EXPECT_EQ(log["argv3"], "0");
    EXPECT_EQ(log["result"], "0x00000000");
    EXPECT_TRUE(WaitFor([&] { return site.dataChanges >= 2; }, 30000)) << "native data, then the picture";
    EXPECT_EQ(NativeDataOf(drawing.data()), editor_double::ReadAll(Installed(L"editor-0.native")));
    EXPECT_EQ(drawing.Release(), S_OK);
    ASSERT_TRUE(WaitForNoProcess(kServerImage, 20000)) << "the server ends after the last release";

    // The clipboard road: the bytes TripForward makes are read back by TripBack.
    // The server that just ended may still be known to Wine's activation
    // service for a moment, which then refuses the class (0x80040152) where
    // Windows would start a new server; a few tries over a few seconds.
    ComPtr<IQuillmorphOLE> bridge;
    HRESULT activated = E_FAIL;
    for (int attempt = 0; attempt < 10 && FAILED(activated); ++attempt) {
        if (attempt)
            ::Sleep(500);
        activated = ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuillmorphOLE,
                                       &bridge);
    }
    ASSERT_EQ(activated, S_OK);
    const Bytes native = PatternBytes(5000, 12);
    VariantGuard a, b, c, d;
    bridge_test::MakeByteArray(native, a.get());
    bridge_test::MakeByteArray(bridge_test::PictureBits(3), b.get());
    ASSERT_EQ(bridge->TripForward(*a.get(), *b.get(), c.get()), S_OK);
    auto* offer = new ClipboardOffer;
    offer->entries.push_back({static_cast<CLIPFORMAT>(::RegisterClipboardFormatA("Embedded Object")),
                              bridge_test::StorageOver(bridge_test::BytesOf(*c.get()))});
    ASSERT_EQ(::OleSetClipboard(offer), S_OK);
    EXPECT_EQ(bridge->TripBack(d.get()), S_OK);
    EXPECT_EQ(bridge_test::BytesOf(*d.get()), native);
    ::OleSetClipboard(nullptr);
    bridge.Reset();
    ASSERT_TRUE(WaitForNoProcess(kServerImage, 20000));

    // Unregistered: nothing of the classes or the library is left.
    ASSERT_EQ(UnregisterServer(server_), 0u);
    for (REGSAM view : kViews) {
        EXPECT_FALSE(registry_reader::KeyExists(HKEY_CLASSES_ROOT, kAutomationClass, view));
        EXPECT_FALSE(registry_reader::KeyExists(HKEY_CLASSES_ROOT, kEmbeddedClass, view));
    }
    EXPECT_FALSE(registry_reader::KeyExists(HKEY_CLASSES_ROOT, L"QUILLMORPHOLE.QuillmorphEmbeddedObject"));
    EXPECT_FALSE(registry_reader::KeyExists(HKEY_CLASSES_ROOT, kTypeLibPath));
}

INSTANTIATE_TEST_SUITE_P(GreekAndChinese, AnyFolder,
                         ::testing::Values(Folders{"GreekInstallation", L"Quill Ωμέγα", L"临时 图"},
                                           Folders{"ChineseInstallation", L"图 绘图", L"Temp Ωμέγα"}),
                         [](const ::testing::TestParamInfo<Folders>& info) { return info.param.name; });

} // namespace
