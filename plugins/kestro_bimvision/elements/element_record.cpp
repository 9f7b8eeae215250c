#include "elements/element_record.h"

#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "elements/text.h"
#include "host_table.h"

namespace kb {

namespace {

// The volume and area text lives in a buffer of 100 wide characters with its terminator.
constexpr std::size_t valores_limit = 99;

// Every record of a block starts at a multiple of the record size.
static_assert(alignof(ElementRecord) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__,
              "a new[] block is aligned for the records it holds");

std::u16string_view entry_or_empty(const std::vector<std::u16string>& list, std::size_t i) {
    return i < list.size() ? std::u16string_view(list[i]) : std::u16string_view();
}

// The names of the loaded files, each followed by "#".
std::u16string loaded_file_names(std::uint32_t plugin_id) {
    std::u16string ficheros;
    // The count is a signed 32-bit value: zero or less means no file.
    const auto files = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(host::get_loaded_ifc_files_count(plugin_id)));
    for (std::int32_t f = 0; f < files; ++f) {
        const auto* name =
            reinterpret_cast<const char16_t*>(host::get_loaded_ifc_filename(plugin_id, f));
        // The host promises a name for every index below the count. Should it still hand back
        // null, the name is left out but its "#" is kept, so the separators still count the files.
        if (name != nullptr) ficheros.append(name);
        ficheros.push_back(u'#');
    }
    return ficheros;
}

// "#VOLUMEN#<volume>#AREA#<area>", cut to its first 99 characters.
void format_valores(std::u16string& valores, double volume, double area) {
    valores.assign(u"#VOLUMEN#");
    append_fixed(valores, volume, valores_limit);
    valores.append(u"#AREA#");
    append_fixed(valores, area, valores_limit);
    if (valores.size() > valores_limit) valores.resize(valores_limit);
}

// Writes the propiedad field: the gathered text, cut so that the volume and area text always
// arrives whole, then that text, then zeros to the end of the field.
void write_propiedad(std::u16string_view gathered, std::u16string_view suffix, char* field) {
    constexpr std::size_t width = sizeof(ElementRecord::propiedad);
    std::size_t n = to_narrow(gathered, field, width - 1 - suffix.size());
    n += to_narrow(suffix, field + n, suffix.size());
    std::memset(field + n, 0, width - n);
}

RecordBlock build(const Plugin& plugin, std::int32_t codigo, const ElementLists& lists) {
    RecordBlock block;
    const std::uint32_t plugin_id = plugin.state.plugin_id;

    const std::u16string ficheros = loaded_file_names(plugin_id);
    char ficheros_field[sizeof(ElementRecord::ficheros)];
    to_narrow_field(ficheros, ficheros_field, sizeof ficheros_field);

    // Only the entries with a GUID become records, and the block holds just those.
    const std::size_t n = lists.guid.size();
    std::size_t records = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (!lists.guid[i].empty()) ++records;
    block.wanted = records;
    if (records == 0) return block;
    // The byte total travels as a 32-bit value.
    if (records > std::numeric_limits<std::uint32_t>::max() / element_record_size) {
        block.ok = false;
        return block;
    }
    const std::size_t total = records * element_record_size;
    block.bytes.reset(new (std::nothrow) unsigned char[total]);
    if (!block.bytes) {
        block.ok = false;
        return block;
    }

    // Once the block is there nothing needs memory any more.
    std::u16string valores;
    valores.reserve(2 * 400 + 16);  // never reallocates inside the loop
    unsigned char* const base = block.bytes.get();
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (lists.guid[i].empty()) continue;
        const bv::ObjectId id = i < lists.ids.size() ? lists.ids[i] : bv::ObjectId{0};

        // Every byte of the slot is written exactly once: texts with their zero fill, gaps zero.
        auto* datos = ::new (base + std::size_t{count} * element_record_size) ElementRecord;

        bv::Bounds bounds{};
        host::get_bounds(plugin_id, id, &bounds);

        to_narrow_field(lists.guid[i], datos->guid, sizeof datos->guid);
        to_narrow_field(entry_or_empty(lists.texto, i), datos->texto, sizeof datos->texto);
        to_narrow_field(entry_or_empty(lists.tipo, i), datos->tipo, sizeof datos->tipo);
        to_narrow_field(entry_or_empty(lists.entidad, i), datos->entidad, sizeof datos->entidad);
        std::memcpy(datos->ficheros, ficheros_field, sizeof datos->ficheros);
        std::memset(datos->gap1, 0, sizeof datos->gap1);

        // Extents as the host gives them: maximum minus minimum, sign kept.
        datos->dx = bounds.max_x - bounds.min_x;
        datos->dy = bounds.max_y - bounds.min_y;
        datos->dz = bounds.max_z - bounds.min_z;
        datos->codigo = codigo;

        const double volume = host::get_volume(plugin_id, id);
        const double area = host::get_total_area(plugin_id, id);
        format_valores(valores, volume, area);
        write_propiedad(entry_or_empty(lists.propiedad, i), valores, datos->propiedad);
        std::memset(datos->gap2, 0, sizeof datos->gap2);
        ++count;
    }
    block.count = count;
    block.total = count * static_cast<std::uint32_t>(element_record_size);
    return block;
}

}  // namespace

RecordBlock build_element_records(const Plugin& plugin, std::int32_t request_code,
                                  const ElementLists& lists) {
    try {
        return build(plugin, request_code, lists);
    } catch (...) {
        // Memory for the file names or the volume and area text ran out before any record was
        // written: nothing is built and nothing may be sent.
        RecordBlock failed;
        failed.ok = false;
        for (const std::u16string& guid : lists.guid)
            if (!guid.empty()) ++failed.wanted;
        return failed;
    }
}

}  // namespace kb
