// The model snapshot that the substitute viewer loads: plain data, its JSON form and the
// all-or-nothing file write.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ifc2snapshot {

/// A property value: absent (JSON null), text (host value type 0) or number (a double).
using PropertyValue = std::variant<std::monostate, std::string, double>;

struct SnapshotProperty {
    std::string name;
    PropertyValue value;
};

struct SnapshotPropertySet {
    std::string name;
    std::vector<SnapshotProperty> properties;

    /// The first property of that name, or null.
    const SnapshotProperty* find(const std::string& property_name) const;
};

struct SnapshotObject {
    std::uint64_t id = 0;
    std::array<double, 6> bounds{};  // min x, y, z, max x, y, z
    double volume = 0;
    double area = 0;
    std::vector<SnapshotPropertySet> property_sets;  // set 0: identity and direct attributes
};

struct Snapshot {
    std::vector<std::string> files;
    std::vector<SnapshotObject> objects;
};

/// The snapshot as UTF-8 JSON text ("format": "kestro-bimvision-snapshot", "version": 1).
/// Numbers are written in the shortest form that reads back to the same double, with "." as
/// decimal point whatever the locale; a non-finite number is written as 0.
std::string to_json(const Snapshot& snapshot, bool pretty);

/// Writes content to path so that path holds either its old content or all of the new one:
/// the bytes go to a temporary file in the same folder, which is flushed and renamed over
/// path. Throws std::runtime_error (the temporary file removed) when any step fails.
void write_file_atomically(const std::string& path, const std::string& content);

} // namespace ifc2snapshot
