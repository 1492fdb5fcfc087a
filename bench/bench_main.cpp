// Runs every benchmark and prints the results as a Markdown table. With
// --quick: tiny sizes and few rounds, only to show that everything runs. With
// --documents: only the document check's. The
// exit code is 0 when every measurement produced its figures (whether or not
// it met its target), 1 otherwise.

#include <windows.h>
#include <ole2.h>

#include <cmath>
#include <cstring>

#include "bench/bench_sections.h"

int main(int argc, char** argv)
{
    bench::Options options;
    // --documents: only the document check's measurements.
    bool documentsOnly = false;
    for (int i = 1; i < argc; ++i) {
        options.quick = options.quick || std::strcmp(argv[i], "--quick") == 0;
        documentsOnly = documentsOnly || std::strcmp(argv[i], "--documents") == 0;
    }

    if (FAILED(::OleInitialize(nullptr))) {
        std::printf("OleInitialize failed\n");
        return 1;
    }
    // The server inherits this folder: the documents it writes for the editor
    // go where they can be removed afterwards.
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring scratch = std::wstring(temp) + L"quillmorph-bench";
    ::CreateDirectoryW(scratch.c_str(), nullptr);
    ::SetEnvironmentVariableW(L"TMP", scratch.c_str());
    ::SetEnvironmentVariableW(L"TEMP", scratch.c_str());

    std::vector<bench::Row> rows;
    bench::Stopwatch watch;
    if (!documentsOnly)
        bench::RunStorageBenchmarks(options, &rows);
    const double storageSeconds = watch.Seconds();
    if (!documentsOnly)
        bench::RunTripForwardBenchmarks(options, &rows);
    const double tripSeconds = watch.Seconds() - storageSeconds;
    if (!documentsOnly)
        bench::RunProcessBenchmarks(options, &rows);
    const double processSeconds = watch.Seconds() - storageSeconds - tripSeconds;
    bench::RunDocumentBenchmarks(options, &rows);
    const double documentSeconds = watch.Seconds() - storageSeconds - tripSeconds - processSeconds;

    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((scratch + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            ::DeleteFileW((scratch + L"\\" + found.cFileName).c_str());
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(scratch.c_str());
    ::OleUninitialize();

    bool complete = true;
    std::printf("| measurement | server | baseline | ratio | target | met? |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const auto& row : rows) {
        const bool figures = std::isfinite(row.ratio) && row.ratio > 0 && !row.target.empty();
        complete = complete && figures;
        std::printf("| %s | %s | %s | %s | %s | %s |\n", row.measurement.c_str(), row.server.c_str(),
                    row.baseline.c_str(), figures ? bench::Format("%.2f", row.ratio).c_str() : "—",
                    row.target.c_str(),
                    !figures  ? "FAILED"
                    : row.met ? "yes"
                              : "no");
    }
    std::printf("\nTimes: storage %.1f s, TripForward %.1f s, server processes %.1f s, documents %.1f s.\n",
                storageSeconds, tripSeconds, processSeconds, documentSeconds);
    std::fflush(stdout);
    return complete ? 0 : 1;
}
