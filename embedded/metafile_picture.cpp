#include "embedded/metafile_picture.h"

#include <commdlg.h>

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "server/handles.h"

namespace {

// The default printer's device context, asked for without showing a dialog; null
// when no printer is installed.
UniqueDC DefaultPrinterDC()
{
    PRINTDLGA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.Flags = PD_RETURNDEFAULT | PD_RETURNDC;
    dialog.nCopies = 1;
    dialog.nFromPage = 0xFFFF;
    dialog.nToPage = 0xFFFF;
    dialog.nMinPage = 1;
    dialog.nMaxPage = 0xFFFF;
    ::PrintDlgA(&dialog);
    // The printer's settings come back as blocks of ours even when no DC does.
    UniqueHGlobal devMode(dialog.hDevMode);
    UniqueHGlobal devNames(dialog.hDevNames);
    return UniqueDC(dialog.hDC);
}

HRESULT ConvertToWindowsMetafile(HENHMETAFILE picture, HDC reference, UniqueMetaFile* metafile)
{
    UINT size = ::GetWinMetaFileBits(picture, 0, nullptr, MM_ANISOTROPIC, reference);
    if (size == 0)
        return E_UNEXPECTED;
    std::unique_ptr<BYTE[]> bits(new (std::nothrow) BYTE[size]);
    if (!bits)
        return E_OUTOFMEMORY;
    if (::GetWinMetaFileBits(picture, size, bits.get(), MM_ANISOTROPIC, reference) != size)
        return E_UNEXPECTED;
    metafile->reset(::SetMetaFileBitsEx(size, bits.get()));
    return *metafile ? S_OK : E_UNEXPECTED;
}

HRESULT MakeEmptyMetafile(UniqueMetaFile* metafile)
{
    HDC recorder = ::CreateMetaFileA(nullptr);
    if (!recorder)
        return E_UNEXPECTED;
    metafile->reset(::CloseMetaFile(recorder));
    return *metafile ? S_OK : E_UNEXPECTED;
}

} // namespace

HRESULT MakeMetafilePict(HENHMETAFILE picture, HGLOBAL* metafilePict)
{
    *metafilePict = nullptr;
    UniqueMetaFile metafile;
    if (picture) {
        // The conversion is made against the device the drawing will most likely
        // be printed on; without a printer the screen serves.
        UniqueDC printer = DefaultPrinterDC();
        WindowDC screen(nullptr);
        HDC referenceDC = printer ? printer.get() : screen.get();
        UniqueDC memoryDC(::CreateCompatibleDC(referenceDC));
        if (!memoryDC)
            return E_UNEXPECTED;
        ::SetMapMode(memoryDC.get(), MM_ANISOTROPIC);
        HRESULT hr = ConvertToWindowsMetafile(picture, memoryDC.get(), &metafile);
        if (FAILED(hr))
            return hr;
    } else {
        HRESULT hr = MakeEmptyMetafile(&metafile);
        if (FAILED(hr))
            return hr;
    }

    UniqueHGlobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(METAFILEPICT)));
    if (!block)
        return E_OUTOFMEMORY;
    {
        GlobalLockGuard locked(block.get());
        if (!locked)
            return E_OUTOFMEMORY;
        auto* pict = static_cast<METAFILEPICT*>(locked.get());
        const SIZEL extent = PictureExtent(picture);
        pict->mm = MM_ANISOTROPIC;
        pict->xExt = extent.cx;
        pict->yExt = extent.cy;
        pict->hMF = metafile.release();
    }
    *metafilePict = block.release();
    return S_OK;
}

bool IsWellFormedEnhMetaFile(const BYTE* bits, size_t size)
{
    ENHMETAHEADER header = {};
    const size_t smallestHeader = offsetof(ENHMETAHEADER, cbPixelFormat);
    if (!bits || size < smallestHeader)
        return false;
    std::memcpy(&header, bits, smallestHeader);
    if (header.iType != EMR_HEADER || header.dSignature != ENHMETA_SIGNATURE || header.nBytes > size ||
        header.nSize < smallestHeader)
        return false;
    const size_t total = header.nBytes;
    size_t offset = 0;
    while (offset + sizeof(EMR) <= total) {
        EMR record = {};
        std::memcpy(&record, bits + offset, sizeof(record));
        if (record.nSize < sizeof(EMR) || record.nSize % 4 != 0 || record.nSize > total - offset)
            return false;
        offset += record.nSize;
        if (record.iType == EMR_EOF)
            return offset == total;
    }
    return false;
}

UniqueEnhMetaFile EnhMetaFileFromBits(const BYTE* bits, size_t size)
{
    // Bits whose records do not walk to their end record would keep the
    // platform's player stepping on the spot: such a picture is no picture.
    if (size > UINT_MAX || !IsWellFormedEnhMetaFile(bits, size))
        return UniqueEnhMetaFile();
    return UniqueEnhMetaFile(::SetEnhMetaFileBits(static_cast<UINT>(size), bits));
}

HRESULT CopyWellFormedEnhMetaFile(HENHMETAFILE picture, UniqueEnhMetaFile* copy)
{
    copy->reset();
    const UINT size = ::GetEnhMetaFileBits(picture, 0, nullptr);
    if (size == 0)
        return E_INVALIDARG;
    std::unique_ptr<BYTE[]> bits(new (std::nothrow) BYTE[size]);
    if (!bits)
        return E_OUTOFMEMORY;
    if (::GetEnhMetaFileBits(picture, size, bits.get()) != size)
        return E_INVALIDARG;
    if (!IsWellFormedEnhMetaFile(bits.get(), size))
        return DV_E_FORMATETC;
    copy->reset(::SetEnhMetaFileBits(size, bits.get()));
    return *copy ? S_OK : E_OUTOFMEMORY;
}

SIZEL PictureExtent(HENHMETAFILE picture)
{
    ENHMETAHEADER header = {};
    if (!picture || ::GetEnhMetaFileHeader(picture, sizeof(header), &header) == 0)
        return SIZEL{0, 0};
    // A hostile frame from INT_MIN to INT_MAX is 2^32 - 1 wide: the difference is
    // taken in 64 bits and capped.
    const LONGLONG width = static_cast<LONGLONG>(header.rclFrame.right) - header.rclFrame.left;
    const LONGLONG height = static_cast<LONGLONG>(header.rclFrame.bottom) - header.rclFrame.top;
    if (width < 0 || height < 0)
        return SIZEL{0, 0};
    auto capped = [](LONGLONG value) { return static_cast<LONG>(value > LONG_MAX ? LONG_MAX : value); };
    return SIZEL{capped(width), capped(height)};
}
