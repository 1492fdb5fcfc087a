#pragma once

// A container's site for one embedded drawing, with its advise sink: a test
// double that counts the notifications the drawing sends and the references it
// holds, writes down every call in order, and answers every site call with
// success. Given the drawing and its storage, SaveObject saves the drawing
// there, as a container does; saveResult makes SaveObject fail instead. It
// lives as long as the test that made it, which holds the first reference.

#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace testing_support {

class ContainerSite : public IOleClientSite, public IAdviseSink
{
public:
    // Read from other threads by the measurements that sample while waiting.
    std::atomic<int> dataChanges{0};
    std::atomic<int> closes{0};
    std::atomic<int> shownWindows{0};
    std::atomic<int> hiddenWindows{0};

    // Where SaveObject saves the drawing (not counted: the test keeps both).
    IUnknown* drawing = nullptr;
    IStorage* storage = nullptr;
    // What SaveObject answers; a failure saves nothing.
    HRESULT saveResult = S_OK;

    // The references held: 1, the test's own, when nobody else holds the site.
    ULONG refs() const { return refs_; }

    virtual ~ContainerSite() = default;

    // The calls so far, site and sink alike: "ShowObject", "OnShowWindow(TRUE)",
    // "OnDataChange", "SaveObject", "OnSave", "OnShowWindow(FALSE)", "OnClose".
    std::vector<std::string> Calls() const
    {
        std::lock_guard<std::mutex> lock(callsLock_);
        return calls_;
    }
    void ClearCalls()
    {
        std::lock_guard<std::mutex> lock(callsLock_);
        calls_.clear();
    }

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
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override { return --refs_; }
    STDMETHOD(SaveObject)() override
    {
        Record("SaveObject");
        if (FAILED(saveResult) || !drawing || !storage)
            return saveResult;
        return SaveLikeAContainer(drawing, storage);
    }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHOD(GetContainer)(IOleContainer** container) override
    {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD(ShowObject)() override
    {
        Record("ShowObject");
        return S_OK;
    }
    STDMETHOD(OnShowWindow)(BOOL show) override
    {
        Record(show ? "OnShowWindow(TRUE)" : "OnShowWindow(FALSE)");
        ++(show ? shownWindows : hiddenWindows);
        return S_OK;
    }
    STDMETHOD(RequestNewObjectLayout)() override { return E_NOTIMPL; }
    STDMETHOD_(void, OnDataChange)(FORMATETC*, STGMEDIUM*) override
    {
        Record("OnDataChange");
        ++dataChanges;
    }
    STDMETHOD_(void, OnViewChange)(DWORD, LONG) override {}
    STDMETHOD_(void, OnRename)(IMoniker*) override {}
    STDMETHOD_(void, OnSave)() override { Record("OnSave"); }
    STDMETHOD_(void, OnClose)() override
    {
        Record("OnClose");
        ++closes;
    }

protected:
    void Record(const char* call)
    {
        std::lock_guard<std::mutex> lock(callsLock_);
        calls_.push_back(call);
    }

private:
    std::atomic<ULONG> refs_{1};
    mutable std::mutex callsLock_;
    std::vector<std::string> calls_;
};

} // namespace testing_support
