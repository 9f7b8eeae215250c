#include "memory_watch.h"

#include <psapi.h>

#include <algorithm>

namespace bvs {

namespace {

std::uint64_t private_usage() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PagefileUsage;
}

// Reservations start on 64 KiB boundaries and are whole 64 KiB steps: a free range is known
// exactly at that step (in whole megabytes, a range of 16.5 MiB would read as 16 and a hold down
// to 16 MB would leave a 16.5 MiB range free).
constexpr std::uint64_t step = 64u << 10;

/// The largest reservation that succeeds now, in steps.
std::uint64_t largest_reservable() {
    std::uint64_t low = 0, high = (std::uint64_t{4} << 30) / step;  // low fits, high does not
    while (high - low > 1) {
        const std::uint64_t mid = (low + high) / 2;
        void* p = VirtualAlloc(nullptr, static_cast<SIZE_T>(mid * step), MEM_RESERVE, PAGE_NOACCESS);
        if (p) {
            VirtualFree(p, 0, MEM_RELEASE);
            low = mid;
        } else {
            high = mid;
        }
    }
    return low;
}

}  // namespace

std::uint64_t largest_free_block() { return largest_reservable() * step; }

std::uint64_t hold_address_space(std::uint64_t largest) {
    const std::uint64_t keep = largest / step;  // rounded down: nothing larger than `largest` stays
    for (std::uint64_t free = largest_reservable(); free > keep; free = largest_reservable()) {
        // The range's first part is taken; the rest, `keep` steps, stays free.
        if (!VirtualAlloc(nullptr, static_cast<SIZE_T>((free - keep) * step), MEM_RESERVE, PAGE_NOACCESS)) break;
    }
    return largest_free_block();
}

MemoryFigures memory_now() {
    MemoryFigures f;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        f.private_bytes = counters.PagefileUsage;
        f.peak_pagefile_usage = counters.PeakPagefileUsage;
    }
    f.peak_private_bytes = f.private_bytes;
    f.largest_free = largest_free_block();
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const unsigned char*>(dos) + dos->e_lfanew);
    f.large_address_aware = (nt->FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE) != 0;
    return f;
}

void MemoryWatch::start() {
    stop();
    peak_ = private_usage();
    stop_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stop_event_) thread_ = CreateThread(nullptr, 64 * 1024, sample, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}

MemoryFigures MemoryWatch::stop() {
    if (thread_) {
        SetEvent(stop_event_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (stop_event_) {
        CloseHandle(stop_event_);
        stop_event_ = nullptr;
    }
    MemoryFigures f = memory_now();
    f.peak_private_bytes = std::max<std::uint64_t>(peak_.load(), f.private_bytes);
    return f;
}

DWORD WINAPI MemoryWatch::sample(void* self) {
    auto* watch = static_cast<MemoryWatch*>(self);
    do {
        const std::uint64_t now = private_usage();
        std::uint64_t seen = watch->peak_.load();
        while (now > seen && !watch->peak_.compare_exchange_weak(seen, now)) {
        }
    } while (WaitForSingleObject(watch->stop_event_, 5) == WAIT_TIMEOUT);
    return 0;
}

}  // namespace bvs
