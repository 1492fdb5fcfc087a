#pragma once

// Owners for the platform's handles and counted resources. Each kind has one
// owner whose deleter is the platform's own release call; owners move, never copy.

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <msi.h>

#include <utility>

template <typename H, auto Close, H Invalid = H{}> class UniqueHandle
{
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept
    {
        reset(o.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    H get() const { return h_; }
    H release()
    {
        H h = h_;
        h_ = Invalid;
        return h;
    }
    // Closing must not hide the failure being reported: the platform's last
    // error is the same after the close as before it.
    void reset(H h = Invalid)
    {
        if (h_ != Invalid) {
            const DWORD error = ::GetLastError();
            Close(h_);
            ::SetLastError(error);
        }
        h_ = h;
    }
    // For a call that hands out a new handle through an out-parameter: closes
    // what the owner holds and lets the call write straight into it.
    H* put()
    {
        reset();
        return &h_;
    }
    explicit operator bool() const { return h_ != Invalid; }

private:
    H h_ = Invalid;
};

namespace handle_detail {
inline void CloseKernelHandle(HANDLE h)
{
    ::CloseHandle(h);
}
inline void FreeGlobal(HGLOBAL h)
{
    ::GlobalFree(h);
}
inline void DeleteEnhMetaFileHandle(HENHMETAFILE h)
{
    ::DeleteEnhMetaFile(h);
}
inline void DeleteMetaFileHandle(HMETAFILE h)
{
    ::DeleteMetaFile(h);
}
inline void CloseRegKey(HKEY h)
{
    ::RegCloseKey(h);
}
inline void DeleteDeviceContext(HDC h)
{
    ::DeleteDC(h);
}
inline void FreeTaskMemory(void* p)
{
    ::CoTaskMemFree(p);
}
inline void FreeBstr(BSTR s)
{
    ::SysFreeString(s);
}
inline void ReleaseModule(HMODULE h)
{
    ::FreeLibrary(h);
}
inline void DestroyWindowHandle(HWND h)
{
    ::DestroyWindow(h);
}
inline void ReleaseTypeInfo(ITypeInfo* info)
{
    info->Release();
}
inline void FreeLocal(HLOCAL h)
{
    ::LocalFree(h);
}
inline void CloseSearch(HANDLE h)
{
    ::FindClose(h);
}
inline void CloseMsiHandle(MSIHANDLE h)
{
    ::MsiCloseHandle(h);
}
} // namespace handle_detail

using UniqueKernelHandle = UniqueHandle<HANDLE, &handle_detail::CloseKernelHandle>;
using UniqueHGlobal = UniqueHandle<HGLOBAL, &handle_detail::FreeGlobal>;
using UniqueEnhMetaFile = UniqueHandle<HENHMETAFILE, &handle_detail::DeleteEnhMetaFileHandle>;
using UniqueMetaFile = UniqueHandle<HMETAFILE, &handle_detail::DeleteMetaFileHandle>;
using UniqueHKey = UniqueHandle<HKEY, &handle_detail::CloseRegKey>;
using UniqueDC = UniqueHandle<HDC, &handle_detail::DeleteDeviceContext>;
using UniqueTaskMemory = UniqueHandle<void*, &handle_detail::FreeTaskMemory>;
using UniqueBstr = UniqueHandle<BSTR, &handle_detail::FreeBstr>;
using UniqueModule = UniqueHandle<HMODULE, &handle_detail::ReleaseModule>;
// Destroyed by the thread that made it, as the platform requires.
using UniqueWindow = UniqueHandle<HWND, &handle_detail::DestroyWindowHandle>;
// A counted reference that, unlike ComPtr, is ready before any constructor runs:
// for a holder that must be usable from the first call.
using UniqueTypeInfo = UniqueHandle<ITypeInfo*, &handle_detail::ReleaseTypeInfo>;
// Memory the platform hands out with LocalAlloc (message texts, argument lists).
using UniqueLocalMemory = UniqueHandle<HLOCAL, &handle_detail::FreeLocal>;
using UniqueSearch = UniqueHandle<HANDLE, &handle_detail::CloseSearch>;
// A Windows Installer database, view or record (msi.dll).
using UniqueMsiHandle = UniqueHandle<MSIHANDLE, &handle_detail::CloseMsiHandle>;

// File functions report failure as INVALID_HANDLE_VALUE; the owner holds null then.
inline UniqueKernelHandle AdoptFileHandle(HANDLE h)
{
    return UniqueKernelHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// A file search reports failure as INVALID_HANDLE_VALUE; the owner holds null then.
inline UniqueSearch AdoptSearchHandle(HANDLE h)
{
    return UniqueSearch(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// Holds a slim reader/writer lock exclusively for the guard's lifetime.
class SrwExclusiveGuard
{
public:
    explicit SrwExclusiveGuard(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    SrwExclusiveGuard(const SrwExclusiveGuard&) = delete;
    SrwExclusiveGuard& operator=(const SrwExclusiveGuard&) = delete;
    ~SrwExclusiveGuard() { ::ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK& lock_;
};

// OLE for the guard's lifetime, on top of whatever the thread already has: each
// successful OleInitialize is matched by one OleUninitialize.
class OleInitializeGuard
{
public:
    OleInitializeGuard() : hr_(::OleInitialize(nullptr)) {}
    OleInitializeGuard(const OleInitializeGuard&) = delete;
    OleInitializeGuard& operator=(const OleInitializeGuard&) = delete;
    ~OleInitializeGuard()
    {
        if (SUCCEEDED(hr_))
            ::OleUninitialize();
    }
    HRESULT status() const { return hr_; }

private:
    HRESULT hr_;
};

// A DC obtained with GetDC is given back with ReleaseDC, not deleted.
class WindowDC
{
public:
    explicit WindowDC(HWND hwnd) : hwnd_(hwnd), hdc_(::GetDC(hwnd)) {}
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    ~WindowDC()
    {
        if (hdc_)
            ::ReleaseDC(hwnd_, hdc_);
    }
    HDC get() const { return hdc_; }

private:
    HWND hwnd_;
    HDC hdc_;
};

// Holds a global block locked for the guard's lifetime.
class GlobalLockGuard
{
public:
    explicit GlobalLockGuard(HGLOBAL h) : h_(h), p_(h ? ::GlobalLock(h) : nullptr) {}
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    ~GlobalLockGuard()
    {
        if (p_)
            ::GlobalUnlock(h_);
    }
    void* get() const { return p_; }
    BYTE* bytes() const { return static_cast<BYTE*>(p_); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    HGLOBAL h_;
    void* p_;
};

// A storage medium received from someone else: released exactly once.
class StgMediumGuard
{
public:
    StgMediumGuard() { ::ZeroMemory(&medium_, sizeof(medium_)); }
    StgMediumGuard(const StgMediumGuard&) = delete;
    StgMediumGuard& operator=(const StgMediumGuard&) = delete;
    ~StgMediumGuard() { reset(); }
    STGMEDIUM* put()
    {
        reset();
        return &medium_;
    }
    STGMEDIUM* get() { return &medium_; }
    const STGMEDIUM* operator->() const { return &medium_; }
    void reset()
    {
        if (medium_.tymed != TYMED_NULL)
            ::ReleaseStgMedium(&medium_);
        ::ZeroMemory(&medium_, sizeof(medium_));
    }

private:
    STGMEDIUM medium_;
};

// A VARIANT owned by this code: cleared when it goes.
class VariantGuard
{
public:
    VariantGuard() { ::VariantInit(&v_); }
    VariantGuard(const VariantGuard&) = delete;
    VariantGuard& operator=(const VariantGuard&) = delete;
    ~VariantGuard() { ::VariantClear(&v_); }
    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT* operator->() { return &v_; }
    // Hands the value over to a caller-owned VARIANT, leaving this one empty.
    void MoveTo(VARIANT* dst)
    {
        *dst = v_;
        ::VariantInit(&v_);
    }

private:
    VARIANT v_;
};

// A safe array owned by this code.
class SafeArrayOwner
{
public:
    SafeArrayOwner() = default;
    explicit SafeArrayOwner(SAFEARRAY* p) : p_(p) {}
    SafeArrayOwner(const SafeArrayOwner&) = delete;
    SafeArrayOwner& operator=(const SafeArrayOwner&) = delete;
    ~SafeArrayOwner() { reset(); }
    SAFEARRAY* get() const { return p_; }
    SAFEARRAY** put()
    {
        reset();
        return &p_;
    }
    SAFEARRAY* release() { return std::exchange(p_, nullptr); }
    void reset(SAFEARRAY* p = nullptr)
    {
        if (p_)
            ::SafeArrayDestroy(p_);
        p_ = p;
    }

private:
    SAFEARRAY* p_ = nullptr;
};

// A block that a type library or its type information lends out, given back to
// the lender when the scope ends.
template <class Lender, class Block, void (STDMETHODCALLTYPE Lender::*GiveBack)(Block*)> class LentBlock
{
public:
    explicit LentBlock(Lender* lender) : lender_(lender) {}
    LentBlock(const LentBlock&) = delete;
    LentBlock& operator=(const LentBlock&) = delete;
    ~LentBlock()
    {
        if (block_)
            (lender_->*GiveBack)(block_);
    }
    Block** put() { return &block_; }
    Block* operator->() const { return block_; }

private:
    Lender* lender_;
    Block* block_ = nullptr;
};
using TypeAttrGuard = LentBlock<ITypeInfo, TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using FuncDescGuard = LentBlock<ITypeInfo, FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using LibAttrGuard = LentBlock<ITypeLib, TLIBATTR, &ITypeLib::ReleaseTLibAttr>;
