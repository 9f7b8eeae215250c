#include "geometry.h"

#include "fixed_heap.h"
#include "library_output.h"
#include "text.h"

#include <ifcpp/geometry/Carve/GeometryConverter.h>
#include <ifcpp/model/BuildingModel.h>
#include <ifcpp/IFC4/include/IfcProject.h>
#include <ifcpp/IFC4/include/IfcSpatialElement.h>

#include <algorithm>
#include <cmath>

namespace ifc2snapshot {
namespace {

void union_bounds(std::array<double, 6>& into, bool& any, const std::array<double, 6>& b) {
    if (!any) {
        into = b;
        any = true;
        return;
    }
    for (int k = 0; k < 3; ++k) {
        into[k] = std::min(into[k], b[k]);
        into[k + 3] = std::max(into[k + 3], b[k + 3]);
    }
}

// Bounds of an aggregate without geometry of its own (a stair of flights, a roof of slabs):
// the union of its parts'.
void parts_bounds(ProductShapeData& shape, std::array<double, 6>& into, bool& any, int depth = 0) {
    if (depth > 16) return;
    for (const auto& child : shape.getChildren()) {
        if (!child) continue;
        const MeshMeasure m = measure_product(*child);
        if (m.has_mesh) union_bounds(into, any, m.bounds);
        parts_bounds(*child, into, any, depth + 1);
    }
}

// Circles and arcs become polygons inscribed in them. With 48 vertices a full circle encloses
// 0.29 % less than the true area; larger radii take more, so that no chord lies more than 1 mm
// inside the true curve. A multiple of four, starting at angle 0, puts vertices on both axes of
// the circle's own placement, so its box is the true one there.
int vertices_per_circle(double radius_m) {
    constexpr int least = 48, most = 360;
    constexpr double max_sagitta_m = 0.001;
    if (!(radius_m > max_sagitta_m)) return least;
    const double n = 3.14159265358979323846 / std::acos(1.0 - max_sagitta_m / radius_m);
    if (!(n < most)) return most;
    const int rounded = (static_cast<int>(std::ceil(n)) + 3) / 4 * 4;
    return std::max(least, rounded);
}

void keep_geometry_message(void* target, shared_ptr<StatusCallback::Message> m) {
    if (!m) return;
    if (m->m_message_type == StatusCallback::MESSAGE_TYPE_WARNING || m->m_message_type == StatusCallback::MESSAGE_TYPE_ERROR) {
        FixedHeapScope::Pause outlives_the_conversion;
        std::string text = to_utf8(m->m_message_text);
        if (m->m_entity) text = "#" + std::to_string(m->m_entity->m_entity_id) + ": " + text;
        static_cast<std::vector<std::string>*>(target)->push_back(std::move(text));
    }
}

} // namespace

std::vector<GeometryMeasure> measure_geometry(ReadModel& read, const std::vector<shared_ptr<IfcObjectDefinition>>& objects,
                                              std::vector<std::string>& messages) {
    std::vector<GeometryMeasure> measured(objects.size());
    std::string failure;
    LibraryOutput library_output;
    {
        FixedHeapScope heap;
        if (!heap.active()) {
            FixedHeapScope::Pause outside;
            messages.push_back("the geometry is converted on the ordinary heap: meshes may vary between runs");
        }
        GeometryConverter geometry(read.model);
        geometry.getGeomSettings()->setNumVerticesPerCircle(vertices_per_circle(0));
        geometry.getGeomSettings()->setNumVerticesPerCircleGivenRadius(&vertices_per_circle);
        geometry.setMessageCallBack(&messages, &keep_geometry_message);
        try {
            geometry.convertGeometry();
        } catch (const std::exception& e) {
            FixedHeapScope::Pause outside;
            failure = std::string("the geometry could not be converted: ") + e.what();
        } catch (const carve::exception& e) {
            FixedHeapScope::Pause outside;
            failure = "the geometry could not be converted: " + e.str();
        }
        geometry.unsetMessageCallBack();
        if (failure.empty()) {
            auto& shapes = geometry.getShapeInputData();
            for (size_t i = 0; i < objects.size(); ++i) {
                const auto& object = objects[i];
                const auto shape = shapes.find(object->m_entity_id);
                if (shape == shapes.end() || !shape->second) continue;
                measured[i].mesh = measure_product(*shape->second);
                if (!measured[i].mesh.has_mesh && !dynamic_pointer_cast<IfcSpatialElement>(object) &&
                    !dynamic_pointer_cast<IfcProject>(object)) {
                    bool any = false;
                    parts_bounds(*shape->second, measured[i].parts_bounds, any);
                }
            }
        }
    }
    library_output.finish(messages);
    if (!failure.empty()) throw ReadError(failure);
    return measured;
}

} // namespace ifc2snapshot
