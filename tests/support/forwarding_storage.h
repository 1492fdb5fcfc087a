#pragma once

// A storage that hands every call to a real one: the base of the doubles that
// stand for a peer's storage and change only what their test is about.

#include <windows.h>
#include <ole2.h>

#include <wrl/client.h>

#include "support/counted_unknown.h"

namespace testing_support {

template <bool DeletesItself = false> class ForwardingStorage : public CountedUnknown<IStorage, DeletesItself>
{
public:
    explicit ForwardingStorage(IStorage* real) : real_(real) {}

    STDMETHOD(CreateStream)(const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStream** out) override
    {
        return real_->CreateStream(name, mode, r1, r2, out);
    }
    STDMETHOD(OpenStream)
    (const OLECHAR* name, void* reserved, DWORD mode, DWORD reserved2, IStream** out) override
    {
        return real_->OpenStream(name, reserved, mode, reserved2, out);
    }
    STDMETHOD(CreateStorage)(const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStorage** out) override
    {
        return real_->CreateStorage(name, mode, r1, r2, out);
    }
    STDMETHOD(OpenStorage)
    (const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD reserved,
     IStorage** out) override
    {
        return real_->OpenStorage(name, priority, mode, exclude, reserved, out);
    }
    STDMETHOD(CopyTo)(DWORD count, const IID* excluded, SNB names, IStorage* to) override
    {
        return real_->CopyTo(count, excluded, names, to);
    }
    STDMETHOD(MoveElementTo)(const OLECHAR* name, IStorage* to, const OLECHAR* newName, DWORD flags) override
    {
        return real_->MoveElementTo(name, to, newName, flags);
    }
    STDMETHOD(Commit)(DWORD flags) override { return real_->Commit(flags); }
    STDMETHOD(Revert)() override { return real_->Revert(); }
    STDMETHOD(EnumElements)(DWORD r1, void* r2, DWORD r3, IEnumSTATSTG** out) override
    {
        return real_->EnumElements(r1, r2, r3, out);
    }
    STDMETHOD(DestroyElement)(const OLECHAR* name) override { return real_->DestroyElement(name); }
    STDMETHOD(RenameElement)(const OLECHAR* from, const OLECHAR* to) override
    {
        return real_->RenameElement(from, to);
    }
    STDMETHOD(SetElementTimes)
    (const OLECHAR* name, const FILETIME* c, const FILETIME* a, const FILETIME* m) override
    {
        return real_->SetElementTimes(name, c, a, m);
    }
    STDMETHOD(SetClass)(REFCLSID clsid) override { return real_->SetClass(clsid); }
    STDMETHOD(SetStateBits)(DWORD bits, DWORD mask) override { return real_->SetStateBits(bits, mask); }
    STDMETHOD(Stat)(STATSTG* stat, DWORD flags) override { return real_->Stat(stat, flags); }

protected:
    Microsoft::WRL::ComPtr<IStorage> real_;
};

} // namespace testing_support
