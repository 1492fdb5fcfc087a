#include "server/class_factory.h"

const InterfaceMapEntry* CComClassFactory::GetInterfaceTable()
{
    static const InterfaceMapEntry table[] = {
        {&IID_IClassFactory, InterfaceOffset<CComClassFactory, IClassFactory>(), QUILLMORPH_SIMPLE_ENTRY},
        {nullptr, 0, nullptr},
    };
    return table;
}

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
    auto* factory = new (std::nothrow) CComObjectNoLock<CComClassFactory>();
    if (!factory)
        return E_OUTOFMEMORY;
    factory->m_pfnCreateInstance = reinterpret_cast<InstanceCreatorFunc>(context);
    HRESULT hr = factory->m_critsec.Init();
    if (SUCCEEDED(hr))
        hr = factory->InitialConstruct();
    if (SUCCEEDED(hr))
        hr = factory->FinalConstruct();
    if (hr == S_OK)
        hr = factory->QueryInterface(riid, ppv);
    if (hr != S_OK)
        delete factory;
    return hr;
}
