// Raster path tracing: zig-zag fill lines over one layer's cross-section,
// built from sample-grid points plus points placed on the material boundary.
#pragma once

#include "engine/layer_raster.h"

namespace engine {

// A turn keeps at most this many candidate grid points (one per material run).
constexpr int MAX_TURN_CANDIDATES = 5;

// True when the cell at (floor x, floor y) is material and one of its four
// side neighbours is empty. Cells outside the raster count as empty.
bool is_edge_cell(const Plane& plane, float x, float y);

// Probes from grid point a at (x, y): look up to d cells in one direction for
// an edge cell, append it to current_line and return true when found.
bool probe_right(LayerRaster& r, int a, const Plane& plane, float x, float y, int d);
bool probe_left(LayerRaster& r, int a, const Plane& plane, float x, float y, int d);
bool probe_up(LayerRaster& r, int a, const Plane& plane, float x, float y, int d);
bool probe_down(LayerRaster& r, int a, const Plane& plane, float x, float y, int d);

// Extend current_line from the grid point at line_cursor, then turn; true
// when the line cannot continue.
bool follow_row_forward(LayerRaster& r);
bool follow_row_backward(LayerRaster& r);
bool follow_column_up(LayerRaster& r);
bool follow_column_down(LayerRaster& r);

// Continue the line into the next grid row / column from grid index a;
// scan_from_low = 1 scans from the left (rows) or the bottom (columns).
void turn_to_next_row(LayerRaster& r, int a, int scan_from_low);
void turn_to_next_column(LayerRaster& r, int a, int scan_from_low);

// Whole-layer builders: append this layer's lines to r.lines.
void build_row_lines(LayerRaster& r);
void build_column_lines(LayerRaster& r);

}  // namespace engine
