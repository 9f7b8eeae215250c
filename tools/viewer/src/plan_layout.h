// The plan view's drawing, worked out without a window: the objects' bounds seen from above,
// scaled into the view, in the order they are painted, and the colour of each kind of element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "model.h"

namespace bvs {

/// A rectangle in view pixels; right and bottom lie outside it.
struct PlanRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

/// One object's box in the plan: its position in the model and its rectangle.
struct PlanBox {
    std::size_t index = 0;
    PlanRect rect;
};

/// Blank space around the drawing, in pixels.
inline constexpr double plan_margin = 16;

/// A colour as the system's drawing calls take it: 0x00BBGGRR.
constexpr std::uint32_t rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<std::uint32_t>(r) | static_cast<std::uint32_t>(g) << 8 |
           static_cast<std::uint32_t>(b) << 16;
}

/// True for IfcProject, IfcSite, IfcBuilding and IfcBuildingStorey (by object type or entity):
/// the plan leaves them out, as they cover everything else.
bool is_spatial_container(const ModelObject& object);

/// The fill of an element that is not selected, by the start of its entity name.
std::uint32_t entity_colour(std::u16string_view entity);

/// The boxes of every object with a footprint (containers and objects without extent in x and y
/// left out), scaled together into `area` with y pointing up, largest footprint first so that
/// walls, doors and windows are painted on top. Every box is at least 2 pixels wide and high.
std::vector<PlanBox> plan_layout(const Model& model, const PlanRect& area);

}  // namespace bvs
