// The layer raster: the engine's 300 x 360 working surface for one print
// layer (one cell per millimetre, row 0 at the bottom), its off-screen frame
// buffer, the sample grid, the traced path lines and the run state that the
// slicer and the G-code writer keep between frames.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/mesh.h"

namespace engine {

constexpr int RASTER_W = 300;
constexpr int RASTER_H = 360;
constexpr int RASTER_CELLS = RASTER_W * RASTER_H;

struct PathPoint {
    float x = 0;
    float y = 0;
    int32_t index = 0;
    uint8_t visited = 0;
    int32_t reserved = 0;
    float grid_x = 0;
    float grid_y = 0;
};

using Plane = uint8_t[RASTER_CELLS];

struct LayerRaster {
    LayerRaster();  // prints "TEX_W %d TEX_W4 %d\n"
    ~LayerRaster();
    LayerRaster(const LayerRaster&) = delete;
    LayerRaster& operator=(const LayerRaster&) = delete;

    uint8_t has_marks = 0;
    int32_t run_total = 0;
    uint32_t fbo = 0;
    uint32_t color_texture = 0;
    uint32_t depth_renderbuffer = 0;
    int32_t width = RASTER_W;
    int32_t height = RASTER_H;
    int32_t plane_size = RASTER_CELLS;
    std::vector<PathPoint> grid;
    int32_t grid_columns = 0;
    int32_t grid_rows = 0;
    int32_t line_cursor = 0;
    int32_t last_run_count = 0;
    uint8_t path_request = 0;
    uint8_t full_path_request = 0;
    uint8_t gcode_file_open = 0;
    FILE* gcode_file = nullptr;
    // Layers the current (or last) G-code job wrote; a job of none is not finished.
    int32_t layers_written = 0;
    float* img1 = nullptr;  // RASTER_W x RASTER_H depth values
    float* img2 = nullptr;
    float model_height = 0;
    uint8_t height_request = 0;
    float layer_distance = 0, e_base = 0, e_length = 0, e_segment = 0;
    Plane layer_plane = {};
    Plane layer_copy = {};
    std::vector<PathPoint> current_line;
    std::vector<std::vector<PathPoint>> lines;
    std::vector<PathPoint> cleaned_points;
    float grid_offset = 0;
    std::vector<float> interval_values;
    std::vector<CrossSegment> cross_mesh;
    uint8_t insole_mesh_model = 0;
    int32_t saved_point_space = 3;
    int32_t saved_interval_index = -1;
    int32_t layer = 0;
    int32_t cross_period = 0;
    uint8_t row_lines = 0;
    uint8_t from_low_end = 0;
    float step = 0;
    int32_t first_layer_column = 0, first_layer_row = 0;
    Plane pressure_plane = {};
    Plane contour_plane = {};
    // Turn of the next contour render is contour_sign x -75 degrees after the
    // sign is negated, so the first render turns by +75, the next by -75.
    int32_t contour_sign = 1;

    // Cell access that treats everything outside the raster as empty.
    uint8_t cell(const Plane& p, int col, int row) const {
        return (col < 0 || col >= RASTER_W || row < 0 || row >= RASTER_H) ? 0 : p[row * RASTER_W + col];
    }
};

// The raster's own operations. OpenGL ones need the caller's context current.

// Looks up the 14 frame-buffer entry points through platform::gl_proc_address,
// installs them as GLEW's, and creates the 300 x 360 colour texture, depth
// render buffer and frame buffer once. False (fbo stays 0, with the console
// line) when an entry point is missing or the current context offers no
// frame-buffer objects; a second call only reports whether the frame buffer
// exists.
bool init_framebuffer(LayerRaster& r);
// step: whole cells, at least 1 (smaller values are taken as 1).
void build_sample_grid(LayerRaster& r, int step);
// Degrees 0..<360 from +x; 0 for (0, 0).
float polar_angle_deg(float x, float y);
// Angle at p2, 0..180 degrees; 0 when p2 coincides with p1 or p3.
float vertex_angle_deg(const PathPoint& p1, const PathPoint& p2, const PathPoint& p3);
// slope_image / contour_image: 360 rows of 152 bytes, as the image view holds
// them (nullptr leaves the plane empty). image_texture: the image view's
// texture name; its filters must not need mipmaps. Bind the raster's frame
// buffer first.
// Reads w x h pixels from (0, 0) of the bound frame buffer as GL's luminance
// bytes (R + G + B, clamped), rows of w bytes, row 0 at the bottom.
void read_luminance(int w, int h, uint8_t* out);
void render_pressure_plane(LayerRaster& r, const uint8_t* slope_image, unsigned image_texture, const ModelBox& box);
void render_contour_plane(LayerRaster& r, const uint8_t* contour_image, unsigned image_texture, const ModelBox& box);
// test_pixels: the test view's 360 rows of 152 bytes, or nullptr.
void apply_slope_threshold(LayerRaster& r, float threshold, uint8_t* test_pixels);
// Reads the layer slider va_layer_index; clears only cells inside the raster.
void clear_disc(LayerRaster& r, int cx, int cy, int base_radius);

}  // namespace engine
