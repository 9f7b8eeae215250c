#include "peer/discovery.h"

#include <cstring>
#include <string>
#include <string_view>

#include "peer/diagnostics.h"

namespace kb {

namespace {

constexpr std::size_t max_processes = 1024;
constexpr std::uint32_t process_name_size = 260;
constexpr std::string_view peer_token = "KESTRO";

/// A process handle, opened with only the right to read its image name, that is closed exactly
/// once however the scope is left.
class OpenProcess {
public:
    OpenProcess(platform::ProcessList& list, platform::ProcessId id)
        : list_(list),
          handle_(list.open_process(platform::process_query_limited_information, false, id)) {}
    OpenProcess(const OpenProcess&) = delete;
    OpenProcess& operator=(const OpenProcess&) = delete;
    ~OpenProcess() {
        if (handle_ != nullptr) list_.close_handle(handle_);
    }
    platform::ProcessHandle get() const { return handle_; }

private:
    platform::ProcessList& list_;
    platform::ProcessHandle handle_;
};

/// Upper-cases 'a'..'z' only; every other byte, 0x80 and above included, stays as it is.
void ascii_upper(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

}  // namespace

platform::ProcessId find_peer_process(Plugin& plugin) {
    platform::ProcessId aProcesses[max_processes] = {};
    std::uint32_t cbNeeded = 0;
    if (!plugin.platform.processes.enum_processes(aProcesses, sizeof aProcesses, &cbNeeded)) {
        Diagnostic(plugin).text(u"no peer: the process list cannot be read");
        return 0;
    }
    std::size_t count = cbNeeded / sizeof(platform::ProcessId);
    if (count > max_processes) count = max_processes;
    // The viewer that hosts the plugin may itself run from a path with the token (installed
    // beside KESTRO, say): it is never its own peer.
    const platform::ProcessId own = plugin.platform.processes.current_process_id();
    for (std::size_t i = 0; i < count; ++i) {
        if (aProcesses[i] == 0 || aProcesses[i] == own) continue;
        platform::ProcessId r = match_peer_process(plugin, aProcesses[i]);
        if (r != 0) return r;
    }
    Diagnostic(plugin).text(u"no peer among ").number(count).text(u" processes (own process ")
        .number(own).text(u" skipped)");
    return 0;
}

platform::ProcessId match_peer_process(Plugin& plugin, platform::ProcessId id) {
    platform::ProcessId result = 0;
    OpenProcess process(plugin.platform.processes, id);
    if (process.get() == nullptr) return result;
    char szProcessName[process_name_size] = {};
    if (plugin.platform.processes.image_file_name(process.get(), szProcessName,
                                                  process_name_size) != 0) {
        // The name ends at its terminator, and never beyond the buffer.
        const void* end = std::memchr(szProcessName, '\0', process_name_size);
        std::size_t length = end == nullptr ? process_name_size
                                            : static_cast<const char*>(end) - szProcessName;
        std::string nombre(szProcessName, length);
        ascii_upper(nombre);
        if (nombre.find(peer_token) != std::string::npos) {
            result = id;
            Diagnostic(plugin).text(u"peer found: process ").number(id).text(u", image ")
                .bytes(std::string_view(szProcessName, length));
        }
    }
    return result;
}

}  // namespace kb
