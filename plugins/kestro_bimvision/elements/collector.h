// Reads the identity and properties of the objects a request concerns into the element lists.
#pragma once

#include <cstdint>

#include "core/plugin.h"

namespace kb {

/// Refills `lists` for the transfer's `request_code` (selected objects for a selection change or
/// a drag, every object for an update). Objects without GUID and spatial containers keep empty
/// texts at their index. When memory runs out the five text lists are left empty and
/// std::bad_alloc reaches the caller.
void collect_elements(const Plugin& plugin, std::int32_t request_code, ElementLists& lists);

}  // namespace kb
