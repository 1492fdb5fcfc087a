// A container process that dies in the middle of an edit, against the real
// server: the server goes on serving other containers, the editor's late
// UpdateAndClose for the orphaned drawing is harmless, and the dead container's
// document is as it last saved it.

#include <gtest/gtest.h>

#include "tests/faults/fault_support.h"

using namespace faults;
using namespace testing_support;
using bridge_test::PatternBytes;
using bridge_test::PictureBits;

namespace {

TEST(ContainerDeath, AContainerKilledMidEditLeavesTheServerServing)
{
    Apartment apartment;
    const Installation install = Installation::Make(L"Quillmorph Faults Death", L"fault_editor.exe");
    ASSERT_TRUE(install.error.empty()) << install.error;
    ASSERT_TRUE(WaitForServerEnd(15000));
    install.ClearEditorFiles();
    install.Script(0, "wait-go update");
    install.Script(1, "update");
    const std::wstring folder = bridge_test::FreshFolder(L"faults death");

    const Bytes orphanNative = PatternBytes(40000, 31);
    const std::wstring orphanPath = folder + L"\\orphan.qmd";
    ASSERT_EQ(WriteDocument(orphanPath, orphanNative, PictureBits(4)), S_OK);
    const std::wstring ready = folder + L"\\orphan.ready";
    UniqueKernelHandle container = StartProcess(BinFolder() + L"\\fault_container.exe",
                                                L"hold \"" + orphanPath + L"\" \"" + ready + L"\"");
    ASSERT_TRUE(container);
    ASSERT_TRUE(
        WaitFor([&] { return ::GetFileAttributesW(ready.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000));
    ASSERT_TRUE(WaitFor([&] { return install.EditorStarted(0); }, 30000));
    const auto servers = FindProcesses(kServerImage);
    ASSERT_EQ(servers.size(), 1u);
    UniqueKernelHandle server = OpenServerProcess(servers[0]);

    ASSERT_TRUE(::TerminateProcess(container.get(), 9));
    ASSERT_EQ(::WaitForSingleObject(container.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));

    // Another container edits a drawing of its own meanwhile.
    FaultSite site;
    const Bytes native = PatternBytes(6000, 32);
    ContainerDrawing drawing(folder + L"\\alive.qmd", &site);
    ASSERT_EQ(WriteDocument(drawing.path(), native, PictureBits(5)), S_OK);
    ASSERT_EQ(drawing.Open(), S_OK);
    ASSERT_EQ(drawing.Edit(), S_OK);
    EXPECT_EQ(install.EditorLog(1)["update"], "0x00000000");
    ASSERT_TRUE(WaitFor([&] { return site.dataChanges >= 2; }, 30000));
    EXPECT_TRUE(drawing.Native() == EditedBy(1, native));

    // The orphan's editor comes back late: nobody is told, nothing breaks.
    install.Go(0);
    const auto log = install.EditorLog(0);
    EXPECT_EQ(log.count("update") ? log.at("update") : "missing", "0x00000000");
    EXPECT_EQ(::WaitForSingleObject(server.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    EXPECT_EQ(drawing.Save(), S_OK);
    drawing.Release();
    EXPECT_TRUE(SavedNative(drawing.path()) == EditedBy(1, native));
    EXPECT_TRUE(SavedNative(orphanPath) == orphanNative) << "the dead container's document as it left it";

    const ULONGLONG released = NowMs();
    const DWORD ended = ::WaitForSingleObject(server.get(), 5000);
    std::printf("server after the last living reference: %s after %llu ms\n",
                ended == WAIT_OBJECT_0 ? "ended" : "still running", NowMs() - released);
}

} // namespace
