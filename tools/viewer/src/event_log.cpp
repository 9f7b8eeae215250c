#include "event_log.h"

namespace bvs {

void EventLog::set_file(std::FILE* file) {
    if (file == nullptr) {
        sink_ = nullptr;
        return;
    }
    sink_ = [file](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fflush(file);
    };
}

void EventLog::write(const nlohmann::json& event) {
    if (!sink_) return;
    std::string line = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    line += '\n';
    const std::lock_guard<std::mutex> hold(lock_);
    sink_(line);
}

}  // namespace bvs
