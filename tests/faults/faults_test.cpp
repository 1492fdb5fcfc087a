// Containers and editors that go wrong, against the real server that the
// runtime starts: sites that fail every call, sinks that call back in, a
// container that lets go in the middle of an edit, editors that never call back
// or quote keys that name no edit, and two containers whose edits interleave.
// After each, the server has lost nothing and ends once the last reference goes.

#include <gtest/gtest.h>

#include "tests/faults/fault_support.h"

using namespace faults;
using namespace testing_support;
using bridge_test::PatternBytes;
using bridge_test::PictureBits;

namespace {

// How long a server may take to end once everything is released: the shutdown
// pause is about a second; the rest is margin for a loaded machine.
constexpr DWORD kServerEndMs = 10000;

class Faults : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { install_ = Installation::Make(L"Quillmorph Faults", L"fault_editor.exe"); }

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(apartment_.status()));
        ASSERT_TRUE(install_.error.empty()) << install_.error;
        // An activation while an earlier server pauses before it ends would fail.
        ASSERT_TRUE(WaitForServerEnd(15000));
        install_.ClearEditorFiles();
        folder_ = bridge_test::FreshFolder(L"faults");
    }

    std::wstring NewDocument(const wchar_t* name, const Bytes& native)
    {
        const std::wstring path = folder_ + L"\\" + name;
        EXPECT_EQ(WriteDocument(path, native, PictureBits(static_cast<int>(native.size() % 40))), S_OK);
        return path;
    }

    static ComPtr<IQuillmorphOLE> Automation()
    {
        ComPtr<IQuillmorphOLE> automation;
        EXPECT_EQ(
            ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&automation)),
            S_OK);
        return automation;
    }

    // An ordinary edit, to show the server still serves after a fault.
    void EditStillWorks(LONG expectedKey)
    {
        install_.Script(expectedKey, "update");
        FaultSite site;
        const Bytes original = PatternBytes(5000, 77);
        ContainerDrawing drawing(NewDocument(L"after.qmd", original), &site);
        ASSERT_EQ(drawing.Open(), S_OK);
        ASSERT_EQ(drawing.Edit(), S_OK);
        EXPECT_EQ(install_.EditorLog(expectedKey)["update"], "0x00000000");
        EXPECT_TRUE(WaitFor([&] { return site.dataChanges >= 2; }, 30000));
        EXPECT_TRUE(drawing.Native() == EditedBy(expectedKey, original));
        EXPECT_EQ(drawing.Save(), S_OK);
        drawing.Release();
        EXPECT_TRUE(SavedNative(drawing.path()) == EditedBy(expectedKey, original));
    }

    static Installation install_;
    Apartment apartment_;
    std::wstring folder_;
};

Installation Faults::install_;

