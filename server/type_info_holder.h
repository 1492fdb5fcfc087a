#pragma once

// Serves IDispatch for a dual interface from its registered type library. One
// holder exists per interface for the whole process; it is a constant-initialised
// aggregate so that it is ready before any constructor runs, and what it loads is
// given back by the module's termination hook (not left to a static destructor,
// which would run after the runtime is gone; by then the owners are empty).

#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "server/handles.h"

// One resolved method name: the name, its length in UTF-16 code units, its DISPID.
struct NameCacheEntry
{
    UniqueBstr bstrName;
    int nLength = 0;
    DISPID id = DISPID_UNKNOWN;
};

class CComTypeInfoHolder
{
public:
    const GUID* m_pguid;
    const GUID* m_plibid;
    WORD m_wMajor;
    WORD m_wMinor;
    UniqueTypeInfo m_pInfo;
    std::unique_ptr<NameCacheEntry[]> m_pMap; // m_nCount entries
    int m_nCount = 0;
    // The holder's own: loading is serialised per interface, and needs nothing
    // of the module but its termination hook.
    SRWLOCK m_lock = SRWLOCK_INIT;

    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId);
    HRESULT Invoke(IDispatch* instance, DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                   DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

    // Loads the type information and builds the name cache when either is missing.
    HRESULT EnsureTI(LCID lcid);

private:
    HRESULT LoadTypeInfo(LCID lcid);
    HRESULT LoadNameCache();
    static void __stdcall Cleanup(DWORD_PTR holder);
};
