// The converter on the small IFC files of ifc_samples.h.
#include "ifc_samples.h"
#include "ifc_test_support.h"

#include <clocale>
#include <set>

using ifc2snapshot::ReadError;
using ifc2snapshot::Snapshot;
using ifc2snapshot::SnapshotObject;
using namespace ifc_test;

namespace {

constexpr double tol = 1e-9;

class Ifc4Building : public ConvertedOnce<Ifc4Building> {
public:
    static std::string input(const ScratchDir& dir) { return dir.write("edificio.ifc", ifc_samples::building_ifc4()); }
};

void expect_bounds(const SnapshotObject& o, std::array<double, 6> expected) {
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(o.bounds[k], expected[k], 1e-9) << "bounds[" << k << "] of #" << o.id;
}

TEST_F(Ifc4Building, ListsProjectAndProductsByStepIdButNotOpenings) {
    std::vector<std::uint64_t> ids;
    for (const auto& o : snapshot_->objects) ids.push_back(o.id);
    EXPECT_EQ(ids, (std::vector<std::uint64_t>{1, 30, 40, 80, 100, 120, 130}));
    EXPECT_EQ(snapshot_->files, std::vector<std::string>{"edificio.ifc"});
}

TEST_F(Ifc4Building, SetZeroStartsWithIdentityThenDirectAttributes) {
    const auto& wall = object(40);
    const auto& set0 = wall.property_sets.at(0);
    EXPECT_EQ(set0.name, ifc2snapshot::attribute_set_name);
    std::vector<std::string> names;
    for (const auto& p : set0.properties) names.push_back(p.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Guid", "Name", "IfcEntity", "ObjectType", "Tag", "PredefinedType"}));
    EXPECT_EQ(text(set0.properties[0].value), "2O2Fr$t4X7Zf8NOew3FLOH");
    EXPECT_EQ(text(set0.properties[2].value), "IfcWall");
    EXPECT_EQ(text(set0.properties[4].value), "T-01");
    EXPECT_EQ(text(set0.properties[5].value), "SOLIDWALL");
}

TEST_F(Ifc4Building, EscapedTextArrivesAsUtf8) {
    EXPECT_EQ(text(property(object(40), "Atributos", "Name")), "Muro de f\xC3\xA1" "brica");
    EXPECT_EQ(text(property(object(40), "Atributos", "ObjectType")), "Muro:B\xC3\xA1sico 300");
    EXPECT_EQ(text(property(object(40), "Pset_WallCommon", "Reference")), "Muro \xE2\x82\xAC 1");
}

TEST_F(Ifc4Building, PropertyValuesAreTypedAsTextOrNumber) {
    const auto& wall = object(40);
    EXPECT_EQ(text(property(wall, "Pset_WallCommon", "IsExternal")), "TRUE");
    EXPECT_DOUBLE_EQ(number(property(wall, "Pset_WallCommon", "ThermalTransmittance")), 0.35);
    EXPECT_EQ(text(property(wall, "Pset_WallCommon", "Acabado")), "") << "a value left unset is empty text";
    EXPECT_DOUBLE_EQ(number(property(wall, "Qto_WallBaseQuantities", "Length")), 5.0);
    EXPECT_DOUBLE_EQ(number(property(object(30), "Atributos", "Elevation")), 3.0);
    EXPECT_EQ(text(property(object(30), "Atributos", "CompositionType")), "ELEMENT");
}

TEST_F(Ifc4Building, TypeSetsAreInheritedAndMergedPerPropertyWithTheOccurrenceWinning) {
    const auto& wall = object(40);
    EXPECT_EQ(text(property(wall, "Pset_Fabricante", "Fabricante")), "Ladrillos S.A.");
    EXPECT_EQ(text(property(wall, "Pset_Fabricante", "Colores")), "rojo, ocre");
    size_t common = 0;
    for (const auto& s : wall.property_sets) common += s.name == "Pset_WallCommon";
    EXPECT_EQ(common, 1u);
    EXPECT_EQ(text(property(wall, "Pset_WallCommon", "IsExternal")), "TRUE") << "the occurrence's value, not the type's";
    EXPECT_EQ(text(property(wall, "Pset_WallCommon", "FireRating")), "EI 120") << "the type's value the occurrence lacks";
    EXPECT_DOUBLE_EQ(number(property(wall, "Pset_WallCommon", "ThermalTransmittance")), 0.35);
}

TEST_F(Ifc4Building, SpatialContainersWithoutObjectTypeGetTheirEntityName) {
    EXPECT_EQ(text(property(object(1), "Atributos", "ObjectType")), "IfcProject");
    EXPECT_EQ(text(property(object(30), "Atributos", "ObjectType")), "IfcBuildingStorey");
    EXPECT_EQ(text(property(object(80), "Atributos", "ObjectType")), "") << "an element keeps an empty ObjectType";
}

TEST_F(Ifc4Building, ObjectWithoutGuidHasNoGuidProperty) {
    const auto& proxy = object(130);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(property(proxy, "Atributos", "Guid")));
    EXPECT_EQ(text(property(proxy, "Atributos", "Name")), "Sin GUID");
}

TEST_F(Ifc4Building, ClosedMeshGivesBoundsThroughPlacementChainAndItsOwnVolumeAndArea) {
    const auto& wall = object(40);
    expect_bounds(wall, {10, 20, 3, 15, 20.3, 5.8});
    EXPECT_NEAR(wall.volume, 4.2, tol) << "the mesh wins over the file's NetVolume of 9.9";
    EXPECT_NEAR(wall.area, 32.68, tol);
}

TEST_F(Ifc4Building, OpeningIsCutOutOfItsWall) {
    const auto& wall = object(100);
    expect_bounds(wall, {0, 0, 3, 5, 0.3, 5.8});
    EXPECT_NEAR(wall.volume, 3.9, 1e-6);
    EXPECT_NEAR(wall.area, 31.88, 1e-6);
}

TEST_F(Ifc4Building, ObjectWithoutGeometryTakesTheFilesQuantities) {
    const auto& proxy = object(80);
    expect_bounds(proxy, {0, 0, 0, 0, 0, 0});
    EXPECT_DOUBLE_EQ(proxy.volume, 1.5);
    EXPECT_DOUBLE_EQ(proxy.area, 2.25) << "NetArea is preferred to GrossArea";
}

TEST_F(Ifc4Building, OpenMeshGivesBoundsAndItsFacesAreaButTheFilesVolume) {
    const auto& covering = object(120);
    expect_bounds(covering, {1, 1, 3, 3, 3, 3});
    EXPECT_DOUBLE_EQ(covering.volume, 0.08);
    EXPECT_NEAR(covering.area, 4.0, 1e-12) << "the surface of its faces, not the file's NetArea of 3.5";
}

TEST_F(Ifc4Building, ContainersAndObjectsWithoutAnythingStayAtZero) {
    for (std::uint64_t id : {1u, 30u, 130u}) {
        const auto& o = object(id);
        expect_bounds(o, {0, 0, 0, 0, 0, 0});
        EXPECT_EQ(o.volume, 0.0) << "#" << id;
        EXPECT_EQ(o.area, 0.0) << "#" << id;
    }
}

TEST(Ifc2x3Millimetres, GeometryIsInMetresAndQuantitiesInSiUnits) {
    ScratchDir dir;
    const Snapshot s = ifc2snapshot::convert_ifc_file(dir.write("nave.ifc", ifc_samples::millimetre_ifc2x3()));
    const SnapshotObject* wall = find_object(s, 40);
    ASSERT_NE(wall, nullptr);
    expect_bounds(*wall, {1, 0, 0, 6, 0.3, 2.8});
    EXPECT_NEAR(wall->volume, 4.2, 1e-9);
    EXPECT_EQ(text(property(*wall, "Atributos", "IfcEntity")), "IfcWallStandardCase");
    EXPECT_DOUBLE_EQ(number(property(*wall, "Pset_Tipo", "Espesor")), 300.0) << "property values stay as written";

    const SnapshotObject* proxy = find_object(s, 80);
    ASSERT_NE(proxy, nullptr);
    EXPECT_NEAR(proxy->volume, 1.5, 1e-12);
    EXPECT_DOUBLE_EQ(proxy->area, 2.5);
    EXPECT_EQ(text(property(*proxy, "Atributos", "Name")), "Caja Espa\xC3\xB1" "a") << "raw UTF-8 bytes are decoded";
}

TEST(Ifc2x3Millimetres, EverySpatialContainerIsMarkedByItsObjectType) {
    ScratchDir dir;
    ifc2snapshot::ConversionStats stats;
    const Snapshot s = ifc2snapshot::convert_ifc_file(dir.write("nave.ifc", ifc_samples::millimetre_ifc2x3()), &stats);
    std::set<std::string> types;
    for (const auto& o : s.objects) types.insert(text(property(o, "Atributos", "ObjectType")));
    for (const char* t : {"IfcProject", "IfcSite", "IfcBuilding", "IfcBuildingStorey"}) EXPECT_TRUE(types.count(t)) << t;
    EXPECT_EQ(stats.objects, 6u);
    EXPECT_EQ(stats.with_guid, 6u);
    EXPECT_EQ(stats.spatial_containers, 4u);
}

TEST(StepText, ReachesTheSnapshotDecodedAndNoObjectIsLostToIt) {
    // The reader left '' and \\ as they were, did not know \X4\, and took \' for a quote inside
    // the text, so an object whose text ended in a backslash vanished.
    ScratchDir dir;
    const Snapshot s = ifc2snapshot::convert_ifc_file(dir.write("textos.ifc", ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'P',$,$,$,$,$,$);
#10=IFCBUILDINGELEMENTPROXY('0cB1cD2eF3gH4iJ5kL6m10',$,'O''Brien''s wall',$,$,$,$,$,$);
#11=IFCBUILDINGELEMENTPROXY('0cB1cD2eF3gH4iJ5kL6m11',$,'C:\\Planos\\',$,$,$,$,$,$);
#12=IFCBUILDINGELEMENTPROXY('0cB1cD2eF3gH4iJ5kL6m12',$,'\X4\0001F3E0\X0\ casa',$,$,$,$,$,$);
#13=IFCBUILDINGELEMENTPROXY('0cB1cD2eF3gH4iJ5kL6m13',$,'\X2\0041\X0\\X\E9''',$,$,$,$,$,$);
)")));
    std::vector<std::string> names;
    for (const auto& o : s.objects) names.push_back(text(property(o, "Atributos", "Name")));
    EXPECT_EQ(names, (std::vector<std::string>{"P", "O'Brien's wall", R"(C:\Planos\)", "\xF0\x9F\x8F\xA0 casa", "A\xC3\xA9'"}));
}

// Property values go through the reader's typed values (IFCLABEL(...) inside a property), where
// an odd number of apostrophes or a trailing backslash emptied the text.
TEST(StepText, PropertyValuesKeepApostrophesAndBackslashes) {
    ScratchDir dir;
    const Snapshot s = ifc2snapshot::convert_ifc_file(dir.write("valores.ifc", ifc_samples::step_file("IFC4", R"(#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'P',$,$,$,$,$,$);
#10=IFCBUILDINGELEMENTPROXY('0cB1cD2eF3gH4iJ5kL6m10',$,'Caja',$,$,$,$,$,$);
#20=IFCPROPERTYSET('0aB1cD2eF3gH4iJ5kL6mN7',$,'Textos',$,(#21,#22,#23,#24,#25,#26,#27));
#21=IFCPROPERTYSINGLEVALUE('Label',$,IFCLABEL('it''s'),$);
#22=IFCPROPERTYSINGLEVALUE('Text',$,IFCTEXT('a\\'),$);
#23=IFCPROPERTYSINGLEVALUE('Identifier',$,IFCIDENTIFIER('-1-0/F"-D'''),$);
#24=IFCPROPERTYENUMERATEDVALUE('Enumerated',$,(IFCLABEL('d''o'),IFCLABEL('\\')),$);
#25=IFCPROPERTYSINGLEVALUE('Even',$,IFCLABEL('''a'''),$);
#26=IFCPROPERTYSINGLEVALUE('Private',$,IFCLABEL('\X2\F8F0F8F1F8F2\X0\'),$);
#27=IFCPROPERTYLISTVALUE('List',$,(IFCTEXT('x\\'''),IFCTEXT('y')),$);
#30=IFCRELDEFINESBYPROPERTIES('1aB1cD2eF3gH4iJ5kL6mN7',$,$,$,(#10),#20);
)")));
    const SnapshotObject* box = find_object(s, 10);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text(property(*box, "Textos", "Label")), "it's");
    EXPECT_EQ(text(property(*box, "Textos", "Text")), "a\\");
    EXPECT_EQ(text(property(*box, "Textos", "Identifier")), "-1-0/F\"-D'");
    EXPECT_EQ(text(property(*box, "Textos", "Enumerated")), "d'o, \\");
    EXPECT_EQ(text(property(*box, "Textos", "Even")), "'a'");
    EXPECT_EQ(text(property(*box, "Textos", "Private")), "\xEF\xA3\xB0\xEF\xA3\xB1\xEF\xA3\xB2");
    EXPECT_EQ(text(property(*box, "Textos", "List")), "x\\', y");
}

// An object of an IFC2X3 type the reader lacks used to vanish with exit 0.
TEST(UnknownTypes, ObjectsArriveWithWhatTheFileStatesButNoGeometry) {
    ScratchDir dir;
    const std::string in = dir.write("cuadro.ifc", ifc_samples::composite_and_unknown_ifc2x3());
    ifc2snapshot::ConversionStats stats;
    const Snapshot s = ifc2snapshot::convert_ifc_file(in, &stats);
    std::vector<std::uint64_t> ids;
    for (const auto& o : s.objects) ids.push_back(o.id);
    EXPECT_EQ(ids, (std::vector<std::uint64_t>{1, 30, 40, 80})) << "in STEP id order";
    const SnapshotObject* point = find_object(s, 80);
    ASSERT_NE(point, nullptr);
    EXPECT_EQ(text(property(*point, "Atributos", "Guid")), "0cB1cD2eF3gH4iJ5kL6mN7");
    EXPECT_EQ(text(property(*point, "Atributos", "Name")), "Cuadro");
    EXPECT_EQ(text(property(*point, "Atributos", "IfcEntity")), "IfcElectricDistributionPoint");
    EXPECT_EQ(text(property(*point, "Atributos", "ObjectType")), "Cuadro general");
    EXPECT_EQ(text(property(*point, "Atributos", "Tag")), "CG-1");
    EXPECT_EQ(text(property(*point, "Atributos", "DistributionPointFunction")), "DISTRIBUTIONBOARD");
    EXPECT_EQ(number(property(*point, "Pset_Cuadro", "Circuitos")), 12.0);
    EXPECT_EQ(point->bounds, (std::array<double, 6>{}));
    EXPECT_EQ(stats.with_guid, 4u);

    const ToolRun run = run_converter("'" + in + "' '" + dir.file("cuadro.json") + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("warning: 1 object is of a type the reader does not know and arrives with attributes and "
                           "properties but without geometry (#80 IfcElectricDistributionPoint)\n"),
              std::string::npos)
        << run.err;
}

TEST(ReaderLocale, IsPutBackAfterReading) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ScratchDir dir;
    ifc2snapshot::convert_ifc_file(dir.write("edificio.ifc", ifc_samples::building_ifc4()));
    EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), before);
}

