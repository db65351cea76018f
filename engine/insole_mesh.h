// The insole's triangle model: contour tracing, the side wall between the
// foot and insole contours, corner triangles and the top and bottom surfaces.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/insole_shape.h"
#include "engine/mesh.h"

namespace engine {

// Empties both contour lists, traces foot_map into top_contour and
// inside_mask into bottom_contour, and appends the side wall, the corner
// triangles and the two surfaces to model (which the caller empties); the
// top never lies below the base plate inside the outline. Where that model
// would not be closed or its wall would leave the rim (a trace that misses
// part of its region, a hole in the foot, a fan across the insole) each
// piece of foot and outline is built as one solid instead: the base plate
// where the foot is 0 inside the outline, the underside sloping up to the
// foot's rim where the foot reaches beyond it. False, with nothing
// appended, when nothing of the foot is left to print.
bool build_insole_mesh(InsoleShape& shape, Mesh& model);

// Appends one closed contour of map's non-zero region (rows 1..358, columns
// 1..148; map is 150 x 360 floats) to list; start_row 0 picks the row three
// quarters up. Where the fixed-order walk does not close, or steps on a
// pixel twice, the region's boundary is followed instead. False (after
// "contour failure~~~") when the start row holds no edge.
bool trace_contour(std::vector<ShapePoint>& list, const float* map, int start_row);

// Triangles between top_contour (foot heights) and bottom_contour (insole
// heights); writes the links of bottom_contour.
void stitch_side_wall(InsoleShape& shape, Mesh& model);
// The same with the top heights read from top_bitmap instead of foot_map.
void stitch_side_wall_between(InsoleShape& shape, const uint8_t* top_bitmap, Mesh& model);

// Triangles closing the diagonal steps of one contour; z = value / 5 - base.
void fill_contour_corners(Mesh& model, const uint8_t* bitmap, const std::vector<ShapePoint>& list, float base);

// Top and turned bottom surface of foot_map alone (images carrying marks):
// no contours, no side wall.
void build_plain_insole_mesh(InsoleShape& shape, Mesh& model);

}  // namespace engine
