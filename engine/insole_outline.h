// The insole outline: walks along the foot's edge and eroded ring, arcs
// between the key points, gap closing and the filled insole region.
#pragma once

#include <cstdint>

#include "engine/insole_shape.h"
#include "engine/mesh.h"

namespace engine {

// The whole outline build for one foot bitmap (150 x 360, changed in place:
// its outer pixels are cleared and its spurs removed), ending with the insole model appended to model
// (which the caller empties first). False when no closed model came of the
// foot (model left as the caller gave it).
bool build_insole_outline(InsoleShape& shape, uint8_t* foot_bitmap, Mesh& model);

// Walks ring_map from p2_2 to p[3] round the heel / edge_map (built first)
// from p0_1 to p[4] round the toes, drawing into outline_map; at most 1000
// iterations (a step or a fruitless try of all eight neighbours). Where the
// toe walk misses p[4] or steps on a pixel twice it follows the foot's
// boundary instead, from the rows of p0_1 to p[4] round the toes.
struct WalkResult {
    bool reached = false;
    int iterations = 0;
    bool stepped_twice = false;
};
WalkResult walk_heel_ring(InsoleShape& shape);
WalkResult walk_toe_edge(InsoleShape& shape);

// Drawing into outline_map; pixels off the bitmap are never drawn.
void draw_segment(InsoleShape& shape, ShapePoint a, ShapePoint b);
float angle_from_x_axis(float px, float py, float cx, float cy);  // degrees, 0..180
void draw_arc(InsoleShape& shape, ShapePoint a, ShapePoint b, float r, uint8_t side);

// Bridges one-pixel gaps of outline_map, fills each row's span and keeps its
// boundary; changes outline_map and outline_work only.
void dilate_outline(InsoleShape& shape);
void fill_row_spans(InsoleShape& shape);
void keep_boundary(InsoleShape& shape);
// inside_mask = 10 where outline_map's border-reaching scans do not reach, else 0.
void fill_inside_mask(InsoleShape& shape);

}  // namespace engine
