// Faults of real files that the converter repairs or reports: faces turned the wrong way, holes
// listed before the outer boundary, cycles in the project structure, references to entities
// missing from the file, and the IFC library's own output.
#include "ifc_samples.h"
#include "ifc_test_support.h"
#include "library_output.h"
#include "step_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>

using ifc2snapshot::Snapshot;
using ifc2snapshot::SnapshotObject;
using namespace ifc_test;

namespace {

class FacetedSolids : public ConvertedOnce<FacetedSolids> {
public:
    static std::string input(const ScratchDir& dir) { return dir.write("caras.ifc", ifc_samples::faceted_ifc4()); }
};

TEST_F(FacetedSolids, ClosedShellsWithFacesTurnedTheWrongWayGetTheirVolume) {
    for (std::uint64_t id : {200u, 201u}) {
        EXPECT_NEAR(object(id).volume, 6.0, 1e-9) << "#" << id;
        EXPECT_NEAR(object(id).area, 22.0, 1e-9) << "#" << id;
    }
    EXPECT_EQ(stats_->closed_by_turning, 3u);
    EXPECT_NEAR(object(201).bounds[0], 5.0, 1e-9);
    EXPECT_NEAR(object(201).bounds[5], 3.0, 1e-9);
}

TEST_F(FacetedSolids, FacesMeetingAtTJunctionsCloseTheShell) {
    EXPECT_NEAR(object(205).volume, 6.0, 1e-9);
    EXPECT_NEAR(object(205).area, 22.0, 1e-9);
    EXPECT_EQ(stats_->closed_by_joining, 1u);
}

TEST_F(FacetedSolids, AMeshWithABorderStaysOpenAndKeepsTheAreaOfItsFaces) {
    const auto& open_box = object(202);
    EXPECT_DOUBLE_EQ(open_box.volume, 5.5) << "the file's volume, as the faces enclose nothing";
    EXPECT_NEAR(open_box.area, 20.0, 1e-9);
}

TEST_F(FacetedSolids, FacesThatListAHoleFirstAreTriangulatedWhole) {
    for (std::uint64_t id : {203u, 204u}) {
        EXPECT_NEAR(object(id).volume, 0.036, 1e-9) << "#" << id;
        EXPECT_NEAR(object(id).area, 1.44, 1e-9) << "#" << id;
    }
    EXPECT_EQ(stats_->faces_reordered, 4u);
}

// --- Cycles in the project structure --------------------------------------------------------------

// The storey #30 contains the assembly #40, which aggregates itself (#41), and the proxy #50,
// which aggregates the storey (#42): two cycles.
const std::string cycles = ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'Ciclos',$,$,$,$,$,$);
#30=IFCBUILDINGSTOREY('2hC5Zq9n52wR7ZP3v0xQ1a',$,'Planta',$,$,$,$,$,.ELEMENT.,0.);
#34=IFCRELAGGREGATES('1bqDh3pKf0Hh7Q5mR3$x9a',$,$,$,#1,(#30));
#40=IFCELEMENTASSEMBLY('2O2Fr$t4X7Zf8NOew3FLOH',$,'Conjunto',$,$,$,$,$,$,$);
#41=IFCRELAGGREGATES('1bqDh3pKf0Hh7Q5mR3$x9b',$,$,$,#40,(#40));
#50=IFCBUILDINGELEMENTPROXY('0cB1cD2eF3gH4iJ5kL6mN7',$,'Caja',$,$,$,$,$,$);
#42=IFCRELAGGREGATES('1bqDh3pKf0Hh7Q5mR3$x9c',$,$,$,#50,(#30));
#60=IFCRELCONTAINEDINSPATIALSTRUCTURE('3Kd9Lq0w1F8uY5n3xQ2a7b',$,$,$,(#40,#50),#30);
)");

TEST(StructureCycles, AreBrokenWithAWarningAndTheLibraryPrintsNothing) {
    ScratchDir dir;
    const std::string in = dir.write("ciclos.ifc", cycles);
    const ToolRun run = run_converter("'" + in + "' '" + dir.file("ciclos.json") + "'");
    ASSERT_EQ(run.status, 0) << run.err.substr(0, 2000);
    EXPECT_EQ(run.out, "") << "the library's own output stays off stdout";
    EXPECT_NE(run.err.find("warning: structure cycle #40 IfcElementAssembly > #40: the link from #40 to #40 in #41 "
                           "IfcRelAggregates is ignored\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("warning: structure cycle #30 IfcBuildingStorey > #50 IfcBuildingElementProxy > #30: the link "
                           "from #50 to #30 in #42 IfcRelAggregates is ignored\n"),
              std::string::npos)
        << run.err;
    const auto j = nlohmann::json::parse(read_file(dir.file("ciclos.json")));
    EXPECT_EQ(j["objects"].size(), 4u) << "every object stays";
}

