#pragma once

// The bytes of a document, read where they lie: a file opened for reading
// and shared (the document never changes, and a program that has it open
// keeps working), or a block of memory (an entry already taken out of
// another document, or a fuzzer's input).

#include <windows.h>
#include <objidl.h>

#include <string>

#include "server/handles.h"

class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual ULONGLONG Size() const = 0;
    // Reads up to length bytes at offset; fewer only at the end.
    virtual HRESULT ReadAt(ULONGLONG offset, void* bytes, ULONG length, ULONG* read) const = 0;
};

class FileSource : public ByteSource
{
public:
    HRESULT Open(const std::wstring& path);
    ULONGLONG Size() const override { return size_; }
    HRESULT ReadAt(ULONGLONG offset, void* bytes, ULONG length, ULONG* read) const override;

private:
    UniqueKernelHandle file_;
    ULONGLONG size_ = 0;
};

class MemorySource : public ByteSource
{
public:
    MemorySource(const BYTE* bytes, size_t size) : bytes_(bytes), size_(size) {}
    ULONGLONG Size() const override { return size_; }
    HRESULT ReadAt(ULONGLONG offset, void* bytes, ULONG length, ULONG* read) const override;

private:
    const BYTE* bytes_;
    size_t size_;
};

// A stream of a storage, read at offsets: a record stream inside a document.
// The stream is the caller's and must outlive the source; a read that reports
// more bytes than it was asked for is STG_E_READFAULT.
class StreamSource : public ByteSource
{
public:
    StreamSource(IStream* stream, ULONGLONG size) : stream_(stream), size_(size) {}
    ULONGLONG Size() const override { return size_; }
    HRESULT ReadAt(ULONGLONG offset, void* bytes, ULONG length, ULONG* read) const override;

private:
    IStream* stream_;
    ULONGLONG size_;
};

// Reads exactly length bytes at offset, or fails with STG_E_READFAULT (also
// when a read reports more than it was asked for).
HRESULT ReadExactly(const ByteSource& source, ULONGLONG offset, void* bytes, ULONG length);

// A buffered reader from the start of a source to its end, one byte at a time.
class SequentialReader
{
public:
    explicit SequentialReader(const ByteSource& source) : source_(source) {}
    // The next byte; false at the end or on a read failure (failed() tells).
    bool Next(BYTE* byte)
    {
        if (at_ == filled_ && !Refill())
            return false;
        *byte = buffer_[at_++];
        return true;
    }
    ULONGLONG Offset() const { return base_ + at_; }
    bool failed() const { return failed_; }

private:
    bool Refill();
    const ByteSource& source_;
    BYTE buffer_[64 * 1024];
    ULONG at_ = 0;
    ULONG filled_ = 0;
    ULONGLONG base_ = 0;
    bool failed_ = false;
};