// --- Files that cannot be converted ---------------------------------------------------------------

std::string failure_of(const std::string& content) {
    ScratchDir dir;
    try {
        ifc2snapshot::convert_ifc_file(dir.write("malo.ifc", content));
    } catch (const ReadError& e) {
        return e.what();
    }
    return "<converted>";
}

TEST(UnreadableFiles, AreRefusedWithAReason) {
    using ifc_samples::step_file;
    const std::string wall = "#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'P',$,$,$,$,$,$);\n";
    EXPECT_NE(failure_of(step_file("IFC2X2_FINAL", wall)).find("unsupported schema IFC2X2_FINAL"), std::string::npos);
    EXPECT_NE(failure_of(step_file("IFC4X3_ADD2", wall)).find("unsupported schema"), std::string::npos);
    EXPECT_NE(failure_of(step_file("IFC4", "")).find("no entities"), std::string::npos);
    EXPECT_NE(failure_of(step_file("IFC4", "#1=IFCCARTESIANPOINT((0.,0.,0.));\n")).find("no building object"),
              std::string::npos);
    EXPECT_NE(failure_of("solid cube\nendsolid\n").find("not an IFC file"), std::string::npos);
    EXPECT_NE(failure_of("<?xml version=\"1.0\"?><ifcXML/>").find("ifcXML"), std::string::npos);
    EXPECT_NE(failure_of("ISO-10303-21;\nHEADER;\nENDSEC;\nDATA;\nENDSEC;\n").find("no schema"), std::string::npos);
}

