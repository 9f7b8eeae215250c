// Curved solids against their exact volumes, open surfaces, and the same file giving the same
// snapshot on every conversion.
#include "ifc_samples.h"
#include "ifc_test_support.h"

#include <cmath>

using ifc2snapshot::Snapshot;
using ifc2snapshot::SnapshotObject;
using namespace ifc_test;

namespace {

constexpr double pi = 3.14159265358979323846;

// The parts were joined into one profile, the second taken for a hole, and the solid lost.
TEST(CompositeProfiles, AreMeasuredAsTheSumOfTheirParts) {
    ScratchDir dir;
    const Snapshot s = ifc2snapshot::convert_ifc_file(dir.write("compuesto.ifc", ifc_samples::composite_and_unknown_ifc2x3()));
    const SnapshotObject* column = find_object(s, 40);
    ASSERT_NE(column, nullptr);
    const double volume = 1.0 * 2.0 + pi * 0.25 * 2.0;              // box 1 x 1 x 2, cylinder r 0.5 h 2
    const double area = (2 * 1.0 + 4 * 2.0) + (2 * pi * 0.5 * 2.0 + 2 * pi * 0.25);
    EXPECT_LE(column->volume, volume * (1 + 1e-9));
    EXPECT_GE(column->volume, volume * 0.995);
    EXPECT_NEAR(column->area, area, area * 0.005);
    EXPECT_NEAR(column->bounds[3], 4.0, 1e-6);
}

class CurvedSolids : public ConvertedOnce<CurvedSolids> {
public:
    static std::string input(const ScratchDir& dir) { return dir.write("curvas.ifc", ifc_samples::curved_ifc4()); }
protected:
    // The polygons lie inside the curves, so a solid can only come out a little small.
    static void expect_volume_within_half_a_percent(const SnapshotObject& o, double exact) {
        EXPECT_LE(o.volume, exact * (1 + 1e-9)) << "#" << o.id;
        EXPECT_GE(o.volume, exact * 0.995) << "#" << o.id;
    }
    static void expect_box_contains(const SnapshotObject& o, std::array<double, 6> truth) {
        for (int k = 0; k < 3; ++k) {
            EXPECT_LE(o.bounds[k], truth[k] + 1e-9) << "#" << o.id << " min " << k;
            EXPECT_GE(o.bounds[k + 3], truth[k + 3] - 1e-9) << "#" << o.id << " max " << k;
            EXPECT_NEAR(o.bounds[k], truth[k], 1e-3) << "#" << o.id;
            EXPECT_NEAR(o.bounds[k + 3], truth[k + 3], 1e-3) << "#" << o.id;
        }
    }
};

TEST_F(CurvedSolids, ExtrudedCircleIsWithinHalfAPercentAndItsBoxHoldsTheCircle) {
    const auto& pile = object(200);
    expect_volume_within_half_a_percent(pile, pi * 0.18 * 0.18 * 7.9);
    expect_box_contains(pile, {19.82, -0.18, 0, 20.18, 0.18, 7.9});
}

TEST_F(CurvedSolids, CylinderWithAnOpeningIsCutAndWithinHalfAPercent) {
    const auto& column = object(300);
    expect_volume_within_half_a_percent(column, (pi * 0.25 - 0.16) * 3);
    expect_box_contains(column, {-0.5, -0.5, 0, 0.5, 0.5, 3});
}

TEST_F(CurvedSolids, ArcProfileIsWithinHalfAPercentAndItsBoxHoldsTheArc) {
    const auto& beam = object(400);
    expect_volume_within_half_a_percent(beam, pi);
    expect_box_contains(beam, {-1, 10, 0, 1, 11, 2});
}

TEST_F(CurvedSolids, OpenSurfaceWithoutQuantitiesGetsTheAreaOfItsFaces) {
    const auto& sheet = object(500);
    EXPECT_EQ(sheet.volume, 0.0) << "an open surface encloses nothing";
    EXPECT_NEAR(sheet.area, 6.0, 1e-9);
}

// --- Reproducibility ---------------------------------------------------------------------------

TEST(Reproducible, TwoRunsOfTheToolWriteTheSameBytes) {
    ScratchDir dir;
    const std::string in = dir.write("curvas.ifc", ifc_samples::curved_ifc4());
    for (const char* out : {"a.json", "b.json"}) {
        ASSERT_EQ(run_converter("--quiet '" + in + "' '" + dir.file(out) + "'").status, 0);
    }
    const std::string a = read_file(dir.file("a.json"));
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, read_file(dir.file("b.json")));
}

}  // namespace
