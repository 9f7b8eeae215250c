// The element collector against the fake viewer: which objects are read, which texts land in the
// element lists, and which calls the host sees.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
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
using Texts = std::vector<std::u16string>;

// Leaves something in every list, as an earlier collection would.
void stale_lists(kb::ElementLists& lists) {
    lists.ids = {900, 901};
    for (auto* l : {&lists.guid, &lists.texto, &lists.entidad, &lists.tipo, &lists.propiedad})
        *l = {u"old", u"old"};
}

void expect_text_lists_empty(const kb::ElementLists& lists) {
    EXPECT_TRUE(lists.guid.empty());
    EXPECT_TRUE(lists.texto.empty());
    EXPECT_TRUE(lists.entidad.empty());
    EXPECT_TRUE(lists.tipo.empty());
    EXPECT_TRUE(lists.propiedad.empty());
}

TEST(CollectForSelection, CollectsOnlyWhenExactlyOneObjectIsSelected) {
    for (std::size_t selected : {0u, 2u, 3u}) {
        World w(REQUEST_SELECTION);
        w.host.element(1, u"G1");
        w.host.element(2, u"G2");
        w.host.element(3, u"G3");
        w.host.selected.assign({1, 2, 3});
        w.host.selected.resize(selected);
        stale_lists(w.plugin.lists);
        kb::collect_elements(w.plugin);
        SCOPED_TRACE(selected);
        expect_text_lists_empty(w.plugin.lists);
        EXPECT_EQ(w.plugin.lists.ids, (std::vector<bv::ObjectId>{900, 901}));
    }

    World w(REQUEST_SELECTION);
    w.host.element(1, u"G1");
    w.host.element(2, u"G2", u"Wall", u"IfcWall", u"Standard");
    w.host.selected = {2};
    stale_lists(w.plugin.lists);
    kb::collect_elements(w.plugin);
    const auto& l = w.plugin.lists;
    EXPECT_EQ(l.ids, (std::vector<bv::ObjectId>{2}));
    EXPECT_EQ(l.guid, Texts{u"G2"});
    EXPECT_EQ(l.texto, Texts{u"Wall"});
    EXPECT_EQ(l.entidad, Texts{u"IfcWall"});
    EXPECT_EQ(l.tipo, Texts{u"Standard"});
    EXPECT_EQ(l.propiedad, Texts{u""});
}

TEST(CollectForDrag, ReadsEverySelectedObjectInTheHostsOrderAndNothingWithoutSelection) {
    World w(REQUEST_DRAG);
    w.host.element(1, u"G1");
    w.host.element(2, u"G2");
    w.host.element(3, u"G3");
    stale_lists(w.plugin.lists);
    kb::collect_elements(w.plugin);
    expect_text_lists_empty(w.plugin.lists);
    EXPECT_EQ(w.plugin.lists.ids.size(), 2u);

    w.host.selected = {3, 1};
    kb::collect_elements(w.plugin);
    EXPECT_EQ(w.plugin.lists.ids, (std::vector<bv::ObjectId>{3, 1}));
    EXPECT_EQ(w.plugin.lists.guid, (Texts{u"G3", u"G1"}));
}

TEST(CollectForUpdate, ReadsEveryObjectOfTheModelWhateverIsSelected) {
    World w(REQUEST_UPDATE);
    kb::collect_elements(w.plugin);  // empty model
    expect_text_lists_empty(w.plugin.lists);

    w.host.element(5, u"G5");
    w.host.element(6, u"G6");
    w.host.element(7, u"G7");
    w.host.selected = {6};
    kb::collect_elements(w.plugin);
    EXPECT_EQ(w.plugin.lists.ids, (std::vector<bv::ObjectId>{5, 6, 7}));
    EXPECT_EQ(w.plugin.lists.guid, (Texts{u"G5", u"G6", u"G7"}));
}

TEST(CollectWithOtherRequestCode, CollectsNothing) {
    World w(0x403);
    w.host.element(1, u"G1");
    w.host.selected = {1};
    stale_lists(w.plugin.lists);
    kb::collect_elements(w.plugin);
    expect_text_lists_empty(w.plugin.lists);
    EXPECT_EQ(w.plugin.lists.ids.size(), 2u);
}

