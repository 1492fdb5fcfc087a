#pragma once

// The check program's report: one result per check, OK, WARN or FAIL, with
// what was found and, for each problem, what to do about it; printed as text
// for a person or as JSON for a script.

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

enum class CheckStatus
{
    Ok,
    Warn,
    Fail,
};

struct CheckResult
{
    CheckResult(std::wstring checkId, std::wstring checkTitle)
        : id(std::move(checkId)), title(std::move(checkTitle))
    {
    }

    // A short stable name for scripts ("type-library") and a title for people.
    std::wstring id;
    std::wstring title;
    CheckStatus status = CheckStatus::Ok;
    // What was found.
    std::wstring detail;
    // What to do; empty when the check passed.
    std::wstring advice;
};

// The worse of two statuses.
CheckStatus Worse(CheckStatus a, CheckStatus b);

// At most a handful of findings in a line, joined by semicolons; the rest
// counted ("; and 3 more").
std::wstring JoinFindings(const std::vector<std::wstring>& findings);

struct CheckReport
{
    std::wstring program;
    int programBits = 0;
    int systemBits = 0;
    std::wstring server;
    std::vector<CheckResult> results;

    CheckStatus Overall() const;
    // 0 when every check passed, 1 when one warned or failed.
    int ExitCode() const;
    std::wstring Text() const;
    std::wstring Json() const;
};

// The report of a check that could not run at all (exit code 2).
std::wstring CannotRunText(const std::wstring& reason);
std::wstring CannotRunJson(const std::wstring& reason);

// An HRESULT as "0x80070005 (Access is denied.)", with the platform's text
// where it has one.
std::wstring DescribeResult(HRESULT hr);

// Text as a JSON string, quotes included.
std::wstring JsonString(const std::wstring& text);

// Writes text to the standard output: to a console as UTF-16, to a file or
// pipe as UTF-8.
void WriteOutput(const std::wstring& text);
