#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "res/DialogTemplate.h"

// The controls `stops` (indexes into `controls`) in the order they are read:
// rows from top to bottom, each from left to right, whatever the template's
// order. A row is the controls whose top lies above the middle of its
// highest one, so that a control a dialog unit lower than its neighbour
// still counts as beside it. Uses nothing but the template, so that any front
// end can take it.
inline std::vector<std::size_t> TabOrderByPosition(std::span<const ControlTemplate> controls,
                                                   std::vector<std::size_t> stops) {
    std::stable_sort(stops.begin(), stops.end(),
                     [&](std::size_t a, std::size_t b) { return controls[a].y < controls[b].y; });
    for (auto row = stops.begin(); row != stops.end();) {
        const int middle = 2 * controls[*row].y + controls[*row].height;  // twice the middle, in whole units
        const auto end = std::find_if(row, stops.end(), [&](std::size_t i) { return 2 * controls[i].y >= middle; });
        std::stable_sort(row, end, [&](std::size_t a, std::size_t b) { return controls[a].x < controls[b].x; });
        row = end;
    }
    return stops;
}