TEST(CollectFilter, LeavesSpatialContainersByObjectTypeExactlyAndObjectsWithoutGuidEmpty) {
    World w(REQUEST_UPDATE);
    w.host.element(1, u"G1", u"Site", u"IfcSite", u"IfcSite");
    w.host.element(2, u"G2", u"Project", u"", u"IfcProject");
    w.host.element(3, u"G3", u"Building", u"", u"IfcBuilding");
    w.host.element(4, u"G4", u"Storey", u"", u"IfcBuildingStorey");
    w.host.element(5, u"G5", u"By entity only", u"IfcSite", u"Terrain");
    w.host.element(6, u"G6", u"No type", u"IfcSite");
    w.host.element(7, u"G7", u"Other case", u"", u"ifcsite");
    w.host.element(8, u"G8", u"Longer", u"", u"IfcSite ");
    w.host.element(9, u"", u"No guid", u"IfcWall", u"Standard").set(1).text(u"Width", u"3");
    kb::collect_elements(w.plugin);

    const auto& l = w.plugin.lists;
    ASSERT_EQ(l.guid.size(), 9u);
    EXPECT_EQ(l.guid, (Texts{u"", u"", u"", u"", u"G5", u"G6", u"G7", u"G8", u""}));
    EXPECT_EQ(l.texto, (Texts{u"", u"", u"", u"", u"By entity only", u"No type", u"Other case",
                              u"Longer", u""}));
    for (std::size_t i : {0u, 1u, 2u, 3u, 8u}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(l.entidad[i], u"");
        EXPECT_EQ(l.tipo[i], u"");
        EXPECT_EQ(l.propiedad[i], u"");
    }
    EXPECT_EQ(l.ids.size(), 9u);
    EXPECT_EQ(l.ids[8], 9u);
}

TEST(CollectIdentity, LastOccurrenceInSetThenRecordOrderWins) {
    World w(REQUEST_UPDATE);
    auto& o = w.host.element(1, u"first-guid", u"set 0 name", u"IfcWall", u"A");
    o.set(0).text(u"Name", u"set 0 second name");
    o.set(1).text(u"Guid", u"final-guid").text(u"ObjectType", u"B");
    o.set(2).text(u"Name", u"set 2 name").text(u"IfcEntity", u"IfcSlab");
    kb::collect_elements(w.plugin);
    const auto& l = w.plugin.lists;
    EXPECT_EQ(l.guid, Texts{u"final-guid"});
    EXPECT_EQ(l.texto, Texts{u"set 2 name"});
    EXPECT_EQ(l.entidad, Texts{u"IfcSlab"});
    EXPECT_EQ(l.tipo, Texts{u"B"});
    EXPECT_EQ(l.propiedad, Texts{u""}) << "identity names are never gathered";
}

TEST(CollectIdentity, ContainerTypeDecidedByTheLastObjectTypeOccurrence) {
    World w(REQUEST_UPDATE);
    w.host.element(1, u"G1", u"", u"", u"Standard").set(3).text(u"ObjectType", u"IfcSite");
    w.host.element(2, u"G2", u"", u"", u"IfcSite").set(3).text(u"ObjectType", u"Standard");
    kb::collect_elements(w.plugin);
    EXPECT_EQ(w.plugin.lists.guid, (Texts{u"", u"G2"}));
}

TEST(CollectIdentity, NonTextOrNullIdentityValuesReadAsEmpty) {
    World w(REQUEST_UPDATE);
    auto& a = w.host.element(1, u"GA", u"Name A", u"IfcWall", u"T");
    a.set(1).number(u"Name", 3.0).null_text(u"IfcEntity").number(u"ObjectType", 0.0, 7);
    auto& b = w.host.element(2, u"");
    b.set(0).null_text(u"Guid");
    auto& c = w.host.element(3, u"");
    c.set(0).number(u"Guid", 123.0);
    kb::collect_elements(w.plugin);
    const auto& l = w.plugin.lists;
    EXPECT_EQ(l.guid, (Texts{u"GA", u"", u""}));
    EXPECT_EQ(l.texto[0], u"");
    EXPECT_EQ(l.entidad[0], u"");
    EXPECT_EQ(l.tipo[0], u"");
}

