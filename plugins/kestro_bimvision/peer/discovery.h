// Finds the running KESTRO program by the token "KESTRO" in its process image path.
#pragma once

#include "core/plugin.h"

namespace kb {

/// The peer's process id, or 0 when no process matches or the list cannot be read. The process
/// the plugin runs in is never examined.
platform::ProcessId find_peer_process(Plugin& plugin);

/// `id` when that process's image path holds "KESTRO" in any ASCII letter case, else 0.
platform::ProcessId match_peer_process(Plugin& plugin, platform::ProcessId id);

}  // namespace kb
