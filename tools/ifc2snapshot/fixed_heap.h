// A heap at a fixed address for the geometry conversion.
//
// The mesh library keeps vertices, edges and faces in hash tables keyed by their addresses and
// walks them in table order when it splits faces and classifies them for a boolean operation.
// With the heap at a randomised address, that order, and with it the result (the rounding of
// split points, the face order, at the margins whether an opening is cut at all), changes from
// run to run. While a FixedHeapScope is alive, every operator new of this process is served
// from a region mapped at the same address each time and filled the same way from an empty
// state, so the same input gives the same addresses, the same orders and the same meshes. The
// library's pseudo-random generator is reseeded for the same reason.
#pragma once

#include <cstddef>

namespace ifc2snapshot {

class FixedHeapScope {
public:
    /// Starts serving allocations from the fixed region. active() is false when the region
    /// could not be mapped or was already used by an earlier scope of this process; allocations
    /// then go to the ordinary heap and results may vary between runs.
    FixedHeapScope();
    ~FixedHeapScope();
    FixedHeapScope(const FixedHeapScope&) = delete;
    FixedHeapScope& operator=(const FixedHeapScope&) = delete;

    bool active() const { return active_; }

    /// While alive, allocations go to the ordinary heap again: for data that must outlive the
    /// scope (messages, results). Freeing works from anywhere.
    class Pause {
    public:
        Pause();
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

    private:
        bool was_on_;
    };

private:
    bool active_ = false;
};

/// Blocks of the fixed region not yet freed (for tests).
size_t fixed_heap_live_blocks();

} // namespace ifc2snapshot