// --- Cycles in the geometry -------------------------------------------------------------------

// Geometry that contains itself, each on its own product; the library's converters follow every
// one of these links without remembering where they have been, down to a stack overflow:
//  - #200: a disk swept along a trimmed curve that trims itself (#204), beside a sound 2 x 1 x 3
//    box (#25), which stays;
//  - #300: a profile bounded by a composite curve (#305) whose segment's curve trims it again;
//  - #400: a boolean result that is its own first operand (#403);
//  - #500: a mapped item (#503) whose map's representation shows the mapped item again;
//  - #600: a surface trimmed out of itself (#603).
const std::string geometry_cycles = ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9P',$,'Bucles',$,$,$,$,(#20),$);
#20=IFCGEOMETRICREPRESENTATIONCONTEXT($,'Model',3,1.E-05,#21,$);
#21=IFCAXIS2PLACEMENT3D(#22,$,$);
#22=IFCCARTESIANPOINT((0.,0.,0.));
#23=IFCDIRECTION((0.,0.,1.));
#24=IFCRECTANGLEPROFILEDEF(.AREA.,$,$,2.,1.);
#25=IFCEXTRUDEDAREASOLID(#24,#21,#23,3.);
#200=IFCBEAM('0eC1cD2eF3gH4iJ5kL6mN1',$,'Viga',$,$,$,#201,$,.BEAM.);
#201=IFCPRODUCTDEFINITIONSHAPE($,$,(#202));
#202=IFCSHAPEREPRESENTATION(#20,'Body','SweptSolid',(#25,#203));
#203=IFCSWEPTDISKSOLID(#204,0.1,$,$,$);
#204=IFCTRIMMEDCURVE(#204,(IFCPARAMETERVALUE(0.)),(IFCPARAMETERVALUE(1.)),.T.,.PARAMETER.);
#300=IFCCOLUMN('0eC1cD2eF3gH4iJ5kL6mN2',$,'Pilar',$,$,$,#301,$,.COLUMN.);
#301=IFCPRODUCTDEFINITIONSHAPE($,$,(#302));
#302=IFCSHAPEREPRESENTATION(#20,'Body','SweptSolid',(#303));
#303=IFCEXTRUDEDAREASOLID(#304,#21,#23,3.);
#304=IFCARBITRARYCLOSEDPROFILEDEF(.AREA.,$,#305);
#305=IFCCOMPOSITECURVE((#306),.F.);
#306=IFCCOMPOSITECURVESEGMENT(.CONTINUOUS.,.T.,#307);
#307=IFCTRIMMEDCURVE(#305,(IFCPARAMETERVALUE(0.)),(IFCPARAMETERVALUE(1.)),.T.,.PARAMETER.);
#400=IFCSLAB('0eC1cD2eF3gH4iJ5kL6mN3',$,'Losa',$,$,$,#401,$,.FLOOR.);
#401=IFCPRODUCTDEFINITIONSHAPE($,$,(#402));
#402=IFCSHAPEREPRESENTATION(#20,'Body','Clipping',(#403));
#403=IFCBOOLEANRESULT(.DIFFERENCE.,#403,#25);
#500=IFCBUILDINGELEMENTPROXY('0eC1cD2eF3gH4iJ5kL6mN4',$,'Bloque',$,$,$,#501,$,$);
#501=IFCPRODUCTDEFINITIONSHAPE($,$,(#502));
#502=IFCSHAPEREPRESENTATION(#20,'Body','MappedRepresentation',(#503));
#503=IFCMAPPEDITEM(#504,#506);
#504=IFCREPRESENTATIONMAP(#21,#505);
#505=IFCSHAPEREPRESENTATION(#20,'Body','SweptSolid',(#25,#503));
#506=IFCCARTESIANTRANSFORMATIONOPERATOR3D($,$,#22,$,$);
#600=IFCPLATE('0eC1cD2eF3gH4iJ5kL6mN5',$,'Chapa',$,$,$,#601,$,$);
#601=IFCPRODUCTDEFINITIONSHAPE($,$,(#602));
#602=IFCSHAPEREPRESENTATION(#20,'Body','Surface',(#603));
#603=IFCRECTANGULARTRIMMEDSURFACE(#603,0.,0.,1.,1.,.T.,.T.);
)");

