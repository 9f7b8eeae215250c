// The element collector against the fake viewer: which objects are read, which texts land in the
// element lists, and which calls the host sees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "elements/collector.h"
#include "elements/text.h"
#include "elements_fixture.h"

namespace {

using elements_test::World;
using kb::REQUEST_DRAG;
using kb::REQUEST_SELECTION;
using kb::REQUEST_UPDATE;
using Ids = std::vector<bv::ObjectId>;
using Texts = std::vector<std::u16string>;

// Collects on a model of objects 1..3 (GUIDs G1..G3) over lists left by an earlier collection.
kb::ElementLists collect(std::int32_t request, Ids selected) {
    World w(request);
    for (bv::ObjectId id : {1, 2, 3})
        w.host.element(id, std::u16string{u'G', static_cast<char16_t>(u'0' + id)});
    w.host.selected = std::move(selected);
    w.lists.ids = {900, 901};
    for (auto* l : {&w.lists.guid, &w.lists.texto, &w.lists.entidad,
                    &w.lists.tipo, &w.lists.propiedad})
        *l = {u"old", u"old"};
    kb::collect_elements(w.plugin, w.request, w.lists);
    return w.lists;
}

bool text_lists_empty(const kb::ElementLists& l) {
    return l.guid.empty() && l.texto.empty() && l.entidad.empty() && l.tipo.empty() &&
           l.propiedad.empty();
}

TEST(CollectChoice, RequestCodeDecidesWhichObjectsAreRead) {
    // Nothing collected: the text lists are emptied and the ObjectId list stays as it was.
    struct Case { std::int32_t request; Ids selected; };
    for (const Case& c : {Case{REQUEST_SELECTION, {}}, Case{REQUEST_SELECTION, {1, 2}},
                          Case{REQUEST_DRAG, {}}, Case{0x403, {1}}}) {
        const auto l = collect(c.request, c.selected);
        EXPECT_TRUE(text_lists_empty(l)) << c.request << " with " << c.selected.size();
        EXPECT_EQ(l.ids, (Ids{900, 901}));
    }
    const auto one = collect(REQUEST_SELECTION, {2});
    EXPECT_EQ(one.ids, Ids{2});
    EXPECT_EQ(one.guid, Texts{u"G2"});
    EXPECT_EQ(one.propiedad, Texts{u""});
    const auto drag = collect(REQUEST_DRAG, {3, 1});
    EXPECT_EQ(drag.ids, (Ids{3, 1}));
    EXPECT_EQ(drag.guid, (Texts{u"G3", u"G1"}));
    const auto update = collect(REQUEST_UPDATE, {2});
    EXPECT_EQ(update.ids, (Ids{1, 2, 3}));
    EXPECT_EQ(update.guid, (Texts{u"G1", u"G2", u"G3"}));

    World empty(REQUEST_UPDATE);
    kb::collect_elements(empty.plugin, empty.request, empty.lists);
    EXPECT_TRUE(text_lists_empty(empty.lists));
}

TEST(CollectFilter, LeavesSpatialContainersByExactObjectTypeAndObjectsWithoutGuidEmpty) {
    World w(REQUEST_UPDATE);
    w.host.element(1, u"G1", u"Site", u"IfcSite", u"IfcSite");
    w.host.element(2, u"G2", u"Project", u"", u"IfcProject");
    w.host.element(3, u"G3", u"Building", u"", u"IfcBuilding");
    w.host.element(4, u"G4", u"Storey", u"", u"IfcBuildingStorey");
    w.host.element(5, u"G5", u"By entity only", u"IfcSite", u"Terrain");
    w.host.element(6, u"G6", u"No type", u"IfcSite");
    w.host.element(7, u"G7", u"Other case", u"", u"ifcsite");
    w.host.element(8, u"", u"No guid", u"IfcWall", u"Standard").set(1).text(u"Width", u"3");
    // The last ObjectType decides.
    w.host.element(9, u"G9", u"", u"", u"Standard").set(3).text(u"ObjectType", u"IfcSite");
    kb::collect_elements(w.plugin, w.request, w.lists);
    const auto& l = w.lists;
    EXPECT_EQ(l.guid, (Texts{u"G5", u"G6", u"G7"}));
    EXPECT_EQ(l.texto, (Texts{u"By entity only", u"No type", u"Other case"}));
    EXPECT_EQ(l.entidad, (Texts{u"IfcSite", u"IfcSite", u""}));
    EXPECT_EQ(l.tipo, (Texts{u"Terrain", u"", u"ifcsite"}));
    EXPECT_EQ(l.propiedad, Texts(3));
    EXPECT_EQ(l.ids, (Ids{5, 6, 7}));
}

TEST(CollectFilter, ObjectsThatSendNothingTakeNoRoomAndTextsKeepWhatTheirFieldsCanTake) {
    // 200,000 objects of which two have a GUID: two entries, nothing reserved for the rest.
    World w(REQUEST_UPDATE);
    constexpr bv::ObjectId objects = 200000;
    w.host.objects.reserve(objects);
    for (bv::ObjectId id = 1; id <= objects; ++id)
        w.host.element(id, id == 7 || id == objects ? u"G" : u"", u"Wall", u"IfcWall", u"T");
    // Far longer than any field: kept to twice the field's characters (a character may take
    // two code units), which is more than a record can ever hold.
    w.host.objects.back().set(1).text(u"Long", std::u16string(50000, u'x'));
    kb::collect_elements(w.plugin, w.request, w.lists);
    const auto& l = w.lists;
    EXPECT_EQ(l.ids, (Ids{7, objects}));
    ASSERT_EQ(l.guid, (Texts{u"G", u"G"}));
    EXPECT_LE(l.ids.capacity() + l.guid.capacity() + l.propiedad.capacity(), 3 * 2u + 6);
    EXPECT_EQ(l.propiedad[1].size(), 2u * 9999);
    EXPECT_EQ(l.propiedad[1].capacity(), l.propiedad[1].size());
}

TEST(CollectIdentity, LastOccurrenceWinsAndNonTextValuesReadAsEmpty) {
    World w(REQUEST_UPDATE);
    auto& o = w.host.element(1, u"first-guid", u"set 0 name", u"IfcWall", u"A");
    o.set(0).text(u"Name", u"set 0 second name");
    o.set(1).text(u"Guid", u"final-guid").text(u"ObjectType", u"B");
    o.set(2).text(u"Name", u"set 2 name").text(u"IfcEntity", u"IfcSlab");
    auto& n = w.host.element(2, u"GN", u"Name", u"IfcWall", u"T");
    n.set(1).number(u"Name", 3.0).null_text(u"IfcEntity").number(u"ObjectType", 0.0, 7);
    w.host.element(3, u"").set(0).null_text(u"Guid");
    w.host.element(4, u"").set(0).number(u"Guid", 123.0);
    kb::collect_elements(w.plugin, w.request, w.lists);
    const auto& l = w.lists;
    EXPECT_EQ(l.guid, (Texts{u"final-guid", u"GN"}));
    EXPECT_EQ(l.texto, (Texts{u"set 2 name", u""}));
    EXPECT_EQ(l.entidad, (Texts{u"IfcSlab", u""}));
    EXPECT_EQ(l.tipo, (Texts{u"B", u""}));
    EXPECT_EQ(l.propiedad, Texts(2)) << "identity names are never gathered";
}

TEST(CollectGatheredText, JoinsNameAndValueWithHashesFromSetOneOnInOrder) {
    World w(REQUEST_UPDATE);
    auto& o = w.host.element(1, u"G");
    o.set(0).text(u"Width", u"ignored in set 0").number(u"Depth", 9.0);
    o.set(1).number(u"Width", 0.3).text(u"Material", u"Concrete").null_name();
    o.set(2).text(u"Width", u"wide").text(u"Note#1", u"a#b").text(u"Empty", u"");
    kb::collect_elements(w.plugin, w.request, w.lists);
    EXPECT_EQ(w.lists.propiedad,
              Texts{u"#Width#0.300000#Material#Concrete#Width#wide#Note#1#a#b#Empty#"});
}

TEST(CollectGatheredText, FormatsNumbersLikePercentFCutAt99Characters) {
    World w(REQUEST_UPDATE);
    w.host.element(1, u"G")
        .set(1)
        .number(u"A", 2.5)
        .number(u"B", -0.25)
        .number(u"C", 1e100)
        .number(u"D", 4.0, -1)  // any non-zero type is a number
        .null_text(u"E");       // text type with null pointer: the 8 zero bytes as a double
    kb::collect_elements(w.plugin, w.request, w.lists);
    const std::u16string c = kb::format_fixed(1e100).substr(0, 99);
    EXPECT_EQ(w.lists.propiedad,
              Texts{u"#A#2.500000#B#-0.250000#C#" + c + u"#D#4.000000#E#0.000000"});
}

TEST(CollectHostCalls, CountThenFillForObjectsSetsAndProperties) {
    World w(REQUEST_UPDATE);
    w.host.log_queries = true;
    w.host.element(0x100000002ull, u"G").set(2).text(u"P", u"v");  // set 1 stays empty
    kb::collect_elements(w.plugin, w.request, w.lists);
    std::vector<std::pair<std::string, std::vector<std::uint64_t>>> seen;
    for (const auto& c : w.host.calls_named(
             {"get_selected", "get_all_objects", "get_property_sets", "get_properties"}))
        seen.emplace_back(c.name, c.args);
    const decltype(seen) expected = {
        {"get_selected", {42, 0, 0}},
        {"get_all_objects", {42, 0, 0}},
        {"get_all_objects", {42, 1, 1}},
        {"get_property_sets", {42, 0x100000002ull, 0, 0}},
        {"get_properties", {42, 0x100000002ull, 0, 0, 0}},
        {"get_properties", {42, 0x100000002ull, 0, 1, 1}},
        {"get_properties", {42, 0x100000002ull, 1, 0, 0}},  // no fill for an empty set
        {"get_properties", {42, 0x100000002ull, 2, 0, 0}},
        {"get_properties", {42, 0x100000002ull, 2, 1, 1}},
    };
    EXPECT_EQ(seen, expected);

    World v(REQUEST_SELECTION);
    v.host.element(4, u"G");
    v.host.selected = {4};
    v.host.missing = {"get_properties"};  // found nothing, said nothing
    v.host.install();
    v.host.log_queries = true;
    kb::collect_elements(v.plugin, v.request, v.lists);
    const auto fill = v.host.calls_named({"get_selected", "get_all_objects"});
    ASSERT_EQ(fill.size(), 2u);
    EXPECT_EQ(fill[1].name, "get_selected");
    EXPECT_EQ(fill[1].args, (std::vector<std::uint64_t>{42, 1, 1}));
    EXPECT_TRUE(v.lists.ids.empty()) << "no GUID was found, so nothing is kept";
    EXPECT_TRUE(v.lists.guid.empty());
}

}  // namespace
