#include "tools/demo/demo_document.h"

#include <wincodec.h>

#include <cstdio>
#include <cstring>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace demo {

namespace {
const char kHeader[] = "QUILLMORPH DEMO DRAWING\r\n";
const char kRevision[] = "revision=";
} // namespace

Bytes MakeDocument(int revision, const std::string& history)
{
    std::string text = kHeader;
    text += kRevision + std::to_string(revision) + "\r\n";
    text += history;
    return Bytes(text.begin(), text.end());
}

int DocumentRevision(const Bytes& document)
{
    std::string text(document.begin(), document.end());
    size_t at = text.find(kRevision);
    if (at == std::string::npos)
        return 0;
    return std::atoi(text.c_str() + at + sizeof(kRevision) - 1);
}

UniqueEnhMetaFile DrawPicture(int revision)
{
    // The frame is in 0.01 mm: 50 mm x 25 mm. Drawing units are the reference
    // device's pixels, scaled below so that the picture fills the frame.
    RECT frame = {0, 0, 5000, 2500};
    WindowDC screen(nullptr);
    HDC dc = ::CreateEnhMetaFileW(screen.get(), nullptr, &frame, L"Quillmorph demo\0Drawing\0");
    if (!dc)
        return UniqueEnhMetaFile();

    int widthMm = ::GetDeviceCaps(screen.get(), HORZSIZE);
    int widthPx = ::GetDeviceCaps(screen.get(), HORZRES);
    int heightMm = ::GetDeviceCaps(screen.get(), VERTSIZE);
    int heightPx = ::GetDeviceCaps(screen.get(), VERTRES);
    int w = ::MulDiv(50, widthPx, widthMm);
    int h = ::MulDiv(25, heightPx, heightMm);

    // Each revision gets its own colour, so the change shows at a glance.
    static const COLORREF colours[] = {RGB(70, 130, 180), RGB(220, 90, 60), RGB(60, 170, 90),
                                       RGB(160, 80, 190)};
    COLORREF colour = colours[revision % 4];

    HBRUSH background = ::CreateSolidBrush(RGB(250, 248, 240));
    RECT all = {0, 0, w, h};
    ::FillRect(dc, &all, background);
    ::DeleteObject(background);

    HBRUSH fill = ::CreateSolidBrush(colour);
    HPEN pen = ::CreatePen(PS_SOLID, 3, RGB(30, 30, 30));
    HGDIOBJ oldBrush = ::SelectObject(dc, fill);
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    ::Ellipse(dc, w / 20, h / 10, w / 20 + h * 8 / 10, h * 9 / 10);
    for (int i = 0; i < revision && i < 8; ++i) {
        int x = w * 45 / 100 + i * w / 18;
        ::Rectangle(dc, x, h * 6 / 10, x + w / 24, h * 85 / 100);
    }
    ::SelectObject(dc, oldBrush);
    ::SelectObject(dc, oldPen);
    ::DeleteObject(fill);
    ::DeleteObject(pen);

    HFONT font =
        ::CreateFontW(-h / 5, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
    HGDIOBJ oldFont = ::SelectObject(dc, font);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(20, 20, 20));
    wchar_t label[64];
    std::swprintf(label, 64, L"Revision %d", revision);
    ::TextOutW(dc, w * 45 / 100, h / 6, label, static_cast<int>(std::wcslen(label)));
    ::SelectObject(dc, oldFont);
    ::DeleteObject(font);

    return UniqueEnhMetaFile(::CloseEnhMetaFile(dc));
}

Bytes EnhMetaFileBits(HENHMETAFILE picture)
{
    UINT size = ::GetEnhMetaFileBits(picture, 0, nullptr);
    Bytes bits(size);
    if (size)
        ::GetEnhMetaFileBits(picture, size, bits.data());
    return bits;
}

HRESULT WriteMetafilePictureAsPng(HGLOBAL metaFilePict, const wchar_t* path, int width, int height)
{
    GlobalLockGuard locked(metaFilePict);
    if (!locked)
        return E_INVALIDARG;
    const auto* mfp = static_cast<const METAFILEPICT*>(locked.get());

    // Play the metafile into a 32-bit DIB of the requested size.
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    UniqueDC memory(::CreateCompatibleDC(nullptr));
    if (!memory)
        return HRESULT_FROM_WIN32(::GetLastError());
    HBITMAP bitmap = ::CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!bitmap)
        return E_OUTOFMEMORY;
    HGDIOBJ old = ::SelectObject(memory.get(), bitmap);
    RECT all = {0, 0, width, height};
    ::FillRect(memory.get(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SetMapMode(memory.get(), mfp->mm);
    ::SetViewportExtEx(memory.get(), width, height, nullptr);
    if (mfp->mm == MM_ANISOTROPIC && mfp->xExt > 0 && mfp->yExt > 0)
        ::SetWindowExtEx(memory.get(), mfp->xExt, mfp->yExt, nullptr);
    BOOL played = ::PlayMetaFile(memory.get(), mfp->hMF);
    ::GdiFlush();
    ::SelectObject(memory.get(), old);
    if (!played) {
        ::DeleteObject(bitmap);
        return E_FAIL;
    }

    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(factory.GetAddressOf()));
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (SUCCEEDED(hr))
        hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromFilename(path, GENERIC_WRITE);
    if (SUCCEEDED(hr))
        hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr))
        hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr))
        hr = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(hr))
        hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr))
        hr = frame->SetSize(width, height);
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    if (SUCCEEDED(hr))
        hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr))
        hr = frame->WritePixels(height, width * 4, width * height * 4, static_cast<BYTE*>(pixels));
    if (SUCCEEDED(hr))
        hr = frame->Commit();
    if (SUCCEEDED(hr))
        hr = encoder->Commit();
    ::DeleteObject(bitmap);
    return hr;
}

Bytes ReadFileBytes(const wchar_t* path)
{
    Bytes bytes;
    UniqueKernelHandle file = AdoptFileHandle(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return bytes;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF)
        return bytes;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() &&
        !::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        read = 0;
    bytes.resize(read);
    return bytes;
}

bool WriteFileBytes(const wchar_t* path, const Bytes& bytes)
{
    UniqueKernelHandle file = AdoptFileHandle(
        ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return bytes.empty() ||
           (::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

HRESULT MakeByteArray(const Bytes& bytes, VARIANT* out)
{
    ::VariantInit(out);
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array)
        return E_OUTOFMEMORY;
    if (!bytes.empty()) {
        void* data = nullptr;
        HRESULT hr = ::SafeArrayAccessData(array, &data);
        if (FAILED(hr)) {
            ::SafeArrayDestroy(array);
            return hr;
        }
        std::memcpy(data, bytes.data(), bytes.size());
        ::SafeArrayUnaccessData(array);
    }
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array;
    return S_OK;
}

bool ReadByteArray(const VARIANT& v, Bytes* out)
{
    if (v.vt != (VT_ARRAY | VT_UI1) || !v.parray || ::SafeArrayGetDim(v.parray) != 1)
        return false;
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(v.parray, 1, &lower);
    ::SafeArrayGetUBound(v.parray, 1, &upper);
    size_t count = upper >= lower ? static_cast<size_t>(upper - lower + 1) : 0;
    out->resize(count);
    if (count == 0)
        return true;
    void* data = nullptr;
    if (FAILED(::SafeArrayAccessData(v.parray, &data)))
        return false;
    std::memcpy(out->data(), data, count);
    ::SafeArrayUnaccessData(v.parray);
    return true;
}

} // namespace demo