TEST(GeometryCycles, AreLeftOutWithAWarningAndTheRestOfTheObjectStays) {
    ScratchDir dir;
    const std::string in = dir.write("bucles.ifc", geometry_cycles);
    const ToolRun run = run_converter("'" + in + "' '" + dir.file("bucles.json") + "'");
    ASSERT_EQ(run.status, 0) << "killed by a signal when -1\n" << run.err.substr(0, 2000);
    for (const char* warning :
         {"warning: geometry cycle #204 IfcTrimmedCurve > #204: left out with the representation items that lead to "
          "it (#203 IfcSweptDiskSolid in #202 IfcShapeRepresentation)\n",
          "warning: geometry cycle #305 IfcCompositeCurve > #306 IfcCompositeCurveSegment > #307 IfcTrimmedCurve > "
          "#305: left out with the representation items that lead to it (#303 IfcExtrudedAreaSolid in #302 "
          "IfcShapeRepresentation)\n",
          "warning: geometry cycle #403 IfcBooleanResult > #403: left out with the representation items that lead to "
          "it (#403 IfcBooleanResult in #402 IfcShapeRepresentation)\n",
          "warning: geometry cycle #503 IfcMappedItem > #504 IfcRepresentationMap > "
          "#505 IfcShapeRepresentation > #503: left out with the representation items that lead to it (#503 "
          "IfcMappedItem in #502 IfcShapeRepresentation, #503 IfcMappedItem in #505 IfcShapeRepresentation)\n",
          "warning: geometry cycle #603 IfcRectangularTrimmedSurface > #603: left out with the representation items "
          "that lead to it (#603 IfcRectangularTrimmedSurface in #602 IfcShapeRepresentation)\n"})
        EXPECT_NE(run.err.find(warning), std::string::npos) << warning << "\n" << run.err;
    const Snapshot s = ifc2snapshot::convert_ifc_file(in);
    ASSERT_EQ(s.objects.size(), 6u) << "every object stays";
    EXPECT_NEAR(find_object(s, 200)->volume, 6.0, 1e-9) << "the sound box beside the cycle";
    for (std::uint64_t id : {300u, 400u, 500u, 600u}) EXPECT_EQ(find_object(s, id)->area, 0.0) << "#" << id;
}

// A disk swept along a trimmed curve of a trimmed curve ... 20,000 deep overflowed the library's
// stack as well; one 400 deep is converted.
TEST(GeometryCycles, SoAreChainsTooDeepForTheLibrarysStack) {
    std::string data = R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9Q',$,'Cadena',$,$,$,$,(#20),$);
#20=IFCGEOMETRICREPRESENTATIONCONTEXT($,'Model',3,1.E-05,#21,$);
#21=IFCAXIS2PLACEMENT3D(#22,$,$);
#22=IFCCARTESIANPOINT((0.,0.,0.));
#24=IFCCARTESIANPOINT((1.,0.,0.));
#25=IFCPOLYLINE((#22,#24));
)";
    auto add = [&](int id, const std::string& instance) { data += "#" + std::to_string(id) + "=" + instance + ";\n"; };
    auto ref = [](int id) { return "#" + std::to_string(id); };
    auto beam = [&](int id, const char* guid, int depth) {
        const int first = id * 1000;
        add(id, "IFCBEAM('" + std::string(guid) + "',$,'Viga',$,$,$," + ref(id + 1) + ",$,.BEAM.)");
        add(id + 1, "IFCPRODUCTDEFINITIONSHAPE($,$,(" + ref(id + 2) + "))");
        add(id + 2, "IFCSHAPEREPRESENTATION(#20,'Body','SweptSolid',(" + ref(id + 3) + "))");
        add(id + 3, "IFCSWEPTDISKSOLID(" + ref(first) + ",0.1,$,$,$)");
        for (int k = 0; k < depth; ++k)
            add(first + k, "IFCTRIMMEDCURVE(" + (k + 1 < depth ? ref(first + k + 1) : "#25") + ",(),(),.T.,.PARAMETER.)");
    };
    beam(200, "0eC1cD2eF3gH4iJ5kL6mN1", 20000);
    beam(300, "0eC1cD2eF3gH4iJ5kL6mN2", 400);
    ScratchDir dir;
    const std::string in = dir.write("cadena.ifc", ifc_samples::step_file("IFC4", data));
    const ToolRun run = run_converter("'" + in + "' '" + dir.file("cadena.json") + "'");
    ASSERT_EQ(run.status, 0) << "killed by a signal when -1\n" << run.err.substr(0, 2000);
    EXPECT_NE(run.err.find("warning: geometry nested more than 500 deep: left out with the representation items that "
                           "lead to it (#203 IfcSweptDiskSolid in #202 IfcShapeRepresentation)\n"),
              std::string::npos)
        << run.err.substr(0, 2000);
    const Snapshot s = ifc2snapshot::convert_ifc_file(in);
    EXPECT_EQ(find_object(s, 200)->area, 0.0);
    EXPECT_GT(find_object(s, 300)->area, 0.5) << "a tube 1 long, 0.1 in radius";
}

