#include "records.h"

#include "utf8.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace monitor {

namespace {

constexpr TextField text_fields[] = {guid_field,     texto_field,    entidad_field,
                                     tipo_field,     ficheros_field, propiedad_field};

std::string field_text(const unsigned char* record, const TextField& field) {
    const char* text = reinterpret_cast<const char*>(record + field.offset);
    return std::string(text, kestro_text_length(text, field.width));
}

std::string json_unsigned(std::uint64_t value) { return std::to_string(value); }

}  // namespace

Message decode_message(std::uint64_t dw_data, std::uint64_t cb_data, const void* data) {
    Message message;
    message.rejection.dw_data = dw_data;
    message.rejection.cb_data = cb_data;
    if (!kestro_message_is_well_formed(dw_data, cb_data)) {
        message.rejection.kind = Rejection::count_mismatch;
        return message;
    }
    if (cb_data != 0 && data == nullptr) {
        message.rejection.kind = Rejection::null_data;
        return message;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::uint64_t r = 0; r < dw_data; ++r) {
        const unsigned char* record = bytes + r * record_size;
        for (const TextField& field : text_fields) {
            if (kestro_text_length(reinterpret_cast<const char*>(record + field.offset), field.width) ==
                field.width) {
                message.rejection.kind = Rejection::unterminated;
                message.rejection.record = r;
                message.rejection.field = field;
                return message;
            }
        }
    }
    message.records.reserve(static_cast<std::size_t>(dw_data));
    for (std::uint64_t r = 0; r < dw_data; ++r) message.records.push_back(decode_record(bytes + r * record_size));
    message.valid = true;
    return message;
}

Message missing_message() {
    Message message;
    message.rejection.kind = Rejection::no_message;
    return message;
}

std::string rejection_reason(const Rejection& r) {
    switch (r.kind) {
        case Rejection::no_message: return "lParam is null";
        case Rejection::count_mismatch:
            return "cbData " + std::to_string(r.cb_data) + " is not dwData " + std::to_string(r.dw_data) + " x 12336";
        case Rejection::null_data: return "lpData is null with cbData " + std::to_string(r.cb_data);
        case Rejection::unterminated:
            return "record " + std::to_string(r.record) + ": " + r.field.name + " has no terminating zero within its " +
                   std::to_string(r.field.width) + " bytes";
        default: return "";
    }
}

Record decode_record(const unsigned char* bytes) {
    // Texts are read in place; the numbers are copied out, as the block need not be aligned for
    // the doubles.
    static_assert(std::is_same_v<decltype(Record::dx), decltype(kestro_record::dx)> &&
                  std::is_same_v<decltype(Record::codigo), decltype(kestro_record::codigo)>);
    Record record;
    record.guid = field_text(bytes, guid_field);
    record.texto = field_text(bytes, texto_field);
    record.entidad = field_text(bytes, entidad_field);
    record.tipo = field_text(bytes, tipo_field);
    record.ficheros = field_text(bytes, ficheros_field);
    record.propiedad = field_text(bytes, propiedad_field);
    std::memcpy(&record.dx, bytes + dx_offset, sizeof record.dx);
    std::memcpy(&record.dy, bytes + dy_offset, sizeof record.dy);
    std::memcpy(&record.dz, bytes + dz_offset, sizeof record.dz);
    std::memcpy(&record.codigo, bytes + codigo_offset, sizeof record.codigo);
    return record;
}

Properties split_properties(std::string_view propiedad) {
    Properties result;
    const char* cursor = propiedad.data();
    const char* const end = cursor + propiedad.size();
    kestro_property pair;
    while (kestro_next_property(&cursor, end, &pair))
        result.pairs.push_back({std::string(pair.name, pair.name_length), std::string(pair.value, pair.value_length)});
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

std::wstring windows_1252_to_wide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (char c : text) out += static_cast<wchar_t>(kestro_char_to_unicode(static_cast<unsigned char>(c)));
    return out;
}

std::string wide_to_utf8(std::wstring_view wide) {
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
        return kbtools::utf16_to_utf8(
            std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
    } else {
        std::string out;
        for (wchar_t c : wide) kbtools::append_utf8(out, static_cast<char32_t>(c));
        return out;
    }
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
    if (!message.valid) out += ",\"reason\":" + json_string(rejection_reason(message.rejection));
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
