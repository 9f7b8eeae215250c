// The converter's fixed heap replaces the global operator new, which would hide every
// allocation from AddressSanitizer. The fuzz target uses the ordinary heap instead: a scope is
// never active, so the converter says that meshes may vary, which does not matter here.
#include "fixed_heap.h"

namespace ifc2snapshot {

FixedHeapScope::FixedHeapScope() = default;
FixedHeapScope::~FixedHeapScope() = default;
FixedHeapScope::Pause::Pause() : was_on_(false) {}
FixedHeapScope::Pause::~Pause() { static_cast<void>(was_on_); }
size_t fixed_heap_live_blocks() { return 0; }

} // namespace ifc2snapshot
