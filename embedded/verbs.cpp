// The verbs of the drawing: opening it hands it to the drawing application
// through the server's automation class; hiding, closing and the end of an edit
// tell the container.

#include "embedded/embedded_object.h"

#include <utility>

#include "server/deferred_call.h"

using Microsoft::WRL::ComPtr;

namespace {

// Two sites are the same when both are absent or both have one COM identity.
bool SameObject(IUnknown* a, IUnknown* b)
{
    if (!a || !b)
        return a == b;
    ComPtr<IUnknown> identityA;
    ComPtr<IUnknown> identityB;
    if (FAILED(a->QueryInterface(IID_PPV_ARGS(&identityA))) ||
        FAILED(b->QueryInterface(IID_PPV_ARGS(&identityB))))
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
    // Held for the call: a container may let the site go from inside it.
    ComPtr<IOleClientSite> site = m_spClientSite;
    if (site)
        site->OnShowWindow(FALSE);
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
    HRESULT hr = ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&unknown));
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
    hr = static_cast<IOleObject*>(this)->QueryInterface(IID_PPV_ARGS(&self));
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
    // The container has just been told all an ended edit would tell it.
    m_editEnd = NoEditEnd;
    return S_OK;
}

void CEmbeddedObject::NoteEditEnded(EditEnd end)
{
    if (end > m_editEnd)
        m_editEnd = end;
}

void CEmbeddedObject::PostEditEnd()
{
    if (m_bEditEndPosted)
        return;
    // Told later, not from inside the editor's call: that call may not have
    // handed over everything yet, and the container's save calls back into
    // the drawing. The posted call keeps the drawing alive until it has run.
    // Should posting fail, the container is not told; the drawing stays dirty
    // and the container's own save takes the edit.
    m_bEditEndPosted =
        SUCCEEDED(PostDeferredCall(static_cast<IOleObject*>(this), [this] { TellContainerEditEnded(); }));
}

void CEmbeddedObject::TellContainerEditEnded()
{
    m_bEditEndPosted = false;
    // A modal loop inside a data call or a save got here first: the end is
    // posted again once that is done.
    if (EditEndMustWait())
        return;
    const EditEnd end = std::exchange(m_editEnd, NoEditEnd);
    ComPtr<IOleClientSite> site = m_spClientSite;
    if (end == NoEditEnd || !site)
        return;
    // The container writes the drawing, new picture and document together, into
    // its storage (calling back into Save and SaveCompleted while it does), and
    // the drawing is clean. A container that does not save leaves it dirty:
    // nothing is lost.
    if (end == EditEndedWithData)
        site->SaveObject();
    // Unless the drawing has been opened again meanwhile, its window is gone.
    if (!m_bEditing)
        site->OnShowWindow(FALSE);
}

bool CEmbeddedObject::EditEndMustWait() const
{
    return m_nDataCallDepth > 0 || m_nSaveDepth > 0 || m_nStorageState == StorageNoScribble;
}

void CEmbeddedObject::ResumeEditEnd()
{
    if (m_editEnd != NoEditEnd && !EditEndMustWait())
        PostEditEnd();
}
