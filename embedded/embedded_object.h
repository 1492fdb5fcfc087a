#pragma once

// The drawing inside a container's document: its state and verbs, its storage
// and the data formats it serves and accepts.

#include "server/class_ids.h"
#include "server/com_object.h"
#include "server/handles.h"

#include <wrl/client.h>

class CEmbeddedObject : public CComObjectRootEx<CComSingleThreadModel>,
                        public CComCoClass<CEmbeddedObject, &CLSID_QuillmorphEmbeddedObject>,
                        public IOleObject,
                        public IDataObject,
                        public IPersistStorage
{
public:
    static const InterfaceMapEntry* GetInterfaceTable();

    // IOleObject
    STDMETHOD(SetClientSite)(IOleClientSite* pClientSite) override;
    STDMETHOD(GetClientSite)(IOleClientSite** ppClientSite) override;
    STDMETHOD(SetHostNames)(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) override;
    STDMETHOD(Close)(DWORD dwSaveOption) override;
    STDMETHOD(SetMoniker)(DWORD dwWhichMoniker, IMoniker* pmk) override;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) override;
    STDMETHOD(InitFromData)(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) override;
    STDMETHOD(GetClipboardData)(DWORD dwReserved, IDataObject** ppDataObject) override;
    STDMETHOD(DoVerb)(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent,
                      LPCRECT lprcPosRect) override;
    STDMETHOD(EnumVerbs)(IEnumOLEVERB** ppEnumOleVerb) override;
    STDMETHOD(Update)() override;
    STDMETHOD(IsUpToDate)() override;
    STDMETHOD(GetUserClassID)(CLSID* pClsid) override;
    STDMETHOD(GetUserType)(DWORD dwFormOfType, LPOLESTR* pszUserType) override;
    STDMETHOD(SetExtent)(DWORD dwDrawAspect, SIZEL* psizel) override;
    STDMETHOD(GetExtent)(DWORD dwDrawAspect, SIZEL* psizel) override;
    STDMETHOD(Advise)(IAdviseSink* pAdvSink, DWORD* pdwConnection) override;
    STDMETHOD(Unadvise)(DWORD dwConnection) override;
    STDMETHOD(EnumAdvise)(IEnumSTATDATA** ppenumAdvise) override;
    STDMETHOD(GetMiscStatus)(DWORD dwAspect, DWORD* pdwStatus) override;
    STDMETHOD(SetColorScheme)(LOGPALETTE* pLogpal) override;

    // IDataObject
    STDMETHOD(GetData)(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
    STDMETHOD(GetDataHere)(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
    STDMETHOD(QueryGetData)(FORMATETC* pformatetc) override;
    STDMETHOD(GetCanonicalFormatEtc)(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) override;
    STDMETHOD(SetData)(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override;
    STDMETHOD(EnumFormatEtc)(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override;
    STDMETHOD(DAdvise)(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) override;
    STDMETHOD(DUnadvise)(DWORD dwConnection) override;
    STDMETHOD(EnumDAdvise)(IEnumSTATDATA** ppenumAdvise) override;

    // IPersist / IPersistStorage
    STDMETHOD(GetClassID)(CLSID* pClassID) override;
    STDMETHOD(IsDirty)() override;
    STDMETHOD(InitNew)(IStorage* pStg) override;
    STDMETHOD(Load)(IStorage* pStg) override;
    STDMETHOD(Save)(IStorage* pStgSave, BOOL fSameAsLoad) override;
    STDMETHOD(SaveCompleted)(IStorage* pStgNew) override;
    STDMETHOD(HandsOffStorage)() override;

    // Gives a fresh object its content: a copy of the picture, and the native-data
    // block itself (the object takes ownership of the block).
    HRESULT SetContents(HENHMETAFILE picture, HGLOBAL nativeData);

    virtual ~CEmbeddedObject() = default;
};
