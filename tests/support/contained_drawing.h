#pragma once

// One drawing in a container's compound document, as a word processor holds
// it: through the platform's default handler, running in the server, with the
// site's sink advised for data changes. Each step returns its status, so that
// a test can assert on it or look at a failure it provoked.

#include <windows.h>
#include <ole2.h>

#include <string>
#include <utility>

#include <wrl/client.h>

#include "server/class_ids.h"
#include "support/container_site.h"

namespace testing_support {

class ContainedDrawing
{
public:
    // The storage of the document that holds the drawing.
    static constexpr const wchar_t* kStorageName = L"Drawing1";

    ContainedDrawing(std::wstring path, ContainerSite* site) : path_(std::move(path)), site_(site) {}
    ContainedDrawing(const ContainedDrawing&) = delete;
    ContainedDrawing& operator=(const ContainedDrawing&) = delete;
    ~ContainedDrawing() { Release(); }

    const std::wstring& path() const { return path_; }
    IOleObject* ole() const { return ole_.Get(); }
    IDataObject* data() const { return data_.Get(); }

    // A new document holding a new drawing, as inserting one does.
    HRESULT Create()
    {
        const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
        HRESULT hr = ::StgCreateDocfile(path_.c_str(), mode, 0, &document_);
        if (SUCCEEDED(hr))
            hr = document_->CreateStorage(kStorageName, mode, 0, 0, &storage_);
        if (SUCCEEDED(hr))
            hr = ::OleCreate(CLSID_QuillmorphEmbeddedObject, IID_IOleObject, OLERENDER_DRAW, nullptr, site_,
                             storage_.Get(), &ole_);
        return SUCCEEDED(hr) ? Run() : hr;
    }

    // The drawing of an existing document, as opening the document does.
    HRESULT Open()
    {
        HRESULT hr = ::StgOpenStorage(path_.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr,
                                      0, &document_);
        if (SUCCEEDED(hr))
            hr = document_->OpenStorage(kStorageName, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr,
                                        0, &storage_);
        if (SUCCEEDED(hr))
            hr = ::OleLoad(storage_.Get(), IID_IOleObject, site_, &ole_);
        return SUCCEEDED(hr) ? Run() : hr;
    }

    HRESULT Edit() { return ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, site_, 0, nullptr, nullptr); }

    // Saves the drawing into the document and commits it, as a save command does.
    HRESULT Save()
    {
        Microsoft::WRL::ComPtr<IPersistStorage> persist;
        HRESULT hr = ole_.As(&persist);
        if (SUCCEEDED(hr))
            hr = ::OleSave(persist.Get(), storage_.Get(), TRUE);
        if (SUCCEEDED(hr))
            hr = persist->SaveCompleted(nullptr);
        if (SUCCEEDED(hr))
            hr = storage_->Commit(STGC_DEFAULT);
        if (SUCCEEDED(hr))
            hr = document_->Commit(STGC_DEFAULT);
        return hr;
    }

    // Lets go of everything, as a container closing the document does; the
    // status is the drawing's answer to being closed.
    HRESULT Release()
    {
        if (data_ && connection_)
            data_->DUnadvise(connection_);
        connection_ = 0;
        data_.Reset();
        HRESULT hr = S_OK;
        if (ole_) {
            hr = ole_->Close(OLECLOSE_NOSAVE);
            ole_->SetClientSite(nullptr);
        }
        ole_.Reset();
        storage_.Reset();
        document_.Reset();
        return hr;
    }

private:
    HRESULT Run()
    {
        HRESULT hr = ::OleRun(ole_.Get());
        if (SUCCEEDED(hr))
            hr = ole_.As(&data_);
        FORMATETC any = {0, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        if (SUCCEEDED(hr))
            hr = data_->DAdvise(&any, ADVF_NODATA, site_, &connection_);
        return hr;
    }

    std::wstring path_;
    ContainerSite* site_;
    Microsoft::WRL::ComPtr<IStorage> document_;
    Microsoft::WRL::ComPtr<IStorage> storage_;
    Microsoft::WRL::ComPtr<IOleObject> ole_;
    Microsoft::WRL::ComPtr<IDataObject> data_;
    DWORD connection_ = 0;
};

} // namespace testing_support
