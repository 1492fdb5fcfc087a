#pragma once

// One document read for drawings, whatever its layout: a compound file (every
// storage walked), a zip-based office document (every entry that is a
// compound file), the binary presentation format (the objects in its record
// stream) or RTF (every object group). The document is opened for reading and
// shared, and never changed. Drawings are handed to a sink as they are found,
// one at a time, with what was read of their streams; the memory of one is
// given back before the next is read.

#include <windows.h>

#include <functional>
#include <string>

#include "documents/drawing_check.h"
#include "documents/drawing_findings.h"

using DrawingSink = std::function<void(const DocumentFinding& document, const DrawingFinding& drawing,
                                       const DrawingContent& content)>;

namespace document_limits {
// Storages inside storages, in one compound file.
constexpr int kMaxStorageDepth = 32;
// Elements of all compound files in one document.
constexpr size_t kMaxElements = 1000000;
// Documents inside documents (an object in a presentation in a zip entry).
constexpr int kMaxNesting = 4;
} // namespace document_limits

DocumentFinding ScanDocument(const std::wstring& path, const DrawingSink& sink);

// The same for a document already in memory (bytes of size), named name.
DocumentFinding ScanDocumentBytes(const BYTE* bytes, size_t size, const std::wstring& name,
                                  const DrawingSink& sink);
