#pragma once

// The document check's report: one line per drawing (and per document without
// drawings or that could not be read), with what to do under each fault; the
// files extracted; the result. As text for a person, as JSON for a script.

#include <string>
#include <vector>

#include "documents/drawing_findings.h"
#include "documents/extraction.h"

struct DocumentReport
{
    std::vector<DocumentFinding> documents;
    std::vector<ExtractedFile> extracted;
    std::vector<std::wstring> extractionProblems;

    // 0 when every drawing found is sound, 1 when one is not (or a document
    // was read in part only), 2 when a document could not be read at all.
    int ExitCode() const;
    std::wstring Text() const;
    std::wstring Json() const;
};
