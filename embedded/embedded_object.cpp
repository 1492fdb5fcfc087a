#include "embedded/embedded_object.h"

#include "embedded/metafile_picture.h"

const InterfaceMapEntry* CEmbeddedObject::GetInterfaceTable()
{
    static const InterfaceMapEntry table[] = {
        {&IID_IOleObject, InterfaceOffset<CEmbeddedObject, IOleObject>(), QUILLMORPH_SIMPLE_ENTRY},
        {&IID_IDataObject, InterfaceOffset<CEmbeddedObject, IDataObject>(), QUILLMORPH_SIMPLE_ENTRY},
        {&IID_IPersistStorage, InterfaceOffset<CEmbeddedObject, IPersistStorage>(), QUILLMORPH_SIMPLE_ENTRY},
        {&IID_IPersist, InterfaceOffset<CEmbeddedObject, IPersistStorage>(), QUILLMORPH_SIMPLE_ENTRY},
        {nullptr, 0, nullptr},
    };
    return table;
}

CEmbeddedObject::CEmbeddedObject() : m_clsidStorage(CLSID_QuillmorphEmbeddedObject) {}

// The members go in reverse order of declaration: the storage, the data advise
// holder, the OLE advise holder, the client site, then the native data and the
// picture.
CEmbeddedObject::~CEmbeddedObject() = default;

STDMETHODIMP CEmbeddedObject::SetClientSite(IOleClientSite* pClientSite)
{
    m_spClientSite = pClientSite;
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::GetClientSite(IOleClientSite** ppClientSite)
{
    if (!ppClientSite)
        return E_POINTER;
    *ppClientSite = m_spClientSite.Get();
    if (*ppClientSite)
        (*ppClientSite)->AddRef();
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::SetHostNames(LPCOLESTR, LPCOLESTR)
{
    return S_OK;
}
STDMETHODIMP CEmbeddedObject::SetMoniker(DWORD, IMoniker*)
{
    return E_NOTIMPL;
}
STDMETHODIMP CEmbeddedObject::GetMoniker(DWORD, DWORD, IMoniker**)
{
    return E_NOTIMPL;
}
STDMETHODIMP CEmbeddedObject::InitFromData(IDataObject*, BOOL, DWORD)
{
    return E_NOTIMPL;
}
STDMETHODIMP CEmbeddedObject::GetClipboardData(DWORD, IDataObject**)
{
    return E_NOTIMPL;
}

STDMETHODIMP CEmbeddedObject::EnumVerbs(IEnumOLEVERB** ppEnumOleVerb)
{
    if (!ppEnumOleVerb)
        return E_POINTER;
    // The verbs are the ones the class registered.
    return ::OleRegEnumVerbs(CLSID_QuillmorphEmbeddedObject, ppEnumOleVerb);
}

STDMETHODIMP CEmbeddedObject::Update()
{
    return S_OK;
}
STDMETHODIMP CEmbeddedObject::IsUpToDate()
{
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::GetUserClassID(CLSID* pClsid)
{
    if (!pClsid)
        return E_POINTER;
    // Always this class, whatever class a loaded storage named.
    *pClsid = CLSID_QuillmorphEmbeddedObject;
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType)
{
    return ::OleRegGetUserType(CLSID_QuillmorphEmbeddedObject, dwFormOfType, pszUserType);
}

// The drawing's size is the picture's; a container cannot change it.
STDMETHODIMP CEmbeddedObject::SetExtent(DWORD, SIZEL*)
{
    return E_FAIL;
}

STDMETHODIMP CEmbeddedObject::GetExtent(DWORD dwDrawAspect, SIZEL* psizel)
{
    if (dwDrawAspect != DVASPECT_CONTENT)
        return E_FAIL;
    if (!psizel)
        return E_POINTER;
    *psizel = m_sizeExtent;
    return S_OK;
}

STDMETHODIMP CEmbeddedObject::Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection)
{
    if (!pdwConnection)
        return E_POINTER;
    *pdwConnection = 0;
    // The holder would take a null sink and call it later.
    if (!pAdvSink)
        return E_INVALIDARG;
    // The container's default handler advises as soon as the drawing runs; its
    // sink learns through the holder when the drawing saved and closed.
    if (!m_spOleAdviseHolder) {
        HRESULT hr = ::CreateOleAdviseHolder(&m_spOleAdviseHolder);
        if (FAILED(hr))
            return hr;
    }
    return m_spOleAdviseHolder->Advise(pAdvSink, pdwConnection);
}

STDMETHODIMP CEmbeddedObject::Unadvise(DWORD dwConnection)
{
    if (!m_spOleAdviseHolder)
        return E_FAIL;
    return m_spOleAdviseHolder->Unadvise(dwConnection);
}

STDMETHODIMP CEmbeddedObject::EnumAdvise(IEnumSTATDATA** ppenumAdvise)
{
    if (!ppenumAdvise)
        return E_POINTER;
    *ppenumAdvise = nullptr;
    if (!m_spOleAdviseHolder)
        return E_FAIL;
    return m_spOleAdviseHolder->EnumAdvise(ppenumAdvise);
}

STDMETHODIMP CEmbeddedObject::GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus)
{
    return ::OleRegGetMiscStatus(CLSID_QuillmorphEmbeddedObject, dwAspect, pdwStatus);
}

STDMETHODIMP CEmbeddedObject::SetColorScheme(LOGPALETTE*)
{
    return E_NOTIMPL;
}

void CEmbeddedObject::ReplacePicture(UniqueEnhMetaFile picture)
{
    m_hEnhMetaFile = std::move(picture);
    // The drawing is as large as its picture's frame (in 0.01 mm); a drawing
    // without a picture has no size.
    m_sizeExtent = PictureExtent(m_hEnhMetaFile.get());
}
