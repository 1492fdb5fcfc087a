#pragma once

// What the three fuzz programs share: a seeded generator, the byte mutations,
// the run's budget (iterations, or seconds for the long run), the process's
// memory figures and the one-line report.

#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::vector<BYTE>;

// A small, fast generator (xorshift64*): the same seed gives the same run on
// every machine.
class Random
{
public:
    explicit Random(uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    uint64_t Next()
    {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    // A number in [0, bound); 0 for an empty range.
    uint32_t Below(uint32_t bound) { return bound ? static_cast<uint32_t>(Next() % bound) : 0; }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    BYTE Byte() { return static_cast<BYTE>(Next()); }
    Bytes Fill(size_t size)
    {
        Bytes bytes(size);
        for (BYTE& b : bytes)
            b = Byte();
        return bytes;
    }
    // Sizes that reach the edges more often than a uniform pick would.
    uint32_t Size(uint32_t largest)
    {
        switch (Below(4)) {
        case 0:
            return Below(4);
        case 1:
            return Below(64);
        default:
            return Below(largest + 1);
        }
    }

private:
    uint64_t state_;
};

// One to eight local edits: bits flipped, bytes set to edge values, runs
// overwritten, and unless keepSize, runs removed, duplicated or inserted and
// the tail cut off.
inline void MutateBytes(Random& random, Bytes* bytes, bool keepSize = false)
{
    static const BYTE kEdges[] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF};
    const uint32_t edits = 1 + random.Below(8);
    for (uint32_t edit = 0; edit < edits; ++edit) {
        const uint32_t size = static_cast<uint32_t>(bytes->size());
        switch (random.Below(keepSize ? 3 : 7)) {
        case 0:
            if (size)
                (*bytes)[random.Below(size)] ^= static_cast<BYTE>(1u << random.Below(8));
            break;
        case 1:
            if (size)
                (*bytes)[random.Below(size)] = kEdges[random.Below(sizeof(kEdges))];
            break;
        case 2:
            if (size) {
                const uint32_t at = random.Below(size);
                const uint32_t run = 1 + random.Below(size - at < 64 ? size - at : 64);
                for (uint32_t i = 0; i < run; ++i)
                    (*bytes)[at + i] = random.Byte();
            }
            break;
        case 3:
            if (size) {
                const uint32_t at = random.Below(size);
                const uint32_t run = 1 + random.Below(size - at);
                bytes->erase(bytes->begin() + at, bytes->begin() + at + run);
            }
            break;
        case 4:
            if (size) {
                const uint32_t at = random.Below(size);
                const uint32_t run = 1 + random.Below(size - at < 512 ? size - at : 512);
                Bytes copy(bytes->begin() + at, bytes->begin() + at + run);
                bytes->insert(bytes->begin() + random.Below(size + 1), copy.begin(), copy.end());
            }
            break;
        case 5: {
            Bytes noise = random.Fill(1 + random.Below(32));
            bytes->insert(bytes->begin() + random.Below(size + 1), noise.begin(), noise.end());
            break;
        }
        default:
            bytes->resize(random.Below(size + 1));
            break;
        }
    }
}

// How long a program fuzzes. QUILLMORPH_FUZZ_ITERATIONS sets the count;
// QUILLMORPH_FUZZ_SECONDS, when set, runs by the clock instead (the long run).
class Budget
{
public:
    explicit Budget(uint32_t shortRunIterations)
        : iterations_(FromEnvironment("QUILLMORPH_FUZZ_ITERATIONS", shortRunIterations)),
          seconds_(FromEnvironment("QUILLMORPH_FUZZ_SECONDS", 0)), start_(::GetTickCount64())
    {
    }
    bool More(uint32_t done) const
    {
        if (seconds_)
            return ::GetTickCount64() - start_ < static_cast<ULONGLONG>(seconds_) * 1000;
        return done < iterations_;
    }
    double Elapsed() const { return static_cast<double>(::GetTickCount64() - start_) / 1000.0; }

private:
    static uint32_t FromEnvironment(const char* name, uint32_t fallback)
    {
        const char* text = std::getenv(name);
        if (!text || !*text)
            return fallback;
        return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    }
    uint32_t iterations_;
    uint32_t seconds_;
    ULONGLONG start_;
};

// The seed of a run: fixed, unless QUILLMORPH_FUZZ_SEED names another one.
inline uint64_t Seed(uint64_t fixed)
{
    const char* text = std::getenv("QUILLMORPH_FUZZ_SEED");
    return text && *text ? std::strtoull(text, nullptr, 0) : fixed;
}

struct Memory
{
    SIZE_T privateBytes = 0;
    SIZE_T peakCommit = 0;
    // The most address space the process ever held: unlike the peak commit,
    // which counts only pages touched under Wine, it shows a block taken for
    // a claim and freed again untouched.
    SIZE_T peakVirtual = 0;
};

// The committed private memory of this process, summed over its address
// space: under Wine the process counters stay near zero.
inline SIZE_T CommittedPrivateBytes()
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region = {};
    for (const BYTE* at = nullptr; ::VirtualQuery(at, &region, sizeof(region)) == sizeof(region);) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return total;
}

