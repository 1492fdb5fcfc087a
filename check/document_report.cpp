#include "check/document_report.h"

#include "check/check_report.h"
#include "documents/document_scan.h"

namespace {

struct Totals
{
    size_t drawings = 0;
    size_t faulty = 0;
    size_t unreadable = 0;
    size_t partial = 0;
};

Totals Count(const std::vector<DocumentFinding>& documents)
{
    Totals totals;
    for (const DocumentFinding& document : documents) {
        totals.drawings += document.drawings.size();
        for (const DrawingFinding& drawing : document.drawings)
            totals.faulty += !drawing.Sound();
        totals.unreadable += !document.error.empty();
        totals.partial += !document.problems.empty();
    }
    return totals;
}

std::wstring Frame(const RECTL& frame)
{
    return std::to_wstring(frame.right - frame.left) + L" x " + std::to_wstring(frame.bottom - frame.top) +
           L" hundredths of a mm";
}

std::wstring StreamText(const wchar_t* what, bool present, ULONGLONG read, ULONGLONG claimed)
{
    if (!present)
        return std::wstring(what) + L" missing";
    if (read != claimed)
        return std::wstring(what) + L" " + std::to_wstring(read) + L" of " + std::to_wstring(claimed) +
               L" bytes";
    return std::wstring(what) + L" " + std::to_wstring(read) + L" bytes";
}

std::wstring DrawingLine(const DocumentFinding& document, const DrawingFinding& drawing)
{
    std::wstring line = drawing.Sound() ? L"OK    " : L"FAIL  ";
    line += document.path + L": drawing " + std::to_wstring(drawing.position) + L" at " + drawing.path;
    if (!drawing.containerName.empty())
        line += L" (" + drawing.containerName + L")";
    line += L": " +
            StreamText(L"native document", drawing.nativePresent, drawing.nativeRead, drawing.nativeClaimed);
    line +=
        L", " + StreamText(L"picture", drawing.picturePresent, drawing.pictureRead, drawing.pictureClaimed);
    if (drawing.pictureRecords)
        line += L" (records: " + std::to_wstring(drawing.pictureRecords) + L", frame " +
                Frame(drawing.pictureFrame) + L")";
    line += SUCCEEDED(drawing.loadResult) ? L"; loads"
                                          : L"; does not load (" + DescribeResult(drawing.loadResult) + L")";
    if (!drawing.cachedPicture.empty())
        line += L"; the container's picture: " + drawing.cachedPicture + L", " +
                std::to_wstring(drawing.cachedPictureSize) + L" bytes";
    line += L"\r\n";
    for (const DrawingFault& fault : drawing.faults)
        line += L"      Fault: " + fault.what + L"\r\n      What to do: " + fault.advice + L"\r\n";
    return line;
}

std::wstring DocumentLines(const DocumentFinding& document)
{
    std::wstring text;
    if (!document.error.empty())
        text += L"ERROR " + document.path + L": cannot be read" +
                (document.drawings.empty() ? L"" : L" whole") + L": " + document.error + L"\r\n";
    for (const std::wstring& problem : document.problems)
        text += L"WARN  " + document.path + L": read in part: " + problem + L"\r\n";
    if (document.error.empty() && document.drawings.empty())
        text += L"OK    " + document.path + L": no drawings (" + document.format + L")\r\n";
    for (const DrawingFinding& drawing : document.drawings)
        text += DrawingLine(document, drawing);
    return text;
}

const wchar_t* ResultWord(int exitCode)
{
    return exitCode == 0 ? L"OK" : exitCode == 1 ? L"FAIL" : L"ERROR";
}

std::wstring JsonStrings(const std::vector<std::wstring>& items)
{
    std::wstring json = L"[";
    for (size_t i = 0; i < items.size(); ++i)
        json += (i ? L", " : L"") + JsonString(items[i]);
    return json + L"]";
}

std::wstring DrawingJson(const DrawingFinding& d)
{
    std::wstring json = L"{\"position\": " + std::to_wstring(d.position) + L", \"path\": " +
                        JsonString(d.path) + L", \"containerName\": " + JsonString(d.containerName) +
                        L", \"class\": " + JsonString(d.classId) + L", \"userType\": " +
                        JsonString(d.userType);
    json += L", \"native\": {\"present\": " + std::wstring(d.nativePresent ? L"true" : L"false") +
            L", \"claimed\": " + std::to_wstring(d.nativeClaimed) + L", \"read\": " +
            std::to_wstring(d.nativeRead) + L"}";
    json += L", \"picture\": {\"present\": " + std::wstring(d.picturePresent ? L"true" : L"false") +
            L", \"claimed\": " + std::to_wstring(d.pictureClaimed) + L", \"read\": " +
            std::to_wstring(d.pictureRead) + L", \"records\": " + std::to_wstring(d.pictureRecords) +
            L", \"frame\": [" + std::to_wstring(d.pictureFrame.left) + L", " +
            std::to_wstring(d.pictureFrame.top) + L", " + std::to_wstring(d.pictureFrame.right) + L", " +
            std::to_wstring(d.pictureFrame.bottom) + L"]}";
    json += L", \"loads\": " + std::wstring(SUCCEEDED(d.loadResult) ? L"true" : L"false") +
            L", \"loadResult\": " + JsonString(HexResult(d.loadResult));
    json += L", \"cachedPicture\": {\"name\": " + JsonString(d.cachedPicture) + L", \"size\": " +
            std::to_wstring(d.cachedPictureSize) + L"}";
    json += L", \"sound\": " + std::wstring(d.Sound() ? L"true" : L"false") + L", \"faults\": [";
    for (size_t i = 0; i < d.faults.size(); ++i)
        json += (i ? L", " : L"") + std::wstring(L"{\"id\": ") + JsonString(d.faults[i].id) +
                L", \"what\": " + JsonString(d.faults[i].what) + L", \"advice\": " +
                JsonString(d.faults[i].advice) + L"}";
    return json + L"]}";
}

std::wstring DocumentJson(const DocumentFinding& document)
{
    std::wstring json = L"    {\"path\": " + JsonString(document.path) + L", \"format\": " +
                        JsonString(document.format) + L", \"error\": " + JsonString(document.error) +
                        L", \"problems\": " + JsonStrings(document.problems) + L", \"drawings\": [";
    for (size_t i = 0; i < document.drawings.size(); ++i)
        json += (i ? L",\n      " : L"\n      ") + DrawingJson(document.drawings[i]);
    return json + (document.drawings.empty() ? L"]}" : L"\n    ]}");
}

} // namespace

