#include "copydata_log.h"

#include <string_view>

#include "text.h"

namespace bvs {

nlohmann::json copydata_event(std::uint64_t count, std::uint64_t sender,
                              const CopyDataMessage* message) {
    nlohmann::json e = {{"event", "copydata"}, {"count", count}, {"sender", sender}};
    if (message == nullptr) {
        e["dwData"] = nullptr;
        e["cbData"] = nullptr;
        e["text"] = nullptr;
    } else {
        e["dwData"] = message->data;
        e["cbData"] = message->size;
        if (message->bytes == nullptr) {
            e["text"] = nullptr;
        } else {
            const char* bytes = static_cast<const char*>(message->bytes);
            std::size_t n = 0;
            while (n < message->size && bytes[n] != 0) ++n;
            bool cut = n > copydata_text_limit;
            e["text"] = latin1_to_utf8(std::string_view(bytes, cut ? copydata_text_limit : n));
            if (cut) e["truncated"] = true;
        }
    }
    e["result"] = copydata_result;
    return e;
}

}  // namespace bvs
