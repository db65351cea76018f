// The layer slicing pipeline: one layer per call of slice_and_write_gcode,
// plus its plane passes, scans and point clean-ups as separate steps.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/layer_raster.h"
#include "engine/mesh.h"

namespace engine {

// A marked circle of the pressure image, in image pixels.
struct MarkedCircle {
    float x = 0, y = 0, r = 0;
};

// A marked bar: seven floats of which [0], [1] (one end), [3], [4] (the
// other end) and [6] (width) are used.
struct MarkedBar {
    float v[7] = {0, 0, 0, 0, 0, 0, 0};
};

// Where one call's time went, in milliseconds (filled only when asked for).
struct SliceTimings {
    double render_ms = 0;   // pressure planes, cross-section render and read-back
    double cleanup_ms = 0;  // pockets, substitutions, thin cells, holes, anchor and scans
    double trace_ms = 0;    // layer set-up, grid, path building, mesh cut
    double write_ms = 0;    // G-code layer and end of run
    double preview_ms = 0;  // preview points and mipmaps
};

// What the slicer reads from the shell's views, filled by the shell before
// each call. No toolkit types: plain values, pointers and callbacks.
struct SliceInputs {
    // ---- image view ----
    const uint8_t* slope_image = nullptr;    // 360 rows of 152 bytes
    const uint8_t* contour_image = nullptr;  // 360 rows of 152 bytes
    unsigned image_texture = 0;              // the image view's texture name
    float heel_point[2] = {0, 0};
    int32_t origin_point[2] = {0, 0};
    std::vector<MarkedCircle> circles;
    std::vector<MarkedBar> bars;
    float contour_first_row = 0;  // first set row of the contour image
    float contour_row_count = 0;  // its number of set rows
    float base_height = 2.0f;     // of the insole shape
    uint8_t* test_pixels = nullptr;  // the test view's 360 rows of 152 bytes (slope threshold)
    bool batch_job_running = false;
    uint8_t* batch_load_pending = nullptr;   // handed to the height measurement
    uint8_t* batch_slice_pending = nullptr;
    // ---- 3-D view ----
    ModelBox box;
    double model_matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    double centre_matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    int32_t current_angle = 0;
    uint8_t* layer_angle_on = nullptr;  // the view's flag; set when the next layer turns
    // ---- shell actions ----
    std::function<void()> fill_interval_choice;  // refills choice_interval and interval_values
    // Called at the end of a run while batch_job_running is set: the shell
    // clears it, then exits with status 0 when the job list is done or asks
    // for the next image.
    std::function<void()> batch_job_done;
    SliceTimings* timings = nullptr;  // benchmarks only
};

// ---- the whole layer (needs the 3-D view's GL context current) ----------------
int slice_and_write_gcode(LayerRaster& r, const Mesh& mesh, SliceInputs& in);
// Tunes the process's allocator so the renderer's per-frame buffers stay
// mapped; slice_and_write_gcode calls it on its first call.
void keep_render_buffers_mapped();

// ---- GL steps ----------------------------------------------------------------------
// Cut height of layer L; a loaded model is cut from its box's lowest point.
float layer_cut_z(const LayerRaster& r, float layer_index, const SliceInputs& in);
// Renders the cross-section at cut_z and reads it back into layer_plane;
// leaves the model-view pushed for draw_layer_preview.
void render_cross_section(LayerRaster& r, const Mesh& mesh, const SliceInputs& in, float cut_z);
void draw_layer_preview(LayerRaster& r);
// Reads the bound frame buffer's 300 x 360 cells as luminance (R + G + B, clamped).
void read_luminance_plane(Plane& out);
// True: the cross-section is drawn with draw_mesh triangle by triangle (the
// reference picture); false (default): the same picture from a vertex array.
extern bool g_cross_section_reference_draw;

// ---- plane passes (plain arrays, no GL) ---------------------------------------
// A marked-image point (150 x 360 pixels) moved into the raster.
void pressure_to_raster(float x, float y, float* rx, float* ry, float* angle = nullptr);
void clear_marked_pockets(LayerRaster& r, const SliceInputs& in);
void remove_thin_cells(LayerRaster& r);
void fill_holes(LayerRaster& r);
// Empties cleaned_points; on layer 0 finds the anchor and makes it the first point.
void find_outline_anchor(LayerRaster& r, float layer_index);
void scan_outline(LayerRaster& r, float layer_index, bool whole_insole);

// ---- layer set-up and paths ------------------------------------------------------
// Direction flags, cross period and grid offset of layer (int) L (step 10, 1-4).
void set_layer_flags(LayerRaster& r, float layer_index);
// Point spacing, interval entry and sample grid of the layer (step 10, 6).
void set_layer_grid(LayerRaster& r, const SliceInputs& in);
// Runs the builder that fits row_lines and drops short paths.
void build_layer_paths(LayerRaster& r);
// Islands (4-connected pieces of a layer's material) of fewer cells are
// specks, too small to print.
constexpr int MIN_ISLAND_CELLS = 10;
// Removes paths whose point count times point_space is below 100, unless
// they lie on an island that no longer path covers and that is no speck;
// such an island without any path gets one along its longest row.
// A layer that would keep nothing keeps its longest path.
void drop_short_paths(LayerRaster& r, double point_space);

// ---- point clean-ups used by the G-code writer ---------------------------------
// Longest stretch, in cells, of the straight line from a to b over cells
// without material, counting only stretches of which some point lies more
// than a cell from every material cell (0 for a line along a stepped edge).
float longest_gap_cells(const Plane& plane, const PathPoint& a, const PathPoint& b);
// A step with more than 2 cells of such a gap on its line gets a separator
// before it (the outline) or ends its path, the rest going on as a path of
// its own (the paths; a piece of one point is dropped).
void prepare_contour_points(LayerRaster& r);
void split_paths_at_gaps(LayerRaster& r);
void prune_collinear_paths(LayerRaster& r);
void remove_collinear_points(std::vector<PathPoint>& pts);

// ---- cell to millimetre ------------------------------------------------------------
struct CellTransform {
    int off_x = 0, off_y = 0;  // heel point minus origin point, truncated
    float turn_deg = 0;        // the view's angle, sign by layer when self-defined
};
CellTransform make_cell_transform(const SliceInputs& in, float layer_index);
void cell_to_mm(const CellTransform& t, float x, float y, float* mx, float* my);

}  // namespace engine
