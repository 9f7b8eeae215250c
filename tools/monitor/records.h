// What the monitor makes of one WM_COPYDATA message: validation, decoding of the element
// records and the JSON lines it logs. No system calls, so it builds and is tested natively too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace monitor {

inline constexpr std::size_t record_size = 12336;

/// One text field of the record: where it starts and how wide it is.
struct TextField {
    const char* name;
    std::size_t offset;
    std::size_t width;
};

inline constexpr TextField guid_field{"guid", 0, 100};
inline constexpr TextField texto_field{"texto", 100, 1000};
inline constexpr TextField entidad_field{"entidad", 1100, 100};
inline constexpr TextField tipo_field{"tipo", 1200, 100};
inline constexpr TextField ficheros_field{"ficheros", 1300, 1000};
inline constexpr TextField propiedad_field{"propiedad", 2332, 10000};
inline constexpr std::size_t dx_offset = 2304;
inline constexpr std::size_t dy_offset = 2312;
inline constexpr std::size_t dz_offset = 2320;
inline constexpr std::size_t codigo_offset = 2328;

/// One element as received. Texts are the raw 8-bit bytes before the terminating zero.
struct Record {
    std::string guid, texto, entidad, tipo, ficheros, propiedad;
    double dx = 0, dy = 0, dz = 0;
    std::int32_t codigo = 0;
};

/// A received message: accepted with its records, or rejected with the reason.
struct Message {
    bool valid = false;
    std::string reason;  // empty when valid
    std::vector<Record> records;
};

/// Checks and decodes a message: dwData records of 12336 bytes each, cbData their byte total,
/// every text field zero-terminated within its width. `data` may be null only when cbData is 0.
Message decode_message(std::uint64_t dw_data, std::uint64_t cb_data, const void* data);

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

/// Every byte is the code point of the same value.
std::string latin1_to_utf8(std::string_view latin1);
std::u16string latin1_to_utf16(std::string_view latin1);

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
