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

/// What the object and geometry queries answer; a test changes it and puts it back with reset().
struct HostAnswers {
    /// get_all_objects: how many of the model's objects (all by default).
    std::uint32_t all_count = 3;
    /// get_selected: the count it reports; ids are the model's first ones.
    std::uint32_t selected_count = 0;
    /// get_properties: non-zero makes the count query report this instead of 1.
    std::uint32_t property_count = 0;
    /// Per model object: get_bounds (min x, y, z, max x, y, z), get_volume and get_total_area.
    double bounds[3][6] = {};
    double volume[3] = {};
    double area[3] = {};
    void reset() { *this = HostAnswers{}; }
};
HostAnswers& answers();

}  // namespace kbtest