TEST(CollectGatheredText, JoinsNameAndValueWithHashesFromSetOneOnInOrder) {
    World w(REQUEST_UPDATE);
    auto& o = w.host.element(1, u"G");
    o.set(0).text(u"Width", u"ignored in set 0").number(u"Depth", 9.0);
    o.set(1).number(u"Width", 0.3).text(u"Material", u"Concrete");
    o.set(2).text(u"Width", u"wide").text(u"Note#1", u"a#b");
    kb::collect_elements(w.plugin);
    EXPECT_EQ(w.plugin.lists.propiedad,
              Texts{u"#Width#0.300000#Material#Concrete#Width#wide#Note#1#a#b"});
}

TEST(CollectGatheredText, FormatsNumbersLikePercentFAndCutsThemAt99Characters) {
    World w(REQUEST_UPDATE);
    auto& o = w.host.element(1, u"G");
    o.set(1)
        .number(u"A", 2.5)
        .number(u"B", -0.25)
        .number(u"C", 1e100)
        .number(u"D", 4.0, -1)  // any non-zero type is a number
        .null_text(u"E");       // text type with null pointer: the 8 zero bytes as a double
    kb::collect_elements(w.plugin);
    const std::u16string c = kb::format_fixed(1e100).substr(0, 99);
    EXPECT_EQ(w.plugin.lists.propiedad,
              Texts{u"#A#2.500000#B#-0.250000#C#" + c + u"#D#4.000000#E#0.000000"});
}

TEST(CollectGatheredText, EmptyTextValueLeavesTheNameBetweenHashesAndNullNamesAreSkipped) {
    World w(REQUEST_UPDATE);
    auto& o = w.host.element(1, u"G");
    o.set(1).null_name().text(u"Empty", u"").null_name().text(u"Next", u"x");
    kb::collect_elements(w.plugin);
    EXPECT_EQ(w.plugin.lists.propiedad, Texts{u"#Empty##Next#x"});
}

TEST(CollectGatheredText, NothingOfAnEarlierCollectionSurvives) {
    World w(REQUEST_UPDATE);
    w.host.element(1, u"G1").set(1).text(u"P", u"one");
    w.host.element(2, u"G2").set(1).text(u"P", u"two");
    kb::collect_elements(w.plugin);
    w.plugin.lists.propiedad[0] += u"#VOLUMEN#1.000000#AREA#1.000000";
    w.host.objects.erase(w.host.objects.begin());
    kb::collect_elements(w.plugin);
    EXPECT_EQ(w.plugin.lists.ids, (std::vector<bv::ObjectId>{2}));
    EXPECT_EQ(w.plugin.lists.propiedad, Texts{u"#P#two"});
}

TEST(CollectHostCalls, CountThenFillForObjectsSetsAndProperties) {
    World w(REQUEST_UPDATE);
    w.host.log_queries = true;
    auto& o = w.host.element(0x100000002ull, u"G");  // set 0 with one property
    o.set(2).text(u"P", u"v");                      // set 1 left empty
    kb::collect_elements(w.plugin);

    using Args = std::vector<std::uint64_t>;
    const auto calls = w.host.calls_named(
        {"get_selected", "get_all_objects", "get_property_sets", "get_properties"});
    std::vector<std::pair<std::string, Args>> seen;
    for (const auto& c : calls) seen.emplace_back(c.name, c.args);
    const std::vector<std::pair<std::string, Args>> expected = {
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
}

TEST(CollectHostCalls, SelectionIsFilledThroughGetSelected) {
    World w(REQUEST_SELECTION);
    w.host.log_queries = true;
    w.host.element(4, u"G");
    w.host.selected = {4};
    kb::collect_elements(w.plugin);
    const auto calls = w.host.calls_named({"get_selected", "get_all_objects"});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].name, "get_selected");
    EXPECT_EQ(calls[1].args, (std::vector<std::uint64_t>{42, 1, 1}));
}

TEST(CollectWithMissingHostFunctions, FindsNothingAndStaysQuiet) {
    World w(REQUEST_UPDATE);
    w.host.element(1, u"G1");
    w.host.missing = {"get_all_objects"};
    w.host.install();
    kb::collect_elements(w.plugin);
    expect_text_lists_empty(w.plugin.lists);

    World v(REQUEST_UPDATE);
    v.host.element(1, u"G1");
    v.host.missing = {"get_properties"};
    v.host.install();
    kb::collect_elements(v.plugin);
    EXPECT_EQ(v.plugin.lists.ids, (std::vector<bv::ObjectId>{1}));
    EXPECT_EQ(v.plugin.lists.guid, Texts{u""});
}

}  // namespace
