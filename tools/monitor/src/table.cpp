#include "table.h"

#include <charconv>

namespace monitor {

namespace {

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring number(unsigned long long value) { return widen(std::to_string(value)); }

std::wstring fixed3(double value) {
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    if (ec != std::errc()) return L"?";
    return widen(std::string(buffer, end));
}

}  // namespace

std::wstring cell_text(const Row& row, int column) {
    const Record& r = row.record;
    switch (column) {
        case 0: return number(row.message);
        case 1: return windows_1252_to_wide(r.guid);
        case 2: return windows_1252_to_wide(r.texto);
        case 3: return windows_1252_to_wide(r.entidad);
        case 4: return windows_1252_to_wide(r.tipo);
        case 5: return windows_1252_to_wide(r.ficheros);
        case 6: return fixed3(r.dx);
        case 7: return fixed3(r.dy);
        case 8: return fixed3(r.dz);
        case 9: return widen(std::to_string(r.codigo));
        case 10: return windows_1252_to_wide(row.properties.volume);
        case 11: return windows_1252_to_wide(row.properties.area);
        case 12: {
            std::wstring text;
            for (const PropertyPair& p : row.properties.pairs) {
                if (!text.empty()) text += L"; ";
                text += windows_1252_to_wide(p.name) + L" = " + windows_1252_to_wide(p.value);
            }
            return text;
        }
        default: return L"";
    }
}

std::wstring status_waiting() { return L"Esperando al visor"; }

std::wstring status_received(unsigned long long message_number, const Message& message, std::uint64_t cb_data,
                             std::uintptr_t viewer) {
    if (!message.valid)
        return L"Mensaje " + number(message_number) + L" rechazado: " + rejection_text(message.rejection);
    return L"Mensaje " + number(message_number) + L": " + number(message.records.size()) + L" registros, " +
           number(cb_data) + L" bytes, ventana del visor " + number(viewer);
}

std::wstring status_guid_sent(const std::string& guid, std::uintptr_t viewer, bool delivered, std::uint64_t result,
                              unsigned timeout_seconds) {
    // The result is the viewer's own answer to WM_COPYDATA: it says the message arrived, not
    // whether an element with that GUID was found (the viewer's selection shows that).
    if (delivered)
        return L"GUID " + windows_1252_to_wide(guid) + L" enviado a la ventana del visor " + number(viewer) +
               L": entregado, resultado del visor " + number(result) +
               L" (su respuesta al mensaje, no si encontr\u00F3 el elemento)";
    return L"GUID " + windows_1252_to_wide(guid) + L" NO entregado a la ventana del visor " + number(viewer) +
           L": sin respuesta en " + number(timeout_seconds) + L" s, o la ventana ya no existe";
}

std::wstring rejection_text(const Rejection& r) {
    switch (r.kind) {
        case Rejection::no_message: return L"lParam es nulo";
        case Rejection::count_mismatch:
            return L"cbData " + number(r.cb_data) + L" no es dwData " + number(r.dw_data) + L" \u00D7 12336";
        case Rejection::null_data: return L"lpData es nulo con cbData " + number(r.cb_data);
        case Rejection::unterminated:
            return L"registro " + number(r.record) + L": " + widen(r.field.name) + L" no termina en cero dentro de sus " +
                   number(r.field.width) + L" bytes";
        default: return L"";
    }
}

}  // namespace monitor
