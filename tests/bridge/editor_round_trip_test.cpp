// The road of one edit, out of process: a container here, the server copied into
// an installation folder with a blank in its name, and the small test drawing
// application beside it as the editor. The container opens a drawing; the server
// writes the document to a ".ZRN" file and starts the editor; the editor ends
// the edit through the automation class; the container sees the change.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "server/class_ids.h"
#include "support/container_site.h"
#include "support/test_support.h"
#include "tests/bridge/bridge_test_util.h"

using Microsoft::WRL::ComPtr;
using namespace bridge_test;
using namespace testing_support;

namespace {

const wchar_t kInstall[] = L"C:\\Program Files\\Quillmorph Bridge Test";
const wchar_t kPlanted[] = L"C:\\Program.exe";

using testing_support::Utf8;

std::wstring BinFolder()
{
    const std::wstring server = ServerExePath();
    return server.substr(0, server.find_last_of(L'\\'));
}

using testing_support::ContainerSite;

// The deferred-call windows of other processes on this desktop: the server's.
std::vector<HWND> ServerDeferredCallWindows()
{
    std::vector<HWND> windows;
    HWND window = nullptr;
    while ((window = ::FindWindowExW(HWND_MESSAGE, window, L"QuillmorphDeferredCalls", nullptr))) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process != ::GetCurrentProcessId())
            windows.push_back(window);
    }
    return windows;
}

void WriteStreamBytes(IStorage* storage, const wchar_t* name, const Bytes& bytes)
{
    ComPtr<IStream> stream;
    ASSERT_EQ(storage->CreateStream(name, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream),
              S_OK);
    ULONG written = 0;
    if (!bytes.empty()) {
        ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
    }
}

class EditorRoundTrip : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ::CreateDirectoryW(kInstall, nullptr);
        ::CreateDirectoryW((std::wstring(kInstall) + L"\\resources").c_str(), nullptr);
        const std::wstring editor = BinFolder() + L"\\test_drawing_app.exe";
        const std::pair<std::wstring, std::wstring> copies[] = {
            {ServerExePath(), ServerPath()},
            {editor, EditorPath(L"Quillmorph.exe")},
            // An unquoted editor path would start this one instead.
            {editor, kPlanted},
        };
        for (const auto& copy : copies) {
            if (!::CopyFileW(copy.first.c_str(), copy.second.c_str(), FALSE))
                install_error_ +=
                    "copying to " + Utf8(copy.second) + " failed: " + std::to_string(::GetLastError()) + "\n";
        }
        registered_ = RegisterServer(ServerPath());
    }

    static void TearDownTestSuite() { ::DeleteFileW(kPlanted); }

    static std::wstring ServerPath() { return std::wstring(kInstall) + L"\\resources\\QuillmorphOLE.exe"; }
    static std::wstring EditorPath(const wchar_t* name) { return std::wstring(kInstall) + L"\\" + name; }
    static std::wstring InstallFile(const std::wstring& name)
    {
        return std::wstring(kInstall) + L"\\" + name;
    }

    void SetUp() override
    {
        ASSERT_TRUE(install_error_.empty()) << install_error_;
        ASSERT_EQ(registered_, 0u) << "the installed server registers itself";
        ASSERT_TRUE(WaitForNoProcess(kServerImage, 15000));
        for (const auto& name : ListFiles(kInstall, L"editor-*"))
            ::DeleteFileW(InstallFile(name).c_str());
        // The server inherits this temporary folder; its name has a blank too.
        temp_ = FreshFolder(L"edit temp");
        ::SetEnvironmentVariableW(L"TMP", temp_.c_str());
        ::SetEnvironmentVariableW(L"TEMP", temp_.c_str());
        document_path_ = temp_ + L"\\document.qmd";
    }

    void Act(const char* action)
    {
        WriteFileBytes(InstallFile(L"editor-action.txt"), Bytes(action, action + strlen(action)));
    }

    // A document holding one saved drawing.
    void WriteDocument(const Bytes& native, const Bytes& picture)
    {
        ComPtr<IStorage> document;
        ASSERT_EQ(::StgCreateDocfile(document_path_.c_str(),
                                     STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &document),
                  S_OK);
        ComPtr<IStorage> drawing;
        ASSERT_EQ(document->CreateStorage(
                      kDrawingStorage, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &drawing),
                  S_OK);
        ASSERT_EQ(::WriteClassStg(drawing.Get(), CLSID_QuillmorphEmbeddedObject), S_OK);
        WriteStreamBytes(drawing.Get(), L"EMF", picture);
        WriteStreamBytes(drawing.Get(), L"ZRN", native);
        ASSERT_EQ(drawing->Commit(STGC_DEFAULT), S_OK);
        ASSERT_EQ(document->Commit(STGC_DEFAULT), S_OK);
    }

    void OpenDocument()
    {
        ASSERT_EQ(::StgOpenStorage(document_path_.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                   nullptr, 0, &document_),
                  S_OK);
        ASSERT_EQ(document_->OpenStorage(kDrawingStorage, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                         nullptr, 0, &storage_),
                  S_OK);
    }

    // Loads and runs the drawing, with the site's sink advised for data changes
    // and for the drawing's saves and closes, and the site saving the drawing
    // into the document when asked.
    void OpenDrawing()
    {
        OpenDocument();
        ASSERT_EQ(::OleLoad(storage_.Get(), IID_IOleObject, &site_, &ole_), S_OK);
        ASSERT_EQ(::OleRun(ole_.Get()), S_OK);
        ASSERT_EQ(ole_.As(&data_), S_OK);
        FORMATETC any = {0, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        ASSERT_EQ(data_->DAdvise(&any, ADVF_NODATA, &site_, &connection_), S_OK);
        DWORD oleConnection = 0;
        ASSERT_EQ(ole_->Advise(&site_, &oleConnection), S_OK);
        site_.drawing = ole_.Get();
        site_.storage = storage_.Get();
    }

    // Waits until the container has been told that the editor's window closed.
    bool WaitForHiddenWindows(int count)
    {
        return WaitFor([&] { return site_.hiddenWindows >= count; }, 30000);
    }

    Bytes NativeData() { return NativeDataOf(data_.Get()); }

    // Lets the drawing go and waits for the server to end: it can only end when
    // no edit holds the drawing any more.
    void CloseDrawing()
    {
        data_->DUnadvise(connection_);
        data_.Reset();
        site_.drawing = nullptr;
        site_.storage = nullptr;
        EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
        ole_->SetClientSite(nullptr);
        ole_.Reset();
        storage_.Reset();
        if (document_)
            document_->Commit(STGC_DEFAULT);
        document_.Reset();
        EXPECT_TRUE(WaitForNoProcess(kServerImage, 20000)) << "the server ends once the edit has let go";
    }

    // The editor's record of how it was started, once it has finished.
    std::map<std::string, std::string> EditorLog(int key)
    {
        return WaitForEditorLog(InstallFile(L"editor-" + std::to_wstring(key) + L".log"));
    }

    static std::string install_error_;
    static DWORD registered_;
    Apartment apartment_;
    ContainerSite site_;
    std::wstring temp_;
    std::wstring document_path_;
    ComPtr<IStorage> document_;
    ComPtr<IStorage> storage_;
    ComPtr<IOleObject> ole_;
    ComPtr<IDataObject> data_;
    DWORD connection_ = 0;
};

