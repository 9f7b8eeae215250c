#include "mesh_measure.h"

#include <ifcpp/geometry/Carve/GeometryInputData.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace ifc2snapshot {
namespace {

using Vec = carve::geom::vector<3>;

struct Accumulator {
    double lo[3] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                    std::numeric_limits<double>::infinity()};
    double hi[3] = {-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                    -std::numeric_limits<double>::infinity()};
    bool any_face = false;
    bool all_closed = true;
    double volume = 0;
    double area = 0;

    void take_point(const Vec& p) {
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p.v[k]);
            hi[k] = std::max(hi[k], p.v[k]);
        }
    }
};

Vec cross3(const Vec& a, const Vec& b) {
    return carve::geom::VECTOR(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

double dot3(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// One mesh set: every face's area vector (Newell's formula, right for any planar polygon,
// convex or not) gives its area, and by the divergence theorem the sum of (p - o)·A over the
// faces is three times the signed enclosed volume, for any fixed point o; a point of the set
// keeps the products small. The sign follows the faces' orientation, so an inner shell
// subtracts; a mirrored placement flips the whole set, hence the absolute value.
void measure_meshset(const carve::mesh::MeshSet<3>& meshset, const carve::math::Matrix& to_world,
                     Accumulator& acc) {
    double signed_volume_x3 = 0;
    bool have_origin = false;
    Vec origin = carve::geom::VECTOR(0, 0, 0);  // a point of the set: keeps p·A small and exact
    std::vector<Vec> ring;
    for (const auto* mesh : meshset.meshes) {
        if (!mesh || mesh->faces.empty()) continue;
        if (!mesh->isClosed()) acc.all_closed = false;
        for (const auto* face : mesh->faces) {
            if (!face || !face->edge) continue;
            ring.clear();
            const auto* e = face->edge;
            do {
                ring.push_back(to_world * e->vert->v);
                e = e->next;
            } while (e && e != face->edge && ring.size() <= face->n_edges);
            if (ring.size() < 3) continue;
            acc.any_face = true;
            Vec area_vector = carve::geom::VECTOR(0, 0, 0);
            for (size_t i = 0; i < ring.size(); ++i) {
                acc.take_point(ring[i]);
                area_vector = area_vector + cross3(ring[i], ring[(i + 1) % ring.size()]);
            }
            area_vector = area_vector * 0.5;
            acc.area += std::sqrt(dot3(area_vector, area_vector));
            if (!have_origin) {
                origin = ring[0];
                have_origin = true;
            }
            signed_volume_x3 += dot3(ring[0] - origin, area_vector);
        }
    }
    acc.volume += std::fabs(signed_volume_x3) / 3.0;
}

bool has_mesh(const RepresentationData& representation) {
    for (const auto& item : representation.m_vec_item_data)
        if (item && (!item->m_meshsets.empty() || !item->m_meshsets_open.empty())) return true;
    return false;
}

} // namespace

MeshMeasure measure_product(ProductShapeData& product) {
    const carve::math::Matrix to_world = product.getTransform();

    bool body_has_mesh = false;
    for (const auto& representation : product.m_vec_representations)
        if (representation && representation->m_representation_identifier == L"Body" && has_mesh(*representation))
            body_has_mesh = true;

    Accumulator acc;
    for (const auto& representation : product.m_vec_representations) {
        if (!representation) continue;
        if (body_has_mesh && representation->m_representation_identifier != L"Body") continue;
        for (const auto& item : representation->m_vec_item_data) {
            if (!item) continue;
            // The converter files a shell under "open" when it could not make it a solid, but
            // a surface model can be closed all the same: each mesh's own topology decides.
            for (const auto& meshset : item->m_meshsets)
                if (meshset) measure_meshset(*meshset, to_world, acc);
            for (const auto& meshset : item->m_meshsets_open)
                if (meshset) measure_meshset(*meshset, to_world, acc);
        }
    }

    MeshMeasure m;
    if (!acc.any_face) return m;
    m.has_mesh = true;
    m.all_closed = acc.all_closed;
    m.bounds = {acc.lo[0], acc.lo[1], acc.lo[2], acc.hi[0], acc.hi[1], acc.hi[2]};
    m.volume = acc.volume;
    m.area = acc.area;
    return m;
}

} // namespace ifc2snapshot
