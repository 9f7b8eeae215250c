// The host side of the test viewer: the host functions this executable exports by name, each of
// which records the argument words it receives, and a small model they answer from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kbtest {

struct HostCall {
    std::string name;
    std::vector<std::uint32_t> words;  // as received, the plugin id first
    std::u16string text1, text2;       // texts the call pointed to, copied at once
};

/// Every host call since the last clear, in order.
std::vector<HostCall>& host_calls();
/// Names of the recorded calls, in order.
std::vector<std::string> host_call_names();

/// Value get_selected_id answers; create_button answers button_id.
inline constexpr std::uint64_t selected_pseudo_id = 0x0000AB0000000CDull;
inline constexpr std::uint32_t button_id = 77;

/// The model the object queries answer from: every object has a "Name" set and a "Guid" set.
struct ModelObject {
    std::uint64_t id;
    const char16_t* name;
    const char16_t* guid;
};
const std::vector<ModelObject>& model();

}  // namespace kbtest