// A circle trimmed at 9.07E16 degrees: the library unwound the angle one turn at a time, for
// days (a hang the fuzz target found). Such a trimming is dropped, so the disk is swept along
// the circle from 0 to 90 degrees, a quarter of a ring 2 in radius.
TEST(TrimmedCurves, AnglesPastAMillionAreDroppedNotUnwound) {
    ScratchDir dir;
    const std::string in = dir.write("vueltas.ifc", ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9S',$,'Vueltas',$,$,$,$,(#20),#10);
#10=IFCUNITASSIGNMENT((#11,#12));
#11=IFCSIUNIT(*,.LENGTHUNIT.,$,.METRE.);
#12=IFCCONVERSIONBASEDUNIT(#13,.PLANEANGLEUNIT.,'degree',#14);
#13=IFCDIMENSIONALEXPONENTS(0,0,0,0,0,0,0);
#14=IFCMEASUREWITHUNIT(IFCPLANEANGLEMEASURE(0.017453292519943295),#15);
#15=IFCSIUNIT(*,.PLANEANGLEUNIT.,$,.RADIAN.);
#20=IFCGEOMETRICREPRESENTATIONCONTEXT($,'Model',3,1.E-05,#21,$);
#21=IFCAXIS2PLACEMENT3D(#22,$,$);
#22=IFCCARTESIANPOINT((0.,0.,0.));
#200=IFCBEAM('0eC1cD2eF3gH4iJ5kL6mN1',$,'Viga',$,$,$,#201,$,.BEAM.);
#201=IFCPRODUCTDEFINITIONSHAPE($,$,(#202));
#202=IFCSHAPEREPRESENTATION(#20,'Body','SweptSolid',(#203));
#203=IFCSWEPTDISKSOLID(#204,0.1,$,$,$);
#204=IFCTRIMMEDCURVE(#205,(IFCPARAMETERVALUE(9.07E16)),(IFCPARAMETERVALUE(90.)),.T.,.PARAMETER.);
#205=IFCCIRCLE(#21,2.);
)"));
    ifc2snapshot::ConversionStats stats;
    const Snapshot s = ifc2snapshot::convert_ifc_file(in, &stats);
    EXPECT_NE(std::find(stats.messages.begin(), stats.messages.end(),
                        "1 trimmed circle or ellipse is trimmed at a million or more: that trimming is dropped"),
              stats.messages.end());
    const double quarter_ring = 2 * 3.14159265358979 * 2 / 4 * 2 * 3.14159265358979 * 0.1;
    EXPECT_NEAR(find_object(s, 200)->area, quarter_ring, 0.05 * quarter_ring);
}

// The libraries print diagnostics of their own to stdout and stderr, through both the C and the
// C++ streams; they become messages, the first 20 lines in full.
TEST(LibraryOutput, IsCaughtAndHandedOverAsMessages) {
    std::vector<std::string> messages;
    {
        ifc2snapshot::LibraryOutput library;
        std::cout << "through cout" << std::endl;
        std::wcout << L"through wcout" << std::endl;
        std::printf("through printf\n");
        std::fprintf(stderr, "through stderr\n");
        for (int i = 0; i < 21; ++i) std::cout << "line " << i << "\n";
        library.finish(messages);
    }
    ASSERT_EQ(messages.size(), 21u);
    EXPECT_EQ(messages.back(), "IFC library: 5 more lines like these");
    for (const char* line : {"IFC library: through cout", "IFC library: through wcout", "IFC library: through printf",
                             "IFC library: through stderr"})
        EXPECT_NE(std::find(messages.begin(), messages.end(), line), messages.end()) << line;
}

// --- Openings without a placement -----------------------------------------------------------------

