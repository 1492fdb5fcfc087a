#pragma once

// A storage whose one stream lies about what it reads, as a container's or a
// clipboard owner's storage in another program may: the stream claims a size,
// reports once that a read brought more bytes than it was asked for, and has
// ended after that. Every other call goes to a real storage over memory. A test
// double for the programs around the server.

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <string>

#include <wrl/client.h>

#include "support/counted_unknown.h"

namespace testing_support {

class LyingStream : public CountedUnknown<IStream, true>
{
public:
    explicit LyingStream(ULONG claimed) : claimed_(claimed) {}

    // What the reader asked for: how many reads, and the most in one read.
    ULONG reads = 0;
    ULONG largestRequest = 0;

    STDMETHOD(Read)(void* bytes, ULONG count, ULONG* read) override
    {
        ++reads;
        largestRequest = count > largestRequest ? count : largestRequest;
        // A reader that keeps asking after the end would hang the test, not fail it.
        if (reads > kReadsBeforeGivingUp)
            return E_ABORT;
        ULONG reported = 0;
        if (!lied_) {
            lied_ = true;
            // Only the bytes asked for are written; the count is the lie.
            std::memset(bytes, 0x5A, count);
            reported = count + kExtra;
        }
        if (read)
            *read = reported;
        return S_OK;
    }
    STDMETHOD(Write)(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    STDMETHOD(Seek)(LARGE_INTEGER, DWORD, ULARGE_INTEGER* position) override
    {
        if (position)
            position->QuadPart = 0;
        return S_OK;
    }
    STDMETHOD(SetSize)(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    STDMETHOD(CopyTo)(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(Commit)(DWORD) override { return S_OK; }
    STDMETHOD(Revert)() override { return S_OK; }
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHOD(Stat)(STATSTG* stat, DWORD) override
    {
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = claimed_;
        return S_OK;
    }
    STDMETHOD(Clone)(IStream**) override { return E_NOTIMPL; }

private:
    static constexpr ULONG kExtra = 4096;
    static constexpr ULONG kReadsBeforeGivingUp = 1000;
    ULONG claimed_;
    bool lied_ = false;
};

class LyingStorage : public CountedUnknown<IStorage, true>
{
public:
    // The real storage's streams, except that the one named liar is stream.
    LyingStorage(IStorage* real, const wchar_t* liar, LyingStream* stream)
        : real_(real), liar_(liar), stream_(stream)
    {
    }

    STDMETHOD(OpenStream)
    (const OLECHAR* name, void* reserved, DWORD mode, DWORD reserved2, IStream** out) override
    {
        if (name && liar_ == name) {
            *out = stream_.Get();
            (*out)->AddRef();
            return S_OK;
        }
        return real_->OpenStream(name, reserved, mode, reserved2, out);
    }
    STDMETHOD(CreateStream)(const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStream** out) override
    {
        return real_->CreateStream(name, mode, r1, r2, out);
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

private:
    Microsoft::WRL::ComPtr<IStorage> real_;
    std::wstring liar_;
    Microsoft::WRL::ComPtr<LyingStream> stream_;
};

} // namespace testing_support
