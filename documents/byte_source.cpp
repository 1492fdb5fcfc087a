#include "documents/byte_source.h"

#include <cstring>

HRESULT FileSource::Open(const std::wstring& path)
{
    // Shared for reading and writing: a program that has the document open
    // keeps it as it was, and this one never writes.
    file_ = AdoptFileHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file_)
        return HRESULT_FROM_WIN32(::GetLastError());
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file_.get(), &size))
        return HRESULT_FROM_WIN32(::GetLastError());
    size_ = static_cast<ULONGLONG>(size.QuadPart);
    return S_OK;
}

HRESULT FileSource::ReadAt(ULONGLONG offset, void* bytes, ULONG length, ULONG* read) const
{
    *read = 0;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(file_.get(), bytes, length, &got, &at)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_HANDLE_EOF)
            return HRESULT_FROM_WIN32(error);
    }
    *read = got;
    return S_OK;
}

HRESULT MemorySource::ReadAt(ULONGLONG offset, void* bytes, ULONG length, ULONG* read) const
{
    *read = 0;
    if (offset >= size_)
        return S_OK;
    const size_t left = size_ - static_cast<size_t>(offset);
    *read = static_cast<ULONG>(left < length ? left : length);
    std::memcpy(bytes, bytes_ + offset, *read);
    return S_OK;
}

HRESULT StreamSource::ReadAt(ULONGLONG offset, void* bytes, ULONG length, ULONG* read) const
{
    *read = 0;
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    HRESULT hr = stream_->Seek(at, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr))
        return hr;
    ULONG got = 0;
    hr = stream_->Read(bytes, length, &got);
    if (FAILED(hr))
        return hr;
    if (got > length)
        return STG_E_READFAULT;
    *read = got;
    return S_OK;
}

HRESULT ReadExactly(const ByteSource& source, ULONGLONG offset, void* bytes, ULONG length)
{
    ULONG done = 0;
    while (done < length) {
        ULONG read = 0;
        HRESULT hr = source.ReadAt(offset + done, static_cast<BYTE*>(bytes) + done, length - done, &read);
        if (FAILED(hr))
            return hr;
        if (read == 0 || read > length - done)
            return STG_E_READFAULT;
        done += read;
    }
    return S_OK;
}

bool SequentialReader::Refill()
{
    base_ += filled_;
    at_ = 0;
    filled_ = 0;
    if (failed_)
        return false;
    HRESULT hr = source_.ReadAt(base_, buffer_, sizeof(buffer_), &filled_);
    if (FAILED(hr)) {
        failed_ = true;
        filled_ = 0;
    }
    return filled_ > 0;
}