// The opening #110 of building_ifc4() with no placement (`$`, as the schema allows, or a reference
// to a missing entity, which the reader gets as `$`): it takes the placement of the wall it voids,
// so its 1 x 0.5 x 1 box sits at the wall's origin and cuts a 1 x 0.3 x 1 notch from the wall's
// corner. The library's opening subtraction used to dereference the missing placement.
TEST(UnplacedOpenings, TakeThePlacementOfTheElementTheyVoid) {
    const std::string building = ifc_samples::building_ifc4();
    const std::string placed = "#110=IFCOPENINGELEMENT('1eB1cD2eF3gH4iJ5kL6mN7',$,'Hueco',$,$,#111,";
    ASSERT_NE(building.find(placed), std::string::npos);
    for (const char* placement : {"$", "#9999"}) {
        SCOPED_TRACE(placement);
        std::string file = building;
        file.replace(file.find(placed), placed.size(),
                     "#110=IFCOPENINGELEMENT('1eB1cD2eF3gH4iJ5kL6mN7',$,'Hueco',$,$," + std::string(placement) + ",");
        ScratchDir dir;
        const std::string in = dir.write("hueco.ifc", file);
        const ToolRun run = run_converter("--allow-dangling '" + in + "' '" + dir.file("hueco.json") + "'");
        ASSERT_EQ(run.status, 0) << "killed by a signal when -1\n" << run.err.substr(0, 2000);
        ifc2snapshot::ConversionOptions allow;
        allow.allow_dangling = true;
        const Snapshot s = ifc2snapshot::convert_ifc_file(in, nullptr, allow);
        const SnapshotObject* wall = find_object(s, 100);
        ASSERT_NE(wall, nullptr);
        EXPECT_NEAR(wall->volume, 4.2 - 0.3, 1e-9);
    }
}

// --- References to entities missing from the file --------------------------------------------------

// The wall's owner history (#998), one property of its set (#997) and the owner history of the
// set's relationship (#996) are missing; with `lost_object`, the storey's containment also
// names an element #500 that is not there.
std::string dangling(bool lost_object) {
    return ifc_samples::step_file("IFC4", std::string(R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'Cortado',$,$,$,$,$,$);
#30=IFCBUILDINGSTOREY('2hC5Zq9n52wR7ZP3v0xQ1a',$,'Planta',$,$,$,$,$,.ELEMENT.,0.);
#34=IFCRELAGGREGATES('1bqDh3pKf0Hh7Q5mR3$x9a',$,$,$,#1,(#30));
#40=IFCWALL('2O2Fr$t4X7Zf8NOew3FLOH',#998,'Muro',$,$,$,$,'T-7',.SOLIDWALL.);
#70=IFCPROPERTYSET('0aB1cD2eF3gH4iJ5kL6mN7',$,'Pset_WallCommon',$,(#997,#71));
#71=IFCPROPERTYSINGLEVALUE('IsExternal',$,IFCBOOLEAN(.T.),$);
#74=IFCRELDEFINESBYPROPERTIES('1aB1cD2eF3gH4iJ5kL6mN7',#996,$,$,(#40),#70);
)") + (lost_object ? "#60=IFCRELCONTAINEDINSPATIALSTRUCTURE('3Kd9Lq0w1F8uY5n3xQ2a7b',$,$,$,(#40,#500),#30);\n"
                   : "#60=IFCRELCONTAINEDINSPATIALSTRUCTURE('3Kd9Lq0w1F8uY5n3xQ2a7b',$,$,$,(#40),#30);\n"));
}