int DocumentReport::ExitCode() const
{
    const Totals totals = Count(documents);
    if (totals.unreadable)
        return 2;
    return totals.faulty || totals.partial || !extractionProblems.empty() ? 1 : 0;
}

std::wstring DocumentReport::Text() const
{
    std::wstring text;
    for (const DocumentFinding& document : documents)
        text += DocumentLines(document);
    if (!extracted.empty() || !extractionProblems.empty())
        text += L"\r\n";
    for (const ExtractedFile& file : extracted)
        text += L"Wrote " + file.path + L": " + file.what +
                (file.damaged ? L" (the drawing has faults)" : L"") + L"\r\n";
    for (const std::wstring& problem : extractionProblems)
        text += L"Not written: " + problem + L"\r\n";
    const Totals totals = Count(documents);
    text += L"\r\nResult: " + std::wstring(ResultWord(ExitCode())) + L" (" +
            std::to_wstring(documents.size()) + L" documents, " + std::to_wstring(totals.drawings) +
            L" drawings, " + std::to_wstring(totals.faulty) + L" with faults, " +
            std::to_wstring(totals.unreadable) + L" documents not readable, " +
            std::to_wstring(totals.partial) + L" read in part; exit code " + std::to_wstring(ExitCode()) +
            L")\r\n";
    return text;
}

std::wstring DocumentReport::Json() const
{
    std::wstring json = L"{\n  \"documents\": [";
    for (size_t i = 0; i < documents.size(); ++i)
        json += (i ? L",\n" : L"\n") + DocumentJson(documents[i]);
    json += L"\n  ],\n  \"extracted\": [";
    for (size_t i = 0; i < extracted.size(); ++i)
        json += (i ? L", " : L"") + std::wstring(L"{\"path\": ") + JsonString(extracted[i].path) +
                L", \"what\": " + JsonString(extracted[i].what) + L", \"damaged\": " +
                (extracted[i].damaged ? L"true" : L"false") + L"}";
    const Totals totals = Count(documents);
    json += L"],\n  \"extractionProblems\": " + JsonStrings(extractionProblems) +
            L",\n  \"summary\": {\"documents\": " + std::to_wstring(documents.size()) + L", \"drawings\": " +
            std::to_wstring(totals.drawings) + L", \"withFaults\": " + std::to_wstring(totals.faulty) +
            L", \"notReadable\": " + std::to_wstring(totals.unreadable) + L", \"readInPart\": " +
            std::to_wstring(totals.partial) + L"},\n  \"result\": " + JsonString(ResultWord(ExitCode())) +
            L",\n  \"exitCode\": " + std::to_wstring(ExitCode()) + L"\n}\n";
    return json;
}
