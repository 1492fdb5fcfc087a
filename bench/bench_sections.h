#pragma once

// The benchmark's parts; each appends its rows to the table.

#include <vector>

#include "bench/bench_common.h"

namespace bench {

struct Options
{
    bool quick = false; // tiny sizes and few rounds: only that everything runs
};

// Save and Load of the embedded drawing in this process, against the same two
// streams written and read with the storage functions directly.
void RunStorageBenchmarks(const Options& options, std::vector<Row>* rows);

// TripForward in this process, against the same compound file built over memory.
void RunTripForwardBenchmarks(const Options& options, std::vector<Row>* rows);

// The real server started by the runtime: a call, a cold activation, and its
// memory while an edit comes back, against the minimal local server and the payload.
void RunProcessBenchmarks(const Options& options, std::vector<Row>* rows);

// The document check program over a large zip-based document, against only
// inflating its entries, and over a folder of many small documents.
void RunDocumentBenchmarks(const Options& options, std::vector<Row>* rows);

} // namespace bench
