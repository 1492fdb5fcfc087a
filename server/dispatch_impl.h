#pragma once

// The IDispatch half of a dual interface, served from the interface's type
// library through one process-wide holder per interface.

#include "server/type_info_holder.h"

template <class T, const IID* piid, const GUID* plibid, WORD wMajor = 1, WORD wMinor = 0,
          class tihclass = CComTypeInfoHolder>
class IDispatchImpl : public T
{
public:
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }

    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override
    {
        return _tih.GetTypeInfo(iTInfo, lcid, ppTInfo);
    }

    STDMETHOD(GetIDsOfNames)
    (REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override
    {
        return _tih.GetIDsOfNames(riid, rgszNames, cNames, lcid, rgDispId);
    }

    STDMETHOD(Invoke)
    (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
     EXCEPINFO* pExcepInfo, UINT* puArgErr) override
    {
        return _tih.Invoke(static_cast<T*>(this), dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult,
                           pExcepInfo, puArgErr);
    }

protected:
    // Constant-initialised: usable from the first call, whatever the order in
    // which the process's statics are built.
    static inline tihclass _tih = {piid, plibid, wMajor, wMinor, {}, {}, 0};
};
