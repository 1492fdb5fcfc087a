#pragma once

// The drawing inside a container's document: its state and verbs, its storage
// and the data formats it serves and accepts.

#include "server/class_ids.h"
#include "server/com_object.h"
#include "server/handles.h"

#include <wrl/client.h>

// Where an object stands in the storage protocol of its container.
enum StorageState : LONG
{
    StorageUninitialized = 0,
    StorageNormal = 1,
    StorageNoScribble = 2,
    StorageHandsOff = 3,
};

// Counts a call of the drawing's as under way for as long as the scope lasts.
class CallDepthScope
{
public:
    explicit CallDepthScope(int* depth) : depth_(depth) { ++*depth_; }
    CallDepthScope(const CallDepthScope&) = delete;
    CallDepthScope& operator=(const CallDepthScope&) = delete;
    ~CallDepthScope() { --*depth_; }

private:
    int* depth_;
};

class CEmbeddedObject : public CComObjectRootEx<CComSingleThreadModel>,
                        public CComCoClass<CEmbeddedObject, &CLSID_QuillmorphEmbeddedObject>,
                        public Implements<CEmbeddedObject, IOleObject, IDataObject, IPersistStorage,
                                          Through<IPersist, IPersistStorage>>
{
public:
    CEmbeddedObject();
    CEmbeddedObject(const CEmbeddedObject&) = delete;
    CEmbeddedObject& operator=(const CEmbeddedObject&) = delete;

    // IOleObject
    STDMETHOD(SetClientSite)(IOleClientSite* pClientSite) override;
    STDMETHOD(GetClientSite)(IOleClientSite** ppClientSite) override;
    STDMETHOD(SetHostNames)(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) override;
    STDMETHOD(Close)(DWORD dwSaveOption) override;
    STDMETHOD(SetMoniker)(DWORD dwWhichMoniker, IMoniker* pmk) override;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) override;
    STDMETHOD(InitFromData)(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) override;
    STDMETHOD(GetClipboardData)(DWORD dwReserved, IDataObject** ppDataObject) override;
    STDMETHOD(DoVerb)
    (LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent,
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
    STDMETHOD(DAdvise)
    (FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) override;
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

    // Gives a fresh object its content: a copy of the picture (the caller keeps
    // its handle), and the native-data block itself (the object takes ownership
    // of the block, also when the call fails). A null block is an empty document.
    HRESULT SetContents(HENHMETAFILE picture, HGLOBAL nativeData);

    // The same, taking the picture as well: for a caller that made the picture
    // only to hand it over, a copy of it would be work thrown away.
    void AdoptContents(UniqueEnhMetaFile picture, UniqueHGlobal nativeData);

    // Writes the "EMF" and "ZRN" streams, and nothing else, into a storage.
    HRESULT WriteContentsToStorage(IStorage* storage);

    // Back to the state of a fresh object, keeping the picture, the native data
    // and the held storage.
    void ResetPersistentState();

    virtual ~CEmbeddedObject();

private:
    // Verbs.
    HRESULT DoVerbPrimary();
    HRESULT DoVerbShow();
    HRESULT DoVerbOpen();
    HRESULT DoVerbHide();
    HRESULT HandToEditor();

    // Stream writers and readers. The readers deliver new content without
    // touching the object, so that a failed load leaves the drawing as it was.
    HRESULT SaveContents(IStorage* storage);
    HRESULT WritePicture(IStream* stream);
    HRESULT WriteNativeData(IStream* stream);
    static HRESULT ReadPicture(IStream* stream, UniqueEnhMetaFile* picture);
    static HRESULT ReadNativeData(IStream* stream, UniqueHGlobal* nativeData);

    // Replaces the picture and keeps the reported extent in step with it.
    void ReplacePicture(UniqueEnhMetaFile picture);
    void ReportCorruption();
    void SendDataChange();

    // How an edit the container was told about ended, as far as the container
    // has not heard of it yet.
    enum EditEnd
    {
        NoEditEnd,
        EditEndedWithoutData,
        EditEndedWithData,
    };
    // Notes that the edit ended (or that an ended edit got its data); the
    // container is told once the data call that ended it has returned.
    void NoteEditEnded(EditEnd end);
    void PostEditEnd();
    // The deferred part: SaveObject when new data came, then OnShowWindow(FALSE).
    void TellContainerEditEnded();
    // True while the container must not be told yet: a data call's notifications
    // are under way (a sink may call back in), or the container is saving the
    // drawing (inside Save, or between Save and SaveCompleted), where a
    // SaveObject would nest a second save of the drawing inside the first.
    bool EditEndMustWait() const;
    // Posts the end of an ended edit once nothing holds it any more.
    void ResumeEditEnd();

    // The picture and the native document. An empty document is held as no block
    // at all: the platform may report a zero-byte block as one byte long.
    UniqueEnhMetaFile m_hEnhMetaFile;
    UniqueHGlobal m_hNativeData;
    BOOL m_bEditing = FALSE;
    Microsoft::WRL::ComPtr<IOleClientSite> m_spClientSite;
    Microsoft::WRL::ComPtr<IOleAdviseHolder> m_spOleAdviseHolder;
    SIZEL m_sizeExtent = {0, 0};
    Microsoft::WRL::ComPtr<IDataAdviseHolder> m_spDataAdviseHolder;
    Microsoft::WRL::ComPtr<IStorage> m_spStorage;
    LONG m_nStorageState = StorageUninitialized;
    BOOL m_bConvertPending = FALSE;
    CLSID m_clsidStorage;
    LONG m_bDirty = 1;
    BOOL m_bCorruptionReported = FALSE;
    EditEnd m_editEnd = NoEditEnd;
    bool m_bEditEndPosted = false;
    // SetData calls under way on this thread (a sink may call back in): the
    // container is told of an ended edit only once none is.
    int m_nDataCallDepth = 0;
    // Save calls under way: writing into a container's storage lets the
    // thread's loop run, and with it the end of an edit.
    int m_nSaveDepth = 0;
};
