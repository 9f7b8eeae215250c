#include "snapshot.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <stdexcept>
#include <unistd.h>

namespace ifc2snapshot {

const SnapshotProperty* SnapshotPropertySet::find(const std::string& property_name) const {
    for (const auto& p : properties)
        if (p.name == property_name) return &p;
    return nullptr;
}

namespace {

using ordered_json = nlohmann::ordered_json;

double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

ordered_json value_json(const PropertyValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* number = std::get_if<double>(&value)) return finite_or_zero(*number);
    return nullptr;
}

std::string system_error(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

} // namespace

std::string to_json(const Snapshot& snapshot, bool pretty) {
    ordered_json root;
    root["format"] = "kestro-bimvision-snapshot";
    root["version"] = 1;
    root["files"] = snapshot.files;
    ordered_json objects = ordered_json::array();
    for (const auto& object : snapshot.objects) {
        ordered_json o;
        o["id"] = object.id;
        ordered_json bounds = ordered_json::array();
        for (double b : object.bounds) bounds.push_back(finite_or_zero(b));
        o["bounds"] = std::move(bounds);
        o["volume"] = finite_or_zero(object.volume);
        o["area"] = finite_or_zero(object.area);
        ordered_json sets = ordered_json::array();
        for (const auto& set : object.property_sets) {
            ordered_json properties = ordered_json::array();
            for (const auto& p : set.properties) {
                ordered_json jp;
                jp["name"] = p.name;
                jp["value"] = value_json(p.value);
                properties.push_back(std::move(jp));
            }
            ordered_json js;
            js["name"] = set.name;
            js["properties"] = std::move(properties);
            sets.push_back(std::move(js));
        }
        o["property_sets"] = std::move(sets);
        objects.push_back(std::move(o));
    }
    root["objects"] = std::move(objects);
    std::string text = root.dump(pretty ? 1 : -1, ' ', false, nlohmann::json::error_handler_t::replace);
    text += '\n';
    return text;
}

void write_file_atomically(const std::string& path, const std::string& content) {
    std::string temp = path + ".partial.XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw std::runtime_error(system_error("cannot create a temporary file beside", path));
    auto fail = [&](const std::string& what) {
        const std::string message = system_error(what, temp);
        ::close(fd);
        ::unlink(temp.c_str());
        throw std::runtime_error(message);
    };
    // mkstemp makes the file private; a snapshot is an ordinary file.
    if (::fchmod(fd, 0644) != 0) fail("cannot set the mode of");
    const char* data = content.data();
    size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("cannot write");
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) fail("cannot flush");
    if (::close(fd) != 0) {
        const std::string message = system_error("cannot close", temp);
        ::unlink(temp.c_str());
        throw std::runtime_error(message);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string message = system_error("cannot rename the temporary file to", path);
        ::unlink(temp.c_str());
        throw std::runtime_error(message);
    }
}

} // namespace ifc2snapshot
