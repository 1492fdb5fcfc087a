#pragma once

// A container's site for one embedded drawing, with its advise sink: a test
// double that counts the notifications the drawing sends and answers every
// site call with success. It lives as long as the test that made it.

#include <windows.h>
#include <ole2.h>

#include <atomic>

namespace testing_support {

class ContainerSite : public IOleClientSite, public IAdviseSink
{
public:
    // Read from other threads by the measurements that sample while waiting.
    std::atomic<int> dataChanges{0};
    std::atomic<int> closes{0};

    virtual ~ContainerSite() = default;

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *ppv = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IAdviseSink)
            *ppv = static_cast<IAdviseSink*>(this);
        else
            return E_NOINTERFACE;
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(SaveObject)() override { return S_OK; }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHOD(GetContainer)(IOleContainer** container) override
    {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD(ShowObject)() override { return S_OK; }
    STDMETHOD(OnShowWindow)(BOOL) override { return S_OK; }
    STDMETHOD(RequestNewObjectLayout)() override { return E_NOTIMPL; }
    STDMETHOD_(void, OnDataChange)(FORMATETC*, STGMEDIUM*) override { ++dataChanges; }
    STDMETHOD_(void, OnViewChange)(DWORD, LONG) override {}
    STDMETHOD_(void, OnRename)(IMoniker*) override {}
    STDMETHOD_(void, OnSave)() override {}
    STDMETHOD_(void, OnClose)() override { ++closes; }
};

} // namespace testing_support
