#include "elements/collector.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "elements/element_record.h"
#include "elements/text.h"
#include "host_table.h"

namespace kb {

namespace {

// The "%f" text of a number property keeps at most this many characters (a buffer of 100 wide
// characters with its terminator).
constexpr std::size_t number_text_limit = 99;

// The progress is told every this many objects (and once at the end): often enough for a
// window that changes a few times a second, rarely enough to cost nothing per object.
constexpr std::uint32_t progress_step = 256;

std::u16string_view view_of(const char16_t* text) {
    return text ? std::u16string_view(text) : std::u16string_view();
}

// The value of an identity property as text. A value that is not text, or whose text pointer is
// null, reads as empty: only a text value is ever followed.
std::u16string_view identity_value(const bv::Property& p) {
    if (p.value_type != 0) return {};
    return view_of(bv::property_text(p));
}

bool is_spatial_container(std::u16string_view tipo) {
    return tipo == u"IfcBuildingStorey" || tipo == u"IfcBuilding" || tipo == u"IfcSite" ||
           tipo == u"IfcProject";
}

// The working texts of one object.
struct Element {
    std::u16string guid, texto, entidad, tipo, propiedad;
    void clear() {
        guid.clear();
        texto.clear();
        entidad.clear();
        tipo.clear();
        propiedad.clear();
    }
};

// Reads one property into the object's texts; `set_index` decides whether the non-identity
// properties are gathered.
void take_property(const bv::Property& p, std::uint32_t set_index, Element& e) {
    if (p.name == nullptr) return;
    const std::u16string_view nombre(p.name);
    if (nombre == u"Guid") {
        e.guid.assign(identity_value(p));
    } else if (nombre == u"ObjectType") {
        e.tipo.assign(identity_value(p));
    } else if (nombre == u"IfcEntity") {
        e.entidad.assign(identity_value(p));
    } else if (nombre == u"Name") {
        e.texto.assign(identity_value(p));
    } else if (set_index >= 1) {
        e.propiedad.push_back(u'#');
        e.propiedad.append(nombre);
        e.propiedad.push_back(u'#');
        const char16_t* text = bv::property_text(p);
        if (p.value_type == 0 && text != nullptr)
            e.propiedad.append(text);
        else
            append_fixed(e.propiedad, bv::property_number(p), number_text_limit);
    }
}

// How many UTF-16 code units of a text can reach a field of `width` bytes: the field keeps at
// most width - 1 code points, each one or two units. Anything further never reaches a record.
constexpr std::size_t units_for_field(std::size_t width) { return 2 * (width - 1); }

// A copy of `text` with no more than what its field can take, at its exact size: the lists
// hold every element of a model until the records are built, so no spare capacity.
std::u16string kept_for_field(const std::u16string& text, std::size_t width) {
    return std::u16string(text, 0, std::min(text.size(), units_for_field(width)));
}

void clear_text_lists(ElementLists& lists) {
    lists.guid.clear();
    lists.texto.clear();
    lists.entidad.clear();
    lists.tipo.clear();
    lists.propiedad.clear();
}

bool collect(const Plugin& plugin, std::int32_t request, ElementLists& lists,
             CollectProgress* progress) {
    const std::uint32_t plugin_id = plugin.state.plugin_id;

    clear_text_lists(lists);

    // The host's counts are unsigned 32-bit values.
    std::uint32_t count = static_cast<std::uint32_t>(
        host::get_selected(plugin_id, static_cast<bv::ObjectId*>(nullptr), std::uint32_t{0}));
    if (request == REQUEST_UPDATE)
        count = static_cast<std::uint32_t>(host::get_all_objects(
            plugin_id, static_cast<bv::ObjectId*>(nullptr), std::uint32_t{0}));

    // A selection change is collected only for exactly one selected object.
    const bool proceed = ((request == REQUEST_UPDATE || request == REQUEST_DRAG) && count != 0) ||
                         (request == REQUEST_SELECTION && count == 1);
    if (!proceed) return true;

    lists.ids.assign(count, bv::ObjectId{0});
    if (request == REQUEST_UPDATE)
        host::get_all_objects(plugin_id, lists.ids.data(), count);
    else
        host::get_selected(plugin_id, lists.ids.data(), count);

    // Only the objects that send take room in the lists: a model of 200,000 objects of which
    // two have a GUID keeps two entries. The ObjectId list is compacted to match at the end.
    Element e;
    std::vector<bv::Property> propiedades;
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (progress != nullptr) {
            if (i % progress_step == 0) progress->objects_read(i, count);
            // Between two objects, on the host's thread: the flag is the only thing the
            // progress window's thread hands over.
            if (progress->stop_requested(i)) {
                clear_text_lists(lists);
                lists.ids.clear();
                return false;
            }
        }
        const bv::ObjectId id = lists.ids[i];
        const std::uint32_t sets = static_cast<std::uint32_t>(host::get_property_sets(
            plugin_id, id, static_cast<void*>(nullptr), std::uint32_t{0}));
        e.clear();
        for (std::uint32_t j = 0; j < sets; ++j) {
            bv::PropertyGroupKey pg{id, j, 0};
            const std::uint32_t m = static_cast<std::uint32_t>(host::get_properties(
                plugin_id, &pg, static_cast<bv::Property*>(nullptr), std::uint32_t{0}));
            if (m == 0) continue;
            propiedades.resize(m);
            std::memset(propiedades.data(), 0, m * sizeof(bv::Property));  // zero before the fill
            host::get_properties(plugin_id, &pg, propiedades.data(), m);
            for (const bv::Property& p : propiedades) take_property(p, j, e);
        }

        if (!e.guid.empty() && !is_spatial_container(e.tipo)) {
            // Copies at their exact size; `e` keeps its buffers for the next object.
            lists.guid.push_back(kept_for_field(e.guid, sizeof(ElementRecord::guid)));
            lists.texto.push_back(kept_for_field(e.texto, sizeof(ElementRecord::texto)));
            lists.entidad.push_back(kept_for_field(e.entidad, sizeof(ElementRecord::entidad)));
            lists.tipo.push_back(kept_for_field(e.tipo, sizeof(ElementRecord::tipo)));
            lists.propiedad.push_back(kept_for_field(e.propiedad, sizeof(ElementRecord::propiedad)));
            lists.ids[kept++] = id;
        }
    }
    if (progress != nullptr) progress->objects_read(count, count);
    lists.ids.resize(kept);
    lists.ids.shrink_to_fit();
    return true;
}

}  // namespace

bool collect_elements(const Plugin& plugin, std::int32_t request_code, ElementLists& lists,
                      CollectProgress* progress) {
    try {
        return collect(plugin, request_code, lists, progress);
    } catch (...) {
        // Out of memory while filling the lists: leave nothing to send rather than half a model,
        // and let the transfer know, so an update is not taken for an empty model.
        clear_text_lists(lists);
        throw;
    }
}

}  // namespace kb
