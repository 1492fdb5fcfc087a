#pragma once

// Byte arrays, pictures and a scratch folder for the bridge's test programs.

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include "server/handles.h"
#include "support/editor_double.h"
#include "support/pictures.h"
#include "support/test_support.h"

namespace bridge_test {

using Bytes = std::vector<BYTE>;

// A VARIANT holding a fresh byte array (VT_ARRAY | VT_UI1) of the bytes.
inline void MakeByteArray(const Bytes& bytes, VARIANT* out, LONG lowerBound = 0)
{
    ::VariantInit(out);
    SAFEARRAYBOUND bound = {static_cast<ULONG>(bytes.size()), lowerBound};
    SAFEARRAY* array = ::SafeArrayCreate(VT_UI1, 1, &bound);
    void* data = nullptr;
    ::SafeArrayAccessData(array, &data);
    if (!bytes.empty())
        std::memcpy(data, bytes.data(), bytes.size());
    ::SafeArrayUnaccessData(array);
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array;
}

inline Bytes BytesOf(const VARIANT& value)
{
    Bytes bytes;
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray)
        return bytes;
    bytes.resize(value.parray->rgsabound[0].cElements);
    void* data = nullptr;
    ::SafeArrayAccessData(value.parray, &data);
    if (!bytes.empty())
        std::memcpy(bytes.data(), data, bytes.size());
    ::SafeArrayUnaccessData(value.parray);
    return bytes;
}

using testing_support::PatternBytes;

using testing_support::PictureBits;

// An object key as the drawing application passes it: a 4-byte number.
using editor_double::KeyArgument;

inline Bytes ReadFileBytes(const std::wstring& path)
{
    Bytes bytes;
    UniqueKernelHandle file = AdoptFileHandle(::CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return bytes;
    bytes.resize(::GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    if (!bytes.empty())
        ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

inline bool WriteFileBytes(const std::wstring& path, const Bytes& bytes)
{
    UniqueKernelHandle file =
        AdoptFileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && (bytes.empty() || ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                                 &written, nullptr));
}

// The bytes of a stream of storage; "missing" when there is no such stream.
inline Bytes ReadStreamBytes(IStorage* storage, const wchar_t* name)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    if (FAILED(storage->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream)))
        return Bytes{'m', 'i', 's', 's', 'i', 'n', 'g'};
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    Bytes bytes(stat.cbSize.LowPart);
    ULONG read = 0;
    if (!bytes.empty())
        stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    bytes.resize(read);
    return bytes;
}

// A storage over a copy of bytes (a compound file), open for reading and writing.
inline Microsoft::WRL::ComPtr<IStorage> StorageOver(const Bytes& bytes)
{
    UniqueHGlobal block(::GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    {
        GlobalLockGuard lock(block.get());
        std::memcpy(lock.get(), bytes.data(), bytes.size());
    }
    Microsoft::WRL::ComPtr<ILockBytes> lockBytes;
    EXPECT_EQ(::CreateILockBytesOnHGlobal(block.release(), TRUE, &lockBytes), S_OK);
    Microsoft::WRL::ComPtr<IStorage> storage;
    EXPECT_EQ(::StgOpenStorageOnILockBytes(lockBytes.Get(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                           nullptr, 0, &storage),
              S_OK);
    return storage;
}

// File names (not paths) in folder matching pattern.
inline std::vector<std::wstring> ListFiles(const std::wstring& folder, const wchar_t* pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

// A new empty folder under the prefix's temporary folder; name may hold blanks.
// The base is the temporary folder the program started with, whatever a test
// has set TEMP to since.
inline std::wstring FreshFolder(const std::wstring& name)
{
    static const std::wstring base = [] {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        return std::wstring(temp);
    }();
    static unsigned serial = 0;
    std::wstring folder = base + name + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                          std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(++serial);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

} // namespace bridge_test
