#pragma once

// Serves IDispatch for a dual interface from its registered type library. One
// holder exists per interface for the whole process; it is a constant-initialised
// aggregate so that it is ready before any constructor runs, and what it loads is
// given back by the module's termination hook (not by a static destructor, which
// would run after the runtime is gone and in no fixed order with the module).

#include <windows.h>
#include <oleauto.h>

// One resolved method name: the name, its length in UTF-16 code units, its DISPID.
struct NameCacheEntry
{
    BSTR bstrName;
    int nLength;
    DISPID id;
};

class CComTypeInfoHolder
{
public:
    const GUID* m_pguid;
    const GUID* m_plibid;
    WORD m_wMajor;
    WORD m_wMinor;
    ITypeInfo* m_pInfo;     // owned; released by the termination hook
    long m_dwRef;           // kept for layout; this server never counts holders
    NameCacheEntry* m_pMap; // owned array of m_nCount entries
    int m_nCount;

    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId);
    HRESULT Invoke(IDispatch* instance, DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                   DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

    // Loads the type information and builds the name cache when either is missing.
    HRESULT EnsureTI(LCID lcid);

private:
    HRESULT LoadTypeInfo(LCID lcid);
    HRESULT LoadNameCache();
    void FreeNameCache();
    static void __stdcall Cleanup(DWORD_PTR holder);
};