std::string EditorRoundTrip::install_error_;
DWORD EditorRoundTrip::registered_ = 1;

TEST_F(EditorRoundTrip, AnEditGoesToTheEditorAndComesBackIntoTheDocument)
{
    const Bytes original = PatternBytes(150000, 21);
    WriteDocument(original, PictureBits(1));
    Act("update");
    OpenDrawing();
    ASSERT_EQ(ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, &site_, 0, nullptr, nullptr), S_OK);

    auto log = EditorLog(0);
    ASSERT_FALSE(log.empty()) << "the editor ran and called back under key 0";
    EXPECT_EQ(log["exe"], Utf8(EditorPath(L"Quillmorph.exe"))) << "not the planted C:\\Program.exe";
    EXPECT_EQ(log["cwd"], Utf8(kInstall));
    EXPECT_EQ(log["argc"], "4") << log["commandline"];
    const std::string zrn = log["argv1"];
    EXPECT_EQ(zrn.substr(0, temp_.size()), Utf8(temp_)) << "one argument, blanks and all";
    EXPECT_EQ(zrn.substr(zrn.size() - 4), ".ZRN");
    EXPECT_EQ(log["argv2"], "-ole");
    EXPECT_EQ(log["argv3"], "0");
    EXPECT_EQ(log["result"], "0x00000000");
    EXPECT_EQ(ReadFileBytes(InstallFile(L"editor-0.received")), original) << "the editor got the document";

    // One notification for the document, one for the picture; then the container
    // is asked once to save the drawing, and told the editor's window closed.
    ASSERT_TRUE(WaitForHiddenWindows(1)) << site_.dataChanges;
    PumpMessagesFor(300);
    const auto calls = site_.Calls();
    EXPECT_EQ(site_.dataChanges, 2);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SaveObject"), 1);
    const auto save = std::find(calls.begin(), calls.end(), "SaveObject");
    EXPECT_EQ(std::count(calls.begin(), save, "OnDataChange"), 2) << "both payloads arrived before the save";
    EXPECT_EQ(calls.back(), "OnShowWindow(FALSE)");
    const Bytes edited = ReadFileBytes(InstallFile(L"editor-0.native"));
    ASSERT_GT(edited.size(), original.size());
    EXPECT_TRUE(NativeData() == edited) << "the drawing holds the edited document";
    ComPtr<IPersistStorage> persist;
    ASSERT_EQ(ole_.As(&persist), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE) << "the container's save left the drawing clean";
    persist.Reset();
    EXPECT_TRUE(ListFiles(temp_, L"OLE*").empty()) << "the edit's temporary files are gone";

    // Another program on the desktop finds the server's deferred-call window
    // and posts its message with anything in it, and sends it once: the
    // server carries on with the next edit.
    const std::vector<HWND> windows = ServerDeferredCallWindows();
    ASSERT_EQ(windows.size(), 1u) << "the server's window, found as any program finds it";
    for (LPARAM forged : {LPARAM(0), LPARAM(1), LPARAM(0x10000)})
        EXPECT_TRUE(::PostMessageW(windows[0], WM_APP + 1, forged, forged));
    DWORD_PTR answer = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(windows[0], WM_APP + 1, 0, 0x10000, SMTO_ABORTIFHUNG, 10000, &answer))
        << "the server no longer answers its window";
    PumpMessagesFor(300);
    EXPECT_EQ(site_.Calls(), calls) << "nothing reached the container";

    // A second edit, given up by the editor: the window closes, nothing is saved.
    Act("close");
    ASSERT_EQ(ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, &site_, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(EditorLog(1)["result"], "0x00000000");
    ASSERT_TRUE(WaitForHiddenWindows(2));
    PumpMessagesFor(300);
    const auto later = site_.Calls();
    EXPECT_EQ(std::count(later.begin(), later.end(), "SaveObject"), 1);
    EXPECT_EQ(later.back(), "OnShowWindow(FALSE)");
    EXPECT_TRUE(ListFiles(temp_, L"OLE*").empty());

    // Closed by the container, the drawing tells the sinks advised on it.
    CloseDrawing();
    EXPECT_GE(site_.closes, 1);
    OpenDocument();
    EXPECT_TRUE(ReadStreamBytes(storage_.Get(), L"ZRN") == edited)
        << "in the document without a save of ours";
    EXPECT_EQ(ReadStreamBytes(storage_.Get(), L"EMF"), ReadFileBytes(InstallFile(L"editor-0.emf")));
}