inline Memory ProcessMemory()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    Memory memory;
    if (::K32GetProcessMemoryInfo(::GetCurrentProcess(),
                                  reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters))) {
        memory.privateBytes = counters.PrivateUsage;
        memory.peakCommit = counters.PeakPagefileUsage;
    }
    VM_COUNTERS vm = {};
    if (::NtQueryInformationProcess(::GetCurrentProcess(), ProcessVmCounters, &vm, sizeof(vm), nullptr) == 0)
        memory.peakVirtual = vm.PeakVirtualSize;
    const SIZE_T committed = CommittedPrivateBytes();
    if (committed > memory.privateBytes)
        memory.privateBytes = committed;
    return memory;
}

// Failures found, each with what reproduces it; the first few are printed.
class Findings
{
public:
    explicit Findings(const char* name) : name_(name) {}
    void Fail(uint32_t iteration, const std::string& what)
    {
        if (failures_ < 20)
            std::printf("fuzz %s: iteration %u: %s\n", name_, iteration, what.c_str());
        ++failures_;
    }
    uint32_t failures() const { return failures_; }
    void Report(uint32_t iterations, const Budget& budget) const
    {
        std::printf("fuzz %s: %u iterations, %u failures (%.1f s)\n", name_, iterations, failures_,
                    budget.Elapsed());
        std::fflush(stdout);
    }

private:
    const char* name_;
    uint32_t failures_ = 0;
};

// With QUILLMORPH_FUZZ_TRACE set, each step is printed before it runs: the last
// line names the input that hangs or crashes the process.
inline void Trace(uint32_t iteration, const char* step)
{
    static const bool on = std::getenv("QUILLMORPH_FUZZ_TRACE") != nullptr;
    if (on) {
        std::printf("trace %u %s\n", iteration, step);
        std::fflush(stdout);
    }
}

// With tracing on, the input being fed is also kept in fuzz-last-input.bin.
inline void KeepLastInput(const Bytes& input)
{
    if (!std::getenv("QUILLMORPH_FUZZ_TRACE"))
        return;
    if (FILE* file = std::fopen("fuzz-last-input.bin", "wb")) {
        std::fwrite(input.data(), 1, input.size(), file);
        std::fclose(file);
    }
}

inline std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// Fails the iteration when a memory figure has grown by more than bound since
// the baseline, and takes the new figure as the baseline for what follows.
inline void ExpectBounded(Findings& findings, uint32_t iteration, const Memory& now, Memory* baseline,
                          SIZE_T Memory::*figure, const char* what, SIZE_T bound, const std::string& context)
{
    if (now.*figure <= baseline->*figure + bound)
        return;
    findings.Fail(iteration, std::string(what) + " grew by " +
                                 std::to_string((now.*figure - baseline->*figure) >> 20) + " MB" + context);
    baseline->*figure = now.*figure;
}

} // namespace fuzz
