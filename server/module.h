#pragma once

// The one module object of the process and the records that come into being
// beside it. Every other subsystem reaches the module through s_pModule. The
// records themselves are defined where the server is put together
// (app/process_records.cpp), which fixes the order they are built in.

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <vector>

#include <wrl/client.h>

#include "server/handles.h"
#include "server/object_table.h"
#include "server/registrar_base.h"

// Wraps a critical section whose initialisation can fail.
class CComCriticalSection
{
public:
    CComCriticalSection() { ::ZeroMemory(&m_sec, sizeof(m_sec)); }
    CComCriticalSection(const CComCriticalSection&) = delete;
    CComCriticalSection& operator=(const CComCriticalSection&) = delete;

    // Spin count 0, no flags; a failure is the platform's last error.
    HRESULT Init();
    void Term();
    void Lock() { ::EnterCriticalSection(&m_sec); }
    void Unlock() { ::LeaveCriticalSection(&m_sec); }
    bool IsInitialized() const { return m_bInitialized; }

private:
    CRITICAL_SECTION m_sec;
    bool m_bInitialized = false;
};

class CriticalSectionGuard
{
public:
    explicit CriticalSectionGuard(CComCriticalSection& cs) : cs_(cs) { cs_.Lock(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;
    ~CriticalSectionGuard() { cs_.Unlock(); }

private:
    CComCriticalSection& cs_;
};

// Set when any process-wide record's critical section could not be initialised;
// the server then refuses to run.
extern bool s_bInitFailed;

// The base module record: the executable's instance, which also holds the
// resources (registry scripts, type library).
struct CAtlBaseModule
{
    CAtlBaseModule();
    ~CAtlBaseModule();
    UINT m_sizeStamp = 0;
    HINSTANCE m_hInst = nullptr;
    HINSTANCE m_hInstResource = nullptr;
    CComCriticalSection m_csResource;
};

// The component module record: the bounds of the object table and the instance
// that holds the type library.
struct CAtlComModule
{
    // The table is the composition's: it names the classes the server offers.
    CAtlComModule(ObjectTableEntry** first, ObjectTableEntry** last);
    ~CAtlComModule();
    UINT m_sizeStamp = 0;
    HINSTANCE m_hInstTypeLib = nullptr;
    ObjectTableEntry** m_ppAutoObjMapFirst = nullptr;
    ObjectTableEntry** m_ppAutoObjMapLast = nullptr;
    CComCriticalSection m_csObjMap;

    // Releases cached class objects; part of the module's termination.
    void Term();
};

// The window module record: kept for window classes; the server has none.
struct CAtlWinModule
{
    CAtlWinModule();
    ~CAtlWinModule();
    UINT m_sizeStamp = 0;
    CComCriticalSection m_csWindowCreate;
};

// Defined by the composition (app/process_records.cpp); this layer reaches
// the component module record through s_pComModule, which its constructor sets.
extern CAtlBaseModule s_baseModule;
extern CAtlComModule s_comModule;
extern CAtlWinModule s_winModule;
extern CAtlComModule* s_pComModule;

using TerminationHookFunc = void(__stdcall*)(DWORD_PTR argument);

struct TerminationHook
{
    TerminationHookFunc pFunc;
    DWORD_PTR dw;
};

struct _ATL_MODULE70
{
    UINT m_sizeStamp = 0;
    LONG m_nLockCnt = 0;
    // In the order added; termination runs them newest first.
    std::vector<TerminationHook> m_terminationHooks;
    CComCriticalSection m_csModule;
};

class CAtlModule : public _ATL_MODULE70
{
public:
    CAtlModule();
    CAtlModule(const CAtlModule&) = delete;
    CAtlModule& operator=(const CAtlModule&) = delete;
    virtual ~CAtlModule();

    virtual LONG Lock() = 0;
    virtual LONG Unlock() = 0;
    virtual LONG GetLockCount() { return m_nLockCnt; }
    // True once the serving process has begun to end: new objects would die with it.
    virtual bool IsStopping() const { return false; }
    virtual HRESULT GetGITPtr(IGlobalInterfaceTable** ppGIT);
    virtual HRESULT AddModuleReplacements(IRegistrarBase* registrar) = 0;

    HRESULT AddTerminationHook(TerminationHookFunc pFunc, DWORD_PTR dw);
    void TerminateModule();

    Microsoft::WRL::ComPtr<IGlobalInterfaceTable> m_pGlobalInterfaceTable;
};

extern CAtlModule* s_pModule;

// Every row of the component module record's table, registered with (or
// revoked from) the runtime in the table's order; the first failure ends it.
HRESULT RegisterClassObjects(DWORD context, DWORD flags);
HRESULT RevokeClassObjects();

template <class T> class CAtlModuleT : public CAtlModule
{
public:
    CAtlModuleT() { m_libid = T::GetLibId(); }
    static inline GUID m_libid = GUID_NULL;
};

// Executable behaviour: start-up, the message loop and the shutdown monitor.
template <class T> class CAtlExeModuleT : public CAtlModuleT<T>
{
public:
    CAtlExeModuleT();
    ~CAtlExeModuleT() override;

    LONG Lock() override;
    LONG Unlock() override;
    bool IsStopping() const override { return m_bStopping; }

    int WinMain(int showCommand) { return ServerMain(showCommand); }
    // Runs T::ParseCommandLine, which decides between serving and the
    // registration switches, then serves when it says so.
    int ServerMain(int showCommand);

    HRESULT RunServer(int showCommand);
    HRESULT StartServing();
    void PumpMessages();
    HRESULT StopServing();
    UniqueKernelHandle StartShutdownMonitor();
    static DWORD WINAPI ShutdownMonitorThread(void* module);

    DWORD m_mainThreadId;
    UniqueKernelHandle m_hShutdownEvent;
    DWORD m_shutdownTimeoutMs = 5000;
    DWORD m_shutdownPauseMs = 1000;
    bool m_bDelayedShutdown = true;
    bool m_bComStarted = false;

private:
    // Serialises signalling the shutdown event (Unlock, main thread) against
    // closing it (monitor thread), so that a closed handle is never signalled.
    SRWLOCK m_shutdownEventLock = SRWLOCK_INIT;
    // Signals the monitor; false when there is none to signal (not serving, or
    // the monitor has finished).
    bool SignalShutdownEvent();
    std::atomic<bool> m_bStopping{false};
};
