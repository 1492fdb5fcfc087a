#pragma once

// The temporary files of one edit: the document the drawing application works
// on, written where the user's temporary files go, and their owner, which the
// table of open edits keeps until the edit ends.

#include <windows.h>

#include <string>

// The temporary files of one edit: the empty ".tmp" file that reserved the name
// and the ".ZRN" document beside it that the editor works on. They go with their
// owner, the document first; the reserving file goes only once the document is
// gone, so that its name is not handed out again while an editor still holds
// the document open. A file that cannot be deleted stays where it is.
class EditFiles
{
public:
    EditFiles() = default;
    explicit EditFiles(std::wstring reservedName) : m_reserved(std::move(reservedName)) {}
    EditFiles(const EditFiles&) = delete;
    EditFiles& operator=(const EditFiles&) = delete;
    EditFiles(EditFiles&& other) noexcept;
    EditFiles& operator=(EditFiles&& other) noexcept;
    ~EditFiles() { Remove(); }

    void SetDocument(std::wstring documentName) { m_document = std::move(documentName); }
    const std::wstring& document() const { return m_document; }
    const std::wstring& reserved() const { return m_reserved; }

    // Deletes the document, then the reserving file; forgets both either way.
    void Remove();

private:
    std::wstring m_reserved;
    std::wstring m_document;
};

// Reserves a temporary name in the user's temporary folder and writes bytes to
// the matching ".ZRN" file, which it creates new: when that name is already
// taken, it reserves another (a bounded number of times) and never opens the
// file that was there. fileName receives the file's full name, and files the
// two files, to be deleted when the edit ends. A failure leaves neither, and
// nothing it did not create is deleted.
HRESULT WriteNativeDocumentFile(const BYTE* bytes, SIZE_T size, std::wstring* fileName, EditFiles* files);
