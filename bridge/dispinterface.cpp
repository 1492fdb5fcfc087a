#include "bridge/dispinterface.h"

const InterfaceMapEntry* CDispinterface::GetInterfaceTable()
{
    static const InterfaceMapEntry table[] = {
        {&IID_IQuillmorphOLE, InterfaceOffset<CDispinterface, IQuillmorphOLE>(), QUILLMORPH_SIMPLE_ENTRY},
        {&IID_IDispatch, InterfaceOffset<CDispinterface, IQuillmorphOLE>(), QUILLMORPH_SIMPLE_ENTRY},
        {nullptr, 0, nullptr},
    };
    return table;
}

// The dispatch machinery and the six methods are not built yet.
STDMETHODIMP CDispinterface::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP CDispinterface::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP CDispinterface::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP CDispinterface::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}
STDMETHODIMP CDispinterface::TripForward(VARIANT, VARIANT, VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP CDispinterface::TripBack(VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP CDispinterface::Activate(VARIANT) { return E_NOTIMPL; }
STDMETHODIMP CDispinterface::UpdateAndClose(VARIANT, VARIANT, VARIANT) { return E_NOTIMPL; }
STDMETHODIMP CDispinterface::Close(VARIANT) { return E_NOTIMPL; }
STDMETHODIMP CDispinterface::CloseAll() { return E_NOTIMPL; }
