// The viewer's own memory around a button click, for the transfer benchmark: its private bytes
// (the commit charge, PagefileUsage, which Windows also reports as PrivateUsage) sampled on a
// thread of its own while the handler runs, and the address space the process has left. Under
// Wine PrivateUsage reads 0 and PagefileUsage is the anonymous memory in use, reported again as
// PeakPagefileUsage: no peak is kept, so the peak is sampled.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdint>

namespace bvs {

struct MemoryFigures {
    std::uint64_t private_bytes = 0;        // PagefileUsage now
    std::uint64_t peak_private_bytes = 0;   // the largest PagefileUsage seen while watching
    std::uint64_t peak_pagefile_usage = 0;  // PeakPagefileUsage as the system reports it
    std::uint64_t largest_free = 0;         // the largest block of address space that can be reserved
    bool large_address_aware = false;       // the executable's IMAGE_FILE_LARGE_ADDRESS_AWARE
};

/// The largest block of address space VirtualAlloc can reserve now, to 64 KiB (tried, then
/// released). Walking the ranges with VirtualQuery does not tell under Wine, which shows the
/// ranges it keeps for the program's allocations as reserved.
std::uint64_t largest_free_block();

/// Reserves free ranges of the address space for the rest of the process's life until none is
/// larger than `largest` bytes: a cheap stand-in for a viewer whose address space a big model has
/// used up and scattered. Returns the largest free block left.
std::uint64_t hold_address_space(std::uint64_t largest);

/// The figures now (peak_private_bytes = private_bytes).
MemoryFigures memory_now();

/// Samples PagefileUsage every few milliseconds from start() to stop().
class MemoryWatch {
public:
    MemoryWatch() = default;
    MemoryWatch(const MemoryWatch&) = delete;
    MemoryWatch& operator=(const MemoryWatch&) = delete;
    ~MemoryWatch() { stop(); }

    void start();
    bool running() const { return thread_ != nullptr; }
    /// Ends the sampling; the figures now, with the peak seen since start().
    MemoryFigures stop();

private:
    static DWORD WINAPI sample(void* self);
    HANDLE thread_ = nullptr;
    HANDLE stop_event_ = nullptr;
    std::atomic<std::uint64_t> peak_{0};
};

}  // namespace bvs
