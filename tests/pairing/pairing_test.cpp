// The pairings of 64-bit Windows, seen from this build: a container and a
// late-bound client of this program's bitness against this build's server and
// the other build's, while a drawing application of the other bitness than the
// container returns the edit. Each server is installed as a copy beside that
// drawing application and registered with its own /RegServer, which has to
// make it known to processes of both bitnesses.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>

#include "server/class_ids.h"
#include "support/clipboard_offer.h"
#include "support/contained_drawing.h"
#include "support/container_site.h"
#include "support/registered_class.h"
#include "support/test_support.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace {

#ifdef QUILLMORPH_PAIRED_SERVER_EXE
const wchar_t* const kPairedServer = QUILLMORPH_PAIRED_SERVER_EXE;
const wchar_t* const kPairedDrawingApp = QUILLMORPH_PAIRED_DRAWING_APP;
#else
const wchar_t* const kPairedServer = nullptr;
const wchar_t* const kPairedDrawingApp = nullptr;
#endif

using testing_support::Utf8;

const char* Bits(bool is32Bit)
{
    return is32Bit ? "32-bit" : "64-bit";
}

// The container and the client are this program.
bool ContainerIs32Bit()
{
    return sizeof(void*) == 4;
}

Bytes FileBytes(const std::wstring& path)
{
    std::ifstream in(Utf8(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

enum class ServerBuild
{
    This,
    Other
};

class Pairing : public ::testing::TestWithParam<ServerBuild>
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
        if (!kPairedServer)
            GTEST_SKIP()
                << "the other architecture's build tree is not configured (QUILLMORPH_PAIRED_BUILD_DIR)";
        // Every pairing has a 32-bit side: the drawing application is of the other bitness.
        if (!Runs32BitPrograms())
            GTEST_SKIP() << kNo32BitPrograms;
        ASSERT_EQ(::OleInitialize(nullptr), S_OK);
        oleInitialized_ = true;
        ASSERT_TRUE(WaitForNoProcess(kServerImage, 15000));

        const std::wstring built = GetParam() == ServerBuild::This ? ServerExePath() : kPairedServer;
        serverIs32Bit_ = Is32BitExecutable(built);
        const bool editorIs32Bit = Is32BitExecutable(kPairedDrawingApp);
        ASSERT_NE(editorIs32Bit, ContainerIs32Bit()) << "the drawing application is of the other bitness";
        install_ = std::wstring(L"C:\\Program Files\\Quillmorph Pairing ") + (serverIs32Bit_ ? L"32" : L"64");
        ::CreateDirectoryW(install_.c_str(), nullptr);
        ::CreateDirectoryW((install_ + L"\\resources").c_str(), nullptr);
        const std::wstring server = install_ + L"\\resources\\QuillmorphOLE.exe";
        ASSERT_TRUE(::CopyFileW(built.c_str(), server.c_str(), FALSE)) << Utf8(server);
        ASSERT_TRUE(::CopyFileW(kPairedDrawingApp, InstallFile(L"Quillmorph.exe").c_str(), FALSE));
        for (const wchar_t* old :
             {L"editor-0.log", L"editor-0.native", L"editor-0.emf", L"editor-0.received"})
            ::DeleteFileW(InstallFile(old).c_str());
        ASSERT_EQ(RegisterServer(server), 0u);
        std::cout << "pairing: container and client " << Bits(ContainerIs32Bit()) << ", drawing application "
                  << Bits(editorIs32Bit) << ", server " << Bits(serverIs32Bit_) << std::endl;
    }

    void TearDown() override
    {
        if (!oleInitialized_)
            return;
        ::OleSetClipboard(nullptr);
        ::OleUninitialize();
    }

    std::wstring InstallFile(const wchar_t* name) const { return install_ + L"\\" + name; }

    // The registration made the container's process start the installed copy.
    void ExpectServerOfItsBitnessRunning()
    {
        std::vector<DWORD> pids = FindProcesses(kServerImage);
        ASSERT_EQ(pids.size(), 1u);
        UniqueKernelHandle process = OpenServerProcess(pids[0]);
        BOOL wow64 = FALSE;
        ASSERT_TRUE(process && ::IsWow64Process(process.get(), &wow64));
        EXPECT_EQ(wow64 != FALSE, serverIs32Bit_);
    }

    bool oleInitialized_ = false;
    bool serverIs32Bit_ = false;
    std::wstring install_;
};

TEST_P(Pairing, AContainerInsertsADrawingThatTheOtherBitnessEditsAndReloadsItWithTheEdit)
{
    // What the container's process reads from the registration.
    ExpectEmbeddedClassAsRegistered();

    // A new drawing in a new document, through the default handler.
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    wchar_t path[MAX_PATH] = {};
    ASSERT_NE(::GetTempFileNameW(folder, L"pair", 0, path), 0u);
    ContainerSite site;
    ContainedDrawing drawing(path, &site);
    ASSERT_EQ(drawing.Create(), S_OK);
    ExpectServerOfItsBitnessRunning();
    // The server reads the same entries in its own view.
    LPOLESTR appName = nullptr;
    EXPECT_EQ(drawing.ole()->GetUserType(USERCLASSTYPE_APPNAME, &appName), S_OK);
    UniqueTaskMemory appNameOwner(appName);
    EXPECT_STREQ(appName ? appName : L"(none)", L"Quillmorph OLE Server");

    // The primary verb: the drawing application of the other bitness returns
    // the edit through the automation interface.
    {
        std::ofstream(Utf8(InstallFile(L"editor-action.txt"))) << "update";
    }
    ASSERT_EQ(drawing.Edit(), S_OK);
    std::map<std::string, std::string> log = WaitForEditorLog(InstallFile(L"editor-0.log"));
    EXPECT_EQ(log["argv2"], "-ole");
    EXPECT_EQ(log["result"], "0x00000000") << "UpdateAndClose from the drawing application";
    EXPECT_TRUE(WaitFor([&] { return site.dataChanges >= 2; }, 30000)) << "native data, then the picture";
    const Bytes edited = FileBytes(InstallFile(L"editor-0.native"));
    ASSERT_FALSE(edited.empty());
    EXPECT_EQ(NativeDataOf(drawing.data()), edited);

    // Saved, let go, the document closed.
    ASSERT_EQ(drawing.Save(), S_OK);
    EXPECT_EQ(drawing.Release(), S_OK);
    ASSERT_TRUE(WaitForNoProcess(kServerImage, 20000)) << "the server ends after the last release";

    // Reloaded: the drawing comes back with the edit in it.
    ContainedDrawing reloaded(path, &site);
    ASSERT_EQ(reloaded.Open(), S_OK);
    EXPECT_EQ(NativeDataOf(reloaded.data()), edited);
    EXPECT_EQ(reloaded.Release(), S_OK);
    EXPECT_TRUE(WaitForNoProcess(kServerImage, 20000));
    ::DeleteFileW(path);
}

TEST_P(Pairing, ALateBoundClientCallsEveryMethodAndTakesADrawingOffTheClipboard)
{
    const char native[] = "a drawing on the clipboard";
    auto* offer = new ClipboardOffer;
    offer->OfferDrawing("Embedded Object", CLSID_QuillmorphEmbeddedObject,
                        Bytes(native, native + sizeof(native) - 1));
    ASSERT_EQ(::OleSetClipboard(offer), S_OK);

    bool hostUnderWow64 = false;
    const std::string output = RunScriptHost(QUILLMORPH_SAMPLE_SCRIPT, &hostUnderWow64);
    EXPECT_EQ(hostUnderWow64, ContainerIs32Bit()) << "the script host of this program's bitness";
    for (const char* line :
         {"created: IQuillmorphOLE", "CloseAll: ok", "Close 7: ok", "TripBack: a byte array",
          "TripForward with strings: error 5", "TripForward: a byte array of compound file", "done"})
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
}

INSTANTIATE_TEST_SUITE_P(BothServers, Pairing, ::testing::Values(ServerBuild::This, ServerBuild::Other),
                         [](const ::testing::TestParamInfo<ServerBuild>& info) {
                             return info.param == ServerBuild::This ? "ServerOfThisBuild"
                                                                    : "ServerOfTheOtherBuild";
                         });

} // namespace
