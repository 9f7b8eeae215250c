// What the monitor makes of one WM_COPYDATA message: validation, decoding of the element
// records and the JSON lines it logs. The record layout, the property split and the 8-bit
// character table are the integrator's header kestro_records.h, so the monitor reads the records
// exactly as an integrator's program does. No system calls: it builds and is tested natively too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kestro_records.h"

namespace monitor {

inline constexpr std::size_t record_size = KESTRO_RECORD_SIZE;

/// One text field of the record: where it starts and how wide it is.
struct TextField {
    const char* name;
    std::size_t offset;
    std::size_t width;
};

#define MONITOR_TEXT_FIELD(member) \
    TextField { #member, offsetof(kestro_record, member), sizeof(kestro_record::member) }
inline constexpr TextField guid_field = MONITOR_TEXT_FIELD(guid);
inline constexpr TextField texto_field = MONITOR_TEXT_FIELD(texto);
inline constexpr TextField entidad_field = MONITOR_TEXT_FIELD(entidad);
inline constexpr TextField tipo_field = MONITOR_TEXT_FIELD(tipo);
inline constexpr TextField ficheros_field = MONITOR_TEXT_FIELD(ficheros);
inline constexpr TextField propiedad_field = MONITOR_TEXT_FIELD(propiedad);
#undef MONITOR_TEXT_FIELD
inline constexpr std::size_t dx_offset = offsetof(kestro_record, dx);
inline constexpr std::size_t dy_offset = offsetof(kestro_record, dy);
inline constexpr std::size_t dz_offset = offsetof(kestro_record, dz);
inline constexpr std::size_t codigo_offset = offsetof(kestro_record, codigo);

/// One element as received. Texts are the raw 8-bit bytes before the terminating zero.
struct Record {
    std::string guid, texto, entidad, tipo, ficheros, propiedad;
    double dx = 0, dy = 0, dz = 0;
    std::int32_t codigo = 0;
};

/// Why a message was rejected; rejection_reason and rejection_text (table.h) word it.
struct Rejection {
    enum Kind { none, no_message, count_mismatch, null_data, unterminated } kind = none;
    std::uint64_t dw_data = 0, cb_data = 0;
    std::uint64_t record = 0;     // unterminated: the record index
    TextField field{"", 0, 0};    // unterminated: the field
};

/// A received message: accepted with its records, or rejected with the reason.
struct Message {
    bool valid = false;
    Rejection rejection;
    std::vector<Record> records;
};

/// Checks and decodes a message: dwData records of 12336 bytes each, cbData their byte total,
/// every text field zero-terminated within its width. `data` may be null only when cbData is 0.
Message decode_message(std::uint64_t dw_data, std::uint64_t cb_data, const void* data);

/// A message whose COPYDATASTRUCT itself is missing (lParam null).
Message missing_message();

/// Why a message was rejected, in the words of the log; empty for an accepted message.
std::string rejection_reason(const Rejection& rejection);

/// Decodes one record; `bytes` holds record_size bytes whose text fields are terminated.
Record decode_record(const unsigned char* bytes);

/// The "#name#value" pairs of a property text. When the last two pairs are VOLUMEN and AREA
/// they are taken out of `pairs` into volume and area.
struct PropertyPair {
    std::string name, value;
};
struct Properties {
    std::vector<PropertyPair> pairs;
    bool has_totals = false;
    std::string volume, area;
};
Properties split_properties(std::string_view propiedad);

/// Every byte is the code point of the same value (the log keeps the bytes recoverable).
std::string latin1_to_utf8(std::string_view latin1);

/// 8-bit text as KESTRO reads it, Windows-1252, for display: 0x80 is the euro sign, 0x96 the en
/// dash, and so on.
std::wstring windows_1252_to_wide(std::string_view text);

/// Wide text (UTF-16 on Windows, UTF-32 elsewhere) to UTF-8.
std::string wide_to_utf8(std::wstring_view wide);

/// A JSON string literal (quotes included) of UTF-8 text.
std::string json_string(std::string_view utf8);
/// A JSON number that reads back as the same double; non-finite values become null.
std::string json_number(double value);

/// The log line of one received message (no trailing newline).
struct Arrival {
    int window = 0;             // index of the receiving window among the monitor's windows
    std::uint64_t hwnd = 0;     // the receiving window
    std::uint64_t first_own_window = 0;  // the monitor's first top-level window in system order
    std::uint64_t dw_data = 0;
    std::uint64_t cb_data = 0;
    std::uint64_t w_param = 0;
    std::uint64_t sequence = 0;  // 1 for the first message received
    double time_ms = 0;          // wall clock, milliseconds since 1970
};
std::string arrival_json(const Arrival& arrival, const Message& message);

}  // namespace monitor
