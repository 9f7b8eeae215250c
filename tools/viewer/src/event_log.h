// The viewer's log: one JSON object per line, flushed as soon as it is written, so that a test
// can read it while the viewer still runs or after it was stopped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace bvs {

class EventLog {
public:
    using Sink = std::function<void(const std::string& line)>;

    /// Lines go nowhere until a sink is set.
    void set_sink(Sink sink) { sink_ = std::move(sink); }
    /// Writes every line to `file` and flushes it; the file stays the caller's.
    void set_file(std::FILE* file);
    bool enabled() const { return static_cast<bool>(sink_); }

    /// Writes one event as a single line (text that is not valid UTF-8 is replaced, never refused);
    /// lines written from several threads come out whole, one after the other.
    void write(const nlohmann::json& event);

private:
    Sink sink_;
    std::mutex lock_;
};

/// An object id as the log carries it: decimal text, so that 64-bit values survive any reader.
inline std::string id_text(std::uint64_t id) { return std::to_string(id); }

}  // namespace bvs