TEST(UnreadableFiles, TruncatedFilesAreRefused) {
    const std::string whole = ifc_samples::building_ifc4();
    const std::string half = whole.substr(0, whole.size() / 2);
    EXPECT_EQ(failure_of(half), "the file ends before END-ISO-10303-21;: it looks truncated");
    // Cut inside a text, inside an entity, and after the last entity's ';'.
    const size_t in_text = whole.find("Muro de f") + 4;
    EXPECT_NE(failure_of(whole.substr(0, in_text)).find("truncated"), std::string::npos);
    const size_t after_entity = whole.find("#22=");
    EXPECT_NE(failure_of(whole.substr(0, after_entity)).find("truncated"), std::string::npos);
    EXPECT_NE(failure_of(whole.substr(0, after_entity + 10)).find("truncated"), std::string::npos);
    // The end marker is there, but the DATA section stops in the middle of an entity.
    const std::string broken = ifc_samples::step_file(
        "IFC4", "#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'P',$,$,$,$,$,$);\n#2=IFCWALL('0eB1cD2eF3gH4iJ5kL6mN7',$,\n");
    EXPECT_NE(failure_of(broken).find("ends inside an entity"), std::string::npos) << failure_of(broken);
    // Semicolons and the end marker inside texts and comments do not end anything.
    const std::string tricky = ifc_samples::step_file("IFC4",
        "/* ENDSEC; END-ISO-10303-21; */\n#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'a;b''ENDSEC;',$,$,$,$,$,$);\n"
        "#2=IFCBUILDINGELEMENTPROXY('0cB1cD2eF3gH4iJ5kL6mN7',$,'x',$,$,$,$,$,$);\n");
    EXPECT_EQ(failure_of(tricky), "<converted>");
}

