#pragma once

// Pieces shared by the fault and soak programs and the helper container: a copy
// of the server installed beside an editor, a container's site that can be told
// to fail or to misbehave, and a container's drawing in a compound document.

#include <windows.h>
#include <ole2.h>

#include <wrl/client.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "server/class_ids.h"
#include "server/interface_pins.h"
#include "support/container_site.h"
#include "support/test_support.h"
#include "tests/bridge/bridge_test_util.h"

namespace faults {

using bridge_test::Bytes;
using Microsoft::WRL::ComPtr;

using testing_support::kDrawingStorage;
using testing_support::kServerImage;

using testing_support::Utf8;

inline Bytes BytesOfText(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

inline std::wstring BinFolder()
{
    const std::wstring server = testing_support::ServerExePath();
    return server.substr(0, server.find_last_of(L'\\'));
}

using testing_support::WaitFor;

// Waits for every server process to end, pumping this thread's messages.
inline bool WaitForServerEnd(DWORD timeoutMs)
{
    return WaitFor([] { return testing_support::FindProcesses(kServerImage).empty(); }, timeoutMs);
}

// A copy of the server as resources\QuillmorphOLE.exe in a folder of its own,
// with an editor program beside it as Quillmorph.exe, registered by the copy's
// own switch.
struct Installation
{
    std::wstring folder;
    std::string error;

    std::wstring Server() const { return folder + L"\\resources\\QuillmorphOLE.exe"; }
    std::wstring File(const std::wstring& name) const { return folder + L"\\" + name; }

    static Installation Make(const std::wstring& name, const std::wstring& editorProgram)
    {
        Installation installation;
        installation.folder = L"C:\\Program Files\\" + name;
        ::CreateDirectoryW(installation.folder.c_str(), nullptr);
        ::CreateDirectoryW((installation.folder + L"\\resources").c_str(), nullptr);
        const std::pair<std::wstring, std::wstring> copies[] = {
            {testing_support::ServerExePath(), installation.Server()},
            {BinFolder() + L"\\" + editorProgram, installation.File(L"Quillmorph.exe")},
        };
        for (const auto& copy : copies) {
            if (!::CopyFileW(copy.first.c_str(), copy.second.c_str(), FALSE))
                installation.error +=
                    "copying to " + Utf8(copy.second) + " failed: " + std::to_string(::GetLastError()) + "\n";
        }
        const DWORD registered = testing_support::RegisterServer(installation.Server());
        if (registered != 0)
            installation.error += "/RegServer ended with " + std::to_string(registered) + "\n";
        return installation;
    }

    // Removes what editors left from earlier edits.
    void ClearEditorFiles() const
    {
        for (const auto& name : bridge_test::ListFiles(folder, L"editor-*"))
            ::DeleteFileW(File(name).c_str());
    }

    // The fault editor's steps: for every key, or for one key.
    void Script(const std::string& steps) const
    {
        bridge_test::WriteFileBytes(File(L"editor-script.txt"), BytesOfText(steps));
    }
    void Script(LONG key, const std::string& steps) const
    {
        bridge_test::WriteFileBytes(File(L"editor-script-" + std::to_wstring(key) + L".txt"),
                                    BytesOfText(steps));
    }
    // Lets an editor waiting at "wait-go" go on.
    void Go(LONG key) const
    {
        bridge_test::WriteFileBytes(File(L"editor-go-" + std::to_wstring(key) + L".txt"), Bytes());
    }
    bool EditorStarted(LONG key) const
    {
        return ::GetFileAttributesW(File(L"editor-" + std::to_wstring(key) + L".started").c_str()) !=
               INVALID_FILE_ATTRIBUTES;
    }
    // The editor's record once it has ended (empty after the time-out).
    std::map<std::string, std::string> EditorLog(LONG key, DWORD timeoutMs = 60000) const
    {
        return testing_support::WaitForEditorLog(File(L"editor-" + std::to_wstring(key) + L".log"),
                                                 timeoutMs);
    }
};

// What the fault editor makes of a document under a key.
inline Bytes EditedBy(LONG key, const Bytes& document)
{
    Bytes edited = BytesOfText("EDITED:" + std::to_string(key) + ":");
    edited.insert(edited.end(), document.begin(), document.end());
    return edited;
}

// A container's site for a drawing and its advise sink in one. Every site call
// answers `failure` (a site that does not fail saves the drawing when asked);
// the hooks let a test misbehave from inside a call.
class FaultSite : public testing_support::ContainerSite
{
public:
    HRESULT failure = S_OK;
    std::function<void()> onShowObject;
    std::function<void()> onDataChange;
    int showObjects = 0;
    int showWindows = 0;
    int saveRequests = 0;

    STDMETHOD(SaveObject)() override
    {
        ++saveRequests;
        if (failure != S_OK) {
            Record("SaveObject");
            return failure;
        }
        const HRESULT hr = ContainerSite::SaveObject();
        Record("SaveObject returned");
        return hr;
    }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker** moniker) override
    {
        if (moniker)
            *moniker = nullptr;
        return failure == S_OK ? E_NOTIMPL : failure;
    }
    STDMETHOD(GetContainer)(IOleContainer** container) override
    {
        if (container)
            *container = nullptr;
        return failure == S_OK ? E_NOINTERFACE : failure;
    }
    STDMETHOD(ShowObject)() override
    {
        ++showObjects;
        ContainerSite::ShowObject();
        if (onShowObject)
            onShowObject();
        return failure;
    }
    STDMETHOD(OnShowWindow)(BOOL show) override
    {
        ++showWindows;
        ContainerSite::OnShowWindow(show);
        return failure;
    }
    STDMETHOD(RequestNewObjectLayout)() override { return failure == S_OK ? E_NOTIMPL : failure; }
    STDMETHOD_(void, OnDataChange)(FORMATETC* format, STGMEDIUM* medium) override
    {
        ContainerSite::OnDataChange(format, medium);
        if (onDataChange)
            onDataChange();
    }
};

using testing_support::WriteStream;

// A compound document at path holding one saved drawing.
inline HRESULT WriteDocument(const std::wstring& path, const Bytes& native, const Bytes& picture)
{
    ComPtr<IStorage> document;
    ComPtr<IStorage> drawing;
    HRESULT hr =
        ::StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &document);
    if (SUCCEEDED(hr))
        hr = document->CreateStorage(kDrawingStorage, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                     0, &drawing);
    if (SUCCEEDED(hr))
        hr = ::WriteClassStg(drawing.Get(), CLSID_QuillmorphEmbeddedObject);
    if (SUCCEEDED(hr))
        hr = WriteStream(drawing.Get(), L"EMF", picture);
    if (SUCCEEDED(hr))
        hr = WriteStream(drawing.Get(), L"ZRN", native);
    if (SUCCEEDED(hr))
        hr = drawing->Commit(STGC_DEFAULT);
    if (SUCCEEDED(hr))
        hr = document->Commit(STGC_DEFAULT);
    return hr;
}

