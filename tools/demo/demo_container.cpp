// The demonstration container: walks the road of one edit as a word processor
// would, against the registered server, and prints each step with its result
// and time. Usage: quillmorph_demo_container.exe <output folder>
// It leaves demo-document.qmd (the compound document), before.png and
// after.png (the picture the container received before and after the edit).
// Exit code 0 when every step succeeded, 1 otherwise.

#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include <wrl/client.h>

#include "server/class_ids.h"
#include "tools/demo/demo_document.h"

using Microsoft::WRL::ComPtr;

namespace {

const char kNativeFormatName[] = "JAVA_DATAFLAVOR:chemical/x-vantrelis-zrn; class=java.io.InputStream";

int s_failures = 0;
int s_step = 0;

void Report(const char* what, HRESULT hr, ULONGLONG startMs, const std::string& detail = std::string())
{
    ULONGLONG ms = ::GetTickCount64() - startMs;
    if (FAILED(hr))
        ++s_failures;
    std::printf("[%2d] %-52s %s 0x%08lX %6llu ms%s%s\n", ++s_step, what, FAILED(hr) ? "FAILED" : "ok    ",
                static_cast<unsigned long>(hr), ms, detail.empty() ? "" : "  ", detail.c_str());
    std::fflush(stdout);
}

// Writes the embedded drawing into its storage and commits the document, as a
// word processor's save does.
HRESULT SaveDrawing(IOleObject* object, IStorage* drawing, IStorage* document)
{
    ComPtr<IPersistStorage> persist;
    HRESULT hr = object->QueryInterface(IID_PPV_ARGS(persist.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = ::OleSave(persist.Get(), drawing, TRUE);
    if (SUCCEEDED(hr))
        hr = persist->SaveCompleted(nullptr);
    if (SUCCEEDED(hr))
        hr = drawing->Commit(STGC_DEFAULT);
    if (SUCCEEDED(hr))
        hr = document->Commit(STGC_DEFAULT);
    return hr;
}

// The container's site for the embedded drawing, and its advise sink.
class ContainerSite : public IOleClientSite, public IAdviseSink
{
public:
    int dataChanges = 0;
    int showObjects = 0;
    int saveRequests = 0;
    int hiddenWindows = 0;
    HRESULT lastSave = S_OK;
    // The embedded drawing and where it lives, for SaveObject (not counted: Run
    // keeps them).
    IOleObject* drawing = nullptr;
    IStorage* storage = nullptr;
    IStorage* document = nullptr;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *ppv = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IAdviseSink)
            *ppv = static_cast<IAdviseSink*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    // Lives on the container's stack for the whole run.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // The server asks for this when an edit comes back: the drawing is written
    // into the document, as a word processor's save of that one object does.
    STDMETHODIMP SaveObject() override
    {
        ++saveRequests;
        return lastSave =
                   drawing && storage && document ? SaveDrawing(drawing, storage, document) : E_UNEXPECTED;
    }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** ppmk) override
    {
        *ppmk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** pp) override
    {
        *pp = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override
    {
        ++showObjects;
        return S_OK;
    }
    STDMETHODIMP OnShowWindow(BOOL show) override
    {
        if (!show)
            ++hiddenWindows;
        return S_OK;
    }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    STDMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM*) override { ++dataChanges; }
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override {}
    STDMETHODIMP_(void) OnRename(IMoniker*) override {}
    STDMETHODIMP_(void) OnSave() override {}
    STDMETHODIMP_(void) OnClose() override {}
};

// What the drawing application would put on the clipboard: one embedded
// drawing as "Embedded Object" on a storage.
class ClipboardDrawing final : public IDataObject
{
public:
    explicit ClipboardDrawing(IStorage* storage) : storage_(storage)
    {
        format_ = static_cast<CLIPFORMAT>(::RegisterClipboardFormatA("Embedded Object"));
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDataObject) {
            *ppv = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }
    STDMETHODIMP GetData(FORMATETC* fe, STGMEDIUM* medium) override
    {
        HRESULT hr = QueryGetData(fe);
        if (hr != S_OK)
            return hr;
        // A fresh storage over memory, holding a copy of the drawing.
        ComPtr<ILockBytes> bytes;
        ComPtr<IStorage> copy;
        hr = ::CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes);
        if (SUCCEEDED(hr))
            hr = ::StgCreateDocfileOnILockBytes(
                bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &copy);
        if (SUCCEEDED(hr))
            hr = storage_->CopyTo(0, nullptr, nullptr, copy.Get());
        if (FAILED(hr))
            return hr;
        medium->tymed = TYMED_ISTORAGE;
        medium->pstg = copy.Detach();
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC* fe, STGMEDIUM* medium) override
    {
        if (QueryGetData(fe) != S_OK || medium->tymed != TYMED_ISTORAGE || !medium->pstg)
            return DV_E_FORMATETC;
        return storage_->CopyTo(0, nullptr, nullptr, medium->pstg);
    }
    STDMETHODIMP QueryGetData(FORMATETC* fe) override
    {
        if (!fe || fe->cfFormat != format_ || !(fe->tymed & TYMED_ISTORAGE))
            return DV_E_FORMATETC;
        return S_OK;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override
    {
        out->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override
    {
        if (direction != DATADIR_GET)
            return E_NOTIMPL;
        FORMATETC fe = {format_, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTORAGE};
        return ::SHCreateStdEnumFmtEtc(1, &fe, out);
    }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override
    {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    virtual ~ClipboardDrawing() = default;
    ULONG refs_ = 1;
    ComPtr<IStorage> storage_;
    CLIPFORMAT format_;
};

void PumpFor(DWORD ms, const int* counter = nullptr, int until = 0)
{
    ULONGLONG deadline = ::GetTickCount64() + ms;
    while (::GetTickCount64() < deadline) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (counter && *counter >= until)
            return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

HRESULT BytesToStorage(const demo::Bytes& bytes, IStorage** out)
{
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size() ? bytes.size() : 1);
    if (!block)
        return E_OUTOFMEMORY;
    {
        GlobalLockGuard locked(block);
        if (!bytes.empty())
            std::memcpy(locked.get(), bytes.data(), bytes.size());
    }
    ComPtr<ILockBytes> lockBytes;
    HRESULT hr = ::CreateILockBytesOnHGlobal(block, TRUE, &lockBytes);
    if (FAILED(hr)) {
        ::GlobalFree(block);
        return hr;
    }
    return ::StgOpenStorageOnILockBytes(lockBytes.Get(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                        nullptr, 0, out);
}

HRESULT GetNative(IUnknown* object, demo::Bytes* out)
{
    ComPtr<IDataObject> data;
    HRESULT hr = object->QueryInterface(IID_PPV_ARGS(data.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    FORMATETC fe = {static_cast<CLIPFORMAT>(::RegisterClipboardFormatA(kNativeFormatName)), nullptr,
                    DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StgMediumGuard medium;
    hr = data->GetData(&fe, medium.put());
    if (FAILED(hr))
        return hr;
    GlobalLockGuard locked(medium->hGlobal);
    SIZE_T size = ::GlobalSize(medium->hGlobal);
    out->assign(locked.bytes(), locked.bytes() + (locked ? size : 0));
    return S_OK;
}

HRESULT SavePicture(IUnknown* object, const std::wstring& path)
{
    ComPtr<IDataObject> data;
    HRESULT hr = object->QueryInterface(IID_PPV_ARGS(data.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    FORMATETC fe = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    StgMediumGuard medium;
    hr = data->GetData(&fe, medium.put());
    if (FAILED(hr))
        return hr;
    return demo::WriteMetafilePictureAsPng(medium->hMetaFilePict, path.c_str(), 400, 200);
}

std::string Revision(const demo::Bytes& document)
{
    return "revision " + std::to_string(demo::DocumentRevision(document)) + ", " +
           std::to_string(document.size()) + " bytes";
}

int Run(const std::wstring& folder)
{
    const std::wstring documentPath = folder + L"\\demo-document.qmd";
    const wchar_t* drawingName = L"Drawing 1";
    ContainerSite site;
    ULONGLONG t = ::GetTickCount64();

    ComPtr<IQuillmorphOLE> server;
    HRESULT hr = ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server));
    Report("start the server's automation class", hr, t);
    if (FAILED(hr))
        return 1;

    // The drawing application's clipboard road makes the first drawing.
    t = ::GetTickCount64();
    demo::Bytes native = demo::MakeDocument(1, "created by the demonstration\r\n");
    UniqueEnhMetaFile firstPicture = demo::DrawPicture(1);
    demo::Bytes embeddable;
    {
        VariantGuard a, b, c;
        demo::MakeByteArray(native, a.get());
        demo::MakeByteArray(demo::EnhMetaFileBits(firstPicture.get()), b.get());
        hr = server->TripForward(*a.get(), *b.get(), c.get());
        if (SUCCEEDED(hr) && !demo::ReadByteArray(*c.get(), &embeddable))
            hr = E_UNEXPECTED;
    }
    Report("TripForward: native document + picture -> drawing", hr, t,
           std::to_string(embeddable.size()) + " bytes of compound file");
    if (FAILED(hr))
        return 1;

    // Embed it in a new compound document through the platform's default handler.
    t = ::GetTickCount64();
    ComPtr<IStorage> document, drawing, pasted;
    ComPtr<IOleObject> object;
    hr = ::StgCreateDocfile(documentPath.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                            &document);
    if (SUCCEEDED(hr))
        hr = document->CreateStorage(drawingName, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                     &drawing);
    if (SUCCEEDED(hr))
        hr = BytesToStorage(embeddable, &pasted);
    if (SUCCEEDED(hr))
        hr = pasted->CopyTo(0, nullptr, nullptr, drawing.Get());
    if (SUCCEEDED(hr))
        hr = ::OleLoad(drawing.Get(), IID_IOleObject, &site, &object);
    if (SUCCEEDED(hr))
        hr = ::OleRun(object.Get());
    Report("embed the drawing in the document (default handler)", hr, t);
    if (FAILED(hr))
        return 1;
    site.drawing = object.Get();
    site.storage = drawing.Get();
    site.document = document.Get();

    t = ::GetTickCount64();
    hr = SavePicture(object.Get(), folder + L"\\before.png");
    Report("picture before the edit -> before.png", hr, t);

    // Open it: the server starts the drawing application on a copy.
    t = ::GetTickCount64();
    ComPtr<IDataObject> data;
    DWORD connection = 0;
    hr = object.As(&data);
    FORMATETC any = {static_cast<CLIPFORMAT>(::RegisterClipboardFormatA(kNativeFormatName)), nullptr,
                     DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (SUCCEEDED(hr))
        hr = data->DAdvise(&any, ADVF_NODATA, &site, &connection);
    if (SUCCEEDED(hr))
        hr = object->DoVerb(OLEIVERB_PRIMARY, nullptr, &site, 0, nullptr, nullptr);
    Report("open the drawing with the primary verb", hr, t);

    t = ::GetTickCount64();
    PumpFor(60000, &site.dataChanges, 2);
    hr = site.dataChanges >= 2 ? S_OK : HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    Report("wait for the drawing application's edit", hr, t,
           std::to_string(site.dataChanges) + " data-change notifications");

    // The server then asks the container to save the drawing and tells it the
    // drawing application's window has gone.
    t = ::GetTickCount64();
    PumpFor(30000, &site.hiddenWindows, 1);
    hr = site.hiddenWindows < 1   ? HRESULT_FROM_WIN32(ERROR_TIMEOUT)
         : site.saveRequests != 1 ? E_UNEXPECTED
                                  : site.lastSave;
    Report("container told: SaveObject, OnShowWindow(FALSE)", hr, t,
           "asked to save " + std::to_string(site.saveRequests) + " time(s), saved into the document");

    t = ::GetTickCount64();
    demo::Bytes edited;
    hr = GetNative(object.Get(), &edited);
    if (SUCCEEDED(hr) && demo::DocumentRevision(edited) != 2)
        hr = E_UNEXPECTED;
    Report("native document after the edit", hr, t, Revision(edited));

    t = ::GetTickCount64();
    hr = SavePicture(object.Get(), folder + L"\\after.png");
    Report("picture after the edit -> after.png", hr, t);

    t = ::GetTickCount64();
    hr = SaveDrawing(object.Get(), drawing.Get(), document.Get());
    Report("save the document", hr, t);

    site.drawing = nullptr;
    site.storage = nullptr;
    site.document = nullptr;
    if (connection)
        data->DUnadvise(connection);
    object->Close(OLECLOSE_NOSAVE);
    object->SetClientSite(nullptr);
    data.Reset();
    object.Reset();
    drawing.Reset();
    document.Reset();

    t = ::GetTickCount64();
    demo::Bytes reloaded;
    hr = ::StgOpenStorage(documentPath.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                          &document);
    if (SUCCEEDED(hr))
        hr = document->OpenStorage(drawingName, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                   &drawing);
    if (SUCCEEDED(hr))
        hr = ::OleLoad(drawing.Get(), IID_IOleObject, &site, &object);
    if (SUCCEEDED(hr))
        hr = ::OleRun(object.Get());
    if (SUCCEEDED(hr))
        hr = GetNative(object.Get(), &reloaded);
    if (SUCCEEDED(hr) && reloaded != edited)
        hr = E_UNEXPECTED;
    Report("reload the document: the edit is there", hr, t, Revision(reloaded));
    if (object) {
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
    }
    object.Reset();
    drawing.Reset();
    document.Reset();

    // The clipboard round trip the drawing application uses.
    t = ::GetTickCount64();
    demo::Bytes onClipboard;
    {
        VariantGuard a, b, c;
        demo::MakeByteArray(edited, a.get());
        UniqueEnhMetaFile picture = demo::DrawPicture(2);
        demo::MakeByteArray(demo::EnhMetaFileBits(picture.get()), b.get());
        hr = server->TripForward(*a.get(), *b.get(), c.get());
        if (SUCCEEDED(hr) && !demo::ReadByteArray(*c.get(), &onClipboard))
            hr = E_UNEXPECTED;
    }
    ComPtr<IStorage> clipStorage;
    if (SUCCEEDED(hr))
        hr = BytesToStorage(onClipboard, &clipStorage);
    ClipboardDrawing* clip = SUCCEEDED(hr) ? new ClipboardDrawing(clipStorage.Get()) : nullptr;
    if (clip) {
        hr = ::OleSetClipboard(clip);
        clip->Release();
    }
    Report("TripForward + put the drawing on the clipboard", hr, t,
           std::to_string(onClipboard.size()) + " bytes as \"Embedded Object\"");

    t = ::GetTickCount64();
    demo::Bytes back;
    {
        VariantGuard d;
        hr = server->TripBack(d.get());
        if (SUCCEEDED(hr) && !demo::ReadByteArray(*d.get(), &back))
            hr = E_UNEXPECTED;
    }
    if (SUCCEEDED(hr) && back != edited)
        hr = E_UNEXPECTED;
    Report("TripBack: native document read from the clipboard", hr, t, Revision(back));
    ::OleSetClipboard(nullptr);

    server.Reset();
    std::printf("%d steps, %d failed\n", s_step, s_failures);
    return s_failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    std::string folder8 = argv[1];
    std::wstring folder(folder8.begin(), folder8.end());
    if (FAILED(::OleInitialize(nullptr)))
        return 1;
    int rc = Run(folder);
    ::OleUninitialize();
    return rc;
}
