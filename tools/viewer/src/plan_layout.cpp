#include "plan_layout.h"

#include <algorithm>

namespace bvs {

bool is_spatial_container(const ModelObject& o) {
    const std::u16string& t = o.object_type;
    const std::u16string& e = o.entity;
    for (const char16_t* c : {u"IfcProject", u"IfcSite", u"IfcBuilding", u"IfcBuildingStorey"})
        if (t == c || e == c) return true;
    return false;
}

std::uint32_t entity_colour(std::u16string_view entity) {
    auto starts = [&](std::u16string_view p) { return entity.substr(0, p.size()) == p; };
    if (starts(u"IfcWall")) return rgb(176, 176, 170);
    if (starts(u"IfcSlab")) return rgb(222, 210, 186);
    if (starts(u"IfcDoor")) return rgb(170, 120, 80);
    if (starts(u"IfcWindow")) return rgb(150, 200, 235);
    if (starts(u"IfcSpace")) return rgb(205, 232, 200);
    return rgb(200, 200, 200);
}

std::vector<PlanBox> plan_layout(const Model& model, const PlanRect& area) {
    const auto& objects = model.objects();
    double minx = 1e300, miny = 1e300, maxx = -1e300, maxy = -1e300;
    std::vector<std::size_t> order;
    order.reserve(objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const ModelObject& o = objects[i];
        const bv::Bounds& b = o.bounds;
        if (is_spatial_container(o) || (b.max_x <= b.min_x && b.max_y <= b.min_y)) continue;
        minx = std::min(minx, b.min_x), miny = std::min(miny, b.min_y);
        maxx = std::max(maxx, b.max_x), maxy = std::max(maxy, b.max_y);
        order.push_back(i);
    }
    std::vector<PlanBox> boxes;
    if (order.empty()) return boxes;

    auto footprint = [&](std::size_t i) {
        const bv::Bounds& b = objects[i].bounds;
        return (b.max_x - b.min_x) * (b.max_y - b.min_y);
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return footprint(a) > footprint(b); });
    const double margin = plan_margin;
    double sx = (area.right - area.left - 2 * margin) / std::max(maxx - minx, 1e-9);
    double sy = (area.bottom - area.top - 2 * margin) / std::max(maxy - miny, 1e-9);
    double s = std::max(0.0, std::min(sx, sy));
    auto px = [&](double x) { return static_cast<int>(area.left + margin + (x - minx) * s); };
    auto py = [&](double y) { return static_cast<int>(area.bottom - margin - (y - miny) * s); };

    boxes.reserve(order.size());
    for (std::size_t i : order) {
        const bv::Bounds& b = objects[i].bounds;
        PlanBox box;
        box.index = i;
        box.rect.left = px(b.min_x);
        box.rect.right = std::max(px(b.max_x), box.rect.left + 2);
        box.rect.top = py(b.max_y);
        box.rect.bottom = std::max(py(b.min_y), box.rect.top + 2);
        boxes.push_back(box);
    }
    return boxes;
}

}  // namespace bvs
