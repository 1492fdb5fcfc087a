#pragma once

// The serving run: class objects offered, the message loop through which the
// runtime delivers every call, and the shutdown once the last lock is gone.
// Included once, by the module that instantiates it: T gives the switches
// (ParseCommandLine) and the interfaces kept exported while serving
// (PinServedInterfaces, UnpinServedInterfaces).

#include "server/module.h"
#include "server/object_table.h"

template <class T> CAtlExeModuleT<T>::CAtlExeModuleT() : m_mainThreadId(::GetCurrentThreadId())
{
    for (ObjectTableEntry** slot = s_comModule.m_ppAutoObjMapFirst; slot < s_comModule.m_ppAutoObjMapLast;
         ++slot) {
        if (*slot)
            (*slot)->classStartStop(true);
    }
}

template <class T> CAtlExeModuleT<T>::~CAtlExeModuleT()
{
    for (ObjectTableEntry** slot = s_comModule.m_ppAutoObjMapFirst; slot < s_comModule.m_ppAutoObjMapLast;
         ++slot) {
        if (*slot)
            (*slot)->classStartStop(false);
    }
    this->TerminateModule();
}

template <class T> LONG CAtlExeModuleT<T>::Lock()
{
    return static_cast<LONG>(::CoAddRefServerProcess());
}

template <class T> LONG CAtlExeModuleT<T>::Unlock()
{
    LONG count = static_cast<LONG>(::CoReleaseServerProcess());
    if (count == 0) {
        // A serving process is on its way out from here on: the class objects
        // refuse new instances, which would die with it, and the caller's
        // runtime starts a new server instead. A count passing through zero
        // while nothing serves (a program hosting the objects itself) changes
        // nothing.
        if (!m_bDelayedShutdown) {
            m_bStopping = true;
            ::PostThreadMessageA(m_mainThreadId, WM_QUIT, 0, 0);
        } else if (SignalShutdownEvent()) {
            m_bStopping = true;
        }
    }
    return count;
}

template <class T> bool CAtlExeModuleT<T>::SignalShutdownEvent()
{
    // Once the monitor has closed the event the field is null and the signal is a
    // no-op; the lock keeps the two from overlapping.
    SrwExclusiveGuard guard(m_shutdownEventLock);
    if (!m_hShutdownEvent)
        return false;
    ::SetEvent(m_hShutdownEvent.get());
    return true;
}

template <class T> HRESULT CAtlExeModuleT<T>::RunServer(int /*showCommand*/)
{
    HRESULT hr = StartServing();
    if (hr == S_OK)
        PumpMessages();
    if (SUCCEEDED(hr))
        hr = StopServing();
    return hr;
}

template <class T> HRESULT CAtlExeModuleT<T>::StartServing()
{
    HRESULT hr = RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED);
    if (FAILED(hr))
        return hr;
    if (hr == S_FALSE) {
        m_bDelayedShutdown = false;
        return S_FALSE;
    }
    T* self = static_cast<T*>(this);
    self->PinServedInterfaces();
    if (m_bDelayedShutdown) {
        // The monitor thread runs on without its handle.
        UniqueKernelHandle thread(StartShutdownMonitor());
        if (!thread) {
            hr = E_FAIL;
        } else {
            hr = ::CoResumeClassObjects();
            if (FAILED(hr)) {
                SignalShutdownEvent();
                ::WaitForSingleObject(thread.get(), m_shutdownTimeoutMs * 2);
            }
        }
    } else {
        hr = ::CoResumeClassObjects();
    }
    if (FAILED(hr)) {
        RevokeClassObjects();
        self->UnpinServedInterfaces();
    }
    return hr;
}

template <class T> UniqueKernelHandle CAtlExeModuleT<T>::StartShutdownMonitor()
{
    UniqueKernelHandle event(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!event)
        return {};
    {
        SrwExclusiveGuard guard(m_shutdownEventLock);
        m_hShutdownEvent = std::move(event);
    }

    DWORD dwThreadID = 0;
    UniqueKernelHandle thread(::CreateThread(nullptr, 0, &ShutdownMonitorThread, this, 0, &dwThreadID));
    if (!thread) {
        SrwExclusiveGuard guard(m_shutdownEventLock);
        m_hShutdownEvent.reset();
    }
    return thread;
}

template <class T> DWORD WINAPI CAtlExeModuleT<T>::ShutdownMonitorThread(void* module)
{
    auto* self = static_cast<CAtlExeModuleT<T>*>(module);
    // The handle is read without the lock: only this thread ever clears it.
    ::WaitForSingleObject(self->m_hShutdownEvent.get(), INFINITE);

    // Taken out of the field under the lock, then closed before the quit goes.
    UniqueKernelHandle event;
    {
        SrwExclusiveGuard guard(self->m_shutdownEventLock);
        event = std::move(self->m_hShutdownEvent);
    }
    event.reset();

    // No re-check of the count: the first signal ends the server.
    ::PostThreadMessageA(self->m_mainThreadId, WM_QUIT, 0, 0);
    return 0;
}

template <class T> void CAtlExeModuleT<T>::PumpMessages()
{
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

template <class T> HRESULT CAtlExeModuleT<T>::StopServing()
{
    HRESULT hr = RevokeClassObjects();
    static_cast<T*>(this)->UnpinServedInterfaces();
    if (m_bDelayedShutdown)
        ::Sleep(m_shutdownPauseMs);
    return hr;
}

template <class T> int CAtlExeModuleT<T>::ServerMain(int showCommand)
{
    if (s_bInitFailed)
        return -1;

    HRESULT hr = ::CoInitialize(nullptr);
    if (SUCCEEDED(hr)) {
        m_bComStarted = true;
    } else if (!(hr == RPC_E_CHANGED_MODE && ::GetModuleHandleA("Mscoree.dll"))) {
        // A runtime host that already set another apartment model is tolerated;
        // anything else ends the run.
        return hr;
    }

    hr = S_OK;
    if (static_cast<T*>(this)->ParseCommandLine(::GetCommandLineA(), &hr))
        hr = RunServer(showCommand);

    if (m_bComStarted)
        ::CoUninitialize();
    return hr;
}
