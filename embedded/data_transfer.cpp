// What the drawing serves and accepts as data: its picture for display and
// printing, its native document for the drawing application, itself as a
// storage, and new native documents and pictures coming back from an edit.

#include "embedded/embedded_object.h"

#include "embedded/clipboard_formats.h"
#include "embedded/metafile_picture.h"
#include "embedded/native_data.h"

using Microsoft::WRL::ComPtr;

namespace {

bool IsStorageFormat(CLIPFORMAT format)
{
    return format == RegisterEmbedSourceFormat() || format == RegisterEmbeddedObjectFormat();
}

// Counts a data call under way for as long as the scope lasts.
void ClearMedium(STGMEDIUM* medium)
{
    medium->tymed = TYMED_NULL;
    medium->hGlobal = nullptr;
    medium->pUnkForRelease = nullptr;
}

} // namespace

STDMETHODIMP CEmbeddedObject::QueryGetData(FORMATETC* pformatetc)
{
    if (!pformatetc)
        return E_INVALIDARG;
    if (!(pformatetc->dwAspect & DVASPECT_CONTENT))
        return DV_E_DVASPECT;
    CLIPFORMAT format = pformatetc->cfFormat;
    DWORD tymed = pformatetc->tymed;
    // The enhanced metafile is accepted from the editor but not served: containers
    // take the metafile picture.
    if (format == CF_ENHMETAFILE)
        return DV_E_FORMATETC;
    if (IsStorageFormat(format))
        return (tymed & TYMED_ISTORAGE) ? S_OK : DV_E_FORMATETC;
    if (format == CF_METAFILEPICT)
        return (tymed & TYMED_MFPICT) ? S_OK : DV_E_FORMATETC;
    if (format == RegisterNativeDataFormat())
        return (tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    return DV_E_FORMATETC;
}

STDMETHODIMP CEmbeddedObject::GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium)
{
    if (!pformatetcIn || !pmedium)
        return E_INVALIDARG;
    ClearMedium(pmedium);
    CLIPFORMAT nativeFormat = RegisterNativeDataFormat();
    if (QueryGetData(pformatetcIn) != S_OK)
        return DV_E_FORMATETC;

    if (pformatetcIn->cfFormat == CF_METAFILEPICT) {
        // Converted afresh each time: the picture may have changed since.
        HGLOBAL block = nullptr;
        if (FAILED(MakeMetafilePict(m_hEnhMetaFile.get(), &block)))
            return E_UNEXPECTED;
        pmedium->tymed = TYMED_MFPICT;
        pmedium->hMetaFilePict = block;
        return S_OK;
    }
    if (pformatetcIn->cfFormat == nativeFormat) {
        UniqueHGlobal copy;
        if (FAILED(MakeNativeDataMedium(m_hNativeData.get(), &copy)))
            return E_UNEXPECTED;
        pmedium->tymed = TYMED_HGLOBAL;
        pmedium->hGlobal = copy.release();
        return S_OK;
    }
    // The storage formats are written only into a caller's storage.
    return E_UNEXPECTED;
}

STDMETHODIMP CEmbeddedObject::GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium)
{
    if (!pformatetc || !IsStorageFormat(pformatetc->cfFormat) || !(pformatetc->tymed & TYMED_ISTORAGE))
        return DV_E_FORMATETC;
    if (!pmedium)
        return E_INVALIDARG;
    // The medium's own type says what its union holds: only a storage is written
    // into. Anything else (a global block of the caller's bytes, a GDI handle)
    // read as a storage would be called through as an object. The medium stays
    // the caller's, its release interface too.
    if (pmedium->tymed != TYMED_ISTORAGE || !pmedium->pstg)
        return DV_E_FORMATETC;
    if (FAILED(WriteContentsToStorage(pmedium->pstg)))
        return DV_E_FORMATETC;
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CEmbeddedObject::SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease)
{
    CLIPFORMAT nativeFormat = RegisterNativeDataFormat();
    // No format and no medium is the editor's signal that the edit ended without
    // new data; one without the other is a caller's mistake.
    bool closeSignal = !pformatetc && !pmedium;
    if (!closeSignal) {
        if (!pformatetc || !pmedium)
            return E_INVALIDARG;
        bool content = pformatetc->dwAspect == DVASPECT_CONTENT;
        if (content && pformatetc->cfFormat == nativeFormat && pmedium->tymed == TYMED_HGLOBAL) {
            UniqueHGlobal copy;
            HRESULT hr = CopyNativeData(pmedium->hGlobal, &copy);
            if (FAILED(hr))
                return hr;
            m_hNativeData = std::move(copy);
        } else if (content && pformatetc->cfFormat == CF_ENHMETAFILE && pmedium->tymed == TYMED_ENHMF) {
            // No metafile at all is a drawing without a picture. A malformed
            // one is refused like a format not taken: it would hang the next
            // conversion for every container of the server.
            UniqueEnhMetaFile copy;
            if (pmedium->hEnhMetaFile) {
                HRESULT hr = CopyWellFormedEnhMetaFile(pmedium->hEnhMetaFile, &copy);
                if (FAILED(hr))
                    return hr;
            }
            ReplacePicture(std::move(copy));
        } else {
            return DV_E_FORMATETC;
        }
        if (fRelease)
            ::ReleaseStgMedium(pmedium);
    }
    m_bDirty = 1;
    // New data, or the signal, ends the edit. The editor hands an edit back in
    // two calls, the native document and then the picture: the first ends the
    // edit, the second still belongs to it.
    if (m_bEditing || m_editEnd != NoEditEnd)
        NoteEditEnded(closeSignal ? EditEndedWithoutData : EditEndedWithData);
    {
        CallDepthScope scope(&m_nDataCallDepth);
        SendDataChange();
    }
    m_bEditing = FALSE;
    ResumeEditEnd();
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::EnumFormatEtc(DWORD, IEnumFORMATETC**)
{
    return E_NOTIMPL;
}

STDMETHODIMP CEmbeddedObject::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                      DWORD* pdwConnection)
{
    if (!m_spDataAdviseHolder) {
        HRESULT hr = ::CreateDataAdviseHolder(&m_spDataAdviseHolder);
        if (FAILED(hr))
            return hr;
    }
    return m_spDataAdviseHolder->Advise(static_cast<IDataObject*>(this), pformatetc, advf, pAdvSink,
                                        pdwConnection);
}

STDMETHODIMP CEmbeddedObject::DUnadvise(DWORD dwConnection)
{
    if (!m_spDataAdviseHolder)
        return OLE_E_NOCONNECTION;
    return m_spDataAdviseHolder->Unadvise(dwConnection);
}

STDMETHODIMP CEmbeddedObject::EnumDAdvise(IEnumSTATDATA** ppenumAdvise)
{
    if (!ppenumAdvise)
        return E_POINTER;
    *ppenumAdvise = nullptr;
    if (!m_spDataAdviseHolder)
        return E_FAIL;
    return m_spDataAdviseHolder->EnumAdvise(ppenumAdvise);
}

void CEmbeddedObject::SendDataChange()
{
    // A sink may unadvise from inside the notification: the holder is kept alive
    // by a reference of its own for the call.
    ComPtr<IDataAdviseHolder> holder = m_spDataAdviseHolder;
    if (!holder)
        return;
    ComPtr<IDataObject> self;
    if (FAILED(static_cast<IDataObject*>(this)->QueryInterface(IID_PPV_ARGS(&self))))
        return;
    holder->SendOnDataChange(self.Get(), 0, 0);
}
