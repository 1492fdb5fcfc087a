#pragma once

// What the test drawing applications share: the files they read and write, the
// byte arrays and picture they hand back, and the log they leave when they end.
// Header only: the editors are small programs of their own, without the test
// framework.

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quillmorphole.h"
#include "server/handles.h"
#include "support/pictures.h"
#include "support/text.h"

namespace editor_double {

using Bytes = std::vector<unsigned char>;

// What the editors log is UTF-8, whatever letters the paths hold.
using testing_support::Utf8;

// The arguments as a real drawing application reads them: its UTF-16 command
// line split by the platform, the program first.
inline std::vector<std::wstring> Arguments()
{
    int count = 0;
    LPWSTR* split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 0; split && i < count; ++i)
        arguments.push_back(split[i]);
    ::LocalFree(split);
    return arguments;
}

// The working folder, with a trailing backslash.
inline std::wstring WorkingFolder()
{
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    return std::wstring(folder) + L"\\";
}

inline Bytes ReadAll(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::wstring& path)
{
    const Bytes bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

inline void WriteAll(const std::wstring& path, const Bytes& bytes)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline VARIANT ByteArray(const Bytes& bytes)
{
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    ::SafeArrayAccessData(v.parray, &data);
    if (!bytes.empty())
        std::memcpy(data, bytes.data(), bytes.size());
    ::SafeArrayUnaccessData(v.parray);
    return v;
}

inline VARIANT KeyArgument(LONG key)
{
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = key;
    return v;
}

// The bits of a small new picture, a little different for each key.
inline Bytes NewPicture(int key)
{
    RECT frame = {0, 0, 4000, 3000};
    HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, &frame, nullptr);
    ::Rectangle(dc, 5 + key % 50, 5, 90, 70);
    ::Ellipse(dc, 20, 20, 60, 50 + key % 50);
    UniqueEnhMetaFile picture(::CloseEnhMetaFile(dc));
    return testing_support::PictureBits(picture.get());
}

inline HRESULT Update(IQuillmorphOLE* bridge, const Bytes& native, const Bytes& picture, VARIANT key)
{
    VariantGuard f;
    VariantGuard g;
    *f.get() = ByteArray(native);
    *g.get() = ByteArray(picture);
    return bridge->UpdateAndClose(*f.get(), *g.get(), key);
}

// Written under another name first and then renamed, so that a test waiting
// for the log never reads half of it.
inline void WriteLogWhole(const std::wstring& path, const std::string& text)
{
    WriteAll(path + L".part", Bytes(text.begin(), text.end()));
    ::MoveFileExW((path + L".part").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

} // namespace editor_double
