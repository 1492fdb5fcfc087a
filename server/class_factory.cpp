#include "server/class_factory.h"

STDMETHODIMP CComClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // An object made now would end with the process; the caller's runtime
    // starts a new server on this answer.
    if (s_pModule->IsStopping())
        return CO_E_SERVER_STOPPING;
    // An outer object may only ask for IUnknown; the instance creator then
    // refuses aggregation itself.
    if (outer && !InlineIsEqualGUID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return m_pfnCreateInstance(outer, riid, ppv);
}

STDMETHODIMP CComClassFactory::LockServer(BOOL lock)
{
    if (lock)
        s_pModule->Lock();
    else
        s_pModule->Unlock();
    return S_OK;
}

HRESULT WINAPI CreateClassFactory(void* context, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    std::unique_ptr<CComObjectNoLock<CComClassFactory>> factory;
    HRESULT hr = ConstructObject(&factory);
    if (hr != S_OK)
        return hr;
    factory->m_pfnCreateInstance = reinterpret_cast<InstanceCreatorFunc>(context);
    return HandOutObject(std::move(factory), riid, ppv);
}
