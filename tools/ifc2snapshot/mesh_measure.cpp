#include "mesh_measure.h"

#include <ifcpp/geometry/Carve/GeometryInputData.h>

#include <algorithm>
#include <cmath>
#include <functional>
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
    bool closed_by_turning = false;
    bool closed_by_joining = false;
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

// The faces of the meshes that the mesh library calls open. An open mesh there means only that
// some edge has no opposite half-edge, which is also what a closed shell with some faces turned
// the wrong way looks like (the library pairs an edge only with one running the other way).
// Matching edges by their two vertices instead of by direction tells the two apart.
struct LooseFaces {
    std::vector<const void*> keys;  // the vertices of every face, one face after the other
    std::vector<Vec> points;        // where each of those lies
    std::vector<size_t> first;      // where each face starts in keys; one more entry at the end
    std::vector<double> volume_x3;  // (p - o)·A of each face as it is oriented
    std::vector<bool> joined;       // the face had vertices of T-junctions put into its edges
};

struct HalfEdge {
    const void* lo;
    const void* hi;
    size_t face;
    size_t corner;  // the corner the face leaves along this edge: its index in keys and points
    size_t uses;    // how many half-edges this edge has, this one included
    bool forward;   // the face runs from lo to hi
};

const std::less<const void*> before;

// The corner after `corner` in face f.
size_t next_corner(const LooseFaces& loose, size_t f, size_t corner) {
    return corner + 1 == loose.first[f + 1] ? loose.first[f] : corner + 1;
}

// Every edge of every face, sorted so that the uses of one edge come together.
std::vector<HalfEdge> half_edges_of(const LooseFaces& loose) {
    std::vector<HalfEdge> half_edges;
    half_edges.reserve(loose.keys.size());
    for (size_t f = 0; f + 1 < loose.first.size(); ++f) {
        for (size_t at = loose.first[f]; at < loose.first[f + 1]; ++at) {
            const void* a = loose.keys[at];
            const void* b = loose.keys[next_corner(loose, f, at)];
            if (a == b) continue;
            const bool forward = before(a, b);
            half_edges.push_back({forward ? a : b, forward ? b : a, f, at, 0, forward});
        }
    }
    std::sort(half_edges.begin(), half_edges.end(), [](const HalfEdge& x, const HalfEdge& y) {
        if (x.lo != y.lo) return before(x.lo, y.lo);
        if (x.hi != y.hi) return before(x.hi, y.hi);
        return x.face < y.face;
    });
    for (size_t i = 0; i < half_edges.size();) {
        size_t j = i + 1;
        while (j < half_edges.size() && half_edges[j].lo == half_edges[i].lo && half_edges[j].hi == half_edges[i].hi) ++j;
        for (size_t k = i; k < j; ++k) half_edges[k].uses = j - i;
        i = j;
    }
    return half_edges;
}