TEST(DanglingReferences, RefuseTheFileOrWhenAllowedCostOnlyThemselves) {
    ScratchDir dir;
    const std::string in = dir.write("cortado.ifc", dangling(false));
    const std::string out = dir.file("cortado.json");
    const ToolRun refused = run_converter("'" + in + "' '" + out + "'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(": 3 references to entities missing from the file (#40 IFCWALL.OwnerHistory -> #998, #70 "
                               "IFCPROPERTYSET.HasProperties -> #997, #74 IFCRELDEFINESBYPROPERTIES.OwnerHistory -> #996): "
                               "it looks cut short or damaged; --allow-dangling converts what is there\n"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(out));

    ifc2snapshot::ConversionStats stats;
    ifc2snapshot::ConversionOptions allow;
    allow.allow_dangling = true;
    const Snapshot s = ifc2snapshot::convert_ifc_file(in, &stats, allow);
    const SnapshotObject* wall = find_object(s, 40);
    ASSERT_NE(wall, nullptr);
    // The reader used to drop every attribute after a missing one, and the whole relationship.
    EXPECT_EQ(text(property(*wall, "Atributos", "Name")), "Muro");
    EXPECT_EQ(text(property(*wall, "Atributos", "Tag")), "T-7");
    EXPECT_EQ(text(property(*wall, "Pset_WallCommon", "IsExternal")), "TRUE");
    EXPECT_EQ(stats.unresolved.size(), 3u);
    EXPECT_EQ(stats.objects_lost, 0u);

    const ToolRun allowed = run_converter("--allow-dangling '" + in + "' '" + out + "'");
    EXPECT_EQ(allowed.status, 0);
    EXPECT_NE(allowed.err.find(": 3 references to entities missing from the file could not be resolved (#40 IFCWALL.OwnerHistory"
                               " -> #998, #70 IFCPROPERTYSET.HasProperties -> #997, #74 IFCRELDEFINESBYPROPERTIES.OwnerHistory"
                               " -> #996)\n"),
              std::string::npos)
        << allowed.err;
}

// A relationship whose only related object is missing read as an empty list, which the library
// leaves out of an entity's attributes: the names after it shifted, and RelatedObjects of an
// aggregation was not recognised at all, so the object was lost with exit 0.
TEST(DanglingReferences, AreNamedByTheirOwnAttributeWhenAListEndsUpEmpty) {
    ScratchDir dir;
    const std::string in = dir.write("solo.ifc", ifc_samples::step_file("IFC2X3", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'Solo',$,$,$,$,$,$);
#30=IFCBUILDINGSTOREY('2hC5Zq9n52wR7ZP3v0xQ1a',$,'Planta',$,$,$,$,$,.ELEMENT.,0.);
#34=IFCRELAGGREGATES('1bqDh3pKf0Hh7Q5mR3$x9a',$,$,$,#1,(#30));
#40=IFCELEMENTASSEMBLY('2O2Fr$t4X7Zf8NOew3FLOH',$,'Conjunto',$,$,$,$,$,$,$);
#41=IFCRELAGGREGATES('1bqDh3pKf0Hh7Q5mR3$x9b',$,$,$,#40,(#500));
#60=IFCRELCONTAINEDINSPATIALSTRUCTURE('3Kd9Lq0w1F8uY5n3xQ2a7b',$,$,$,(#501),#30);
#70=IFCWINDOWSTYLE('0aB1cD2eF3gH4iJ5kL6mN7',$,'Ventana',$,$,(#502),$,$,.NOTDEFINED.,.NOTDEFINED.,.F.,.F.);
)"));
    const ToolRun run = run_converter("'" + in + "' '" + dir.file("solo.json") + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("2 references name building objects missing from the file (#41 IFCRELAGGREGATES.RelatedObjects -> "
                           "#500, #60 IFCRELCONTAINEDINSPATIALSTRUCTURE.RelatedElements -> #501), and 1 more reference "
                           "to entities missing from it (#70 IFCWINDOWSTYLE.HasPropertySets -> #502)"),
              std::string::npos)
        << run.err;
}

TEST(DanglingReferences, ObjectsLostThroughThemRefuseTheFileUnlessAllowed) {
    ScratchDir dir;
    const std::string in = dir.write("cortado.ifc", dangling(true));
    const std::string out = dir.file("cortado.json");
    const ToolRun refused = run_converter("'" + in + "' '" + out + "'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("1 reference names a building object missing from the file "
                               "(#60 IFCRELCONTAINEDINSPATIALSTRUCTURE.RelatedElements -> #500)"),
              std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("--allow-dangling"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out));

    const ToolRun allowed = run_converter("--allow-dangling '" + in + "' '" + out + "'");
    EXPECT_EQ(allowed.status, 0) << allowed.err;
    EXPECT_NE(allowed.err.find("4 references to entities missing from the file could not be resolved"), std::string::npos);
    EXPECT_NE(allowed.err.find("1 of them stands for a building object, which is missing from the snapshot"), std::string::npos) << allowed.err;
    EXPECT_EQ(nlohmann::json::parse(read_file(out))["objects"].size(), 3u);
}

