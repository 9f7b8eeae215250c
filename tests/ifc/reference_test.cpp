// Required references that are empty, missing or of the wrong type: the schema's table against
// the library, geometry that loses the item holding one, relationships that are ignored with a
// word, files without their building, and the attribute named in every unresolved reference.
#include "ifc_samples.h"
#include "ifc_test_support.h"
#include "required_references.h"

#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/IFC4/EntityFactory.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <regex>

using namespace ifc_test;

namespace {

// --- The table --------------------------------------------------------------------------------

std::vector<std::string> split_names(const std::string& all) {
    std::vector<std::string> names;
    for (size_t start = 0; start < all.size();) {
        size_t end = all.find(',', start);
        if (end == std::string::npos) end = all.size();
        names.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

TEST(RequiredReferenceTable, AgreesWithTheLibraryOnEveryEntity) {
    using namespace ifc2snapshot;
    size_t checked = 0;
    for (size_t k = 0; k < entity_attribute_count; ++k) {
        const EntityAttributes& e = entity_attribute_table[k];
        const std::unique_ptr<BuildingEntity> entity(EntityFactory::createEntityObject(e.keyword));
        if (!entity) continue;  // abstract: never in a file
        ++checked;
        const std::vector<std::string> names = split_names(e.attributes);
        EXPECT_EQ(names.size(), entity->getNumAttributes()) << e.name;
        EXPECT_EQ(std::string(entity->className()), e.name);
        // The library lists every single attribute (set or not) and leaves out empty lists: its
        // names come in the table's order.
        std::vector<std::pair<std::string, shared_ptr<BuildingObject>>> attributes;
        entity->getAttributes(attributes);
        size_t at = 0;
        for (const auto& [name, value] : attributes) {
            while (at < names.size() && names[at] != name) ++at;
            EXPECT_LT(at, names.size()) << e.name << "." << name << " out of the table's order";
        }
    }
    EXPECT_GT(checked, 600u);
    size_t rules = 0;
    for (size_t k = 0; k < required_reference_count; ++k) {
        const RequiredReference& r = required_reference_table[k];
        const auto* names = attribute_names(r.entity);
        ASSERT_NE(names, nullptr) << r.entity;
        ASSERT_LT(r.argument, names->size()) << r.entity;
        EXPECT_EQ((*names)[r.argument], r.attribute) << r.entity;
        ++rules;
    }
    EXPECT_GT(rules, 250u);
    // The one that crashed the converter, and derived ones that are not required.
    auto has = [](const char* entity, const char* attribute) {
        for (const auto* r : ifc2snapshot::required_references(entity))
            if (std::string(r->attribute) == attribute) return true;
        return false;
    };
    EXPECT_TRUE(has("IFCORIENTEDEDGE", "EdgeElement"));
    EXPECT_TRUE(has("IFCRELDEFINESBYPROPERTIES", "RelatingPropertyDefinition"));
    EXPECT_FALSE(has("IFCORIENTEDEDGE", "EdgeStart")) << "derived: written *";
    EXPECT_FALSE(has("IFCSIUNIT", "Dimensions")) << "derived: written *";
    EXPECT_FALSE(has("IFCORGANIZATION", "Addresses")) << "optional";
}

// --- Geometry ---------------------------------------------------------------------------------

// A context, a 2 x 1 x 3 box (#25) and storey #30 in project #1.
const std::string context_box_and_storey = R"(#20=IFCGEOMETRICREPRESENTATIONCONTEXT($,'Model',3,1.E-05,#21,$);
#21=IFCAXIS2PLACEMENT3D(#22,$,$);
#22=IFCCARTESIANPOINT((0.,0.,0.));
#23=IFCDIRECTION((0.,0.,1.));
#24=IFCRECTANGLEPROFILEDEF(.AREA.,$,$,2.,1.);
#25=IFCEXTRUDEDAREASOLID(#24,#21,#23,3.);
#30=IFCBUILDINGSTOREY('2hC5Zq9n52wR7ZP3v0xQ1a',$,'Planta',$,$,$,$,$,.ELEMENT.,0.);
#31=IFCRELAGGREGATES('1bqDh3pKf0Hh7Q5mR3$x9a',$,$,$,#1,(#30));
)";

// Proxy #100 shows a surface model (#103) of one triangle bounded by an edge loop, and a 2 x 1 x 3
// box (#25). The loop's second oriented edge (#111) has its EdgeElement as EDGE.
std::string edge_loop(const std::string& edge) {
    return ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'Aristas',$,$,$,$,(#20),#2);
#2=IFCUNITASSIGNMENT((#3));
#3=IFCSIUNIT(*,.LENGTHUNIT.,$,.METRE.);
)" + context_box_and_storey + R"(#32=IFCRELCONTAINEDINSPATIALSTRUCTURE('3Kd9Lq0w1F8uY5n3xQ2a7b',$,$,$,(#100),#30);
#100=IFCBUILDINGELEMENTPROXY('0cB1cD2eF3gH4iJ5kL6mN7',$,'Placa',$,$,$,#101,$,$);
#101=IFCPRODUCTDEFINITIONSHAPE($,$,(#102));
#102=IFCSHAPEREPRESENTATION(#20,'Body','Brep',(#103,#25));
#103=IFCFACEBASEDSURFACEMODEL((#104));
#104=IFCCONNECTEDFACESET((#105));
#105=IFCFACE((#106));
#106=IFCFACEOUTERBOUND(#107,.T.);
#107=IFCEDGELOOP((#110,#111,#112));
#110=IFCORIENTEDEDGE(*,*,#120,.T.);
#111=IFCORIENTEDEDGE(*,*,)" + edge + R"(,.T.);
#112=IFCORIENTEDEDGE(*,*,#122,.T.);
#120=IFCEDGE(#130,#131);
#121=IFCEDGE(#131,#132);
#122=IFCEDGE(#132,#130);
#130=IFCVERTEXPOINT(#140);
#131=IFCVERTEXPOINT(#141);
#132=IFCVERTEXPOINT(#142);
#140=IFCCARTESIANPOINT((0.,0.,0.));
#141=IFCCARTESIANPOINT((1.,0.,0.));
#142=IFCCARTESIANPOINT((0.,1.,0.));
)");
}

std::string replaced(std::string content, const std::string& from, const std::string& to) {
    const size_t at = content.find(from);
    if (at != std::string::npos) content.replace(at, from.size(), to);
    return content;
}

struct Converted {
    ToolRun run;
    nlohmann::json snapshot;
};

Converted convert(const std::string& content, const std::string& options = "") {
    ScratchDir dir;
    const std::string in = dir.write("modelo.ifc", content);
    Converted c;
    c.run = run_converter(options + " '" + in + "' '" + dir.file("modelo.json") + "'");
    if (c.run.status == 0) c.snapshot = nlohmann::json::parse(read_file(dir.file("modelo.json")));
    return c;
}

// The converter's standard error holds `text`.
void expect_said(const Converted& c, const std::string& text) {
    EXPECT_NE(c.run.err.find(text), std::string::npos) << "not said: " << text << "\n" << c.run.err;
}

const nlohmann::json* object_of(const nlohmann::json& snapshot, int id) {
    for (const auto& o : snapshot["objects"])
        if (o["id"] == id) return &o;
    return nullptr;
}

TEST(OrientedEdge, WithAnEmptyEdgeLosesItsItemAndTheObjectKeepsTheRest) {
    const Converted c = convert(edge_loop("$"));
    ASSERT_EQ(c.run.status, 0) << "killed by a signal when -1\n" << c.run.err;
    expect_said(c, "warning: geometry with a broken reference: #111 IfcOrientedEdge.EdgeElement is empty: "
                             "left out with the representation items that lead to it (#103 IfcFaceBasedSurfaceModel "
                             "in #102 IfcShapeRepresentation)\n");
    const auto* proxy = object_of(c.snapshot, 100);
    ASSERT_NE(proxy, nullptr);
    EXPECT_NEAR((*proxy)["volume"].get<double>(), 6.0, 1e-9) << "the box stays";
}

TEST(OrientedEdge, WithADanglingEdgeLosesItsItemUnderAllowDangling) {
    const Converted refused = convert(edge_loop("#999"));
    EXPECT_EQ(refused.run.status, 1) << refused.run.err;
    EXPECT_NE(refused.run.err.find("#111 IFCORIENTEDEDGE.EdgeElement -> #999"), std::string::npos) << refused.run.err;

    const Converted c = convert(edge_loop("#999"), "--allow-dangling");
    ASSERT_EQ(c.run.status, 0) << "killed by a signal when -1\n" << c.run.err;
    expect_said(c, "warning: geometry with a broken reference: #111 IfcOrientedEdge.EdgeElement names #999, "
                             "which is missing from the file: left out with the representation items that lead to it "
                             "(#103 IfcFaceBasedSurfaceModel in #102 IfcShapeRepresentation)\n");
    EXPECT_NEAR((*object_of(c.snapshot, 100))["volume"].get<double>(), 6.0, 1e-9);
}

TEST(OrientedEdge, WithAnEdgeOfTheWrongTypeLosesItsItem) {
    const Converted c = convert(edge_loop("#140"));
    ASSERT_EQ(c.run.status, 0) << "killed by a signal when -1\n" << c.run.err;
    expect_said(c, "warning: geometry with a broken reference: #111 IfcOrientedEdge.EdgeElement points at "
                             "#140 IfcCartesianPoint, which it does not take (it takes IfcEdge): left out with");
    expect_said(c, "1 reference to an entity of a type its attribute does not take could not be resolved "
                             "(#111 IFCORIENTEDEDGE.EdgeElement -> #140)");
}

TEST(OrientedEdge, SeveralOfOneKindMakeOneWarning) {
    const Converted c = convert(replaced(edge_loop("$"), "#110=IFCORIENTEDEDGE(*,*,#120,", "#110=IFCORIENTEDEDGE(*,*,$,"));
    ASSERT_EQ(c.run.status, 0) << c.run.err;
    expect_said(c, "warning: geometry with a broken reference: IfcOrientedEdge.EdgeElement is empty in 2 "
                             "instances (#110, #111): left out with the representation items that lead to it (#103 "
                             "IfcFaceBasedSurfaceModel in #102 IfcShapeRepresentation)\n");
}

// Proxy #500 shows a mapped item (#503) beside a box (#25); the map has no representation, and
// the mapped item's transformation no origin.
TEST(BrokenGeometry, AMapWithoutItsRepresentationLosesItsMappedItemAndTheBoxStays) {
    const std::string content = ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'Mapa',$,$,$,$,(#20),$);
)" + context_box_and_storey + R"(#32=IFCRELCONTAINEDINSPATIALSTRUCTURE('3Kd9Lq0w1F8uY5n3xQ2a7b',$,$,$,(#500),#30);
#500=IFCBUILDINGELEMENTPROXY('0eC1cD2eF3gH4iJ5kL6mN4',$,'Bloque',$,$,$,#501,$,$);
#501=IFCPRODUCTDEFINITIONSHAPE($,$,(#502));
#502=IFCSHAPEREPRESENTATION(#20,'Body','MappedRepresentation',(#503,#25));
#503=IFCMAPPEDITEM(#504,#506);
#504=IFCREPRESENTATIONMAP(#21,$);
#506=IFCCARTESIANTRANSFORMATIONOPERATOR3D($,$,$,$,$);
)");
    const Converted c = convert(content);
    ASSERT_EQ(c.run.status, 0) << "killed by a signal when -1\n" << c.run.err;
    expect_said(c, "warning: geometry with a broken reference: #504 IfcRepresentationMap.MappedRepresentation "
                             "is empty: left out with the representation items that lead to it (#503 IfcMappedItem in "
                             "#502 IfcShapeRepresentation)\n");
    expect_said(c, "warning: geometry with a broken reference: #506 IfcCartesianTransformationOperator3D."
                             "LocalOrigin is empty: left out with the representation items that lead to it, which "
                             "another warning names\n");
    EXPECT_NEAR((*object_of(c.snapshot, 500))["volume"].get<double>(), 6.0, 1e-9);
}

// --- Relationships ----------------------------------------------------------------------------

const std::string duplex_path = std::string(KB_IFC_SAMPLES_DIR) + "/Duplex_A_20110907.ifc";

// In the Duplex, #70 gives space #67 its quantity set #69 ("GSA Space Areas").
TEST(Relationships, ASpaceWhoseQuantitySetIsLostIsNamed) {
    if (!std::filesystem::exists(duplex_path)) GTEST_SKIP() << "no " << duplex_path;
    const std::string duplex = read_file(duplex_path);
    const std::string sound = "#70=IFCRELDEFINESBYPROPERTIES('3JCODKsnPDnQCwOVmiNtvy',#33,$,$,(#67),#69);";
    const size_t at = duplex.find(sound);
    ASSERT_NE(at, std::string::npos);
    auto has_set = [](const nlohmann::json& snapshot, const char* name) {
        for (const auto& set : (*object_of(snapshot, 67))["property_sets"])
            if (set["name"] == name) return true;
        return false;
    };
    const Converted before = convert(duplex);
    ASSERT_EQ(before.run.status, 0) << before.run.err;
    ASSERT_TRUE(has_set(before.snapshot, "GSA Space Areas"));

    for (const std::string& to : {std::string("#5"), std::string("$")}) {
        std::string broken = duplex;
        broken.replace(at, sound.size(), "#70=IFCRELDEFINESBYPROPERTIES('3JCODKsnPDnQCwOVmiNtvy',#33,$,$,(#67)," + to + ");");
        const Converted c = convert(broken);
        ASSERT_EQ(c.run.status, 0) << c.run.err;
        const std::string cause = to == "$" ? "is empty"
                                            : "points at #5 IfcDirection, which it does not take (it takes "
                                              "IfcPropertySetDefinitionSelect)";
        expect_said(c, "warning: #70 IfcRelDefinesByProperties.RelatingPropertyDefinition " + cause +
                                 ": the relationship is ignored, and #67 IfcSpace loses a property or quantity set\n");
        EXPECT_FALSE(has_set(c.snapshot, "GSA Space Areas"));
    }
}

TEST(Relationships, AContainmentWithoutItsContainerIsIgnoredAndSaysWhoLosesIt) {
    const Converted c = convert(replaced(edge_loop("#121"), "(#100),#30);", "(#100),$);"));
    ASSERT_EQ(c.run.status, 0) << c.run.err;
    expect_said(c, "warning: #32 IfcRelContainedInSpatialStructure.RelatingStructure is empty: the "
                             "relationship is ignored, and #100 IfcBuildingElementProxy loses its place in the "
                             "building's structure\n");
    expect_said(c, "warning: the one building element (of 3 objects) is in no spatial container");
}

TEST(Relationships, TheDuplexConvertsWithoutAWarning) {
    // Its 28 virtual space boundaries without a building element are sound in IFC2X3.
    if (!std::filesystem::exists(duplex_path)) GTEST_SKIP() << "no " << duplex_path;
    const ToolRun run = [] {
        ScratchDir dir;
        return run_converter("'" + duplex_path + "' '" + dir.file("d.json") + "'");
    }();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("could not be resolved"), std::string::npos) << run.err;
}

// --- A file without its building ----------------------------------------------------------------

TEST(MissingBuilding, AFileWithoutRelationshipsConvertsWithAWarning) {
    // The edge loop's file cut before its first IfcRel... and closed again.
    std::string content = edge_loop("#121");
    const size_t from = content.find("#31=IFCRELAGGREGATES");
    content.erase(from, content.find("#100=") - from);
    const Converted c = convert(content);
    ASSERT_EQ(c.run.status, 0) << c.run.err;
    expect_said(c, "warning: the file has no relationships (IfcRel...): none of its 3 objects is placed in "
                             "the building's structure or has property sets or a type; it may have been cut short\n");
    EXPECT_EQ(c.snapshot["objects"].size(), 3u);
}

TEST(MissingBuilding, ElementsThatStandInTheBuildingSayNothing) {
    const Converted c = convert(edge_loop("#121"));
    ASSERT_EQ(c.run.status, 0) << c.run.err;
    EXPECT_EQ(c.run.err.find("warning"), std::string::npos) << c.run.err;
}

// --- Unresolved references name their attribute -------------------------------------------------

TEST(UnresolvedReferences, EveryMessageNamesItsAttribute) {
    const std::string content = ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'Org',$,$,$,$,$,$);
#20=IFCORGANIZATION($,'X',$,$,(#99999999));
#21=IFCORGANIZATION($,'X',$,(#99999998),$);
#22=IFCORGANIZATION($,'X',$,(#99999997),(#99999996));
#23=IFCDIRECTION((0.,0.,1.));
#40=IFCBUILDINGELEMENTPROXY('0cB1cD2eF3gH4iJ5kL6mN7',$,'Caja',$,$,#23,$,$,$);
)");
    const Converted c = convert(content, "--allow-dangling");
    ASSERT_EQ(c.run.status, 0) << c.run.err;
    for (const char* named : {"#20 IFCORGANIZATION.Addresses -> #99999999", "#21 IFCORGANIZATION.Roles -> #99999998",
                              "#22 IFCORGANIZATION.Roles -> #99999997"})
        EXPECT_NE(c.run.err.find(named), std::string::npos) << named << "\n" << c.run.err;
    // Every reference listed names an attribute: "#N KEYWORD.Attribute -> ...".
    const std::regex unnamed(R"(#\d+ [A-Z0-9]+ -> )");
    EXPECT_FALSE(std::regex_search(c.run.err, unnamed)) << c.run.err;
    // An optional attribute that names an entity of a type it does not take is counted too.
    EXPECT_NE(c.run.err.find("1 to entities of a type their attribute does not take"), std::string::npos) << c.run.err;
}

}  // namespace
