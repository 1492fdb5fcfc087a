// Ending edits: the drawing application hands an edited drawing back, or gives
// the edit up, by the object key that Activate put on its command line.

#include <wrl/client.h>

#include "bridge/byte_array.h"
#include "bridge/dispinterface.h"
#include "bridge/native_data_format.h"
#include "bridge/open_edits.h"

using Microsoft::WRL::ComPtr;

namespace {

// SetData with nothing at all: the drawing takes it as the end of its edit.
void SendCloseSignal(IUnknown* object)
{
    ComPtr<IDataObject> data;
    if (SUCCEEDED(object->QueryInterface(IID_PPV_ARGS(&data))))
        data->SetData(nullptr, nullptr, FALSE);
}

} // namespace

STDMETHODIMP CDispinterface::UpdateAndClose(VARIANT f, VARIANT g, VARIANT h)
{
    LONG key = 0;
    if (!ObjectKeyFromVariant(h, &key) || !s_openObjects.Find(key))
        return S_OK;

    // Both arrays are checked before anything is handed over: a bad one leaves the
    // edit open, to be ended by a later call.
    UniqueHGlobal block;
    UniqueEnhMetaFile metafile;
    HRESULT hr = ReadDrawingArguments(f, g, &block, &metafile);
    if (FAILED(hr))
        return hr;

    // The entry leaves the table before the drawing is called, so that whatever
    // its container does in answer cannot meet a half-ended edit. Its temporary
    // files go when the call is done.
    OpenEdit edit = s_openObjects.Take(key);

    FORMATETC nativeFormat = NativeDataFormatEtc();
    STGMEDIUM nativeMedium = {};
    nativeMedium.tymed = TYMED_HGLOBAL;
    nativeMedium.hGlobal = block.get();
    nativeMedium.pUnkForRelease = nullptr;

    FORMATETC pictureFormat = {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
    STGMEDIUM pictureMedium = {};
    pictureMedium.tymed = TYMED_ENHMF;
    pictureMedium.hEnhMetaFile = metafile.get();
    pictureMedium.pUnkForRelease = nullptr;

    ComPtr<IDataObject> data;
    if (SUCCEEDED(edit.object->QueryInterface(IID_PPV_ARGS(&data)))) {
        // The drawing copies what it keeps; both media stay ours and go with their owners.
        data->SetData(&nativeFormat, &nativeMedium, FALSE);
        data->SetData(&pictureFormat, &pictureMedium, FALSE);
    }
    return S_OK;
}

STDMETHODIMP CDispinterface::Close(VARIANT i)
{
    LONG key = 0;
    if (!ObjectKeyFromVariant(i, &key))
        return S_OK;
    OpenEdit edit = s_openObjects.Take(key);
    if (edit.object)
        SendCloseSignal(edit.object.Get());
    return S_OK;
}

STDMETHODIMP CDispinterface::CloseAll()
{
    // Taken out whole first: an edit that a container opens while the others are
    // being closed stays in the table.
    OpenObjectTable::Entries all = s_openObjects.TakeAll();
    for (auto& entry : all) {
        OpenEdit edit = std::move(entry.second);
        if (edit.object)
            SendCloseSignal(edit.object.Get());
    }
    return S_OK;
}
