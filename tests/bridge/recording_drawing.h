#pragma once

// Stands in for an embedded drawing where only the bridge's side matters: it
// hands out a native document, records every SetData it receives (in order, into
// a log that several drawings can share) and lets a test read its reference count.

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "support/counted_unknown.h"
#include "support/data_object_double.h"

struct ReceivedData
{
    std::wstring owner; // the drawing's name
    bool closeSignal;   // SetData(null, null, FALSE)
    CLIPFORMAT format;
    DWORD aspect;
    DWORD tymed;
    BOOL release;
    std::vector<BYTE> bytes; // the block's bytes, or the metafile's bits
    bool nullHandle;
};

class RecordingDrawing : public testing_support::DataObjectDouble<true>
{
public:
    RecordingDrawing(const wchar_t* name, std::vector<ReceivedData>* log) : name_(name), log_(log) {}
    virtual ~RecordingDrawing() = default;

    std::vector<BYTE> native;     // what GetData delivers
    HRESULT getDataResult = S_OK; // a failure to report instead
    int getDataCalls = 0;
    bool answersDataObject = true;

    bool Answers(REFIID riid) const override
    {
        return riid == IID_IUnknown || (riid == IID_IDataObject && answersDataObject);
    }

    STDMETHOD(GetData)(FORMATETC* format, STGMEDIUM* medium) override
    {
        ++getDataCalls;
        if (FAILED(getDataResult))
            return getDataResult;
        if (format->cfFormat != ::RegisterClipboardFormatA(
                                    "JAVA_DATAFLAVOR:chemical/x-vantrelis-zrn; class=java.io.InputStream") ||
            format->tymed != TYMED_HGLOBAL || format->dwAspect != DVASPECT_CONTENT)
            return DV_E_FORMATETC;
        HGLOBAL block = ::GlobalAlloc(GMEM_FIXED, native.size());
        if (!block)
            return E_OUTOFMEMORY;
        if (!native.empty())
            ::memcpy(::GlobalLock(block), native.data(), native.size());
        ::GlobalUnlock(block);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHOD(SetData)(FORMATETC* format, STGMEDIUM* medium, BOOL release) override
    {
        ReceivedData data{name_, !format && !medium, 0, 0, 0, release, {}, false};
        if (format) {
            data.format = format->cfFormat;
            data.aspect = format->dwAspect;
        }
        if (medium) {
            data.tymed = medium->tymed;
            if (medium->tymed == TYMED_HGLOBAL && medium->hGlobal) {
                const SIZE_T size = ::GlobalSize(medium->hGlobal);
                const BYTE* p = static_cast<const BYTE*>(::GlobalLock(medium->hGlobal));
                data.bytes.assign(p, p + size);
                ::GlobalUnlock(medium->hGlobal);
            } else if (medium->tymed == TYMED_ENHMF && medium->hEnhMetaFile) {
                data.bytes.resize(::GetEnhMetaFileBits(medium->hEnhMetaFile, 0, nullptr));
                ::GetEnhMetaFileBits(medium->hEnhMetaFile, static_cast<UINT>(data.bytes.size()),
                                     data.bytes.data());
            } else {
                data.nullHandle = true;
            }
        }
        log_->push_back(data);
        return S_OK;
    }

private:
    std::wstring name_;
    std::vector<ReceivedData>* log_;
};