// A list item of a type its list does not take (a point among a surface model's face sets) was
// read as an empty item, which the geometry converter dereferenced: a crash the fuzz target
// found, behind an instance left open before it. It is left out of the list and counted; the
// rest converts. So does a property without a name (#61), whose name the converter read unchecked.
TEST(DanglingReferences, ListItemsOfTheWrongTypeAreLeftOutNotReadAsEmpty) {
    ScratchDir dir;
    const std::string in = dir.write("tipo.ifc", ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'Tipos',$,$,$,$,(#20),$);
#20=IFCGEOMETRICREPRESENTATIONCONTEXT($,'Model',3,1.E-05,#21,$);
#21=IFCAXIS2PLACEMENT3D(#22,$,$);
#22=IFCCARTESIANPOINT((0.,0.,0.));
#40=IFCBUILDINGELEMENTPROXY('0cB1cD2eF3gH4iJ5kL6mN7',$,'Superficie',$,$,$,#50,$,$);
#45=IFCPROPERTYSET('0aB1cD2eF3gH4iJ5kL6mN8',$,'Rota',$,(#22;
#46=IFCPOLYLINE((#22,"21));
#50=IFCPRODUCTDEFINITIONSHAPE($,$,(#51,#22));
#51=IFCSHAPEREPRESENTATION(#20,'Body','SurfaceModel',(#52));
#52=IFCFACEBASEDSURFACEMODEL((#22));
#60=IFCPROPERTYSET('0aB1cD2eF3gH4iJ5kL6mN9',$,'Sin nombre',$,(#61));
#61=IFCPROPERTYSINGLEVALUE($,$,IFCLABEL('x'),$);
#62=IFCRELDEFINESBYPROPERTIES('1aB1cD2eF3gH4iJ5kL6mN7',$,$,$,(#40),#60);
)"));
    const ToolRun run = run_converter("'" + in + "' '" + dir.file("tipo.json") + "'");
    ASSERT_EQ(run.status, 0) << "killed by a signal when -1\n" << run.err;
    // #45 is cut off in a list; the reader, too, takes its ';' as the end of it. The stray " in
    // #46 opens no binary that would run on past the instance (hiding the references after it).
    EXPECT_NE(run.err.find(": 3 references to entities of a type their list does not take could not be resolved "
                           "(#45 IFCPROPERTYSET.HasProperties -> #22, #50 IFCPRODUCTDEFINITIONSHAPE.Representations -> #22, "
                           "#52 IFCFACEBASEDSURFACEMODEL.FbsmFaces -> #22)\n"),
              std::string::npos)
        << run.err;
}

// An id given twice: the reader keeps the first instance, here a curve segment, and read the
// polyline's first point, which names the id, as an empty item that the curve converter
// dereferenced (a crash the fuzz target found). The item is judged by the first instance, and
// the id is named in a warning.
TEST(DanglingReferences, AnIdGivenTwiceIsJudgedByItsFirstInstance) {
    ScratchDir dir;
    const std::string in = dir.write("doble.ifc", ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9M',$,'Doble',$,$,$,$,(#20),$);
#20=IFCGEOMETRICREPRESENTATIONCONTEXT($,'Model',3,1.E-05,#21,$);
#21=IFCAXIS2PLACEMENT3D(#22,$,$);
#22=IFCCARTESIANPOINT((0.,0.,0.));
#23=IFCDIRECTION((0.,0.,1.));
#400=IFCBEAM('0eC1cD2eF3gH4iJ5kL6mN7',$,'Viga',$,$,$,#404,$,.BEAM.);
#404=IFCPRODUCTDEFINITIONSHAPE($,$,(#405));
#405=IFCSHAPEREPRESENTATION(#20,'Body','SweptSolid',(#406));
#406=IFCEXTRUDEDAREASOLID(#407,#21,#23,2.);
#407=IFCARBITRARYCLOSEDPROFILEDEF(.AREA.,'P',#408);
#408=IFCCOMPOSITECURVE((#409),.F.);
#409=IFCCOMPOSITECURVESEGMENT(.CONTINUOUS.,.T.,#415);
#413=IFCCOMPOSITECURVESEGMENT(.CONTINUOUS.,.T.,#415);
#413=IFCCARTESIANPOINT((1.,0.));
#414=IFCCARTESIANPOINT((-1.,0.));
#416=IFCCARTESIANPOINT((0.,1.));
#415=IFCPOLYLINE((#413,#414,#416,#413));
)"));
    const ToolRun run = run_converter("'" + in + "' '" + dir.file("doble.json") + "'");
    ASSERT_EQ(run.status, 0) << "killed by a signal when -1\n" << run.err;
    EXPECT_NE(run.err.find("of a type their list does not take could not be resolved (#415 IFCPOLYLINE.Points -> #413, "
                           "#415 IFCPOLYLINE.Points -> #413)\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("warning: #413 is given to 2 instances (lines 20 and 21): the first is read, the others are "
                           "ignored\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find(" is given to "), run.err.rfind(" is given to ")) << "one warning per id";
}

// $ as an item of a list: the reader gave up on the list there, so the polyline kept one point
// and the beam lost its geometry without a word. It is left out of the list and counted.
TEST(DanglingReferences, UnsetListItemsAreLeftOutAndCounted) {
    ScratchDir dir;
    const std::string in = dir.write("hueco.ifc", ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9M',$,'Hueco',$,$,$,$,(#20),$);
#20=IFCGEOMETRICREPRESENTATIONCONTEXT($,'Model',3,1.E-05,#21,$);
#21=IFCAXIS2PLACEMENT3D(#22,$,$);
#22=IFCCARTESIANPOINT((0.,0.,0.));
#23=IFCDIRECTION((0.,0.,1.));
#400=IFCBEAM('0eC1cD2eF3gH4iJ5kL6mN7',$,'Viga',$,$,$,#404,$,.BEAM.);
#404=IFCPRODUCTDEFINITIONSHAPE($,$,(#405));
#405=IFCSHAPEREPRESENTATION(#20,'Body','SweptSolid',(#406));
#406=IFCEXTRUDEDAREASOLID(#407,#21,#23,2.);
#407=IFCARBITRARYCLOSEDPROFILEDEF(.AREA.,'P',#415);
#413=IFCCARTESIANPOINT((1.,0.));
#414=IFCCARTESIANPOINT((-1.,0.));
#416=IFCCARTESIANPOINT((0.,1.));
#415=IFCPOLYLINE((#414,$,#413,#416,*,#414));
)"));
    ifc2snapshot::ConversionStats stats;
    const Snapshot s = ifc2snapshot::convert_ifc_file(in, &stats, {});
    const SnapshotObject* beam = find_object(s, 400);
    ASSERT_NE(beam, nullptr);
    EXPECT_NEAR(beam->volume, 2.0, 1e-9) << "a triangle of area 1, extruded 2";
    EXPECT_EQ(ifc2snapshot::describe_unresolved(stats),
              "2 references to nothing ($ or * in a list) could not be resolved (#415 IFCPOLYLINE.Points -> $, "
              "#415 IFCPOLYLINE.Points -> $)");
}

TEST(PrepareForReader, UnresolvedReferencesLeaveListsAndAttributesAndNothingElseChanges) {
    const std::string data = "HEADER;FILE_NAME('#9',$);ENDSEC;\nDATA;\n"
                             "#1=IFCA(#2,#9,'#9;',(#9,#2,#8),(#2, #9),(#8,#9));\n"
                             "#2=IFCB((#9));\n"
                             "#3=IfcUnknown(#9);\n"
                             "#4=(IFCA(#9)IFCB());\n"
                             "#5=IFCA(#3);\n"
                             "#6=IFCA(($,#2,*),IFCB($),((1.,2.),$));\n"
                             "ENDSEC;\n";
    const auto prepared =
        ifc2snapshot::prepare_for_reader(data, [](const std::string& keyword) { return keyword != "IFCUNKNOWN"; });
    EXPECT_EQ(prepared.text, "HEADER;FILE_NAME('#9',$);ENDSEC;\nDATA;\n"
                             "#1=IFCA(#2,$,'#9;',(#2),(#2),());\n"
                             "#2=IFCB(());\n"
                             "#3=IfcUnknown(#9);\n"
                             "#4=(IFCA(#9)IFCB());\n"
                             "#5=IFCA($);\n"
                             "#6=IFCA((#2),IFCB($),((1.,2.)));\n"
                             "ENDSEC;\n");
    std::vector<std::string> found;
    for (const auto& u : prepared.unresolved)
        found.push_back("#" + std::to_string(u.from) + "." + std::to_string(u.argument) + "->#" + std::to_string(u.to));
    EXPECT_EQ(found, (std::vector<std::string>{"#1.1->#9", "#1.3->#9", "#1.3->#8", "#1.4->#9", "#1.5->#8", "#1.5->#9",
                                               "#2.0->#9", "#5.0->#3", "#6.0->#0", "#6.0->#0", "#6.2->#0"}));
    EXPECT_FALSE(prepared.unresolved.front().in_file);
    EXPECT_TRUE(prepared.unresolved[7].in_file) << "#3 is there, of a type the reader does not know";
    EXPECT_FALSE(prepared.unresolved[7].unset);
    EXPECT_TRUE(prepared.unresolved.back().unset);
}

}  // namespace