// The native document saved in the document at path ("missing" when unreadable).
inline Bytes SavedNative(const std::wstring& path)
{
    ComPtr<IStorage> document;
    ComPtr<IStorage> drawing;
    if (FAILED(::StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                &document)) ||
        FAILED(document->OpenStorage(kDrawingStorage, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                     &drawing)))
        return BytesOfText("missing");
    return bridge_test::ReadStreamBytes(drawing.Get(), L"ZRN");
}

using testing_support::NativeFormat;

// Native bytes served by a data object ("failed" when it serves none).
inline Bytes NativeOf(IDataObject* data)
{
    FORMATETC format = {NativeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StgMediumGuard medium;
    if (FAILED(data->GetData(&format, medium.put())) || medium->tymed != TYMED_HGLOBAL)
        return BytesOfText("failed");
    if (!medium->hGlobal)
        return Bytes();
    const SIZE_T size = ::GlobalSize(medium->hGlobal);
    GlobalLockGuard lock(medium->hGlobal);
    return lock ? Bytes(lock.bytes(), lock.bytes() + size) : BytesOfText("failed");
}

// The server writes streams into a container's storages and lets them go right
// after: a stub of each storage interface stays pinned in the container while
// it works (see server/interface_pins.h). Without them the storage cycles
// stalled under load as the edits had: the container's main thread waiting in
// the platform's removal of the stream interface (RpcServerUnregisterIf) while
// it ran the server's release of a stream, the server waiting in that release.
class StorageInterfacePins
{
public:
    void Pin()
    {
        if (pinnedStorage_)
            return;
        ComPtr<ILockBytes> bytes;
        if (FAILED(::CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes)) ||
            FAILED(::StgCreateDocfileOnILockBytes(
                bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &pinnedStorage_)))
            return;
        ComPtr<IStream> stream;
        if (SUCCEEDED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
            pins_.Pin(stream.Get(), IID_IStream);
        pins_.Pin(pinnedStorage_.Get(), IID_IStorage);
    }

private:
    InterfacePins pins_;
    ComPtr<IStorage> pinnedStorage_;
};

// One drawing in a container's compound document, through the platform's
// default handler, running in the server, with the site's sink advised for
// data changes.
class ContainerDrawing
{
public:
    ContainerDrawing(std::wstring path, FaultSite* site) : path_(std::move(path)), site_(site) {}
    ContainerDrawing(const ContainerDrawing&) = delete;
    ContainerDrawing& operator=(const ContainerDrawing&) = delete;
    ~ContainerDrawing() { Release(); }

    const std::wstring& path() const { return path_; }
    IOleObject* ole() const { return ole_.Get(); }

    HRESULT Open()
    {
        pins_.Pin();
        HRESULT hr = ::StgOpenStorage(path_.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr,
                                      0, &document_);
        if (SUCCEEDED(hr))
            hr = document_->OpenStorage(kDrawingStorage, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                        nullptr, 0, &storage_);
        if (SUCCEEDED(hr))
            hr = ::OleLoad(storage_.Get(), IID_IOleObject, site_, &ole_);
        if (SUCCEEDED(hr))
            hr = ::OleRun(ole_.Get());
        if (SUCCEEDED(hr))
            hr = ole_.As(&data_);
        FORMATETC any = {0, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        if (SUCCEEDED(hr))
            hr = data_->DAdvise(&any, ADVF_NODATA, site_, &connection_);
        // Asked to save, the site writes the drawing into its storage.
        if (SUCCEEDED(hr)) {
            site_->drawing = ole_.Get();
            site_->storage = storage_.Get();
        }
        return hr;
    }

    HRESULT Edit() { return ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, site_, 0, nullptr, nullptr); }

    Bytes Native() { return data_ ? NativeOf(data_.Get()) : BytesOfText("released"); }

    // Saves the drawing into the document and commits it, as a save command does.
    HRESULT Save()
    {
        HRESULT hr = testing_support::SaveLikeAContainer(ole_.Get(), storage_.Get());
        return SUCCEEDED(hr) ? document_->Commit(STGC_DEFAULT) : hr;
    }

    // Lets go of everything, as a container closing the document does.
    void Release()
    {
        site_->drawing = nullptr;
        site_->storage = nullptr;
        if (data_ && connection_)
            data_->DUnadvise(connection_);
        connection_ = 0;
        data_.Reset();
        if (ole_) {
            ole_->Close(OLECLOSE_NOSAVE);
            ole_->SetClientSite(nullptr);
        }
        ole_.Reset();
        storage_.Reset();
        document_.Reset();
    }

private:
    StorageInterfacePins pins_;
    std::wstring path_;
    FaultSite* site_;
    ComPtr<IStorage> document_;
    ComPtr<IStorage> storage_;
    ComPtr<IOleObject> ole_;
    ComPtr<IDataObject> data_;
    DWORD connection_ = 0;
};

} // namespace faults
