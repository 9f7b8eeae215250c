#include "records.h"

#include "utf8.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace monitor {

namespace {

constexpr TextField text_fields[] = {guid_field,     texto_field,    entidad_field,
                                     tipo_field,     ficheros_field, propiedad_field};

std::string field_text(const unsigned char* record, const TextField& field) {
    const unsigned char* begin = record + field.offset;
    const void* nul = std::memchr(begin, 0, field.width);
    std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - begin) : field.width;
    return std::string(reinterpret_cast<const char*>(begin), length);
}

double read_double(const unsigned char* at) {
    double value;
    std::memcpy(&value, at, sizeof value);
    return value;
}


std::string json_unsigned(std::uint64_t value) { return std::to_string(value); }

}  // namespace

Message decode_message(std::uint64_t dw_data, std::uint64_t cb_data, const void* data) {
    Message message;
    // dwData is at most 32 bits on the sending side, so the product cannot overflow 64 bits.
    if (dw_data * record_size != cb_data) {
        message.reason = "cbData " + std::to_string(cb_data) + " is not dwData " +
                         std::to_string(dw_data) + " x 12336";
        return message;
    }
    if (cb_data != 0 && data == nullptr) {
        message.reason = "lpData is null with cbData " + std::to_string(cb_data);
        return message;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::uint64_t r = 0; r < dw_data; ++r) {
        const unsigned char* record = bytes + r * record_size;
        for (const TextField& field : text_fields) {
            if (!std::memchr(record + field.offset, 0, field.width)) {
                message.reason = "record " + std::to_string(r) + ": " + field.name +
                                 " has no terminating zero within its " +
                                 std::to_string(field.width) + " bytes";
                return message;
            }
        }
    }
    message.records.reserve(static_cast<std::size_t>(dw_data));
    for (std::uint64_t r = 0; r < dw_data; ++r) message.records.push_back(decode_record(bytes + r * record_size));
    message.valid = true;
    return message;
}

Record decode_record(const unsigned char* bytes) {
    Record record;
    record.guid = field_text(bytes, guid_field);
    record.texto = field_text(bytes, texto_field);
    record.entidad = field_text(bytes, entidad_field);
    record.tipo = field_text(bytes, tipo_field);
    record.ficheros = field_text(bytes, ficheros_field);
    record.propiedad = field_text(bytes, propiedad_field);
    record.dx = read_double(bytes + dx_offset);
    record.dy = read_double(bytes + dy_offset);
    record.dz = read_double(bytes + dz_offset);
    std::memcpy(&record.codigo, bytes + codigo_offset, sizeof record.codigo);
    return record;
}

Properties split_properties(std::string_view propiedad) {
    Properties result;
    // The text is "#name#value" repeated; a leading "#" opens the first pair.
    std::vector<std::string_view> parts;
    if (!propiedad.empty() && propiedad.front() == '#') propiedad.remove_prefix(1);
    else if (propiedad.empty()) return result;
    while (true) {
        std::size_t hash = propiedad.find('#');
        parts.push_back(propiedad.substr(0, hash));
        if (hash == std::string_view::npos) break;
        propiedad.remove_prefix(hash + 1);
    }
    for (std::size_t i = 0; i < parts.size(); i += 2) {
        PropertyPair pair{std::string(parts[i]), i + 1 < parts.size() ? std::string(parts[i + 1]) : std::string()};
        result.pairs.push_back(std::move(pair));
    }
    std::size_t n = result.pairs.size();
    if (n >= 2 && result.pairs[n - 2].name == "VOLUMEN" && result.pairs[n - 1].name == "AREA") {
        result.has_totals = true;
        result.volume = result.pairs[n - 2].value;
        result.area = result.pairs[n - 1].value;
        result.pairs.resize(n - 2);
    }
    return result;
}

std::string latin1_to_utf8(std::string_view latin1) { return kbtools::latin1_to_utf8(latin1); }

std::u16string latin1_to_utf16(std::string_view latin1) {
    std::u16string out;
    out.reserve(latin1.size());
    for (char c : latin1) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

std::string json_string(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20) {
                    static const char hex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += hex[u >> 4];
                    out += hex[u & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string json_number(double value) {
    if (!std::isfinite(value)) return "null";
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) return "null";
    return std::string(buffer, end);
}

std::string arrival_json(const Arrival& arrival, const Message& message) {
    std::string out;
    out.reserve(256 + message.records.size() * 256);
    out += "{\"event\":\"records\",\"sequence\":" + json_unsigned(arrival.sequence);
    out += ",\"window\":" + std::to_string(arrival.window);
    out += ",\"hwnd\":" + json_unsigned(arrival.hwnd);
    out += ",\"first_own_window\":" + json_unsigned(arrival.first_own_window);
    out += ",\"dwData\":" + json_unsigned(arrival.dw_data);
    out += ",\"cbData\":" + json_unsigned(arrival.cb_data);
    out += ",\"wParam\":" + json_unsigned(arrival.w_param);
    out += ",\"time_ms\":" + json_number(arrival.time_ms);
    out += ",\"valid\":";
    out += message.valid ? "true" : "false";
    if (!message.valid) out += ",\"reason\":" + json_string(message.reason);
    out += ",\"records\":[";
    bool first = true;
    for (const Record& r : message.records) {
        if (!first) out += ',';
        first = false;
        out += "{\"guid\":" + json_string(latin1_to_utf8(r.guid));
        out += ",\"texto\":" + json_string(latin1_to_utf8(r.texto));
        out += ",\"entidad\":" + json_string(latin1_to_utf8(r.entidad));
        out += ",\"tipo\":" + json_string(latin1_to_utf8(r.tipo));
        out += ",\"ficheros\":" + json_string(latin1_to_utf8(r.ficheros));
        out += ",\"dx\":" + json_number(r.dx);
        out += ",\"dy\":" + json_number(r.dy);
        out += ",\"dz\":" + json_number(r.dz);
        out += ",\"codigo\":" + std::to_string(r.codigo);
        out += ",\"propiedad\":" + json_string(latin1_to_utf8(r.propiedad));
        out += '}';
    }
    out += "]}";
    return out;
}

}  // namespace monitor
