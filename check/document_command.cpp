#include "check/document_command.h"

#include <memory>

#include "check/check_report.h"
#include "check/document_report.h"
#include "documents/document_scan.h"
#include "documents/extraction.h"
#include "server/handles.h"

namespace {

constexpr int kCannotRun = 2;
constexpr int kMaxFolderDepth = 64;
constexpr ULONGLONG kProgressIntervalMs = 250;

const wchar_t kUsage[] =
    L"Usage: QuillmorphCheck document FILE|FOLDER... [--json] [--extract DIR]\r\n"
    L"  Finds every Quillmorph drawing in the documents named (folders are searched with their "
    L"subfolders):\r\n"
    L"  compound files, zip-based office documents, presentations and RTF. For each drawing it reports\r\n"
    L"  where it is, its native document and picture, whether it loads, and every fault. Changes nothing.\r\n"
    L"  --json         the report as JSON\r\n"
    L"  --extract DIR  writes each drawing's native document (.ZRN) and picture (.emf) into DIR;\r\n"
    L"                 never replaces a file that is there\r\n"
    L"Exit code: 0 every drawing is sound, 1 a drawing has faults, 2 a document cannot be read.\r\n";

struct DocumentOptions
{
    std::vector<std::wstring> paths;
    bool json = false;
    std::wstring extractFolder;
};

bool ParseDocumentOptions(const std::vector<std::wstring>& arguments, DocumentOptions* options,
                          std::wstring* unknown)
{
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == L"--json") {
            options->json = true;
        } else if (arguments[i] == L"--extract") {
            if (++i == arguments.size()) {
                *unknown = L"--extract without a folder";
                return false;
            }
            options->extractFolder = arguments[i];
        } else if (arguments[i].size() > 2 && arguments[i].compare(0, 2, L"--") == 0) {
            *unknown = arguments[i];
            return false;
        } else {
            options->paths.push_back(arguments[i]);
        }
    }
    if (options->paths.empty())
        *unknown = L"no document or folder named";
    return !options->paths.empty();
}

// A line on the console that follows a long run; nothing when the output is
// not a console.
class Progress
{
public:
    Progress() : console_(::GetStdHandle(STD_ERROR_HANDLE))
    {
        DWORD mode = 0;
        if (!console_ || console_ == INVALID_HANDLE_VALUE || !::GetConsoleMode(console_, &mode))
            console_ = nullptr;
    }
    void Update(size_t documents, size_t drawings, size_t faults, bool force = false)
    {
        const ULONGLONG now = ::GetTickCount64();
        if (!console_ || (!force && now - last_ < kProgressIntervalMs))
            return;
        last_ = now;
        Write(L"\r" + std::to_wstring(documents) + L" documents, " + std::to_wstring(drawings) +
              L" drawings, " + std::to_wstring(faults) + L" with faults ");
        shown_ = true;
    }
    void Clear()
    {
        if (shown_)
            Write(L"\r" + std::wstring(60, L' ') + L"\r");
    }

private:
    void Write(const std::wstring& text)
    {
        DWORD written = 0;
        ::WriteConsoleW(console_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    HANDLE console_;
    ULONGLONG last_ = 0;
    bool shown_ = false;
};

class DocumentRun
{
public:
    DocumentRun(Extractor* extractor) : extractor_(extractor) {}
    void Visit(const std::wstring& path, int depth);
    DocumentReport& report() { return report_; }
    void Finish() { progress_.Clear(); }

private:
    void CheckOne(const std::wstring& path);

    Extractor* extractor_;
    DocumentReport report_;
    Progress progress_;
    size_t drawings_ = 0;
    size_t faults_ = 0;
};

void DocumentRun::Visit(const std::wstring& path, int depth)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return CheckOne(path);
    // A folder linked to from inside itself would never end: links are not followed.
    if (depth > kMaxFolderDepth || (depth > 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)))
        return;
    const std::wstring folder = path.back() == L'\\' || path.back() == L'/' ? path : path + L"\\";
    WIN32_FIND_DATAW found = {};
    UniqueSearch search = AdoptSearchHandle(::FindFirstFileW((folder + L"*").c_str(), &found));
    for (bool more = static_cast<bool>(search); more; more = ::FindNextFileW(search.get(), &found)) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        Visit(folder + name, depth + 1);
    }
}

void DocumentRun::CheckOne(const std::wstring& path)
{
    DocumentFinding document = ScanDocument(
        path, [&](const DocumentFinding& in, const DrawingFinding& drawing, const DrawingContent& content) {
            ++drawings_;
            faults_ += !drawing.Sound();
            if (extractor_)
                extractor_->Extract(in, drawing, content);
            progress_.Update(report_.documents.size(), drawings_, faults_);
        });
    report_.documents.push_back(std::move(document));
    progress_.Update(report_.documents.size(), drawings_, faults_);
}

} // namespace

bool IsDocumentCommand(const std::vector<std::wstring>& arguments)
{
    return !arguments.empty() && arguments[0] == L"document";
}

int RunDocumentCommand(const std::vector<std::wstring>& arguments)
{
    DocumentOptions options;
    std::wstring unknown;
    if (!ParseDocumentOptions(arguments, &options, &unknown)) {
        WriteOutput(L"Unknown argument: " + unknown + L"\r\n" + kUsage);
        return kCannotRun;
    }
    OleInitializeGuard ole;
    if (FAILED(ole.status())) {
        WriteOutput(CannotRunText(L"the component runtime does not start: " + DescribeResult(ole.status())));
        return kCannotRun;
    }
    std::unique_ptr<Extractor> extractor;
    if (!options.extractFolder.empty()) {
        extractor = std::make_unique<Extractor>(options.extractFolder);
        std::wstring why;
        if (FAILED(extractor->Prepare(&why))) {
            WriteOutput(options.json ? CannotRunJson(why) : CannotRunText(why));
            return kCannotRun;
        }
    }
    DocumentRun run(extractor.get());
    for (const std::wstring& path : options.paths)
        run.Visit(path, 0);
    run.Finish();
    DocumentReport& report = run.report();
    if (extractor) {
        report.extracted = extractor->Written();
        report.extractionProblems = extractor->Problems();
    }
    WriteOutput(options.json ? report.Json() : report.Text());
    return report.ExitCode();
}
