// Operations on the model mesh and the layer raster: lit mesh drawing, the
// model-height measurement, the cut of the mesh at one height and the drawing
// of the traced path lines into the image view.
#pragma once

#include <cstdint>

#include "engine/layer_raster.h"
#include "engine/mesh.h"

namespace engine {

// What the height measurement needs from the views: the 3-D view's placement
// matrices (16 floats each, column-major as glLoadMatrixf takes them; nullptr
// stands for the identity), the insole shape's base height, and the image
// view's batch flags (nullptr when there is no batch to hand on).
struct HeightContext {
    const float* model_matrix = nullptr;
    const float* centre_matrix = nullptr;
    float base_height = 2.0f;
    uint8_t* batch_load_pending = nullptr;
    uint8_t* batch_slice_pending = nullptr;
};

// The mesh as one GL_TRIANGLES batch in colour (r, g, b), each triangle with
// its normal (b - a) x (c - a).
void draw_mesh(const Mesh& model, float r, float g, float b);

// Renders the mesh twice into the bound frame buffer (whose viewport,
// projection and look-at the caller has set), reads both depth images into
// raster.img2 / img1, sets raster.model_height, the va_cut_plane and
// va_layer_index sliders and raster.path_request, and hands a pending batch
// load on to slicing.
void measure_model_height(const Mesh& model, LayerRaster& raster, const HeightContext& ctx);

// Height from two depth images already read back (plain arrays of
// RASTER_CELLS floats): |far - near| x (2 x plane_size + 1). The indices found
// are returned through index_far / index_near when given.
float model_height_from_depths(const float* img2, const float* img1, int cells, int plane_size,
                               int* index_far = nullptr, int* index_near = nullptr);

// Cuts the mesh at height z into raster.cross_mesh and orders the records so
// that each starts where the one before it ends. Always true.
bool slice_mesh_at_z(LayerRaster& raster, const Mesh& model, float z);

// Clears the visited mark of every grid point and empties raster.lines.
void clear_layer_paths(LayerRaster& raster);

// A traced path point turned back by the layer's angle into image-view
// pixels (view_w x view_h pixels over the 300 x 360 raster).
struct ViewPixel {
    int x, y;
};
ViewPixel layer_path_pixel(float x, float y, int current_angle, int layer, bool self_def_angle, int view_w,
                           int view_h);

// Draws raster.lines as magenta line strips into the current (image view)
// context; current_angle is the 3-D view's, view_w / view_h the image view's
// size in pixels. Reads va_layer_index and ck_self_def_angle.
void draw_layer_paths(const LayerRaster& raster, int current_angle, int view_w, int view_h);

}  // namespace engine
