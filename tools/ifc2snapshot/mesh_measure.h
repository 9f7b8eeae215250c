// Bounds, volume and surface area of one product from the meshes the geometry converter made.
#pragma once

#include <array>

class ProductShapeData;

namespace ifc2snapshot {

struct MeshMeasure {
    bool has_mesh = false;     // at least one mesh with a face
    bool all_closed = false;   // has_mesh, and every mesh is closed (a solid)
    bool closed_by_turning = false;  // some closed shell had faces turned the wrong way
    bool closed_by_joining = false;  // some shell is closed only once its T-junctions are joined
    std::array<double, 6> bounds{};  // min x, y, z, max x, y, z in world coordinates (metres)
    double volume = 0;         // enclosed volume, cubic metres; only meaningful when all_closed
    double area = 0;           // total area of all faces, square metres
};

/// Measures the product's own meshes with its placement applied. A mesh counts as closed when
/// every edge joins exactly two faces, whichever way each face is turned: the faces of each such
/// shell are turned consistently, and outward, before its volume is taken. An edge that has a
/// vertex of another face in its middle (a T-junction) is matched in pieces. A mesh with a border
/// stays open. Only the "Body"
/// representations count when there are any with meshes; otherwise every representation with
/// meshes does (so a product that has only a "Box" still gets bounds). Polylines, points and
/// text literals are not geometry here.
MeshMeasure measure_product(ProductShapeData& product);

} // namespace ifc2snapshot
