#pragma once

// What the benchmark programs share: a clock, medians, payloads, the table they
// print, and the identifiers of the minimal local server.

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "server/handles.h"
#include "tests/support/test_support.h"

namespace bench {

using Bytes = std::vector<BYTE>;

// {5E0B7D21-93C4-4A6F-B812-7C3D0E94A6B1}: the minimal local server's class. Its
// object answers IQuillmorphOLE with empty methods (so its calls take the very
// road of the real server's, through the same registered type library) and
// IPersistStorage with empty methods.
constexpr CLSID kMinimalServerClass = {
    0x5e0b7d21, 0x93c4, 0x4a6f, {0xb8, 0x12, 0x7c, 0x3d, 0x0e, 0x94, 0xa6, 0xb1}};

// Named events between the benchmark and its editor: the editor has read the
// document and built its arguments; the benchmark lets it call.
constexpr wchar_t kEditorReadyEvent[] = L"QuillmorphBenchEditorReady";
constexpr wchar_t kEditorGoEvent[] = L"QuillmorphBenchEditorGo";

class Stopwatch
{
public:
    Stopwatch() { ::QueryPerformanceCounter(&start_); }
    double Seconds() const
    {
        LARGE_INTEGER now, frequency;
        ::QueryPerformanceCounter(&now);
        ::QueryPerformanceFrequency(&frequency);
        return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency.QuadPart);
    }

private:
    LARGE_INTEGER start_;
};

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

using testing_support::PatternBytes;

// The bits of an enhanced metafile of about size bytes: polylines, as a drawing
// application's picture is made of.
inline Bytes PictureBits(size_t size)
{
    RECT frame = {0, 0, 20000, 15000};
    HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, &frame, nullptr);
    POINT points[100];
    size_t written = 0;
    for (int line = 0; written < size; ++line) {
        for (int i = 0; i < 100; ++i)
            points[i] = {(i * 37 + line * 11) % 2000, (i * i + line * 7) % 1500};
        ::Polyline(dc, points, 100);
        written += 28 + 100 * 4; // stored with 16-bit coordinates
    }
    UniqueEnhMetaFile picture(::CloseEnhMetaFile(dc));
    return testing_support::PictureBits(picture.get());
}

// The picture that goes with an edited drawing of nativeSize bytes: 1 MB, or
// 64 KB for the small drawings of the quick pass.
inline size_t EditPictureSize(size_t nativeSize)
{
    return nativeSize >= (16u << 20) ? (1u << 20) : (64u << 10);
}

// A byte-array variant (VT_ARRAY | VT_UI1, lower bound 0) holding bytes.
inline HRESULT MakeByteArray(const Bytes& bytes, VariantGuard* out)
{
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array)
        return E_OUTOFMEMORY;
    (*out)->vt = VT_ARRAY | VT_UI1;
    (*out)->parray = array;
    void* data = nullptr;
    HRESULT hr = ::SafeArrayAccessData(array, &data);
    if (FAILED(hr))
        return hr;
    if (!bytes.empty())
        std::memcpy(data, bytes.data(), bytes.size());
    return ::SafeArrayUnaccessData(array);
}

inline std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// One row of the results table.
struct Row
{
    std::string measurement;
    std::string server;
    std::string baseline;
    double ratio;
    std::string target;
    bool met;
};

inline std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

inline std::string HexResult(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

} // namespace bench