TEST_F(EditorRoundTrip, CloseLateBoundAndCloseAllEndEditsWithoutNewData)
{
    const Bytes original = PatternBytes(3000, 4);
    WriteDocument(original, PictureBits(2));
    OpenDrawing();

    Act("close-late");
    ASSERT_EQ(ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, &site_, 0, nullptr, nullptr), S_OK);
    auto log = EditorLog(0);
    EXPECT_EQ(log["action"], "close-late");
    EXPECT_EQ(log["result"], "0x00000000");
    EXPECT_TRUE(WaitFor([&] { return site_.dataChanges >= 1; }, 30000));
    EXPECT_EQ(NativeData(), original);

    // The close signal ended the drawing's edit, so it can be opened again: key 1.
    Act("closeall");
    ASSERT_EQ(ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, &site_, 0, nullptr, nullptr), S_OK);
    log = EditorLog(1);
    EXPECT_EQ(log["action"], "closeall");
    EXPECT_EQ(log["argv3"], "1");
    EXPECT_TRUE(WaitFor([&] { return site_.dataChanges >= 2; }, 30000));
    EXPECT_EQ(NativeData(), original);
    EXPECT_TRUE(WaitForHiddenWindows(2));
    const auto calls = site_.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SaveObject"), 0) << "no new data, nothing to save";
    CloseDrawing();
}

TEST_F(EditorRoundTrip, TheBetaEditorIsPreferredAndAMissingEditorIsReported)
{
    WriteDocument(Bytes{1, 2, 3}, PictureBits(3));
    const std::wstring beta = EditorPath(L"Quillmorph-beta.exe");
    ASSERT_TRUE(::CopyFileW(EditorPath(L"Quillmorph.exe").c_str(), beta.c_str(), FALSE));
    OpenDrawing();
    Act("close");
    ASSERT_EQ(ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, &site_, 0, nullptr, nullptr), S_OK);
    auto log = EditorLog(0);
    EXPECT_EQ(log["exe"], Utf8(beta));
    EXPECT_TRUE(WaitFor([&] { return site_.dataChanges >= 1; }, 30000));
    // A running program's file cannot be deleted: let the beta editor finish first.
    ASSERT_TRUE(WaitForNoProcess(L"Quillmorph-beta.exe", 20000));
    ASSERT_TRUE(::DeleteFileW(beta.c_str()));

    // Without any editor the verb fails, and no edit is left to hold the server.
    const std::wstring away = EditorPath(L"Quillmorph.away");
    ASSERT_TRUE(::MoveFileW(EditorPath(L"Quillmorph.exe").c_str(), away.c_str()));
    const HRESULT hr = ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, &site_, 0, nullptr, nullptr);
    ::MoveFileW(away.c_str(), EditorPath(L"Quillmorph.exe").c_str());
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(ListFiles(kInstall, L"editor-1.*").empty());
    CloseDrawing();
}

} // namespace
