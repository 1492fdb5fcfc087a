// The verbs of the drawing: opening it hands it to the drawing application
// through the server's automation class; hiding and closing tell the container.

#include "embedded/embedded_object.h"

using Microsoft::WRL::ComPtr;

namespace {

// Two sites are the same when both are absent or both have one COM identity.
bool SameObject(IUnknown* a, IUnknown* b)
{
    if (!a || !b)
        return a == b;
    ComPtr<IUnknown> identityA;
    ComPtr<IUnknown> identityB;
    if (FAILED(a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identityA.GetAddressOf()))) ||
        FAILED(b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identityB.GetAddressOf()))))
        return false;
    return identityA.Get() == identityB.Get();
}

} // namespace

STDMETHODIMP CEmbeddedObject::DoVerb(LONG iVerb, LPMSG, IOleClientSite* pActiveSite, LONG, HWND, LPCRECT)
{
    if (!SameObject(pActiveSite, m_spClientSite.Get()))
        return E_UNEXPECTED;
    if (iVerb > 0) {
        // Verbs beyond the registered ones open the drawing all the same.
        DoVerbPrimary();
        return OLEOBJ_S_INVALIDVERB;
    }
    switch (iVerb) {
    case OLEIVERB_PRIMARY:
        return DoVerbPrimary();
    case OLEIVERB_SHOW:
        return DoVerbShow();
    case OLEIVERB_OPEN:
        return DoVerbOpen();
    case OLEIVERB_HIDE:
        return DoVerbHide();
    case OLEIVERB_DISCARDUNDOSTATE:
        // The object keeps no undo state.
        return S_OK;
    default:
        // No in-place activation, no properties: the drawing has no window here.
        return E_NOTIMPL;
    }
}

HRESULT CEmbeddedObject::DoVerbPrimary()
{
    // A drawing whose storage is gone for good is not opened by a double click.
    if (m_bCorruptionReported)
        return OLEOBJ_S_CANNOT_DOVERB_NOW;
    return DoVerbShow();
}

HRESULT CEmbeddedObject::DoVerbOpen()
{
    return DoVerbShow();
}

HRESULT CEmbeddedObject::DoVerbHide()
{
    if (m_spClientSite)
        m_spClientSite->OnShowWindow(FALSE);
    return S_OK;
}

HRESULT CEmbeddedObject::DoVerbShow()
{
    // The drawing is already with the editor: no second editor is started.
    if (m_bEditing)
        return S_OK;
    // Marked before the container hears of it: a container that opens the
    // drawing again from inside ShowObject or OnShowWindow must not start a
    // second editor on it.
    m_bEditing = TRUE;
    ComPtr<IOleClientSite> site = m_spClientSite;
    if (site) {
        site->ShowObject();
        site->OnShowWindow(TRUE);
    }
    HRESULT hr = HandToEditor();
    // A hand-over that did not happen leaves the drawing free to be opened again.
    if (FAILED(hr))
        m_bEditing = FALSE;
    return hr;
}

HRESULT CEmbeddedObject::HandToEditor()
{
    ComPtr<IUnknown> unknown;
    HRESULT hr = ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_ALL, IID_IUnknown,
                                    reinterpret_cast<void**>(unknown.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    hr = ::OleRun(unknown.Get());
    if (FAILED(hr))
        return hr;
    ComPtr<IQuillmorphOLE> automation;
    hr = unknown.As(&automation);
    if (FAILED(hr) && hr != E_NOINTERFACE)
        return hr;
    unknown.Reset();
    if (!automation)
        return E_POINTER;

    // The automation class files the drawing under a reference of its own; the
    // one handed over here is the caller's and goes when the call returns.
    ComPtr<IUnknown> self;
    hr = static_cast<IOleObject*>(this)->QueryInterface(IID_IUnknown,
                                                        reinterpret_cast<void**>(self.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    VARIANT drawing;
    ::VariantInit(&drawing);
    drawing.vt = VT_UNKNOWN;
    drawing.punkVal = self.Get();
    hr = automation->Activate(drawing);
    return FAILED(hr) ? hr : S_OK;
}

STDMETHODIMP CEmbeddedObject::Close(DWORD dwSaveOption)
{
    ComPtr<IOleClientSite> site = m_spClientSite;
    ComPtr<IOleAdviseHolder> holder = m_spOleAdviseHolder;
    if (dwSaveOption == OLECLOSE_SAVEIFDIRTY || dwSaveOption == OLECLOSE_PROMPTSAVE) {
        // The container decides whether anything needs saving; it is asked
        // whether or not the drawing reports itself dirty.
        if (site)
            site->SaveObject();
        if (holder)
            holder->SendOnSave();
    }
    if (site)
        site->OnShowWindow(FALSE);
    if (holder)
        holder->SendOnClose();
    m_bEditing = FALSE;
    return S_OK;
}
