// The plan view's drawing, worked out without a window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plan_layout.h"

namespace bvs {
namespace {

/// One object: its id, entity, object type and bounds (min x, y, z, max x, y, z).
std::string object(int id, const char* entity, const char* type, const char* bounds) {
    return std::string(R"({"id": )") + std::to_string(id) + R"(, "bounds": )" + bounds +
           R"(, "property_sets": [{"name": "Atributos", "properties": [
             {"name": "Guid", "value": "G)" + std::to_string(id) + R"("},
             {"name": "IfcEntity", "value": ")" + entity + R"("},
             {"name": "ObjectType", "value": ")" + type + R"("}]}]})";
}

std::unique_ptr<Model> model(const std::vector<std::string>& objects) {
    std::string list;
    for (const std::string& o : objects) list += (list.empty() ? "" : ",") + o;
    ModelLoadResult r = Model::parse(R"({"format": "kestro-bimvision-snapshot", "version": 1,
        "files": [], "objects": [)" + list + "]}");
    EXPECT_TRUE(r.model) << r.error;
    return std::move(r.model);
}

std::vector<std::size_t> indices(const std::vector<PlanBox>& boxes) {
    std::vector<std::size_t> out;
    for (const PlanBox& b : boxes) out.push_back(b.index);
    return out;
}

TEST(PlanLayout, LeavesOutContainersAndFlatObjectsAndPaintsLargeFootprintsFirst) {
    auto m = model({
        object(1, "IfcDoor", "Puerta", "[1, 0, 0, 2, 0.2, 2]"),              // 0.2
        object(2, "IfcBuildingStorey", "Planta", "[0, 0, 0, 50, 50, 3]"),    // container
        object(3, "IfcSlab", "Forjado", "[0, 0, 0, 10, 8, 0.3]"),            // 80
        object(4, "IfcSpace", "IfcSite", "[0, 0, 0, 40, 40, 0]"),            // container by type
        object(5, "IfcWall", "Muro", "[0, 0, 0, 10, 0.3, 3]"),               // 3
        object(6, "IfcColumn", "Pilar", "[3, 3, 0, 3, 3, 3]"),               // no footprint
        object(7, "IfcWindow", "Ventana", "[5, 0, 1, 6, 0.2, 2]"),           // 0.2, after the door
    });
    EXPECT_EQ(indices(plan_layout(*m, {0, 0, 400, 300})),
              (std::vector<std::size_t>{2, 4, 0, 6}));
    EXPECT_TRUE(plan_layout(*model({}), {0, 0, 400, 300}).empty());
    EXPECT_TRUE(plan_layout(*model({object(1, "IfcSite", "", "[0, 0, 0, 9, 9, 0]")}),
                            {0, 0, 400, 300}).empty());
}

TEST(PlanLayout, ScalesEverythingTogetherIntoTheAreaWithYUpAndAMargin) {
    // 10 x 5 units into 200 x 200 pixels inside the margins: 20 pixels a unit, x limits the scale.
    auto m = model({object(1, "IfcSlab", "", "[0, 0, 0, 10, 5, 1]"),
                    object(2, "IfcWall", "", "[2, 4, 0, 2, 5, 1]")});  // no width in x
    const std::vector<PlanBox> boxes = plan_layout(*m, {100, 50, 332, 282});
    ASSERT_EQ(boxes.size(), 2u);
    const PlanRect slab = boxes[0].rect;
    EXPECT_EQ(slab.left, 116);
    EXPECT_EQ(slab.right, 316);
    EXPECT_EQ(slab.top, 166);     // y = 5 is 100 pixels above the bottom margin
    EXPECT_EQ(slab.bottom, 266);  // y = 0 on the bottom margin
    const PlanRect wall = boxes[1].rect;
    EXPECT_EQ(wall.left, 156);
    EXPECT_EQ(wall.right, 158);  // at least 2 pixels wide
    EXPECT_EQ(wall.top, 166);
    EXPECT_EQ(wall.bottom, 186);

    // An area smaller than its margins draws everything at one point, never mirrored.
    for (const PlanBox& b : plan_layout(*m, {0, 0, 10, 10})) {
        EXPECT_EQ(b.rect.right - b.rect.left, 2);
        EXPECT_EQ(b.rect.bottom - b.rect.top, 2);
    }
}

TEST(PlanLayout, ColoursElementsByTheStartOfTheirEntity) {
    EXPECT_EQ(entity_colour(u"IfcWallStandardCase"), rgb(176, 176, 170));
    EXPECT_EQ(entity_colour(u"IfcWall"), 0xAAB0B0u);  // as the system's RGB() packs it
    EXPECT_EQ(entity_colour(u"IfcSlab"), rgb(222, 210, 186));
    EXPECT_EQ(entity_colour(u"IfcDoor"), rgb(170, 120, 80));
    EXPECT_EQ(entity_colour(u"IfcWindow"), rgb(150, 200, 235));
    EXPECT_EQ(entity_colour(u"IfcSpace"), rgb(205, 232, 200));
    for (const char16_t* other : {u"IfcColumn", u"Wall", u"", u"IfcWal"})
        EXPECT_EQ(entity_colour(other), rgb(200, 200, 200));
}

}  // namespace
}  // namespace bvs
