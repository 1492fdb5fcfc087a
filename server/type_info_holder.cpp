#include "server/type_info_holder.h"

#include <new>
#include <utility>

#include <wrl/client.h>

#include "server/module.h"

using Microsoft::WRL::ComPtr;

HRESULT CComTypeInfoHolder::EnsureTI(LCID lcid)
{
    if (m_pInfo && m_pMap)
        return S_OK;
    // What is loaded is given back by the module's termination.
    if (!s_pModule)
        return E_UNEXPECTED;
    SrwExclusiveGuard guard(m_lock);
    HRESULT hr = S_OK;
    if (!m_pInfo)
        hr = LoadTypeInfo(lcid);
    if (SUCCEEDED(hr) && m_pInfo && !m_pMap)
        hr = LoadNameCache();
    return hr;
}

HRESULT CComTypeInfoHolder::LoadTypeInfo(LCID lcid)
{
    ComPtr<ITypeLib> library;
    HRESULT hr = ::LoadRegTypeLib(*m_plibid, m_wMajor, m_wMinor, lcid, &library);
    if (FAILED(hr))
        return hr;
    ComPtr<ITypeInfo> info;
    hr = library->GetTypeInfoOfGuid(*m_pguid, &info);
    if (FAILED(hr))
        return hr;
    // Prefer the richer interface when the library offers it; callers only see ITypeInfo.
    ComPtr<ITypeInfo2> info2;
    if (SUCCEEDED(info.As(&info2)))
        m_pInfo.reset(info2.Detach());
    else
        m_pInfo.reset(info.Detach());
    s_pModule->AddTerminationHook(&CComTypeInfoHolder::Cleanup, reinterpret_cast<DWORD_PTR>(this));
    return S_OK;
}

HRESULT CComTypeInfoHolder::LoadNameCache()
{
    ITypeInfo* info = m_pInfo.get();
    TypeAttrGuard attr(info);
    if (FAILED(info->GetTypeAttr(attr.put())))
        return S_OK; // no cache: names are then resolved by the type information alone
    const int count = attr->cFuncs;
    std::unique_ptr<NameCacheEntry[]> map(new (std::nothrow) NameCacheEntry[count > 0 ? count : 1]);
    if (!map)
        return E_OUTOFMEMORY;
    for (int index = 0; index < count; ++index) {
        FuncDescGuard desc(info);
        if (FAILED(info->GetFuncDesc(static_cast<UINT>(index), desc.put())))
            continue;
        NameCacheEntry& entry = map[index];
        if (SUCCEEDED(info->GetDocumentation(desc->memid, entry.bstrName.put(), nullptr, nullptr, nullptr)) &&
            entry.bstrName) {
            entry.nLength = static_cast<int>(::SysStringLen(entry.bstrName.get()));
            entry.id = desc->memid;
        }
    }
    m_pMap = std::move(map);
    m_nCount = count;
    return S_OK;
}

void __stdcall CComTypeInfoHolder::Cleanup(DWORD_PTR holder)
{
    auto* self = reinterpret_cast<CComTypeInfoHolder*>(holder);
    self->m_pInfo.reset();
    self->m_pMap.reset();
    self->m_nCount = 0;
}

HRESULT CComTypeInfoHolder::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo)
{
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    HRESULT hr = S_OK;
    if (!m_pInfo)
        hr = EnsureTI(lcid);
    if (!m_pInfo)
        return FAILED(hr) ? hr : E_UNEXPECTED;
    m_pInfo.get()->AddRef();
    *ppTInfo = m_pInfo.get();
    return S_OK;
}

HRESULT CComTypeInfoHolder::GetIDsOfNames(REFIID /*riid*/, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgDispId)
{
    HRESULT hr = EnsureTI(lcid);
    if (!m_pInfo)
        return FAILED(hr) ? hr : E_UNEXPECTED;
    if (m_pMap && cNames == 1 && rgszNames && rgszNames[0] && rgDispId) {
        const int length = static_cast<int>(::lstrlenW(rgszNames[0]));
        for (int index = m_nCount - 1; index >= 0; --index) {
            const NameCacheEntry& entry = m_pMap[index];
            if (entry.nLength == length && entry.bstrName &&
                ::memcmp(entry.bstrName.get(), rgszNames[0], static_cast<size_t>(length) * sizeof(OLECHAR)) ==
                    0) {
                rgDispId[0] = entry.id;
                return S_OK;
            }
        }
    }
    return m_pInfo.get()->GetIDsOfNames(rgszNames, cNames, rgDispId);
}

HRESULT CComTypeInfoHolder::Invoke(IDispatch* instance, DISPID dispIdMember, REFIID /*riid*/, LCID lcid,
                                   WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    HRESULT hr = EnsureTI(lcid);
    if (!m_pInfo)
        return FAILED(hr) ? hr : E_UNEXPECTED;
    return m_pInfo.get()->Invoke(instance, dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo,
                                 puArgErr);
}