TEST(UnreadableFiles, HeaderWithoutEndsecIsRefusedNotGuessed) {
    const std::string no_endsec = "ISO-10303-21;\nHEADER;\nFILE_SCHEMA(('IFC4'));\nDATA;\n"
                                  "#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'P',$,$,$,$,$,$);\nENDSEC;\nEND-ISO-10303-21;\n";
    // The DATA section's ENDSEC is the only one: the header then swallows the data.
    const std::string header_cut = "ISO-10303-21;\nHEADER;\nFILE_SCHEMA(('IFC4'));\n";
    EXPECT_NE(failure_of(header_cut).find("without ENDSEC"), std::string::npos) << failure_of(header_cut);
    EXPECT_NE(failure_of(no_endsec), "<converted>");
}

TEST(UnreadableFiles, TypeLibraryWithoutProductsIsRefused) {
    const std::string library = ifc_samples::step_file("IFC4",
        "#1=IFCPROJECT('0YvctVUKr0kugbFTf53O9L',$,'Biblioteca',$,$,$,$,$,$);\n"
        "#2=IFCWALLTYPE('0dB1cD2eF3gH4iJ5kL6mN7',$,'Tipo',$,$,$,$,$,$,.SOLIDWALL.);\n");
    EXPECT_NE(failure_of(library).find("no building object"), std::string::npos) << failure_of(library);
}

