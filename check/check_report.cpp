#include "check/check_report.h"

#include "server/handles.h"

#include <cstdio>
#include <cwchar>

namespace {

const wchar_t* StatusWord(CheckStatus status)
{
    switch (status) {
    case CheckStatus::Ok:
        return L"OK";
    case CheckStatus::Warn:
        return L"WARN";
    default:
        return L"FAIL";
    }
}

std::wstring Count(size_t n, const wchar_t* one, const wchar_t* many)
{
    return std::to_wstring(n) + L" " + (n == 1 ? one : many);
}

} // namespace

std::wstring JsonString(const std::wstring& text)
{
    // Pairs of a character and what follows the backslash that escapes it
    // (only a pair's first character counts as found); other control
    // characters go as \u00XX, everything else as it is.
    static const wchar_t kNamed[] = L"\"\"\\\\\nn\rr\tt";
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        const wchar_t* named = c ? std::wcschr(kNamed, c) : nullptr;
        if (named && (named - kNamed) % 2 == 0) {
            quoted += L'\\';
            quoted += named[1];
        } else if (c < 0x20) {
            wchar_t escaped[8];
            std::swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + L"\"";
}

std::wstring JoinFindings(const std::vector<std::wstring>& findings)
{
    const size_t shown = findings.size() < 6 ? findings.size() : 5;
    std::wstring text;
    for (size_t i = 0; i < shown; ++i)
        text += (i ? L"; " : L"") + findings[i];
    if (shown < findings.size())
        text += L"; and " + std::to_wstring(findings.size() - shown) + L" more";
    return text;
}

CheckStatus Worse(CheckStatus a, CheckStatus b)
{
    return static_cast<int>(a) > static_cast<int>(b) ? a : b;
}

CheckStatus CheckReport::Overall() const
{
    CheckStatus overall = CheckStatus::Ok;
    for (const CheckResult& result : results)
        overall = Worse(overall, result.status);
    return overall;
}

int CheckReport::ExitCode() const
{
    return Overall() == CheckStatus::Ok ? 0 : 1;
}

std::wstring CheckReport::Text() const
{
    std::wstring text = L"QuillmorphCheck " + std::to_wstring(programBits) + L"-bit on " +
                        std::to_wstring(systemBits) + L"-bit Windows: " + program + L"\r\n";
    text += L"Server: " + server + L"\r\n\r\n";
    size_t warnings = 0;
    size_t failures = 0;
    for (const CheckResult& result : results) {
        std::wstring word = StatusWord(result.status);
        word.resize(6, L' ');
        text += word + result.title + L": " + result.detail + L"\r\n";
        if (!result.advice.empty())
            text += L"      What to do: " + result.advice + L"\r\n";
        warnings += result.status == CheckStatus::Warn;
        failures += result.status == CheckStatus::Fail;
    }
    text += L"\r\nResult: " + std::wstring(StatusWord(Overall())) + L" (" +
            Count(failures, L"failure", L"failures") + L", " + Count(warnings, L"warning", L"warnings") +
            L"; exit code " + std::to_wstring(ExitCode()) + L")\r\n";
    return text;
}

std::wstring CheckReport::Json() const
{
    std::wstring json = L"{\n  \"program\": " + JsonString(program) + L",\n  \"programBits\": " +
                        std::to_wstring(programBits) + L",\n  \"systemBits\": " +
                        std::to_wstring(systemBits) + L",\n  \"server\": " + JsonString(server) +
                        L",\n  \"checks\": [";
    for (size_t i = 0; i < results.size(); ++i) {
        const CheckResult& result = results[i];
        json += i ? L",\n    {" : L"\n    {";
        json += L"\"id\": " + JsonString(result.id) + L", \"title\": " + JsonString(result.title) +
                L", \"status\": " + JsonString(StatusWord(result.status)) + L", \"detail\": " +
                JsonString(result.detail) + L", \"advice\": " + JsonString(result.advice) + L"}";
    }
    json += L"\n  ],\n  \"result\": " + JsonString(StatusWord(Overall())) + L",\n  \"exitCode\": " +
            std::to_wstring(ExitCode()) + L"\n}\n";
    return json;
}

std::wstring CannotRunText(const std::wstring& reason)
{
    return L"QuillmorphCheck could not run: " + reason + L"\r\n";
}

std::wstring CannotRunJson(const std::wstring& reason)
{
    return L"{\n  \"result\": \"ERROR\",\n  \"error\": " + JsonString(reason) + L",\n  \"exitCode\": 2\n}\n";
}

namespace {

// Words for the codes this program meets most, where the platform has no text
// for them.
const wchar_t* KnownResultWords(HRESULT hr)
{
    switch (hr) {
    case REGDB_E_CLASSNOTREG:
        return L"class not registered";
    case REGDB_E_KEYMISSING:
        return L"a registry key is missing";
    case CO_E_SERVER_EXEC_FAILURE:
        return L"the server did not start";
    case CO_E_SERVER_STOPPING:
        return L"the server was ending";
    case TYPE_E_LIBNOTREGISTERED:
        return L"type library not registered";
    case TYPE_E_CANTLOADLIBRARY:
        return L"type library cannot be loaded";
    default:
        return nullptr;
    }
}

} // namespace

std::wstring DescribeResult(HRESULT hr)
{
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    UniqueLocalMemory owner;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(owner.put()), 0, nullptr);
    const wchar_t* message = static_cast<const wchar_t*>(owner.get());
    std::wstring words = length && message ? std::wstring(message, length) : std::wstring();
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' '))
        words.pop_back();
    if (words.empty() && KnownResultWords(hr))
        words = KnownResultWords(hr);
    return words.empty() ? std::wstring(code) : std::wstring(code) + L" (" + words + L")";
}

void WriteOutput(const std::wstring& text)
{
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(out, &mode)) {
        ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (size <= 0)
        return;
    std::string utf8(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr,
                          nullptr);
    ::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}
