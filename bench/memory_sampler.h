#pragma once

// The memory of another process, sampled while it runs.

#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <thread>

namespace bench {

// Polls a process's private bytes about every millisecond and keeps the largest
// value seen in the current phase. Under Wine the platform's own peak figures
// are the current ones, so the peak has to be caught by sampling.
class MemorySampler
{
public:
    explicit MemorySampler(HANDLE process) : process_(process), thread_([this] { Run(); }) {}
    MemorySampler(const MemorySampler&) = delete;
    MemorySampler& operator=(const MemorySampler&) = delete;
    ~MemorySampler()
    {
        stop_ = true;
        thread_.join();
    }
    // Starts a new phase and returns the peak of the one that ended.
    SIZE_T NextPhase() { return peak_.exchange(Current()); }
    // The commit charge: the process's private bytes.
    SIZE_T Current() const
    {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof(counters);
        return ::GetProcessMemoryInfo(process_, &counters, sizeof(counters)) ? counters.PagefileUsage : 0;
    }
    SIZE_T PeakWorkingSet() const
    {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof(counters);
        return ::GetProcessMemoryInfo(process_, &counters, sizeof(counters)) ? counters.PeakWorkingSetSize
                                                                             : 0;
    }

private:
    void Run()
    {
        while (!stop_) {
            const SIZE_T now = Current();
            SIZE_T peak = peak_.load();
            while (now > peak && !peak_.compare_exchange_weak(peak, now)) {
            }
            ::Sleep(1);
        }
    }

    HANDLE process_;
    std::atomic<bool> stop_{false};
    std::atomic<SIZE_T> peak_{0};
    std::thread thread_;
};

} // namespace bench
