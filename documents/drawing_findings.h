#pragma once

// What the document check finds: per document, where it could be read and what
// it holds; per drawing, where it lies, what it is made of, whether the
// drawing's own Load accepts it and every fault in words a supporter follows.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// An HRESULT as 0x8003001E.
inline std::wstring HexResult(HRESULT hr)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// One fault of a drawing: what is wrong and what to do about it.
struct DrawingFault
{
    std::wstring id;     // a short stable name for scripts ("native-cut-short")
    std::wstring what;   // what was found
    std::wstring advice; // what to do
};

struct DrawingFinding
{
    // 1, 2, ... in the order the drawings were found in their document.
    size_t position = 0;
    // Where inside the document: storages, entries and records, joined by " > ".
    std::wstring path;
    // The name the container gives the object, where it keeps one (an office
    // relationship, a manifest entry, an RTF object class).
    std::wstring containerName;
    std::wstring classId;
    std::wstring userType;
    bool nativePresent = false;
    ULONGLONG nativeClaimed = 0;
    ULONGLONG nativeRead = 0;
    bool picturePresent = false;
    ULONGLONG pictureClaimed = 0;
    ULONGLONG pictureRead = 0;
    size_t pictureRecords = 0;
    RECTL pictureFrame = {};
    // The drawing's own Load on the storage: S_OK when it accepts it.
    HRESULT loadResult = E_FAIL;
    // The container's own picture of the object, where the format keeps one.
    std::wstring cachedPicture;
    ULONGLONG cachedPictureSize = 0;
    std::vector<DrawingFault> faults;

    bool Sound() const { return faults.empty(); }
};

struct DocumentFinding
{
    std::wstring path;
    // "compound file", "zip", "presentation", "RTF"; empty when unknown.
    std::wstring format;
    // Why the document could not be read at all (exit code 2), or why a part
    // of it was refused (a bomb); empty when it was read whole.
    std::wstring error;
    // What was read in part only, without stopping the reading.
    std::vector<std::wstring> problems;
    std::vector<DrawingFinding> drawings;
};
