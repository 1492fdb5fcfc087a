#pragma once

// What another program leaves on the clipboard: drawings stored under the
// storage formats it names, and plain text. A test double for the programs
// around the server.

#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include <wrl/client.h>

#include "support/counted_unknown.h"

namespace testing_support {

using Bytes = std::vector<BYTE>;
using Microsoft::WRL::ComPtr;

// A storage holding one drawing as another program would put it on the clipboard.
inline ComPtr<IStorage> DrawingStorage(const CLSID& clsid, const Bytes& native)
{
    ComPtr<ILockBytes> lockBytes;
    ::CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes);
    ComPtr<IStorage> storage;
    ::StgCreateDocfileOnILockBytes(lockBytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                   &storage);
    ::WriteClassStg(storage.Get(), clsid);
    ComPtr<IStream> stream;
    storage->CreateStream(L"ZRN", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream);
    ULONG written = 0;
    if (!native.empty())
        stream->Write(native.data(), static_cast<ULONG>(native.size()), &written);
    return storage;
}

// What another program leaves on the clipboard: drawings under the storage
// formats it names, and plain text.
class ClipboardOffer : public testing_support::CountedUnknown<IDataObject, true>
{
public:
    struct Entry
    {
        CLIPFORMAT format;
        ComPtr<IStorage> storage; // null: text
    };
    std::vector<Entry> entries;

    virtual ~ClipboardOffer() = default;

    void OfferDrawing(const char* formatName, const CLSID& clsid, const Bytes& native)
    {
        entries.push_back(
            {static_cast<CLIPFORMAT>(::RegisterClipboardFormatA(formatName)), DrawingStorage(clsid, native)});
    }

    STDMETHOD(GetData)(FORMATETC* format, STGMEDIUM* medium) override
    {
        const Entry* entry = Find(format);
        if (!entry)
            return DV_E_FORMATETC;
        if (!entry->storage) {
            medium->tymed = TYMED_HGLOBAL;
            medium->hGlobal = ::GlobalAlloc(GMEM_MOVEABLE, 8);
            std::memcpy(::GlobalLock(medium->hGlobal), L"tex", 8);
            ::GlobalUnlock(medium->hGlobal);
        } else {
            medium->tymed = TYMED_ISTORAGE;
            medium->pstg = entry->storage.Get();
            medium->pstg->AddRef();
        }
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHOD(GetDataHere)(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHOD(QueryGetData)(FORMATETC* format) override { return Find(format) ? S_OK : DV_E_FORMATETC; }
    STDMETHOD(GetCanonicalFormatEtc)(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHOD(SetData)(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHOD(EnumFormatEtc)(DWORD direction, IEnumFORMATETC** out) override
    {
        if (direction != DATADIR_GET)
            return E_NOTIMPL;
        std::vector<FORMATETC> formats;
        for (const auto& entry : entries)
            formats.push_back({entry.format, nullptr, DVASPECT_CONTENT, -1,
                               static_cast<DWORD>(entry.storage ? TYMED_ISTORAGE : TYMED_HGLOBAL)});
        return ::SHCreateStdEnumFmtEtc(static_cast<UINT>(formats.size()), formats.data(), out);
    }
    STDMETHOD(DAdvise)(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHOD(DUnadvise)(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHOD(EnumDAdvise)(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    const Entry* Find(const FORMATETC* format) const
    {
        for (const auto& entry : entries) {
            const DWORD tymed = entry.storage ? TYMED_ISTORAGE : TYMED_HGLOBAL;
            if (entry.format == format->cfFormat && (format->tymed & tymed))
                return &entry;
        }
        return nullptr;
    }
};

} // namespace testing_support
