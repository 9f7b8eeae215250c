// Reads the identity and properties of the objects a request concerns into the element lists.
#pragma once

#include <cstdint>

#include "core/plugin.h"

namespace kb {

/// Told how far a collection has got, now and then (not for every object) and once at the end;
/// asked before every object whether the user wants it stopped.
class CollectProgress {
public:
    virtual ~CollectProgress() = default;
    /// `done` of the request's `total` objects have been read.
    virtual void objects_read(std::uint32_t done, std::uint32_t total) = 0;
    /// Asked before each object is read, with how many have been: true once the collection is
    /// to stop, and it then reads no further object.
    virtual bool stop_requested(std::uint32_t done) = 0;
};

/// Refills `lists` for the transfer's `request_code` (selected objects for a selection change or
/// a drag, every object for an update). Only the objects that become records take an entry:
/// objects without GUID and spatial containers are read and left out, and each text keeps no
/// more than its record field can take. When memory runs out the five text lists are left empty
/// and std::bad_alloc reaches the caller. Returns false when `progress` asked it to stop: the
/// lists are then left empty, as nothing of a stopped collection may be sent.
bool collect_elements(const Plugin& plugin, std::int32_t request_code, ElementLists& lists,
                      CollectProgress* progress = nullptr);

}  // namespace kb
