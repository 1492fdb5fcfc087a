#pragma once

// What the test drawing applications share: the files they read and write, the
// byte arrays and picture they hand back, and the log they leave when they end.
// Header only: the editors are small programs of their own, without the test
// framework.

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quillmorphole.h"

namespace editor_double {

using Bytes = std::vector<unsigned char>;

inline Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
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
    HENHMETAFILE picture = ::CloseEnhMetaFile(dc);
    Bytes bits(::GetEnhMetaFileBits(picture, 0, nullptr));
    ::GetEnhMetaFileBits(picture, static_cast<UINT>(bits.size()), bits.data());
    ::DeleteEnhMetaFile(picture);
    return bits;
}

inline HRESULT Update(IQuillmorphOLE* bridge, const Bytes& native, const Bytes& picture, VARIANT key)
{
    VARIANT f = ByteArray(native);
    VARIANT g = ByteArray(picture);
    const HRESULT hr = bridge->UpdateAndClose(f, g, key);
    ::VariantClear(&f);
    ::VariantClear(&g);
    return hr;
}

// Written under another name first and then renamed, so that a test waiting
// for the log never reads half of it.
inline void WriteLogWhole(const std::string& path, const std::string& text)
{
    {
        std::ofstream out(path + ".part", std::ios::binary);
        out << text;
    }
    ::MoveFileExA((path + ".part").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

} // namespace editor_double
