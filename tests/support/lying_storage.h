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
#include "support/forwarding_storage.h"

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

class LyingStorage : public ForwardingStorage<true>
{
public:
    // The real storage's streams, except that the one named liar is stream.
    LyingStorage(IStorage* real, const wchar_t* liar, LyingStream* stream)
        : ForwardingStorage(real), liar_(liar), stream_(stream)
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

private:
    std::wstring liar_;
    Microsoft::WRL::ComPtr<LyingStream> stream_;
};

} // namespace testing_support