// A T-junction: a vertex of one face in the middle of another face's edge. The shell has no gap
// there, but the long edge and the two short ones do not match end to end. Each border edge
// (used by one face only) gets the border vertices that lie on it, so that it matches the short
// edges. Returns false when there was nothing to join (or too much to try).
bool join_t_junctions(LooseFaces& loose, const std::vector<HalfEdge>& half_edges) {
    std::vector<const HalfEdge*> border;
    for (const HalfEdge& e : half_edges)
        if (e.uses == 1) border.push_back(&e);
    if (border.empty() || border.size() > 4000) return false;

    // The ends of the border edges, once each.
    struct Vertex {
        const void* key;
        Vec point;
    };
    std::vector<Vertex> vertices;
    for (const HalfEdge* e : border) {
        const size_t next = next_corner(loose, e->face, e->corner);
        vertices.push_back({e->lo, loose.points[e->forward ? e->corner : next]});
        vertices.push_back({e->hi, loose.points[e->forward ? next : e->corner]});
    }
    std::sort(vertices.begin(), vertices.end(), [](const Vertex& x, const Vertex& y) { return before(x.key, y.key); });
    vertices.erase(std::unique(vertices.begin(), vertices.end(),
                               [](const Vertex& x, const Vertex& y) { return x.key == y.key; }),
                   vertices.end());

    // The vertices inside each border edge, by their distance from its lo end, at the corner the
    // edge starts from.
    constexpr double tolerance = 1e-6;  // metres
    std::vector<std::vector<std::pair<double, const Vertex*>>> inside(loose.keys.size());
    bool any_inside = false;
    for (const HalfEdge* e : border) {
        const size_t next = next_corner(loose, e->face, e->corner);
        const Vec a = loose.points[e->forward ? e->corner : next];
        const Vec d = loose.points[e->forward ? next : e->corner] - a;
        const double length2 = dot3(d, d);
        if (!(length2 > tolerance * tolerance)) continue;
        auto& list = inside[e->corner];
        for (const Vertex& v : vertices) {
            if (v.key == e->lo || v.key == e->hi) continue;
            const Vec q = v.point - a;
            const double t = dot3(q, d) / length2;
            if (!(t > 0 && t < 1)) continue;
            const Vec off = q - d * t;
            if (dot3(off, off) < tolerance * tolerance && t * t * length2 > tolerance * tolerance &&
                (1 - t) * (1 - t) * length2 > tolerance * tolerance)
                list.emplace_back(t, &v);
        }
        if (list.empty()) continue;
        std::sort(list.begin(), list.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
        any_inside = true;
    }
    if (!any_inside) return false;

    // The faces again, each border edge with its inner vertices put in along the way it runs.
    const size_t faces = loose.volume_x3.size();
    LooseFaces joined;
    joined.first.push_back(0);
    joined.joined.assign(faces, false);
    for (size_t f = 0; f < faces; ++f) {
        for (size_t at = loose.first[f]; at < loose.first[f + 1]; ++at) {
            joined.keys.push_back(loose.keys[at]);
            joined.points.push_back(loose.points[at]);
            const auto& list = inside[at];
            if (list.empty()) continue;
            joined.joined[f] = true;
            const bool forward = before(loose.keys[at], loose.keys[next_corner(loose, f, at)]);
            for (size_t i = 0; i < list.size(); ++i) {
                const Vertex& v = *list[forward ? i : list.size() - 1 - i].second;
                joined.keys.push_back(v.key);
                joined.points.push_back(v.point);
            }
        }
        joined.first.push_back(joined.keys.size());
    }
    joined.volume_x3 = std::move(loose.volume_x3);
    loose = std::move(joined);
    return true;
}

// A shell made of the loose faces: closed when each of its edges joins exactly two faces, and
// orientable when the faces can be turned so that every such pair runs the edge both ways.
// Returns how much is enclosed by the shells that are both, and whether every face belongs to
// one of those.
struct LooseResult {
    double volume = 0;
    bool all_closed = true;
    bool any_turned = false;  // a closed shell had faces running against the others
    bool any_joined = false;  // a closed shell is closed thanks to joined T-junctions
};

LooseResult measure_loose_faces(LooseFaces loose) {
    LooseResult result;
    const size_t faces = loose.volume_x3.size();
    if (faces == 0) return result;
    loose.joined.assign(faces, false);
    std::vector<HalfEdge> half_edges = half_edges_of(loose);
    if (join_t_junctions(loose, half_edges)) half_edges = half_edges_of(loose);

    // Faces meet at edges shared by exactly two; a face at any other edge (a border, or three
    // and more faces) is in an open shell. `same` says the two run the edge the same way, so
    // one of them must be turned.
    struct Neighbour {
        size_t face;
        bool same;
    };
    std::vector<std::vector<Neighbour>> neighbours(faces);
    std::vector<bool> at_border(faces, false);
    for (size_t i = 0; i < half_edges.size(); i += half_edges[i].uses) {
        if (half_edges[i].uses == 2) {
            const HalfEdge& x = half_edges[i];
            const HalfEdge& y = half_edges[i + 1];
            const bool same = x.forward == y.forward;
            neighbours[x.face].push_back({y.face, same});
            neighbours[y.face].push_back({x.face, same});
        } else {
            for (size_t k = i; k < i + half_edges[i].uses; ++k) at_border[half_edges[k].face] = true;
        }
    }

    // Each shell in turn, from its first face, every face turned to agree with its neighbours.
    std::vector<int> turned(faces, -1);
    std::vector<size_t> shell;
    for (size_t seed = 0; seed < faces; ++seed) {
        if (turned[seed] >= 0) continue;
        shell.assign(1, seed);
        turned[seed] = 0;
        bool closed = true;
        for (size_t k = 0; k < shell.size(); ++k) {
            const size_t f = shell[k];
            if (at_border[f]) closed = false;
            for (const Neighbour& n : neighbours[f]) {
                const int want = turned[f] ^ (n.same ? 1 : 0);
                if (turned[n.face] < 0) {
                    turned[n.face] = want;
                    shell.push_back(n.face);
                } else if (turned[n.face] != want) {
                    closed = false;  // one-sided, like a Moebius strip
                }
            }
        }
        if (!closed) {
            result.all_closed = false;
            continue;
        }
        std::sort(shell.begin(), shell.end());  // the sum in face order, as the file gives them
        double signed_x3 = 0;
        for (size_t f : shell) {
            signed_x3 += turned[f] ? -loose.volume_x3[f] : loose.volume_x3[f];
            if (turned[f] != turned[seed]) result.any_turned = true;
            if (loose.joined[f]) result.any_joined = true;
        }
        result.volume += std::fabs(signed_x3) / 3.0;  // turned outward
    }
    return result;
}

// One mesh set: every face's area vector (Newell's formula, right for any planar polygon,
// convex or not) gives its area, and by the divergence theorem the sum of (p - o)·A over the
// faces is three times the signed enclosed volume, for any fixed point o; a point of the set
// keeps the products small. The sign follows the faces' orientation, so an inner shell
// subtracts; a mirrored placement flips the whole set, hence the absolute value. The faces of
// meshes the library calls open are measured as loose faces.
void measure_meshset(const carve::mesh::MeshSet<3>& meshset, const carve::math::Matrix& to_world,
                     Accumulator& acc) {
    double signed_volume_x3 = 0;
    bool have_origin = false;
    Vec origin = carve::geom::VECTOR(0, 0, 0);  // a point of the set: keeps p·A small and exact
    std::vector<Vec> ring;
    LooseFaces loose;
    loose.first.push_back(0);
    for (const auto* mesh : meshset.meshes) {
        if (!mesh || mesh->faces.empty()) continue;
        const bool closed = mesh->isClosed();
        for (const auto* face : mesh->faces) {
            if (!face || !face->edge) continue;
            ring.clear();
            const size_t key_start = loose.keys.size();
            const auto* e = face->edge;
            do {
                ring.push_back(to_world * e->vert->v);
                if (!closed) {
                    loose.keys.push_back(e->vert);
                    loose.points.push_back(ring.back());
                }
                e = e->next;
            } while (e && e != face->edge && ring.size() <= face->n_edges);
            if (ring.size() < 3) {
                loose.keys.resize(key_start);
                loose.points.resize(key_start);
                continue;
            }
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
            const double volume_x3 = dot3(ring[0] - origin, area_vector);
            if (closed) {
                signed_volume_x3 += volume_x3;
            } else {
                loose.volume_x3.push_back(volume_x3);
                loose.first.push_back(loose.keys.size());
            }
        }
    }
    acc.volume += std::fabs(signed_volume_x3) / 3.0;
    const LooseResult l = measure_loose_faces(std::move(loose));
    acc.volume += l.volume;
    if (!l.all_closed) acc.all_closed = false;
    if (l.any_turned) acc.closed_by_turning = true;
    if (l.any_joined) acc.closed_by_joining = true;
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
    m.closed_by_turning = acc.closed_by_turning;
    m.closed_by_joining = acc.closed_by_joining;
    m.bounds = {acc.lo[0], acc.lo[1], acc.lo[2], acc.hi[0], acc.hi[1], acc.hi[2]};
    m.volume = acc.volume;
    m.area = acc.area;
    return m;
}

} // namespace ifc2snapshot
