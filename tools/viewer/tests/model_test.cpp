#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "model.h"
#include "text.h"

namespace bvs {
namespace {

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string snapshot(const std::string& objects, const std::string& files = "[\"a.ifc\"]") {
    return R"({"format": "kestro-bimvision-snapshot", "version": 1, "files": )" + files +
           R"(, "objects": )" + objects + "}";
}

const ModelProperty& property(const Model& m, std::size_t object, std::size_t set, std::size_t k) {
    return m.objects().at(object).sets.at(set).properties.at(k);
}

TEST(DemoBuilding, IsAValidSnapshotWithTheCasesThePluginFilters) {
    ModelLoadResult r = Model::parse(read_file(BVS_DEMO_MODEL));
    ASSERT_TRUE(r.model) << r.error;
    const Model& m = *r.model;
    EXPECT_GE(m.size(), 25u);
    EXPECT_LE(m.size(), 40u);
    ASSERT_EQ(m.files().size(), 2u);
    EXPECT_EQ(m.files()[0], u"Edificio_demo_arquitectura.ifc");

    int containers = 0, without_guid = 0, outside_latin1 = 0, high_ids = 0;
    bool wall_psets = false;
    for (const ModelObject& o : m.objects()) {
        for (const char16_t* c : {u"IfcProject", u"IfcSite", u"IfcBuilding", u"IfcBuildingStorey"})
            containers += o.object_type == c;
        without_guid += !o.has_guid;
        high_ids += o.id > 0xFFFFFFFFull;
        for (char16_t c : o.name) outside_latin1 += c > 0xFF;
        for (const ModelPropertySet& s : o.sets) wall_psets |= s.name == u"Qto_WallBaseQuantities";
    }
    EXPECT_EQ(containers, 5);  // project, site, building, two storeys
    EXPECT_GE(without_guid, 1);
    EXPECT_GE(high_ids, 1);
    EXPECT_GE(outside_latin1, 1);
    EXPECT_TRUE(wall_psets);
    EXPECT_NE(m.index_of_guid(u"2XJklg2TcF6qjcANF3Pf0U"), Model::npos);
}

TEST(SnapshotParsing, KeepsValueKindsAndDefaults) {
    ModelLoadResult r = Model::parse(snapshot(R"([
      {"id": 5, "property_sets": [
        {"name": "Atributos", "properties": [
          {"name": "Guid", "value": "G5"}, {"name": "Name", "value": "Muro \u00d7 EI\u2082"},
          {"name": "Width", "value": 0.3}, {"name": "Vacío", "value": null},
          {"name": "IsExternal", "value": true}]}]},
      {"id": 6, "bounds": [1, 2, 3, 4.5, 5.5, 6.5], "volume": 2.5, "area": 7}
    ])"));
    ASSERT_TRUE(r.model) << r.error;
    const Model& m = *r.model;
    EXPECT_TRUE(property(m, 0, 0, 0).is_text);
    EXPECT_EQ(m.objects()[0].name, u"Muro \u00d7 EI\u2082");
    EXPECT_FALSE(property(m, 0, 0, 2).is_text);
    EXPECT_DOUBLE_EQ(property(m, 0, 0, 2).number, 0.3);
    EXPECT_TRUE(property(m, 0, 0, 3).null_text);
    EXPECT_EQ(property(m, 0, 0, 3).name, u"Vac\u00edo");
    EXPECT_EQ(property(m, 0, 0, 4).text, u"TRUE");

    const ModelObject& first = m.objects()[0];
    EXPECT_EQ(first.volume, 0.0);
    EXPECT_EQ(first.bounds.max_z, 0.0);
    const ModelObject& second = m.objects()[1];
    EXPECT_TRUE(second.sets.empty());
    EXPECT_FALSE(second.has_guid);
    EXPECT_DOUBLE_EQ(second.bounds.min_y, 2.0);
    EXPECT_DOUBLE_EQ(second.bounds.max_x, 4.5);
    EXPECT_DOUBLE_EQ(second.area, 7.0);
    EXPECT_EQ(m.index_of(6), 1u);
    EXPECT_EQ(m.index_of(7), Model::npos);
}

TEST(SnapshotParsing, IdentityComesFromTheFirstCarrierAndEmptyGuidCountsAsNone) {
    ModelLoadResult r = Model::parse(snapshot(R"([
      {"id": 1, "property_sets": [
        {"name": "Atributos", "properties": [{"name": "Guid", "value": "SAME"}]},
        {"name": "Otro", "properties": [{"name": "Guid", "value": "LATER"},
                                        {"name": "ObjectType", "value": "IfcSite"}]}]},
      {"id": 2, "property_sets": [{"name": "Atributos", "properties": [
        {"name": "Guid", "value": "SAME"}]}]},
      {"id": 3, "property_sets": [{"name": "Atributos", "properties": [
        {"name": "Guid", "value": ""}]}]}
    ])"));
    ASSERT_TRUE(r.model) << r.error;
    const Model& m = *r.model;
    EXPECT_EQ(m.objects()[0].guid, u"SAME");
    EXPECT_EQ(m.objects()[0].object_type, u"IfcSite");
    EXPECT_EQ(m.index_of_guid(u"SAME"), 0u);  // the first of two objects with one GUID
    EXPECT_EQ(m.index_of_guid(u"LATER"), Model::npos);
    EXPECT_FALSE(m.objects()[2].has_guid);
    EXPECT_EQ(m.index_of_guid(u""), Model::npos);
}

TEST(SnapshotParsing, RefusesFilesThatAreNotSnapshots) {
    auto error_of = [](const std::string& text) {
        ModelLoadResult r = Model::parse(text);
        EXPECT_FALSE(r.model) << text;
        return r.error;
    };
    EXPECT_NE(error_of("{not json").find("not valid JSON"), std::string::npos);
    EXPECT_NE(error_of("[]").find("not a JSON object"), std::string::npos);
    EXPECT_NE(error_of(R"({"format": "other", "version": 1, "objects": []})").find("format"),
              std::string::npos);
    EXPECT_NE(error_of(R"({"format": "kestro-bimvision-snapshot", "version": 2, "objects": []})")
                  .find("version"),
              std::string::npos);
    EXPECT_NE(error_of(R"({"format": "kestro-bimvision-snapshot", "version": 1})").find("objects"),
              std::string::npos);
    EXPECT_NE(error_of(snapshot(R"([{"id": 1}, 7])")).find("object 1: not a JSON object"),
              std::string::npos);
    EXPECT_NE(error_of(snapshot(R"([[{"id": 1}]])")).find("object 0: not a JSON object"),
              std::string::npos);
    EXPECT_NE(error_of(snapshot(R"({"id": 1})")).find("\"objects\" is not a list"),
              std::string::npos);
    EXPECT_NE(error_of(snapshot(R"([{"id": 1}, {"id": 1}])")).find("used twice"),
              std::string::npos);
    EXPECT_NE(error_of(snapshot(R"([{"id": -4}])")).find("unsigned"), std::string::npos);
    EXPECT_NE(error_of(snapshot(R"([{"id": 1.5}])")).find("unsigned"), std::string::npos);
    EXPECT_NE(error_of(snapshot(R"([{"id": 9007199254740992}])")).find("2^53"),
              std::string::npos);
    EXPECT_NE(error_of(snapshot(R"([{"id": 1}, {"id": 2, "bounds": [1, 2, 3]}])"))
                  .find("object 1: \"bounds\""),
              std::string::npos);
    EXPECT_NE(error_of(snapshot(R"([{"id": 1, "volume": "big"}])")).find("volume"),
              std::string::npos);
    EXPECT_NE(error_of(snapshot(R"([{"id": 1, "property_sets": [{"name": "S", "properties": [
                  {"name": "P", "value": {"x": 1}}]}]}])"))
                  .find("\"P\""),
              std::string::npos);
    EXPECT_NE(error_of(snapshot(R"([])", R"(["a.ifc", 3])")).find("file name"),
              std::string::npos);
}

TEST(SnapshotParsing, LargestExactIdIsAccepted) {
    ModelLoadResult r = Model::parse(snapshot(R"([{"id": 9007199254740991}])"));
    ASSERT_TRUE(r.model) << r.error;
    EXPECT_EQ(r.model->objects()[0].id, 9007199254740991ull);
}

}  // namespace
}  // namespace bvs
