#include "elements/collector.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "elements/text.h"
#include "host_table.h"

namespace kb {

namespace {

// The "%f" text of a number property keeps at most this many characters (a buffer of 100 wide
// characters with its terminator).
constexpr std::size_t number_text_limit = 99;

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

void clear_text_lists(ElementLists& lists) {
    lists.guid.clear();
    lists.texto.clear();
    lists.entidad.clear();
    lists.tipo.clear();
    lists.propiedad.clear();
}

void collect(const Plugin& plugin, std::int32_t request, ElementLists& lists) {
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
    if (!proceed) return;

    lists.ids.assign(count, bv::ObjectId{0});
    if (request == REQUEST_UPDATE)
        host::get_all_objects(plugin_id, lists.ids.data(), count);
    else
        host::get_selected(plugin_id, lists.ids.data(), count);

    lists.guid.reserve(count);
    lists.texto.reserve(count);
    lists.entidad.reserve(count);
    lists.tipo.reserve(count);
    lists.propiedad.reserve(count);

    Element e;
    std::vector<bv::Property> propiedades;
    for (std::uint32_t i = 0; i < count; ++i) {
        const bv::ObjectId id = lists.ids[i];
        lists.guid.emplace_back();
        lists.texto.emplace_back();
        lists.entidad.emplace_back();
        lists.tipo.emplace_back();
        lists.propiedad.emplace_back();

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
            lists.guid[i] = std::move(e.guid);
            lists.texto[i] = std::move(e.texto);
            lists.entidad[i] = std::move(e.entidad);
            lists.tipo[i] = std::move(e.tipo);
            lists.propiedad[i] = std::move(e.propiedad);
        }
    }
}

}  // namespace

void collect_elements(const Plugin& plugin, std::int32_t request_code, ElementLists& lists) {
    try {
        collect(plugin, request_code, lists);
    } catch (...) {
        // Out of memory while filling the lists: leave nothing to send rather than half a model,
        // and let the transfer know, so an update is not taken for an empty model.
        clear_text_lists(lists);
        throw;
    }
}

}  // namespace kb
