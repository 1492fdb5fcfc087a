#include "server/module.h"

#include "server/catch_return.h"
#include "server/object_table.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

bool s_bInitFailed = false;
CAtlModule* s_pModule = nullptr;
CAtlComModule* s_pComModule = nullptr;

HRESULT CComCriticalSection::Init()
{
    if (!::InitializeCriticalSectionEx(&m_sec, 0, 0))
        return HRESULT_FROM_WIN32(::GetLastError());
    m_bInitialized = true;
    return S_OK;
}

void CComCriticalSection::Term()
{
    if (m_bInitialized) {
        ::DeleteCriticalSection(&m_sec);
        m_bInitialized = false;
    }
}

CAtlBaseModule::CAtlBaseModule()
{
    m_hInst = m_hInstResource = reinterpret_cast<HINSTANCE>(&__ImageBase);
    if (FAILED(m_csResource.Init())) {
        if (::IsDebuggerPresent())
            ::OutputDebugStringA("ERROR : Unable to initialize critical section in CAtlBaseModule\n");
        s_bInitFailed = true;
        return;
    }
    m_sizeStamp = sizeof(*this);
}

CAtlBaseModule::~CAtlBaseModule()
{
    m_csResource.Term();
    m_sizeStamp = 0;
}

CAtlComModule::CAtlComModule(ObjectTableEntry** first, ObjectTableEntry** last)
{
    m_hInstTypeLib = reinterpret_cast<HINSTANCE>(&__ImageBase);
    m_ppAutoObjMapFirst = first;
    m_ppAutoObjMapLast = last;
    s_pComModule = this;
    if (FAILED(m_csObjMap.Init())) {
        s_bInitFailed = true;
        return;
    }
    m_sizeStamp = sizeof(*this);
}

CAtlComModule::~CAtlComModule()
{
    Term();
}

void CAtlComModule::Term()
{
    if (m_sizeStamp == 0)
        return;
    for (ObjectTableEntry** slot = m_ppAutoObjMapFirst; slot < m_ppAutoObjMapLast; ++slot) {
        if (*slot)
            (*slot)->registration->pCachedClassObject.Reset();
    }
    m_csObjMap.Term();
    m_sizeStamp = 0;
}

CAtlWinModule::CAtlWinModule()
{
    m_sizeStamp = sizeof(*this);
    if (FAILED(m_csWindowCreate.Init())) {
        s_bInitFailed = true;
        m_sizeStamp = 0;
    }
}

CAtlWinModule::~CAtlWinModule()
{
    m_csWindowCreate.Term();
    m_sizeStamp = 0;
}

CAtlModule::CAtlModule()
{
    s_pModule = this;
    if (FAILED(m_csModule.Init())) {
        s_bInitFailed = true;
        return;
    }
    m_sizeStamp = sizeof(_ATL_MODULE70);
}

CAtlModule::~CAtlModule()
{
    TerminateModule();
}

HRESULT CAtlModule::GetGITPtr(IGlobalInterfaceTable** ppGIT)
{
    if (!ppGIT)
        return E_POINTER;
    *ppGIT = nullptr;
    if (!m_pGlobalInterfaceTable) {
        HRESULT hr = ::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(&m_pGlobalInterfaceTable));
        if (FAILED(hr))
            return hr;
    }
    return m_pGlobalInterfaceTable.CopyTo(ppGIT);
}

HRESULT CAtlModule::AddTerminationHook(TerminationHookFunc pFunc, DWORD_PTR dw)
try {
    CriticalSectionGuard guard(m_csModule);
    m_terminationHooks.push_back(TerminationHook{pFunc, dw});
    return S_OK;
}
CATCH_RETURN_HRESULT()

void CAtlModule::TerminateModule()
{
    if (m_sizeStamp == 0)
        return;
    // Newest hook first; each leaves the list before it runs.
    while (!m_terminationHooks.empty()) {
        const TerminationHook hook = m_terminationHooks.back();
        m_terminationHooks.pop_back();
        hook.pFunc(hook.dw);
    }
    m_pGlobalInterfaceTable.Reset();
    m_csModule.Term();
    m_sizeStamp = 0;
    if (s_pComModule)
        s_pComModule->Term();
}

HRESULT RegisterClassObjects(DWORD context, DWORD flags)
{
    if (!s_pComModule)
        return S_FALSE;
    HRESULT hr = S_FALSE;
    for (ObjectTableEntry** slot = s_pComModule->m_ppAutoObjMapFirst;
         slot < s_pComModule->m_ppAutoObjMapLast && SUCCEEDED(hr); ++slot) {
        if (*slot)
            hr = RegisterClassObject(*slot, context, flags);
    }
    return hr;
}

HRESULT RevokeClassObjects()
{
    if (!s_pComModule)
        return S_OK;
    HRESULT hr = S_OK;
    for (ObjectTableEntry** slot = s_pComModule->m_ppAutoObjMapFirst;
         slot < s_pComModule->m_ppAutoObjMapLast && hr == S_OK; ++slot) {
        if (*slot)
            hr = RevokeClassObject(*slot);
    }
    return hr;
}