TEST_F(Faults, ASiteThatFailsEveryCallAndSinksThatCallBackInStillGetTheEdit)
{
    install_.Script("update");
    FaultSite site;
    site.failure = E_FAIL;
    const Bytes original = PatternBytes(70000, 3);
    ContainerDrawing drawing(NewDocument(L"failing.qmd", original), &site);
    ASSERT_EQ(drawing.Open(), S_OK);

    // A second sink that reads the drawing from inside each notification, and
    // takes itself off after the first.
    FaultSite reader;
    ComPtr<IDataObject> data;
    ASSERT_EQ(drawing.ole()->QueryInterface(IID_PPV_ARGS(&data)), S_OK);
    FORMATETC any = {0, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD readerConnection = 0;
    ASSERT_EQ(data->DAdvise(&any, ADVF_NODATA, &reader, &readerConnection), S_OK);
    std::vector<Bytes> seen;
    reader.onDataChange = [&] {
        seen.push_back(NativeOf(data.Get()));
        data->DUnadvise(readerConnection);
    };

    EXPECT_EQ(drawing.Edit(), S_OK) << "the site's failures are not the verb's";
    EXPECT_GE(site.showObjects, 1);
    EXPECT_EQ(install_.EditorLog(0)["update"], "0x00000000");
    ASSERT_TRUE(WaitFor([&] { return site.dataChanges >= 2; }, 30000)) << site.dataChanges;
    PumpMessagesFor(300);
    EXPECT_EQ(site.dataChanges, 2);
    ASSERT_EQ(seen.size(), 1u) << "the reader took itself off inside its first notification";
    EXPECT_TRUE(seen[0] == EditedBy(0, original)) << "the native document arrives first";
    EXPECT_TRUE(drawing.Native() == EditedBy(0, original));

    // Closing with a save asks the failing site to save; the drawing closes all the same.
    EXPECT_EQ(drawing.Save(), S_OK);
    EXPECT_EQ(drawing.ole()->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_GE(site.saveRequests, 1);
    data.Reset();
    drawing.Release();
    EXPECT_TRUE(SavedNative(drawing.path()) == EditedBy(0, original));
    EXPECT_TRUE(WaitForServerEnd(kServerEndMs));
}

TEST_F(Faults, OpeningAgainFromInsideTheSiteStartsNoSecondEditor)
{
    install_.Script("wait-go update");
    FaultSite site;
    const Bytes original = PatternBytes(900, 8);
    ContainerDrawing drawing(NewDocument(L"reentrant.qmd", original), &site);
    ASSERT_EQ(drawing.Open(), S_OK);
    HRESULT inner = E_ABORT;
    bool reentered = false;
    site.onShowObject = [&] {
        if (!reentered) {
            reentered = true;
            inner = drawing.Edit();
        }
    };
    EXPECT_EQ(drawing.Edit(), S_OK);
    EXPECT_EQ(inner, S_OK);
    ASSERT_TRUE(WaitFor([&] { return install_.EditorStarted(0); }, 30000));
    PumpMessagesFor(1500);
    EXPECT_FALSE(install_.EditorStarted(1)) << "one drawing, one editor";
    install_.Go(0);
    install_.Go(1);
    EXPECT_EQ(install_.EditorLog(0)["update"], "0x00000000");
    EXPECT_TRUE(WaitFor([&] { return site.dataChanges >= 2; }, 30000));
    EXPECT_TRUE(drawing.Native() == EditedBy(0, original));
    drawing.Release();
    if (install_.EditorStarted(1))
        install_.EditorLog(1);
    EXPECT_TRUE(WaitForServerEnd(kServerEndMs));
}

TEST_F(Faults, AContainerThatLetsGoMidEditLeavesTheUpdateHarmlessAndTheServerEnds)
{
    install_.Script("wait-go update");
    FaultSite site;
    ContainerDrawing drawing(NewDocument(L"released.qmd", PatternBytes(20000, 5)), &site);
    ASSERT_EQ(drawing.Open(), S_OK);
    ASSERT_EQ(drawing.Edit(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return install_.EditorStarted(0); }, 30000));
    const auto servers = FindProcesses(kServerImage);
    ASSERT_EQ(servers.size(), 1u);
    UniqueKernelHandle server = OpenServerProcess(servers[0]);

    drawing.Release();
    PumpMessagesFor(2500);
    EXPECT_EQ(::WaitForSingleObject(server.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the open edit keeps the server";

    install_.Go(0);
    auto log = install_.EditorLog(0);
    EXPECT_EQ(log["connect"], "ok");
    EXPECT_EQ(log["update"], "0x00000000");
    EXPECT_EQ(site.dataChanges, 0) << "nobody listens any more";
    EXPECT_EQ(::WaitForSingleObject(server.get(), kServerEndMs), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 1;
    ::GetExitCodeProcess(server.get(), &code);
    EXPECT_EQ(code, 0u);
}

TEST_F(Faults, AnEditorThatNeverCallsBackIsEndedByCloseAllFromAnotherClient)
{
    install_.Script(0, "");
    FaultSite site;
    const Bytes original = PatternBytes(3000, 6);
    ContainerDrawing drawing(NewDocument(L"silent.qmd", original), &site);
    ASSERT_EQ(drawing.Open(), S_OK);
    ASSERT_EQ(drawing.Edit(), S_OK);
    EXPECT_EQ(install_.EditorLog(0).count("done"), 1u) << "the editor has gone without a word";
    EXPECT_EQ(drawing.Edit(), S_OK);
    PumpMessagesFor(500);
    EXPECT_FALSE(install_.EditorStarted(1)) << "the drawing still counts as open in the editor";

    // The server keeps serving meanwhile; the stranded edit holds it after the
    // container has gone.
    EditStillWorks(1);
    drawing.Release();
    const auto servers = FindProcesses(kServerImage);
    ASSERT_EQ(servers.size(), 1u);
    UniqueKernelHandle server = OpenServerProcess(servers[0]);
    PumpMessagesFor(2500);
    ASSERT_EQ(::WaitForSingleObject(server.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    {
        ComPtr<IQuillmorphOLE> second = Automation();
        ASSERT_TRUE(second);
        EXPECT_EQ(second->CloseAll(), S_OK);
        // The key is stale now: quoting it changes nothing.
        VARIANT key;
        ::VariantInit(&key);
        key.vt = VT_I4;
        key.lVal = 0;
        EXPECT_EQ(second->Close(key), S_OK);
    }
    EXPECT_EQ(::WaitForSingleObject(server.get(), kServerEndMs), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(SavedNative(drawing.path()) == original) << "nothing was saved over the document";
}

TEST_F(Faults, StaleAndForeignKeysChangeNothingAndTheRightKeyStillEndsTheEdit)
{
    // Keys never handed out, a key as text that is no number, then the edit's
    // own key, then the same key again once the edit has ended.
    install_.Script(0, "update-key:7777 update-key:-1 update-text:x12 close update");
    install_.Script(1, "update-key:0 update-key:2 update-text:1 update-key:1");
    FaultSite site;
    const Bytes original = PatternBytes(4000, 11);
    ContainerDrawing drawing(NewDocument(L"keys.qmd", original), &site);
    ASSERT_EQ(drawing.Open(), S_OK);
    ASSERT_EQ(drawing.Edit(), S_OK);
    auto log = install_.EditorLog(0);
    EXPECT_EQ(log["update-key:7777"], "0x00000000");
    EXPECT_EQ(log["update-key:-1"], "0x00000000");
    EXPECT_EQ(log["update-text:x12"], "0x00000000");
    EXPECT_EQ(log["close"], "0x00000000");
    EXPECT_EQ(log["update"], "0x00000000") << "a stale key is not an error";
    ASSERT_TRUE(WaitFor([&] { return site.dataChanges >= 1; }, 30000));
    PumpMessagesFor(500);
    EXPECT_EQ(site.dataChanges, 1) << "only the close signal reached the drawing";
    EXPECT_TRUE(drawing.Native() == original);

    // The second edit: the first edit's key is stale, 2 was never handed out,
    // and "1" as text names this edit.
    ASSERT_EQ(drawing.Edit(), S_OK);
    log = install_.EditorLog(1);
    EXPECT_EQ(log["update-text:1"], "0x00000000");
    ASSERT_TRUE(WaitFor([&] { return site.dataChanges >= 3; }, 30000));
    PumpMessagesFor(500);
    EXPECT_EQ(site.dataChanges, 3);
    EXPECT_TRUE(drawing.Native() == EditedBy(1, original));
    EXPECT_EQ(drawing.Save(), S_OK);
    drawing.Release();
    EXPECT_TRUE(SavedNative(drawing.path()) == EditedBy(1, original));
    EXPECT_TRUE(WaitForServerEnd(kServerEndMs));
}

TEST_F(Faults, TwoContainersEditsInterleavedEachReturnToTheirOwnDrawing)
{
    install_.Script("wait-go update");
    FaultSite siteA;
    FaultSite siteB;
    const Bytes nativeA = PatternBytes(30000, 21);
    const Bytes nativeB = PatternBytes(31000, 22);
    const Bytes nativeC = PatternBytes(32000, 23);
    ContainerDrawing a(NewDocument(L"a.qmd", nativeA), &siteA);
    ContainerDrawing b(NewDocument(L"b.qmd", nativeB), &siteB);
    const std::wstring pathC = NewDocument(L"c.qmd", nativeC);
    ASSERT_EQ(a.Open(), S_OK);
    ASSERT_EQ(a.Edit(), S_OK);

    // The other container, a process of its own, opens its drawing next.
    const std::wstring ready = folder_ + L"\\other.ready";
    UniqueKernelHandle other =
        StartProcess(BinFolder() + L"\\fault_container.exe", L"edit \"" + pathC + L"\" \"" + ready + L"\"");
    ASSERT_TRUE(other);
    const std::string readyText = WaitForRecord(ready, 60000);
    ASSERT_FALSE(readyText.empty());
    EXPECT_EQ(readyText, "open=0x00000000\nverb=0x00000000\n");
    ASSERT_EQ(b.Open(), S_OK);
    ASSERT_EQ(b.Edit(), S_OK);
    for (LONG key = 0; key < 3; ++key)
        ASSERT_TRUE(WaitFor([&] { return install_.EditorStarted(key); }, 30000)) << key;
    EXPECT_FALSE(install_.EditorStarted(3));

    // The edits come back in another order than they went out: B's, the other
    // container's, A's.
    install_.Go(2);
    EXPECT_EQ(install_.EditorLog(2)["update"], "0x00000000");
    EXPECT_TRUE(WaitFor([&] { return siteB.dataChanges >= 2; }, 30000));
    install_.Go(1);
    EXPECT_EQ(install_.EditorLog(1)["update"], "0x00000000");
    install_.Go(0);
    EXPECT_EQ(install_.EditorLog(0)["update"], "0x00000000");
    EXPECT_TRUE(WaitFor([&] { return siteA.dataChanges >= 2; }, 30000));

    EXPECT_EQ(::WaitForSingleObject(other.get(), 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 1;
    ::GetExitCodeProcess(other.get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(a.Native() == EditedBy(0, nativeA));
    EXPECT_TRUE(b.Native() == EditedBy(2, nativeB));
    EXPECT_TRUE(SavedNative(pathC) == EditedBy(1, nativeC)) << "the other container saved its own edit";
    EXPECT_EQ(siteA.dataChanges, 2);
    EXPECT_EQ(siteB.dataChanges, 2);
    a.Release();
    b.Release();
    EXPECT_TRUE(WaitForServerEnd(kServerEndMs));
}

} // namespace
