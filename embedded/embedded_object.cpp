#include "embedded/embedded_object.h"

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

// The object's behaviour is not built yet: every operation reports E_NOTIMPL.
STDMETHODIMP CEmbeddedObject::SetClientSite(IOleClientSite*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::GetClientSite(IOleClientSite**) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::SetHostNames(LPCOLESTR, LPCOLESTR) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::Close(DWORD) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::GetMoniker(DWORD, DWORD, IMoniker**) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::GetClipboardData(DWORD, IDataObject**) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::EnumVerbs(IEnumOLEVERB**) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::Update() { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::IsUpToDate() { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::GetUserClassID(CLSID*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::GetUserType(DWORD, LPOLESTR*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::SetExtent(DWORD, SIZEL*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::GetExtent(DWORD, SIZEL*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::Advise(IAdviseSink*, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::Unadvise(DWORD) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::EnumAdvise(IEnumSTATDATA**) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::GetMiscStatus(DWORD, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

STDMETHODIMP CEmbeddedObject::GetData(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::QueryGetData(FORMATETC*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::EnumFormatEtc(DWORD, IEnumFORMATETC**) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::DUnadvise(DWORD) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::EnumDAdvise(IEnumSTATDATA**) { return E_NOTIMPL; }

STDMETHODIMP CEmbeddedObject::GetClassID(CLSID*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::IsDirty() { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::InitNew(IStorage*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::Load(IStorage*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::Save(IStorage*, BOOL) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::SaveCompleted(IStorage*) { return E_NOTIMPL; }
STDMETHODIMP CEmbeddedObject::HandsOffStorage() { return E_NOTIMPL; }

HRESULT CEmbeddedObject::SetContents(HENHMETAFILE, HGLOBAL) { return E_NOTIMPL; }
