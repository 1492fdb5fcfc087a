#pragma once

// Drawings written out of their documents: the native document as a .ZRN
// file (the drawing application opens it) and the picture as an .emf, named
// after the document and the drawing's position in it. A file that is there
// already is never replaced: another name is taken. A drawing with faults is
// written as far as its streams could be read, and its files say so in their
// names.

#include <string>
#include <vector>

#include "documents/drawing_check.h"
#include "documents/drawing_findings.h"

struct ExtractedFile
{
    std::wstring path;
    // What it holds, for the listing ("native document of drawing 2 of ...").
    std::wstring what;
    bool damaged = false;
};

class Extractor
{
public:
    explicit Extractor(std::wstring folder) : folder_(std::move(folder)) {}
    // Makes the folder when it is not there; why tells when it cannot be had.
    HRESULT Prepare(std::wstring* why);
    // Writes what was read of the drawing; failures are listed in problems.
    void Extract(const DocumentFinding& document, const DrawingFinding& drawing,
                 const DrawingContent& content);
    const std::vector<ExtractedFile>& Written() const { return written_; }
    const std::vector<std::wstring>& Problems() const { return problems_; }

private:
    void WriteOne(const std::wstring& stem, const wchar_t* extension, HGLOBAL bytes, ULONG size,
                  const std::wstring& what, bool damaged);

    std::wstring folder_;
    std::vector<ExtractedFile> written_;
    std::vector<std::wstring> problems_;
};