TEST(UnreadableFiles, FolderIsAReadErrorWithAReason) {
    ScratchDir dir;
    try {
        ifc2snapshot::convert_ifc_file(dir.file(""));
        ADD_FAILURE() << "a folder was converted";
    } catch (const ReadError& e) {
        EXPECT_NE(std::string(e.what()).find("folder"), std::string::npos) << e.what();
    }
}

TEST(UnreadableFiles, MissingFileIsAReadError) {
    EXPECT_THROW(ifc2snapshot::convert_ifc_file("/nonexistent/folder/modelo.ifc"), ReadError);
}

TEST(SchemaNames, Ifc2x3AndIfc4FamiliesAreSupported) {
    for (const char* s : {"IFC2X3", "ifc2x3", "IFC4", "IFC4ADD2_TC1", "IFC4ADD1"})
        EXPECT_TRUE(ifc2snapshot::is_supported_schema(s)) << s;
    for (const char* s : {"IFC2X2_FINAL", "IFC4X1", "IFC4X3", "IFC5", ""})
        EXPECT_FALSE(ifc2snapshot::is_supported_schema(s)) << s;
}

TEST(SchemaNames, HeaderSchemaIsReadAfterAByteOrderMark) {
    EXPECT_EQ(ifc2snapshot::read_step_schema("\xEF\xBB\xBFISO-10303-21;\nHEADER;\nFILE_SCHEMA (( 'IFC2X3' ));\nENDSEC;"),
              "IFC2X3");
}

}  // namespace
